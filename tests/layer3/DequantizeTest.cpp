// Dequantisation: gain, scale factors, preflag, sub-block gain, large
// values and the band walk of short and mixed blocks.
#include "Layer3Fixture.h"

#include "layer3/BandTable.h"
#include "layer3/Layer3Tables.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace zumo;
using zumo::test::Layer3Fixture;

namespace {

// Granule 0 of channel 0 with every line quantised to 1.
struct DequantCase : Layer3Fixture {
    explicit DequantCase(int frequencyIndex = 3) : Layer3Fixture(frequencyIndex) {
        std::fill(decoder->huffSamples, decoder->huffSamples + 576, 1);
        decoder->nonZeroCount[0] = 576;
        Granule(0).global_gain = 210;
    }
    float Line(int j) const { return decoder->dequantSamples[0][j]; }
};

} // namespace

TEST(Dequantize, GlobalGainStepsOfFourDoubleTheValue) {
    DequantCase t;
    for (int gain : {210, 214, 218, 206, 211}) {
        t.Granule(0).global_gain = gain;
        t.decoder->Dequantize(0, 0);
        EXPECT_NEAR(t.Line(100), std::exp2((gain - 210) / 4.0), 1e-6) << gain;
    }
}

TEST(Dequantize, SignAndPowerOfFourThirds) {
    DequantCase t;
    t.decoder->huffSamples[0] = -8;
    t.decoder->huffSamples[1] = 27;
    t.decoder->huffSamples[2] = 0;
    t.decoder->Dequantize(0, 0);
    EXPECT_FLOAT_EQ(t.Line(0), -16.0f);
    EXPECT_FLOAT_EQ(t.Line(1), 81.0f);
    EXPECT_EQ(t.Line(2), 0.0f);
}

TEST(Dequantize, LinesAboveNonZeroCountAreCleared) {
    DequantCase t;
    std::fill(t.decoder->dequantSamples[0], t.decoder->dequantSamples[0] + 576, 5.0f);
    t.decoder->nonZeroCount[0] = 100;
    t.decoder->Dequantize(0, 0);
    EXPECT_EQ(t.Line(99), 1.0f);
    for (int j = 100; j < 576; ++j) ASSERT_EQ(t.Line(j), 0.0f) << j;
}

TEST(Dequantize, LongBlockScaleFactorsScaleAndPreflag) {
    DequantCase t;
    const BandRow& bands = bandTable[3];
    auto& sf = t.decoder->scaleFactors[0];
    sf.longFactors[2] = 3;
    sf.longFactors[15] = 1;
    t.decoder->Dequantize(0, 0);
    EXPECT_NEAR(t.Line(bands.longStart[2]), std::exp2(-1.5), 1e-7);
    EXPECT_NEAR(t.Line(bands.longStart[3] - 1), std::exp2(-1.5), 1e-7);
    EXPECT_EQ(t.Line(bands.longStart[3]), 1.0f);

    // scalefac_scale doubles the exponent.
    t.Granule(0).scalefac_scale = 1;
    t.decoder->Dequantize(0, 0);
    EXPECT_NEAR(t.Line(bands.longStart[2]), std::exp2(-3.0), 1e-7);

    // preflag adds the pre-emphasis (2 in band 15) before the shift.
    t.Granule(0).preflag = 1;
    t.decoder->Dequantize(0, 0);
    EXPECT_NEAR(t.Line(bands.longStart[15]), std::exp2(-(1 + 2)), 1e-7);
    EXPECT_NEAR(t.Line(bands.longStart[11]), std::exp2(-1.0), 1e-7);
    EXPECT_EQ(t.Line(bands.longStart[10]), 1.0f);
}

TEST(Dequantize, ShortBlockWindowsAndSubblockGain) {
    DequantCase t;
    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    gi.subblock_gain[1] = 1;
    t.decoder->scaleFactors[0].shortFactors[2][4] = 2;
    t.decoder->Dequantize(0, 0);
    const BandRow& bands = bandTable[3];
    const int width = bands.shortStart[5] - bands.shortStart[4];
    const int begin = 3 * bands.shortStart[4];
    EXPECT_EQ(t.Line(begin), 1.0f);                        // window 0
    EXPECT_FLOAT_EQ(t.Line(begin + width), 0.25f);          // window 1: sub-block gain 1 divides by 4
    EXPECT_FLOAT_EQ(t.Line(begin + 2 * width), 0.5f);       // window 2: factor 2
    EXPECT_FLOAT_EQ(t.Line(begin + 3 * width - 1), 0.5f);
    // Window 1's gain holds in every band, band 12 included.
    EXPECT_FLOAT_EQ(t.Line(3 * bands.shortStart[12] + (bands.shortStart[13] - bands.shortStart[12])), 0.25f);
}

TEST(Dequantize, MixedBlocksSwitchToShortBandsAtLine36AtEveryRate) {
    for (int row = 0; row < 6; ++row) {
        DequantCase t(row);
        auto& gi = t.Granule(0);
        gi.window_switching_flag = 1;
        gi.block_type = 2;
        gi.mixed_block_flag = 1;
        gi.subblock_gain[0] = 1; // short lines only
        auto& sf = t.decoder->scaleFactors[0];
        for (int b = 0; b < 23; ++b) sf.longFactors[b] = 2; // long lines: 0.5
        t.decoder->Dequantize(0, 0);
        const BandRow& bands = bandTable[row];
        for (int j = 0; j < 36; ++j) ASSERT_FLOAT_EQ(t.Line(j), 0.5f) << "row " << row << " line " << j;
        // Short band 3 begins at 36; its window 0 has sub-block gain 1.
        const int width = bands.shortStart[4] - bands.shortStart[3];
        for (int j = 36; j < 36 + width; ++j) ASSERT_FLOAT_EQ(t.Line(j), 0.25f) << "row " << row << " line " << j;
        ASSERT_FLOAT_EQ(t.Line(36 + width), 1.0f) << "row " << row;
    }
}

TEST(Dequantize, EscapeValuesBeyond8191AndCorruptValuesStayInTheTable) {
    DequantCase t;
    t.decoder->huffSamples[0] = 8206;
    t.decoder->huffSamples[1] = -8192;
    t.decoder->huffSamples[2] = 1 << 30;
    t.decoder->huffSamples[3] = INT32_MIN;
    t.decoder->Dequantize(0, 0);
    EXPECT_NEAR(t.Line(0), std::pow(8206.0, 4.0 / 3.0), 0.05);
    EXPECT_NEAR(t.Line(1), -std::pow(8192.0, 4.0 / 3.0), 0.05);
    EXPECT_EQ(t.Line(2), pow43Table[kPow43Size - 1]);
    EXPECT_EQ(t.Line(3), -pow43Table[kPow43Size - 1]);
}

TEST(Dequantize, CorruptFieldsAreClamped) {
    DequantCase t;
    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    gi.subblock_gain[0] = 99;
    t.decoder->scaleFactors[0].shortFactors[0][0] = 1000;
    t.decoder->nonZeroCount[0] = 9999;
    t.decoder->frequencyIndex = 17;
    t.decoder->Dequantize(0, 0);
    for (int j = 0; j < 576; ++j) ASSERT_TRUE(std::isfinite(t.Line(j)));
}
