// The x86-64 build's vector kernels, and the pick of the widest one the
// processor runs.
#include "select/kernels.h"

namespace morvane {

std::span<const VectorKernel> vectorKernels()
{
    static constexpr VectorKernel kKernels[] = {
        {"AVX-512", avx512KernelAvailable, selectRecordsAvx512},
        {"AVX2", avx2KernelAvailable, selectRecordsAvx2},
    };
    return kKernels;
}

const VectorKernel *vectorKernel()
{
    for (const VectorKernel &k : vectorKernels())
        if (k.available())
            return &k;
    return nullptr;
}

}  // namespace morvane
