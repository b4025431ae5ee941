// check_las and update_header on arbitrary file bytes.
//
// Whatever the bytes: no crash or out-of-bounds access; a refused file is
// left exactly as it was; a refreshed one changes only the count, the
// per-return counts and the bounds, and its count is the number of whole
// records after OffsetToData.
#include "LiDAR.h"
#include "fuzz_support.h"
#include "little_endian.h"
#include "lidar/internal/record_size.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// A type 0 file (1.0 or 1.1 declaring format 2 or 3) has records of the
// length its header declares.
size_t recordSize(int16_t lasType, uint16_t headerLength)
{
    const size_t fixed = lidar::type_record_size(lasType);
    return fixed != 0 ? fixed : headerLength;
}

bool inRefreshedField(size_t offset)
{
    return (offset >= 107 && offset < 131) || (offset >= 179 && offset < 227);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string path = fuzz::scratchPath("in.las");
    const std::string original(reinterpret_cast<const char *>(data), size);
    fuzz::writeFile(path, original);

    const int16_t lasType = check_las(path.c_str());
    std::string after;
    if (lasType < 0) {
        FUZZ_CHECK(lasType == -1);
        FUZZ_CHECK(fuzz::readFile(path, after) && after == original);
        return 0;
    }
    FUZZ_CHECK(lasType <= 8);

    bool refreshed = false;
    try {
        update_header(path.c_str());
        refreshed = true;
    } catch (const lidar::ExitRequest &e) {
        FUZZ_CHECK(e.status == -1);
    }
    FUZZ_CHECK(fuzz::readFile(path, after));
    if (!refreshed) {
        FUZZ_CHECK(after == original);
        return 0;
    }

    FUZZ_CHECK(after.size() == original.size() && original.size() >= 227);
    for (size_t k = 0; k < original.size(); ++k)
        FUZZ_CHECK(inRefreshedField(k) || after[k] == original[k]);
    const uint32_t offset = test_support::getLE<uint32_t>(original, 96);
    const size_t rec = recordSize(lasType, test_support::getLE<uint16_t>(original, 105));
    const uint64_t bytes = offset < original.size() ? original.size() - offset : 0;
    FUZZ_CHECK(test_support::getLE<uint32_t>(after, 107) == bytes / rec);
    return 0;
}
