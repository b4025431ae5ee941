// Header refresh: recount a closed LAS file's records and rewrite the count,
// per-return counts and bounding box of its public header in place.
#include "LiDAR.h"
#include "lidar/internal/block_size.h"
#include "lidar/internal/file_handle.h"
#include "lidar/internal/header_read.h"
#include "lidar/internal/point_stats.h"
#include "lidar/internal/process_exit.h"
#include "lidar/internal/record_size.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace {

using lidar::kBlockBytes;

[[noreturn]] void fail(const char *format, const char *filename)
{
    std::printf(format, filename);
    lidar::process_exit(-1);
}

// The header counts points in 32 bits: a file holding more records cannot
// be described, and a count that wrapped would be reported as a success.
[[noreturn]] void refuse_count(const char *filename, uint64_t records)
{
    std::printf("\nFile %s holds %" PRIu64 " point records, more than a LAS header can count (%" PRIu32 ")\n", filename,
                records, UINT32_MAX);
    lidar::process_exit(-1);
}

// The records from the offset to the end of the file, streamed in blocks;
// a trailing partial record is not counted. A file that grows past what the
// header can count while it is read is refused before the count wraps.
bool scanRecords(std::FILE *file, uint32_t offset, size_t recSize, lidar::PointStats &stats, const char *filename)
{
    if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0)
        fail("\nCannot seek to the point data of %s\n", filename);
    std::vector<uint8_t> block(kBlockBytes / recSize * recSize);
    size_t carried = 0;  // bytes of an incomplete record kept from the last block
    uint64_t total = 0;
    for (;;) {
        const size_t got = std::fread(block.data() + carried, 1, block.size() - carried, file);
        const size_t have = carried + got;
        const size_t whole = have / recSize;
        total += whole;
        if (total > UINT32_MAX)
            refuse_count(filename, total);
        stats.add(block.data(), whole, recSize);
        carried = have - whole * recSize;
        if (carried != 0)
            std::memmove(block.data(), block.data() + whole * recSize, carried);
        if (got == 0 || std::feof(file) || std::ferror(file))
            break;
    }
    return std::ferror(file) == 0;
}

// Whole records from the offset to the end of the file, as the scan would
// count them; -1 when the size cannot be known.
int64_t recordsInFile(std::FILE *file, uint32_t offset, size_t recSize)
{
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || st.st_size < offset)
        return -1;
    return (st.st_size - offset) / static_cast<int64_t>(recSize);
}

}  // namespace

extern "C" void update_header(const char *filename)
{
    const int16_t lasType = check_las(filename);  // refuses a NULL name as a missing file
    if (lasType < 0)
        lidar::process_exit(-1);

    lidar::FilePtr file = lidar::open_file(filename, "r+b");
    if (!file)
        fail("\nCannot open binary file %s for header update\n\n", filename);

    // The same checks, in the same words, as the tool's of its input.
    LAS12Header header;
    if (!lidar::read_checked_header(file.get(), filename, header))
        lidar::process_exit(-1);

    const size_t recSize = lidar::type_record_size(lasType) != 0 ? lidar::type_record_size(lasType)
                                                                 : header.PointDataRecordLength;
    const int64_t records = recordsInFile(file.get(), header.OffsetToData, recSize);
    if (records > int64_t{UINT32_MAX})
        refuse_count(filename, static_cast<uint64_t>(records));
    lidar::PointStats stats;
    if (!scanRecords(file.get(), header.OffsetToData, recSize, stats, filename))
        fail("\nFailed to read the point records of %s\n", filename);

    stats.apply(header);
    std::rewind(file.get());
    if (std::fwrite(&header, sizeof header, 1, file.get()) != 1 || !lidar::close_file(file))
        fail("\nFailed to rewrite the header of %s\n", filename);

    lidar::print_header_updated(filename);
}
