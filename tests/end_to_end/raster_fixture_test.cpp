// Rasters in the forms GDAL 3.x and desktop GIS exports write them
// (tests/fixtures/rasters, made by make_fixtures.sh there), run through the
// real executable: the cell under known points must be the cell the grid
// was made with, and what cannot be represented is refused before the
// output is touched.
#include "console_text.h"
#include "las_builder.h"
#include "las_reader.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace test_support;

const std::string kFixtures =
    (std::filesystem::path(__FILE__).parent_path().parent_path() / "fixtures" / "rasters").string();

// Every fixture grid, north row first; NaN marks the NODATA cell.
constexpr int kCols = 4, kRows = 3;
const double kCell[kRows][kCols] = {
    {101.25, 102.5, 103.75, 105},
    {106.5, NAN, 108.75, 110},
    {111.125, 112.25, 113.375, 114.5},
};
constexpr double kNodata = -9999;

struct Georef {
    double west, north, side;  // north-west corner, cell side
    double xyScale, xOffset, yOffset;
};
const Georef kProjected{500000, 4100007.5, 2.5, 0.001, 500000, 4100000};
const Georef kGeographic{14.5, 47.25, 1.0 / 3600, 1e-7, 14, 47};

struct Probe {
    Point point;
    enum { Kept, NotSelected, OnNodata, Outside } expect;
};

int32_t raw(double v, double scale, double offset)
{
    return static_cast<int32_t>(std::lround((v - offset) / scale));
}

// Per cell: two points a quarter cell in from opposite corners, lying 1 m
// above the cell (kept with limits 0.5 .. 1.5), and one 3 m above (not
// kept). A grid read half a cell off, flipped, or with wrong values loses
// the kept points to neighbours whose values differ by more than 1 m.
std::vector<Probe> probes(const Georef &g, bool nodataDeclared)
{
    std::vector<Probe> out;
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kCols; ++c) {
            const bool hole = std::isnan(kCell[r][c]);
            // Without a declared NODATA the hole is an ordinary cell of -9999.
            const double v = hole ? kNodata : kCell[r][c];
            for (double f : {0.25, 0.75, 0.5}) {
                const double x = g.west + (c + f) * g.side;
                const double y = g.north - (r + 1 - f) * g.side;
                const double z = v + (f == 0.5 ? 3.0 : 1.0);
                Probe p;
                p.point = Point{raw(x, g.xyScale, g.xOffset), raw(y, g.xyScale, g.yOffset), raw(z, 0.001, 0),
                                static_cast<uint8_t>(1 + out.size() % 3)};
                p.expect = hole && nodataDeclared ? Probe::OnNodata : (f == 0.5 ? Probe::NotSelected : Probe::Kept);
                out.push_back(p);
            }
        }
    }
    // Just west of the grid and just north of it.
    const double x = g.west - g.side / 4, y = g.north - g.side / 2;
    out.push_back(
        {Point{raw(x, g.xyScale, g.xOffset), raw(y, g.xyScale, g.yOffset), raw(102, 0.001, 0)}, Probe::Outside});
    const double x2 = g.west + g.side / 2, y2 = g.north + g.side / 4;
    out.push_back(
        {Point{raw(x2, g.xyScale, g.xOffset), raw(y2, g.xyScale, g.yOffset), raw(102, 0.001, 0)}, Probe::Outside});
    return out;
}

// Test names from file names: the dot is not allowed in them.
std::string nameOf(std::string file)
{
    std::replace(file.begin(), file.end(), '.', '_');
    return file;
}

struct Accepted {
    const char *file;
    bool geographic;
    bool nodataDeclared;
    std::string description;  // expected lines from the SW corner on ("" to skip)
};

void PrintTo(const Accepted &a, std::ostream *os)
{
    *os << a.file;
}

class AcceptedRaster : public testing::TestWithParam<Accepted> {};

void copyFixture(const std::string &name, const TempDir &dir)
{
    writeFile(dir / name, readFile(kFixtures + "/" + name));
    if (name.size() > 4 && name.substr(name.size() - 4) == ".flt") {
        const std::string hdr = name.substr(0, name.size() - 4) + ".hdr";
        writeFile(dir / hdr, readFile(kFixtures + "/" + hdr));
    }
}

TEST_P(AcceptedRaster, PointsFallInTheCellsTheGridWasMadeWith)
{
    const Accepted &a = GetParam();
    TempDir dir;
    copyFixture(a.file, dir);
    const Georef &g = a.geographic ? kGeographic : kProjected;
    const std::vector<Probe> ps = probes(g, a.nodataDeclared);
    LasSpec layout;
    layout.scale[0] = layout.scale[1] = g.xyScale;
    layout.scale[2] = 0.001;
    layout.offset[0] = g.xOffset;
    layout.offset[1] = g.yOffset;
    std::vector<Point> points;
    size_t counts[4] = {};
    std::set<std::tuple<int32_t, int32_t, int32_t>> keptXyz;
    for (const Probe &p : ps) {
        points.push_back(p.point);
        ++counts[p.expect];
        if (p.expect == Probe::Kept)
            keptXyz.insert({p.point.x, p.point.y, p.point.z});
    }
    writeFile(dir / "in.las", buildLas(layout, points));

    const RunResult r = runMorvane({a.file, "in.las", "out.las", "0.5", "1.5"}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    PrintedTally printed;
    readTally(r.out, printed);
    const auto count = [&](size_t e) { return static_cast<uint32_t>(counts[e]); };
    EXPECT_EQ(printed, (PrintedTally{count(Probe::Kept), count(Probe::NotSelected), count(Probe::OnNodata),
                                     count(Probe::Outside)}))
        << r.out;
    if (!a.description.empty()) {
        EXPECT_NE(r.out.find(a.description), std::string::npos) << r.out;
    }

    const std::string out = readFile(dir / "out.las");
    EXPECT_EQ(validateLas(out), "");
    LasFile f;
    ASSERT_EQ(readLas(out, f), "");
    std::set<std::tuple<int32_t, int32_t, int32_t>> got;
    for (const std::string &rec : f.records) {
        const LasPointFields p = lasPointFields(rec);
        got.insert({p.x, p.y, p.z});
    }
    EXPECT_EQ(got, keptXyz);
}

// From the SW corner line to the end of the description, as the loaders
// print it; the classic forms print exactly what they always printed.
const std::string kProjectedAsc = "SW corner X           500000.00\nSW corner Y          4100000.00\n"
                                  "Cellsize                   2.500000\nNODATA value           -9999.00\n\n";
const std::string kProjectedFlt = "SW corner X           500000.00\nSW corner Y          4100000.00\n"
                                  "Cellsize                   2.500\nNODATA value           -9999.00\n\n";
const std::string kHead = "Rows                       3\nColumns                    4\n";

INSTANTIATE_TEST_SUITE_P(
    Fixtures, AcceptedRaster,
    testing::Values(
        Accepted{"gdal_aaigrid.asc", false, true, "\rASCII Raster file gdal_aaigrid.asc\n" + kHead + kProjectedAsc},
        Accepted{"gdal_aaigrid_no_nodata.asc", false, false, "NODATA value               none\n\n"},
        Accepted{"gdal_aaigrid_geographic.asc", true, true,
                 "SW corner X               14.50\nSW corner Y               47.25\n"},
        Accepted{"gdal_ehdr.flt", false, true, "\rFloating point raster file gdal_ehdr.flt\n" + kHead + kProjectedFlt},
        Accepted{"gdal_ehdr_no_nodata.flt", false, false, "NODATA value               none\n\n"},
        Accepted{"gdal_ehdr_geographic.flt", true, true, ""},
        Accepted{"gdal_ehdr_fltmax_nodata.flt", false, true,
                 "NODATA value -340282346638528859811704183484516925440.00\n\n"},
        Accepted{"gridfloat_classic.flt", false, true,
                 "\rFloating point raster file gridfloat_classic.flt\n" + kHead + kProjectedFlt},
        Accepted{"gridfloat_lsbfirst.flt", false, true, kProjectedFlt},
        Accepted{"gridfloat_msbfirst.flt", false, true, kProjectedFlt},
        Accepted{"asc_center_crlf.asc", false, true, kProjectedAsc},
        Accepted{"asc_reordered_dxdy.asc", false, true, kProjectedAsc},
        // The dotted twins above, written with decimal commas: the same
        // description, the same cells.
        Accepted{"asc_decimal_comma.asc", false, true,
                 "\rASCII Raster file asc_decimal_comma.asc\n" + kHead + kProjectedAsc},
        Accepted{"gridfloat_decimal_comma.flt", false, true,
                 "\rFloating point raster file gridfloat_decimal_comma.flt\n" + kHead + kProjectedFlt},
        // gdal_ehdr.hdr with an archive's metadata lines after it.
        Accepted{"ehdr_metadata.flt", false, true,
                 "\rFloating point raster file ehdr_metadata.flt\n" + kHead + kProjectedFlt}),
    [](const testing::TestParamInfo<Accepted> &i) { return nameOf(i.param.file); });

struct Refused {
    const char *file;
    std::string message;  // the whole line after "Cannot read raster header "
};

void PrintTo(const Refused &c, std::ostream *os)
{
    *os << c.file;
}

class RefusedRaster : public testing::TestWithParam<Refused> {};

TEST_P(RefusedRaster, RefusedByNameBeforeTheOutputIsTouched)
{
    const Refused &c = GetParam();
    TempDir dir;
    copyFixture(c.file, dir);
    writeFile(dir / "in.las", buildLas(LasSpec{}, {Point{0, 0, 0}}));
    writeFile(dir / "out.las", "an earlier result");

    const RunResult r = runMorvane({c.file, "in.las", "out.las", "0.5", "1.5"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_NE(r.out.find("\nCannot read raster header " + c.message + "\n"), std::string::npos) << r.out;
    EXPECT_EQ(readFile(dir / "out.las"), "an earlier result");
    EXPECT_EQ(r.out.find("Input LAS File"), std::string::npos) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, RefusedRaster,
    testing::Values(Refused{"gdal_aaigrid_dxdy.asc", "gdal_aaigrid_dxdy.asc: keywords 'dx' (2.500000000000) and 'dy' "
                                                     "(2.000000000000) differ: only square cells can be used"},
                    Refused{"gdal_ehdr_nonsquare.flt",
                            "gdal_ehdr_nonsquare.hdr: keywords 'XDIM' (2.5) and 'YDIM' (2) differ: "
                            "only square cells can be used"},
                    Refused{"gdal_ehdr_int16.flt",
                            "gdal_ehdr_int16.hdr: keyword 'PIXELTYPE' is 'SIGNEDINT': only FLOAT cells can be used"},
                    Refused{"gdal_ehdr_int32.flt",
                            "gdal_ehdr_int32.hdr: keyword 'PIXELTYPE' is 'SIGNEDINT': only FLOAT cells can be used"},
                    Refused{"gdal_ehdr_2bands.flt",
                            "gdal_ehdr_2bands.hdr: keyword 'NBANDS' is 2: only a single-band grid can be used"},
                    Refused{"gdal_ehdr_rotated.flt",
                            "gdal_ehdr_rotated.hdr: keywords 'ULXMAP', 'ULYMAP', 'XDIM' and 'YDIM' are "
                            "missing: the header does not place the grid (GDAL leaves them out for a "
                            "rotated grid, which cannot be used)"}),
    [](const testing::TestParamInfo<Refused> &i) { return nameOf(i.param.file); });

}  // namespace
