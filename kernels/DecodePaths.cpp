#include "kernels/DecodePaths.h"

namespace zumo {

namespace {

// The widest set the processor runs. Every x86-64 processor has SSE2.
VectorSet WidestVectorSet() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    const bool avx512 = __builtin_cpu_supports("avx512f") != 0;
    if (avx2 && avx512) return VectorSet::Avx512;
    if (avx2) return VectorSet::Avx2;
    return VectorSet::Sse2;
#else
    return VectorSet::None;
#endif
}

const VectorSet widest = WidestVectorSet();

VectorSet VectorSetFor(DecodePath path) {
    switch (path) {
    case DecodePath::Fastest: return widest;
    case DecodePath::Portable: return widest == VectorSet::None ? VectorSet::None : VectorSet::Sse2;
    default: return VectorSet::None;
    }
}

} // namespace

std::atomic<DecodePath> detail::decodePath{DecodePath::Fastest};
std::atomic<VectorSet> detail::vectorSet{VectorSetFor(DecodePath::Fastest)};

void SetDecodePath(DecodePath path) {
    detail::decodePath.store(path, std::memory_order_relaxed);
    detail::vectorSet.store(VectorSetFor(path), std::memory_order_relaxed);
}

} // namespace zumo
