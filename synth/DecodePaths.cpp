#include "synth/DecodePaths.h"

namespace zumo {

std::atomic<DecodePath> detail::decodePath{DecodePath::Fastest};

namespace {

struct CpuFeatures {
    bool avx2 = false;
    bool avx512 = false;
    CpuFeatures() {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_cpu_init();
        avx2 = __builtin_cpu_supports("avx2") != 0;
        avx512 = __builtin_cpu_supports("avx512f") != 0;
#endif
    }
};

const CpuFeatures& Features() {
    static const CpuFeatures features;
    return features;
}

} // namespace

bool HaveAvx2() { return Features().avx2; }
bool HaveAvx512() { return Features().avx512; }

} // namespace zumo
