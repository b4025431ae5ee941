// The manual's batch lines, as written there, on tiles against one DEM: one
// inside it, one partly beyond its edge, one with no point in the window,
// two that share a name in different folders, and one whose upper-case name
// the tool refuses. Every tile must leave the output and console of the same
// tile run on its own, and a status saying how it ended. Then morvane-batch's
// lines: on one machine, as a Slurm array, and by GNU parallel over ssh.
#include "console_text.h"
#include "flat_survey.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace test_support;

namespace {

// The first line of the manual's source that holds `containing`, as written there.
std::string manualLine(const std::string &containing)
{
    std::istringstream manual(readFile(std::string(MORVANE_SOURCE_DIR) + "/man/Morvane.md"));
    for (std::string line; std::getline(manual, line);)
        if (line.find(containing) != std::string::npos)
            return line.substr(line.find_first_not_of(' '));
    return {};
}

struct Tile {
    std::string path;  // under tiles/
    std::vector<Point> points;
    int status;  // Morvane's, on its own
};

const std::vector<Tile> &tiles()
{
    static const std::vector<Tile> kTiles = {
        {"inside.las", flatSurveyTile(1000, 1000, 1500), 0},  // 15 m to 17 m: 5 to 7 m above
        {"beyond.las", flatSurveyTile(8000, 8000, 1500), 0},  // reaches 20 m past the north-east corner
        {"ground.las", flatSurveyTile(3000, 3000, 900), 1},   // 9 m to 11 m: none 2 to 30 m above
        {"a/t.las", flatSurveyTile(2000, 5000, 1500), 0},     // two tiles of one name
        {"b/t.las", flatSurveyTile(6000, 2000, 2500), 0},
        {"upper/T.LAS", flatSurveyTile(1000, 1000, 1500), 255},  // refused by name
    };
    return kTiles;
}

// The flat DEM and the tiles, in a fresh folder.
void writeSurvey(const TempDir &dir)
{
    writeFlatDem(dir);
    for (const Tile &t : tiles()) {
        std::filesystem::create_directories(std::filesystem::path(dir / "tiles/" + t.path).parent_path());
        writeFile(dir / "tiles/" + t.path, buildLas(flatSurveyLayout(), t.points));
    }
}

// A command line run by sh in dir, with the built Morvane on its PATH.
RunResult runLine(const TempDir &dir, const std::string &line)
{
    const std::string morvaneDir = std::filesystem::path(MORVANE_EXE).parent_path().string();
    return runProgram("/bin/sh", {"-c", "PATH='" + morvaneDir + "':\"$PATH\"; " + line}, {dir.path()});
}

std::string replaceAll(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

// out/<path> and out/<path>.log are what the tile run on its own leaves.
void expectTileAsAlone(const TempDir &dir, const Tile &t)
{
    SCOPED_TRACE(t.path);
    const std::string alone = "alone/" + t.path, out = dir / ("out/" + t.path);
    std::filesystem::create_directories(std::filesystem::path(dir / alone).parent_path());
    const RunResult r = runMorvane({"dem.flt", "tiles/" + t.path, alone, "2", "30"}, dir.path());
    ASSERT_EQ(r.status, t.status) << r.out;
    ASSERT_TRUE(fileExists(out + ".log"));
    EXPECT_EQ(maskTiming(readFile(out + ".log")), maskTiming(replaceAll(r.out, alone, "out/" + t.path)));
    ASSERT_EQ(fileExists(out), t.status == 0);
    if (t.status == 0) {
        EXPECT_TRUE(readFile(out) == readFile(dir / alone)) << "output differs";
    }
}

std::vector<std::string> sortedLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string s; std::getline(in, s);)
        lines.push_back(s);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(BatchRecipe, ManualXargsLineCutsEveryTileOnceEachRun)
{
    const std::string line = manualLine("xargs -0 -P");
    ASSERT_NE(line, "") << "man/Morvane.md has no xargs line";
    TempDir dir;
    writeSurvey(dir);
    std::vector<std::string> expected;
    for (const Tile &t : tiles())
        expected.push_back(std::to_string(t.status) + " tiles/" + t.path);
    std::sort(expected.begin(), expected.end());

    for (const char *run : {"first run", "rerun"}) {
        SCOPED_TRACE(run);
        const RunResult r = runLine(dir, line);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(sortedLines(readFile(dir / "out/status.txt")), expected);
        for (const Tile &t : tiles())
            expectTileAsAlone(dir, t);
    }
    PrintedTally beyond;
    readTally(readFile(dir / "out/beyond.las.log"), beyond);
    EXPECT_GT(beyond.outside, 0u);
    EXPECT_GT(beyond.meet, 0u);
}

// The joblog's Exitval of every tile, by tile path.
std::vector<std::string> joblogStatuses(const std::string &joblog)
{
    std::vector<std::string> statuses;
    std::istringstream in(joblog);
    std::string line;
    std::getline(in, line);  // the column names
    while (std::getline(in, line)) {
        std::vector<std::string> column;
        std::istringstream fields(line);
        for (std::string f; std::getline(fields, f, '\t');)
            column.push_back(f);
        if (column.size() < 9)
            return {"short joblog line: " + line};
        const size_t at = column[8].find("tiles/");
        if (at == std::string::npos)
            return {"no tile in joblog line: " + line};
        const std::string path = column[8].substr(at, column[8].find_first_of(" '", at) - at);
        statuses.push_back(column[6] + " " + path);
    }
    std::sort(statuses.begin(), statuses.end());
    return statuses;
}

// The tiles' logs under out/, by path.
std::set<std::string> tileLogs(const TempDir &dir)
{
    std::set<std::string> logs;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(dir / "out"))
        if (entry.path().extension() == ".log" && entry.path().filename() != "jobs.log")
            logs.insert(std::filesystem::relative(entry.path(), dir / "out").string());
    return logs;
}

// A tile that fails once (not a LAS file) and is then mended: the rerun that
// the manual gives takes it and the refused tile again, and nothing else.
TEST(BatchRecipe, ManualParallelLineCutsEveryTileAndRerunsOnlyFailures)
{
    if (runProgram("/bin/sh", {"-c", "command -v parallel"}, {}).status != 0)
        GTEST_SKIP() << "GNU parallel is not installed (Debian: parallel)";
    const std::string line = manualLine("| parallel ");
    ASSERT_NE(line, "") << "man/Morvane.md has no GNU parallel line";
    ASSERT_NE(manualLine("--resume-failed"), "") << "man/Morvane.md does not say how to rerun the failures";
    TempDir dir;
    writeSurvey(dir);
    const std::string late = dir / "tiles/late.las";
    writeFile(late, "not a LAS file");

    const RunResult first = runLine(dir, line);
    EXPECT_EQ(first.status, 2) << "parallel counts the failed tiles\n" << first.out << first.err;
    std::vector<std::string> expected;
    for (const Tile &t : tiles())
        expected.push_back(std::to_string(t.status == 1 ? 0 : t.status) + " tiles/" + t.path);
    expected.push_back("255 tiles/late.las");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(joblogStatuses(readFile(dir / "out/jobs.log")), expected);
    for (const Tile &t : tiles())
        expectTileAsAlone(dir, t);

    writeFile(late, buildLas(flatSurveyLayout(), flatSurveyTile(4000, 4000, 1800)));
    for (const std::string &log : tileLogs(dir))
        std::filesystem::remove(dir / ("out/" + log));
    const RunResult rerun = runLine(dir, replaceAll(line, "| parallel ", "| parallel --resume-failed "));
    EXPECT_EQ(rerun.status, 1) << rerun.out << rerun.err;
    EXPECT_EQ(tileLogs(dir), (std::set<std::string>{"late.las.log", "upper/T.LAS.log"})) << "tiles run again";
    expectTileAsAlone(dir, {"late.las", {}, 0});
    expectTileAsAlone(dir, tiles().back());
}

}  // namespace

namespace {

// The manual's morvane-batch line, then its Slurm line as a three-task array into
// a fresh folder and the summary after it: every tile, the upper-case one
// included, ends as on its own (that one as its lower-case twin would).
TEST(BatchRecipe, ManualMorvaneBatchLinesCutEveryTile)
{
    const std::string line = manualLine("morvane-batch dem.flt tiles out 2 30");
    const std::string slurm = manualLine("SLURM_ARRAY_TASK_ID + 1");
    ASSERT_NE(line, "") << "man/Morvane.md has no morvane-batch line";
    ASSERT_NE(slurm, "") << "man/Morvane.md has no Slurm line";
    TempDir dir;
    writeSurvey(dir);
    std::set<std::string> expected;
    for (const Tile &t : tiles())
        expected.insert(t.path + "," + (t.status == 1 ? "none" : "kept"));

    const std::vector<std::string> runs = {
        line, "for task in 0 1 2; do export SLURM_ARRAY_TASK_ID=$task SLURM_ARRAY_TASK_COUNT=3; " + slurm +
                  " || exit; done; morvane-batch --summary out"};
    for (const std::string &run : runs) {
        SCOPED_TRACE(run);
        std::filesystem::remove_all(dir / "out");
        const RunResult r = runLine(dir, run);
        ASSERT_EQ(r.status, 0) << r.out << r.err;
        std::set<std::string> rows;
        for (const std::string &row : sortedLines(readFile(dir / "out/summary.csv")))
            if (!row.starts_with("tile,"))
                rows.insert(row.substr(0, row.find(',', row.find(',') + 1)));
        EXPECT_EQ(rows, expected);
        for (const Tile &t : tiles()) {
            if (t.status != 0)
                continue;
            const std::string alone = "alone/" + t.path;
            std::filesystem::create_directories(std::filesystem::path(dir / alone).parent_path());
            ASSERT_EQ(runMorvane({"dem.flt", "tiles/" + t.path, alone, "2", "30"}, dir.path()).status, 0);
            EXPECT_TRUE(readFile(dir / ("out/" + t.path)) == readFile(dir / alone)) << t.path;
        }
    }
}

}  // namespace

namespace {

// An sshd of the test's own on the loopback address (its host key, its
// configuration, the test's key the only one let in), as two machines of
// nodes.txt; killed with the test.
class LoopbackSshd {
public:
    explicit LoopbackSshd(const TempDir &dir) : dir_(dir)
    {
        const int port = freePort();
        const passwd *user = ::getpwuid(::geteuid());
        const std::string morvaneDir = std::filesystem::path(MORVANE_EXE).parent_path().string();
        writeFile(dir / "sshd_config", "Port " + std::to_string(port) + "\nListenAddress 127.0.0.1\nHostKey " +
                                           dir / "hostkey" + "\nAuthorizedKeysFile " + dir / "authorized_keys" +
                                           "\nPidFile " + dir / "sshd.pid" +
                                           "\nStrictModes no\nUsePAM no\nPasswordAuthentication no\n"
                                           "KbdInteractiveAuthentication no\nPermitRootLogin prohibit-password\n"
                                           "SetEnv PATH=" +
                                           morvaneDir + ":/usr/local/bin:/usr/bin:/bin\n");
        writeFile(dir / "ssh_config", "Host machine1 machine2\n  HostName 127.0.0.1\n  Port " + std::to_string(port) +
                                          "\n  User " + (user != nullptr ? user->pw_name : "root") +
                                          "\n  IdentityFile " + dir / "userkey" +
                                          "\n  UserKnownHostsFile /dev/null\n  StrictHostKeyChecking no\n"
                                          "  BatchMode yes\n  LogLevel ERROR\n");
        writeFile(dir / "nodes.txt", "machine1\nmachine2\n");
        if (runLine(dir, "ssh-keygen -q -t ed25519 -N '' -f hostkey && ssh-keygen -q -t ed25519 -N '' -f userkey && "
                         "cp userkey.pub authorized_keys")
                .status != 0)
            return;
        RunOptions options;
        options.cwd = dir.path();
        sshd_ = std::make_unique<ChildRun>(
            sshd(), std::vector<std::string>{"-D", "-E", dir / "sshd.log", "-f", dir / "sshd_config"}, options);
        for (int tries = 0; tries < 100 && !up_; ++tries) {
            up_ = runLine(dir, "ssh -F ssh_config machine1 true").status == 0;
            if (!up_)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    LoopbackSshd(const LoopbackSshd &) = delete;
    LoopbackSshd &operator=(const LoopbackSshd &) = delete;

    bool up() const { return up_; }
    std::string log() const { return fileExists(dir_ / "sshd.log") ? readFile(dir_ / "sshd.log") : ""; }

    static std::string sshd()
    {
        for (const char *path : {"/usr/sbin/sshd", "/usr/local/sbin/sshd"})
            if (::access(path, X_OK) == 0)
                return path;
        return {};
    }

private:
    static int freePort()
    {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
        ::close(s);
        return ntohs(address.sin_port);
    }

    const TempDir &dir_;
    std::unique_ptr<ChildRun> sshd_;  // killed with the test
    bool up_ = false;
};

// The manual's GNU parallel line over ssh: four shares on two machines into one
// folder, then the summary, as on a cluster sharing its files.
TEST(BatchRecipe, ManualParallelSshLineSharesTheTilesAmongMachines)
{
    if (LoopbackSshd::sshd().empty())
        GTEST_SKIP() << "sshd is not installed (Debian: openssh-server)";
    if (runProgram("/bin/sh", {"-c", "command -v parallel && command -v ssh && command -v ssh-keygen"}, {}).status != 0)
        GTEST_SKIP() << "GNU parallel or the ssh client is not installed (Debian: parallel, openssh-client)";
    if (::geteuid() == 0 && !fileExists("/run/sshd"))
        GTEST_SKIP() << "sshd run as root needs its privilege separation folder /run/sshd";
    const std::string line = manualLine("--sshloginfile nodes.txt");
    ASSERT_NE(line, "") << "man/Morvane.md has no GNU parallel line over ssh";
    TempDir dir;
    writeSurvey(dir);
    const LoopbackSshd sshd(dir);
    ASSERT_TRUE(sshd.up()) << sshd.log();

    const RunResult r = runLine(dir, "export PARALLEL_SSH='ssh -F " + dir / "ssh_config" + "'; " + line);
    ASSERT_EQ(r.status, 0) << r.out << r.err << sshd.log();
    EXPECT_NE(r.out.find("6 tiles: 5 kept, 1 none, 0 failed, 0 killed; "), std::string::npos) << r.out;
    std::set<std::string> rows;
    for (const std::string &row : sortedLines(readFile(dir / "out/summary.csv")))
        rows.insert(row.substr(0, row.find(',')));
    EXPECT_EQ(rows.size(), tiles().size() + 1);
    const std::string log = sshd.log();
    EXPECT_GE(std::count(log.begin(), log.end(), '\n'), 4) << "the shares ran over ssh\n" << log;
}

}  // namespace
