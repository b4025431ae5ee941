#include "raster/cell_block.h"

#include <cerrno>
#include <cstdint>
#include <new>
#include <sys/mman.h>

namespace morvane {

// Under AddressSanitizer the cells come from the heap, where a read past
// the block is reported; a mapping would hide it.
#if defined(__SANITIZE_ADDRESS__)
#define MORVANE_CELLS_ON_HEAP 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVANE_CELLS_ON_HEAP 1
#endif
#endif

CellBlock CellBlock::allocate(size_t count)
{
    CellBlock block;
#ifdef MORVANE_CELLS_ON_HEAP
    block.cells_ = new (std::nothrow) float[count == 0 ? 1 : count];
#else
    constexpr size_t kHugePage = size_t{2} << 20;
    if (count > SIZE_MAX / sizeof(float) - kHugePage)
        return block;
    const size_t bytes = count * sizeof(float);
    const bool huge = bytes >= kHugePage;
    // A huge block is placed on a 2 MiB boundary: one extra page of address
    // space to choose it from, never touched.
    const size_t rounded = huge ? (bytes + kHugePage - 1) / kHugePage * kHugePage : bytes;
    const size_t mapped = rounded + (huge ? kHugePage : 0);
    void *mapping = ::mmap(nullptr, mapped == 0 ? 1 : mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                           0);
    if (mapping == MAP_FAILED)
        return block;
    auto *start = static_cast<char *>(mapping);
    if (huge) {
        start += (kHugePage - reinterpret_cast<uintptr_t>(start) % kHugePage) % kHugePage;
#ifdef MADV_HUGEPAGE
        (void)::madvise(start, rounded, MADV_HUGEPAGE);
#endif
    }
#ifdef MADV_POPULATE_WRITE
    // Pages that cannot be had now are refused now, not by the OOM killer
    // once the cells are written; a kernel without the call faults them
    // in as usual.
    if (rounded != 0 && ::madvise(start, rounded, MADV_POPULATE_WRITE) != 0 && errno == ENOMEM) {
        ::munmap(mapping, mapped);
        return block;
    }
#endif
    block.cells_ = reinterpret_cast<float *>(start);
    block.mapping_ = mapping;
    block.mappedBytes_ = mapped == 0 ? 1 : mapped;
#endif
    return block;
}

CellBlock CellBlock::mapFile(int fd, uint64_t offset, size_t count)
{
    CellBlock block;
    if (count > SIZE_MAX / sizeof(float))
        return block;
    block.file_ = lidar::FileMapping::map(fd, offset, count * sizeof(float));
    if (block.file_)
        // Only read: the kernels take cells as floats, never write them.
        block.cells_ = reinterpret_cast<float *>(const_cast<uint8_t *>(block.file_.data()));
    return block;
}

CellBlock &CellBlock::operator=(CellBlock &&other) noexcept
{
    if (this != &other) {
        reset();
        file_ = static_cast<lidar::FileMapping &&>(other.file_);
        cells_ = other.cells_;
        mapping_ = other.mapping_;
        mappedBytes_ = other.mappedBytes_;
        other.cells_ = nullptr;
        other.mapping_ = nullptr;
        other.mappedBytes_ = 0;
    }
    return *this;
}

void CellBlock::reset()
{
    if (file_) {
        file_.reset();
        cells_ = nullptr;
    }
#ifdef MORVANE_CELLS_ON_HEAP
    delete[] cells_;
#endif
    if (mapping_ != nullptr)
        ::munmap(mapping_, mappedBytes_);
    cells_ = nullptr;
    mapping_ = nullptr;
    mappedBytes_ = 0;
}

}  // namespace morvane
