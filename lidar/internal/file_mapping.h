// Read-only mappings of part of a file, the one wrapper of mmap(2) and
// munmap(2) for files, and reads of them that a file cut short under them
// cannot crash.
//
// A mapped page that lies beyond the file's end (another program truncated
// it) raises SIGBUS when it is read. readMapped runs a read of mappings with
// that signal caught: a fault on one of the mappings it was given ends the
// read there and is reported; any other SIGBUS goes to whatever handled it
// before (the run's clean-up, a sanitizer), as if it were never caught.
#ifndef LIDAR_FILE_MAPPING_H
#define LIDAR_FILE_MAPPING_H

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

namespace lidar {

class FileMapping {
public:
    FileMapping() = default;
    // `bytes` bytes of the file from `offset` on, readable only; an empty
    // mapping (false) where the call fails, errno telling why.
    static FileMapping map(int fd, uint64_t offset, size_t bytes);
    ~FileMapping() { reset(); }
    FileMapping(FileMapping &&other) noexcept { *this = static_cast<FileMapping &&>(other); }
    FileMapping &operator=(FileMapping &&other) noexcept;
    FileMapping(const FileMapping &) = delete;
    FileMapping &operator=(const FileMapping &) = delete;

    const uint8_t *data() const { return data_; }  // the byte at `offset`
    size_t size() const { return bytes_; }
    explicit operator bool() const { return base_ != nullptr; }
    // Whether an address lies in the pages mapped.
    bool contains(const void *address) const
    {
        const auto a = reinterpret_cast<uintptr_t>(address), b = reinterpret_cast<uintptr_t>(base_);
        return base_ != nullptr && a >= b && a - b < mapped_;
    }
    void reset();

private:
    void *base_ = nullptr;  // the page the mapping starts on
    size_t mapped_ = 0;
    const uint8_t *data_ = nullptr;
    size_t bytes_ = 0;
};

namespace mapped_reads {
// readMapped's parts, not for use on their own.
void enter(sigjmp_buf *resume, std::initializer_list<const FileMapping *> mappings);
void leave() noexcept;
const void *faultAddress();
}  // namespace mapped_reads

// Runs read() with the mappings listed (empty ones ignored) guarded:
// nullptr when it ran to its end; where a read of one of them faulted, the
// address that faulted (read() is then left there, without unwinding: it
// must not own anything a destructor would release, nor throw).
template <typename Read>
const void *readMapped(std::initializer_list<const FileMapping *> mappings, Read &&read)
{
    sigjmp_buf resume;
    // The mask is not saved: the handler runs with SIGBUS unblocked and so
    // leaves the mask as it found it.
    if (sigsetjmp(resume, 0) != 0) {
        mapped_reads::leave();
        return mapped_reads::faultAddress();
    }
    mapped_reads::enter(&resume, mappings);
    read();
    mapped_reads::leave();
    return nullptr;
}

}  // namespace lidar

#endif
