// How much more memory this process may hold: the least of the machine's
// memory, its control group's limit and its resource limits, less what it
// holds already. Asked before cells are held, so that a run too large for
// them is refused with its message instead of killed once its pages fill.
#ifndef MORVANE_MEMORY_LIMIT_H
#define MORVANE_MEMORY_LIMIT_H

#include <cstdint>
#include <string_view>

namespace morvane {

constexpr uint64_t kNoMemoryLimit = UINT64_MAX;

// Bytes this process may still hold; kNoMemoryLimit when nothing says.
uint64_t memoryThatMayBeHeld();

// A control group's memory limit as its file writes it ("max", or bytes
// and a line end); kNoMemoryLimit for "max" or what is not a number.
uint64_t parseMemoryLimit(std::string_view text);

// The path of this process's control group for the memory controller,
// from the text of /proc/self/cgroup: the v1 line naming "memory" when
// `v1` is true, else the v2 line ("0::"). Empty when there is none.
std::string_view cgroupPath(std::string_view procSelfCgroup, bool v1);

}  // namespace morvane

#endif
