#include "layer3/BandTable.h"
#include "layer3/FastImdct.h"
#include "layer3/Layer3Decoder.h"
#include "layer3/Layer3Tables.h"

#include "kernels/DecodePaths.h"
#include "kernels/HybridKernels.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zumo {

// Buffers between the last stages: Reorder writes hybridOut from the
// channel's stereoSamples; Antialias, Hybrid (with overlap[ch]) and
// FrequencyInversion then work on hybridOut in place, and HandOff reads it.

namespace {

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
    const bool direct = CurrentDecodePath() == DecodePath::Straightforward;
    // All 32 subbands long blocks of one window: a kernel may take several
    // subbands side by side through the same transform.
    if (!direct && blockType != 2 && !mixedLow &&
        kernels::HybridLong(hybridOut, prev, imdctLongWindow[blockType == 1 || blockType == 3 ? blockType : 0]))
        return;
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
        if (direct) InvMdctDirect(lines, r, type);
        else InvMdct(lines, r, type);
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
