// Elevation grids for the tests, one home for their text and bytes: raw
// ASCII grid text and float data (any token, for malformed grids), and
// TestGrid, one grid written every way the loaders read one: ASCII grid
// text, and a binary float grid with its .hdr in the classic six-pair form
// or as GDAL's EHdr driver writes it (upper-left cell centre and XDIM/YDIM).
#ifndef TESTS_SUPPORT_GRID_BUILDER_H
#define TESTS_SUPPORT_GRID_BUILDER_H

#include "test_files.h"
#include "text_format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

// The classic six pairs; an empty nodata leaves its keyword out.
inline std::string gridHeader(int cols, int rows, const std::string &xll, const std::string &yll,
                              const std::string &cell, const std::string &nodata)
{
    std::string t = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) + "\nxllcorner " + xll +
                    "\nyllcorner " + yll + "\ncellsize " + cell + "\n";
    return nodata.empty() ? t : t + "NODATA_value " + nodata + "\n";
}

// ASCII grid text; values are given north row first, each row west to east.
inline std::string asciiGrid(int cols, int rows, const std::string &xll, const std::string &yll,
                             const std::string &cell, const std::string &nodata, const std::vector<std::string> &values)
{
    std::string t = gridHeader(cols, rows, xll, yll, cell, nodata);
    for (size_t i = 0; i < values.size(); ++i)
        t += values[i] + ((i + 1) % static_cast<size_t>(cols) == 0 ? "\n" : " ");
    return t;
}

// Binary float grid data, little-endian, north row first.
inline std::string floatGrid(const std::vector<float> &values)
{
    std::string b(values.size() * 4, '\0');
    std::memcpy(b.data(), values.data(), b.size());
    return b;
}

enum class GridForm { Ascii, FloatClassic, FloatEhdr };

inline const char *gridFormName(GridForm f)
{
    return f == GridForm::Ascii ? "asc" : f == GridForm::FloatClassic ? "flt, six-pair .hdr" : "flt, EHdr .hdr";
}

struct TestGrid {
    int rows = 1, cols = 1;
    double minx = 0, miny = 0, cell = 1;  // written with every digit
    std::string nodata = "-9999";         // empty: no NODATA keyword
    std::vector<float> south;             // row 0 (southern) first

    float at(int r, int c) const
    {
        return south[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)];
    }

    // The cell value that marks NODATA, as the loaders read the keyword.
    bool hasNodata() const { return !nodata.empty(); }
    float nodataValue() const { return std::strtof(nodata.c_str(), nullptr); }


    std::vector<float> northFirst() const
    {
        std::vector<float> north;
        for (int r = rows - 1; r >= 0; --r)
            for (int c = 0; c < cols; ++c)
                north.push_back(at(r, c));
        return north;
    }

    std::string asciiText() const
    {
        std::vector<std::string> values;
        for (const float v : northFirst())
            values.push_back(std::isnan(v) ? std::string("nan") : exactDecimal(v));
        return asciiGrid(cols, rows, exactDecimal(minx), exactDecimal(miny), exactDecimal(cell), nodata, values);
    }

    std::string headerText(GridForm form) const
    {
        if (form != GridForm::FloatEhdr)
            return gridHeader(cols, rows, exactDecimal(minx), exactDecimal(miny), exactDecimal(cell), nodata);
        std::string t = "BYTEORDER I\nLAYOUT BIL\nNROWS " + std::to_string(rows) + "\nNCOLS " + std::to_string(cols) +
                        "\nNBANDS 1\nNBITS 32\nBANDROWBYTES " + std::to_string(4 * cols) + "\nTOTALROWBYTES " +
                        std::to_string(4 * cols) + "\nPIXELTYPE FLOAT\nULXMAP " + exactDecimal(minx + cell / 2) +
                        "\nULYMAP " + exactDecimal(miny + rows * cell - cell / 2) + "\nXDIM " + exactDecimal(cell) + "\nYDIM " +
                        exactDecimal(cell) + "\n";
        return nodata.empty() ? t : t + "NODATA " + nodata + "\n";
    }

    std::string floatData() const { return floatGrid(northFirst()); }

    // Writes the grid as `base`.asc or `base`.flt + .hdr; returns the raster's name.
    std::string write(const TempDir &dir, GridForm form, const std::string &base = "dem") const
    {
        if (form == GridForm::Ascii) {
            writeFile(dir / (base + ".asc"), asciiText());
            return base + ".asc";
        }
        writeFile(dir / (base + ".flt"), floatData());
        writeFile(dir / (base + ".hdr"), headerText(form));
        return base + ".flt";
    }
};

}  // namespace test_support

#endif
