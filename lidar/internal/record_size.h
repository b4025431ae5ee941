// Point record sizes, by point data format and by the LAS type code of
// check_las: the one table the validator, the header refresh and the tool
// read them from.
#ifndef LIDAR_RECORD_SIZE_H
#define LIDAR_RECORD_SIZE_H

#include "LiDAR.h"

#include <cstddef>
#include <cstdint>

namespace lidar {

// Bytes of a record of point data format 0 to 3; 0 for any other format.
constexpr size_t format_record_size(unsigned format)
{
    switch (format) {
    case 0: return sizeof(LAS12fm0);
    case 1: return sizeof(LAS12fm1);
    case 2: return sizeof(LAS12fm2);
    case 3: return sizeof(LAS12fm3);
    default: return 0;
    }
}

// Bytes of a record for LAS type codes 1 to 8; 0 for type 0 (a 1.0 or 1.1
// file declaring format 2 or 3, which has no fixed size) and for refusals.
constexpr size_t type_record_size(int16_t lasType)
{
    switch (lasType) {
    case 1:
    case 3:
    case 5: return format_record_size(0);
    case 2:
    case 4:
    case 6: return format_record_size(1);
    case 7: return format_record_size(2);
    case 8: return format_record_size(3);
    default: return 0;
    }
}

}  // namespace lidar

#endif
