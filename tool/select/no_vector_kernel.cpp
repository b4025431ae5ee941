// Builds for processors other than x86-64 have no vector kernel: the
// portable one serves alone.
#include "select/kernels.h"

namespace morvane {

std::span<const VectorKernel> vectorKernels()
{
    return {};
}

const VectorKernel *vectorKernel()
{
    return nullptr;
}

}  // namespace morvane
