// The raster read through GDAL's C API and written as a binary float grid,
// window by window of its own blocks, so that memory stays a few MiB
// whatever the raster's size and each block of the source is read once.
//
// GDAL's library is loaded only when a raster needs it: with the hundred
// libraries it brings it takes some 30 MB and 0.2 s to load, which a batch
// on an .asc or a .flt (and --help) need not pay. Its functions are called
// through pointers of the types its headers declare.
#include "dem_preparation.h"

#include "prepared_grid.h"
#include "record.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace batch {

namespace {

// Cells read at once: 4 MiB of floats, and a byte each of the mask.
constexpr int64_t kWindowCells = int64_t{1} << 20;

#define MORVANE_GDAL_FUNCTIONS(X)                                                                              \
    X(GDALAllRegister) X(CPLSetErrorHandler) X(CPLQuietErrorHandler) X(GDALSetCacheMax64) X(CPLGetLastErrorMsg)  \
    X(CPLErrorReset) X(GDALOpenEx) X(GDALClose) X(GDALGetRasterXSize) X(GDALGetRasterYSize) X(GDALGetRasterCount) \
    X(GDALGetGeoTransform) X(GDALGetRasterBand) X(GDALGetRasterDataType) X(GDALDataTypeIsComplex)                 \
    X(GDALGetFileList) X(CSLDestroy) X(GDALGetBlockSize) X(GDALGetMaskBand) X(GDALGetMaskFlags)                   \
    X(GDALGetRasterNoDataValue) X(GDALRasterIO)

// GDAL's functions, found once in its library, which then stays loaded.
struct Gdal {
#define MORVANE_GDAL_POINTER(name) decltype(&::name) name = nullptr;
    MORVANE_GDAL_FUNCTIONS(MORVANE_GDAL_POINTER)
#undef MORVANE_GDAL_POINTER
    std::string error;  // why it could not be loaded
};

// GDAL loaded and set up once: its drivers, its messages kept off the
// console (their text comes back through CPLGetLastErrorMsg), and a block
// cache that need hold no more than a window's blocks, each read once.
const Gdal &gdal()
{
    static const Gdal loaded = [] {
        Gdal g;
        void *library = ::dlopen(MORVANE_GDAL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            g.error = ::dlerror();
            return g;
        }
#define MORVANE_GDAL_LOAD(name)                                                                                        \
    if (void *symbol = ::dlsym(library, #name); symbol != nullptr)                                                     \
        g.name = std::bit_cast<decltype(g.name)>(symbol);                                                              \
    else if (g.error.empty())                                                                                          \
        g.error = MORVANE_GDAL_LIBRARY " has no " #name;
        MORVANE_GDAL_FUNCTIONS(MORVANE_GDAL_LOAD)
#undef MORVANE_GDAL_LOAD
        if (g.error.empty()) {
            g.GDALAllRegister();
            g.CPLSetErrorHandler(g.CPLQuietErrorHandler);
            g.GDALSetCacheMax64(int64_t{32} << 20);
        }
        return g;
    }();
    return loaded;
}

// GDAL's last message, without the raster's name it may start with.
std::string gdalReason(const Gdal &g, const std::string &raster, const char *fallback)
{
    std::string reason = g.CPLGetLastErrorMsg();
    if (reason.starts_with(raster + ": "))
        reason.erase(0, raster.size() + 2);
    return reason.empty() ? fallback : reason;
}

struct DatasetCloser {
    void operator()(void *dataset) const { gdal().GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

struct Source {
    Dataset dataset;
    SourceShape shape;
    std::string error;
};

Source openSource(const std::string &raster)
{
    Source s;
    const Gdal &g = gdal();
    if (!g.error.empty()) {
        s.error = "cannot read raster " + raster + ": GDAL cannot be loaded: " + g.error;
        return s;
    }
    g.CPLErrorReset();
    s.dataset.reset(g.GDALOpenEx(raster.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR, nullptr, nullptr, nullptr));
    if (!s.dataset) {
        s.error = "cannot read raster " + raster + ": " + gdalReason(g, raster, "GDAL cannot open it");
        return s;
    }
    GDALDatasetH ds = s.dataset.get();
    s.shape.rows = g.GDALGetRasterYSize(ds);
    s.shape.cols = g.GDALGetRasterXSize(ds);
    s.shape.bands = g.GDALGetRasterCount(ds);
    s.shape.georeferenced = g.GDALGetGeoTransform(ds, s.shape.transform.data()) == CE_None;
    if (s.shape.bands >= 1)
        s.shape.complexCells = g.GDALDataTypeIsComplex(g.GDALGetRasterDataType(g.GDALGetRasterBand(ds, 1))) != 0;
    s.error = shapeRefusal(raster, s.shape);
    return s;
}

// The raster's files as GDAL lists them (a VRT's sources too), stamped now.
std::vector<SourceFile> sourceFiles(const Gdal &g, GDALDatasetH ds, const std::string &raster)
{
    std::vector<SourceFile> files;
    char **list = g.GDALGetFileList(ds);
    for (char **name = list; name != nullptr && *name != nullptr; ++name)
        files.push_back({*name, stampOf(*name)});
    g.CSLDestroy(list);
    if (files.empty())
        files.push_back({raster, stampOf(raster)});
    return files;
}

// A file written under a temporary name, removed unless kept.
class TemporaryFile {
public:
    explicit TemporaryFile(std::string path) : path_(std::move(path))
    {
        fd_.reset(openRetry(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
        if (!fd_)
            error_ = errno;
    }
    ~TemporaryFile()
    {
        if (!kept_)
            ::unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile &) = delete;
    TemporaryFile &operator=(const TemporaryFile &) = delete;

    int fd() const { return fd_.get(); }
    int error() const { return error_; }
    void fail(int error)
    {
        if (error_ == 0)
            error_ = error;
    }

    // Gives the file the modification time mtimeNs and closes it.
    void finish(int64_t mtimeNs)
    {
        const timespec times[2] = {{0, UTIME_OMIT}, {mtimeNs / 1000000000, mtimeNs % 1000000000}};
        if (error_ == 0 && ::futimens(fd_.get(), times) != 0)
            error_ = errno;
        if (fd_ && ::close(fd_.release()) != 0)
            fail(errno);
    }
    // Renames it to target: 0 or an errno.
    int renameTo(const std::string &target)
    {
        if (error_ == 0 && ::rename(path_.c_str(), target.c_str()) != 0)
            error_ = errno;
        kept_ = error_ == 0;
        return error_;
    }

private:
    std::string path_;
    UniqueFd fd_;
    int error_ = 0;
    bool kept_ = false;
};

// The first band as float cells, masked cells written as the NODATA value,
// into out, the temporary file of target (rows north first, in this
// machine's byte order).
std::string convertCells(const Gdal &g, const std::string &raster, GDALDatasetH ds, const SourceShape &shape,
                         const PreparedNodata &nodata, bool masked, TemporaryFile &out, const std::string &target)
{
    GDALRasterBandH band = g.GDALGetRasterBand(ds, 1);
    GDALRasterBandH mask = masked ? g.GDALGetMaskBand(band) : nullptr;
    int blockCols = 0, blockRows = 0;
    g.GDALGetBlockSize(band, &blockCols, &blockRows);
    const int64_t rows = shape.rows, cols = shape.cols;
    const int64_t bw = std::clamp<int64_t>(blockCols, 1, cols), bh = std::clamp<int64_t>(blockRows, 1, rows);
    // Whole rows of blocks where they fit the window, else blocks side by
    // side along a row of blocks, else rows of cells.
    int64_t windowRows = 0, windowCols = cols;
    if (bh * cols <= kWindowCells)
        windowRows = std::min(rows, kWindowCells / cols / bh * bh);
    else if (bh * bw <= kWindowCells) {
        windowRows = bh;
        windowCols = std::min(cols, kWindowCells / bh / bw * bw);
    } else {
        windowRows = std::max<int64_t>(1, kWindowCells / cols);
    }
    const auto windowSize = static_cast<size_t>(windowRows * windowCols);
    std::vector<float> cells(windowSize);
    std::vector<unsigned char> valid(mask != nullptr ? windowSize : 0);

    for (int64_t row0 = 0; row0 < rows; row0 += windowRows) {
        const int64_t h = std::min(windowRows, rows - row0);
        for (int64_t col0 = 0; col0 < cols; col0 += windowCols) {
            const int64_t w = std::min(windowCols, cols - col0);
            const auto x = static_cast<int>(col0), y = static_cast<int>(row0);
            const auto wi = static_cast<int>(w), hi = static_cast<int>(h);
            if (g.GDALRasterIO(band, GF_Read, x, y, wi, hi, cells.data(), wi, hi, GDT_Float32, 0, 0) != CE_None ||
                (mask != nullptr &&
                 g.GDALRasterIO(mask, GF_Read, x, y, wi, hi, valid.data(), wi, hi, GDT_Byte, 0, 0) != CE_None))
                return "cannot read raster " + raster + ": " + gdalReason(g, raster, "GDAL could not read its cells");
            const auto n = static_cast<size_t>(w * h);
            for (size_t i = 0; i < n && mask != nullptr; ++i) {
                if (valid[i] == 0)
                    cells[i] = *nodata.value;
                else if (nodata.chosen && cells[i] == *nodata.value) {
                    char value[32];
                    std::snprintf(value, sizeof value, "%.9g", static_cast<double>(cells[i]));
                    return "raster " + raster + " has a valid cell of " + value +
                           ", the value its masked cells would be written as; give it a NODATA value first: "
                           "gdal_translate -a_nodata VALUE " +
                           raster + " OTHER.tif";
                }
            }
            // A window as wide as the grid goes out in one write, any
            // other row by row.
            const char *bytes = reinterpret_cast<const char *>(cells.data());
            const int64_t writes = w == cols ? 1 : h, cellsEach = w == cols ? w * h : w;
            for (int64_t r = 0; r < writes; ++r) {
                const auto length = static_cast<size_t>(cellsEach) * sizeof(float);
                const int error = writeAllAt(out.fd(), std::string_view(bytes + static_cast<size_t>(r) * length, length),
                                             ((row0 + r) * cols + col0) * int64_t{sizeof(float)});
                if (error != 0)
                    return "cannot write " + target + ": " + errorText(error);
            }
        }
    }
    return {};
}

}  // namespace

std::string demRefusal(const std::string &raster)
{
    return openSource(raster).error;
}

PreparedDem prepareDem(const std::string &raster, const std::string &outdir, const std::string &temporaryFolder)
{
    PreparedDem p;
    const PreparedNames names = preparedNames(raster, outdir);
    p.grid = names.grid;
    if (const auto text = readWholeFile(names.record))
        if (const auto record = parsePreparedRecord(*text); record && stillMatches(*record, raster, names)) {
            p.gridStamp = record->grid;
            p.reused = true;
            return p;
        }

    Source source = openSource(raster);
    if (!source.error.empty()) {
        p.error = source.error;
        return p;
    }
    const Gdal &g = gdal();
    GDALDatasetH ds = source.dataset.get();
    PreparedRecord record{raster, sourceFiles(g, ds, raster), {}, {}};
    // Every batch preparing these files writes the same bytes with the same
    // modification time (their newest), so the tiles' records agree on them.
    int64_t newest = 0;
    for (const SourceFile &f : record.files)
        newest = std::max(newest, f.stamp.mtimeNs);

    GDALRasterBandH band = g.GDALGetRasterBand(ds, 1);
    int hasNodata = 0;
    const double sourceNodata = g.GDALGetRasterNoDataValue(band, &hasNodata);
    const bool masked = (g.GDALGetMaskFlags(band) & GMF_ALL_VALID) == 0;
    const PreparedNodata nodata =
        preparedNodata(hasNodata != 0 ? std::optional<double>(sourceNodata) : std::nullopt, masked);

    const auto failed = [&](const std::string &what, int error) {
        p.error = "cannot prepare raster " + raster + " as " + what + ": " + errorText(error);
        return p;
    };
    TemporaryFile grid(joinPath(temporaryFolder, "prepared.flt"));
    if (grid.error() != 0)
        return failed(names.grid, grid.error());
    if (std::string error = convertCells(g, raster, ds, source.shape, nodata, masked, grid, names.grid); !error.empty()) {
        p.error = error;
        return p;
    }
    grid.finish(newest);
    TemporaryFile header(joinPath(temporaryFolder, "prepared.hdr"));
    if (header.error() == 0)
        header.fail(writeAll(header.fd(), preparedHeader(source.shape, nodata)));
    header.finish(newest);
    if (grid.error() != 0)
        return failed(names.grid, grid.error());
    if (header.error() != 0)
        return failed(names.header, header.error());
    source.dataset.reset();
    for (const SourceFile &f : record.files)
        if (stampOf(f.path) != f.stamp) {
            p.error = "raster " + raster + " changed while it was being prepared (" + f.path + "); run the batch again";
            return p;
        }

    // The old record goes first, the new one comes last: in between no
    // record vouches for the files being replaced.
    if (::unlink(names.record.c_str()) != 0 && errno != ENOENT)
        return failed(names.record, errno);
    if (const int error = grid.renameTo(names.grid); error != 0)
        return failed(names.grid, error);
    if (const int error = header.renameTo(names.header); error != 0)
        return failed(names.header, error);
    record.grid = stampOf(names.grid);
    record.header = stampOf(names.header);
    if (const int error =
            replaceFile(names.record, formatPreparedRecord(record), joinPath(temporaryFolder, "prepared.source"));
        error != 0)
        return failed(names.record, error);
    p.gridStamp = record.grid;
    return p;
}

}  // namespace batch
