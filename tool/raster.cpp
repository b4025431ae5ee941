// Loading the elevation raster into the process-wide grid.
#include "raster.h"

#include "file_handle.h"
#include "process_exit.h"
#include "raster_header.h"
#include "text_reader.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

float **_raster = nullptr;
int32_t _nRows = 0;
int32_t _nCols = 0;
float _minx = 0.0f;
float _miny = 0.0f;
float _cellsize = 0.0f;
float _NODATAval = 0.0f;
int32_t _flagASCII = -1;
int32_t _flagFLOAT = -1;

namespace {

// A grid may declare NaN as its marker: that still is a NODATA value.
bool nodataDeclared = false;

[[noreturn]] void fail() { lidar::process_exit(-1); }

void adoptHeader(const RasterHeader &h)
{
    nodataDeclared = h.hasNodata;
    _nCols = h.nCols;
    _nRows = h.nRows;
    _minx = h.minx;
    _miny = h.miny;
    _cellsize = h.cellsize;
    _NODATAval = h.hasNodata ? h.nodata : std::nanf("");
}

void printDescription(const char *firstLineFormat, const char *name, const char *cellsizeFormat)
{
    std::printf(firstLineFormat, name);
    std::printf("Rows         %15d\n", _nRows);
    std::printf("Columns      %15d\n", _nCols);
    std::printf("SW corner X  %18.2f\n", static_cast<double>(_minx));
    std::printf("SW corner Y  %18.2f\n", static_cast<double>(_miny));
    std::printf(cellsizeFormat, static_cast<double>(_cellsize));
    if (!nodataDeclared)
        std::printf("NODATA value %18s\n\n", "none");
    else
        std::printf("NODATA value %18.2f\n\n", static_cast<double>(_NODATAval));
}

uint64_t cellCount() { return static_cast<uint64_t>(_nRows) * static_cast<uint64_t>(_nCols); }

// Refuses grids that could never be held, before anything is allocated.
void checkFitsInMemory(const char *name)
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    // Each row is an allocation of its own: its pointer and the allocator's
    // per-block overhead outweigh the cells of a narrow grid.
    const uint64_t rowBytes = static_cast<uint64_t>(_nCols) * sizeof(float) + sizeof(float *) + 32;
    if (pages > 0 && pageSize > 0 &&
        static_cast<uint64_t>(_nRows) > static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize) / rowBytes) {
        std::printf("\nRaster %s (%d rows x %d columns) is too large to hold in memory\n", name,
                    _nRows, _nCols);
        fail();
    }
}

// Size of a regular file, or -1 when it has none (a pipe, say).
long long regularFileSize(std::FILE *file)
{
    struct stat st{};
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<long long>(st.st_size);
}

void allocateRowPointers()
{
    _raster = static_cast<float **>(std::calloc(static_cast<size_t>(_nRows), sizeof(float *)));
    if (_raster == nullptr) {
        std::puts("\nUnable to allocate memory for raster array");
        fail();
    }
}

// Maps the whole pages inside a new row in one call, which costs a good
// deal less than taking a page fault on each of them while the row is
// filled. Only an optimisation: where the kernel cannot, the pages are
// faulted in as before.
void prefaultRow(float *row, size_t bytes)
{
#ifdef MADV_POPULATE_WRITE
    static const auto kPage = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<uintptr_t>(row);
    const uintptr_t first = (start + kPage - 1) & ~(kPage - 1), end = (start + bytes) & ~(kPage - 1);
    if (end > first)
        ::madvise(reinterpret_cast<void *>(first), end - first, MADV_POPULATE_WRITE);
#else
    (void)row;
    (void)bytes;
#endif
}

float *allocateRow(int32_t r)
{
    const size_t bytes = static_cast<size_t>(_nCols) * sizeof(float);
    auto *row = static_cast<float *>(std::malloc(bytes));
    if (row == nullptr) {
        std::printf("\nUnable to allocate memory for raster row %d\n", r);
        fail();
    }
    prefaultRow(row, bytes);
    _raster[r] = row;
    return row;
}

// Progress counts down the report intervals still ahead (percentPerStep is
// the share of rows one interval stands for); row 0 always shows 100.
void reportRow(const char *format, int32_t r, int32_t reportStep, int32_t percentPerStep)
{
    if (r % reportStep != 0)
        return;
    std::printf(format, 100 - percentPerStep * (r / reportStep), " ");
    std::fflush(stdout);
}

int32_t reportStepFor(double share)
{
    const auto step = static_cast<int32_t>(_nRows * share);
    return step != 0 ? step : _nRows * 100;
}

void loadFloatGrid(const char *name)
{
    const std::string_view rasterName(name);
    const std::string headerName = std::string(rasterName.substr(0, rasterName.size() - 4)) + ".hdr";
    RasterHeader header;
    {
        lidar::FilePtr hdr = lidar::open_file(headerName.c_str(), "r");
        if (!hdr) {
            std::printf("Failed to open file %s for reading\n", headerName.c_str());
            fail();
        }
        TextReader reader(hdr.get(), 64 * 1024);
        const std::string err = parseFloatGridHeader(reader, header);
        if (!err.empty()) {
            std::printf("\nCannot read raster header %s: %s\n", headerName.c_str(), err.c_str());
            fail();
        }
    }
    adoptHeader(header);
    printDescription("\rFloating point raster file %s\n", name, "Cellsize     %19.3f\n");

    lidar::FilePtr file = lidar::open_file(name, "rb");
    if (!file) {
        std::printf("Failed to open file %s for reading\n", name);
        fail();
    }
    const long long size = regularFileSize(file.get());
    if (size >= 0 && static_cast<uint64_t>(size) < cellCount() * sizeof(float)) {
        std::printf("\nRaster file %s holds fewer than %d x %d values\n", name, _nRows, _nCols);
        fail();
    }
    checkFitsInMemory(name);

    const int32_t reportStep = reportStepFor(0.1);
    std::printf("\r... Reading raster ...%55s", "");
    allocateRowPointers();
    const auto nCols = static_cast<size_t>(_nCols);
    for (int32_t r = _nRows - 1; r >= 0; --r) {
        float *row = allocateRow(r);
        if (std::fread(row, sizeof(float), nCols, file.get()) != nCols) {
            std::printf("\nRaster file %s ends before its %d x %d values\n", name, _nRows, _nCols);
            fail();
        }
        if (header.bigEndian) {
            for (size_t k = 0; k < nCols; ++k)
                row[k] = std::bit_cast<float>(__builtin_bswap32(std::bit_cast<uint32_t>(row[k])));
        }
        reportRow("\r... Reading Raster ... %3d%% done%46s\r", r, reportStep, 10);
    }
}

void loadAsciiGrid(const char *name)
{
    lidar::FilePtr file = lidar::open_file(name, "r");
    if (!file) {
        std::printf("Failed to open file %s for reading\n", name);
        fail();
    }
    TextReader reader(file.get());
    RasterHeader header;
    const std::string err = parseAsciiGridHeader(reader, header);
    if (!err.empty()) {
        std::printf("\nCannot read raster header %s: %s\n", name, err.c_str());
        fail();
    }
    adoptHeader(header);
    printDescription("\rASCII Raster file %s\n", name, "Cellsize     %22.6f\n");

    // Every value takes at least one character and one separator: a file too
    // small for the grid is refused before the grid is allocated.
    const long long size = regularFileSize(file.get());
    if (size >= 0 && static_cast<uint64_t>(size) + 1 < 2 * cellCount()) {
        std::printf("\nRaster file %s holds fewer than %d x %d values\n", name, _nRows, _nCols);
        fail();
    }
    checkFitsInMemory(name);

    std::printf("\r... Reading raster ...%56s", "");
    const int32_t reportStep = reportStepFor(0.02);
    allocateRowPointers();
    for (int32_t r = _nRows - 1; r >= 0; --r) {
        float *row = allocateRow(r);
        for (int32_t k = 0; k < _nCols; ++k) {
            const std::string_view token = reader.next();
            if (token.empty()) {
                if (reader.tooLong())
                    std::printf("\nRaster file %s: value %d of row %d is too long\n", name, k + 1, _nRows - r);
                else
                    std::printf("\nRaster file %s ends before its %d x %d values\n", name, _nRows, _nCols);
                fail();
            }
            if (!parseFloatToken(token, row[k])) {
                std::printf("\nRaster file %s: value %d of row %d is not a number\n", name, k + 1, _nRows - r);
                fail();
            }
        }
        reportRow("\r... Reading raster ... %3d%% done%46s\r", r, reportStep, 2);
    }
}

}  // namespace

void readRaster(char **argv)
{
    const char *name = argv[1];
    const std::string_view view(name);
    const std::string_view ext = view.size() >= 3 ? view.substr(view.size() - 3) : view;
    if (ext == "asc" && view.size() >= 4) {
        _flagASCII = 0;
        loadAsciiGrid(name);
    } else if (ext == "flt" && view.size() >= 4) {
        _flagFLOAT = 0;
        loadFloatGrid(name);
    } else {
        std::printf("\nFile extension of %s should be either \"asc\" or  \"flt\"\n", name);
        fail();
    }
}

void freeRaster()
{
    if (_raster != nullptr) {
        for (int32_t r = _nRows - 1; r >= 0; --r)
            std::free(_raster[r]);
        std::free(static_cast<void *>(_raster));
    }
    _raster = nullptr;
}
