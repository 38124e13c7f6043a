#pragma once

#include "kernels/DecodePaths.h"

#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The kernel of the Layer III dequantisation (Layer3Dequantize.cpp).
// Inline, compiled into the stage that calls it.
namespace zumo::kernels {

namespace dequantize {

#if defined(__x86_64__)
// Eight lines at a time, as long as eight are left: eight lookups of
// |v|^(4/3) in one gather, the products in double precision as in the
// stage's loop, the sign put on after rounding (rounding to nearest is
// symmetric, so the results are the same). Returns how many lines it did.
__attribute__((target("avx2"))) inline int32_t ScaleLinesAvx2(const int32_t* in, float* out, int32_t n, double scale,
                                                              const float* pow43, int32_t pow43Size) {
    const __m256i last = _mm256_set1_epi32(pow43Size - 1);
    const __m256i signBit = _mm256_set1_epi32(static_cast<int32_t>(0x80000000u));
    const __m256d factor = _mm256_set1_pd(scale);
    int32_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + j));
        // |INT_MIN| stays 0x80000000, which the unsigned minimum clamps too.
        const __m256i index = _mm256_min_epu32(_mm256_abs_epi32(v), last);
        const __m256 p = _mm256_i32gather_ps(pow43, index, 4);
        const __m256d lo = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(p)), factor);
        const __m256d hi = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(p, 1)), factor);
        const __m256 magnitude = _mm256_set_m128(_mm256_cvtpd_ps(hi), _mm256_cvtpd_ps(lo));
        const __m256 sign = _mm256_castsi256_ps(_mm256_and_si256(v, signBit));
        _mm256_storeu_ps(out + j, _mm256_xor_ps(magnitude, sign));
    }
    return j;
}
#endif

} // namespace dequantize

// out[j] = sign(v) * |v|^(4/3) * scale for the first lines v = in[j] of n,
// |v| clamped to the table pow43 of pow43Size entries. Returns how many
// lines it did (none where no kernel runs); the stage does the rest.
inline int32_t ScaleLines(const int32_t* in, float* out, int32_t n, double scale, const float* pow43,
                          int32_t pow43Size) {
#if defined(__x86_64__)
    if (CurrentVectorSet() >= VectorSet::Avx2) return dequantize::ScaleLinesAvx2(in, out, n, scale, pow43, pow43Size);
#endif
    (void)in, (void)out, (void)n, (void)scale, (void)pow43, (void)pow43Size;
    return 0;
}

} // namespace zumo::kernels
