#include "layer3/BandTable.h"
#include "layer3/Layer3Decoder.h"
#include "layer3/Layer3Tables.h"

#include <algorithm>

namespace zumo {

namespace {

// Marks a line without intensity coding.
constexpr int32_t kNoIntensity = -1;
// 1/sqrt(2) of the MS matrix, applied at double precision.
constexpr double kInvSqrt2 = 0.70710678118654752440;

// Left and right of one MS line.
inline void MidSide(float mid, float side, float& left, float& right) {
    left = static_cast<float>((static_cast<double>(mid) + side) * kInvSqrt2);
    right = static_cast<float>((static_cast<double>(mid) - side) * kInvSqrt2);
}

} // namespace

// Intensity stereo of the lower sampling frequencies (ISO/IEC 13818-3).
void Layer3Decoder::ComputeLsfIntensityFactors(int32_t position, int32_t scaleBit, int32_t line) {
    const auto& row = lsfIntensityTable[scaleBit & 1];
    if (position == 0) {
        intensityFactorsLeft[line] = 1.0f;
        intensityFactorsRight[line] = 1.0f;
    } else if (position & 1) {
        intensityFactorsLeft[line] = row[std::min((position + 1) / 2, 31)];
        intensityFactorsRight[line] = 1.0f;
    } else {
        intensityFactorsLeft[line] = 1.0f;
        intensityFactorsRight[line] = row[std::min(position / 2, 31)];
    }
}

// Stereo processing (ISO/IEC 11172-3, 2.4.3.4; LSF intensity ISO/IEC 13818-3).
// Combines the two dequantised channels of a granule into left and right:
// intensity positions from channel 1's scale factors above its last nonzero
// line, MS or a plain copy everywhere else. The mix of the channel choice
// (ChannelChoice::Mix) follows in DecodeFrame.
void Layer3Decoder::ProcessStereo(int gr) {
    if (channelCount < 2) {
        std::copy(dequantSamples[0], dequantSamples[0] + 576, stereoSamples[0]);
        return;
    }
    const GranuleInfo& gi = sideInfo.ch[0].gr[gr];
    const ScaleFactors& sf = scaleFactors[1];
    const BandRow& bands = bandTable[std::clamp(frequencyIndex, 0, kBandRows - 1)];
    const float* right = dequantSamples[1];

    const bool joint = header->mode == 1;
    const bool ms = joint && (header->modeExtension & 2) != 0;
    const bool is = joint && (header->modeExtension & 1) != 0;
    const bool lsf = header->version == 0;
    // The LSF intensity scale is the lowest bit of the right channel's
    // scalefac_compress, the channel that carries the positions.
    const int32_t scaleBit = sideInfo.ch[1].gr[gr].scalefac_compress & 1;

    float* outLeft = stereoSamples[0];
    float* outRight = stereoSamples[1];
    const float* left = dequantSamples[0];
    if (!is) {
        // Without intensity every line is MS or a plain copy: one loop the
        // compiler can vectorise.
        if (ms) {
            for (int32_t i = 0; i < 576; ++i) MidSide(left[i], right[i], outLeft[i], outRight[i]);
        } else {
            std::copy(left, left + 576, outLeft);
            std::copy(right, right + 576, outRight);
        }
        return;
    }

    int32_t isPos[576];
    float isRatio[576];
    std::fill(isPos, isPos + 576, kNoIntensity);

    // One line with intensity position p. Positions come from the bitstream
    // and are clamped to the tables. An MPEG-1 band with position 7 is not
    // intensity coded, nor is an LSF band whose position is the largest its
    // bit width can hold (illegal). MPEG-1 position 9 has the ratio -1,
    // which would divide by zero; such a line is decoded without intensity.
    auto fill = [&](int32_t line, int32_t p, int32_t illegal) {
        if (lsf) {
            if (p == illegal) return;
            p = std::clamp(p, 0, 63);
            isPos[line] = p;
            ComputeLsfIntensityFactors(p, scaleBit, line);
        } else {
            if (p == 7 || p == 9) return;
            p = std::clamp(p, 0, 15);
            isPos[line] = p;
            isRatio[line] = isRatioTable[p];
        }
    };

    // Short-block windows: for window w, bands above the last band with a
    // nonzero line of channel 1 (searched from band 12 down to lowestBand)
    // take their positions from the short factors; band 12 has none of its
    // own and continues band 11. Returns the last nonzero band (or
    // lowestBand - 1).
    auto fillShortWindow = [&](int32_t w, int32_t lowestBand) {
        int32_t lastBand = lowestBand - 1;
        for (int32_t band = 12; band >= lowestBand && lastBand == lowestBand - 1; --band) {
            const int32_t width = bands.shortStart[band + 1] - bands.shortStart[band];
            const int32_t begin = 3 * bands.shortStart[band] + w * width;
            for (int32_t line = begin + width - 1; line >= begin; --line) {
                if (right[line] != 0.0f) {
                    lastBand = band;
                    break;
                }
            }
        }
        for (int32_t band = lastBand + 1; band <= 12; ++band) {
            if (band == 12 && lastBand >= 11) break;
            const int32_t width = bands.shortStart[band + 1] - bands.shortStart[band];
            const int32_t begin = 3 * bands.shortStart[band] + w * width;
            const int32_t own = band == 12 ? 11 : band;
            const int32_t p = sf.shortFactors[w][own];
            for (int32_t line = begin; line < begin + width; ++line) fill(line, p, sf.shortIllegal[own]);
        }
        return lastBand;
    };

    // The smallest long band that starts above line last.
    auto bandAbove = [&](int32_t last) {
        int32_t band = 0;
        while (band < 22 && bands.longStart[band] <= last) ++band;
        return band;
    };

    const bool shortBlock = gi.window_switching_flag != 0 && gi.block_type == 2;
    const bool mixed = shortBlock && gi.mixed_block_flag != 0;
    if (!shortBlock) {
        int32_t last = 0;
        for (int32_t line = 575; line >= 0; --line) {
            if (right[line] != 0.0f) {
                last = line;
                break;
            }
        }
        const int32_t first = bandAbove(last);
        // Band 21 has no factor of its own and continues band 20.
        for (int32_t band = first; band <= 21; ++band) {
            if (band == 21 && first > 20) break;
            const int32_t own = band == 21 ? 20 : band;
            const int32_t p = sf.longFactors[own];
            for (int32_t line = bands.longStart[band]; line < bands.longStart[band + 1]; ++line)
                fill(line, p, sf.longIllegal[own]);
        }
    } else if (!mixed) {
        for (int32_t w = 0; w < 3; ++w) fillShortWindow(w, 0);
    } else {
        int32_t maxBand = 0;
        for (int32_t w = 0; w < 3; ++w) maxBand = std::max(maxBand, fillShortWindow(w, 3) + 1);
        if (maxBand <= 3) {
            // All short bands of channel 1 are zero: intensity reaches
            // down into the long part, above its last nonzero line.
            const int32_t longEnd = ShortBand3Line(bands);
            int32_t last = -1;
            for (int32_t line = longEnd - 1; line >= 0; --line) {
                if (right[line] != 0.0f) {
                    last = line;
                    break;
                }
            }
            for (int32_t band = bandAbove(last); bands.longStart[band + 1] <= longEnd; ++band) {
                for (int32_t line = bands.longStart[band]; line < bands.longStart[band + 1]; ++line)
                    fill(line, sf.longFactors[band], sf.longIllegal[band]);
            }
        }
    }

    for (int32_t i = 0; i < 576; ++i) {
        const float ch0 = dequantSamples[0][i];
        const float ch1 = dequantSamples[1][i];
        if (isPos[i] == kNoIntensity) {
            if (ms) {
                MidSide(ch0, ch1, outLeft[i], outRight[i]);
            } else {
                outLeft[i] = ch0;
                outRight[i] = ch1;
            }
        } else if (lsf) {
            outLeft[i] = ch0 * intensityFactorsLeft[i];
            outRight[i] = ch0 * intensityFactorsRight[i];
        } else {
            const double r = ch0 / (1.0 + isRatio[i]);
            outLeft[i] = static_cast<float>(r * isRatio[i]);
            outRight[i] = static_cast<float>(r);
        }
    }
}

} // namespace zumo
