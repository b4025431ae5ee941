// Loads of little-endian values from any byte address: the fields of packed
// LAS records sit at odd offsets, so they are copied, never dereferenced.
#ifndef LIDAR_UNALIGNED_H
#define LIDAR_UNALIGNED_H

#include <cstring>
#include <type_traits>

namespace lidar {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "LAS fields are read as little-endian host values");

template <typename T>
inline T load_unaligned(const void *p)
{
    static_assert(std::is_trivially_copyable_v<T>);
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace lidar

#endif
