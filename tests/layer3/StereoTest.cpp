// Stereo processing: MS, MPEG-1 and LSF intensity, the line-by-line
// fallback of position 7, positions beyond the tables and the downmix.
#include "Layer3Fixture.h"

#include "layer3/BandTable.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zumo;
using zumo::test::Layer3Fixture;

namespace {

struct StereoCase : Layer3Fixture {
    StereoCase(int frequencyIndex, int modeExtension, uint8_t choice = 0) : Layer3Fixture(frequencyIndex, 2, choice) {
        header.mode = 1;
        header.modeExtension = modeExtension;
        for (int i = 0; i < 576; ++i) {
            decoder->dequantSamples[0][i] = 1.0f + 0.001f * static_cast<float>(i);
            decoder->dequantSamples[1][i] = 0.0f;
        }
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
    EXPECT_EQ(t.Left(lineOf(9, 1, 0)), 0.0f);   // window 1 intensity above band 8
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

    // scaleBit 1 (scalefac_compress odd): steps of 2^(-1/2); even positions
    // attenuate the right channel.
    t.Granule(0).scalefac_compress = 1;
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
