// Building LAS files byte by byte for the tests, from
// the file layout itself rather than from the product's record types.
#ifndef TESTS_SUPPORT_LAS_BUILDER_H
#define TESTS_SUPPORT_LAS_BUILDER_H

#include "little_endian.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

struct Point {
    int32_t x = 0, y = 0, z = 0;
    uint8_t returnByte = 1;  // bits 0-2 return number, 3-5 number of returns
    uint8_t classification = 2;
};

struct LasSpec {
    uint8_t versionMinor = 2;
    uint8_t format = 1;
    uint16_t recordLength = 0;  // 0: the format's own size
    double scale[3] = {0.01, 0.01, 0.01};
    double offset[3] = {0.0, 0.0, 0.0};
    std::string vlrBytes;        // bytes between the header and the points
    int64_t declaredCount = -1;  // -1: the number of points given
    int64_t offsetToData = -1;   // -1: 227 + vlrBytes
    uint32_t numberOfVlrs = 0;
};

inline uint16_t formatLength(uint8_t format)
{
    static const uint16_t kLength[4] = {20, 28, 26, 34};
    return format < 4 ? kLength[format] : 20;
}

// Header bytes as a 1.x writer lays them out; bounds and per-return counts
// are left with recognisable junk so that a refresh shows.
inline std::string buildHeader(const LasSpec &s, size_t pointCount)
{
    std::string h(227, '\0');
    std::memcpy(&h[0], "LASF", 4);
    putLE<uint16_t>(h, 4, 7);           // FileSourceID / reserved
    putLE<uint32_t>(h, 8, 0xA1B2C3D4);  // GUID part 1
    h[24] = 1;
    h[25] = static_cast<char>(s.versionMinor);
    std::memcpy(&h[26], "TEST SYSTEM", 11);
    std::memcpy(&h[58], "morvane tests", 13);
    putLE<uint16_t>(h, 90, 100);
    putLE<uint16_t>(h, 92, 2026);
    putLE<uint16_t>(h, 94, 227);
    const uint32_t offset = s.offsetToData >= 0 ? static_cast<uint32_t>(s.offsetToData)
                                                : static_cast<uint32_t>(227 + s.vlrBytes.size());
    putLE<uint32_t>(h, 96, offset);
    putLE<uint32_t>(h, 100, s.numberOfVlrs);
    h[104] = static_cast<char>(s.format);
    putLE<uint16_t>(h, 105, s.recordLength != 0 ? s.recordLength : formatLength(s.format));
    putLE<uint32_t>(h, 107,
                    s.declaredCount >= 0 ? static_cast<uint32_t>(s.declaredCount) : static_cast<uint32_t>(pointCount));
    for (int r = 0; r < 5; ++r)
        putLE<uint32_t>(h, 111 + 4 * static_cast<size_t>(r), 999);
    for (int a = 0; a < 3; ++a) {
        putLE<double>(h, 131 + 8 * static_cast<size_t>(a), s.scale[a]);
        putLE<double>(h, 155 + 8 * static_cast<size_t>(a), s.offset[a]);
    }
    for (size_t off = 179; off < 227; off += 8)
        putLE<double>(h, off, 12345.678);
    return h;
}

// One point record; the bytes after the common fields carry a pattern
// tied to the point's index, so a record copied wrongly shows.
inline std::string buildRecord(const Point &p, uint16_t length, uint32_t index)
{
    std::string r(length, '\0');
    putLE<int32_t>(r, 0, p.x);
    putLE<int32_t>(r, 4, p.y);
    putLE<int32_t>(r, 8, p.z);
    putLE<uint16_t>(r, 12, static_cast<uint16_t>(index * 7u));
    r[14] = static_cast<char>(p.returnByte);
    r[15] = static_cast<char>(p.classification);
    for (size_t k = 16; k < length; ++k)
        r[k] = static_cast<char>((index * 31u + k * 17u) & 0xFF);
    return r;
}

inline std::string buildLas(const LasSpec &s, const std::vector<Point> &points)
{
    const uint16_t length = s.recordLength != 0 ? s.recordLength : formatLength(s.format);
    std::string bytes = buildHeader(s, points.size());
    bytes += s.vlrBytes;
    for (size_t i = 0; i < points.size(); ++i)
        bytes += buildRecord(points[i], length, static_cast<uint32_t>(i));
    return bytes;
}

// A minimal VLR: 54-byte header and a payload.
inline std::string buildVlr(const std::string &userId, uint16_t recordId, const std::string &payload)
{
    std::string v(54, '\0');
    std::memcpy(&v[2], userId.data(), std::min<size_t>(userId.size(), 16));
    putLE<uint16_t>(v, 18, recordId);
    putLE<uint16_t>(v, 20, static_cast<uint16_t>(payload.size()));
    std::memcpy(&v[22], "test record", 11);
    return v + payload;
}

}  // namespace test_support

#endif
