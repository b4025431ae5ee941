// An independent LAS 1.0-1.2 reader for checking files the product writes.
// It walks the public header, the variable-length records and the point
// records straight from the file layout (no product types or code), then
// cross-checks what the header claims against what the records hold.
//
//   std::string problem = test_support::validateLas(bytes);  // "" when valid
#ifndef TESTS_SUPPORT_LAS_READER_H
#define TESTS_SUPPORT_LAS_READER_H

#include "little_endian.h"
#include "text_format.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

struct LasVlr {
    std::string userId;  // up to 16 characters
    uint16_t recordId = 0;
    std::string payload;
};

struct LasFile {
    uint8_t versionMajor = 0, versionMinor = 0;
    uint16_t headerSize = 0;
    uint32_t offsetToData = 0;
    uint32_t vlrCount = 0;
    uint8_t format = 0;
    uint16_t recordLength = 0;
    uint32_t pointCount = 0;
    uint32_t byReturn[5] = {};
    double scale[3] = {}, offset[3] = {};
    double max[3] = {}, min[3] = {};  // X, Y, Z
    std::vector<LasVlr> vlrs;
    std::vector<std::string> records;  // raw point records, in file order
};

// What a point record holds in its common fields.
struct LasPointFields {
    int32_t x = 0, y = 0, z = 0;
    unsigned returnNumber = 0;  // bits 0-2 of byte 14
};

inline LasPointFields lasPointFields(const std::string &record)
{
    LasPointFields p;
    std::memcpy(&p.x, record.data(), 4);
    std::memcpy(&p.y, record.data() + 4, 4);
    std::memcpy(&p.z, record.data() + 8, 4);
    p.returnNumber = static_cast<unsigned char>(record[14]) & 7u;
    return p;
}

struct LasRules {
    // LAS 1.0 and 1.1 define point formats 0 and 1 only; files that declare
    // 2 or 3 anyway are refused unless this is set.
    bool laterFormatsInOldVersions = false;
};

// Reads the file's structure into out. Returns "" when the header, the VLRs
// and the point records can be walked as the header describes them,
// otherwise the first problem found.
inline std::string readLas(const std::string &bytes, LasFile &out, const LasRules &rules = {})
{
    const size_t size = bytes.size();
    if (size < 227)
        return "file is " + std::to_string(size) + " bytes, shorter than the 227-byte public header";
    if (bytes.compare(0, 4, "LASF") != 0)
        return "signature is not LASF";
    out = LasFile{};
    out.versionMajor = getLE<uint8_t>(bytes, 24);
    out.versionMinor = getLE<uint8_t>(bytes, 25);
    if (out.versionMajor != 1 || out.versionMinor > 2)
        return "version " + std::to_string(out.versionMajor) + "." + std::to_string(out.versionMinor) +
               " is not 1.0, 1.1 or 1.2";
    out.headerSize = getLE<uint16_t>(bytes, 94);
    out.offsetToData = getLE<uint32_t>(bytes, 96);
    out.vlrCount = getLE<uint32_t>(bytes, 100);
    out.format = getLE<uint8_t>(bytes, 104);
    out.recordLength = getLE<uint16_t>(bytes, 105);
    out.pointCount = getLE<uint32_t>(bytes, 107);
    for (size_t r = 0; r < 5; ++r)
        out.byReturn[r] = getLE<uint32_t>(bytes, 111 + 4 * r);
    for (size_t a = 0; a < 3; ++a) {
        out.scale[a] = getLE<double>(bytes, 131 + 8 * a);
        out.offset[a] = getLE<double>(bytes, 155 + 8 * a);
        out.max[a] = getLE<double>(bytes, 179 + 16 * a);
        out.min[a] = getLE<double>(bytes, 187 + 16 * a);
    }

    if (out.headerSize < 227)
        return "HeaderSize is " + std::to_string(out.headerSize) + ", less than 227";
    if (out.headerSize > size)
        return "HeaderSize " + std::to_string(out.headerSize) + " lies past the end of the file";
    if (out.offsetToData < out.headerSize)
        return "OffsetToData " + std::to_string(out.offsetToData) + " lies inside the header";
    if (out.offsetToData > size)
        return "OffsetToData " + std::to_string(out.offsetToData) + " lies past the end of the file (" +
               std::to_string(size) + " bytes)";
    if (out.format > 3)
        return "point data format " + std::to_string(out.format) + " is not 0 to 3";
    if (out.format > 1 && out.versionMinor < 2 && !rules.laterFormatsInOldVersions)
        return "point data format " + std::to_string(out.format) + " is not defined in LAS 1." +
               std::to_string(out.versionMinor);
    static const uint16_t kMinLength[4] = {20, 28, 26, 34};
    if (out.recordLength < kMinLength[out.format])
        return "point record length " + std::to_string(out.recordLength) + " is too short for format " +
               std::to_string(out.format) + " (" + std::to_string(kMinLength[out.format]) + " bytes)";
    static const char *kAxis[3] = {"X", "Y", "Z"};
    for (size_t a = 0; a < 3; ++a) {
        if (!std::isfinite(out.scale[a]) || out.scale[a] == 0.0)
            return std::string(kAxis[a]) + " scale factor " + exactDecimal(out.scale[a]) +
                   " is not a usable scale";
        if (!std::isfinite(out.offset[a]))
            return std::string(kAxis[a]) + " offset is not finite";
    }

    // Variable-length records: a 54-byte header each, then the payload; all
    // of them between the public header and the point data.
    size_t pos = out.headerSize;
    for (uint32_t i = 0; i < out.vlrCount; ++i) {
        if (pos + 54 > out.offsetToData)
            return "variable-length record " + std::to_string(i + 1) + " of " + std::to_string(out.vlrCount) +
                   " does not fit before the point data (at byte " + std::to_string(pos) + ")";
        LasVlr v;
        v.userId = std::string(bytes.data() + pos + 2, 16);
        v.userId.resize(std::strlen(v.userId.c_str()));
        v.recordId = getLE<uint16_t>(bytes, pos + 18);
        const uint16_t length = getLE<uint16_t>(bytes, pos + 20);
        if (pos + 54 + length > out.offsetToData)
            return "payload of variable-length record " + std::to_string(i + 1) + " (" + std::to_string(length) +
                   " bytes) runs into the point data";
        v.payload = bytes.substr(pos + 54, length);
        out.vlrs.push_back(std::move(v));
        pos += 54 + size_t{length};
    }

    // Point records fill the rest of the file exactly.
    const size_t dataBytes = size - out.offsetToData;
    const size_t whole = dataBytes / out.recordLength;
    if (dataBytes % out.recordLength != 0)
        return "point data (" + std::to_string(dataBytes) + " bytes) is not a whole number of " +
               std::to_string(out.recordLength) + "-byte records";
    if (whole != out.pointCount)
        return "header counts " + std::to_string(out.pointCount) + " point records, the file holds " +
               std::to_string(whole);
    out.records.reserve(whole);
    for (size_t i = 0; i < whole; ++i)
        out.records.push_back(bytes.substr(out.offsetToData + i * out.recordLength, out.recordLength));
    return {};
}

// readLas, then the header's statistics against the records: per-return
// counts, and bounds that are those of the points (to half a scale unit).
inline std::string validateLas(const std::string &bytes, const LasRules &rules = {})
{
    LasFile f;
    if (std::string problem = readLas(bytes, f, rules); !problem.empty())
        return problem;

    uint64_t byReturn[8] = {};
    double lo[3] = {INFINITY, INFINITY, INFINITY};
    double hi[3] = {-INFINITY, -INFINITY, -INFINITY};
    for (const std::string &rec : f.records) {
        const LasPointFields p = lasPointFields(rec);
        ++byReturn[p.returnNumber];
        const int32_t raw[3] = {p.x, p.y, p.z};
        for (size_t a = 0; a < 3; ++a) {
            const double v = raw[a] * f.scale[a] + f.offset[a];
            lo[a] = std::min(lo[a], v);
            hi[a] = std::max(hi[a], v);
        }
    }
    uint64_t sum = 0;
    for (size_t r = 0; r < 5; ++r) {
        sum += f.byReturn[r];
        if (f.byReturn[r] != byReturn[r + 1])
            return "header counts " + std::to_string(f.byReturn[r]) + " points of return " + std::to_string(r + 1) +
                   ", the records hold " + std::to_string(byReturn[r + 1]);
    }
    if (sum > f.pointCount)
        return "per-return counts add up to more than the point count";
    if (f.records.empty())
        return {};

    static const char *kAxis[3] = {"X", "Y", "Z"};
    for (size_t a = 0; a < 3; ++a) {
        const double tolerance = std::fabs(f.scale[a]) / 2;
        if (std::fabs(f.min[a] - lo[a]) > tolerance)
            return "header Min" + std::string(kAxis[a]) + " is " + exactDecimal(f.min[a]) +
                   ", the points' smallest is " + exactDecimal(lo[a]);
        if (std::fabs(f.max[a] - hi[a]) > tolerance)
            return "header Max" + std::string(kAxis[a]) + " is " + exactDecimal(f.max[a]) +
                   ", the points' largest is " + exactDecimal(hi[a]);
    }
    return {};
}

}  // namespace test_support

#endif
