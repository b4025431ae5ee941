// The run driver: checks, raster, header copy, record loop, tally, finish.
#include "run/run.h"

#include "run/command_line.h"

#include "LiDAR.h"
#include "lidar/internal/block_size.h"
#include "lidar/internal/file_handle.h"
#include "lidar/internal/header_read.h"
#include "raster/cells_needed.h"
#include "raster/grid_file.h"
#include "raster/raster.h"
#include "run/output_file.h"
#include "run/path_checks.h"
#include "run/signals.h"
#include "run_failure.h"
#include "select/record_loop.h"
#include "select/tally.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <string>
#include <unistd.h>
#include <vector>

namespace morvane {

namespace {

// The three names' form, the output's extension and the two limits.
Limits checkArguments(char **argv)
{
    if (checkNameForm(argv[1]) < 0 || checkNameForm(argv[2]) < 0)
        failRun();
    // Refused before anything is read or written: an output that does not
    // end in .las could never have its header refreshed.
    if (checkExtension(argv[3], "las") < 0)
        failRun();
    checkLimit(argv[4]);
    checkLimit(argv[5]);
    const Limits limits{std::atof(argv[4]), std::atof(argv[5])};
    if (limits.low >= limits.high) {
        std::printf("\nHigh Limit ( %.3f ) should be greater than the Low Limit ( %.3f )\n", limits.high, limits.low);
        usage();
        failRun();
    }
    return limits;
}

// The files' kinds, the input LAS, and no output over an input.
void checkFiles(char **argv, const GridFile &grid, const OutputTarget &output)
{
    refuseSpecialInput(argv[2]);
    if (check_las(argv[2]) < 0)
        failRun();
    refuseOverwritingInputs(grid, argv[2], output);
    for (const std::string &name : grid.files())
        refuseSpecialInput(name.c_str());
    refuseSpecialOutput(output);
}

// The input LAS file, opened once, its header read and judged silently:
// a sound header serves the cells' window at once; a problem is printed
// later, at its moment on the console.
struct Input {
    lidar::FilePtr file;
    LAS12Header header{};
    std::string headerProblem;
};

Input openInput(const char *name)
{
    Input in;
    in.file = lidar::open_file(name, "rb");
    if (!in.file)
        return in;
    const bool whole = std::fread(&in.header, sizeof in.header, 1, in.file.get()) == 1;
    in.headerProblem = lidar::header_problem(in.header, whole, name);
    return in;
}

// The variable-length records between the header and the point data are
// carried over verbatim, so the output's VLR count and georeference hold.
void copyVariableLengthRecords(std::FILE *in, const OutputFile &out, const char *inName, uint32_t offsetToData)
{
    std::vector<uint8_t> chunk(lidar::kBlockBytes);
    size_t left = offsetToData - sizeof(LAS12Header);
    while (left != 0) {
        const size_t want = std::min(left, chunk.size());
        if (std::fread(chunk.data(), 1, want, in) != want)
            failRun("\nFile %s ends before its point data (offset %u)\n", inName, offsetToData);
        if (std::fwrite(chunk.data(), 1, want, out.get()) != want)
            out.failWrite(errno);
        left -= want;
    }
}

// Ends a failed record loop with its message.
void checkRecordLoop(const PointSelection &run, const OutputFile &out, const char *inName, uint32_t n)
{
    switch (run.status) {
    case LoopStatus::Ok: return;
    case LoopStatus::WriteError: out.failWrite(run.error);
    case LoopStatus::ReadError: failRun("\nFailed to read %s\n", inName);
    case LoopStatus::ShortInput:
        failRun("\nFile %s ends after %u of its %u point records\n", inName, run.recordsRead, n);
    }
}

double secondsSince(std::clock_t start)
{
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

int run(char **argv)
{
    credits();
    const std::clock_t cstart = std::clock();
    const Limits limits = checkArguments(argv);
    const GridFile grid = classifyGridFile(argv[1]);
    const OutputTarget target(argv[3]);
    checkFiles(argv, grid, target);

    Input in = openInput(argv[2]);
    Raster raster = openRaster(grid);
    // An input without a sound header needs no cells: it is refused below.
    const bool soundHeader = in.file && in.headerProblem.empty();
    holdCells(raster, soundHeader ? cellsForInput(raster, in.header, ::fileno(in.file.get())) : CellsNeeded{},
              Progress::Shown);
    std::puts("Limiting values relative to raster");
    std::printf("Minimum %24.3f\n", limits.low);
    std::printf("Maximum %24.3f\n\n", limits.high);

    if (!in.file)
        failRun("\nFailed to open %s for reading\n", argv[2]);
    if (!in.headerProblem.empty())
        failRun("%s", in.headerProblem.c_str());
    const LAS12Header &header = in.header;

    OutputFile out(target);
    if (std::fwrite(&header, sizeof header, 1, out.get()) != 1)
        out.failWrite(errno);
    copyVariableLengthRecords(in.file.get(), out, argv[2], header.OffsetToData);

    const uint32_t n = header.NumberOfPointReturns;
    std::printf("Input LAS File          %s\n", argv[2]);
    std::printf("%28u points\n", n);
    std::printf("Output LAS File         %s\n", argv[3]);

    const PointSelection result = selectPoints(in.file.get(), out.get(), argv[2], header, raster, limits);
    checkRecordLoop(result, out, argv[2], n);
    // Flush before the tally, so that no success is reported over a short file.
    if (std::fflush(out.get()) != 0)
        out.failWrite(errno);
    printTally(result.tally, n);
    in.file.reset();
    raster = Raster();

    if (result.tally.selected != 0) {
        std::printf("... updating %s header\r", argv[3]);
        out.commit(header, result.written);
        std::printf("\n\nCompleted in %.3f seconds\n", secondsSince(cstart));
        return 0;
    }
    std::printf("\r*** Output file (%s) contains no points and it is erased ***\n", argv[3]);
    std::printf("\nCompleted in %.3f seconds\n", secondsSince(cstart));
    out.eraseOutput();
    return 1;
}

}  // namespace

int morvaneMain(int argc, char **argv)
{
    if (!openStandardDescriptors())
        return -1;
    watchTerminatingSignals();
    if (argc != 6) {
        credits();
        usage();
        std::fflush(stdout);
        return -1;
    }
    try {
        return run(argv);
    } catch (const RunFailure &) {
        std::fflush(stdout);
        return -1;
    } catch (const std::bad_alloc &) {
        // Unwound like any failure: the files of the run are closed and
        // the temporary output removed on the way here.
        std::printf("\nOut of memory\n");
        std::fflush(stdout);
        return -1;
    }
}

}  // namespace morvane
