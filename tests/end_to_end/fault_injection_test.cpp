// Morvane under hostile conditions, end to end: full devices, unwritable and
// special paths, truncated inputs, inputs that are also the output, rasters
// that cannot be held or whose cells or cell size are not numbers, and
// limits at the ends of the double range.
//
// Every failing run must end with status 255 and a message naming the file
// at fault, leave every input byte for byte as it was, and leave no output
// behind once it had started writing one.
#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"
#include "reference.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <regex>
#include <string>
#include <vector>

using namespace test_support;

namespace {

constexpr uid_t kNobody = 65534;

// A run may take at most this much memory: a raster that slips past the
// up-front size check then fails to allocate instead of exhausting the machine.
constexpr uint64_t kMemoryCap = uint64_t{4} << 30;

// Keeps the child within kMemoryCap: an address-space limit, or under
// AddressSanitizer (which reserves terabytes of shadow) its RSS limit.
void capChildMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    const char *old = std::getenv("ASAN_OPTIONS");
    const std::string options = std::string(old != nullptr ? old : "") +
                                ":hard_rss_limit_mb=" + std::to_string(kMemoryCap >> 20);
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
#else
    const rlimit limit{kMemoryCap, kMemoryCap};
    ::setrlimit(RLIMIT_AS, &limit);
#endif
}

// Also no file of more than 16 KiB (the console fits), SIGXFSZ given as
// `disposition`.
void capChildMemoryAndFileSize(void (*disposition)(int))
{
    capChildMemory();
    ::signal(SIGXFSZ, disposition);
    const rlimit limit{16 << 10, 16 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

// Writing a larger output fails with EFBIG.
void capChildMemoryAndFileSize()
{
    capChildMemoryAndFileSize(SIG_IGN);
}

// SIGXFSZ left at its default action, which would end the run and leave its
// temporary file behind.
void capChildFileSize()
{
    capChildMemoryAndFileSize(SIG_DFL);
}

// Runs Morvane in cwd; a run that has not ended after 20 s counts as hung and
// is killed. With asUser set, the child drops root for that user first.
RunResult runMorvaneGuarded(const std::vector<std::string> &args, const std::string &cwd, uid_t asUser = 0,
                            void (*beforeExec)() = capChildMemory)
{
    RunOptions options;
    options.cwd = cwd;
    options.timeLimit = std::chrono::seconds(20);
    options.asUser = asUser;
    options.beforeExec = beforeExec;
    return runProgram(MORVANE_EXE, args, options);
}

uint64_t fnv1a(const std::string &bytes)
{
    uint64_t h = 1469598103934665603ull;
    for (char c : bytes)
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    return h;
}

std::string kindOf(const std::filesystem::file_status &st)
{
    using std::filesystem::file_type;
    switch (st.type()) {
    case file_type::regular: return "regular file";
    case file_type::directory: return "directory";
    case file_type::character: return "character device";
    case file_type::fifo: return "fifo";
    case file_type::not_found: return "nothing";
    case file_type::none: return "link that does not resolve";
    default: return "other";
    }
}

// What each entry directly in dir is: a regular file by the hash of its
// bytes (sparse giants by their size), a link by its target and what that
// is, a directory by its entries, anything else by its kind.
std::map<std::string, std::string> snapshot(const std::string &dir)
{
    std::map<std::string, std::string> entries;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
        std::string &what = entries[entry.path().filename().string()];
        if (entry.is_symlink()) {
            std::error_code unresolved;  // a loop of links
            what = "link to " + std::filesystem::read_symlink(entry.path()).string() + ", a " +
                   kindOf(std::filesystem::status(entry.path(), unresolved));
        } else if (entry.is_directory())
            what = "directory of " +
                   std::to_string(std::distance(std::filesystem::directory_iterator(entry.path()), {})) + " entries";
        else if (!entry.is_regular_file())
            what = kindOf(entry.status());
        else if (entry.file_size() > (64u << 20))
            what = "sparse file of " + std::to_string(entry.file_size()) + " bytes";
        else
            what = std::to_string(fnv1a(readFile(entry.path().string())));
    }
    return entries;
}

// The survey every case starts from: a 2 x 2 grid of 10-unit cells at
// (100, 200), south row {10, 20}, north row {30, NODATA}, and 40 points of
// format 1 over and around it (scale 0.01), some inside the window.
TestGrid baseGrid()
{
    TestGrid g{.rows = 2, .cols = 2, .minx = 100, .miny = 200, .cell = 10, .south = {10, 20, 30, -9999}};
    return g;
}

std::vector<Point> basePoints()
{
    std::vector<Point> points;
    for (int i = 0; i < 40; ++i) {
        Point p;
        p.x = 9500 + (i * 137) % 2600;
        p.y = 19500 + (i * 211) % 2600;
        p.z = 800 + (i * 97) % 3400;
        points.push_back(p);
    }
    return points;
}

std::string baseLas(const LasSpec &layout = LasSpec{})
{
    return buildLas(layout, basePoints());
}

// Permission denial does not apply to root: such a case runs Morvane as an
// ordinary user, and is skipped where the tests do not run as root.
enum class RunAs { Us, Unprivileged };

struct Case {
    using Setup = std::function<void(const TempDir &, std::vector<std::string> &)>;
    Case(std::string n, Setup s, std::string m, bool untouched = false, void (*limits)() = capChildMemory,
         RunAs as = RunAs::Us)
        : name(std::move(n)), setup(std::move(s)), message(std::move(m)), outputUntouched(untouched),
          beforeExec(limits), runAs(as)
    {
    }

    std::string name;
    // Lays out the directory; may change the arguments {raster, in, out, low, high}.
    Setup setup;
    std::string message;  // expected on the console; names the file at fault
    // true: the run failed before the output existed, so an output already
    // there is left as it was; false: the output path holds nothing after.
    bool outputUntouched = false;
    void (*beforeExec)();  // the child's limits
    RunAs runAs;
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

std::string sparseFile(const TempDir &dir, const std::string &name, const std::string &head, uint64_t size)
{
    const std::string path = dir / name;
    writeFile(path, head);
    if (::truncate(path.c_str(), static_cast<off_t>(size)) != 0)
        throw std::runtime_error("cannot extend " + path);
    return path;
}

uint64_t physicalMemory()
{
    return static_cast<uint64_t>(::sysconf(_SC_PHYS_PAGES)) * static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
}

// Points of a grid of rows x cols unit cells at (100, 200), one in each of
// more blocks of 128 x 128 cells than the machine's memory holds (or in
// every block, where there are fewer), from the south-west, then one at
// the north-east corner: the cells under them cannot be held.
std::vector<Point> pointsInTooManyBlocks(int64_t rows, int64_t cols)
{
    const int64_t blockRows = (rows + 127) / 128, blockCols = (cols + 127) / 128;
    const auto wanted = static_cast<int64_t>(physicalMemory() / (128 * 128 * 4) + 1024);
    std::vector<Point> points;
    for (int64_t k = 0; k < std::min(wanted, blockRows * blockCols); ++k)
        points.push_back({static_cast<int32_t>(k % blockCols * 128), static_cast<int32_t>(k / blockCols * 128), 0});
    points.push_back({static_cast<int32_t>(cols - 1), static_cast<int32_t>(rows - 1), 0});
    return points;
}

// The input with header bounds that cover every grid, and those points.
// Unit scales reach every row.
void writeLasCoveringEverything(const TempDir &d, int64_t rows, int64_t cols)
{
    LasSpec layout;
    layout.format = 0;
    layout.scale[0] = layout.scale[1] = 1.0;
    layout.offset[0] = 100;
    layout.offset[1] = 200;
    std::string las = buildLas(layout, pointsInTooManyBlocks(rows, cols));
    for (size_t at = 179; at < 211; at += 16) {
        putLE<double>(las, at, 1e300);
        putLE<double>(las, at + 8, -1e300);
    }
    writeFile(d / "in.las", las);
}

const std::vector<Case> &failureCases()
{
    static const std::vector<Case> cases = [] {
        std::vector<Case> c;
        auto truncatedInput = [](size_t keep, LasSpec layout) {
            return [keep, layout](const TempDir &d, std::vector<std::string> &) {
                writeFile(d / "in.las", baseLas(layout).substr(0, keep));
            };
        };
        auto cellSize = [](double cell, bool binary) {
            return [cell, binary](const TempDir &d, std::vector<std::string> &a) {
                TestGrid g = baseGrid();
                g.cell = cell;
                g.south = {3, 4, 1, 2};
                a[0] = g.write(d, binary ? GridForm::FloatClassic : GridForm::Ascii, binary ? "dem" : "grid");
            };
        };
        LasSpec withVlr;
        withVlr.vlrBytes = buildVlr("test", 1, std::string(100, 'v'));
        withVlr.numberOfVlrs = 1;
        const size_t whole = baseLas().size();

        // 5000 points selected: 140 kB of output.
        const auto manySelected = [](const TempDir &d, std::vector<std::string> &) {
            writeFile(d / "in.las", buildLas(LasSpec{}, std::vector<Point>(5000, Point{10100, 20100, 1100})));
        };
        c.push_back({"OutputBeyondFileSizeLimit", manySelected, "Failed to write out.las: File too large", false,
                     capChildMemoryAndFileSize});
        // The earlier output stays whole: the new one was never put in its place.
        c.push_back({"OutputBeyondFileSizeLimitKeepsEarlierOutput", manySelected,
                     "Failed to write out.las: File too large", true, capChildMemoryAndFileSize});
        c.push_back({"OutputBeyondFileSizeLimitSignalNotIgnored", manySelected,
                     "Failed to write out.las: File too large", false, capChildFileSize});
        c.push_back({"OutputIsLoopOfLinks",
                     [](const TempDir &d, std::vector<std::string> &) {
                         std::filesystem::create_symlink("loop.las", d / "out.las");
                         std::filesystem::create_symlink("out.las", d / "loop.las");
                     },
                     "Failed to open out.las for writing: Too many levels of symbolic links"});
        c.push_back({"AsciiValueWithNulByte",
                     [](const TempDir &d, std::vector<std::string> &) {
                         writeFile(d / "grid.asc", gridHeader(2, 2, "100", "200", "10", "-9999") +
                                                       std::string("10\0garbage 2 3 4\n", 18));
                     },
                     "Raster file grid.asc: value 1 of row 1 is not a number: '10", true});
        c.push_back({"OutputIsDevice",
                     [](const TempDir &d, std::vector<std::string> &) {
                         std::filesystem::create_symlink("/dev/full", d / "out.las");
                     },
                     "Output file out.las is not a regular file", true});
        c.push_back(
            {"OutputPathIsDirectory",
             [](const TempDir &d, std::vector<std::string> &) { std::filesystem::create_directory(d / "out.las"); },
             "Output file out.las is not a regular file", true});
        c.push_back({"OutputIsFifo",
                     [](const TempDir &d, std::vector<std::string> &) {
                         if (::mkfifo((d / "out.las").c_str(), 0644) != 0)
                             throw std::runtime_error("mkfifo failed");
                     },
                     "Output file out.las is not a regular file", true});
        c.push_back({"RasterIsFifo",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         if (::mkfifo((d / "pipe.asc").c_str(), 0644) != 0)
                             throw std::runtime_error("mkfifo failed");
                         a[0] = "pipe.asc";
                     },
                     "Input file pipe.asc is not a regular file", true});
        c.push_back({"FloatGridHeaderIsFifo",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "dem.flt", floatGrid({1, 2, 3, 4}));
                         if (::mkfifo((d / "dem.hdr").c_str(), 0644) != 0)
                             throw std::runtime_error("mkfifo failed");
                         a[0] = "dem.flt";
                     },
                     "Input file dem.hdr is not a regular file", true});
        c.push_back({"OutputDirectoryMissing",
                     [](const TempDir &, std::vector<std::string> &a) { a[2] = "no/such/dir/out.las"; },
                     "Failed to open no/such/dir/out.las for writing"});
        c.push_back({"InputTruncatedBeforeFormatField", truncatedInput(60, LasSpec{}),
                     "in.las is not a valid .las file", true});
        c.push_back({"InputTruncatedInsideHeader", truncatedInput(180, LasSpec{}),
                     "File in.las is too short to hold a LAS header", true});
        c.push_back(
            {"InputTruncatedInsideVlrs", truncatedInput(227 + 70, withVlr), "File in.las ends before its point data"});
        c.push_back({"InputTruncatedInsideRecord", truncatedInput(whole - 5, LasSpec{}),
                     "File in.las ends after 39 of its 40 point records"});
        c.push_back({"InputIsDirectory",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_directory(d / "dir.las");
                         a[1] = "dir.las";
                     },
                     "dir.las is not a valid .las file", true});
        c.push_back({"InputIsFifo",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         if (::mkfifo((d / "pipe.las").c_str(), 0644) != 0)
                             throw std::runtime_error("mkfifo failed");
                         a[1] = "pipe.las";
                     },
                     "Input file pipe.las is not a regular file", true});
        c.push_back({"OutputIsInputByPath", [](const TempDir &, std::vector<std::string> &a) { a[2] = "in.las"; },
                     "Same file name (in.las) has been specified twice", true});
        c.push_back({"OutputIsInputByOtherSpelling",
                     [](const TempDir &, std::vector<std::string> &a) { a[2] = "./in.las"; },
                     "Same file name (./in.las) has been specified twice", true});
        c.push_back({"OutputIsInputBySymlink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_symlink("in.las", d / "link.las");
                         a[2] = "link.las";
                     },
                     "Same file name (link.las) has been specified twice", true});
        c.push_back({"OutputIsInputByHardLink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_hard_link(d / "in.las", d / "hard.las");
                         a[2] = "hard.las";
                     },
                     "Same file name (hard.las) has been specified twice", true});
        c.push_back({"OutputIsRasterBySymlink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_symlink("grid.asc", d / "grid_link.las");
                         a[2] = "grid_link.las";
                     },
                     "Same file name (grid_link.las) has been specified twice", true});
        c.push_back({"OutputIsRasterByHardLink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_hard_link(d / "grid.asc", d / "grid_hard.las");
                         a[2] = "grid_hard.las";
                     },
                     "Same file name (grid_hard.las) has been specified twice", true});
        c.push_back({"OutputIsFloatGridHeaderBySymlink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         a[0] = baseGrid().write(d, GridForm::FloatClassic);
                         std::filesystem::create_symlink("dem.hdr", d / "hdr_link.las");
                         a[2] = "hdr_link.las";
                     },
                     "Same file name (hdr_link.las) has been specified twice", true});
        c.push_back({"OutputIsFloatGridBySymlinkOtherSpelling",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         a[0] = baseGrid().write(d, GridForm::FloatClassic);
                         std::filesystem::create_symlink("dem.flt", d / "flt_link.las");
                         a[2] = "./flt_link.las";
                     },
                     "Same file name (./flt_link.las) has been specified twice", true});
        c.push_back({"OutputIsFloatGridHeaderByHardLink",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "dem.hdr", gridHeader(2, 2, "100", "200", "10", "-9999"));
                         writeFile(d / "dem.flt", floatGrid({1, 2, 3, 4}));
                         std::filesystem::create_hard_link(d / "dem.hdr", d / "hdr.las");
                         a[0] = "dem.flt";
                         a[2] = "hdr.las";
                     },
                     "Same file name (hdr.las) has been specified twice", true});
        // Sparse files: big enough on disk to pass the size checks, far
        // more cells than this machine's memory; the input's header bounds
        // cover them all.
        const int cols = 1 << 16;
        const auto rows = static_cast<int>(physicalMemory() / (4u << 16) + 1024);
        const std::string tooLarge = " (" + std::to_string(rows) +
                                     " rows x 65536 columns) is too large to hold in memory";
        c.push_back({"FloatGridLargerThanMemory",
                     [=](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "big.hdr", gridHeader(cols, rows, "100", "200", "1", "-9999"));
                         sparseFile(d, "big.flt", "", uint64_t{4} * static_cast<uint64_t>(rows) * (1u << 16));
                         writeLasCoveringEverything(d, rows, cols);
                         a[0] = "big.flt";
                     },
                     "Raster big.flt" + tooLarge, true});
        // Header bounds around the first points only, then points over more
        // of the grid's blocks than memory holds and one back at its start:
        // the cells under the points still to come when the first of them
        // is met cannot be held.
        c.push_back(
            {"StaleBoundsNeedMoreThanMemory",
             [=](const TempDir &d, std::vector<std::string> &a) {
                 writeFile(d / "big.hdr", gridHeader(cols, rows, "100", "200", "1", "-9999"));
                 sparseFile(d, "big.flt", "", uint64_t{4} * static_cast<uint64_t>(rows) * (1u << 16));
                 std::vector<Point> points = basePoints();
                 for (Point p : pointsInTooManyBlocks(rows, cols))
                     points.push_back({(p.x + 100) * 100, (p.y + 200) * 100, 0});
                 points.push_back(basePoints().front());
                 std::string las = buildLas(LasSpec{}, points);
                 // A few cells: held as the header says, cheaper than measuring.
                 putLE<double>(las, 179, 101.0);  // MaxX, MinX, MaxY, MinY
                 putLE<double>(las, 187, 100.0);
                 putLE<double>(las, 195, 201.0);
                 putLE<double>(las, 203, 200.0);
                 writeFile(d / "in.las", las);
                 a[0] = "big.flt";
             },
             "The header bounds of in.las (X 100.000 to 101.000, Y 200.000 to 201.000) do not cover its points"});
        c.push_back({"AsciiGridLargerThanMemory",
                     [=](const TempDir &d, std::vector<std::string> &a) {
                         sparseFile(d, "big.asc", gridHeader(cols, rows, "100", "200", "1", "-9999") + "1 2 3\n",
                                    uint64_t{2} * static_cast<uint64_t>(rows) * (1u << 16));
                         writeLasCoveringEverything(d, rows, cols);
                         a[0] = "big.asc";
                     },
                     "Raster big.asc" + tooLarge, true});
        // Four columns and as many rows as a count can say.
        const std::string narrow = " (2147483647 rows x 4 columns) is too large to hold in memory";
        c.push_back({"NarrowFloatGridLargerThanMemory",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "narrow.hdr", gridHeader(4, INT32_MAX, "100", "200", "1", "-9999"));
                         sparseFile(d, "narrow.flt", "", uint64_t{INT32_MAX} * 16);
                         writeLasCoveringEverything(d, INT32_MAX, 4);
                         a[0] = "narrow.flt";
                     },
                     "Raster narrow.flt" + narrow, true});
        c.push_back({"NarrowAsciiGridLargerThanMemory",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         sparseFile(d, "narrow.asc", gridHeader(4, INT32_MAX, "100", "200", "1", "-9999") + "1\n2\n",
                                    uint64_t{INT32_MAX} * 8);
                         writeLasCoveringEverything(d, INT32_MAX, 4);
                         a[0] = "narrow.asc";
                     },
                     "Raster narrow.asc" + narrow, true});
        c.push_back({"FloatGridHeaderIsDirectory",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "dem.flt", floatGrid({1, 2, 3, 4}));
                         std::filesystem::create_directory(d / "dem.hdr");
                         a[0] = "dem.flt";
                     },
                     "Cannot read raster header dem.hdr: Is a directory", true});
        c.push_back({"AsciiGridIsDirectory",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         std::filesystem::create_directory(d / "dir.asc");
                         a[0] = "dir.asc";
                     },
                     "Cannot read raster header dir.asc: Is a directory", true});
        c.push_back({"AsciiFirstValueNotANumber",
                     [](const TempDir &d, std::vector<std::string> &) {
                         writeFile(d / "grid.asc", gridHeader(2, 2, "100", "200", "10", "-9999") + "1;5 2 3 4\n");
                     },
                     "Raster file grid.asc: value 1 of row 1 is not a number: '1;5'", true});
        c.push_back({"AsciiValueWithTwoDecimalCommas",
                     [](const TempDir &d, std::vector<std::string> &) {
                         writeFile(d / "grid.asc", gridHeader(2, 2, "100", "200", "10", "-9999") + "1 2 3,5,1 4\n");
                     },
                     "Raster file grid.asc: value 1 of row 2 is not a number: '3,5,1'", true});
        // Files that are there but may not be read: the system's reason, not
        // "does NOT exist".
        const auto unreadable = [](const char *name, bool floatGrid) {
            return [name, floatGrid](const TempDir &d, std::vector<std::string> &a) {
                if (floatGrid)
                    a[0] = baseGrid().write(d, GridForm::FloatClassic);
                std::filesystem::permissions(d / name, std::filesystem::perms::none);
            };
        };
        c.push_back({"InputUnreadable", unreadable("in.las", false),
                     "Unable to open file in.las in file_access()\n\nFile in.las cannot be opened: Permission denied\n",
                     true, capChildMemory, RunAs::Unprivileged});
        c.push_back({"AsciiGridUnreadable", unreadable("grid.asc", false),
                     "\nFailed to open file grid.asc for reading: Permission denied\n", true, capChildMemory,
                     RunAs::Unprivileged});
        c.push_back({"FloatGridHeaderUnreadable", unreadable("dem.hdr", true),
                     "\nFailed to open file dem.hdr for reading: Permission denied\n", true, capChildMemory,
                     RunAs::Unprivileged});
        c.push_back({"FloatGridUnreadable", unreadable("dem.flt", true),
                     "\nFailed to open file dem.flt for reading: Permission denied\n", true, capChildMemory,
                     RunAs::Unprivileged});
        c.push_back({"FloatGridShorterThanHeaderSays",
                     [](const TempDir &d, std::vector<std::string> &a) {
                         writeFile(d / "dem.hdr", gridHeader(1000, 2000000, "100", "200", "1", "-9999"));
                         writeFile(d / "dem.flt", floatGrid(std::vector<float>(1000, 1.0f)));
                         a[0] = "dem.flt";
                     },
                     "Raster file dem.flt holds fewer than 2000000 x 1000 values", true});
        auto inputWith = [](LasSpec layout) {
            return [layout](const TempDir &d, std::vector<std::string> &) { writeFile(d / "in.las", baseLas(layout)); };
        };
        LasSpec offsetInsideHeader;
        offsetInsideHeader.offsetToData = 100;
        c.push_back({"OffsetToDataInsideHeader", inputWith(offsetInsideHeader),
                     "\nOffsetToData of in.las (100) lies inside the 227-byte header\n", true});
        LasSpec shortRecords;
        shortRecords.versionMinor = 0;
        shortRecords.format = 2;
        shortRecords.recordLength = 12;
        c.push_back({"RecordLengthBelowARecord", inputWith(shortRecords),
                     "\nPoint record length of in.las (12 bytes) is shorter than a LAS point record\n", true});
        // A count above 2^31 printed unsigned, in the files' lines and the refusal.
        LasSpec hugeCount;
        hugeCount.declaredCount = 2147483648LL;
        c.push_back({"CountAbove31Bits", inputWith(hugeCount),
                     "                  2147483648 points\nOutput LAS File         out.las\n"
                     "... processing ... ( 0% done )\r\nFile in.las ends after 40 of its 2147483648 point records\n"});
        c.push_back({"AsciiGridEndsBeforeItsValues",
                     [](const TempDir &d, std::vector<std::string> &) {
                         writeFile(d / "grid.asc", gridHeader(2, 2, "100", "200", "10", "-9999") + "1 2\n3");
                     },
                     "\nRaster file grid.asc ends before its 2 x 2 values\n", true});
        c.push_back({"AsciiGridShorterThanHeaderSays",
                     [](const TempDir &d, std::vector<std::string> &) {
                         writeFile(d / "grid.asc", gridHeader(1000, 2000000, "100", "200", "1", "-9999") + "1 2 3\n");
                     },
                     "Raster file grid.asc holds fewer than 2000000 x 1000 values", true});
        // A cell size that is no positive finite number, in either header.
        for (const auto &[label, text] : std::vector<std::pair<std::string, std::string>>{
                 {"Zero", "0"}, {"Negative", "-10"}, {"NaN", "nan"}, {"Infinite", "inf"}}) {
            const double cell = std::strtod(text.c_str(), nullptr);
            for (const bool binary : {false, true})
                c.push_back({(binary ? "FloatCellSize" : "AsciiCellSize") + label, cellSize(cell, binary),
                             "\nCannot read raster header " + std::string(binary ? "dem.hdr" : "grid.asc") +
                                 ": keyword 'cellsize' is '" + text + "': the cell size must be positive and finite\n",
                             true});
        }
        return c;
    }();
    return cases;
}

class FailingRun : public ::testing::TestWithParam<Case> {};

TEST_P(FailingRun, Status255MessageInputsIntactNoOutputLeft)
{
    const Case &tc = GetParam();
    TempDir dir;
    writeFile(dir / "in.las", baseLas());
    baseGrid().write(dir, GridForm::Ascii, "grid");
    std::vector<std::string> args = {"grid.asc", "in.las", "out.las", "-1", "5"};
    tc.setup(dir, args);
    const std::string outPath = dir / args[2];
    const bool outputWasThere = fileExists(outPath);
    if (tc.outputUntouched && !outputWasThere)
        writeFile(outPath, "output of an earlier run");
    const auto before = snapshot(dir.path());

    uid_t user = 0;
    if (tc.runAs == RunAs::Unprivileged) {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root, to run Morvane as an unprivileged user";
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
        user = kNobody;
    }
    const RunResult r = runMorvaneGuarded(args, dir.path(), user, tc.beforeExec);
    if (user != 0 && (r.status == 126 || r.status == 127))
        GTEST_SKIP() << "cannot run Morvane as an unprivileged user here";

    ASSERT_NE(r.status, kTimedOut) << "hung";
    EXPECT_EQ(r.status, 255) << r.out;
    const size_t at = r.out.find(tc.message);
    EXPECT_NE(at, std::string::npos) << "missing \"" << tc.message << "\" in:\n" << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(snapshot(dir.path()), before) << "a file was changed, created or removed (a partial one left?)";
    if (!tc.outputUntouched && !outputWasThere) {
        EXPECT_FALSE(fileExists(outPath)) << "partial output left behind";
    }
    EXPECT_EQ(r.out.find("Completed"), std::string::npos) << "a failed run reported completion";
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, FailingRun, ::testing::ValuesIn(failureCases()),
                         [](const auto &param) { return param.param.name; });

// As for the unreadable inputs above, the run drops to an ordinary user for
// this case, or is skipped where it cannot.
TEST(FaultInjection, OutputDirectoryWithoutWritePermission)
{
    TempDir dir;
    writeFile(dir / "in.las", baseLas());
    baseGrid().write(dir, GridForm::Ascii, "grid");
    std::filesystem::create_directory(dir / "locked");
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    std::filesystem::permissions(dir / "locked", std::filesystem::perms(0555));
    const auto before = snapshot(dir.path());

    const uid_t user = ::geteuid() == 0 ? kNobody : 0;
    const RunResult r = runMorvaneGuarded({"grid.asc", "in.las", "locked/out.las", "-1", "5"}, dir.path(), user);
    if (r.status == 126 || r.status == 127)
        GTEST_SKIP() << "cannot run Morvane as an unprivileged user here";
    EXPECT_EQ(r.status, 255) << r.out;
    EXPECT_NE(r.out.find("Failed to open locked/out.las for writing"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(snapshot(dir.path()), before);
    EXPECT_FALSE(fileExists(dir / "locked/out.las"));
}

// Runs that must succeed at the edges: NaN cells and extreme limits.
struct EdgeCase {
    std::string name;
    TestGrid grid;
    GridForm form;
    std::vector<Point> points;
    std::string low, high;
    PrintedTally expected;
    bool capitalNaN = false;  // the grid's last NaN cell spelt "NaN"
    LasSpec layout{};
};

// 1 x 2 grid of 10-unit cells at (100, 200): west cell NaN, east cell east.
TestGrid nanGrid(float east)
{
    TestGrid g = baseGrid();
    g.rows = 1;
    g.south = {std::numeric_limits<float>::quiet_NaN(), east};
    return g;
}

std::vector<Point> nanGridPoints()
{
    return {{10100, 20100, 1000}, {10500, 20500, 0},    {10900, 20900, -500},  // on the NaN cell
            {11100, 20100, 1000}, {11900, 20900, 1200},                        // east cell, in the window
            {11500, 20500, 9000}};                                             // east cell, above it
}

// Over the base grid: two on valid cells far apart in elevation, one on
// NODATA, one outside.
std::vector<Point> extremePoints()
{
    return {{10500, 20500, -100000000}, {11500, 20500, 100000000}, {11500, 21500, 1000}, {5000, 5000, 1000}};
}

std::string digits(const char *lead, size_t zeros)
{
    return std::string(lead) + std::string(zeros, '0');
}

const std::vector<EdgeCase> &edgeCases()
{
    static const std::vector<EdgeCase> cases = [] {
        const float nan = std::numeric_limits<float>::quiet_NaN();
        const GridForm asc = GridForm::Ascii;
        std::vector<EdgeCase> c;
        c.push_back({"AsciiNaNCells", nanGrid(10), asc, nanGridPoints(), "-1", "5", {2, 4, 0, 0}});
        c.push_back({"FloatNaNCells", nanGrid(10), GridForm::FloatClassic, nanGridPoints(), "-1", "5", {2, 4, 0, 0}});
        c.push_back(
            {"OnlyNaNCellsSelectNothing", nanGrid(nan), asc, nanGridPoints(), "-1000", "1000", {0, 6, 0, 0}, true});
        // 309 digits: 1e308; 310 digits: 1e309, beyond double, read as infinity.
        c.push_back({"LimitsPlusMinus1e308",
                     baseGrid(),
                     asc,
                     extremePoints(),
                     digits("-1", 308),
                     digits("1", 308),
                     {2, 0, 1, 1}});
        c.push_back({"LimitsPlusMinusInfinity",
                     baseGrid(),
                     asc,
                     extremePoints(),
                     digits("-1", 309),
                     digits("1", 309),
                     {2, 0, 1, 1}});
        c.push_back(
            {"WindowAbove1e308", baseGrid(), asc, extremePoints(), digits("1", 308), digits("2", 308), {0, 2, 1, 1}});
        c.push_back({"WindowBelowMinus1e308",
                     baseGrid(),
                     asc,
                     extremePoints(),
                     digits("-2", 308),
                     digits("-1", 308) + ".5",
                     {0, 2, 1, 1}});
        // NODATA written with an exponent, as raster tools write the float
        // minimum: the whole token is the marker.
        TestGrid exponentNodata = baseGrid();
        exponentNodata.nodata = "-3.4028234663852886e+38";
        exponentNodata.south = {10, 20, 30, -3.4028234663852886e+38f};
        c.push_back({"NodataWrittenWithAnExponent",
                     exponentNodata,
                     asc,
                     {{10500, 20500, 1000}, {11500, 21500, 1000}, {5000, 5000, 1000}},
                     "-1",
                     "5",
                     {1, 0, 1, 1}});
        // Row 2^32 would wrap to row 0 in 32 bits; an infinite scale gives an
        // infinite quotient: both are outside.
        LasSpec wrappingRow;
        wrappingRow.offset[1] = 200;
        wrappingRow.scale[1] = 42949672960.0;  // 2^32 cells of 10 per unit
        LasSpec infiniteScale;
        infiniteScale.scale[0] = INFINITY;
        const std::vector<Point> twoAtTheCorner = {{10500, 1, 1000}, {11500, 1, 1000}};
        c.push_back({"RowBeyond2To32", baseGrid(), asc, twoAtTheCorner, "-1", "5", {0, 0, 0, 2}, false, wrappingRow});
        c.push_back({"InfiniteScale", baseGrid(), asc, twoAtTheCorner, "-1", "5", {0, 0, 0, 2}, false, infiniteScale});
        // A 1.1 file declaring format 3 with 40-byte records: each passes whole.
        LasSpec longRecords;
        longRecords.versionMinor = 1;
        longRecords.format = 3;
        longRecords.recordLength = 40;
        c.push_back({"LongerRecordsOfFormat3",
                     baseGrid(),
                     asc,
                     {{10500, 20500, 1000}, {11500, 20500, 9000}, {10500, 21500, 3300}},
                     "-1",
                     "5",
                     {2, 1, 0, 0},
                     false,
                     longRecords});
        return c;
    }();
    return cases;
}

void PrintTo(const EdgeCase &c, std::ostream *os)
{
    *os << c.name;
}

class EdgeRun : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeRun, SucceedsWithExactTallyAndIntactInputs)
{
    const EdgeCase &tc = GetParam();
    TempDir dir;
    const std::string input = buildLas(tc.layout, tc.points);
    writeFile(dir / "in.las", input);
    const std::string raster = tc.grid.write(dir, tc.form, tc.form == GridForm::Ascii ? "grid" : "dem");
    if (tc.capitalNaN) {
        std::string text = tc.grid.asciiText();
        writeFile(dir / raster, text.replace(text.rfind("nan"), 3, "NaN"));
    }
    const auto before = snapshot(dir.path());

    const RunResult r = runMorvaneGuarded({raster, "in.las", "out.las", tc.low, tc.high}, dir.path());

    ASSERT_NE(r.status, kTimedOut);
    const ExpectedCut ref = expectedCut(tc.grid, tc.layout, tc.points, std::strtod(tc.low.c_str(), nullptr),
                                        std::strtod(tc.high.c_str(), nullptr));
    EXPECT_EQ(r.status, ref.selected.empty() ? 1 : 0) << r.out;
    EXPECT_EQ(r.err, "");
    PrintedTally printed;
    readTally(r.out, printed);
    EXPECT_EQ(printed, tc.expected) << r.out;
    auto after = snapshot(dir.path());
    after.erase("out.las");
    EXPECT_EQ(after, before);
    const std::string expected = expectedOutput(input, ref.selected);
    ASSERT_EQ(fileExists(dir / "out.las"), !expected.empty());
    if (!expected.empty()) {
        EXPECT_EQ(byteDifference(readFile(dir / "out.las"), expected), "");
    }
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, EdgeRun, ::testing::ValuesIn(edgeCases()),
                         [](const auto &param) { return param.param.name; });

// A file that another process holds a lease on (what SMB oplocks and NFS
// delegations use) is read once the holder lets go, as a plain open would,
// not called missing: the input LAS (checked by the library, then read) and
// the raster.
int leasedFd = -1;

class LeasedFile : public ::testing::TestWithParam<const char *> {};

TEST_P(LeasedFile, IsReadOnceTheHolderLetsGo)
{
    TempDir dir;
    writeFile(dir / "in.las", baseLas());
    baseGrid().write(dir, GridForm::Ascii, "grid");
    const std::vector<std::string> args = {"grid.asc", "in.las", "out.las", "-1", "5"};
    ASSERT_EQ(runMorvaneGuarded({"grid.asc", "in.las", "alone.las", "-1", "5"}, dir.path()).status, 0);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t holder = ::fork();
    if (holder == 0) {
        leasedFd = ::open((dir / GetParam()).c_str(), O_RDWR);
        ::signal(SIGIO, [](int) { ::fcntl(leasedFd, F_SETLEASE, F_UNLCK); });
        const bool leased = ::fcntl(leasedFd, F_SETLEASE, F_WRLCK) == 0;
        (void)!::write(ready[1], leased ? "y" : "n", 1);
        for (int k = 0; leased && k < 2000 && ::fcntl(leasedFd, F_GETLEASE) != F_UNLCK; ++k)
            ::usleep(10000);
        ::_exit(0);
    }
    ::close(ready[1]);
    char leased = 'n';
    (void)!::read(ready[0], &leased, 1);
    ::close(ready[0]);
    const RunResult r = leased == 'y' ? runMorvaneGuarded(args, dir.path()) : RunResult{};
    ::waitpid(holder, nullptr, 0);
    if (leased != 'y')
        GTEST_SKIP() << "no lease can be taken here";
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(readFile(dir / "out.las") == readFile(dir / "alone.las"));
}

INSTANTIATE_TEST_SUITE_P(FaultInjection, LeasedFile, ::testing::Values("in.las", "grid.asc"), [](const auto &param) {
    const std::string name = param.param;
    return name.substr(0, name.find('.'));
});

// A file cut short by another program while the run reads it where it lies
// (a mapping of it): the run is stopped by strace as it maps the file, the
// file is truncated, and the run goes on. It must end as a file that ends
// early does: status 255, the message naming the file, no output left.
struct CutShort {
    const char *name;
    const char *file;  // the file cut short, by its first mapping
    uint64_t keep;     // its bytes left
    const char *message;
};

void PrintTo(const CutShort &c, std::ostream *os)
{
    *os << c.name;
}

constexpr int32_t kCutGridSide = 200;
constexpr uint32_t kCutPoints = 20000;

class CutShortMidRun : public ::testing::TestWithParam<CutShort> {};

// A /proc file's text, empty once the process is gone.
std::string procText(const std::string &path)
{
    try {
        return readFile(path);
    } catch (const std::runtime_error &) {
        return "";
    }
}

// Morvane's pid under strace once it has mapped `file` (0 if it never
// does): it is then held at that call until it is continued.
pid_t childHavingMapped(pid_t tracer, const std::string &file)
{
    const std::string tracerTask = "/proc/" + std::to_string(tracer) + "/task/" + std::to_string(tracer);
    for (int k = 0; k < 4000; ++k, std::this_thread::sleep_for(std::chrono::milliseconds(5))) {
        const std::string children = procText(tracerTask + "/children");
        if (children.empty())
            continue;
        const pid_t child = std::stoi(children);
        if (procText("/proc/" + std::to_string(child) + "/maps").find("/" + file + "\n") != std::string::npos)
            return child;
    }
    return 0;
}

// Continues a process until it has ended: a SIGCONT sent before the stop
// is delivered would leave it stopped.
void continueToTheEnd(pid_t pid)
{
    const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    for (int k = 0; k < 3000; ++k, std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        const std::string state = procText(stat);
        const size_t at = state.rfind(')');
        if (at == std::string::npos || at + 2 >= state.size() || state[at + 2] == 'Z')
            return;
        ::kill(pid, SIGCONT);
    }
}

TEST_P(CutShortMidRun, EndsAsAShortFileWithNoOutputLeft)
{
    const CutShort &c = GetParam();
    if (::access("/usr/bin/strace", X_OK) != 0)
        GTEST_SKIP() << "needs strace";
    TempDir dir;
    const TestGrid grid{.rows = kCutGridSide,
                        .cols = kCutGridSide,
                        .minx = 100,
                        .miny = 200,
                        .cell = 1,
                        .nodata = "-9999",
                        .south = std::vector<float>(size_t{kCutGridSide} * kCutGridSide, 5.0f)};
    grid.write(dir, GridForm::FloatClassic, "dem");
    std::vector<Point> points(kCutPoints);
    for (uint32_t i = 0; i < kCutPoints; ++i)
        points[i] = Point{static_cast<int32_t>(10000 + i * 7919 % 20000), static_cast<int32_t>(20000 + i * 104729 % 20000),
                          static_cast<int32_t>(400 + i % 200)};
    writeFile(dir / "in.las", buildLas(LasSpec{}, points));
    const char *asan = std::getenv("ASAN_OPTIONS");
    const std::vector<std::string> args = {
        "-f", "-qqq", "-o", "/dev/null", "-E", "ASAN_OPTIONS=" + std::string(asan != nullptr ? asan : "") + ":detect_leaks=0",
        "-P", c.file, "-e", "trace=mmap", "-e", "inject=mmap:signal=SIGSTOP:when=1",
        MORVANE_EXE, "dem.flt", "in.las", "out.las", "-1", "5"};
    RunOptions options;
    options.cwd = dir.path();
    options.timeLimit = std::chrono::seconds(30);
    ChildRun run("/usr/bin/strace", args, options);
    const pid_t morvane = childHavingMapped(run.pid(), c.file);
    ASSERT_NE(morvane, 0) << "the run never mapped " << c.file;
    ASSERT_EQ(::truncate((dir / c.file).c_str(), static_cast<off_t>(c.keep)), 0);
    continueToTheEnd(morvane);
    const RunResult r = run.finish();

    ASSERT_NE(r.status, kTimedOut) << "hung";
    EXPECT_EQ(r.status, 255) << r.out << r.err;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << "missing \"" << c.message << "\" in:\n" << r.out;
    EXPECT_EQ(r.out.find("Completed"), std::string::npos) << "a failed run reported completion";
    std::vector<std::string> left;
    for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
        left.push_back(entry.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"dem.flt", "dem.hdr", "in.las"})) << "output or temporary file left";
}

// The LAS input keeps its header and 10 records of 28 bytes (format 1);
// the grid keeps nothing.
INSTANTIATE_TEST_SUITE_P(FaultInjection, CutShortMidRun,
                         ::testing::Values(CutShort{"LasInput", "in.las", 227 + 10 * 28,
                                                    "\nFile in.las ends after 10 of its 20000 point records\n"},
                                           CutShort{"FloatGrid", "dem.flt", 0,
                                                    "\nRaster file dem.flt ends before its 200 x 200 values\n"}),
                         [](const auto &param) { return std::string(param.param.name); });

}  // namespace
