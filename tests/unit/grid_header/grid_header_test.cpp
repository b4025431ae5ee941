// Grid headers read by keyword: what each accepted form yields, and that
// every form the loaders cannot represent is refused with the keyword named.
#include "grid_header/grid_header.h"
#include "text/text_reader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

using namespace morvane;

namespace {

struct Parsed {
    std::string error;
    GridHeader header;
    std::string nextToken;  // what the reader hands out after the header
};

Parsed parse(const std::string &text, bool ascii)
{
    std::string copy = text;
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> f(fmemopen(copy.data(), copy.size(), "r"), &std::fclose);
    if (!f)
        throw std::runtime_error("fmemopen failed");
    TextReader reader(f.get(), 4096);
    Parsed p;
    p.error = ascii ? parseAsciiGridHeader(reader, p.header) : parseFloatGridHeader(reader, p.header);
    p.nextToken = std::string(reader.next());
    return p;
}

constexpr bool kAsc = true;
constexpr bool kHdr = false;

struct Accepted {
    const char *name;
    bool ascii;
    std::string text;
    int32_t nCols, nRows;
    double minx, miny, cellsize;
    bool hasNodata;
    double nodata;
    bool bigEndian;
};

void PrintTo(const Accepted &c, std::ostream *os)
{
    *os << c.name;
}

class AcceptedHeader : public testing::TestWithParam<Accepted> {};

TEST_P(AcceptedHeader, YieldsTheGridItDescribes)
{
    const Accepted &c = GetParam();
    const Parsed p = parse(c.text, c.ascii);
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.header.grid.cols, c.nCols);
    EXPECT_EQ(p.header.grid.rows, c.nRows);
    // Corners given as centres are a half cell off: a rounding or two.
    EXPECT_DOUBLE_EQ(p.header.grid.minx, c.minx);
    EXPECT_DOUBLE_EQ(p.header.grid.miny, c.miny);
    EXPECT_DOUBLE_EQ(p.header.grid.cellsize, c.cellsize);
    EXPECT_EQ(p.header.hasNodata, c.hasNodata);
    if (c.hasNodata) {
        EXPECT_EQ(p.header.nodata, static_cast<float>(c.nodata));
    }
    EXPECT_EQ(p.header.bigEndian, c.bigEndian);
}

const std::string kSix = "ncols 4\nnrows 3\nxllcorner 500000\nyllcorner 4100000\ncellsize 2.5\n";
const std::string kBil = "BYTEORDER I\nLAYOUT BIL\nNROWS 3\nNCOLS 4\nNBANDS 1\nNBITS 32\n"
                         "BANDROWBYTES 16\nTOTALROWBYTES 16\nPIXELTYPE FLOAT\n"
                         "ULXMAP 500001.25\nULYMAP 4100006.25\nXDIM 2.5\nYDIM 2.5\n";

INSTANTIATE_TEST_SUITE_P(
    Forms, AcceptedHeader,
    testing::Values(
        Accepted{"ClassicAsc", kAsc, kSix + "NODATA_value -9999\n1 2 3 4\n", 4, 3, 500000, 4100000, 2.5, true, -9999,
                 false},
        Accepted{"ClassicHdr", kHdr, kSix + "NODATA_value -9999\n", 4, 3, 500000, 4100000, 2.5, true, -9999, false},
        Accepted{"GridFloatLsbFirst", kHdr, kSix + "NODATA_value -9999\nbyteorder LSBFIRST\n", 4, 3, 500000, 4100000,
                 2.5, true, -9999, false},
        Accepted{"GridFloatMsbFirst", kHdr, kSix + "NODATA_value -9999\nbyteorder MSBFIRST\n", 4, 3, 500000, 4100000,
                 2.5, true, -9999, true},
        Accepted{"ByteOrderLetterM", kHdr, kSix + "byteorder m\n", 4, 3, 500000, 4100000, 2.5, false, 0, true},
        Accepted{"NoNodata", kAsc, kSix + "7 8 9\n", 4, 3, 500000, 4100000, 2.5, false, 0, false},
        Accepted{"FractionalNodata", kAsc, kSix + "NODATA_value -9999.5\n1\n", 4, 3, 500000, 4100000, 2.5, true,
                 -9999.5, false},
        Accepted{"GdalFloatMaxNodata", kHdr, kBil + "NODATA -3.4028235e+38\n", 4, 3, 500000, 4100000, 2.5, true,
                 -3.4028234663852886e+38, false},
        Accepted{"AnyOrderAnyCase", kAsc,
                 "CellSize 2.5\nYLLCORNER 4100000\nNoData_Value -1\nXllCorner 500000\nNROWS 3\nnCols 4\n0\n", 4, 3,
                 500000, 4100000, 2.5, true, -1, false},
        Accepted{"CentreRegistered", kAsc,
                 "ncols 4\nnrows 3\nxllcenter 500001.25\nyllcenter 4100001.25\ncellsize 2.5\n1\n", 4, 3, 500000,
                 4100000, 2.5, false, 0, false},
        Accepted{"SquareDxDy", kAsc, "ncols 4\nnrows 3\nxllcorner 500000\nyllcorner 4100000\ndx 2.5\ndy 2.5\n1\n", 4, 3,
                 500000, 4100000, 2.5, false, 0, false},
        Accepted{"CellsizeAgreeingWithDxDy", kAsc, kSix + "dx 2.5\ndy 2.5\n1\n", 4, 3, 500000, 4100000, 2.5, false, 0,
                 false},
        Accepted{"GdalEhdrFloat", kHdr, kBil + "NODATA -9999\n", 4, 3, 500000, 4100000, 2.5, true, -9999, false},
        Accepted{"GdalEhdrNoNodata", kHdr, kBil, 4, 3, 500000, 4100000, 2.5, false, 0, false},
        // GDAL prints XDIM and YDIM of one geotransform with 15 digits.
        Accepted{"GdalGeographicDimNoise", kHdr,
                 "NROWS 3\nNCOLS 4\nULXMAP 14.5001388888889\nULYMAP 47.2498611111111\n"
                 "XDIM 0.000277777777777377\nYDIM 0.000277777777777525\n",
                 4, 3, 14.5001388888889 - 0.000277777777777377 / 2, 47.2498611111111 - 2.5 * 0.000277777777777525,
                 (0.000277777777777377 + 0.000277777777777525) / 2, false, 0, false},
        // Without PIXELTYPE, 32 bits in a .flt are floating point.
        Accepted{"NbitsWithoutPixeltype", kHdr,
                 "nrows 3\nncols 4\nnbits 32\nulxmap 500001.25\nulymap 4100006.25\nxdim 2.5\nydim 2.5\n", 4, 3, 500000,
                 4100000, 2.5, false, 0, false},
        Accepted{"BsqSingleBand", kHdr, "LAYOUT BSQ\n" + kSix, 4, 3, 500000, 4100000, 2.5, false, 0, false},
        Accepted{"ZeroRotation", kHdr, kSix + "ROTATION 0\n", 4, 3, 500000, 4100000, 2.5, false, 0, false},
        Accepted{"CrlfAndTabs", kAsc,
                 "ncols\t4\r\nnrows\t3\r\nxllcorner\t-120.5\r\nyllcorner\t-33.25\r\ncellsize\t0.5\r\n1\r\n", 4, 3,
                 -120.5, -33.25, 0.5, false, 0, false},
        Accepted{"PlusSigns", kHdr, "ncols +4\nnrows +3\nxllcorner +1\nyllcorner +2\ncellsize +0.5\nnodata_value +7\n",
                 4, 3, 1, 2, 0.5, true, 7, false},
        // As GDAL's comma test grid writes them.
        Accepted{"DecimalCommaAsc", kAsc,
                 "ncols 4\nnrows 3\nxllcorner 0,500000E+06\nyllcorner 4100000,25\ncellsize ,25E+01\n"
                 "NODATA_value -9999,5\n1,5 2\n",
                 4, 3, 500000, 4100000.25, 2.5, true, -9999.5, false},
        Accepted{"DecimalCommaHdr", kHdr,
                 "NROWS 3\nNCOLS 4\nULXMAP 500001,25\nULYMAP 4100006,25\nXDIM 2,5\nYDIM 2,5\nNODATA -9999,0\n", 4, 3,
                 500000, 4100000, 2.5, true, -9999, false},
        // Lines of archive metadata around GDAL's header, skipped whole as
        // GDAL skips them: a line without a value, values of several words.
        Accepted{"MetadataLinesHdr", kHdr,
                 "DatabaseName Regional elevation archive\nVersion 2.1\n" + kBil +
                     "NODATA -9999\nMinX 500000\nMinValue 101.25\nMAX_VALUE 114.5\nProjection UTM\nParameters\n"
                     "UNITS METERS\n",
                 4, 3, 500000, 4100000, 2.5, true, -9999, false},
        // The rest of a metadata line is never read as keywords.
        Accepted{"MetadataLineHoldingKeywords", kHdr, "Comment ncols 9 nrows 9 cellsize 7\n" + kSix, 4, 3, 500000,
                 4100000, 2.5, false, 0, false}),
    [](const testing::TestParamInfo<Accepted> &i) { return std::string(i.param.name); });

TEST(AsciiGridHeader, EndsAtTheFirstCellValue)
{
    // Once the header is complete, what follows is data even when it is no
    // number: the loader then reports it as a bad value, not a keyword.
    for (const char *first : {"101.25", "-9999", "1e3", "nan", "-inf", "+7", "1,5", "abc"}) {
        const Parsed p = parse(kSix + "NODATA_value -9999\n" + first + " 2 3\n", kAsc);
        ASSERT_EQ(p.error, "") << first;
        EXPECT_EQ(p.nextToken, first);
    }
}

// The classic six pairs in their fixed order: the counts and NODATA as the
// fixed-format reading gave them, the georeference exactly as written (in
// double, never rounded to single precision).
TEST(ClassicHeader, ReadsTheGeoreferenceAsWritten)
{
    const char *values[][6] = {
        {"4", "3", "500000", "4100000", "2.5", "-9999"},
        {"1000", "1", "316223.4567891", "5412345.678901", "0.1", "0"},
        {"7", "9", "-0.000001", "1e-3", "3.3333333333", "-32768"},
        {"2", "2", "123456789.123", "-98765.4321", "1.00000011920928955", "32767"},
        {"1", "1", "0.1", "0.2", "0.30000001192092896", "-1"},
    };
    for (const auto &v : values) {
        const std::string text = std::string("ncols ") + v[0] + "\nnrows " + v[1] + "\nxllcorner " + v[2] +
                                 "\nyllcorner " + v[3] + "\ncellsize " + v[4] + "\nNODATA_value " + v[5] + "\n";
        const int nCols = std::atoi(v[0]), nRows = std::atoi(v[1]), nodata = std::atoi(v[5]);
        const double minx = std::strtod(v[2], nullptr), miny = std::strtod(v[3], nullptr);
        const double cellsize = std::strtod(v[4], nullptr);
        // Written with decimal commas, each value reads as its dotted twin.
        std::string comma = text;
        for (char &c : comma)
            c = c == '.' ? ',' : c;
        for (const auto &[ascii, header] :
             {std::pair{kAsc, text}, std::pair{kHdr, text}, std::pair{kAsc, comma}, std::pair{kHdr, comma}}) {
            const Parsed p = parse(header + (ascii ? "5\n" : ""), ascii);
            ASSERT_EQ(p.error, "") << header;
            EXPECT_EQ(p.header.grid.cols, nCols) << text;
            EXPECT_EQ(p.header.grid.rows, nRows) << text;
            EXPECT_EQ(p.header.grid.minx, minx) << text;
            EXPECT_EQ(p.header.grid.miny, miny) << text;
            EXPECT_EQ(p.header.grid.cellsize, cellsize) << text;
            EXPECT_TRUE(p.header.hasNodata);
            EXPECT_EQ(p.header.nodata, static_cast<float>(nodata)) << text;
            EXPECT_FALSE(p.header.bigEndian);
        }
    }
}

struct Refused {
    const char *name;
    bool ascii;
    std::string text;
    std::vector<std::string> saying;  // each must appear in the message
};

void PrintTo(const Refused &c, std::ostream *os)
{
    *os << c.name;
}

class RefusedHeader : public testing::TestWithParam<Refused> {};

TEST_P(RefusedHeader, NamesTheKeywordAtFault)
{
    const Refused &c = GetParam();
    const Parsed p = parse(c.text, c.ascii);
    ASSERT_NE(p.error, "") << "accepted:\n" << c.text;
    for (const std::string &s : c.saying)
        EXPECT_NE(p.error.find(s), std::string::npos) << "message: " << p.error << "\nlacks: " << s;
}

const std::string kPlace = "xllcorner 0\nyllcorner 0\n";
const std::string kCount = "ncols 4\nnrows 3\n";

INSTANTIATE_TEST_SUITE_P(
    Forms, RefusedHeader,
    testing::Values(
        Refused{"UnknownKeywordAsc",
                kAsc,
                "ncols 4\nnrows 3\ncolour red\nxllcorner 1\nyllcorner 1\ncellsize 1\n1\n",
                {"unknown keyword 'colour'"}},
        // In an ASCII grid an unknown word may be a cell value: never skipped.
        Refused{"MetadataKeywordAsc",
                kAsc,
                "ncols 4\nnrows 3\nDatabaseName archive\nxllcorner 1\nyllcorner 1\ncellsize 1\n1\n",
                {"unknown keyword 'DatabaseName'"}},
        // Where a .hdr keyword stands, only a word is metadata.
        Refused{"NumbersForAKeywordHdr", kHdr, kSix + "12 34\n", {"unknown keyword '12'"}},
        Refused{"BadValueAmongMetadata",
                kHdr,
                "Version 2\n" + kSix + "MinValue 1\nNODATA_value low\nProjection UTM\n",
                {"'NODATA_value'", "'low'"}},
        Refused{"RepeatedAmongMetadata", kHdr, kSix + "Projection UTM\ncellsize 3\n", {"'cellsize' is given twice"}},
        Refused{"DecimalCommaInACount", kHdr, "ncols 4,0\nnrows 3\n" + kPlace + "cellsize 1\n", {"'ncols'", "'4,0'"}},
        Refused{"TwoCommasInACorner",
                kHdr,
                "ncols 4\nnrows 3\nxllcorner 500,000,5\nyllcorner 0\ncellsize 1\n",
                {"'xllcorner'", "'500,000,5'"}},
        Refused{"CommaAndDotInACellSize", kHdr, kCount + kPlace + "cellsize 1,000.5\n", {"'cellsize'", "'1,000.5'"}},
        Refused{"MisspeltCentreKeyword",
                kAsc,
                "ncols 4\nnrows 3\nxllcentre 1\nyllcenter 1\ncellsize 1\n1\n",
                {"'xllcentre'"}},
        Refused{
            "NumberWhereKeywordExpectedHdr", kHdr, kSix + "NODATA_value -9999 -8888\n", {"'-8888'", "'NODATA_value'"}},
        Refused{"KeywordWithoutValue", kHdr, "ncols\nnrows 3\n" + kPlace + "cellsize 1\n", {"'ncols' has no value"}},
        Refused{"ValueMissingAtEnd", kHdr, kSix + "NODATA_value\n", {"'NODATA_value' has no value"}},
        Refused{"NonNumericCount",
                kHdr,
                "ncols four\nnrows 3\n" + kPlace + "cellsize 1\n",
                {"cannot read the value 'four' of keyword 'ncols'"}},
        Refused{"FractionalCount", kHdr, "ncols 4.5\nnrows 3\n" + kPlace + "cellsize 1\n", {"'ncols'", "'4.5'"}},
        Refused{"ZeroRows",
                kHdr,
                "ncols 4\nnrows 0\n" + kPlace + "cellsize 1\n",
                {"'nrows' must be a positive 32-bit count"}},
        Refused{"HugeColumns",
                kHdr,
                "ncols 2147483648\nnrows 1\n" + kPlace + "cellsize 1\n",
                {"'ncols' must be a positive 32-bit count"}},
        Refused{"NonNumericCorner",
                kAsc,
                "ncols 4\nnrows 3\nxllcorner east\nyllcorner 0\ncellsize 1\n1\n",
                {"'xllcorner'", "'east'"}},
        Refused{"NonNumericNodata", kHdr, kSix + "NODATA_value none\n", {"'NODATA_value'", "'none'"}},
        Refused{"TwoBands", kHdr, kBil + "NBANDS 2\n", {"'NBANDS'"}},
        Refused{"SixteenBits", kHdr, "NBITS 16\n" + kSix, {"'NBITS'", "16"}},
        Refused{"SignedIntegerCells", kHdr, "PIXELTYPE SIGNEDINT\nNBITS 32\n" + kSix, {"'PIXELTYPE'", "SIGNEDINT"}},
        Refused{"UnsignedIntegerCells", kHdr, "PIXELTYPE UNSIGNEDINT\n" + kSix, {"'PIXELTYPE'"}},
        Refused{"UnknownLayout", kHdr, "LAYOUT XYZ\n" + kSix, {"'LAYOUT'"}},
        Refused{"PaddedRows", kHdr, "BANDROWBYTES 20\n" + kSix, {"'BANDROWBYTES'", "16"}},
        Refused{"RowsOfSeveralBands", kHdr, "TOTALROWBYTES 32\n" + kSix, {"'TOTALROWBYTES'"}},
        Refused{"SkippedHeaderBytes", kHdr, "SKIPBYTES 8\n" + kSix, {"'SKIPBYTES'"}},
        Refused{"GapBetweenBands", kHdr, "BANDGAPBYTES 4\n" + kSix, {"'BANDGAPBYTES'"}},
        Refused{"UnknownByteOrder", kHdr, kSix + "byteorder VMS_FLOAT\n", {"'byteorder'", "VMS_FLOAT"}},
        Refused{"NonSquareXdimYdim",
                kHdr,
                "NROWS 3\nNCOLS 4\nULXMAP 1\nULYMAP 1\nXDIM 2.5\nYDIM 2\n",
                {"'XDIM'", "'YDIM'", "square"}},
        Refused{"NonSquareDxDy", kAsc, kCount + kPlace + "dx 2.5\ndy 2.0\n1\n", {"'dx'", "'dy'", "square"}},
        // One part in ten thousand over 4 cells stays; over a 10000-row grid it drifts a cell.
        Refused{"SlightlyNonSquareLargeGrid",
                kHdr,
                "ncols 10000\nnrows 10000\n" + kPlace + "dx 1.0001\ndy 1\n",
                {"'dx'", "'dy'"}},
        Refused{"DxWithoutDy", kAsc, kCount + kPlace + "dx 2.5\n1\n", {"'dx'", "'dy'"}},
        Refused{"YdimWithoutXdim", kHdr, kCount + "ULXMAP 1\nULYMAP 1\nYDIM 2\n", {"'YDIM'", "'XDIM'"}},
        Refused{"CellsizeDisagreesWithDx",
                kAsc,
                kCount + kPlace + "cellsize 2\ndx 2.5\ndy 2.5\n1\n",
                {"'cellsize'", "'dx'"}},
        Refused{"SouthUpYdim", kHdr, kCount + "ULXMAP 1\nULYMAP 1\nXDIM 2.5\nYDIM -2.5\n", {"'YDIM'", "positive"}},
        Refused{"CellsizeBeyondDoublePrecision", kHdr, kCount + kPlace + "cellsize 1e309\n", {"'cellsize'"}},
        Refused{"InfiniteCorner", kHdr, kCount + "xllcorner inf\nyllcorner 0\ncellsize 1\n", {"'xllcorner'"}},
        Refused{"RotatedByGdal",
                kHdr,
                "BYTEORDER I\nLAYOUT BIL\nNROWS 3\nNCOLS 4\nNBANDS 1\nNBITS 32\nBANDROWBYTES 16\n"
                "TOTALROWBYTES 16\nPIXELTYPE FLOAT\nNODATA -9999\n",
                {"'ULXMAP'", "rotated"}},
        Refused{"RotationKeyword", kHdr, kSix + "ROTATION 30\n", {"'ROTATION'", "rotated"}},
        Refused{"RepeatedKeyword", kHdr, kSix + "ncols 5\n", {"'ncols' is given twice"}},
        Refused{
            "TwoNodataSpellings", kHdr, kSix + "NODATA_value -9999\nNODATA -9999\n", {"'NODATA_value'", "'NODATA'"}},
        Refused{"CornerAndCentre", kAsc, kSix + "xllcenter 1\n1\n", {"'xllcorner'", "'xllcenter'"}},
        Refused{"CornerAndUpperLeft", kHdr, kSix + "ULYMAP 4100006.25\n", {"'yllcorner'", "'ULYMAP'"}},
        Refused{"MissingColumns", kHdr, "nrows 3\n" + kPlace + "cellsize 1\n", {"'ncols' is missing"}},
        Refused{"MissingRows", kAsc, "ncols 3\n" + kPlace + "cellsize 1\n1\n", {"'nrows' is missing"}},
        Refused{"MissingCellsize", kHdr, kCount + kPlace, {"'cellsize' is missing"}},
        Refused{"MissingCorner", kAsc, kCount + "yllcorner 0\ncellsize 1\n1\n", {"'xllcorner' is missing"}},
        Refused{"MissingUpperLeftY", kHdr, kCount + "ULXMAP 1\nXDIM 1\nYDIM 1\n", {"'ULYMAP' is missing"}},
        Refused{"EmptyHeader", kHdr, "", {"'ncols' is missing"}},
        Refused{"BinaryJunk", kHdr, std::string("\x01\x02\x7f\xff\x10 4", 7), {"unknown keyword '"}}),
    [](const testing::TestParamInfo<Refused> &i) { return std::string(i.param.name); });

TEST(RefusedHeaderMessage, ShowsNoControlBytes)
{
    const Parsed p = parse(std::string("\x1b[2J\x07garbage", 11), kHdr);
    ASSERT_NE(p.error, "");
    for (char c : p.error)
        EXPECT_TRUE(c >= 0x20 && c < 0x7f) << static_cast<int>(c);
}

}  // namespace
