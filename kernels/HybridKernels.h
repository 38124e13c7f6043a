#pragma once

#include "kernels/DecodePaths.h"
#include "kernels/Vectors.h"
#include "layer3/FastImdct.h"

#include <algorithm>
#include <array>

// The kernel of the Layer III hybrid synthesis (Layer3Hybrid.cpp): the
// inverse MDCT of several subbands side by side. Inline, compiled into the
// stage that calls it.
namespace zumo::kernels {

namespace hybrid {

// The hybrid synthesis of a granule whose 32 subbands are all long blocks
// of one window shape: Vec's lanes take as many subbands side by side
// through the stage's own Dct4Size18 and WindowLong, the overlap added as
// in Layer3Decoder::Hybrid. A group of subbands without signal keeps only
// the previous overlap; a silent subband within a busy group transforms to
// zeros, which gives the same.
template <typename Vec>
[[gnu::always_inline]] inline void HybridLongBy(float* lines, float* carry, const std::array<float, 36>& window) {
    constexpr int kLanes = kLanesOf<Vec, float>;
    for (int group = 0; group < 32; group += kLanes) {
        float* in = lines + 18 * group;
        float* prev = carry + 18 * group;
        if (std::all_of(in, in + 18 * kLanes, [](float v) { return v == 0.0f; })) {
            std::copy(prev, prev + 18 * kLanes, in);
            std::fill(prev, prev + 18 * kLanes, 0.0f);
            continue;
        }
        Vec x[18];
        for (int k = 0; k < 18; ++k)
            for (int lane = 0; lane < kLanes; ++lane) x[k][lane] = in[18 * lane + k];
        Vec z[18];
        Dct4Size18(x, z);
        Vec r[36];
        WindowLong(z, window, r);
        for (int k = 0; k < 18; ++k) {
            for (int lane = 0; lane < kLanes; ++lane) {
                in[18 * lane + k] = r[k][lane] + prev[18 * lane + k];
                prev[18 * lane + k] = r[18 + k][lane];
            }
        }
    }
}

#if defined(__x86_64__)
inline void HybridLongSse2(float* lines, float* carry, const std::array<float, 36>& window) {
    HybridLongBy<Float4>(lines, carry, window);
}

__attribute__((target("avx2"))) inline void HybridLongAvx2(float* lines, float* carry,
                                                           const std::array<float, 36>& window) {
    HybridLongBy<Float8>(lines, carry, window);
}
#endif

} // namespace hybrid

// The hybrid synthesis of a granule of 32 long-block subbands (lines, 18
// per subband, with carry, the overlap of each) in the window given, as the
// stage's loop does it. False when no kernel runs: the stage then takes its
// loop.
inline bool HybridLong(float* lines, float* carry, const std::array<float, 36>& window) {
#if defined(__x86_64__)
    switch (CurrentVectorSet()) {
    case VectorSet::Avx512:
    case VectorSet::Avx2: hybrid::HybridLongAvx2(lines, carry, window); return true;
    case VectorSet::Sse2: hybrid::HybridLongSse2(lines, carry, window); return true;
    case VectorSet::None: break;
    }
#endif
    (void)lines, (void)carry, (void)window;
    return false;
}

} // namespace zumo::kernels
