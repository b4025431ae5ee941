// The run driver: checks, raster, header copy, record loop, tally, finish.
#include "command_line.h"

#include "LiDAR.h"
#include "file_handle.h"
#include "header_refresh.h"
#include "point_filter.h"
#include "process_exit.h"
#include "raster.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace {

[[noreturn]] void fail() { lidar::process_exit(-1); }

bool statFile(const char *name, struct stat &st) { return ::stat(name, &st) == 0; }

// Same path, or the same existing file reached another way (link, ./, ..).
bool sameFile(const char *a, const char *b)
{
    if (std::strcmp(a, b) == 0)
        return true;
    struct stat sa{}, sb{};
    return statFile(a, sa) && statFile(b, sb) && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Opening the output must never empty the input or the raster.
void refuseOverwritingInputs(char **argv)
{
    const char *output = argv[3];
    std::vector<std::string> guarded = {argv[2], argv[1]};
    const std::string_view raster(argv[1]);
    if (raster.size() > 4 && raster.substr(raster.size() - 3) == "flt")
        guarded.push_back(std::string(raster.substr(0, raster.size() - 4)) + ".hdr");
    for (const std::string &name : guarded) {
        if (sameFile(name.c_str(), output)) {
            error_msg(3, output);
            fail();
        }
    }
}

// A pipe or device as input would block or be consumed by the checks.
void refuseSpecialInput(const char *input)
{
    struct stat st{};
    if (statFile(input, st) && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        std::printf("\nInput file %s is not a regular file\n", input);
        fail();
    }
}

// The output as the run writes it; a failed run removes what it wrote.
class Output {
public:
    explicit Output(const char *name) : name_(name) {}
    ~Output() { discard(); }
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    void open()
    {
        file_ = lidar::open_file(name_, "wb");
        if (!file_) {
            std::printf("\nFailed to open %s for writing\n", name_);
            fail();
        }
        struct stat st{};
        // Never unlink a device (such as /dev/full) on failure.
        removable_ = fstat(fileno(file_.get()), &st) == 0 && S_ISREG(st.st_mode);
    }

    std::FILE *get() const { return file_.get(); }

    [[noreturn]] void failWrite()
    {
        std::printf("\nFailed to write %s: %s\n", name_, std::strerror(errno));
        discard();
        fail();
    }

    // Closes the file; false when buffered data could not be written.
    bool close() { return lidar::close_file(file_); }

    void keep() { removable_ = false; }

    void discard()
    {
        file_.reset();
        if (removable_)
            std::remove(name_);
        removable_ = false;
    }

private:
    const char *name_;
    lidar::FilePtr file_;
    bool removable_ = false;
};

LAS12Header readInputHeader(std::FILE *in, const char *name)
{
    LAS12Header h;
    if (std::fread(&h, sizeof h, 1, in) != 1) {
        std::printf("\nFile %s is too short to hold a LAS header\n", name);
        fail();
    }
    if (h.OffsetToData < sizeof h) {
        std::printf("\nOffsetToData of %s (%u) lies inside the 227-byte header\n", name, h.OffsetToData);
        fail();
    }
    if (h.PointDataRecordLength < sizeof(LAS12fm0)) {
        std::printf("\nPoint record length of %s (%u bytes) is shorter than a LAS point record\n", name,
                    static_cast<unsigned>(h.PointDataRecordLength));
        fail();
    }
    return h;
}

// The variable-length records between the header and the point data are
// carried over verbatim, so the output's VLR count and georeference hold.
void copyVariableLengthRecords(std::FILE *in, Output &out, const char *inName, uint32_t offsetToData)
{
    std::vector<uint8_t> chunk(size_t{1} << 20);
    size_t left = offsetToData - sizeof(LAS12Header);
    while (left != 0) {
        const size_t want = std::min(left, chunk.size());
        if (std::fread(chunk.data(), 1, want, in) != want) {
            std::printf("\nFile %s ends before its point data (offset %u)\n", inName, offsetToData);
            out.discard();
            fail();
        }
        if (std::fwrite(chunk.data(), 1, want, out.get()) != want)
            out.failWrite();
        left -= want;
    }
}

void printShare(const char *format, uint32_t count, uint32_t n)
{
    const double share = n != 0 ? count * 100.0 / n : 0.0;
    std::printf(format, count, share);
}

double secondsSince(std::clock_t start)
{
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int morvaneMain(int argc, char **argv)
{
    if (argc != 6) {
        credits();
        usage();
        fail();
    }
    credits();
    const std::clock_t cstart = std::clock();

    if (checkExtension(argv[1], "asc") < 0)
        fail();
    if (checkExtension(argv[2], "las") < 0 || checkExtension(argv[3], "las") < 0)
        fail();
    check_numeric_argument(argv[4]);
    check_numeric_argument(argv[5]);
    const double lowLimit = std::atof(argv[4]);
    const double highLimit = std::atof(argv[5]);
    if (lowLimit >= highLimit) {
        std::printf("\nHigh Limit ( %.3f ) should be greater than the Low Limit ( %.3f )\n", highLimit,
                    lowLimit);
        usage();
        fail();
    }
    refuseSpecialInput(argv[2]);
    if (check_las(argv[2]) < 0)
        fail();
    refuseOverwritingInputs(argv);

    readRaster(argv);
    std::puts("Limiting values relative to raster");
    std::printf("Minimum %24.3f\n", lowLimit);
    std::printf("Maximum %24.3f\n\n", highLimit);

    lidar::FilePtr in = lidar::open_file(argv[2], "rb");
    if (!in) {
        std::printf("\nFailed to open %s for reading\n", argv[2]);
        fail();
    }
    const LAS12Header header = readInputHeader(in.get(), argv[2]);

    Output out(argv[3]);
    out.open();
    if (std::fwrite(&header, sizeof header, 1, out.get()) != 1)
        out.failWrite();
    copyVariableLengthRecords(in.get(), out, argv[2], header.OffsetToData);

    const uint32_t n = header.NumberOfPointReturns;
    std::printf("Input LAS File          %s\n", argv[2]);
    std::printf("%28u points\n", n);
    std::printf("Output LAS File         %s\n", argv[3]);

    const FilterResult run = filterPoints(in.get(), out.get(), header, lowLimit, highLimit);
    switch (run.status) {
    case FilterStatus::Ok:
        break;
    case FilterStatus::WriteError:
        out.failWrite();
    case FilterStatus::ReadError:
        std::printf("\nFailed to read %s\n", argv[2]);
        out.discard();
        fail();
    case FilterStatus::ShortInput:
        std::printf("\nFile %s ends after %u of its %u point records\n", argv[2], run.recordsRead, n);
        out.discard();
        fail();
    }
    // Flush before the tally, so that no success is reported over a short file.
    if (std::fflush(out.get()) != 0)
        out.failWrite();

    const Tally &t = run.tally;
    const uint32_t noSelection = n - t.in - t.onNodata - t.out;
    std::putchar('\r');
    printShare("%28u points ( %.2f%% of input) meet selection criteria\n", t.in, n);
    printShare("%28u points ( %.2f%% of input) do not\n", noSelection, n);
    printShare("%28u points ( %.2f%% of input) on NODATA raster cells\n", t.onNodata, n);
    printShare("%28u points ( %.2f%% of input) outside the raster\n\n", t.out, n);

    in.reset();
    if (!out.close())
        out.failWrite();
    freeRaster();

    if (t.in != 0) {
        out.keep();
        std::printf("... updating %s header\r", argv[3]);
        lidar::update_header_written(argv[3], run.written);
        std::printf("\n\nCompleted in %.3f seconds\n", secondsSince(cstart));
        return 0;
    }
    std::printf("\r*** Output file (%s) contains no points and it is erased ***\n", argv[3]);
    std::printf("\nCompleted in %.3f seconds\n", secondsSince(cstart));
    out.discard();
    return 1;
}
