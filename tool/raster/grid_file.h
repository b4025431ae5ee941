// What the raster and each format share, below both: which kind of grid a
// name stands for (asked once, the answer handed on), opening its files,
// reading its header, and the progress lines of a load.
#ifndef MORVANE_GRID_FILE_H
#define MORVANE_GRID_FILE_H

#include "grid_header/grid_header.h"
#include "lidar/internal/file_handle.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace morvane {

enum class GridKind { Ascii, Float, Unknown };

struct GridFile {
    GridKind kind = GridKind::Unknown;
    std::string data;    // the cells: the raster's own name
    std::string header;  // the keywords: the .asc itself, or the .flt's .hdr

    bool ascii() const { return kind == GridKind::Ascii; }
    // The files the run reads for the grid, each once: the .asc; the .flt
    // and its .hdr; a name of neither kind as given.
    std::vector<std::string> files() const;
};

// By the name's extension (case-sensitive): an ASCII grid, a float grid, or
// a name of neither kind (refused when the raster is opened).
GridFile classifyGridFile(const char *name);

// The file opened for reading; when it cannot be, prints so with the
// system's reason and fails the run.
lidar::FilePtr openGridFileOrFail(const std::string &name, const char *mode);

// The header parsed: an ASCII grid's from `data`, the grid file open for
// reading, a float grid's from its .hdr. A refusal is printed, naming the
// header file, and the run failed. An ASCII grid's header records where its
// values begin.
GridHeader readGridHeaderOrFail(const GridFile &file, std::FILE *data);

enum class Progress { Shown, Silent };

// The interval between progress reports over `count` items, one every
// `share` of them; where that rounds down to none, only the first item
// reports (the interval is then past the last).
uint64_t progressStep(uint64_t count, double share);

// The "Reading raster" progress lines, row by row from the north.
class RowProgress {
public:
    RowProgress(Progress progress, GridKind kind, int32_t rows);
    void row(int32_t r) const;

private:
    bool shown_;
    bool ascii_;
    int32_t percentPerStep_;
    int32_t step_ = 1;
};

}  // namespace morvane

#endif
