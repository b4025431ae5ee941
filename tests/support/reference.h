// What a run must do, worked out from the rules rather than from the
// product: which points the selection keeps, the tally it prints, the
// header statistics of a set of records, and the exact output bytes.
#ifndef TESTS_SUPPORT_REFERENCE_H
#define TESTS_SUPPORT_REFERENCE_H

#include "console_text.h"
#include "grid_builder.h"
#include "las_builder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace test_support {

enum class Fate { Outside, Nodata, Selected, NotSelected };

// The cell under a point is floor of its distance from the south-west
// corner in cells, in double, west and south edges included; a NODATA cell
// keeps nothing (a NaN cell is NODATA only when NODATA is NaN); otherwise
// the window over the cell's value is inclusive at both ends.
inline Fate fateOf(const TestGrid &g, const LasSpec &s, const Point &p, double low, double high)
{
    const double row = std::floor((p.y * s.scale[1] + s.offset[1] - g.miny) / g.cell);
    const double col = std::floor((p.x * s.scale[0] + s.offset[0] - g.minx) / g.cell);
    if (!(row >= 0 && row < g.rows && col >= 0 && col < g.cols))
        return Fate::Outside;
    const float v = g.at(static_cast<int>(row), static_cast<int>(col));
    const float nodata = g.nodataValue();
    if (g.hasNodata() && (v == nodata || (std::isnan(v) && std::isnan(nodata))))
        return Fate::Nodata;
    const double z = p.z * s.scale[2] + s.offset[2];
    return z >= double(v) + low && z <= double(v) + high ? Fate::Selected : Fate::NotSelected;
}

struct ExpectedCut {
    std::vector<size_t> selected;  // indices of the kept points, in input order
    PrintedTally tally;
};

inline ExpectedCut expectedCut(const TestGrid &g, const LasSpec &s, const std::vector<Point> &points, double low,
                               double high)
{
    ExpectedCut out;
    for (size_t i = 0; i < points.size(); ++i) {
        switch (fateOf(g, s, points[i], low, high)) {
        case Fate::Outside: ++out.tally.outside; break;
        case Fate::Nodata: ++out.tally.nodata; break;
        case Fate::NotSelected: ++out.tally.doNot; break;
        case Fate::Selected:
            ++out.tally.meet;
            out.selected.push_back(i);
            break;
        }
    }
    return out;
}

// Header statistics of point records: count, per-return counts (bits 0-2
// of byte 14, returns 1 to 5) and the bounds of the stored integers, which
// are some point's own; an empty set gets maxima of -2147483646 and minima of
// 2147483646.
struct HeaderStats {
    int32_t max[3] = {INT32_MIN, INT32_MIN, INT32_MIN};
    int32_t min[3] = {INT32_MAX, INT32_MAX, INT32_MAX};
    uint32_t count = 0;
    uint32_t byReturn[5] = {};

    void add(const std::string &record)
    {
        for (size_t a = 0; a < 3; ++a) {
            const auto v = getLE<int32_t>(record, 4 * a);
            max[a] = std::max(max[a], v);
            min[a] = std::min(min[a], v);
        }
        const unsigned r = static_cast<uint8_t>(record[14]) & 7u;
        if (r >= 1 && r <= 5)
            ++byReturn[r - 1];
        ++count;
    }

    // Writes them into a header image, scaled by that image's own factors
    // and offsets; every other byte stays.
    void applyTo(std::string &header) const
    {
        putLE<uint32_t>(header, 107, count);
        for (size_t r = 0; r < 5; ++r)
            putLE<uint32_t>(header, 111 + 4 * r, byReturn[r]);
        for (size_t a = 0; a < 3; ++a) {
            const double scale = getLE<double>(header, 131 + 8 * a), offset = getLE<double>(header, 155 + 8 * a);
            putLE<double>(header, 179 + 16 * a, (count == 0 ? -2147483646 : max[a]) * scale + offset);
            putLE<double>(header, 187 + 16 * a, (count == 0 ? 2147483646 : min[a]) * scale + offset);
        }
    }
};

// The output of a run over `input` that keeps the records at `selected`:
// the input's header and variable-length records with the statistics
// refreshed, then those records unchanged, in order. Empty when nothing is
// kept, as then no output file remains.
inline std::string expectedOutput(const std::string &input, const std::vector<size_t> &selected)
{
    if (selected.empty())
        return {};
    const auto offset = getLE<uint32_t>(input, 96);
    const auto len = getLE<uint16_t>(input, 105);
    std::string out = input.substr(0, offset);
    HeaderStats stats;
    for (const size_t i : selected) {
        const std::string record = input.substr(offset + i * len, len);
        stats.add(record);
        out += record;
    }
    stats.applyTo(out);
    return out;
}

inline std::vector<size_t> allRecords(const std::string &input)
{
    std::vector<size_t> all(getLE<uint32_t>(input, 107));
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return all;
}

// "" when equal; otherwise where two files first differ, for a failure
// message that does not print megabytes.
inline std::string byteDifference(const std::string &actual, const std::string &expected)
{
    if (actual == expected)
        return {};
    const auto at = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
    return std::to_string(actual.size()) + " bytes where " + std::to_string(expected.size()) +
           " are expected, first difference at byte " + std::to_string(at.first - actual.begin());
}

}  // namespace test_support

#endif
