// Stereo processing: MS, MPEG-1 and LSF intensity, the line-by-line
// fallback of position 7, positions beyond the tables and the downmix; and
// whole MPEG-2 intensity-stereo frames held against the intensity rules.
#include "Layer3Fixture.h"
#include "Layer3FrameBuilder.h"

#include "layer3/BandTable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <utility>
#include <vector>

using namespace zumo;
using zumo::test::Layer3Fixture;

namespace {

struct StereoCase : Layer3Fixture {
    StereoCase(int frequencyIndex, int modeExtension, ChannelChoice choice = ChannelChoice::Both)
        : Layer3Fixture(frequencyIndex, 2, choice) {
        header.mode = 1;
        header.modeExtension = modeExtension;
        for (int i = 0; i < 576; ++i) {
            decoder->dequantSamples[0][i] = 1.0f + 0.001f * static_cast<float>(i);
            decoder->dequantSamples[1][i] = 0.0f;
        }
        // LSF positions as if read with four bits: 15 is the illegal one.
        std::fill(std::begin(RightFactors().longIllegal), std::end(RightFactors().longIllegal), 15);
        std::fill(std::begin(RightFactors().shortIllegal), std::end(RightFactors().shortIllegal), 15);
    }
    float Left(int i) const { return decoder->stereoSamples[0][i]; }
    float Right(int i) const { return decoder->stereoSamples[1][i]; }
    ScaleFactors& RightFactors() { return decoder->scaleFactors[1]; }
};

constexpr float kInvSqrt2 = 0.70710678f;

} // namespace

TEST(Stereo, MsOnlyGivesScaledSumAndDifference) {
    StereoCase t(3, 2);
    for (int i = 0; i < 576; ++i) t.decoder->dequantSamples[1][i] = 0.25f;
    t.decoder->ProcessStereo(0);
    for (int i : {0, 100, 575}) {
        const float m = t.decoder->dequantSamples[0][i];
        EXPECT_NEAR(t.Left(i), (m + 0.25f) * kInvSqrt2, 1e-6);
        EXPECT_NEAR(t.Right(i), (m - 0.25f) * kInvSqrt2, 1e-6);
    }
}

TEST(Stereo, PlainStereoCopiesEvenWithModeExtensionBits) {
    StereoCase t(3, 3);
    t.header.mode = 0;
    t.decoder->dequantSamples[1][7] = 0.5f;
    t.decoder->ProcessStereo(0);
    EXPECT_EQ(t.Left(7), t.decoder->dequantSamples[0][7]);
    EXPECT_EQ(t.Right(7), 0.5f);
    EXPECT_EQ(t.Right(300), 0.0f);
}

TEST(Stereo, Mpeg1IntensityPositionsOfLongBands) {
    StereoCase t(3, 1);
    const BandRow& bands = bandTable[3];
    // Channel 1 carries signal up to band 9; intensity starts at band 10.
    t.decoder->dequantSamples[1][bands.longStart[9]] = 0.5f;
    auto& sf = t.RightFactors();
    sf.longFactors[10] = 0; // all to the right channel
    sf.longFactors[11] = 3; // half each
    sf.longFactors[12] = 6; // all to the left channel
    sf.longFactors[13] = 7; // no intensity: plain copy
    sf.longFactors[20] = 3;
    t.decoder->ProcessStereo(0);

    const int b9 = bands.longStart[9], b10 = bands.longStart[10], b11 = bands.longStart[11];
    const int b12 = bands.longStart[12], b13 = bands.longStart[13];
    EXPECT_EQ(t.Right(b9), 0.5f); // below the intensity bound
    const float m10 = t.decoder->dequantSamples[0][b10];
    EXPECT_EQ(t.Left(b10), 0.0f);
    EXPECT_NEAR(t.Right(b10), m10, 1e-6);
    const float m11 = t.decoder->dequantSamples[0][b11];
    EXPECT_NEAR(t.Left(b11), m11 * 0.5f, 1e-6);
    EXPECT_NEAR(t.Right(b11), m11 * 0.5f, 1e-6);
    const float m12 = t.decoder->dequantSamples[0][b12];
    EXPECT_NEAR(t.Left(b12), m12, 1e-6);
    EXPECT_NEAR(t.Right(b12), 0.0f, 1e-6);
    EXPECT_EQ(t.Left(b13), t.decoder->dequantSamples[0][b13]);
    EXPECT_EQ(t.Right(b13), 0.0f);
    // Band 21 continues band 20.
    const float m = t.decoder->dequantSamples[0][500];
    EXPECT_NEAR(t.Left(500), m * 0.5f, 1e-6);
    EXPECT_NEAR(t.Right(500), m * 0.5f, 1e-6);
}

TEST(Stereo, PositionSevenFallsBackToMsLineByLine) {
    StereoCase t(3, 3);
    const BandRow& bands = bandTable[3];
    auto& sf = t.RightFactors();
    for (int b = 0; b < 23; ++b) sf.longFactors[b] = 7;
    sf.longFactors[5] = 3;
    t.decoder->dequantSamples[1][bands.longStart[4]] = 0.5f;
    t.decoder->ProcessStereo(0);
    const int b4 = bands.longStart[4], b5 = bands.longStart[5], b6 = bands.longStart[6];
    const float m4 = t.decoder->dequantSamples[0][b4];
    EXPECT_NEAR(t.Left(b4), (m4 + 0.5f) * kInvSqrt2, 1e-6);
    const float m5 = t.decoder->dequantSamples[0][b5];
    EXPECT_NEAR(t.Left(b5), m5 * 0.5f, 1e-6);
    const float m6 = t.decoder->dequantSamples[0][b6];
    EXPECT_NEAR(t.Left(b6), m6 * kInvSqrt2, 1e-6);
    EXPECT_NEAR(t.Right(b6), m6 * kInvSqrt2, 1e-6);
}

TEST(Stereo, ShortBlockIntensityPerWindowAndBand12ContinuesBand11) {
    StereoCase t(3, 1);
    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    const BandRow& bands = bandTable[3];
    auto lineOf = [&](int band, int w, int f) {
        const int width = bands.shortStart[band + 1] - bands.shortStart[band];
        return 3 * bands.shortStart[band] + w * width + f;
    };
    // Window 1 has signal in band 8; windows 0 and 2 none.
    t.decoder->dequantSamples[1][lineOf(8, 1, 2)] = 0.5f;
    auto& sf = t.RightFactors();
    for (int w = 0; w < 3; ++w)
        for (int b = 0; b < 12; ++b) sf.shortFactors[w][b] = 0;
    t.decoder->ProcessStereo(0);
    EXPECT_EQ(t.Left(lineOf(0, 0, 0)), 0.0f);  // window 0 all intensity, position 0
    EXPECT_EQ(t.Left(lineOf(12, 2, 3)), 0.0f); // band 12 continues band 11
    EXPECT_EQ(t.Left(lineOf(8, 1, 0)), t.decoder->dequantSamples[0][lineOf(8, 1, 0)]); // window 1: plain
    EXPECT_EQ(t.Left(lineOf(9, 1, 0)), 0.0f); // window 1 intensity above band 8
}

TEST(Stereo, MixedBlockIntensityReachesLongBandsOnlyWhenShortPartIsSilent) {
    for (int row : {0, 3}) {
        StereoCase t(row, 1);
        auto& gi = t.Granule(0);
        gi.window_switching_flag = 1;
        gi.block_type = 2;
        gi.mixed_block_flag = 1;
        t.decoder->dequantSamples[1][10] = 0.5f; // long part only
        auto& sf = t.RightFactors();
        for (int b = 0; b < 23; ++b) sf.longFactors[b] = 0;
        for (int w = 0; w < 3; ++w)
            for (int b = 0; b < 13; ++b) sf.shortFactors[w][b] = 0;
        t.decoder->ProcessStereo(0);
        const BandRow& bands = bandTable[row];
        int band = 0;
        while (bands.longStart[band] <= 10) ++band;
        EXPECT_EQ(t.Right(10), 0.5f) << row;
        // Position 0 sends everything right at MPEG-1 rates and keeps both
        // at full level at LSF rates.
        for (int line : {bands.longStart[band], 35, 36, 575}) {
            const float m = t.decoder->dequantSamples[0][line];
            EXPECT_EQ(t.Right(line), m) << row << " " << line;
            EXPECT_EQ(t.Left(line), row >= 3 ? 0.0f : m) << row << " " << line;
        }
    }
}

TEST(Stereo, Mpeg1PositionsBeyondTheTableAreSafe) {
    StereoCase t(3, 1);
    auto& sf = t.RightFactors();
    for (int b = 0; b < 23; ++b) sf.longFactors[b] = b == 5 ? 9 : 1000 + b;
    t.decoder->ProcessStereo(0);
    for (int i = 0; i < 576; ++i) {
        ASSERT_TRUE(std::isfinite(t.Left(i))) << i;
        ASSERT_TRUE(std::isfinite(t.Right(i))) << i;
    }
    // Position 9 (ratio -1) is decoded without intensity.
    const int b5 = bandTable[3].longStart[5];
    EXPECT_EQ(t.Left(b5), t.decoder->dequantSamples[0][b5]);
}

TEST(Stereo, LsfIntensityPositionOne) {
    StereoCase t(0, 1);
    t.RightFactors().longFactors[3] = 1;
    t.decoder->dequantSamples[1][bandTable[0].longStart[2]] = 0.5f;
    t.decoder->ProcessStereo(0);
    const int line = bandTable[0].longStart[3];
    const float m = t.decoder->dequantSamples[0][line];
    EXPECT_NEAR(t.Left(line), m * std::exp2(-0.25), 1e-6);
    EXPECT_NEAR(t.Right(line), m, 1e-6);

    // The right channel's scalefac_compress odd: steps of 2^(-1/2); even
    // positions attenuate the right channel. The left channel's bit does
    // not count.
    t.Granule(1).scalefac_compress = 1;
    t.RightFactors().longFactors[3] = 4;
    t.decoder->ProcessStereo(0);
    EXPECT_NEAR(t.Left(line), m, 1e-6);
    EXPECT_NEAR(t.Right(line), m * 0.5f, 1e-6);
}

TEST(Stereo, LsfPositionsBeyondTheTableAreSafe) {
    StereoCase t(1, 1);
    for (int b = 0; b < 23; ++b) t.RightFactors().longFactors[b] = 60 + b;
    t.decoder->ProcessStereo(0);
    for (int i = 0; i < 576; ++i) ASSERT_TRUE(std::isfinite(t.Right(i))) << i;
}

TEST(Stereo, SingleChannelCopies) {
    Layer3Fixture mono(3, 1);
    mono.decoder->dequantSamples[0][3] = 0.75f;
    mono.decoder->ProcessStereo(0);
    EXPECT_EQ(mono.decoder->stereoSamples[0][3], 0.75f);
}

namespace {

// One MPEG-2 joint-stereo frame at 22.05 kHz, built bit by bit: the left
// channel is +1 or -1 at every line (global gain 210, all scale factors 0),
// the right channel +1 at the lines given, 0 elsewhere, and carries the
// intensity positions. The widths and counts of the position partitions are
// given here as the standard's tables have them.
struct IntensityFrame {
    int blockType = 0; // 0 long, 2 short
    int mixed = 0;
    int modeExtension = 1;
    int leftCompress = 0;   // 0: no scale-factor bits; 1: widths 0 0 0 1
    int leftFactorBits = 0; // bits the left channel's factors then take
    int rightCompress = 0;
    std::array<int, 4> slen{};
    std::array<int, 4> counts{};
    std::vector<int> positions; // in reading order
    std::vector<int> rightLines;

    static int LeftValue(int line) { return line % 3 == 0 ? -1 : 1; }

    std::vector<uint8_t> Bytes() const {
        int left[576], right[576] = {};
        for (int i = 0; i < 576; ++i) left[i] = LeftValue(i);
        int rightEnd = 0;
        for (int line : rightLines) {
            right[line] = 1;
            rightEnd = std::max(rightEnd, (line / 4 + 1) * 4);
        }
        test::BitWriter main;
        main.Put(0, leftFactorBits);
        test::PutQuadruples(main, left, 576);
        const int leftBits = static_cast<int>(main.BitCount());
        size_t k = 0;
        for (int part = 0; part < 4; ++part)
            for (int n = 0; n < counts[part]; ++n) main.Put(static_cast<uint32_t>(positions.at(k++)), slen[part]);
        test::PutQuadruples(main, right, rightEnd);

        SideInfo si;
        for (int ch = 0; ch < 2; ++ch) {
            GranuleInfo& g = si.ch[ch].gr[0];
            g.part2_3_length = ch == 0 ? leftBits : static_cast<int>(main.BitCount()) - leftBits;
            g.global_gain = 210;
            g.scalefac_compress = ch == 0 ? leftCompress : rightCompress;
            g.window_switching_flag = blockType == 2 ? 1 : 0;
            g.block_type = blockType;
            g.mixed_block_flag = mixed;
            g.count1table_select = 1;
        }
        test::FrameFields fields;
        fields.version = 0;
        fields.bitrateIndex = 9; // 80 kbit/s: 240 bytes of main data
        fields.mode = 1;
        fields.modeExtension = modeExtension;
        std::vector<uint8_t> file;
        test::AppendLayer3Frame(file, fields, si, main);
        return file;
    }

    // Left and right of each line by the rules of MPEG-2 intensity stereo.
    void Expected(std::vector<double>& outLeft, std::vector<double>& outRight) const {
        const BandRow& bands = bandTable[0];
        // Per line: reading index of its band's factor; long band 21 and
        // short band 12 have none of their own and take the position of
        // band 20 or 11 (and a scale factor of 0).
        std::vector<int> factor(576, -1);
        std::vector<bool> above(576, false);
        const int longEnd = blockType != 2 ? 576 : mixed ? 36 : 0;
        for (int b = 0; b < 22 && bands.longStart[b] < longEnd; ++b)
            for (int i = bands.longStart[b]; i < bands.longStart[b + 1]; ++i) factor[i] = std::min(b, 20);
        const int firstShort = mixed ? 3 : 0;
        // Lines of window w of short band b.
        auto shortLines = [&](int b, int w) {
            const int s = bands.shortStart[b], n = bands.shortStart[b + 1] - s;
            return std::pair<int, int>(3 * s + w * n, 3 * s + (w + 1) * n);
        };
        if (blockType == 2) {
            for (int b = firstShort; b < 13; ++b)
                for (int w = 0; w < 3; ++w) {
                    const int own = std::min(b, 11);
                    const auto [from, to] = shortLines(b, w);
                    for (int i = from; i < to; ++i) factor[i] = mixed ? 6 + (own - 3) * 3 + w : own * 3 + w;
                }
        }
        double right[576] = {};
        for (int line : rightLines) right[line] = std::pow(2.0, -0.5 * positions.at(factor.at(line)));
        auto lastNonZero = [&](int end) {
            int last = end - 1;
            while (last > 0 && right[last] == 0.0) --last;
            return last;
        };
        // Long bands above the last nonzero line, up to endLine.
        auto longAbove = [&](int last, int endLine) {
            int first = 0;
            while (bands.longStart[first] <= last) ++first;
            for (int i = bands.longStart[first]; i < endLine; ++i) above[i] = true;
        };
        if (blockType != 2) {
            longAbove(lastNonZero(576), 576);
        } else {
            bool shortSilent = true;
            for (int w = 0; w < 3; ++w) {
                int lastBand = firstShort - 1;
                for (int b = firstShort; b < 13; ++b) {
                    const auto [from, to] = shortLines(b, w);
                    for (int i = from; i < to; ++i)
                        if (right[i] != 0.0) lastBand = b;
                }
                if (lastBand >= firstShort) shortSilent = false;
                for (int b = lastBand + 1; b < 13; ++b) {
                    const auto [from, to] = shortLines(b, w);
                    std::fill(above.begin() + from, above.begin() + to, true);
                }
            }
            if (mixed && shortSilent) longAbove(lastNonZero(36), 36);
        }

        // Reading index of each position -> its partition's width.
        std::vector<int> width;
        for (int part = 0; part < 4; ++part) width.insert(width.end(), counts[part], slen[part]);
        const double i0 = (rightCompress & 1) ? std::sqrt(0.5) : std::pow(2.0, -0.25);
        const bool ms = (modeExtension & 2) != 0;
        outLeft.assign(576, 0.0);
        outRight.assign(576, 0.0);
        for (int i = 0; i < 576; ++i) {
            const double m = LeftValue(i), s = right[i];
            const int at = factor[i];
            if (above[i] && positions[at] != (1 << width[at]) - 1) {
                const int p = positions[at];
                const double kl = p % 2 == 1 ? std::pow(i0, (p + 1) / 2) : 1.0;
                const double kr = p % 2 == 0 ? std::pow(i0, p / 2) : 1.0;
                outLeft[i] = m * kl;
                outRight[i] = m * kr;
            } else if (ms) {
                outLeft[i] = (m + s) * std::sqrt(0.5);
                outRight[i] = (m - s) * std::sqrt(0.5);
            } else {
                outLeft[i] = m;
                outRight[i] = s;
            }
        }
    }
};

// Positions that cycle through every value of their partition's width,
// the illegal largest value included.
std::vector<int> CyclingPositions(const std::array<int, 4>& slen, const std::array<int, 4>& counts) {
    std::vector<int> positions;
    for (int part = 0; part < 4; ++part)
        for (int n = 0; n < counts[part]; ++n) positions.push_back((n * 7 + 3) % (1 << slen[part]));
    return positions;
}

} // namespace

// Whole frames through the decoder: the intensity scale is the right
// channel's, an LSF band is left out of intensity only at the largest
// position its width can hold (7 is an ordinary position there), and the
// bound runs per window for short blocks and reaches into the long part of
// a mixed block whose short part is silent.
TEST(Stereo, LsfIntensityFramesRebuildBothChannels) {
    std::vector<IntensityFrame> frames(3);
    IntensityFrame& lng = frames[0];
    lng.modeExtension = 1;
    lng.rightCompress = 2 * 97 + 1; // widths 2 4 1 over 7 7 7, intensity scale 1
    lng.slen = {2, 4, 1, 0};
    lng.counts = {7, 7, 7, 0};
    lng.positions = {0, 0, 0, 1, 2, 3, 2, 7, 15, 4, 9, 14, 1, 6, 0, 1, 0, 1, 0, 0, 1};
    lng.rightLines = {0, 5, 11}; // intensity from band 2

    IntensityFrame& shrt = frames[1];
    shrt.blockType = 2;
    shrt.modeExtension = 3;
    shrt.leftCompress = 1; // odd, while the right channel's scale is 0
    shrt.leftFactorBits = 9;
    shrt.rightCompress = 2 * (180 + 2 * 16 + 3 * 4 + 1); // widths 2 3 1 0 over 12 9 9 6
    shrt.slen = {2, 3, 1, 0};
    shrt.counts = {12, 9, 9, 6};
    shrt.positions = CyclingPositions(shrt.slen, shrt.counts);
    const BandRow& bands = bandTable[0];
    // Window 0 has signal in band 4, window 1 none, window 2 in band 9.
    shrt.rightLines = {3 * bands.shortStart[4],
                       3 * bands.shortStart[9] + 2 * (bands.shortStart[10] - bands.shortStart[9]) + 1};

    IntensityFrame& mixed = frames[2];
    mixed.blockType = 2;
    mixed.mixed = 1;
    mixed.modeExtension = 1;
    mixed.rightCompress = 2 * (244 + 3 * 1 + 2) + 1; // widths 1 2 0 over 6 18 9
    mixed.slen = {1, 2, 0, 0};
    mixed.counts = {6, 18, 9, 0};
    mixed.positions = CyclingPositions(mixed.slen, mixed.counts);
    mixed.rightLines = {2}; // the short part is silent

    for (size_t n = 0; n < frames.size(); ++n) {
        SCOPED_TRACE(n);
        test::FrameFile f(frames[n].Bytes(), 2);
        ASSERT_TRUE(f.Next());
        ASSERT_EQ(f.decoder->decodedFrames, 1);
        ASSERT_EQ(f.decoder->overrunGranules, 0);
        std::vector<double> left, right;
        frames[n].Expected(left, right);
        for (int i = 0; i < 576; ++i) {
            ASSERT_NEAR(f.decoder->stereoSamples[0][i], left[i], 1e-6) << "line " << i;
            ASSERT_NEAR(f.decoder->stereoSamples[1][i], right[i], 1e-6) << "line " << i;
        }
    }
}
