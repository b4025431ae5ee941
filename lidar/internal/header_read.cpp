#include "lidar/internal/header_read.h"

namespace lidar {

bool read_checked_header(std::FILE *file, const char *name, LAS12Header &h)
{
    return check_header(h, std::fread(&h, sizeof h, 1, file) == 1, name);
}

bool check_header(const LAS12Header &h, bool whole, const char *name)
{
    if (!whole) {
        std::printf("\nFile %s is too short to hold a LAS header\n", name);
        return false;
    }
    if (h.OffsetToData < sizeof h) {
        std::printf("\nOffsetToData of %s (%u) lies inside the 227-byte header\n", name, h.OffsetToData);
        return false;
    }
    if (h.PointDataRecordLength < sizeof(LAS12fm0)) {
        std::printf("\nPoint record length of %s (%u bytes) is shorter than a LAS point record\n", name,
                    static_cast<unsigned>(h.PointDataRecordLength));
        return false;
    }
    return true;
}

void print_header_updated(const char *name)
{
    std::printf("\rHeader of file %s has been updated    ", name);
}

}  // namespace lidar
