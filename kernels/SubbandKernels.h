#pragma once

#include "kernels/DecodePaths.h"
#include "kernels/Vectors.h"
#include "subband/FrameRows.h"
#include "subband/SubBand1Mono.h"

#include <cstdint>

// The kernels of the Layer I and II frame decoder (SubBandFrame.cpp): each
// filter's blocks made from a frame's rows on vectors. Inline, compiled
// into the stage that calls them.
namespace zumo::kernels {

namespace subband {

// The requantised codes of a Layer I row, four from slot `first` on.
[[gnu::always_inline]] inline void RowValues(const SlotRow& row, int32_t first, Double4& out) {
    Int4 codes;
    Load(codes, row.codes + first);
    SubBand1Mono::RequantiseInto(__builtin_convertvector(codes, Double4), row.factor, row.offset, row.scale, out);
}

// RequantiseBlocksPlain four slots at a time, each lane with its arithmetic.
[[gnu::always_inline]] inline void RequantiseBlocksBy(const SlotRow* left, const SlotRow* right, float* out) {
    for (int32_t sb = 0; sb < kFrameSubbands; ++sb) {
        for (int32_t first = 0; first < 12; first += 4) {
            Double4 v;
            RowValues(left[sb], first, v);
            if (right) {
                Double4 r;
                RowValues(right[sb], first, r);
                v = 0.5 * (v + r);
            }
            Store(out + sb * 12 + first, __builtin_convertvector(v, Float4));
        }
    }
}

#if defined(__x86_64__)
inline void RequantiseBlocksSse2(const SlotRow* left, const SlotRow* right, float* out) {
    RequantiseBlocksBy(left, right, out);
}

__attribute__((target("avx2"))) inline void RequantiseBlocksAvx2(const SlotRow* left, const SlotRow* right,
                                                                 float* out) {
    RequantiseBlocksBy(left, right, out);
}

// The stage's own loop for Layer II compiled for AVX2.
__attribute__((target("avx2"))) inline void ScaleBlocksAvx2(const GroupRow* left, const GroupRow* right, float* out) {
    if (right) ScaleBlocksBy<true>(left, right, out);
    else ScaleBlocksBy<false>(left, right, out);
}
#endif

} // namespace subband

// RequantiseBlocksPlain (FrameRows.h) on vectors. False when no kernel
// runs: the stage then takes its loop.
inline bool RequantiseBlocks(const SlotRow* left, const SlotRow* right, float* out) {
#if defined(__x86_64__)
    switch (CurrentVectorSet()) {
    case VectorSet::Avx512:
    case VectorSet::Avx2: subband::RequantiseBlocksAvx2(left, right, out); return true;
    case VectorSet::Sse2: subband::RequantiseBlocksSse2(left, right, out); return true;
    case VectorSet::None: break;
    }
#endif
    (void)left, (void)right, (void)out;
    return false;
}

// ScaleBlocksBy (FrameRows.h) on AVX2. False when the processor or the path
// has no AVX2: the stage's loop, compiled for the baseline, is then the
// fastest form.
inline bool ScaleBlocks(const GroupRow* left, const GroupRow* right, float* out) {
#if defined(__x86_64__)
    if (CurrentVectorSet() >= VectorSet::Avx2) {
        subband::ScaleBlocksAvx2(left, right, out);
        return true;
    }
#endif
    (void)left, (void)right, (void)out;
    return false;
}

} // namespace zumo::kernels
