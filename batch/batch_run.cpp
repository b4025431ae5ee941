#include "batch_run.h"

#include "dem_preparation.h"
#include "file_system.h"
#include "lidar/internal/name_form.h"
#include "prepared_grid.h"
#include "process_runner.h"
#include "record.h"
#include "summary.h"
#include "tile_console.h"
#include "tile_list.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace batch {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A name as the console shows it: control characters (a newline in a tile's
// name) as '?', so that every console line stays one line. Logs, records and
// summary.csv keep names exactly.
std::string shown(std::string_view name)
{
    std::string out(name);
    for (char &c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            c = '?';
    return out;
}

int refuse(const std::string &message)
{
    std::fprintf(stderr, "morvane-batch: %s\n", shown(message).c_str());
    return kUsageError;
}

// The raster, checked as Morvane will take it: it (with a .flt's .hdr)
// readable as a regular file; or one to prepare, as GDAL judges it.
std::string rasterError(const std::string &raster)
{
    if (!readByMorvane(raster))
        return demRefusal(raster);
    std::vector<std::string> files = {raster};
    if (lidar::has_extension(raster, "flt"))
        files.push_back(lidar::companion_header_name(raster));
    for (const std::string &file : files) {
        const UniqueFd fd(openRetry(file.c_str(), O_RDONLY | O_NONBLOCK));
        struct stat st {};
        if (!fd || ::fstat(fd.get(), &st) != 0)
            return "cannot read raster " + file + ": " + errorText(errno);
        if (!S_ISREG(st.st_mode))
            return "raster " + file + " is not a regular file";
    }
    return {};
}

// Morvane beside this program, unless the command line names another.
std::string morvanePath(const Options &o)
{
    if (!o.morvane.empty())
        return o.morvane;
    std::string self(4096, '\0');
    const ssize_t got = ::readlink("/proc/self/exe", self.data(), self.size());
    if (got <= 0 || static_cast<size_t>(got) >= self.size())
        return "Morvane";
    self.resize(static_cast<size_t>(got));
    return joinPath(parentOf(self), "Morvane");
}

unsigned defaultJobs()
{
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (::sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) > 0)
        return static_cast<unsigned>(CPU_COUNT(&cpus));
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 ? static_cast<unsigned>(online) : 1;
}

std::string absolutePath(const std::string &path)
{
    if (path.starts_with('/'))
        return path;
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr && errno == ERANGE)
        cwd.resize(cwd.size() * 2);
    cwd.resize(std::strlen(cwd.c_str()));
    return joinPath(cwd, path);
}

std::string clockText(double seconds)
{
    const auto s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// A folder for this run's temporary files (logs being written, records
// before their rename, links for tiles named .LAS), inside OUTDIR so that
// every rename stays on one file system; removed at the end.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const std::string &outdir)
    {
        std::string pattern = joinPath(outdir, std::string(kTemporaryPrefix) + "XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
        else
            error_ = errno;
    }
    ~TemporaryFolder()
    {
        if (!path_.empty())
            ::rmdir(path_.c_str());
    }
    TemporaryFolder(const TemporaryFolder &) = delete;
    TemporaryFolder &operator=(const TemporaryFolder &) = delete;

    int error() const { return error_; }
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return joinPath(path_, name); }

private:
    std::string path_;
    int error_ = 0;
};

// What each tile of the share comes to before anything runs.
struct PlannedTile {
    const Tile *tile;
    RunInputs inputs;
    bool done;  // its record says it finished from these inputs
};

// A tile whose process runs.
struct RunningTile {
    const PlannedTile *plan;
    TileConsole console;
    UniqueFd log;
    int logError = 0;
    std::string link;  // the lower-case name a .LAS tile is given, if any
    Clock::time_point started;
};

class Batch {
public:
    Batch(const Options &o, std::string raster, const std::vector<PlannedTile> &plan,
          const TemporaryFolder &temporary)
        : options_(o), raster_(std::move(raster)), plan_(plan), temporary_(temporary), morvane_(morvanePath(o)),
          progress_(!o.quiet && ::isatty(STDERR_FILENO) == 1)
    {
        for (const PlannedTile &p : plan)
            if (!p.done)
                bytesLeft_ += p.inputs.tileStamp.size > 0 ? static_cast<uint64_t>(p.inputs.tileStamp.size) : 0;
    }

    int run();

private:
    void startTile(size_t index);
    void finishTile(size_t index, int exitStatus, bool bySignal);
    void flushLog(RunningTile &t);
    void drawProgress(bool force);
    void report(const std::string &message);

    const Options &options_;
    const std::string raster_;  // as Morvane is given it: RASTER, or its prepared grid
    const std::vector<PlannedTile> &plan_;
    const TemporaryFolder &temporary_;
    const std::string morvane_;
    const bool progress_;
    ProcessRunner runner_;
    std::map<size_t, RunningTile> running_;
    Clock::time_point start_ = Clock::now(), lastDrawn_{};
    size_t kept_ = 0, none_ = 0, failed_ = 0, killed_ = 0, skipped_ = 0, notStarted_ = 0;
    uint64_t points_ = 0, bytesDone_ = 0, bytesLeft_ = 0;
    size_t progressWidth_ = 0;
};

void Batch::report(const std::string &message)
{
    if (progressWidth_ != 0)
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(progressWidth_), "");
    progressWidth_ = 0;
    std::fprintf(stderr, "morvane-batch: %s\n", shown(message).c_str());
}

void Batch::drawProgress(bool force)
{
    if (!progress_ || (!force && Clock::now() - lastDrawn_ < std::chrono::milliseconds(250)))
        return;
    lastDrawn_ = Clock::now();
    const double elapsed = secondsSince(start_);
    const size_t done = kept_ + none_ + failed_ + killed_ + skipped_;
    std::string line = std::to_string(done) + "/" + std::to_string(plan_.size()) + " tiles, " +
                       std::to_string(failed_ + killed_) + " failed";
    char rate[64];
    std::snprintf(rate, sizeof rate, ", %.2f Mpoints/s",
                  elapsed > 0 ? static_cast<double>(points_) / elapsed / 1e6 : 0.0);
    line += rate;
    if (bytesDone_ > 0)
        line += ", " + clockText(elapsed * static_cast<double>(bytesLeft_) / static_cast<double>(bytesDone_)) + " left";
    const size_t width = line.size();
    if (width < progressWidth_)
        line.append(progressWidth_ - width, ' ');
    std::fprintf(stderr, "\r%s", line.c_str());
    std::fflush(stderr);
    progressWidth_ = line.size();
}

void Batch::startTile(size_t index)
{
    const PlannedTile &p = plan_[index];
    RunningTile t{&p, {}, {}, 0, {}, Clock::now()};
    const std::string output = joinPath(options_.outdir, p.tile->output);
    std::string input = p.tile->path, failure;
    // Morvane takes only names ending in .las as written: a tile named .LAS
    // (or .Las) is handed over through a link of the lower-case name.
    if (!baseNameOf(input).ends_with(".las")) {
        const std::string folder = temporary_ / std::to_string(index);
        t.link = joinPath(folder, lasOutputName(baseNameOf(input)));
        if (::mkdir(folder.c_str(), 0700) != 0 || ::symlink(absolutePath(input).c_str(), t.link.c_str()) != 0)
            failure = "cannot link " + t.link + " to the tile: " + errorText(errno);
        input = t.link;
    }
    if (const int error = makeFolders(std::string(parentOf(output))); error != 0 && failure.empty())
        failure = "cannot make the folder of " + output + ": " + errorText(error);
    t.log.reset(openRetry((temporary_ / (std::to_string(index) + ".log")).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
    if (!t.log)
        t.logError = errno;
    const auto [at, added] = running_.emplace(index, std::move(t));
    if (failure.empty())
        if (const int error = runner_.start(index,
                                            {morvane_, raster_, input, output, options_.low, options_.high});
            error != 0)
            failure = "cannot run " + morvane_ + ": " + errorText(error);
    if (!failure.empty()) {
        at->second.console.feed("morvane-batch: " + failure + "\n");
        finishTile(index, 255, false);
    }
}

void Batch::flushLog(RunningTile &t)
{
    std::string &pending = t.console.pendingLog();
    if (t.log && t.logError == 0)
        t.logError = writeAll(t.log.get(), pending);
    pending.clear();
}

void Batch::finishTile(size_t index, int exitStatus, bool bySignal)
{
    RunningTile &t = running_.at(index);
    const PlannedTile &p = *t.plan;
    t.console.finish();
    flushLog(t);
    if (t.log && ::close(t.log.release()) != 0 && t.logError == 0)
        t.logError = errno;

    Record record;
    record.tile = p.tile->rel;
    record.inputs = p.inputs;
    record.exitStatus = exitStatus;
    record.status = statusOf(exitStatus, bySignal);
    record.tally = t.console.tally();
    record.seconds = secondsSince(t.started);

    const std::string output = joinPath(options_.outdir, p.tile->output);
    const std::string logTemporary = temporary_ / (std::to_string(index) + ".log");
    int error = t.logError;
    if (error == 0 && ::rename(logTemporary.c_str(), (output + ".log").c_str()) != 0)
        error = errno;
    if (error == 0)
        error = replaceFile(output + std::string(kRecordSuffix), formatRecord(record),
                            temporary_ / (std::to_string(index) + ".record"));
    ::unlink(logTemporary.c_str());
    if (!t.link.empty()) {
        ::unlink(t.link.c_str());
        ::rmdir(std::string(parentOf(t.link)).c_str());
    }

    if (record.tally)
        points_ += record.tally->kept + record.tally->notKept + record.tally->nodata + record.tally->outside;
    const auto bytes = static_cast<uint64_t>(std::max<int64_t>(p.inputs.tileStamp.size, 0));
    bytesDone_ += bytes;
    bytesLeft_ -= std::min(bytesLeft_, bytes);
    if (error != 0) {
        ++failed_;
        report(p.tile->rel + ": cannot write its log and record in " + options_.outdir + ": " + errorText(error));
    } else if (record.status == TileStatus::Failed || record.status == TileStatus::Killed) {
        ++(record.status == TileStatus::Failed ? failed_ : killed_);
        const std::string how = record.status == TileStatus::Failed
                                    ? "failed (exit " + std::to_string(exitStatus) + ")"
                                    : "killed by signal " + std::to_string(exitStatus - 128);
        report(p.tile->rel + ": " + how + ": " + t.console.lastLine());
    } else {
        ++(record.status == TileStatus::Kept ? kept_ : none_);
    }
    running_.erase(index);
    drawProgress(true);
}

int Batch::run()
{
    const unsigned jobs = options_.jobs != 0 ? options_.jobs : defaultJobs();
    int interrupted = 0;
    size_t next = 0;
    drawProgress(true);
    for (;;) {
        while (interrupted == 0 && next < plan_.size() && running_.size() < jobs) {
            if (plan_[next].done)
                ++skipped_;
            else
                startTile(next);
            ++next;
        }
        if (running_.empty())
            break;
        const int caught = runner_.wait(
            progress_ ? 250 : -1,
            [this](size_t id, std::string_view bytes) {
                RunningTile &t = running_.at(id);
                t.console.feed(bytes);
                if (t.console.pendingLog().size() >= 65536)
                    flushLog(t);
            },
            [this](const ChildEnd &end) { finishTile(end.id, end.exitStatus, end.bySignal); });
        if (caught != 0) {
            // No new tile; the running ones get the signal and are waited
            // for, each leaving its old output or none, and its record.
            interrupted = caught;
            runner_.signalAll(caught);
        }
        drawProgress(false);
    }
    notStarted_ = plan_.size() - next;
    if (progressWidth_ != 0)
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(progressWidth_), "");

    const std::string summary = joinPath(options_.outdir, kSummaryName);
    if (const int error = replaceFile(summary, summaryCsv(collectRecords(options_.outdir)), temporary_ / "summary.csv");
        error != 0)
        std::fprintf(stderr, "morvane-batch: cannot write %s: %s\n", shown(summary).c_str(), errorText(error).c_str());
    if (!options_.quiet) {
        std::printf("%zu tiles: %zu kept, %zu none, %zu failed, %zu killed, %zu skipped as already done", plan_.size(),
                    kept_, none_, failed_, killed_, skipped_);
        if (interrupted != 0)
            std::printf(", %zu not started", notStarted_);
        std::printf("; %.1f s\n", secondsSince(start_));
        std::fflush(stdout);
    }
    if (interrupted != 0) {
        std::fprintf(stderr, "morvane-batch: interrupted by SIG%s; the same command resumes the batch\n",
                     sigabbrev_np(interrupted));
        return 128 + interrupted;
    }
    return failed_ + killed_ != 0 ? kSomeFailed : kAllDone;
}

}  // namespace

int refuseUsage(const std::string &message)
{
    refuse(message);
    std::fputs(usageLine().data(), stderr);
    return kUsageError;
}

int runBatch(const Options &o)
{
    if (const std::string error = rasterError(o.raster); !error.empty())
        return refuseUsage(error);
    const std::string morvane = morvanePath(o);
    if (::access(morvane.c_str(), X_OK) != 0)
        return refuseUsage("cannot run Morvane at " + morvane + ": " + errorText(errno));

    std::optional<FolderId> outdirId;
    if (struct stat st{}; ::stat(o.outdir.c_str(), &st) == 0)
        outdirId = FolderId{st.st_dev, st.st_ino};
    const TileList list = findTiles(o.tiles, outdirId);
    if (!list.error.empty())
        return refuseUsage(list.error);
    if (list.tiles.empty())
        return refuseUsage("no tile (a name ending in .las) in " + o.tiles);

    if (const int error = makeFolders(o.outdir); error != 0)
        return refuseUsage("cannot make OUTDIR " + o.outdir + ": " + errorText(error));
    const TemporaryFolder temporary(o.outdir);
    if (temporary.error() != 0)
        return refuseUsage("cannot write in OUTDIR " + o.outdir + ": " + errorText(temporary.error()));

    RunInputs common;
    common.morvaneVersion = MORVANE_VERSION_TEXT;
    common.raster = o.raster;
    common.rasterStamp = stampOf(o.raster);
    std::string raster = o.raster;
    if (lidar::has_extension(o.raster, "flt"))
        common.rasterHeaderStamp = stampOf(lidar::companion_header_name(o.raster));
    if (!readByMorvane(o.raster)) {
        const PreparedDem dem = prepareDem(o.raster, o.outdir, temporary.path());
        if (!dem.error.empty())
            return refuseUsage(dem.error);
        if (!o.quiet) {
            std::printf(dem.reused ? "morvane-batch: using %s, prepared earlier from %s\n"
                                   : "morvane-batch: prepared %s from %s\n",
                        shown(dem.grid).c_str(), shown(o.raster).c_str());
            std::fflush(stdout);
        }
        // The grid's stamp stands for every file of the raster (a VRT's
        // sources too): a tile runs again when the grid is made from changed files.
        common.rasterHeaderStamp = dem.gridStamp;
        raster = dem.grid;
    }
    common.low = limitValue(o.low);
    common.high = limitValue(o.high);

    std::vector<PlannedTile> plan;
    for (const Tile &tile : list.tiles) {
        if (!inShare(tile.rel, o.shareIndex, o.shareCount))
            continue;
        RunInputs inputs = common;
        inputs.tileStamp = stampOf(tile.path);
        bool done = false;
        const std::string output = joinPath(o.outdir, tile.output);
        if (!o.force)
            if (const auto text = readWholeFile(output + std::string(kRecordSuffix)))
                if (const auto record = parseRecord(*text))
                    done = record->tile == tile.rel && finishedFrom(*record, inputs) &&
                           (record->status == TileStatus::None || stampOf(output).size >= 0);
        plan.push_back({&tile, std::move(inputs), done});
    }
    Batch batch(o, raster, plan, temporary);
    return batch.run();
}

int writeSummary(const Options &o)
{
    struct stat st {};
    if (::stat(o.outdir.c_str(), &st) != 0)
        return refuseUsage("cannot read OUTDIR " + o.outdir + ": " + errorText(errno));
    if (!S_ISDIR(st.st_mode))
        return refuseUsage("OUTDIR " + o.outdir + " is not a folder");
    const std::vector<Record> records = collectRecords(o.outdir);
    const TemporaryFolder temporary(o.outdir);
    const std::string summary = joinPath(o.outdir, kSummaryName);
    const int error = temporary.error() != 0 ? temporary.error()
                                             : replaceFile(summary, summaryCsv(records), temporary / "summary.csv");
    if (error != 0) {
        refuse("cannot write " + summary + ": " + errorText(error));
        return kUsageError;
    }
    const Totals t = totalsOf(records);
    if (!o.quiet)
        std::printf("%zu tiles: %zu kept, %zu none, %zu failed, %zu killed; %llu of %llu points kept\n", records.size(),
                    t.kept, t.none, t.failed, t.killed, static_cast<unsigned long long>(t.pointsKept),
                    static_cast<unsigned long long>(t.points));
    return t.failed + t.killed != 0 ? kSomeFailed : kAllDone;
}

}  // namespace batch
