#pragma once

#include "kernels/Rounding.h"

#include <cstdint>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

// The conversion of a block's 32 window sums to 16-bit PCM on vectors:
// pcm[j] = ToPcm16(float(sum[j] * scale)). The compiler leaves the clamping
// of ToPcm16 as jumps, one output at a time, so its steps are written out
// here for four, eight or sixteen outputs at once: maxps with the lower
// limit second turns NaN into -32768 as ToPcm16 does, the rounding is the
// same addition and subtraction, and the packing saturates nothing as the
// values are in range (the AVX-512 conversion to 16 bits saturates as the
// SSE2 packing does).
namespace zumo::kernels {

#if defined(__x86_64__)

inline void ScaleToPcm16Sse2(const double* sum, double scale, int16_t* pcm) {
    const __m128d factor = _mm_set1_pd(scale);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 round = _mm_set1_ps(kRoundToInteger);
    for (int j = 0; j < 32; j += 8) {
        __m128 x[2];
        for (int h = 0; h < 2; ++h) {
            const __m128 a = _mm_cvtpd_ps(_mm_mul_pd(_mm_load_pd(sum + j + 4 * h), factor));
            const __m128 b = _mm_cvtpd_ps(_mm_mul_pd(_mm_load_pd(sum + j + 4 * h + 2), factor));
            const __m128 v = _mm_movelh_ps(a, b);
            const __m128 clamped = _mm_min_ps(_mm_max_ps(v, low), high);
            x[h] = _mm_sub_ps(_mm_add_ps(clamped, round), round);
        }
        const __m128i packed = _mm_packs_epi32(_mm_cvttps_epi32(x[0]), _mm_cvttps_epi32(x[1]));
        _mm_store_si128(reinterpret_cast<__m128i*>(pcm + j), packed);
    }
}

__attribute__((target("avx2"), always_inline)) inline void ScaleToPcm16Avx2(const double* sum, double scale,
                                                                            int16_t* pcm) {
    const __m256d factor = _mm256_set1_pd(scale);
    const __m256 low = _mm256_set1_ps(-32768.0f);
    const __m256 high = _mm256_set1_ps(32767.0f);
    const __m256 round = _mm256_set1_ps(kRoundToInteger);
    for (int j = 0; j < 32; j += 8) {
        const __m128 a = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(sum + j), factor));
        const __m128 b = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(sum + j + 4), factor));
        const __m256 v = _mm256_insertf128_ps(_mm256_castps128_ps256(a), b, 1);
        const __m256 clamped = _mm256_min_ps(_mm256_max_ps(v, low), high);
        const __m256i whole = _mm256_cvttps_epi32(_mm256_sub_ps(_mm256_add_ps(clamped, round), round));
        const __m128i packed = _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extractf128_si256(whole, 1));
        _mm_store_si128(reinterpret_cast<__m128i*>(pcm + j), packed);
    }
}

// GCC 12 warns of the undefined upper halves its own AVX-512 conversions
// start from; they are overwritten.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
__attribute__((target("avx512f"), always_inline)) inline void ScaleToPcm16Avx512(const double* sum, double scale,
                                                                                 int16_t* pcm) {
    const __m512d factor = _mm512_set1_pd(scale);
    const __m512 low = _mm512_set1_ps(-32768.0f);
    const __m512 high = _mm512_set1_ps(32767.0f);
    const __m512 round = _mm512_set1_ps(kRoundToInteger);
    for (int j = 0; j < 32; j += 16) {
        const __m256 a = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_load_pd(sum + j), factor));
        const __m256 b = _mm512_cvtpd_ps(_mm512_mul_pd(_mm512_load_pd(sum + j + 8), factor));
        const __m512 v = _mm512_castpd_ps(
            _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(a)), _mm256_castps_pd(b), 1));
        const __m512 clamped = _mm512_min_ps(_mm512_max_ps(v, low), high);
        const __m512i whole = _mm512_cvttps_epi32(_mm512_sub_ps(_mm512_add_ps(clamped, round), round));
        _mm256_store_si256(reinterpret_cast<__m256i*>(pcm + j), _mm512_cvtsepi32_epi16(whole));
    }
}
#pragma GCC diagnostic pop

#endif

} // namespace zumo::kernels
