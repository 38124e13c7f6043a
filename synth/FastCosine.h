#pragma once

namespace zumo {

// Where each stage's multipliers start in the DctScale table, by the size
// of the transforms of that stage.
constexpr int CosineScaleOffset(int n) { return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30; }

// The fast cosine transform of N points (N = 32, 16, ..., 1),
// X[k] = sum over n of in[n] * cos((2n + 1) k pi / (2N)), by the even/odd
// factorisation: the sums of mirrored inputs give the even outputs through
// a transform of N/2 points, and their differences, each scaled by
// 1 / (2 cos((2n + 1) pi / (2N))), give the odd outputs through another,
// each odd output being the sum of two neighbouring results of it. scales
// is the DctScale table.
//
// T is float for one block. The synthesis kernels run the same template on
// vectors of floats that hold one block per lane, so that every lane takes
// exactly this arithmetic.
template <int N, typename T>
[[gnu::always_inline]] inline void FastCosine(const T* in, T* out, const float* scales) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        const float* s = scales + CosineScaleOffset(N);
        T sums[H];
        T diffs[H];
        for (int n = 0; n < H; ++n) {
            sums[n] = in[n] + in[N - 1 - n];
            diffs[n] = (in[n] - in[N - 1 - n]) * s[n];
        }
        T even[H];
        T odd[H];
        FastCosine<H>(sums, even, scales);
        FastCosine<H>(diffs, odd, scales);
        for (int k = 0; k < H; ++k) out[2 * k] = even[k];
        for (int k = 0; k < H - 1; ++k) out[2 * k + 1] = odd[k] + odd[k + 1];
        out[N - 1] = odd[H - 1];
    }
}

} // namespace zumo
