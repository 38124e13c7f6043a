#include "layer3/BandTable.h"
#include "layer3/Layer3Decoder.h"
#include "layer3/Layer3Tables.h"

#include "kernels/DecodePaths.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zumo {

// Buffers between the last stages: Reorder writes hybridOut from the
// channel's stereoSamples; Antialias, Hybrid (with overlap[ch]) and
// FrequencyInversion then work on hybridOut in place, and HandOff reads it.

namespace {

// sqrt(3)/2 of the 3-point DFT.
constexpr float kHalfSqrt3 = 0.86602540378443864676f;

// The transforms below run on T = float, or on a vector of floats that
// holds the same value of several subbands, one per lane: each lane then
// takes exactly the arithmetic of the float form.
template <typename T>
struct Complex {
    T re;
    T im;
};

// z * e^(-i angle), the angle given by its cosine and sine.
template <typename T>
[[gnu::always_inline]] inline Complex<T> RotateBack(Complex<T> z, Rotation r) {
    return {z.re * r.c + z.im * r.s, z.im * r.c - z.re * r.s};
}

// Forward 3-point DFT of (a, b, c) in place.
template <typename T>
[[gnu::always_inline]] inline void Dft3(Complex<T>& a, Complex<T>& b, Complex<T>& c) {
    const Complex<T> t{b.re + c.re, b.im + c.im};
    const Complex<T> d{(b.re - c.re) * kHalfSqrt3, (b.im - c.im) * kHalfSqrt3};
    const Complex<T> m{a.re - 0.5f * t.re, a.im - 0.5f * t.im};
    a = {a.re + t.re, a.im + t.im};
    b = {m.re + d.im, m.im - d.re};
    c = {m.re - d.im, m.im + d.re};
}

// DCT-IV of 18 values, Z[m] = sum X[k] cos(pi/72 (2m + 1)(2k + 1)), through
// a 9-point complex DFT: the even inputs and the reversed odd inputs form
// 9 complex values, rotated before and after the DFT. The DFT itself is
// two stages of 3-point DFTs with one twiddle stage between them.
template <typename T>
[[gnu::always_inline]] inline void Dct4Size18(const T* x, T* z) {
    Complex<T> v[9];
    for (int n = 0; n < 9; ++n) v[n] = RotateBack(Complex<T>{x[2 * n], x[17 - 2 * n]}, dct18Twiddle[n]);
    // Stage 1: 3-point DFTs over n1 for each n2 (index 3 n1 + n2).
    for (int n2 = 0; n2 < 3; ++n2) Dft3(v[n2], v[n2 + 3], v[n2 + 6]);
    // Twiddles e^(-2 pi i p1 n2 / 9); v[3 p1 + n2] holds output p1 of DFT n2.
    v[4] = RotateBack(v[4], dft9Twiddle[1]);
    v[5] = RotateBack(v[5], dft9Twiddle[2]);
    v[7] = RotateBack(v[7], dft9Twiddle[2]);
    v[8] = RotateBack(v[8], dft9Twiddle[4]);
    // Stage 2: 3-point DFTs over n2 for each p1; output p = p1 + 3 p2.
    for (int p1 = 0; p1 < 3; ++p1) Dft3(v[3 * p1], v[3 * p1 + 1], v[3 * p1 + 2]);
    for (int p1 = 0; p1 < 3; ++p1) {
        for (int p2 = 0; p2 < 3; ++p2) {
            const int p = p1 + 3 * p2;
            const Complex<T> s = RotateBack(v[3 * p1 + p2], dct18Twiddle[p]);
            z[2 * p] = s.re;
            z[17 - 2 * p] = -s.im;
        }
    }
}

// The 36 windowed outputs of a long-block inverse MDCT from the 18 DCT-IV
// values z (see InvMdct).
template <typename T>
[[gnu::always_inline]] inline void WindowLong(const T* z, const std::array<float, 36>& window, T* output) {
    for (int i = 0; i < 9; ++i) output[i] = window[i] * z[9 + i];
    for (int i = 9; i < 27; ++i) output[i] = -window[i] * z[26 - i];
    for (int i = 27; i < 36; ++i) output[i] = -window[i] * z[i - 27];
}

// DCT-IV of 6 values, Z[m] = sum X[k] cos(pi/24 (2m + 1)(2k + 1)), the same
// way through one 3-point DFT.
void Dct4Size6(const float* x, float* z) {
    Complex<float> v[3];
    for (int n = 0; n < 3; ++n) v[n] = RotateBack(Complex<float>{x[2 * n], x[5 - 2 * n]}, dct6Twiddle[n]);
    Dft3(v[0], v[1], v[2]);
    for (int p = 0; p < 3; ++p) {
        const Complex<float> s = RotateBack(v[p], dct6Twiddle[p]);
        z[2 * p] = s.re;
        z[5 - 2 * p] = -s.im;
    }
}

// Vectors of floats: four lanes fit SSE2 (every x86-64 processor), eight
// fit AVX2.
typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));

// The hybrid synthesis of a granule whose 32 subbands are all long blocks
// of one window shape: Vec's lanes take as many subbands side by side
// through the inverse MDCT, the overlap added as in Layer3Decoder::Hybrid.
// A group of subbands without signal keeps only the previous overlap; a
// silent subband within a busy group transforms to zeros, which gives the
// same.
template <typename Vec>
[[gnu::always_inline]] inline void HybridLongBy(float* lines, float* carry, const std::array<float, 36>& window) {
    constexpr int kLanes = sizeof(Vec) / sizeof(float);
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

void HybridLongPortable(float* lines, float* carry, const std::array<float, 36>& window) {
    HybridLongBy<Float4>(lines, carry, window);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void HybridLongAvx2(float* lines, float* carry, const std::array<float, 36>& window) {
    HybridLongBy<Float8>(lines, carry, window);
}
#endif

bool IsShort(const GranuleInfo& gi) { return gi.window_switching_flag != 0 && gi.block_type == 2; }
bool IsMixed(const GranuleInfo& gi) { return IsShort(gi) && gi.mixed_block_flag != 0; }

} // namespace

// The inverse MDCT of one subband: 18 inputs to 36 windowed outputs. The
// 36 outputs of the long transform are the 18 DCT-IV values extended by
// their symmetries: y[i] = Z[9 + i] for i < 9, -Z[26 - i] for 9..26 and
// -Z[i - 27] for 27..35. The short transform does the same with 6 inputs
// and 12 outputs per window, the three windows overlapping by half.
void Layer3Decoder::InvMdct(float* input, float* output, int blockType) {
    if (blockType == 2) {
        std::fill(output, output + 36, 0.0f);
        for (int w = 0; w < 3; ++w) {
            float x[6];
            float z[6];
            for (int k = 0; k < 6; ++k) x[k] = input[3 * k + w];
            Dct4Size6(x, z);
            float* y = output + 6 * w + 6;
            for (int i = 0; i < 3; ++i) y[i] += imdctShortWindow[i] * z[i + 3];
            for (int i = 3; i < 9; ++i) y[i] -= imdctShortWindow[i] * z[8 - i];
            for (int i = 9; i < 12; ++i) y[i] -= imdctShortWindow[i] * z[i - 9];
        }
        return;
    }
    const auto& window = imdctLongWindow[blockType == 1 || blockType == 3 ? blockType : 0];
    float z[18];
    Dct4Size18(input, z);
    WindowLong(z, window, output);
}

namespace {

// The cosines of the defining sums of the inverse MDCT: long blocks
// cos(pi/72 (2i + 19)(2k + 1)), i < 36, k < 18; short windows
// cos(pi/24 (2i + 7)(2k + 1)), i < 12, k < 6.
struct InvMdctCosines {
    double longBlock[36][18];
    double shortBlock[12][6];
    InvMdctCosines() {
        constexpr double kPi = std::numbers::pi;
        for (int i = 0; i < 36; ++i)
            for (int k = 0; k < 18; ++k) longBlock[i][k] = std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1));
        for (int i = 0; i < 12; ++i)
            for (int k = 0; k < 6; ++k) shortBlock[i][k] = std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1));
    }
};

} // namespace

void Layer3Decoder::InvMdctDirect(const float* input, float* output, int blockType) {
    static const InvMdctCosines cosines;
    if (blockType == 2) {
        double y[36] = {};
        for (int w = 0; w < 3; ++w)
            for (int i = 0; i < 12; ++i) {
                double sum = 0.0;
                for (int k = 0; k < 6; ++k) sum += static_cast<double>(input[3 * k + w]) * cosines.shortBlock[i][k];
                y[6 * w + 6 + i] += imdctShortWindow[i] * sum;
            }
        for (int i = 0; i < 36; ++i) output[i] = static_cast<float>(y[i]);
        return;
    }
    const auto& window = imdctLongWindow[blockType == 1 || blockType == 3 ? blockType : 0];
    for (int i = 0; i < 36; ++i) {
        double sum = 0.0;
        for (int k = 0; k < 18; ++k) sum += static_cast<double>(input[k]) * cosines.longBlock[i][k];
        output[i] = static_cast<float>(window[i] * sum);
    }
}

// Reordering of short blocks (ISO/IEC 11172-3, 2.4.3.4).
void Layer3Decoder::Reorder(const float* source, int ch, int gr) {
    const GranuleInfo& gi = sideInfo.ch[ch].gr[gr];
    if (!IsShort(gi)) {
        std::copy(source, source + 576, hybridOut);
        return;
    }
    const int32_t row = std::clamp(frequencyIndex, 0, kBandRows - 1);
    if (!IsMixed(gi)) {
        const auto& order = reorderTable[row];
        for (int32_t i = 0; i < 576; ++i) hybridOut[i] = source[order[i]];
        return;
    }
    // Mixed: the long part stays, short bands 3..12 are interleaved by
    // window; the table does exactly that from the start of short band 3.
    const int32_t longEnd = 18 * LongSubbands();
    std::copy(source, source + longEnd, hybridOut);
    const auto& order = reorderTable[row];
    for (int32_t i = longEnd; i < 576; ++i) hybridOut[i] = source[order[i]];
}

int32_t Layer3Decoder::LongSubbands() const {
    return ShortBand3Line(bandTable[std::clamp(frequencyIndex, 0, kBandRows - 1)]) / 18;
}

// Alias reduction (ISO/IEC 11172-3, 2.4.3.4).
void Layer3Decoder::Antialias(int ch, int gr) {
    const GranuleInfo& gi = sideInfo.ch[ch].gr[gr];
    if (IsShort(gi) && !IsMixed(gi)) return;
    // A mixed block: only between the subbands of its long part (two
    // subbands, four at 8 kHz).
    const int32_t boundaries = IsMixed(gi) ? LongSubbands() - 1 : 31;
    for (int32_t sb = 0; sb < boundaries; ++sb) {
        float* up = hybridOut + 18 * sb + 17;
        float* down = hybridOut + 18 * sb + 18;
        for (int i = 0; i < 8; ++i) {
            const float bu = up[-i];
            const float bd = down[i];
            up[-i] = bu * aliasCs[i] - bd * aliasCa[i];
            down[i] = bd * aliasCs[i] + bu * aliasCa[i];
        }
    }
}

// Inverse MDCT, windowing and overlap-add (ISO/IEC 11172-3, 2.4.3.4).
void Layer3Decoder::Hybrid(int ch, int gr) {
    const GranuleInfo& gi = sideInfo.ch[ch].gr[gr];
    float* prev = overlap[ch];
    const int32_t blockType = std::clamp(gi.block_type, 0, 3);
    const bool mixedLow = gi.window_switching_flag != 0 && gi.mixed_block_flag != 0;
    // The long part of a mixed block takes the normal long window.
    const int32_t longSubbands = LongSubbands();
    const DecodePath path = CurrentDecodePath();
    const bool direct = path == DecodePath::Straightforward;
    if (!direct && blockType != 2 && !mixedLow) {
        const auto& window = imdctLongWindow[blockType == 1 || blockType == 3 ? blockType : 0];
#if defined(__x86_64__)
        if (CurrentVectorSet() >= VectorSet::Avx2) {
            HybridLongAvx2(hybridOut, prev, window);
            return;
        }
#endif
        HybridLongPortable(hybridOut, prev, window);
        return;
    }
    for (int32_t sb = 0; sb < 32; ++sb) {
        float* lines = hybridOut + 18 * sb;
        float* carry = prev + 18 * sb;
        // A subband without signal transforms to zeros: only the overlap
        // of the previous granule remains.
        if (std::all_of(lines, lines + 18, [](float v) { return v == 0.0f; })) {
            std::copy(carry, carry + 18, lines);
            std::fill(carry, carry + 18, 0.0f);
            continue;
        }
        float r[36];
        const int type = mixedLow && sb < longSubbands ? 0 : blockType;
        if (direct)
            InvMdctDirect(lines, r, type);
        else
            InvMdct(lines, r, type);
        for (int k = 0; k < 18; ++k) {
            lines[k] = r[k] + carry[k];
            carry[k] = r[18 + k];
        }
    }
}

// Frequency inversion (ISO/IEC 11172-3, 2.4.3.4).
// Negates the odd time slots of the odd subbands, undoing the frequency
// reversal the analysis filter bank leaves in them.
void Layer3Decoder::FrequencyInversion() {
    for (int32_t sb = 1; sb < 32; sb += 2)
        for (int32_t k = 1; k < 18; k += 2) hybridOut[18 * sb + k] = -hybridOut[18 * sb + k];
}

// 18 time slots of 32 subband samples, one PCM block per slot, to the
// synthesis subband filter (ISO/IEC 11172-3, 2.4.3.2).
void Layer3Decoder::HandOff(SynthFilter& filter) {
    // Subband sb's sample of slot ss is hybridOut[18 sb + ss].
    filter.SynthesizeBlocks(hybridOut, 18, 18, *output);
}

// Both channels' slots at once: the first channel's from firstChannelOut to
// filter0, the second's from hybridOut to filter1.
void Layer3Decoder::HandOffPair() {
    SynthFilter::SynthesizeBlocks(*filter0, firstChannelOut, *filter1, hybridOut, 18, 18, *output);
}

} // namespace zumo
