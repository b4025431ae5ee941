#include "raster/memory_limit.h"

#include "lidar/internal/read_at.h"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace morvane {

namespace {

// A small file's text (of /proc or /sys); empty when it cannot be read.
std::string fileText(const std::string &path)
{
    constexpr size_t kChunk = 4096, kMaxBytes = size_t{1} << 20;
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    size_t got = 0;
    do {
        text.resize(got + kChunk);
        const size_t read = lidar::read_at(fd, text.data() + got, kChunk, got).bytes;
        got += read;
        if (read < kChunk)
            break;
    } while (got < kMaxBytes);
    text.resize(got);
    ::close(fd);
    return text;
}

uint64_t lessHeld(uint64_t limit, uint64_t held)
{
    return limit == kNoMemoryLimit ? limit : limit - std::min(limit, held);
}

// The least limit of the group and of every group above it: a parent's
// limit binds its children too.
uint64_t cgroupLimit(std::string path, const std::string &root, const char *file)
{
    uint64_t least = kNoMemoryLimit;
    for (;;) {
        least = std::min(least, parseMemoryLimit(fileText(root + path + "/" + file)));
        const size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || path.empty())
            return least;
        path.resize(slash);
    }
}

// Pages of /proc/self/statm: the address space, what is resident, and the
// data and stack.
struct Held {
    uint64_t addressSpace = 0, resident = 0, data = 0;
};

Held heldNow(uint64_t pageSize)
{
    // size resident shared text lib data dirty, in pages
    const std::string statm = fileText("/proc/self/statm");
    uint64_t fields[6] = {};
    const char *at = statm.data(), *end = statm.data() + statm.size();
    for (uint64_t &field : fields) {
        while (at < end && *at == ' ')
            ++at;
        at = std::from_chars(at, end, field).ptr;
    }
    return {fields[0] * pageSize, fields[1] * pageSize, fields[5] * pageSize};
}

uint64_t resourceLimit(int resource)
{
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kNoMemoryLimit;
    return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace

uint64_t parseMemoryLimit(std::string_view text)
{
    uint64_t bytes = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), bytes);
    if (error != std::errc() || end == text.data())
        return kNoMemoryLimit;
    return bytes;
}

std::string_view cgroupPath(std::string_view procSelfCgroup, bool v1)
{
    while (!procSelfCgroup.empty()) {
        const size_t lineEnd = std::min(procSelfCgroup.find('\n'), procSelfCgroup.size());
        const std::string_view line = procSelfCgroup.substr(0, lineEnd);
        procSelfCgroup.remove_prefix(std::min(lineEnd + 1, procSelfCgroup.size()));
        // hierarchy-ID:controllers:path
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string_view::npos || second == std::string_view::npos)
            continue;
        const std::string_view controllers = line.substr(first + 1, second - first - 1);
        bool memory = false;
        for (std::string_view rest = controllers; !rest.empty();) {
            const size_t comma = std::min(rest.find(','), rest.size());
            memory = memory || rest.substr(0, comma) == "memory";
            rest.remove_prefix(std::min(comma + 1, rest.size()));
        }
        if (v1 ? memory : line.substr(0, first) == "0" && controllers.empty())
            return line.substr(second + 1);
    }
    return {};
}

uint64_t memoryThatMayBeHeld()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSizeValue = ::sysconf(_SC_PAGESIZE);
    const uint64_t pageSize = pageSizeValue > 0 ? static_cast<uint64_t>(pageSizeValue) : 4096;
    uint64_t machine = pages > 0 ? static_cast<uint64_t>(pages) * pageSize : kNoMemoryLimit;
    const std::string groups = fileText("/proc/self/cgroup");
    if (const std::string_view v2 = cgroupPath(groups, false); !v2.empty())
        machine = std::min(machine, cgroupLimit(std::string(v2), "/sys/fs/cgroup", "memory.max"));
    if (const std::string_view v1 = cgroupPath(groups, true); !v1.empty())
        machine = std::min(machine, cgroupLimit(std::string(v1), "/sys/fs/cgroup/memory", "memory.limit_in_bytes"));
    const Held held = heldNow(pageSize);
    return std::min({lessHeld(machine, held.resident), lessHeld(resourceLimit(RLIMIT_AS), held.addressSpace),
                     lessHeld(resourceLimit(RLIMIT_DATA), held.data)});
}

}  // namespace morvane
