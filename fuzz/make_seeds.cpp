// Writes the seed corpora of the fuzz targets (fuzz/corpus/<target>/) from
// the tests' LAS and grid builders: small valid files of every kind, and a
// few of each way of being wrong.
//   make_seeds <corpus directory>
#include "grid_builder.h"
#include "las_builder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

using namespace test_support;

namespace {

const std::string kSep = "|MVSEP|";

void put(const std::filesystem::path &dir, const std::string &name, const std::string &bytes)
{
    std::filesystem::create_directories(dir);
    std::FILE *f = std::fopen((dir / name).c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
        std::perror(name.c_str());
        std::exit(1);
    }
    std::fclose(f);
}

// Points spread over a 3 x 4 grid of 1-unit cells at (100, 200), with
// elevations around the cell values; scale 0.01.
std::vector<Point> points(int n)
{
    std::vector<Point> p;
    for (int i = 0; i < n; ++i) {
        Point q;
        q.x = 10000 + (i * 37) % 450 - 25;  // a few fall west or east of the grid
        q.y = 20000 + (i * 53) % 350 - 25;
        q.z = 1000 + (i * 71) % 900;
        q.returnByte = static_cast<uint8_t>(1 + i % 7);
        p.push_back(q);
    }
    return p;
}

std::string grid3x4()
{
    return asciiGrid(4, 3, "100", "200", "1", "-9999",
                     {"10", "11", "12", "-9999", "13", "14.5", "nan", "16", "17", "18", "19", "20"});
}

std::string hdr3x4(const std::string &extra = "")
{
    return "ncols 4\nnrows 3\nxllcorner 100\nyllcorner 200\ncellsize 1\nNODATA_value -9999\n" + extra;
}

std::string flt3x4()
{
    return floatGrid({10, 11, 12, -9999, 13, 14.5f, 15, 16, 17, 18, 19, 20});
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus directory>\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];

    // LAS files for check_las / update_header.
    const auto las = root / "las_header_fuzzer";
    for (uint8_t minor = 0; minor <= 2; ++minor) {
        for (uint8_t format = 0; format <= 3; ++format) {
            LasSpec s;
            s.versionMinor = minor;
            s.format = format;
            put(las, "v1" + std::to_string(minor) + "-f" + std::to_string(format) + ".las", buildLas(s, points(6)));
        }
    }
    {
        LasSpec s;
        s.vlrBytes = buildVlr("LASF_Projection", 34735, std::string(16, '\x01'));
        s.numberOfVlrs = 1;
        put(las, "with-vlr.las", buildLas(s, points(4)));
        const std::string whole = buildLas(LasSpec{}, points(3));
        put(las, "cut-in-signature.las", whole.substr(0, 3));
        put(las, "cut-before-format.las", whole.substr(0, 100));
        put(las, "cut-in-header.las", whole.substr(0, 180));
        put(las, "cut-in-record.las", whole.substr(0, whole.size() - 5));
        LasSpec longer;
        longer.recordLength = 30;
        put(las, "record-length-30.las", buildLas(longer, points(2)));
        LasSpec type0;
        type0.versionMinor = 0;
        type0.format = 3;
        type0.recordLength = 19;
        put(las, "v10-f3-length-19.las", buildLas(type0, points(2)));
        LasSpec inside;
        inside.offsetToData = 100;
        put(las, "offset-inside-header.las", buildLas(inside, points(2)));
        LasSpec beyond;
        beyond.offsetToData = 100000;
        put(las, "offset-beyond-end.las", buildLas(beyond, points(2)));
        LasSpec many;
        many.declaredCount = 0xFFFFFFFF;
        put(las, "count-too-large.las", buildLas(many, points(2)));
        put(las, "empty.las", buildLas(LasSpec{}, {}));
    }

    // ASCII grids.
    const auto asc = root / "asc_raster_fuzzer";
    put(asc, "grid.asc", grid3x4());
    put(asc, "crlf.asc",
        "ncols 2\r\nnrows 1\r\nxllcorner 0\r\nyllcorner 0\r\ncellsize 0.5\r\nnodata_value -1\r\n1 2\r\n");
    put(asc, "centre.asc",
        "NCOLS 2\nNROWS 2\nXLLCENTER 10.5\nYLLCENTER 20.5\nCELLSIZE 1\nNODATA_VALUE -9999.5\n1 2\n3 4\n");
    put(asc, "no-nodata.asc", "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ncellsize 1\n7\n");
    put(asc, "exponents.asc", asciiGrid(3, 1, "1e3", "-2.5E2", "2.5e-1", "-3.4e38", {"1e38", "-inf", "0x1p3"}));
    put(asc, "cellsize-zero.asc", asciiGrid(1, 1, "0", "0", "0", "-9999", {"1"}));
    put(asc, "cellsize-negative.asc", asciiGrid(1, 1, "0", "0", "-1", "-9999", {"1"}));
    put(asc, "cellsize-nan.asc", asciiGrid(1, 1, "0", "0", "nan", "-9999", {"1"}));
    put(asc, "short-data.asc", asciiGrid(3, 3, "0", "0", "1", "-9999", {"1", "2", "3", "4"}));
    put(asc, "huge-rows.asc",
        "ncols 2147483647\nnrows 2147483647\nxllcorner 0\nyllcorner 0\ncellsize 1\nNODATA_value 0\n1 2 3\n");
    put(asc, "bad-value.asc", asciiGrid(2, 1, "0", "0", "1", "-9999", {"1", "x2"}));

    // Binary float grids: header, separator, data.
    const auto flt = root / "flt_raster_fuzzer";
    put(flt, "grid", hdr3x4() + kSep + flt3x4());
    put(flt, "msbfirst",
        hdr3x4("BYTEORDER M\nLAYOUT BIL\nNBANDS 1\nNBITS 32\nPIXELTYPE FLOAT\n") + kSep +
            floatGrid({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    put(flt, "ulxmap",
        "BYTEORDER I\nNROWS 2\nNCOLS 2\nULXMAP 10.5\nULYMAP 21.5\nXDIM 1\nYDIM 1\nNODATA -1\n" + kSep +
            floatGrid({1, 2, 3, 4}));
    put(flt, "no-data-file", hdr3x4());
    put(flt, "short-data", hdr3x4() + kSep + floatGrid({1, 2, 3}));
    put(flt, "dx-dy",
        "ncols 1\nnrows 1\nxllcorner 0\nyllcorner 0\ndx 2\ndy 2\nnodata_value 0\n" + kSep + floatGrid({5}));
    put(flt, "totalrowbytes",
        hdr3x4("TOTALROWBYTES 16\nBANDROWBYTES 16\nSKIPBYTES 0\nBANDGAPBYTES 0\n") + kSep + flt3x4());

    // Whole runs: limits, LAS, raster.
    const auto run = root / "run_fuzzer";
    for (uint8_t format = 0; format <= 3; ++format) {
        LasSpec s;
        s.format = format;
        put(run, "asc-f" + std::to_string(format), "-2 5.5" + kSep + buildLas(s, points(12)) + kSep + grid3x4());
        put(run, "flt-f" + std::to_string(format),
            "0 10" + kSep + buildLas(s, points(12)) + kSep + hdr3x4() + kSep + flt3x4());
    }
    {
        LasSpec v10;
        v10.versionMinor = 0;
        v10.format = 0;
        v10.vlrBytes = buildVlr("test", 1, "payload");
        v10.numberOfVlrs = 1;
        put(run, "v10-vlr", "-1000 1000" + kSep + buildLas(v10, points(8)) + kSep + grid3x4());
        put(run, "none-selected", "500 600" + kSep + buildLas(LasSpec{}, points(8)) + kSep + grid3x4());
        const std::string whole = buildLas(LasSpec{}, points(8));
        put(run, "truncated-record", "-5 5" + kSep + whole.substr(0, whole.size() - 9) + kSep + grid3x4());
        put(run, "truncated-header", "-5 5" + kSep + whole.substr(0, 150) + kSep + grid3x4());
        put(run, "limits-equal", "5 5" + kSep + whole + kSep + grid3x4());
        put(run, "limits-huge",
            "-1" + std::string(308, '0') + " 1" + std::string(308, '0') + kSep + whole + kSep + grid3x4());
        put(run, "cellsize-zero", "-5 5" + kSep + whole + kSep + asciiGrid(1, 1, "100", "200", "0", "-9999", {"1"}));
    }
    return 0;
}
