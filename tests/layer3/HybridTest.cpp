// Reordering, alias reduction, the inverse MDCT against its direct sums,
// overlap, frequency inversion and the hand-off to the synthesis filter.
#include "Layer3Fixture.h"

#include "layer3/BandTable.h"
#include "layer3/Layer3Tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace zumo;
using zumo::test::Layer3Fixture;

namespace {

constexpr double kPi = std::numbers::pi;

double LongWindow(int type, int i) {
    const double normal = std::sin(kPi / 36 * (i + 0.5));
    if (type == 1) {
        if (i < 18) return normal;
        if (i < 24) return 1.0;
        if (i < 30) return std::sin(kPi / 12 * (i - 18 + 0.5));
        return 0.0;
    }
    if (type == 3) {
        if (i < 6) return 0.0;
        if (i < 12) return std::sin(kPi / 12 * (i - 6 + 0.5));
        if (i < 18) return 1.0;
    }
    return normal;
}

// The inverse MDCT by its defining sums, in double precision.
void DirectInvMdct(const float* x, double* y, int type) {
    if (type != 2) {
        for (int i = 0; i < 36; ++i) {
            double sum = 0;
            for (int k = 0; k < 18; ++k) sum += x[k] * std::cos(kPi / 72 * (2 * i + 19) * (2 * k + 1));
            y[i] = LongWindow(type, i) * sum;
        }
        return;
    }
    for (int i = 0; i < 36; ++i) y[i] = 0;
    for (int w = 0; w < 3; ++w)
        for (int i = 0; i < 12; ++i) {
            double sum = 0;
            for (int k = 0; k < 6; ++k) sum += x[3 * k + w] * std::cos(kPi / 24 * (2 * i + 7) * (2 * k + 1));
            y[6 * w + 6 + i] += std::sin(kPi / 12 * (i + 0.5)) * sum;
        }
}

void ExpectMatchesDirectSums(const float* x, int type, const char* what) {
    float input[18];
    std::copy(x, x + 18, input);
    float fast[36];
    Layer3Decoder::InvMdct(input, fast, type);
    double exact[36];
    DirectInvMdct(x, exact, type);
    double magnitude = 0;
    for (int k = 0; k < 18; ++k) magnitude += std::fabs(x[k]);
    // A few single-float roundings of the largest possible sum.
    const double tolerance = 4.0 * magnitude * 1.2e-7 + 1e-30;
    for (int i = 0; i < 36; ++i) ASSERT_NEAR(fast[i], exact[i], tolerance) << what << " type " << type << " i " << i;
}

} // namespace

TEST(InvMdct, FastTransformEqualsDirectSumsForEveryBlockType) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int type = 0; type < 4; ++type) {
        for (int trial = 0; trial < 50; ++trial) {
            float x[18];
            for (float& v : x) v = dist(rng) * (trial % 5 == 0 ? 30000.0f : 1.0f);
            ExpectMatchesDirectSums(x, type, "random");
        }
        for (int k = 0; k < 18; ++k) { // each single line
            float x[18] = {};
            x[k] = 1.0f;
            ExpectMatchesDirectSums(x, type, "single line");
        }
    }
}

TEST(InvMdct, StartAndStopWindowShapes) {
    float x[18] = {};
    x[0] = 1.0f;
    float y[36];
    Layer3Decoder::InvMdct(x, y, 1);
    for (int i = 30; i < 36; ++i) EXPECT_EQ(y[i], 0.0f) << i; // start: last six zero
    double exact[36];
    DirectInvMdct(x, exact, 1);
    for (int i = 18; i < 24; ++i) EXPECT_NEAR(y[i], std::cos(kPi / 72 * (2 * i + 19)), 1e-6) << i; // flat top

    Layer3Decoder::InvMdct(x, y, 3);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(y[i], 0.0f) << i; // stop: first six zero
    for (int i = 12; i < 18; ++i) EXPECT_NEAR(y[i], std::cos(kPi / 72 * (2 * i + 19)), 1e-6) << i;

    Layer3Decoder::InvMdct(x, y, 2);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(y[i], 0.0f) << i;
    for (int i = 30; i < 36; ++i) EXPECT_EQ(y[i], 0.0f) << i;
}

TEST(Hybrid, SingleLineSpreadsOverTwoGranulesThroughOverlap) {
    for (int type = 0; type < 4; ++type) {
        Layer3Fixture t;
        auto& gi = t.Granule(0);
        gi.window_switching_flag = type != 0;
        gi.block_type = type;
        std::fill(t.decoder->hybridOut, t.decoder->hybridOut + 576, 0.0f);
        t.decoder->hybridOut[18 * 5 + 4] = 1.0f;
        float x[18] = {};
        x[4] = 1.0f;
        double exact[36];
        DirectInvMdct(x, exact, type);

        t.decoder->Hybrid(0, 0);
        for (int k = 0; k < 18; ++k) {
            ASSERT_NEAR(t.decoder->hybridOut[90 + k], exact[k], 1e-6) << type << " " << k;
            ASSERT_NEAR(t.decoder->overlap[0][90 + k], exact[18 + k], 1e-6) << type << " " << k;
        }
        EXPECT_EQ(t.decoder->hybridOut[89], 0.0f);
        EXPECT_EQ(t.decoder->overlap[1][90], 0.0f); // the other channel untouched

        // The next, silent granule outputs the second half.
        std::fill(t.decoder->hybridOut, t.decoder->hybridOut + 576, 0.0f);
        t.decoder->Hybrid(0, 0);
        for (int k = 0; k < 18; ++k) ASSERT_NEAR(t.decoder->hybridOut[90 + k], exact[18 + k], 1e-6);
        for (int k = 0; k < 18; ++k) ASSERT_EQ(t.decoder->overlap[0][90 + k], 0.0f);
    }
}

TEST(Hybrid, MixedBlockUsesTheNormalWindowInSubbandsZeroAndOne) {
    Layer3Fixture t;
    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    gi.mixed_block_flag = 1;
    std::fill(t.decoder->hybridOut, t.decoder->hybridOut + 576, 0.0f);
    t.decoder->hybridOut[18 + 3] = 1.0f;     // subband 1: long
    t.decoder->hybridOut[18 * 2 + 3] = 1.0f; // subband 2: short
    float x[18] = {};
    x[3] = 1.0f;
    double normal[36], shortBlock[36];
    DirectInvMdct(x, normal, 0);
    DirectInvMdct(x, shortBlock, 2);
    t.decoder->Hybrid(0, 0);
    for (int k = 0; k < 18; ++k) {
        ASSERT_NEAR(t.decoder->hybridOut[18 + k], normal[k], 1e-6) << k;
        ASSERT_NEAR(t.decoder->hybridOut[36 + k], shortBlock[k], 1e-6) << k;
    }
}

TEST(Reorder, LongBlocksCopyShortBlocksInterleaveWindows) {
    Layer3Fixture t(5);
    float source[576];
    for (int i = 0; i < 576; ++i) source[i] = static_cast<float>(i);
    t.decoder->Reorder(source, 0, 0);
    for (int i = 0; i < 576; ++i) ASSERT_EQ(t.decoder->hybridOut[i], source[i]);

    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    t.decoder->Reorder(source, 0, 0);
    const BandRow& bands = bandTable[5];
    for (int b = 0; b < 13; ++b) {
        const int start = bands.shortStart[b];
        const int width = bands.shortStart[b + 1] - start;
        for (int f = 0; f < width; ++f)
            for (int w = 0; w < 3; ++w)
                ASSERT_EQ(t.decoder->hybridOut[3 * start + 3 * f + w], source[3 * start + w * width + f])
                    << b << " " << f << " " << w;
    }
}

TEST(Reorder, MixedBlocksReorderOnlyBands3To12) {
    for (int row : {0, 3, 4}) {
        Layer3Fixture t(row);
        auto& gi = t.Granule(0);
        gi.window_switching_flag = 1;
        gi.block_type = 2;
        gi.mixed_block_flag = 1;
        float source[576];
        for (int i = 0; i < 576; ++i) source[i] = static_cast<float>(i);
        t.decoder->Reorder(source, 0, 0);
        for (int i = 0; i < 36; ++i) ASSERT_EQ(t.decoder->hybridOut[i], source[i]) << row;
        const BandRow& bands = bandTable[row];
        const int start = bands.shortStart[3];
        const int width = bands.shortStart[4] - start;
        EXPECT_EQ(t.decoder->hybridOut[36 + 1], source[36 + width]) << row; // window 1, line 0
        EXPECT_EQ(t.decoder->hybridOut[36 + 3], source[36 + 1]) << row;     // window 0, line 1
    }
}

TEST(Antialias, ButterfliesAcrossSubbandBoundaries) {
    Layer3Fixture t;
    auto fillOnes = [&] { std::fill(t.decoder->hybridOut, t.decoder->hybridOut + 576, 1.0f); };

    fillOnes();
    t.decoder->Antialias(0, 0);
    for (int sb = 0; sb < 31; ++sb)
        for (int i = 0; i < 8; ++i) {
            ASSERT_FLOAT_EQ(t.decoder->hybridOut[18 * sb + 17 - i], aliasCs[i] - aliasCa[i]);
            ASSERT_FLOAT_EQ(t.decoder->hybridOut[18 * sb + 18 + i], aliasCs[i] + aliasCa[i]);
        }
    EXPECT_EQ(t.decoder->hybridOut[8], 1.0f); // line 8 and 9 of a subband are never touched
    EXPECT_EQ(t.decoder->hybridOut[18 * 31 + 8], 1.0f);

    auto& gi = t.Granule(0);
    gi.window_switching_flag = 1;
    gi.block_type = 2;
    fillOnes();
    t.decoder->Antialias(0, 0); // pure short: nothing
    for (int i = 0; i < 576; ++i) ASSERT_EQ(t.decoder->hybridOut[i], 1.0f) << i;

    gi.mixed_block_flag = 1;
    fillOnes();
    t.decoder->Antialias(0, 0); // mixed: only between subbands 0 and 1
    EXPECT_FLOAT_EQ(t.decoder->hybridOut[17], aliasCs[0] - aliasCa[0]);
    EXPECT_FLOAT_EQ(t.decoder->hybridOut[18], aliasCs[0] + aliasCa[0]);
    for (int i = 26; i < 576; ++i) ASSERT_EQ(t.decoder->hybridOut[i], 1.0f) << i;
}

TEST(Hybrid, FrequencyInversionNegatesOddSlotsOfOddSubbands) {
    Layer3Fixture t;
    std::fill(t.decoder->hybridOut, t.decoder->hybridOut + 576, 1.0f);
    t.decoder->FrequencyInversion();
    for (int sb = 0; sb < 32; ++sb)
        for (int k = 0; k < 18; ++k)
            ASSERT_EQ(t.decoder->hybridOut[18 * sb + k], (sb % 2 == 1 && k % 2 == 1) ? -1.0f : 1.0f) << sb << " " << k;
}

TEST(Hybrid, HandOffGivesEighteenBlocksToTheChosenFilter) {
    Layer3Fixture t;
    // A constant in subband 0 settles to that value through the filter.
    for (int sb = 0; sb < 32; ++sb)
        for (int k = 0; k < 18; ++k) t.decoder->hybridOut[18 * sb + k] = sb == 0 ? 0.25f : 0.0f;
    t.decoder->HandOff(t.filter0);
    t.decoder->HandOff(t.filter0);
    EXPECT_EQ(t.out.written[0], 2u * 576u);
    EXPECT_EQ(t.out.written[1], 0u);
    EXPECT_NEAR(t.out.samples[2 * 1000], 8192, 2);
}
