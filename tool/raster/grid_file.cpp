#include "raster/grid_file.h"

#include "lidar/internal/name_form.h"
#include "run_failure.h"
#include "text/text_reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morvane {

GridFile classifyGridFile(const char *name)
{
    if (lidar::has_extension(name, "asc"))
        return {GridKind::Ascii, name, name};
    if (lidar::has_extension(name, "flt"))
        return {GridKind::Float, name, lidar::companion_header_name(name)};
    return {GridKind::Unknown, name, name};
}

std::vector<std::string> GridFile::files() const
{
    if (kind == GridKind::Float)
        return {data, header};
    return {data};
}

lidar::FilePtr openGridFileOrFail(const std::string &name, const char *mode)
{
    lidar::FilePtr file = lidar::open_file(name.c_str(), mode);
    if (!file)
        failRun("Failed to open file %s for reading: %s\n", name.c_str(), std::strerror(errno));
    return file;
}

GridHeader readGridHeaderOrFail(const GridFile &f, std::FILE *data)
{
    lidar::FilePtr separate;
    if (!f.ascii())
        separate = openGridFileOrFail(f.header, "r");
    TextReader reader(f.ascii() ? data : separate.get(), 64 * 1024);
    GridHeader header;
    const std::string err = f.ascii() ? parseAsciiGridHeader(reader, header) : parseFloatGridHeader(reader, header);
    if (!err.empty())
        failRun("\nCannot read raster header %s: %s\n", f.header.c_str(), err.c_str());
    return header;
}

uint64_t progressStep(uint64_t count, double share)
{
    const auto step = static_cast<uint64_t>(static_cast<double>(count) * share);
    return step != 0 ? step : count * 100;
}

RowProgress::RowProgress(Progress progress, GridKind kind, int32_t rows)
    : shown_(progress == Progress::Shown), ascii_(kind == GridKind::Ascii), percentPerStep_(ascii_ ? 2 : 10)
{
    // A report every fiftieth (ASCII) or tenth (binary) of the rows; a grid
    // too small for that reports its last row only.
    step_ = static_cast<int32_t>(progressStep(static_cast<uint64_t>(rows), ascii_ ? 0.02 : 0.1));
}

void RowProgress::row(int32_t r) const
{
    if (!shown_ || r % step_ != 0)
        return;
    // Counts down the intervals still ahead: row 0 always shows 100.
    const int percent = 100 - percentPerStep_ * (r / step_);
    if (ascii_)
        std::printf("\r... Reading raster ... %3d%% done%46s\r", percent, " ");
    else
        std::printf("\r... Reading Raster ... %3d%% done%46s\r", percent, " ");
    std::fflush(stdout);
}

}  // namespace morvane
