#include "lidar/internal/header_read.h"

namespace lidar {

bool read_checked_header(std::FILE *file, const char *name, LAS12Header &h)
{
    return check_header(h, std::fread(&h, sizeof h, 1, file) == 1, name);
}

std::string header_problem(const LAS12Header &h, bool whole, const char *name)
{
    const std::string file = name;
    if (!whole)
        return "\nFile " + file + " is too short to hold a LAS header\n";
    if (h.OffsetToData < sizeof h)
        return "\nOffsetToData of " + file + " (" + std::to_string(h.OffsetToData) +
               ") lies inside the 227-byte header\n";
    if (h.PointDataRecordLength < sizeof(LAS12fm0))
        return "\nPoint record length of " + file + " (" + std::to_string(h.PointDataRecordLength) +
               " bytes) is shorter than a LAS point record\n";
    return {};
}

bool check_header(const LAS12Header &h, bool whole, const char *name)
{
    const std::string problem = header_problem(h, whole, name);
    std::fputs(problem.c_str(), stdout);
    return problem.empty();
}

void print_header_updated(const char *name)
{
    std::printf("\rHeader of file %s has been updated    ", name);
}

}  // namespace lidar
