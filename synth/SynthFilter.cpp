#include "synth/SynthFilter.h"

#include "synth/DecodePaths.h"
#include "synth/SynthWindow.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#elif defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <numbers>
#include <utility>

namespace zumo {

namespace {

// Where each stage's multipliers start in the DctScale table, by stage size.
constexpr int ScaleOffset(int n) { return n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30; }

// The fast cosine transform, stage by stage: an N-point transform splits
// into two of N/2 points, one of the sums of mirrored inputs (it gives the
// even outputs) and one of their scaled differences (each odd output is the
// sum of two neighbouring results of it). Rather than recursing, each stage
// runs all its transforms side by side: the T transforms of M points are
// kept as [n][t], value n of transform t, so that every butterfly is a loop
// over t, on SSE2 vectors of four where T allows. Each value takes the same
// arithmetic, in the same order, as in the recursive form.

// sum[t] = a[t] + b[t] and diff[t] = (a[t] - b[t]) * s, t < T.
template <int T>
inline void Butterfly(const float* a, const float* b, float* sum, float* diff, float s) {
#if defined(__SSE2__)
    if constexpr (T % 4 == 0) {
        const __m128 scale = _mm_set1_ps(s);
        for (int t = 0; t < T; t += 4) {
            const __m128 lo = _mm_loadu_ps(a + t);
            const __m128 hi = _mm_loadu_ps(b + t);
            _mm_storeu_ps(sum + t, _mm_add_ps(lo, hi));
            _mm_storeu_ps(diff + t, _mm_mul_ps(_mm_sub_ps(lo, hi), scale));
        }
        return;
    }
#endif
    for (int t = 0; t < T; ++t) {
        sum[t] = a[t] + b[t];
        diff[t] = (a[t] - b[t]) * s;
    }
}

// out[t] = a[t] + b[t], t < T.
template <int T>
inline void AddRows(const float* a, const float* b, float* out) {
#if defined(__SSE2__)
    if constexpr (T % 4 == 0) {
        for (int t = 0; t < T; t += 4) _mm_storeu_ps(out + t, _mm_add_ps(_mm_loadu_ps(a + t), _mm_loadu_ps(b + t)));
        return;
    }
#endif
    for (int t = 0; t < T; ++t) out[t] = a[t] + b[t];
}

// Splits T transforms of M points into 2T of M/2: row n of the result holds
// the sums (t < T) and then the scaled differences (T + t).
template <int M, int T>
inline void SplitStage(const float* d, float* next, const float* scales) {
    const float* s = scales + ScaleOffset(M);
    for (int n = 0; n < M / 2; ++n) {
        float* row = next + n * 2 * T;
        Butterfly<T>(d + n * T, d + (M - 1 - n) * T, row, row + T, s[n]);
    }
}

// Joins the results of 2T transforms of M/2 points, laid out as SplitStage
// made them, into the results of the T transforms of M points.
template <int M, int T>
inline void JoinStage(const float* r, float* out) {
    constexpr int H = M / 2;
    for (int k = 0; k < H - 1; ++k) {
        const float* even = r + k * 2 * T;
        std::copy(even, even + T, out + 2 * k * T);
        AddRows<T>(even + T, even + 3 * T, out + 2 * k * T + T);
    }
    // The last odd result has no neighbour above it.
    const float* last = r + (H - 1) * 2 * T;
    std::copy(last, last + 2 * T, out + (M - 2) * T);
}

inline void Cosine32(const float* x, float* out, const float* scales) {
    alignas(16) float d1[32], d2[32], d3[32], d4[32], d5[32];
    SplitStage<32, 1>(x, d1, scales);
    SplitStage<16, 2>(d1, d2, scales);
    SplitStage<8, 4>(d2, d3, scales);
    SplitStage<4, 8>(d3, d4, scales);
    SplitStage<2, 16>(d4, d5, scales);
    // d5 holds the 32 one-point transforms, which are their own results.
    JoinStage<2, 16>(d5, d4);
    JoinStage<4, 8>(d4, d3);
    JoinStage<8, 4>(d3, d2);
    JoinStage<16, 2>(d2, d1);
    JoinStage<32, 1>(d1, out);
}

std::array<float, 31> ComputeDctScale() {
    std::array<float, 31> table{};
    int i = 0;
    // Stage of N points uses k = (2n + 1) * 32 / N, n = 0 .. N/2 - 1.
    for (int n = 32; n >= 2; n /= 2) {
        for (int j = 0; j < n / 2; ++j) {
            const long double k = static_cast<long double>((2 * j + 1) * (32 / n));
            const long double angle = k * std::numbers::pi_v<long double> / 64.0L;
            table[i++] = static_cast<float>(1.0L / (2.0L * std::cos(angle)));
        }
    }
    return table;
}

// Built while the program starts, before any filter runs.
[[maybe_unused]] const std::array<float, 31>& startupScales = DctScale();

} // namespace

// The window taps regrouped by tap: row m holds tap m of the 32 outputs,
// in double precision (the conversion is exact).
struct WindowByTap {
    alignas(64) double taps[16][32];
    WindowByTap() {
        for (int j = 0; j < 32; ++j)
            for (int m = 0; m < 16; ++m) taps[m][j] = static_cast<double>(synthWindow[16 * j + m]);
    }
};

namespace {

const WindowByTap& WindowTaps() {
    static const WindowByTap table;
    return table;
}

// Built while the program starts, before any filter runs.
[[maybe_unused]] const WindowByTap& startupTaps = WindowTaps();

} // namespace

const std::array<float, 31>& DctScale() {
    static const std::array<float, 31> table = ComputeDctScale();
    return table;
}

void FastCosine32(const float* in, float* out) { Cosine32(in, out, DctScale().data()); }

namespace {

// cos((2n + 1) k pi / 64) as [k][n], in double precision.
struct CosineTable {
    double c[32][32];
    CosineTable() {
        for (int k = 0; k < 32; ++k)
            for (int n = 0; n < 32; ++n)
                c[k][n] = std::cos(static_cast<double>((2 * n + 1) * k) * std::numbers::pi / 64.0);
    }
};

} // namespace

void DirectCosine32(const float* in, float* out) {
    static const CosineTable table;
    for (int k = 0; k < 32; ++k) {
        double sum = 0.0;
        for (int n = 0; n < 32; ++n) sum += static_cast<double>(in[n]) * table.c[k][n];
        out[k] = static_cast<float>(sum);
    }
}

SynthFilter::SynthFilter(int32_t ch, float s)
    : dctScale(DctScale().data()), windowTaps(&WindowTaps()), channel(ch), scale(s) {
    ClearHistory();
}

void SynthFilter::ClearHistory() {
    historyA.fill(0.0);
    historyB.fill(0.0);
    subbandIn.fill(0.0f);
    currentStore = historyA.data();
    writeSlot = 15;
    queued = 0;
    pending = subbandIn.data();
    pendingStride = 1;
}

// Computes the 64 matrixed values V[0..63] of the block from the 32-point
// cosine transform X of the subband samples and writes V[r] into row r of
// the current store and V[32 + r] into row r of the other, both in the
// block's slot.
void SynthFilter::MatrixBlock(DecodePath path) {
    float x[32];
    if (path == DecodePath::Straightforward)
        DirectCosine32(subbandIn.data(), x);
    else
        Cosine32(subbandIn.data(), x, dctScale);
    StoreMatrixed(x);
}

namespace {

// Vectors of four floats (SSE2, every x86-64 processor) and of four doubles.
typedef float Float4 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));

inline Float4 Load4(const float* x) {
    Float4 v;
    std::memcpy(&v, x, sizeof v);
    return v;
}

// Stores four values in double precision (the conversion is exact).
inline void Store4(double* to, Float4 v) {
    const Double4 wide = __builtin_convertvector(v, Double4);
    std::memcpy(to, &wide, sizeof wide);
}

} // namespace

// Writes V[r] = f(X) into row r of the current store and V[32 + r] into row
// r of the other, both in the block's slot; X[k] is x[k]:
//   current: V[r] = X[16 + r] for r < 16, V[16] = 0, V[16 + t] = -X[32 - t];
//   other:   V[32 + s] = -X[16 - s] for s <= 16, V[48 + t] = -X[t].
// Four values at a time; the reversed runs are loaded forwards and turned.
void SynthFilter::StoreMatrixed(const float* x) {
    double* cur = currentStore + 32 * writeSlot;
    double* other = (currentStore == historyA.data() ? historyB.data() : historyA.data()) + 32 * writeSlot;
    auto reversed = [](Float4 v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); };
    for (int q = 0; q < 4; ++q) {
        Store4(cur + 4 * q, Load4(x + 16 + 4 * q));
        Store4(other + 16 + 4 * q, -Load4(x + 4 * q));
        Store4(other + 4 * q, reversed(-Load4(x + 13 - 4 * q)));
    }
    // cur[16..19] = 0, -X[31], -X[30], -X[29] (the zero from a zero vector,
    // so that it is +0.0); then cur[16 + 4q + i] = -X[32 - 4q - i], q = 1..3.
    Store4(cur + 16, __builtin_shufflevector(-Load4(x + 28), Float4{}, 4, 3, 2, 1));
    for (int q = 1; q < 4; ++q) Store4(cur + 16 + 4 * q, reversed(-Load4(x + 29 - 4 * q)));
}

namespace {

// Runs of doubles as the compiler's vectors: two lanes fit SSE2 (every
// x86-64 processor), four fit AVX2, eight AVX-512. The project compiles
// without fused multiply-adds, so every path rounds each product and each
// sum by itself and all give the same results.
typedef double Double2 __attribute__((vector_size(16)));
typedef double Double8 __attribute__((vector_size(64)));

// The window sums of a block: sum[j] adds the products of the 16 taps of
// output j with row j of the blocks 0..15 back (slot (slot - m) mod 16 of
// the store holds the block m back), in tap order. The outputs are taken
// Count vectors at a time and their sums stay in registers across the 16
// taps; each lane adds its products in the same order as a plain loop.
// With two channels (two filters at the same slot) each run of window
// coefficients is loaded once for both channels' products.
template <typename Vec, int Count, int Channels>
[[gnu::always_inline]] inline void WindowSumsBy(const double* const* stores, int32_t slot,
                                                const WindowByTap& window, double (*sums)[32]) {
    constexpr int kLanes = sizeof(Vec) / sizeof(double);
    constexpr int kStep = Count * kLanes;
    static_assert(32 % kStep == 0);
    for (int base = 0; base < 32; base += kStep) {
        Vec acc[Channels][Count];
        for (int c = 0; c < Channels; ++c)
            for (int i = 0; i < Count; ++i) acc[c][i] = Vec{};
        for (int m = 0; m < 16; ++m) {
            const int32_t row = 32 * ((slot - m) & 15) + base;
            const double* w = window.taps[m] + base;
            for (int i = 0; i < Count; ++i) {
                Vec b;
                std::memcpy(&b, w + i * kLanes, sizeof b);
#if defined(__GNUC__) && !defined(__clang__)
                // Left to itself GCC reads the coefficients from memory
                // again for each channel's product; this empty statement
                // makes it keep them in a register.
                if constexpr (Channels > 1) __asm__("" : "+v"(b));
#endif
                for (int c = 0; c < Channels; ++c) {
                    Vec a;
                    std::memcpy(&a, stores[c] + row + i * kLanes, sizeof a);
                    acc[c][i] += a * b;
                }
            }
        }
        for (int c = 0; c < Channels; ++c)
            for (int i = 0; i < Count; ++i) std::memcpy(sums[c] + base + i * kLanes, &acc[c][i], sizeof acc[c][i]);
    }
}

// pcm[j] = ToPcm16(float(sum[j] * scale)) for the 32 outputs of a block.
// The compiler leaves the clamping of ToPcm16 as jumps, one output at a
// time, so on SSE2 (every x86-64 processor) the same steps are written out
// for four outputs at once: maxps with the lower limit second turns NaN into
// -32768 as ToPcm16 does, the rounding is the same addition and
// subtraction, and the packing saturates nothing as the values are in range.
inline void ScaleToPcm16(const double* sum, double scale, int16_t* pcm) {
#if defined(__SSE2__)
    const __m128d factor = _mm_set1_pd(scale);
    const __m128 low = _mm_set1_ps(-32768.0f);
    const __m128 high = _mm_set1_ps(32767.0f);
    const __m128 round = _mm_set1_ps(12582912.0f);
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
#else
    for (int j = 0; j < 32; ++j) pcm[j] = ToPcm16(static_cast<float>(sum[j] * scale));
#endif
}

#if defined(__x86_64__)
// ScaleToPcm16 on AVX2 or AVX-512: the same steps, eight or sixteen
// outputs at a time. The AVX-512 conversion to 16 bits saturates as the
// SSE2 packing does.
__attribute__((target("avx2"), always_inline)) inline void ScaleToPcm16Avx2(const double* sum, double scale,
                                                                          int16_t* pcm) {
    const __m256d factor = _mm256_set1_pd(scale);
    const __m256 low = _mm256_set1_ps(-32768.0f);
    const __m256 high = _mm256_set1_ps(32767.0f);
    const __m256 round = _mm256_set1_ps(12582912.0f);
    for (int j = 0; j < 32; j += 8) {
        const __m128 a = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(sum + j), factor));
        const __m128 b = _mm256_cvtpd_ps(_mm256_mul_pd(_mm256_load_pd(sum + j + 4), factor));
        const __m256 v = _mm256_insertf128_ps(_mm256_castps128_ps256(a), b, 1);
        const __m256 clamped = _mm256_min_ps(_mm256_max_ps(v, low), high);
        const __m256i whole = _mm256_cvttps_epi32(_mm256_sub_ps(_mm256_add_ps(clamped, round), round));
        const __m128i packed =
            _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extractf128_si256(whole, 1));
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
    const __m512 round = _mm512_set1_ps(12582912.0f);
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

// The window sums and their conversion in one, for one channel or two.
// AVX2 has 16 vector registers: two channels take half as many sums at a
// time, so that the sums of both stay in registers.
template <int Channels>
__attribute__((target("avx2"))) void WindowToPcmAvx2(const double* const* stores, int32_t slot,
                                                     const WindowByTap& window, const double* scales,
                                                     int16_t* const* pcm) {
    alignas(32) double sums[Channels][32];
    WindowSumsBy<Double4, 8 / Channels, Channels>(stores, slot, window, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16Avx2(sums[c], scales[c], pcm[c]);
}

template <int Channels>
__attribute__((target("avx512f"))) void WindowToPcmAvx512(const double* const* stores, int32_t slot,
                                                         const WindowByTap& window, const double* scales,
                                                         int16_t* const* pcm) {
    alignas(64) double sums[Channels][32];
    WindowSumsBy<Double8, 4, Channels>(stores, slot, window, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16Avx512(sums[c], scales[c], pcm[c]);
}
#endif

template <int Channels>
void WindowToPcmPlain(const double* const* stores, int32_t slot, const WindowByTap& window, const double* scales,
                      int16_t* const* pcm) {
    alignas(16) double sums[Channels][32];
    WindowSumsBy<Double2, 8 / Channels, Channels>(stores, slot, window, sums);
    for (int c = 0; c < Channels; ++c) ScaleToPcm16(sums[c], scales[c], pcm[c]);
}

} // namespace

template <int Channels>
SynthFilter::WindowFn SynthFilter::WindowFor(DecodePath path) {
#if defined(__x86_64__)
    if (path == DecodePath::Fastest && HaveAvx512()) return WindowToPcmAvx512<Channels>;
    if (path == DecodePath::Fastest && HaveAvx2()) return WindowToPcmAvx2<Channels>;
#endif
    (void)path;
    return WindowToPcmPlain<Channels>;
}

void SynthFilter::WindowBlock(OBuffer& out, WindowFn window) {
    alignas(32) int16_t pcm[32];
    int16_t* const pcms[1] = {pcm};
    const double scales[1] = {static_cast<double>(scale)};
    window(&currentStore, writeSlot, *windowTaps, scales, pcms);
    out.AppendBlock(channel, pcm, 32);
}

void SynthFilter::WindowBlocks(SynthFilter& a, SynthFilter& b, OBuffer& out, WindowFn window) {
    alignas(32) int16_t pcmA[32];
    alignas(32) int16_t pcmB[32];
    int16_t* const pcms[2] = {pcmA, pcmB};
    const double* const stores[2] = {a.currentStore, b.currentStore};
    const double scales[2] = {static_cast<double>(a.scale), static_cast<double>(b.scale)};
    window(stores, a.writeSlot, *a.windowTaps, scales, pcms);
    out.AppendBlock(a.channel, pcmA, 32);
    out.AppendBlock(b.channel, pcmB, 32);
}

void SynthFilter::NextSlot() {
    writeSlot = (writeSlot + 1) & 15;
    currentStore = currentStore == historyA.data() ? historyB.data() : historyA.data();
}

void SynthFilter::SynthesizeBlock(OBuffer& out) {
    const DecodePath path = CurrentDecodePath();
    MatrixBlock(path);
    WindowBlock(out, WindowFor<1>(path));
    NextSlot();
    subbandIn.fill(0.0f);
}

namespace {

// Vectors of floats: four lanes fit SSE2, eight AVX2, sixteen AVX-512.
typedef float Float8 __attribute__((vector_size(32)));
typedef float Float16 __attribute__((vector_size(64)));

// The fast cosine transform in its recursive form on V: each lane holds
// one block and takes exactly the arithmetic of Cosine32 (which runs the
// same steps stage by stage). Splits into the transform of the mirrored
// sums (the even outputs) and of the scaled differences (each odd output
// adds two neighbouring results of it).
template <int N, typename V>
[[gnu::always_inline]] inline void CosineBy(const V* in, V* out, const float* scales) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        constexpr int H = N / 2;
        const float* s = scales + ScaleOffset(N);
        V sums[H];
        V diffs[H];
        for (int n = 0; n < H; ++n) {
            sums[n] = in[n] + in[N - 1 - n];
            diffs[n] = (in[n] - in[N - 1 - n]) * s[n];
        }
        V even[H];
        V odd[H];
        CosineBy<H>(sums, even, scales);
        CosineBy<H>(diffs, odd, scales);
        for (int k = 0; k < H; ++k) out[2 * k] = even[k];
        for (int k = 0; k < H - 1; ++k) out[2 * k + 1] = odd[k] + odd[k + 1];
        out[N - 1] = odd[H - 1];
    }
}

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

// The transforms of as many blocks as V has lanes: subband sb of block l is
// samples[sb * stride + l]; X[k] of block l goes to x[l * 32 + k], each
// block's values together.
// With a second source, the lower half of the lanes comes from samples and
// the upper half from second (blocks of two channels transformed together).
template <typename V>
[[gnu::always_inline]] inline void CosineBlocksBy(const float* samples, int32_t stride, float* x,
                                                  const float* scales, const float* second = nullptr) {
    constexpr int kLanes = sizeof(V) / sizeof(float);
    V in[32];
    for (int sb = 0; sb < 32; ++sb) {
        if (second) {
            std::memcpy(&in[sb], samples + sb * stride, sizeof(V) / 2);
            std::memcpy(reinterpret_cast<float*>(&in[sb]) + kLanes / 2, second + sb * stride, sizeof(V) / 2);
        } else {
            std::memcpy(&in[sb], samples + sb * stride, sizeof(V));
        }
    }
    V out[32];
    CosineBy<32>(in, out, scales);
    for (int tile = 0; tile < 32; tile += kLanes) {
        TransposeTile<V, kLanes>(out + tile);
        for (int l = 0; l < kLanes; ++l) std::memcpy(x + l * 32 + tile, &out[tile + l], sizeof(V));
    }
}

void CosineBlocks4(const float* samples, int32_t stride, float* x, const float* scales) {
    CosineBlocksBy<Float4>(samples, stride, x, scales);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void CosineBlocks8(const float* samples, int32_t stride, float* x,
                                                   const float* scales) {
    CosineBlocksBy<Float8>(samples, stride, x, scales);
}

// Four blocks of each of two channels: the first's go to x[0 .. 4 * 32),
// the second's to x[4 * 32 .. 8 * 32).
__attribute__((target("avx2"))) void CosineBlocks4And4(const float* first, const float* second, int32_t stride,
                                                       float* x, const float* scales) {
    CosineBlocksBy<Float8>(first, stride, x, scales, second);
}

__attribute__((target("avx512f"))) void CosineBlocks16(const float* samples, int32_t stride, float* x,
                                                       const float* scales) {
    CosineBlocksBy<Float16>(samples, stride, x, scales);
}
#endif

} // namespace

int32_t SynthFilter::CosineBlocks(DecodePath path, const float* first, int32_t stride, int32_t left,
                                  float* x) const {
    if (path == DecodePath::Straightforward) {
        float in[32];
        for (int sb = 0; sb < 32; ++sb) in[sb] = first[sb * stride];
        DirectCosine32(in, x);
        return 1;
    }
#if defined(__x86_64__)
    if (path == DecodePath::Fastest && left >= 16 && HaveAvx512()) {
        CosineBlocks16(first, stride, x, dctScale);
        return 16;
    }
    if (path == DecodePath::Fastest && left >= 8 && HaveAvx2()) {
        CosineBlocks8(first, stride, x, dctScale);
        return 8;
    }
#endif
    if (left >= 4) {
        CosineBlocks4(first, stride, x, dctScale);
        return 4;
    }
    float in[32];
    for (int sb = 0; sb < 32; ++sb) in[sb] = first[sb * stride];
    Cosine32(in, x, dctScale);
    return 1;
}

void SynthFilter::SynthesizeBlocks(const float* samples, int32_t stride, int32_t count, OBuffer& out) {
    const DecodePath path = CurrentDecodePath();
    const WindowFn window = WindowFor<1>(path);
    alignas(64) float x[16 * 32];
    int32_t done = 0;
    while (done < count) {
        const int32_t lanes = CosineBlocks(path, samples + done, stride, count - done, x);
        for (int32_t l = 0; l < lanes; ++l) {
            StoreMatrixed(x + l * 32);
            WindowBlock(out, window);
            NextSlot();
        }
        done += lanes;
    }
}

bool SynthFilter::InStepWith(const SynthFilter& other) const {
    return writeSlot == other.writeSlot && StoreAIsCurrent() == other.StoreAIsCurrent() &&
           windowTaps == other.windowTaps;
}

void SynthFilter::SynthesizeBlocks(SynthFilter& a, const float* samplesA, SynthFilter& b, const float* samplesB,
                                   int32_t stride, int32_t count, OBuffer& out) {
    if (!a.InStepWith(b)) {
        a.SynthesizeBlocks(samplesA, stride, count, out);
        b.SynthesizeBlocks(samplesB, stride, count, out);
        return;
    }
    const DecodePath path = CurrentDecodePath();
    const WindowFn window = WindowFor<2>(path);
    alignas(64) float xa[16 * 32];
    alignas(64) float xb[16 * 32];
    int32_t done = 0;
    while (done < count) {
        int32_t lanes = 0;
        const float* xOfB = xb;
#if defined(__x86_64__)
        // Four or more left, too few for eight lanes: four blocks of each
        // channel fill the eight lanes of one transform.
        const int32_t left = count - done;
        if (path == DecodePath::Fastest && left >= 4 && left < 8 && HaveAvx2()) {
            CosineBlocks4And4(samplesA + done, samplesB + done, stride, xa, a.dctScale);
            xOfB = xa + 4 * 32;
            lanes = 4;
        }
#endif
        if (lanes == 0) {
            lanes = a.CosineBlocks(path, samplesA + done, stride, count - done, xa);
            b.CosineBlocks(path, samplesB + done, stride, count - done, xb);
        }
        for (int32_t l = 0; l < lanes; ++l) {
            a.StoreMatrixed(xa + l * 32);
            b.StoreMatrixed(xOfB + l * 32);
            WindowBlocks(a, b, out, window);
            a.NextSlot();
            b.NextSlot();
        }
        done += lanes;
    }
}

void SynthFilter::BeginQueue() {
    queue.fill(0.0f);
    queued = 0;
    pending = queue.data();
    pendingStride = kMaxQueued;
}

void SynthFilter::QueueBlock() {
    if (pendingStride == 1) {
        // The block was set into subbandIn (no BeginQueue, or the queue is full).
        if (queued < kMaxQueued) {
            for (int sb = 0; sb < 32; ++sb) queue[sb * kMaxQueued + queued] = subbandIn[sb];
            ++queued;
        }
        subbandIn.fill(0.0f);
        return;
    }
    ++queued;
    if (queued < kMaxQueued) {
        pending = queue.data() + queued;
        return;
    }
    pending = subbandIn.data();
    pendingStride = 1;
}

void SynthFilter::SynthesizeQueued(OBuffer& out) {
    SynthesizeBlocks(queue.data(), kMaxQueued, queued, out);
    EndQueue();
}

void SynthFilter::SynthesizeQueued(SynthFilter& a, SynthFilter& b, OBuffer& out) {
    if (a.queued != b.queued) {
        a.SynthesizeQueued(out);
        b.SynthesizeQueued(out);
        return;
    }
    SynthesizeBlocks(a, a.queue.data(), b, b.queue.data(), kMaxQueued, a.queued, out);
    a.EndQueue();
    b.EndQueue();
}

void SynthFilter::EndQueue() {
    queued = 0;
    pending = subbandIn.data();
    pendingStride = 1;
}

} // namespace zumo
