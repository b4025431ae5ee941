// The output path holds what it held before the run or the whole new file,
// at every instant: runs killed at set points of their work, two runs on one
// output, outputs through links, and a console that goes away.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

using namespace test_support;

namespace {

const std::string kEarlier = "output of an earlier run";

// A 2 x 2 grid at (500000, 4500000) with 10 m cells, and n points over it,
// every other one inside the window 0..3 of its cell.
void writeSurvey(const TempDir &dir, GridForm form, int rows = 2, uint32_t n = 400)
{
    const TestGrid grid{.rows = rows,
                        .cols = 2,
                        .minx = 500000,
                        .miny = 4500000,
                        .cell = 10,
                        .south = std::vector<float>(static_cast<size_t>(rows) * 2, 1.0f)};
    grid.write(dir, form, "dem");
    LasSpec layout;
    layout.offset[0] = 500000;
    layout.offset[1] = 4500000;
    std::vector<Point> points;
    for (uint32_t i = 0; i < n; ++i)
        points.push_back(
            {static_cast<int32_t>(i * 37 % 2000), static_cast<int32_t>(i * 53 % 2000), i % 2 == 0 ? 200 : 900});
    writeFile(dir / "in.las", buildLas(layout, points));
}

// Temporary outputs anywhere below dir, as paths relative to it.
std::vector<std::string> temporaryFiles(const TempDir &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::recursive_directory_iterator(dir.path()))
        if (e.path().filename().string().find(".morvane-partial-") != std::string::npos)
            names.push_back(std::filesystem::relative(e.path(), dir.path()).string());
    return names;
}

// A run of Morvane to be killed. With a stalled console it writes to a pipe
// of one page that nobody reads, so that it stops at the first progress line
// that no longer fits, a point set by how much it has printed; otherwise its
// console goes to /dev/null and it runs freely.
class KillableRun {
public:
    enum Console { Stalled, Discarded };

    KillableRun(const std::vector<std::string> &args, const std::string &cwd, Console console = Stalled)
        : console_(pipeOfOnePage()), discard_(::open("/dev/null", O_WRONLY)),
          run_(MORVANE_EXE, args, optionsFor(cwd, console == Stalled ? console_.write : discard_))
    {
        ::close(console_.write);
    }
    ~KillableRun()
    {
        ::close(console_.read);
        ::close(discard_);
    }

    // Waits until the console pipe is full and the run blocked on it.
    bool waitUntilStalled()
    {
        for (int k = 0; k < 400; ++k) {
            int queued = 0;
            ::ioctl(console_.read, FIONREAD, &queued);
            if (queued >= 4096 - 100)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // Sends the signal; returns the signal that ended the run (-1: none).
    int kill(int signal)
    {
        run_.signal(signal);
        const int status = run_.finish().status;
        return status > 128 ? status - 128 : -1;
    }

private:
    struct Pipe {
        int read, write;
    };
    static Pipe pipeOfOnePage()
    {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
        return {fds[0], fds[1]};
    }
    static RunOptions optionsFor(const std::string &cwd, int console)
    {
        RunOptions options;
        options.cwd = cwd;
        options.consoleFd = console;
        return options;
    }

    Pipe console_;
    int discard_;
    ChildRun run_;
};

// Stalled before the output exists (reading a raster of many rows) or in
// the record loop (temporary file open), then killed: the earlier output is
// untouched, and only SIGKILL leaves the temporary file, never a file at the
// output path. Every signal that ends a process by default cleans up; the
// unfinished file is its owner's alone.
TEST(OutputGuarantee, KilledRunLeavesTheEarlierOutput)
{
    const struct {
        const char *when;
        GridForm form;
        int rows;
        bool outputStarted;
    } points[] = {{"reading the raster", GridForm::Ascii, 400, false},
                  {"in the record loop", GridForm::FloatClassic, 2, true}};
    // 199 points: a progress line for each, more than the pipe holds.
    for (const auto &at : points) {
        for (const int signal :
             {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU, SIGVTALRM, SIGPROF, SIGKILL}) {
            SCOPED_TRACE(std::string(at.when) + ", signal " + std::to_string(signal));
            TempDir dir;
            writeSurvey(dir, at.form, at.rows, 199);
            writeFile(dir / "out.las", kEarlier);
            KillableRun run({at.form == GridForm::Ascii ? "dem.asc" : "dem.flt", "in.las", "out.las", "0", "3"},
                            dir.path());
            ASSERT_TRUE(run.waitUntilStalled());
            const std::vector<std::string> started = temporaryFiles(dir);
            EXPECT_EQ(started.size(), at.outputStarted ? 1u : 0u);
            for (const std::string &name : started) {
                struct stat st {};
                ASSERT_EQ(::stat((dir / name).c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 07777, 0600u) << "the unfinished output is open to others";
            }
            EXPECT_EQ(run.kill(signal), signal);
            EXPECT_TRUE(readFile(dir / "out.las") == kEarlier);
            EXPECT_EQ(temporaryFiles(dir).size(), signal == SIGKILL && at.outputStarted ? 1u : 0u);
        }
    }
}

// SIGTERM or SIGKILL at moments spread over a whole run, from its start to
// past its end: whatever it was doing (raster, record loop, header refresh,
// rename), the output is the earlier file or the whole new one.
TEST(OutputGuarantee, KilledAtAnyMomentLeavesAWholeFile)
{
    TempDir dir;
    writeSurvey(dir, GridForm::FloatClassic, 2, 300000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(runMorvane({"dem.flt", "in.las", "alone.las", "0", "3"}, dir.path()).status, 0);
    const auto runTime = std::chrono::steady_clock::now() - start;
    const std::string result = readFile(dir / "alone.las");
    for (int k = 0; k <= 24; ++k) {
        const int signal = k % 2 == 0 ? SIGTERM : SIGKILL;
        SCOPED_TRACE("signal " + std::to_string(signal) + " after " + std::to_string(k) + "/20 of a run");
        writeFile(dir / "out.las", kEarlier);
        KillableRun run({"dem.flt", "in.las", "out.las", "0", "3"}, dir.path(), KillableRun::Discarded);
        std::this_thread::sleep_for(runTime * k / 20);
        run.kill(signal);
        const std::string out = readFile(dir / "out.las");
        EXPECT_TRUE(out == kEarlier || out == result) << "a partial output of " << out.size() << " bytes";
        const std::vector<std::string> left = temporaryFiles(dir);
        if (signal == SIGTERM) {
            EXPECT_TRUE(left.empty());
        }
        for (const std::string &name : left)
            std::filesystem::remove(dir / name);
    }
}

// Morvane run under strace, which injects faults into system calls as they
// are made: "rename,renameat2:error=EXDEV" (a refused rename), "pwrite64:signal=SIGTERM:when=2"
// (a signal at the second write of a copy). Without faults, Morvane alone.
const char *const kStrace = "/usr/bin/strace";

RunResult runWithFaults(const std::vector<std::string> &faults, const std::vector<std::string> &args,
                        const RunOptions &options)
{
    if (faults.empty())
        return runProgram(MORVANE_EXE, args, options);
    // LeakSanitizer cannot run under a tracer; the other sanitizers do.
    const char *asan = std::getenv("ASAN_OPTIONS");
    std::vector<std::string> all = {"-f", "-qq", "-o", "/dev/null", "-E",
                                    "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0"};
    std::string traced;
    for (const std::string &fault : faults) {
        if (!traced.empty())
            traced += ',';
        traced.append(fault, 0, fault.find(':'));
        all.insert(all.end(), {"-e", "inject=" + fault});
    }
    all.insert(all.end(), {"-e", "trace=" + traced, MORVANE_EXE});
    all.insert(all.end(), args.begin(), args.end());
    return runProgram(kStrace, all, options);
}

bool haveStrace()
{
    return ::access(kStrace, X_OK) == 0;
}

// Two runs with different windows on one output at once, through each way
// the output can be written: each ends whole, and the output is one of the
// two results, never a mix.
struct SharedOutput {
    const char *name;
    const char *output;
    std::vector<std::string> faults;  // injected into both runs
    void (*prepare)(const TempDir &);  // as root
    uid_t asUser;
};

void PrintTo(const SharedOutput &c, std::ostream *os)
{
    *os << c.name;
}

constexpr uid_t kNobody = 65534;

class ConcurrentRuns : public ::testing::TestWithParam<SharedOutput> {};

TEST_P(ConcurrentRuns, LeaveOneWholeResult)
{
    const SharedOutput &c = GetParam();
    if (!c.faults.empty() && !haveStrace())
        GTEST_SKIP() << "needs strace";
    if (c.prepare != nullptr && ::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    writeSurvey(dir, GridForm::FloatClassic, 2, 300000);
    const std::vector<std::string> windows[] = {{"0", "3"}, {"5", "9"}};
    std::string results[2];
    for (int k = 0; k < 2; ++k) {
        ASSERT_EQ(runMorvane({"dem.flt", "in.las", "alone.las", windows[k][0], windows[k][1]}, dir.path()).status, 0);
        results[k] = readFile(dir / "alone.las");
    }
    ASSERT_NE(results[0], results[1]);
    if (c.prepare != nullptr)
        c.prepare(dir);
    else
        writeFile(dir / c.output, kEarlier);
    RunOptions options;
    options.cwd = dir.path();
    options.asUser = c.asUser;
    for (int round = 0; round < 3; ++round) {
        RunResult r[2];
        std::thread other([&] { r[1] = runWithFaults(c.faults, {"dem.flt", "in.las", c.output, "5", "9"}, options); });
        r[0] = runWithFaults(c.faults, {"dem.flt", "in.las", c.output, "0", "3"}, options);
        other.join();
        EXPECT_EQ(r[0].status, 0) << r[0].out;
        EXPECT_EQ(r[1].status, 0) << r[1].out;
        const std::string out = readFile(dir / c.output);
        EXPECT_TRUE(out == results[0] || out == results[1]) << "a mixed output of " << out.size() << " bytes";
        EXPECT_TRUE(temporaryFiles(dir).empty());
        // No block reserved ahead of the writes is kept past the end.
        struct stat st {};
        ASSERT_EQ(::stat((dir / c.output).c_str(), &st), 0);
        EXPECT_LE(st.st_blocks * 512, st.st_size + (64 << 10));
    }
}

INSTANTIATE_TEST_SUITE_P(
    OutputGuarantee, ConcurrentRuns,
    ::testing::Values(SharedOutput{"Renamed", "out.las", {}, nullptr, 0},
                      SharedOutput{"CopiedOverARefusedRename", "out.las", {"rename,renameat2:error=EXDEV"}, nullptr, 0},
                      SharedOutput{"WrittenInAReadOnlyDirectory", "ro/out.las", {},
                                   [](const TempDir &d) {
                                       std::filesystem::create_directory(d / "ro");
                                       writeFile(d / "ro/out.las", kEarlier);
                                       ::chmod((d / "ro/out.las").c_str(), 0666);
                                       ::chmod((d / "ro").c_str(), 0555);
                                   },
                                   kNobody}),
    [](const auto &param) { return std::string(param.param.name); });

// Faults at the edges of putting the output in place, where the rename is
// refused and the file is copied over the target, or where the signal comes
// with the rename, or the file system is full. Each leaves the earlier
// output, the whole result, or (once the copy has begun) an empty file:
// never a file whose header claims records it does not hold. Rows with
// mounts run in a private mount namespace, as root.
struct PlacementFault {
    enum Left { Earlier, Result, Empty };
    const char *name;
    std::vector<std::string> faults;  // injected through strace
    const char *output;
    void (*mounts)(const TempDir &);  // in the run's own mount namespace
    int status;
    const char *message;  // on the console, or nullptr
    Left left;
};

void PrintTo(const PlacementFault &c, std::ostream *os)
{
    *os << c.name;
}

void mountOrSkip(const char *source, const std::string &target, const char *type, unsigned long flags,
                 const char *options)
{
    if (::mount(source, target.c_str(), type, flags, options) != 0)
        ::_exit(125);
}

// A tmpfs at full/ with two inodes: its root and the earlier output.
void fullInodeTable(const TempDir &d)
{
    std::filesystem::create_directory(d / "full");
    mountOrSkip("tmpfs", d / "full", "tmpfs", 0, "nr_inodes=2,size=16m");
    writeFile(d / "full/out.las", kEarlier);
}

// out.las is a bind mount of a file on a 1 MiB tmpfs: the rename is refused
// and the copy cannot fit.
void boundToSmallFileSystem(const TempDir &d)
{
    std::filesystem::create_directory(d / "small");
    mountOrSkip("tmpfs", d / "small", "tmpfs", 0, "size=1m");
    writeFile(d / "small/src.las", kEarlier);
    writeFile(d / "out.las", kEarlier);
    mountOrSkip((d / "small/src.las").c_str(), d / "out.las", nullptr, MS_BIND, nullptr);
}

// Runs in a child that first makes its own mounts; what the run left at the
// output is copied out to seen.las, beside the mounts, before they go.
RunResult runInOwnMounts(const TempDir &dir, void (*mounts)(const TempDir &), const std::vector<std::string> &args)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(125);
        mounts(dir);
        const RunResult r = runMorvane(args, dir.path());
        writeFile(dir / "run.out", r.out);
        writeFile(dir / "run.status", std::to_string(r.status));
        if (fileExists(dir / args[2]))
            writeFile(dir / "seen.las", readFile(dir / args[2]));
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult r;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        r.status = 125;
        return r;
    }
    r.out = readFile(dir / "run.out");
    r.status = std::stoi(readFile(dir / "run.status"));
    return r;
}

const std::vector<PlacementFault> &placementFaults()
{
    static const std::vector<PlacementFault> rows = {
        {"CopiedOverARefusedRename", {"rename,renameat2:error=EXDEV"}, "out.las", nullptr, 0, nullptr, PlacementFault::Result},
        {"CopyWithoutSpaceForIt",
         {"rename,renameat2:error=EXDEV", "fallocate:error=ENOSPC"},
         "out.las",
         nullptr,
         255,
         "\nFailed to put out.las in place: No space left on device\n",
         PlacementFault::Earlier},
        {"CopyBeyondTheQuota",
         {"rename,renameat2:error=EXDEV", "fallocate:error=EDQUOT"},
         "out.las",
         nullptr,
         255,
         "\nFailed to put out.las in place: Disk quota exceeded\n",
         PlacementFault::Earlier},
        {"CopyWhereNothingCanBeReserved",
         {"rename,renameat2:error=EXDEV", "fallocate:error=EOPNOTSUPP"},
         "out.las",
         nullptr,
         0,
         nullptr,
         PlacementFault::Result},
        {"CopyFailingPartway",
         {"rename,renameat2:error=EXDEV", "pwrite64:error=ENOSPC:when=2"},
         "out.las",
         nullptr,
         255,
         "\nFailed to put out.las in place: No space left on device\n",
         PlacementFault::Empty},
        {"SignalDuringTheCopy",
         {"rename,renameat2:error=EXDEV", "pwrite64:signal=SIGTERM:when=2"},
         "out.las",
         nullptr,
         128 + SIGTERM,
         nullptr,
         PlacementFault::Empty},
        {"SignalAtTheRename", {"rename,renameat2:signal=SIGTERM"}, "out.las", nullptr, 0, nullptr, PlacementFault::Result},
        {"RenameFailingOtherwise",
         {"rename,renameat2:error=EIO"},
         "out.las",
         nullptr,
         255,
         "\nFailed to put out.las in place: Input/output error\n",
         PlacementFault::Earlier},
        {"FileSystemOutOfInodes",
         {},
         "full/out.las",
         fullInodeTable,
         255,
         "\nFailed to open full/out.las for writing: No space left on device\n",
         PlacementFault::Earlier},
        {"BindMountedOnAFullFileSystem",
         {},
         "out.las",
         boundToSmallFileSystem,
         255,
         "\nFailed to put out.las in place: No space left on device\n",
         PlacementFault::Earlier},
    };
    return rows;
}

class PlacementFaults : public ::testing::TestWithParam<PlacementFault> {};

TEST_P(PlacementFaults, LeaveTheEarlierOutputTheResultOrNothing)
{
    const PlacementFault &c = GetParam();
    if (!c.faults.empty() && !haveStrace())
        GTEST_SKIP() << "needs strace";
    if (c.mounts != nullptr && ::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    TempDir dir;
    // 75,000 records kept: a copy of more than one block.
    writeSurvey(dir, GridForm::FloatClassic, 2, 150000);
    ASSERT_EQ(runMorvane({"dem.flt", "in.las", "alone.las", "0", "3"}, dir.path()).status, 0);
    const std::string result = readFile(dir / "alone.las");
    const std::vector<std::string> args = {"dem.flt", "in.las", c.output, "0", "3"};
    RunResult r;
    std::string left;
    if (c.mounts != nullptr) {
        r = runInOwnMounts(dir, c.mounts, args);
        if (r.status == 125)
            GTEST_SKIP() << "cannot mount here";
        left = readFile(dir / "seen.las");
    } else {
        writeFile(dir / c.output, kEarlier);
        RunOptions options;
        options.cwd = dir.path();
        options.timeLimit = std::chrono::seconds(20);
        r = runWithFaults(c.faults, args, options);
        left = readFile(dir / c.output);
    }
    EXPECT_EQ(r.status, c.status) << r.out;
    if (c.message != nullptr) {
        EXPECT_NE(r.out.find(c.message), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Completed"), std::string::npos) << r.out;
    }
    const std::string expected[] = {kEarlier, result, ""};
    EXPECT_TRUE(left == expected[c.left]) << "the output holds " << left.size() << " bytes";
    EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(OutputGuarantee, PlacementFaults, ::testing::ValuesIn(placementFaults()),
                         [](const auto &param) { return std::string(param.param.name); });

// Through a symbolic link the file it points to is replaced (keeping its
// permission bits) and the link stays; with no point kept the link goes and
// the file stays. A hard-linked output gets a new file: its other name
// keeps the earlier bytes.
TEST(OutputGuarantee, LinkedOutputs)
{
    TempDir dir;
    writeSurvey(dir, GridForm::Ascii);
    std::filesystem::create_directory(dir / "real");
    writeFile(dir / "real/target.las", kEarlier);
    ::chmod((dir / "real/target.las").c_str(), 0640);
    std::filesystem::create_symlink("real/target.las", dir / "link.las");

    ASSERT_EQ(runMorvane({"dem.asc", "in.las", "link.las", "0", "3"}, dir.path()).status, 0);
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.las"));
    const std::string result = readFile(dir / "real/target.las");
    EXPECT_EQ(getLE<uint32_t>(result, 107), 200u);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "real/target.las").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    ASSERT_EQ(runMorvane({"dem.asc", "in.las", "link.las", "50", "60"}, dir.path()).status, 1);
    EXPECT_FALSE(fileExists(dir / "link.las"));
    EXPECT_TRUE(readFile(dir / "real/target.las") == result);

    writeFile(dir / "out.las", kEarlier);
    std::filesystem::create_hard_link(dir / "out.las", dir / "other.las");
    ASSERT_EQ(runMorvane({"dem.asc", "in.las", "out.las", "0", "3"}, dir.path()).status, 0);
    EXPECT_TRUE(readFile(dir / "out.las") == result);
    EXPECT_TRUE(readFile(dir / "other.las") == kEarlier);
    EXPECT_TRUE(temporaryFiles(dir).empty());
}

// A console whose reader has gone (Morvane ... | head) costs nothing.
TEST(OutputGuarantee, ClosedConsoleDoesNotStopTheRun)
{
    TempDir dir;
    writeSurvey(dir, GridForm::Ascii);
    ASSERT_EQ(runMorvane({"dem.asc", "in.las", "alone.las", "0", "3"}, dir.path()).status, 0);
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    RunOptions options;
    options.cwd = dir.path();
    options.consoleFd = fds[1];
    options.beforeExec = [] { ::signal(SIGPIPE, SIG_DFL); };
    const RunResult r = runProgram(MORVANE_EXE, {"dem.asc", "in.las", "out.las", "0", "3"}, options);
    ::close(fds[1]);
    EXPECT_EQ(r.status, 0) << "ended by signal " << r.status - 128;
    EXPECT_TRUE(readFile(dir / "out.las") == readFile(dir / "alone.las"));
}

// Environments a batch system gives, in which the run must still put the
// whole result in place: closed standard descriptors, another owner, a
// umask of 0, directories where a rename cannot serve, a bind-mounted
// output, a long name. Rows that need root or a mount skip elsewhere.
struct Environment {
    const char *name;
    const char *output;                                           // as given on the command line
    void (*prepare)(const TempDir &, const std::string &output);  // as root, before the run
    void (*beforeExec)();                                         // in the child, after dropping to asUser
    uid_t asUser;                                                 // 0: as we are
    bool needsRoot;
    // Expected of the file finally written (-1: not checked).
    int mode;
    long owner, group;
    const char *writtenFile;  // where the result is read back (nullptr: the output)
    // Run with a window that keeps no point: the output erased, or emptied
    // where its path cannot be removed.
    bool nothingKept = false;
};

void PrintTo(const Environment &e, std::ostream *os)
{
    *os << e.name;
}

void existingOutput(const TempDir &d, const std::string &out, mode_t mode, uid_t owner, gid_t group)
{
    writeFile(d / out, kEarlier);
    if (::chown((d / out).c_str(), owner, group) != 0 || ::chmod((d / out).c_str(), mode) != 0)
        throw std::runtime_error("cannot set the output's owner");
}

void closeStdinAndStdout()
{
    ::close(0);
    ::close(1);
}

// A private mount namespace in which src.las is bind-mounted onto out.las;
// exit 125 where that cannot be done.
void bindMountOutput()
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("src.las", "out.las", nullptr, MS_BIND, nullptr) != 0)
        ::_exit(125);
}

const std::vector<Environment> &environments()
{
    static const std::vector<Environment> rows = {
        {"ClosedStdinAndStdout", "out.las", nullptr, closeStdinAndStdout, 0, false, -1, -1, -1, nullptr},
        {"UmaskZeroNewOutput", "out.las", nullptr, [] { ::umask(0); }, 0, false, 0666, -1, -1, nullptr},
        {"OwnerAndGroupKept", "out.las",
         [](const TempDir &d, const std::string &o) { existingOutput(d, o, 0640, kNobody, kNobody); }, nullptr, 0, true,
         0640, kNobody, kNobody, nullptr},
        {"SetuidKeptWithTheOwner", "out.las",
         [](const TempDir &d, const std::string &o) { existingOutput(d, o, 06755, kNobody, kNobody); }, nullptr, 0,
         true, 06755, kNobody, kNobody, nullptr},
        {"SetgidDroppedWhereTheGroupCannotBeKept", "out.las",
         [](const TempDir &d, const std::string &o) {
             ::chmod(d.path().c_str(), 0777);
             existingOutput(d, o, 02775, kNobody, 0);
         },
         nullptr, kNobody, true, 0775, kNobody, kNobody, nullptr},
        {"WritableOutputInReadOnlyDirectory", "ro/out.las",
         [](const TempDir &d, const std::string &o) {
             std::filesystem::create_directory(d / "ro");
             existingOutput(d, o, 0666, 0, 0);
             ::chmod((d / "ro").c_str(), 0555);
         },
         nullptr, kNobody, true, 0666, 0, 0, nullptr},
        {"OthersOutputInStickyDirectory", "sticky/out.las",
         [](const TempDir &d, const std::string &o) {
             std::filesystem::create_directory(d / "sticky");
             ::chmod((d / "sticky").c_str(), 01777);
             existingOutput(d, o, 0666, 0, 0);
         },
         nullptr, kNobody, true, 0666, 0, 0, nullptr},
        {"BindMountedOutput", "out.las",
         [](const TempDir &d, const std::string &o) {
             writeFile(d / "src.las", kEarlier);
             writeFile(d / o, kEarlier);
         },
         bindMountOutput, 0, true, -1, -1, -1, "src.las"},
        {"NothingKeptInABindMountedOutput", "out.las",
         [](const TempDir &d, const std::string &o) {
             writeFile(d / "src.las", kEarlier);
             writeFile(d / o, kEarlier);
         },
         bindMountOutput, 0, true, -1, -1, -1, "src.las", true},
        {"NothingKeptInOthersOutputInStickyDirectory", "sticky/out.las",
         [](const TempDir &d, const std::string &o) {
             std::filesystem::create_directory(d / "sticky");
             ::chmod((d / "sticky").c_str(), 01777);
             existingOutput(d, o, 0666, 0, 0);
         },
         nullptr, kNobody, true, -1, -1, -1, nullptr, true},
        {"NameOfNameMaxBytes", nullptr, nullptr, nullptr, 0, false, -1, -1, -1, nullptr},
    };
    return rows;
}

class HostileEnvironment : public ::testing::TestWithParam<Environment> {};

TEST_P(HostileEnvironment, TheWholeResultIsPutInPlace)
{
    const Environment &e = GetParam();
    if (e.needsRoot && ::geteuid() != 0)
        GTEST_SKIP() << "needs root";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);
    writeSurvey(dir, GridForm::FloatClassic);
    ASSERT_EQ(runMorvane({"dem.flt", "in.las", "alone.las", "0", "3"}, dir.path()).status, 0);
    const std::string expected = readFile(dir / "alone.las");
    const std::string output = e.output != nullptr ? e.output : std::string(251, 'o') + ".las";
    if (e.prepare != nullptr)
        e.prepare(dir, output);

    RunOptions options;
    options.cwd = dir.path();
    options.asUser = e.asUser;
    options.beforeExec = e.beforeExec;
    options.timeLimit = std::chrono::seconds(20);
    const RunResult r = runProgram(MORVANE_EXE, {"dem.flt", "in.las", output, e.nothingKept ? "50" : "0",
                                                 e.nothingKept ? "60" : "3"}, options);
    if (r.status == 125 || r.status == 126)
        GTEST_SKIP() << "cannot set up " << e.name << " here";

    const std::string written = dir / (e.writtenFile != nullptr ? e.writtenFile : output);
    if (e.nothingKept) {
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(!fileExists(written) || readFile(written).empty()) << "the earlier points are still there";
        EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{}) << "temporary files left behind";
        return;
    }
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(readFile(written) == expected) << "the output is not the whole result";
    struct stat st {};
    ASSERT_EQ(::stat(written.c_str(), &st), 0);
    if (e.mode >= 0) {
        EXPECT_EQ(st.st_mode & 07777, static_cast<mode_t>(e.mode));
    }
    if (e.owner >= 0) {
        EXPECT_EQ(st.st_uid, static_cast<uid_t>(e.owner));
        EXPECT_EQ(st.st_gid, static_cast<gid_t>(e.group));
    }
    EXPECT_EQ(temporaryFiles(dir), std::vector<std::string>{}) << "temporary files left behind";
}

INSTANTIATE_TEST_SUITE_P(OutputGuarantee, HostileEnvironment, ::testing::ValuesIn(environments()),
                         [](const auto &param) { return std::string(param.param.name); });

}  // namespace
