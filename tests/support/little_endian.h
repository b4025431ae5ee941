// Little-endian fields of a byte string, as LAS files and float grids
// lay them out (the tests run on little-endian hosts).
#ifndef TESTS_SUPPORT_LITTLE_ENDIAN_H
#define TESTS_SUPPORT_LITTLE_ENDIAN_H

#include <cstring>
#include <string>

namespace test_support {

template <typename T>
void putLE(std::string &bytes, size_t offset, T value)
{
    if (bytes.size() < offset + sizeof value)
        bytes.resize(offset + sizeof value, '\0');
    std::memcpy(&bytes[offset], &value, sizeof value);
}

template <typename T>
T getLE(const std::string &bytes, size_t offset)
{
    T value{};
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

}  // namespace test_support

#endif
