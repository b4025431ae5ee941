// Reading a LAS file's public header block for a pass over its records:
// the checks that keep such a pass inside the file's point data.
#ifndef LIDAR_HEADER_READ_H
#define LIDAR_HEADER_READ_H

#include "LiDAR.h"

#include <cstdio>
#include <string>

namespace lidar {

// Judges a header read from a file (`whole`: all 227 bytes of it were
// there): its OffsetToData must lie past it and its record length hold a
// point's common fields. Returns the refusal as it is printed, naming the
// file, or "" for a header a pass over the records can trust.
std::string header_problem(const LAS12Header &header, bool whole, const char *name);

// header_problem, printed; false where there is one.
bool check_header(const LAS12Header &header, bool whole, const char *name);

// Reads the 227-byte header from the file's current position and checks it.
bool read_checked_header(std::FILE *file, const char *name, LAS12Header &header);

// The confirmation the header refresh prints.
void print_header_updated(const char *name);

}  // namespace lidar

#endif
