#pragma once

#include "kernels/DecodePaths.h"
#include "kernels/Pcm16.h"
#include "kernels/Vectors.h"
#include "synth/FastCosine.h"

#include <cstdint>
#include <cstring>
#include <utility>

// The kernels of the synthesis filter (SynthFilter.cpp): the cosine
// transforms of several blocks side by side, and the window sums of a
// block with their conversion to 16 bits. Inline, compiled into the filter
// that calls them.
namespace zumo::kernels {

namespace synth {

// Interleaves the lower (or upper) halves of two vectors of L lanes into
// out: a0 b0 a1 b1 ...
template <int L, bool Upper, typename V, int... I>
[[gnu::always_inline]] inline void Interleave(const V& a, const V& b, V& out, std::integer_sequence<int, I...>) {
    out = __builtin_shufflevector(a, b, ((I % 2 != 0 ? L : 0) + I / 2 + (Upper ? L / 2 : 0))...);
}

// Transposes the L x L tile rows[0..L-1] (row i, lane j becomes row j,
// lane i): each of the log2(L) rounds interleaves row j with row j + L/2,
// which moves one bit of the row number into the lane number.
template <typename V, int L>
[[gnu::always_inline]] inline void TransposeTile(V* rows) {
    constexpr auto lanes = std::make_integer_sequence<int, L>{};
    for (int bit = 1; bit < L; bit *= 2) {
        V next[L];
        for (int j = 0; j < L / 2; ++j) {
            Interleave<L, false>(rows[j], rows[j + L / 2], next[2 * j], lanes);
            Interleave<L, true>(rows[j], rows[j + L / 2], next[2 * j + 1], lanes);
        }
        for (int j = 0; j < L; ++j) rows[j] = next[j];
    }
}

// The transforms of as many blocks as V has lanes, by the filter's own
// FastCosine with one block per lane: subband sb of block l is
// samples[sb * stride + l]; X[k] of block l goes to x[l * 32 + k], each
// block's values together. With a second source, the lower half of the
// lanes comes from samples and the upper half from second (blocks of two
// channels transformed together).
template <typename V>
[[gnu::always_inline]] inline void CosineBlocksBy(const float* samples, int32_t stride, float* x, const float* scales,
                                                  const float* second = nullptr) {
    constexpr int kLanes = kLanesOf<V, float>;
    V in[32];
    for (int sb = 0; sb < 32; ++sb) {
        if (second) {
            std::memcpy(&in[sb], samples + sb * stride, sizeof(V) / 2);
            std::memcpy(reinterpret_cast<float*>(&in[sb]) + kLanes / 2, second + sb * stride, sizeof(V) / 2);
        } else {
            Load(in[sb], samples + sb * stride);
        }
    }
    V out[32];
    FastCosine<32>(in, out, scales);
    for (int tile = 0; tile < 32; tile += kLanes) {
        TransposeTile<V, kLanes>(out + tile);
        for (int l = 0; l < kLanes; ++l) Store(x + l * 32 + tile, out[tile + l]);
    }
}

#if defined(__x86_64__)
inline void CosineBlocks4(const float* samples, int32_t stride, float* x, const float* scales) {
    CosineBlocksBy<Float4>(samples, stride, x, scales);
}

__attribute__((target("avx2"))) inline void CosineBlocks8(const float* samples, int32_t stride, float* x,
                                                          const float* scales) {
    CosineBlocksBy<Float8>(samples, stride, x, scales);
}

__attribute__((target("avx2"))) inline void CosineBlocks4And4(const float* first, const float* second, int32_t stride,
                                                              float* x, const float* scales) {
    CosineBlocksBy<Float8>(first, stride, x, scales, second);
}

__attribute__((target("avx512f"))) inline void CosineBlocks16(const float* samples, int32_t stride, float* x,
                                                              const float* scales) {
    CosineBlocksBy<Float16>(samples, stride, x, scales);
}
#endif

// The window sums of a block: sum[j] adds the products of the 16 taps of
// output j with row j of the blocks 0..15 back (slot (slot - m) mod 16 of
// the store holds the block m back), in tap order. The outputs are taken
// Count vectors at a time and their sums stay in registers across the 16
// taps; each lane adds its products in the same order as the filter's
// plain loop. With two channels (two filters at the same slot) each run of
// window coefficients is loaded once for both channels' products.
template <typename Vec, int Count, int Channels>
[[gnu::always_inline]] inline void WindowSumsBy(const double* const* stores, int32_t slot, const double (*taps)[32],
                                                double (*sums)[32]) {
    constexpr int kLanes = kLanesOf<Vec, double>;
    constexpr int kStep = Count * kLanes;
    static_assert(32 % kStep == 0);
    for (int base = 0; base < 32; base += kStep) {
        Vec acc[Channels][Count];
        for (int c = 0; c < Channels; ++c)
            for (int i = 0; i < Count; ++i) acc[c][i] = Vec{};
        for (int m = 0; m < 16; ++m) {
            const int32_t row = 32 * ((slot - m) & 15) + base;
            const double* w = taps[m] + base;
            for (int i = 0; i < Count; ++i) {
                Vec b;
                Load(b, w + i * kLanes);
#if defined(__GNUC__) && !defined(__clang__)
                // Left to itself GCC reads the coefficients from memory
                // again for each channel's product; this empty statement
                // makes it keep them in a register.
                if constexpr (Channels > 1) __asm__("" : "+v"(b));
#endif
                for (int c = 0; c < Channels; ++c) {
                    Vec a;
                    Load(a, stores[c] + row + i * kLanes);
                    acc[c][i] += a * b;
                }
            }
        }
        for (int c = 0; c < Channels; ++c)
            for (int i = 0; i < Count; ++i) Store(sums[c] + base + i * kLanes, acc[c][i]);
    }
}

#if defined(__x86_64__)
// The window sums and their conversion in one, for one channel or two.
// SSE2 and AVX2 have 16 vector registers: two channels take half as many
// sums at a time, so that the sums of both stay in registers.
template <int Channels>
void WindowToPcmSse2(const double* const* stores, int32_t slot, const double (*taps)[32], const double* scales,
                     int16_t* const* pcm) {
    alignas(16) double sums[Channels][32];
    WindowSumsBy<Double2, 8 / Channels, Channels>(stores, slot, taps, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16Sse2(sums[c], scales[c], pcm[c]);
}

template <int Channels>
__attribute__((target("avx2"))) void WindowToPcmAvx2(const double* const* stores, int32_t slot,
                                                     const double (*taps)[32], const double* scales,
                                                     int16_t* const* pcm) {
    alignas(32) double sums[Channels][32];
    WindowSumsBy<Double4, 8 / Channels, Channels>(stores, slot, taps, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16Avx2(sums[c], scales[c], pcm[c]);
}

template <int Channels>
__attribute__((target("avx512f"))) void WindowToPcmAvx512(const double* const* stores, int32_t slot,
                                                          const double (*taps)[32], const double* scales,
                                                          int16_t* const* pcm) {
    alignas(64) double sums[Channels][32];
    WindowSumsBy<Double8, 4, Channels>(stores, slot, taps, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16Avx512(sums[c], scales[c], pcm[c]);
}
#endif

} // namespace synth

// The cosine transforms (FastCosine<32>) of the next blocks, as many side
// by side as the vectors take: subband sb of block l is
// first[sb * stride + l] and block l's 32 values go to x[l * 32 ...].
// Returns how many blocks it transformed (16, 8, 4, or the one to three
// left), or 0 when no kernels run (the filter then transforms one block
// itself).
inline int32_t CosineBlocks(const float* first, int32_t stride, int32_t left, float* x, const float* scales) {
#if defined(__x86_64__)
    const VectorSet set = CurrentVectorSet();
    if (set == VectorSet::Avx512 && left >= 16) {
        synth::CosineBlocks16(first, stride, x, scales);
        return 16;
    }
    if (set >= VectorSet::Avx2 && left >= 8) {
        synth::CosineBlocks8(first, stride, x, scales);
        return 8;
    }
    if (set >= VectorSet::Sse2 && left >= 4) {
        synth::CosineBlocks4(first, stride, x, scales);
        return 4;
    }
    if (set >= VectorSet::Sse2 && left > 0) {
        // One to three blocks left: they take the first lanes of one
        // four-lane transform (the others repeat the last block), which
        // costs about what two blocks one at a time would.
        alignas(16) float lanes[32 * 4];
        for (int sb = 0; sb < 32; ++sb)
            for (int l = 0; l < 4; ++l) lanes[sb * 4 + l] = first[sb * stride + (l < left ? l : left - 1)];
        alignas(16) float out[4 * 32];
        synth::CosineBlocks4(lanes, 4, out, scales);
        std::memcpy(x, out, sizeof(float) * 32 * static_cast<size_t>(left));
        return left;
    }
#endif
    (void)first, (void)stride, (void)left, (void)x, (void)scales;
    return 0;
}

// The same for two channels when four to seven blocks are left: four blocks
// of each fill the eight lanes of one AVX2 transform, the first channel's
// going to x[0 .. 4 * 32), the second's to x[4 * 32 .. 8 * 32). Returns 4,
// or 0 when it does not apply (the filters then go on one by one).
inline int32_t CosineBlocksOfTwo(const float* first, const float* second, int32_t stride, int32_t left, float* x,
                                 const float* scales) {
#if defined(__x86_64__)
    if (CurrentVectorSet() >= VectorSet::Avx2 && left >= 4 && left < 8) {
        synth::CosineBlocks4And4(first, second, stride, x, scales);
        return 4;
    }
#endif
    (void)first, (void)second, (void)stride, (void)left, (void)x, (void)scales;
    return 0;
}

// The window sums of the current slot and their conversion to 16 bits, for
// one filter or for two filters at the same slot: stores, scales and pcm
// hold one entry per filter, taps the window by tap ([tap][output]).
using WindowFn = void (*)(const double* const* stores, int32_t slot, const double (*taps)[32], const double* scales,
                          int16_t* const* pcm);

// The kernel of the window sums for the current vector set; nullptr when
// no kernels run (the filter then takes its plain loop).
template <int Channels>
inline WindowFn WindowToPcm() {
#if defined(__x86_64__)
    switch (CurrentVectorSet()) {
    case VectorSet::Avx512: return synth::WindowToPcmAvx512<Channels>;
    case VectorSet::Avx2: return synth::WindowToPcmAvx2<Channels>;
    case VectorSet::Sse2: return synth::WindowToPcmSse2<Channels>;
    case VectorSet::None: break;
    }
#endif
    return nullptr;
}

} // namespace zumo::kernels
