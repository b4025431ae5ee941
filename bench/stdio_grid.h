// The plain way to load an elevation grid: fscanf("%f") per value for an
// ASCII grid, one fread per row for a binary float grid. The benchmark's
// yardstick for the product's loaders.
#ifndef MORVANE_BENCH_STDIO_GRID_H
#define MORVANE_BENCH_STDIO_GRID_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

struct StdioGrid {
    int32_t rows = 0, cols = 0;
    float minx = 0, miny = 0, cellsize = 0;
    int32_t nodata = 0;
    std::vector<float> cells;  // row 0 is the southern edge, as in the product

    float *row(int32_t r) { return cells.data() + static_cast<size_t>(r) * static_cast<size_t>(cols); }
    const float *row(int32_t r) const { return cells.data() + static_cast<size_t>(r) * static_cast<size_t>(cols); }
};

inline bool endsWith(const std::string &s, const char *tail)
{
    const size_t n = std::strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

// Loads name (.asc or .flt with its .hdr); false when a file cannot be read.
inline bool loadStdioGrid(const std::string &name, StdioGrid &g)
{
    char key[80];
    const bool ascii = endsWith(name, ".asc");
    const std::string header = ascii ? name : name.substr(0, name.size() - 4) + ".hdr";
    std::FILE *h = std::fopen(header.c_str(), "r");
    if (h == nullptr)
        return false;
    const int fields = std::fscanf(h, "%79s %d %79s %d %79s %f %79s %f %79s %f %79s %d", key, &g.cols, key, &g.rows,
                                   key, &g.minx, key, &g.miny, key, &g.cellsize, key, &g.nodata);
    if (fields != 12 || g.rows <= 0 || g.cols <= 0) {
        std::fclose(h);
        return false;
    }
    g.cells.assign(static_cast<size_t>(g.rows) * static_cast<size_t>(g.cols), 0.0f);
    bool ok = true;
    if (ascii) {
        // The header's file is the grid itself: go on reading values.
        for (int32_t r = g.rows - 1; r >= 0 && ok; --r) {
            float *row = g.row(r);
            for (int32_t c = 0; c < g.cols && ok; ++c)
                ok = std::fscanf(h, "%f", &row[c]) == 1;
        }
        std::fclose(h);
        return ok;
    }
    std::fclose(h);
    std::FILE *f = std::fopen(name.c_str(), "rb");
    if (f == nullptr)
        return false;
    for (int32_t r = g.rows - 1; r >= 0 && ok; --r)
        ok = std::fread(g.row(r), sizeof(float), static_cast<size_t>(g.cols), f) == static_cast<size_t>(g.cols);
    std::fclose(f);
    return ok;
}

#endif
