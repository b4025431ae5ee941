// LAS file validation: can the file be opened, is its name right, and does
// its header describe a version / point format / record length we handle.
#include "LiDAR.h"
#include "lidar/internal/file_handle.h"
#include "lidar/internal/name_form.h"
#include "lidar/internal/record_size.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

// Version and format bytes are printed as '0' + value, wrapping past '9'.
int digit_char(uint8_t value)
{
    return static_cast<unsigned char>(value + 48u);
}

constexpr size_t kBytesExamined = 107;  // signature .. PointDataRecordLength

int16_t refuse_not_las(const char *filename)
{
    std::printf("\n%s is not a valid .las file\n\n", filename);
    return -1;
}

int16_t refuse_record_length(const char *filename, uint8_t format, uint16_t length)
{
    std::printf("\nData format of %s (%c) is incompatible with Length of Data Record (%u)\n", filename,
                digit_char(format), static_cast<unsigned>(length));
    return -1;
}

// LAS type code for a version 1.x file, a known format and its record length.
int16_t type_code(const char *filename, uint8_t minor, uint8_t format, uint16_t length)
{
    if (format >= 2 && minor < 2)
        return 0;  // formats 2 and 3 are not defined before 1.2
    if (length != lidar::format_record_size(format))
        return refuse_record_length(filename, format, length);
    if (format < 2)
        return static_cast<int16_t>(1 + format + 2 * minor);
    return static_cast<int16_t>(5 + format);  // 7 or 8
}

// A NULL name or text counts as an empty one: refused by every check, and
// printed as nothing, since printf("%s", NULL) is undefined.
const char *or_empty(const char *text)
{
    return text != nullptr ? text : "";
}

// file_access, handing back why the open failed (its errno) to a caller
// that says so.
int16_t access_for_reading(const char *filename, int &error)
{
    lidar::FilePtr file = lidar::open_file(filename, "r");
    if (file)
        return 0;
    error = errno;
    std::printf("Unable to open file %s in file_access()\n", filename);
    return -1;
}

// A file that is not there, or under a path that is no folder.
bool missing(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

}  // namespace

extern "C" {

int16_t file_access(const char *filename)
{
    int error = 0;
    return access_for_reading(or_empty(filename), error);
}

int16_t check_file_extension(const char *filename, const char *extension)
{
    filename = or_empty(filename);
    extension = or_empty(extension);
    if (lidar::check_name_form(filename) < 0)
        return -1;
    const std::string_view name(filename);
    if (name.substr(name.size() - 3) == std::string_view(extension))
        return 0;
    std::printf("\nFile extension of %s is not .%s\n", filename, extension);
    return -1;
}

void error_msg(int i, const char *text)
{
    text = or_empty(text);
    switch (i) {
    case 1: std::printf("\nFile %s does NOT exist\n", text); break;
    case 2: std::printf("\nFile %s already exists\n", text); break;
    case 3: std::printf("\nSame file name (%s) has been specified twice\n", text); break;
    default: break;
    }
}

int16_t check_las(const char *filename)
{
    filename = or_empty(filename);
    // "does NOT exist" only for a missing file; any other failure to open
    // (no permission, a FIFO) says the system's reason.
    if (int error = 0; access_for_reading(filename, error) < 0) {
        if (missing(error))
            error_msg(1, filename);
        else
            std::printf("\nFile %s cannot be opened: %s\n", filename, std::strerror(error));
        return -1;
    }
    if (check_file_extension(filename, "las") < 0)
        return -1;

    lidar::FilePtr file = lidar::open_file(filename, "rb");
    if (!file)
        return refuse_not_las(filename);

    // One read of the fields examined; a file that ends (or cannot be read,
    // as a directory) before a field is refused when that field is reached.
    std::array<uint8_t, kBytesExamined> head{};
    const size_t got = std::fread(head.data(), 1, head.size(), file.get());

    if (got < 4 || std::memcmp(head.data(), "LASF", 4) != 0)
        return refuse_not_las(filename);
    if (got < 25)
        return refuse_not_las(filename);
    const uint8_t major = head[24];
    if (major != 1) {
        std::printf("\nCannot handle las files of version %c.x\n", digit_char(major));
        return -1;
    }
    if (got < 26)
        return refuse_not_las(filename);
    const uint8_t minor = head[25];
    if (minor > 2) {
        std::printf("\nCannot handle las files of version %c.%c\n", digit_char(major), digit_char(minor));
        return -1;
    }
    if (got < 105)
        return refuse_not_las(filename);
    const uint8_t format = head[104];
    if (format > 3) {
        std::printf("\nPointDataFormatID in %s is %c. Only 0, 1, 2, or 3 is accepted\n", filename, digit_char(format));
        return -1;
    }
    if (got < kBytesExamined)
        return refuse_not_las(filename);
    const auto length = static_cast<uint16_t>(head[105] | (head[106] << 8));
    return type_code(filename, minor, format, length);
}

}  // extern "C"
