// The memory the cells held live in: one block, owned.
//
// A fresh page costs a fault on first touch, and on a virtual machine that
// fault costs more than reading the page's cells from the page cache: a
// block of 2 MiB or more is therefore laid in 2 MiB pages where the kernel
// offers them, and every page is mapped in one call before the cells are
// written (both only optimisations; without them the pages fault in as
// usual).
#ifndef MORVANE_CELL_BLOCK_H
#define MORVANE_CELL_BLOCK_H

#include "lidar/internal/file_mapping.h"

#include <cstddef>
#include <cstdint>

namespace morvane {

class CellBlock {
public:
    CellBlock() = default;
    // count cells, or an empty block when the memory cannot be had.
    static CellBlock allocate(size_t count);
    // count cells of a file read where they lie, from byte `offset` on (a
    // multiple of four): a read-only mapping, whose cells are never written;
    // an empty block where the file cannot be mapped.
    static CellBlock mapFile(int fd, uint64_t offset, size_t count);
    ~CellBlock() { reset(); }
    CellBlock(CellBlock &&other) noexcept { *this = static_cast<CellBlock &&>(other); }
    CellBlock &operator=(CellBlock &&other) noexcept;
    CellBlock(const CellBlock &) = delete;
    CellBlock &operator=(const CellBlock &) = delete;

    float *get() const { return cells_; }
    float &operator[](size_t k) const { return cells_[k]; }
    explicit operator bool() const { return cells_ != nullptr; }
    void reset();
    // The mapping of a file's cells read in place, or none: a read of it
    // faults where the file was cut short since.
    const lidar::FileMapping &fileMapping() const { return file_; }

private:
    float *cells_ = nullptr;
    void *mapping_ = nullptr;  // what munmap releases
    size_t mappedBytes_ = 0;
    lidar::FileMapping file_;
};

}  // namespace morvane

#endif
