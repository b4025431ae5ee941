// Header initialisers: the exact byte image they leave, and the bytes they
// must leave alone.
#include "LiDAR.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

constexpr size_t kHeaderBytes = 227;
using Image = std::array<uint8_t, kHeaderBytes>;

// Runs one initialiser on a record prefilled with `fill` and returns its bytes.
using Initialiser = Image (*)(uint8_t fill);

template <typename Header, void (*init)(Header *)>
Image run(uint8_t fill)
{
    static_assert(sizeof(Header) == kHeaderBytes);
    Header h;
    std::memset(&h, fill, sizeof h);
    init(&h);
    Image out;
    std::memcpy(out.data(), &h, sizeof h);
    return out;
}

struct Version {
    const char *name;
    Initialiser init;
    uint8_t minor;
};

const Version kVersions[] = {
    {"initialize_header10", run<LAS10Header, initialize_header10>, 0},
    {"initialize_header11", run<LAS11Header, initialize_header11>, 1},
    {"initialize_header12", run<LAS12Header, initialize_header12>, 2},
};

bool untouched(size_t offset)
{
    return (offset >= 17 && offset <= 23) || (offset >= 27 && offset <= 57) || (offset >= 82 && offset <= 89);
}

void put(Image &image, size_t offset, const void *bytes, size_t n)
{
    std::memcpy(image.data() + offset, bytes, n);
}

// The expected image, written out from the field table by offset so that it
// does not share the record definitions with the code under test.
Image expected_image(uint8_t minor)
{
    Image image{};
    put(image, 0, "LASF", 4);
    image[24] = 1;
    image[25] = minor;
    put(image, 58, "Quillon LiDAR Utilities", 24);
    const uint16_t header_size = 227;
    const uint32_t offset_to_data = 227;
    put(image, 94, &header_size, 2);
    put(image, 96, &offset_to_data, 4);
    const double one = 1.0;
    for (const size_t offset : {131u, 139u, 147u})
        put(image, offset, &one, 8);
    return image;
}

TEST(InitializeHeader, ZeroFilledRecordGetsTheExactImage)
{
    for (const auto &v : kVersions) {
        SCOPED_TRACE(v.name);
        EXPECT_EQ(v.init(0x00), expected_image(v.minor));
    }
}

TEST(InitializeHeader, OnlyTheListedBytesKeepTheCallersContent)
{
    for (const auto &v : kVersions) {
        SCOPED_TRACE(v.name);
        const Image expected = expected_image(v.minor);
        for (const uint8_t fill : {uint8_t{0xFF}, uint8_t{0xA5}, uint8_t{0x01}}) {
            const Image image = v.init(fill);
            size_t kept = 0;
            for (size_t k = 0; k < kHeaderBytes; ++k) {
                SCOPED_TRACE("offset " + std::to_string(k) + ", fill " + std::to_string(fill));
                if (untouched(k)) {
                    EXPECT_EQ(image[k], fill);
                    ++kept;
                } else {
                    EXPECT_EQ(image[k], expected[k]);
                }
            }
            EXPECT_EQ(kept, 46u);
        }
    }
}

TEST(InitializeHeader, VersionsDifferOnlyInMinorVersionByte)
{
    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        const Image base = kVersions[0].init(fill);
        for (const auto &v : kVersions) {
            SCOPED_TRACE(v.name);
            Image image = v.init(fill);
            EXPECT_EQ(image[25], v.minor);
            image[25] = base[25];
            EXPECT_EQ(image, base);
        }
    }
}

// Packed fields sit unaligned: gtest would bind references to them.
template <typename T>
T copy(T value)
{
    return value;
}

TEST(InitializeHeader, FieldsReadBackThroughTheRecord)
{
    LAS12Header h;
    std::memset(&h, 0xFF, sizeof h);
    initialize_header12(&h);
    EXPECT_EQ(std::string(h.GeneratingSoftware), "Quillon LiDAR Utilities");
    EXPECT_EQ(h.SystemIdentifier[0], '\0');
    EXPECT_EQ(copy(h.FileSourceID), 0);
    EXPECT_EQ(copy(h.GlobalEncoding), 0);
    EXPECT_EQ(copy(h.HeaderSize), 227);
    EXPECT_EQ(copy(h.OffsetToData), 227u);
    EXPECT_EQ(copy(h.PointDataFormatID), 0);
    EXPECT_EQ(copy(h.NumberOfPointReturns), 0u);
    EXPECT_EQ(copy(h.ZScaleFactor), 1.0);
    EXPECT_EQ(copy(h.MinZ), 0.0);
}

TEST(InitializeHeader, SecondCallChangesNothing)
{
    LAS10Header h10;
    LAS11Header h11;
    LAS12Header h12;
    std::memset(&h10, 0x5A, sizeof h10);
    std::memset(&h11, 0x5A, sizeof h11);
    std::memset(&h12, 0x5A, sizeof h12);
    initialize_header10(&h10);
    initialize_header11(&h11);
    initialize_header12(&h12);
    Image once10, once11, once12;
    std::memcpy(once10.data(), &h10, kHeaderBytes);
    std::memcpy(once11.data(), &h11, kHeaderBytes);
    std::memcpy(once12.data(), &h12, kHeaderBytes);
    initialize_header10(&h10);
    initialize_header11(&h11);
    initialize_header12(&h12);
    EXPECT_EQ(std::memcmp(once10.data(), &h10, kHeaderBytes), 0);
    EXPECT_EQ(std::memcmp(once11.data(), &h11, kHeaderBytes), 0);
    EXPECT_EQ(std::memcmp(once12.data(), &h12, kHeaderBytes), 0);
}

// A record inside a larger buffer: nothing before or after it is written.
TEST(InitializeHeader, WritesNothingOutsideTheRecord)
{
    for (const auto &v : kVersions) {
        SCOPED_TRACE(v.name);
        alignas(8) std::array<uint8_t, kHeaderBytes + 16> buffer;
        buffer.fill(0xEE);
        // Misaligned on purpose: the record is a packed byte image.
        uint8_t *record = buffer.data() + 3;
        switch (v.minor) {
        case 0: initialize_header10(reinterpret_cast<LAS10Header *>(record)); break;
        case 1: initialize_header11(reinterpret_cast<LAS11Header *>(record)); break;
        default: initialize_header12(reinterpret_cast<LAS12Header *>(record)); break;
        }
        for (size_t k = 0; k < 3; ++k)
            EXPECT_EQ(buffer[k], 0xEE) << "before, " << k;
        for (size_t k = 3 + kHeaderBytes; k < buffer.size(); ++k)
            EXPECT_EQ(buffer[k], 0xEE) << "after, " << k;
        EXPECT_EQ(std::memcmp(record, "LASF", 4), 0);
        EXPECT_EQ(record[25], v.minor);
    }
}

}  // namespace
