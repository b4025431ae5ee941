// A raster prepared for a batch, without GDAL: which shapes are refused and
// what the refusal says to run, the prepared grid's NODATA value and header,
// and the record by which a later batch reuses the grid.
#include "dem_preparation.h"
#include "prepared_grid.h"
#include "test_files.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

using batch::PreparedNodata;
using batch::PreparedRecord;
using batch::SourceShape;

namespace {

// 400 x 300 cells of 0.5 m with their north-west corner at (500000, 5000150).
SourceShape surveyShape()
{
    SourceShape s;
    s.rows = 300;
    s.cols = 400;
    s.bands = 1;
    s.georeferenced = true;
    s.transform = {500000.0, 0.5, 0.0, 5000150.0, 0.0, -0.5};
    return s;
}

TEST(PreparedGrid, OnlyAsciiAndFloatGridsGoToMorvaneAsTheyAre)
{
    for (const char *name : {"dem.asc", "d/dem.flt", "dem.tif.flt"})
        EXPECT_TRUE(batch::readByMorvane(name)) << name;
    for (const char *name : {"dem.tif", "dem.vrt", "dem.hdr", "dem.flt.aux.xml", "dem"})
        EXPECT_FALSE(batch::readByMorvane(name)) << name;
}

TEST(PreparedGrid, RefusesWhatIsNotOneBandOfSquareNorthUpCellsAndSaysWhatToRun)
{
    struct Case {
        const char *what;
        void (*change)(SourceShape &);
        std::string refusal;
    };
    const std::vector<Case> cases = {
        {"north-up square cells", [](SourceShape &) {}, ""},
        {"sides apart by printing noise", [](SourceShape &s) { s.transform[5] = -0.50000000000001; }, ""},
        {"rotated",
         [](SourceShape &s) {
             s.transform[2] = 0.1;
             s.transform[4] = -0.1;
         },
         "raster dems/dem.tif is rotated (geotransform terms 0.1 and -0.1); resample it to north-up square cells "
         "first: gdalwarp -tr 0.5099019513592785 0.5099019513592785 dems/dem.tif dems/dem-north-up.tif"},
        {"sheared", [](SourceShape &s) { s.transform[4] = 0.25; },
         "raster dems/dem.tif is rotated (geotransform terms 0 and 0.25); resample it to north-up square cells first: "
         "gdalwarp -tr 0.5 0.5 dems/dem.tif dems/dem-north-up.tif"},
        {"south-up", [](SourceShape &s) { s.transform[5] = 0.5; },
         "raster dems/dem.tif is not north-up (its rows run south to north); resample it to north-up cells first: "
         "gdalwarp -tr 0.5 0.5 dems/dem.tif dems/dem-north-up.tif"},
        {"columns east to west", [](SourceShape &s) { s.transform[1] = -0.5; },
         "raster dems/dem.tif is not north-up (its columns run east to west); resample it to north-up cells first: "
         "gdalwarp -tr 0.5 0.5 dems/dem.tif dems/dem-north-up.tif"},
        {"non-square", [](SourceShape &s) { s.transform[5] = -1.0; },
         "raster dems/dem.tif has cells of 0.5 x 1, not square; resample it to square cells first: "
         "gdalwarp -tr 0.5 0.5 dems/dem.tif dems/dem-square.tif"},
        {"a thousandth apart over the grid", [](SourceShape &s) { s.transform[5] = -0.5 - 2e-6; },
         "raster dems/dem.tif has cells of 0.5 x 0.500002, not square; resample it to square cells first: "
         "gdalwarp -tr 0.5 0.5 dems/dem.tif dems/dem-square.tif"},
        {"three bands", [](SourceShape &s) { s.bands = 3; },
         "raster dems/dem.tif has 3 bands; take the elevation band into a raster of its own first: "
         "gdal_translate -b 1 dems/dem.tif dems/dem-band1.tif"},
        {"no band", [](SourceShape &s) { s.bands = 0; },
         "raster dems/dem.tif has 0 bands; take the elevation band into a raster of its own first: "
         "gdal_translate -b 1 dems/dem.tif dems/dem-band1.tif"},
        {"complex", [](SourceShape &s) { s.complexCells = true; },
         "raster dems/dem.tif has complex cells, which are not elevations"},
        {"no geotransform", [](SourceShape &s) { s.georeferenced = false; },
         "raster dems/dem.tif has no geotransform, so its cells have no place; give it one first: "
         "gdal_translate -a_ullr ULX ULY LRX LRY dems/dem.tif dems/dem-placed.tif"},
        {"not finite", [](SourceShape &s) { s.transform[0] = std::numeric_limits<double>::quiet_NaN(); },
         "raster dems/dem.tif has a geotransform that is not finite"},
    };
    for (const Case &c : cases) {
        SourceShape s = surveyShape();
        c.change(s);
        EXPECT_EQ(batch::shapeRefusal("dems/dem.tif", s), c.refusal) << c.what;
    }
}

TEST(PreparedGrid, NodataIsTheSourcesOrAValueNoValidCellMayHold)
{
    constexpr float kLowest = std::numeric_limits<float>::lowest();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::optional<double> source;
        bool masked;
        std::optional<float> value;
        bool chosen;
    };
    const std::vector<Case> cases = {
        {std::nullopt, false, std::nullopt, false},  // every cell valid: no NODATA, as gdal_translate writes it
        {std::nullopt, true, kLowest, true},         // a mask but no value: the lowest float
        {-9999.0, true, -9999.0f, false},
        {-32768.0, true, -32768.0f, false},
        {4294967295.0, true, 4294967296.0f, true},  // rounded as the cells are: a valid cell may not round to it
        {0.1, true, 0.1f, true},
        {-1e300, true, kLowest, true},  // beyond a float
        {-HUGE_VAL, true, -HUGE_VALF, false},
    };
    for (const Case &c : cases) {
        const PreparedNodata n = batch::preparedNodata(c.source, c.masked);
        EXPECT_EQ(n.value, c.value) << (c.source ? *c.source : 0.0);
        EXPECT_EQ(n.chosen, c.chosen) << (c.source ? *c.source : 0.0);
    }
    const PreparedNodata n = batch::preparedNodata(nan, true);
    ASSERT_TRUE(n.value);
    EXPECT_TRUE(std::isnan(*n.value));
    EXPECT_FALSE(n.chosen);
}

TEST(PreparedGrid, HeaderPlacesTheCellsWhereTheGeotransformDoes)
{
    SourceShape s = surveyShape();
    EXPECT_EQ(batch::preparedHeader(s, {-9999.0f, false}),
              "ncols 400\nnrows 300\nxllcorner 500000\nyllcorner 5000000\ncellsize 0.5\nNODATA_value -9999\n"
              "byteorder LSBFIRST\n");
    EXPECT_EQ(batch::preparedHeader(s, {std::numeric_limits<float>::quiet_NaN(), false}),
              "ncols 400\nnrows 300\nxllcorner 500000\nyllcorner 5000000\ncellsize 0.5\nNODATA_value nan\n"
              "byteorder LSBFIRST\n");
    // Numbers no short decimal holds keep every bit; sides apart by noise
    // make one, as Morvane reads XDIM and YDIM.
    s.transform = {512345.1, 0.3, 0.0, 4207400.7, 0.0, -0.30000000000000004};
    s.rows = 1;
    EXPECT_EQ(batch::preparedHeader(s, {}),
              "ncols 400\nnrows 1\nxllcorner 512345.09999999998\nyllcorner 4207400.4000000004\n"
              "cellsize 0.30000000000000004\nbyteorder LSBFIRST\n");
    EXPECT_EQ(std::strtod("512345.09999999998", nullptr), 512345.1);
    EXPECT_EQ(std::strtod("4207400.4000000004", nullptr), 4207400.7 - 0.30000000000000004);
}

TEST(PreparedGrid, LiesUnderOutdirByTheRastersName)
{
    const batch::PreparedNames n = batch::preparedNames("/data/dems/mosaic 2024.vrt", "out/");
    EXPECT_EQ(n.grid, "out/mosaic 2024.vrt.flt");
    EXPECT_EQ(n.header, "out/mosaic 2024.vrt.hdr");
    EXPECT_EQ(n.record, "out/mosaic 2024.vrt.source");
}

PreparedRecord sampleRecord()
{
    return {"dems/mosaic 2024.vrt",
            {{"dems/mosaic 2024.vrt", {1186, 1796857854320923292}},
             {"dems/100%/w\n.tif", {320500, 1796857854132793677}},
             {"/vsizip/x.zip/e.tif", {-1, -1}}},
            {800000, 1796857854320923292},
            {104, 1796857854320923292}};
}

TEST(PreparedGrid, RecordReadsBackWhatItWroteAndRefusesDamage)
{
    const PreparedRecord r = sampleRecord();
    const std::string text = batch::formatPreparedRecord(r);
    EXPECT_EQ(text, "morvane-batch prepared grid 1\nraster dems/mosaic%202024.vrt\n"
                    "file dems/mosaic%202024.vrt 1186 1796857854320923292\n"
                    "file dems/100%25/w%0A.tif 320500 1796857854132793677\nfile /vsizip/x.zip/e.tif -1 -1\n"
                    "grid 800000 1796857854320923292\nheader 104 1796857854320923292\n");
    EXPECT_EQ(batch::parsePreparedRecord(text), r);
    const auto replaced = [&](const std::string &from, const std::string &to) {
        std::string t = text;
        return t.replace(t.find(from), from.size(), to);
    };
    for (const std::string &damaged : {
             std::string(),
             text.substr(0, text.size() - 1),                       // cut short
             text.substr(0, text.find("header")),                   // the last line missing
             replaced("prepared grid 1", "prepared grid 2"),        // another format
             replaced("file dems/mosaic%202024.vrt 1186 ", "file dems/mosaic%202024.vrt 11x6 "),
             replaced("grid 800000 ", "grid 800000 1 "),            // a field too many
             replaced("%0A", "%0"),                                 // a broken escape
             replaced("file /vsizip", "path /vsizip"),              // a line of no kind
             replaced("raster dems/mosaic%202024.vrt\nfile dems/mosaic%202024.vrt 1186 1796857854320923292\n"
                      "file dems/100%25/w%0A.tif 320500 1796857854132793677\nfile /vsizip/x.zip/e.tif -1 -1\n",
                      "raster dems/mosaic%202024.vrt\n"),  // no file
         })
        EXPECT_EQ(batch::parsePreparedRecord(damaged), std::nullopt) << damaged;
}

TEST(PreparedGrid, IsReusedOnlyWhileEveryFileIsAsTheRecordSays)
{
    test_support::TempDir dir;
    const batch::PreparedNames names = batch::preparedNames(dir / "dem.vrt", dir / "out");
    std::filesystem::create_directory(dir / "out");
    for (const std::string &file : {dir / "dem.vrt", dir / "w.tif", names.grid, names.header})
        test_support::writeFile(file, "bytes of " + file);
    const auto recordNow = [&] {
        return PreparedRecord{dir / "dem.vrt",
                              {{dir / "dem.vrt", batch::stampOf(dir / "dem.vrt")},
                               {dir / "w.tif", batch::stampOf(dir / "w.tif")}},
                              batch::stampOf(names.grid),
                              batch::stampOf(names.header)};
    };
    const PreparedRecord r = recordNow();
    EXPECT_TRUE(batch::stillMatches(r, dir / "dem.vrt", names));
    EXPECT_FALSE(batch::stillMatches(r, "dem.vrt", names)) << "the raster's path as given";
    for (const std::string &file : {dir / "w.tif", names.grid, names.header}) {
        SCOPED_TRACE(file);
        test_support::writeFile(file, "other bytes of " + file);
        EXPECT_FALSE(batch::stillMatches(r, dir / "dem.vrt", names));
        EXPECT_TRUE(batch::stillMatches(recordNow(), dir / "dem.vrt", names));
        std::filesystem::remove(file);
        EXPECT_FALSE(batch::stillMatches(recordNow(), dir / "dem.vrt", names)) << "a file gone is never as recorded";
        test_support::writeFile(file, "bytes of " + file);
    }
    PreparedRecord none = recordNow();
    none.files.clear();
    EXPECT_FALSE(batch::stillMatches(none, dir / "dem.vrt", names));
}

TEST(PreparedGrid, ABuildWithoutGdalNamesTheConversion)
{
    EXPECT_EQ(batch::withoutGdalMessage("dems/dem.tif"),
              "this morvane-batch was built without GDAL and reads .asc and .flt rasters only; convert dems/dem.tif "
              "first: gdal_translate -of EHdr -ot Float32 dems/dem.tif dems/dem.flt");
    EXPECT_EQ(batch::withoutGdalMessage("my.dems/mosaic"),
              "this morvane-batch was built without GDAL and reads .asc and .flt rasters only; convert my.dems/mosaic "
              "first: gdal_translate -of EHdr -ot Float32 my.dems/mosaic my.dems/mosaic.flt");
#ifndef MORVANE_WITH_GDAL
    EXPECT_EQ(batch::demRefusal("dems/dem.tif"), batch::withoutGdalMessage("dems/dem.tif"));
    EXPECT_EQ(batch::prepareDem("dems/dem.tif", "out", "out/tmp").error, batch::withoutGdalMessage("dems/dem.tif"));
#endif
}

}  // namespace
