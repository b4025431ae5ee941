// One elevation grid written every way the loaders read one: ASCII grid
// text, and a binary float grid with its .hdr in the classic six-pair form
// or as GDAL's EHdr driver writes it (upper-left cell centre and XDIM/YDIM).
#ifndef TESTS_SUPPORT_GRID_BUILDER_H
#define TESTS_SUPPORT_GRID_BUILDER_H

#include "las_builder.h"
#include "test_files.h"

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace test_support {

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

    float at(int r, int c) const { return south[static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c)]; }

    static std::string number(double v)
    {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        return buf;
    }

    std::string asciiText() const
    {
        std::string t = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) + "\nxllcorner " +
                        number(minx) + "\nyllcorner " + number(miny) + "\ncellsize " + number(cell) + "\n";
        if (!nodata.empty())
            t += "NODATA_value " + nodata + "\n";
        for (int r = rows - 1; r >= 0; --r)
            for (int c = 0; c < cols; ++c)
                t += (std::isnan(at(r, c)) ? std::string("nan") : number(at(r, c))) + (c + 1 == cols ? "\n" : " ");
        return t;
    }

    std::string headerText(GridForm form) const
    {
        std::string t = "ncols " + std::to_string(cols) + "\nnrows " + std::to_string(rows) + "\n";
        if (form == GridForm::FloatEhdr)
            t = "BYTEORDER I\nLAYOUT BIL\nNROWS " + std::to_string(rows) + "\nNCOLS " + std::to_string(cols) +
                "\nNBANDS 1\nNBITS 32\nBANDROWBYTES " + std::to_string(4 * cols) + "\nTOTALROWBYTES " +
                std::to_string(4 * cols) + "\nPIXELTYPE FLOAT\nULXMAP " + number(minx + cell / 2) + "\nULYMAP " +
                number(miny + rows * cell - cell / 2) + "\nXDIM " + number(cell) + "\nYDIM " + number(cell) + "\n";
        else
            t += "xllcorner " + number(minx) + "\nyllcorner " + number(miny) + "\ncellsize " + number(cell) + "\n";
        if (!nodata.empty())
            t += (form == GridForm::FloatEhdr ? "NODATA " : "NODATA_value ") + nodata + "\n";
        return t;
    }

    std::string floatData() const
    {
        std::vector<float> north;
        for (int r = rows - 1; r >= 0; --r)
            for (int c = 0; c < cols; ++c)
                north.push_back(at(r, c));
        return floatGrid(north);
    }

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
