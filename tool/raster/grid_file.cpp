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

RowProgress::RowProgress(bool shown, bool ascii, int32_t rows)
    : shown_(shown), ascii_(ascii), percentPerStep_(ascii ? 2 : 10)
{
    // A report every fiftieth (ASCII) or tenth (binary) of the rows; a grid
    // too small for that reports its last row only.
    step_ = static_cast<int32_t>(rows * (ascii ? 0.02 : 0.1));
    if (step_ == 0)
        step_ = rows * 100;
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
