#include "lidar/internal/file_mapping.h"

#include <atomic>
#include <csignal>
#include <sys/mman.h>
#include <unistd.h>

namespace lidar {

FileMapping FileMapping::map(int fd, uint64_t offset, size_t bytes)
{
    FileMapping m;
    const auto page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
    const uint64_t start = offset / page * page;
    const auto lead = static_cast<size_t>(offset - start);
    if (bytes > SIZE_MAX - lead)
        return m;
    const size_t length = lead + bytes;
    void *base = ::mmap(nullptr, length == 0 ? 1 : length, PROT_READ, MAP_SHARED, fd, static_cast<off_t>(start));
    if (base == MAP_FAILED)
        return m;
    m.base_ = base;
    m.mapped_ = length == 0 ? 1 : length;
    m.data_ = static_cast<const uint8_t *>(base) + lead;
    m.bytes_ = bytes;
    return m;
}

FileMapping &FileMapping::operator=(FileMapping &&other) noexcept
{
    if (this != &other) {
        reset();
        base_ = other.base_;
        mapped_ = other.mapped_;
        data_ = other.data_;
        bytes_ = other.bytes_;
        other.base_ = nullptr;
        other.mapped_ = 0;
        other.data_ = nullptr;
        other.bytes_ = 0;
    }
    return *this;
}

void FileMapping::reset()
{
    if (base_ != nullptr)
        ::munmap(base_, mapped_);
    base_ = nullptr;
    mapped_ = 0;
    data_ = nullptr;
    bytes_ = 0;
}

namespace mapped_reads {
namespace {

// What the handler reads: set before a guarded read and cleared after it,
// by the one thread that reads mappings.
constexpr size_t kMostGuarded = 4;
const FileMapping *guarded[kMostGuarded] = {};
std::atomic<sigjmp_buf *> active{nullptr};
const void *faulted = nullptr;
struct sigaction before {};  // SIGBUS's action before ours

extern "C" void onBusError(int signal, siginfo_t *info, void *)
{
    sigjmp_buf *resume = active.load();
    // Only a fault of the processor's on a guarded mapping: a SIGBUS sent
    // by kill(2) carries no address of ours.
    if (resume != nullptr && info != nullptr && info->si_code > 0) {
        for (const FileMapping *m : guarded) {
            if (m != nullptr && m->contains(info->si_addr)) {
                faulted = info->si_addr;
                active.store(nullptr);
                siglongjmp(*resume, 1);
            }
        }
    }
    // Anyone else's: handled as it was before; a fault then recurs as the
    // instruction runs again, a signal sent is raised again.
    ::sigaction(SIGBUS, &before, nullptr);
    ::raise(signal);
}

void installOnce()
{
    static const bool installed = [] {
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        return ::sigaction(SIGBUS, &action, &before) == 0;
    }();
    (void)installed;
}

}  // namespace

void enter(sigjmp_buf *resume, std::initializer_list<const FileMapping *> mappings)
{
    installOnce();
    size_t k = 0;
    for (const FileMapping *m : mappings)
        if (m != nullptr && *m && k < kMostGuarded)
            guarded[k++] = m;
    for (; k < kMostGuarded; ++k)
        guarded[k] = nullptr;
    faulted = nullptr;
    active.store(resume);
}

void leave() noexcept
{
    active.store(nullptr);
}

const void *faultAddress()
{
    return faulted;
}

}  // namespace mapped_reads
}  // namespace lidar
