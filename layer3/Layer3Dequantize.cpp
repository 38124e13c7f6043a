#include "layer3/BandTable.h"
#include "layer3/Layer3Decoder.h"
#include "layer3/Layer3Tables.h"

#include "kernels/DequantizeKernels.h"

#include <algorithm>
#include <cmath>

namespace zumo {

namespace {

// |v|^(4/3) from the table, |v| clamped to it.
float Pow43(int32_t v) {
    const uint32_t magnitude = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
    return pow43Table[std::min(magnitude, static_cast<uint32_t>(kPow43Size - 1))];
}

// The product gain * 2^(-e/2) at double precision; e comes from the
// bitstream and is clamped to the table.
double BandScale(double gain, int32_t e) { return gain * pow2HalfTable[std::clamp(e, 0, kPow2HalfSize - 1)]; }

// out[j] = sign(v) * |v|^(4/3) * scale for the n values v = in[j]. A kernel
// takes as many lines as it can; the loop does the rest. No branch per
// line: a zero gives 0 * scale = +0, and the sign is applied after the
// product as a select.
void ScaleLines(const int32_t* in, float* out, int32_t n, double scale) {
    int32_t j = kernels::ScaleLines(in, out, n, scale, pow43Table.data(), kPow43Size);
    for (; j < n; ++j) {
        const int32_t v = in[j];
        const double magnitude = scale * Pow43(v);
        out[j] = static_cast<float>(v < 0 ? -magnitude : magnitude);
    }
}

} // namespace

// Requantisation (ISO/IEC 11172-3, 2.4.3.4).
// Turns the quantised integers of one granule and channel into spectral
// values: sign * |v|^(4/3) * 2^((global_gain - 210)/4) * 2^(-e/2), with the
// exponent e from the scale factor of the line's band. Lines keep the
// bitstream order (short windows are reordered later).
void Layer3Decoder::Dequantize(int ch, int gr) {
    const GranuleInfo& gi = sideInfo.ch[ch].gr[gr];
    const ScaleFactors& sf = scaleFactors[ch];
    const BandRow& bands = bandTable[std::clamp(frequencyIndex, 0, kBandRows - 1)];
    float* out = dequantSamples[ch];

    const int32_t count = std::clamp(nonZeroCount[ch], 0, 576);
    const bool shortBlock = gi.window_switching_flag != 0 && gi.block_type == 2;
    const bool mixed = shortBlock && gi.mixed_block_flag != 0;
    const int32_t shift = gi.scalefac_scale != 0 ? 1 : 0;
    const double gain = static_cast<float>(std::exp2((gi.global_gain - 210) / 4.0));

    auto scaleLines = [&](int32_t begin, int32_t end, double scale) {
        end = std::min(end, count);
        if (end > begin) ScaleLines(huffSamples + begin, out + begin, end - begin, scale);
    };

    int32_t shortFrom = 0; // first line that follows the short-block rule
    int32_t firstShortBand = 0;
    if (!shortBlock || mixed) {
        const int32_t longEnd = mixed ? ShortBand3Line(bands) : 576;
        for (int32_t band = 0; band < 22 && bands.longStart[band] < longEnd; ++band) {
            int32_t e = sf.longFactors[band];
            if (gi.preflag != 0) e += pretabTable[band];
            scaleLines(bands.longStart[band], std::min(bands.longStart[band + 1], longEnd),
                       BandScale(gain, e << shift));
        }
        shortFrom = longEnd;
        firstShortBand = 3;
    }
    if (shortBlock) {
        for (int32_t band = firstShortBand; band < 13; ++band) {
            const int32_t start = 3 * bands.shortStart[band];
            const int32_t width = bands.shortStart[band + 1] - bands.shortStart[band];
            if (start < shortFrom) continue;
            for (int32_t w = 0; w < 3; ++w) {
                const int32_t e = (sf.shortFactors[w][band] << shift) + 4 * std::clamp(gi.subblock_gain[w], 0, 7);
                scaleLines(start + w * width, start + (w + 1) * width, BandScale(gain, e));
            }
        }
    }
    std::fill(out + count, out + 576, 0.0f);
}

} // namespace zumo
