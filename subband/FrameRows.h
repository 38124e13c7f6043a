#pragma once

#include "subband/SubBand1Mono.h"

#include <cstdint>

namespace zumo {

// A Layer I or II frame's samples as SubBandFrame reads them, one row per
// channel of a subband ([channel * 32 + subband]), and the plain loops that
// make each filter's blocks of them ([subband][slot or sample]), from the
// rows of one channel or as the average of both. The subband kernels run
// the same arithmetic on vectors (kernels/SubbandKernels.h).

// Subbands of a frame: rows per channel.
inline constexpr int32_t kFrameSubbands = 32;

// One row of a Layer I frame's codes (a channel of a subband) with what
// requantises it.
struct SlotRow {
    const int32_t* codes; // 12 codes, one per slot
    // In double precision, as the arithmetic takes them (and so that
    // storing samples cannot be taken to change them).
    double factor;
    double offset;
    double scale;
};

// One row of a Layer II frame's samples (a channel of a subband): its 36
// requantised values and the scale factor of each third of the frame, in
// double precision as the arithmetic takes them.
struct GroupRow {
    const float* values;
    double scale[3];
};

// The blocks of one filter, [subband][slot], from the 32 Layer I rows at
// `left`, or the average of those and the 32 at `right` when given, with
// the arithmetic of the per-sample steps.
inline void RequantiseBlocksPlain(const SlotRow* left, const SlotRow* right, float* out) {
    for (int32_t sb = 0; sb < kFrameSubbands; ++sb) {
        for (int32_t slot = 0; slot < 12; ++slot) {
            double v;
            const SlotRow& l = left[sb];
            SubBand1Mono::RequantiseInto(static_cast<double>(l.codes[slot]), l.factor, l.offset, l.scale, v);
            if (right) {
                double r;
                const SlotRow& rr = right[sb];
                SubBand1Mono::RequantiseInto(static_cast<double>(rr.codes[slot]), rr.factor, rr.offset, rr.scale, r);
                v = 0.5 * (v + r);
            }
            out[sb * 12 + slot] = static_cast<float>(v);
        }
    }
}

// The blocks of one filter, [subband][sample], from the 32 Layer II rows at
// `left`, or (Mix) the average of those and the 32 at `right`: each value
// times its third's scale factor, with the arithmetic of the per-sample
// steps. (The compiler runs these loops on vectors; the AVX2 kernel is this
// same template compiled for AVX2.)
template <bool Mix>
[[gnu::always_inline]] inline void ScaleBlocksBy(const GroupRow* left, const GroupRow* right, float* __restrict out) {
    for (int32_t sb = 0; sb < kFrameSubbands; ++sb) {
        for (int32_t part = 0; part < 3; ++part) {
            const float* __restrict l = left[sb].values + part * 12;
            const double ls = left[sb].scale[part];
            float* o = out + sb * 36 + part * 12;
            if constexpr (Mix) {
                const float* __restrict r = right[sb].values + part * 12;
                const double rs = right[sb].scale[part];
                for (int32_t i = 0; i < 12; ++i) o[i] = static_cast<float>(0.5 * (l[i] * ls + r[i] * rs));
            } else {
                for (int32_t i = 0; i < 12; ++i) o[i] = static_cast<float>(l[i] * ls);
            }
        }
    }
}

} // namespace zumo
