// The polyphase synthesis filter: known responses of the filter bank, the
// fast cosine transform, the window table and the PCM conversion.
#include <cstddef> // CaptureBuffer.h uses size_t

#include "synth/SynthFilter.h"
#include "synth/SynthWindow.h"
#include "support/CaptureBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <vector>

using namespace zumo;
using zumo::test::CaptureBuffer;

namespace {

// Runs blocks with a constant value in one subband; returns block b's 32 samples.
std::vector<std::vector<int>> ConstantInput(int subband, float value, int blocks) {
    SynthFilter filter(0, 32768.0f);
    CaptureBuffer out(1);
    for (int b = 0; b < blocks; ++b) {
        filter.SetSubbandSample(subband, value);
        filter.SynthesizeBlock(out);
    }
    std::vector<std::vector<int>> result(blocks);
    for (int b = 0; b < blocks; ++b)
        for (int j = 0; j < 32; ++j) result[b].push_back(out.samples[32 * b + j]);
    return result;
}

} // namespace

TEST(SynthFilter, ConstantInSubbandZeroSettlesAtUnityGain) {
    const auto blocks = ConstantInput(0, 0.5f, 40);
    for (int b = 15; b < 40; ++b)
        for (int j = 0; j < 32; ++j) EXPECT_NEAR(blocks[b][j], 16384, 1) << "block " << b << " sample " << j;
    // The step response overshoots on its way up.
    int peak = 0;
    for (int j = 0; j < 32; ++j) peak = std::max(peak, blocks[7][j]);
    EXPECT_NEAR(peak, 22500, 600);
}

TEST(SynthFilter, ConstantInSubbandOneGivesOnePeriodOfASinusoid) {
    const auto blocks = ConstantInput(1, 0.5f, 40);
    for (int b = 15; b < 40; ++b) {
        EXPECT_NEAR(blocks[b][0], -16384, 1) << b;
        EXPECT_NEAR(blocks[b][4], -23171, 1) << b;
        EXPECT_NEAR(blocks[b][12], 0, 1) << b;
        EXPECT_NEAR(blocks[b][20], 23171, 1) << b;
        EXPECT_NEAR(blocks[b][28], 0, 1) << b;
        for (int j = 0; j < 32; ++j) EXPECT_NEAR(blocks[b][j], blocks[15][j], 1) << b << " " << j;
    }
}

TEST(SynthFilter, FirstBlockImpulseIsTheFirstWindowTaps) {
    SynthFilter filter(1, 32768.0f);
    CaptureBuffer out(2);
    filter.SetSubbandSample(0, 1.0f);
    filter.SynthesizeBlock(out);
    ASSERT_EQ(out.written[1], 32u);
    EXPECT_EQ(out.written[0], 0u);
    for (int j = 0; j < 32; ++j) {
        const double expected = 32768.0 * std::cos((16 + j) * std::numbers::pi / 64) * synthWindow[16 * j];
        EXPECT_EQ(out.samples[2 * j + 1], ToPcm16(static_cast<float>(expected))) << j;
    }
}

TEST(SynthFilter, WithoutInputTheHistoryDecaysToSilenceWithinSixteenBlocks) {
    SynthFilter filter(0, 32768.0f);
    CaptureBuffer out(1);
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int b = 0; b < 21; ++b) { // crosses the slot wrap with real data
        for (int sb = 0; sb < 32; ++sb) filter.SetSubbandSample(sb, dist(rng));
        filter.SynthesizeBlock(out);
    }
    out.samples.clear();
    out.written[0] = 0;
    for (int b = 0; b < 16; ++b) filter.SynthesizeBlock(out);
    ASSERT_EQ(out.samples.size(), 16u * 32u);
    bool someTail = false;
    for (int j = 0; j < 32; ++j) someTail |= out.samples[j] != 0;
    EXPECT_TRUE(someTail);
    for (int j = 0; j < 32; ++j) EXPECT_EQ(out.samples[15 * 32 + j], 0) << j;
}

TEST(SynthFilter, InputIsConsumedByEachBlock) {
    // A sample set once feeds exactly one block: the next blocks match a
    // filter that got the sample and then nothing, not one that got it twice.
    SynthFilter once(0, 32768.0f), twice(0, 32768.0f);
    CaptureBuffer a(1), b(1);
    once.SetSubbandSample(3, 0.8f);
    twice.SetSubbandSample(3, 0.8f);
    once.SynthesizeBlock(a);
    twice.SynthesizeBlock(b);
    once.SynthesizeBlock(a);
    twice.SetSubbandSample(3, 0.8f);
    twice.SynthesizeBlock(b);
    EXPECT_NE(a.samples, b.samples);
    SynthFilter reference(0, 32768.0f);
    CaptureBuffer c(1);
    reference.SetSubbandSample(3, 0.8f);
    reference.SynthesizeBlock(c);
    reference.SynthesizeBlock(c);
    EXPECT_EQ(a.samples, c.samples);
}

TEST(SynthFilter, SlotAndStoreFollowTheBlockCount) {
    SynthFilter filter(0, 32768.0f);
    CaptureBuffer out(1);
    EXPECT_EQ(filter.WriteSlot(), 15);
    EXPECT_TRUE(filter.StoreAIsCurrent());
    for (int n = 1; n <= 40; ++n) {
        filter.SynthesizeBlock(out);
        EXPECT_EQ(filter.WriteSlot(), (15 + n) % 16);
        EXPECT_EQ(filter.StoreAIsCurrent(), n % 2 == 0);
    }
    EXPECT_EQ(out.written[0], 40u * 32u);
}

TEST(SynthFilter, TwoFiltersKeepSeparateHistories) {
    SynthFilter left(0, 32768.0f), right(1, 32768.0f), alone(1, 32768.0f);
    CaptureBuffer both(2), single(2);
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(-0.5f, 0.5f);
    for (int b = 0; b < 30; ++b) {
        // The left filter is busy for a while before the right one starts.
        for (int sb = 0; sb < 32; ++sb) left.SetSubbandSample(sb, dist(rng));
        left.SynthesizeBlock(both);
        if (b >= 10) {
            const float v = dist(rng);
            right.SetSubbandSample(5, v);
            alone.SetSubbandSample(5, v);
            right.SynthesizeBlock(both);
            alone.SynthesizeBlock(single);
        }
    }
    ASSERT_EQ(both.written[1], single.written[1]);
    for (size_t k = 0; k < both.written[1]; ++k) EXPECT_EQ(both.samples[2 * k + 1], single.samples[2 * k + 1]) << k;
}

namespace {

// The fast transform in its recursive form, written with sizes known only
// at run time: the sums of mirrored inputs go through a half-size transform
// for the even outputs, the scaled differences through another for the odd
// ones.
void RecursiveCosine(const float* x, float* out, int n, const float* scales) {
    if (n == 1) {
        out[0] = x[0];
        return;
    }
    const int h = n / 2;
    const int offset = n == 32 ? 0 : n == 16 ? 16 : n == 8 ? 24 : n == 4 ? 28 : 30;
    float a[16], b[16], ea[16], eb[16];
    for (int i = 0; i < h; ++i) {
        a[i] = x[i] + x[n - 1 - i];
        b[i] = (x[i] - x[n - 1 - i]) * scales[offset + i];
    }
    RecursiveCosine(a, ea, h, scales);
    RecursiveCosine(b, eb, h, scales);
    for (int k = 0; k < h - 1; ++k) {
        out[2 * k] = ea[k];
        out[2 * k + 1] = eb[k] + eb[k + 1];
    }
    out[n - 2] = ea[h - 1];
    out[n - 1] = eb[h - 1];
}

} // namespace

TEST(SynthFilter, FastCosineGivesTheRecursiveFormExactly) {
    std::mt19937 rng(13);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 500; ++trial) {
        float in[32], fast[32], recursive[32];
        for (float& v : in) v = dist(rng) * (trial % 7 == 0 ? 1.0e4f : 1.0f);
        FastCosine32(in, fast);
        RecursiveCosine(in, recursive, 32, DctScale().data());
        for (int k = 0; k < 32; ++k) ASSERT_EQ(fast[k], recursive[k]) << "trial " << trial << " k " << k;
    }
}

TEST(SynthFilter, FastCosineMatchesTheDirectSum) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        float in[32], out[32];
        double magnitude = 0;
        for (float& v : in) {
            v = trial == 0 ? 1.0f : dist(rng);
            magnitude += std::fabs(v);
        }
        FastCosine32(in, out);
        for (int k = 0; k < 32; ++k) {
            double direct = 0;
            for (int n = 0; n < 32; ++n) direct += in[n] * std::cos((2 * n + 1) * k * std::numbers::pi / 64);
            EXPECT_NEAR(out[k], direct, magnitude * 1e-6) << "trial " << trial << " k " << k;
        }
    }
}

TEST(SynthFilter, TransformMultipliersAreInStageOrder) {
    const auto& scale = DctScale();
    const int ks[31] = {1, 3, 5,  7,  9,  11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31,
                        2, 6, 10, 14, 18, 22, 26, 30, 4,  12, 20, 28, 8,  24, 16};
    for (int i = 0; i < 31; ++i)
        EXPECT_FLOAT_EQ(scale[i], static_cast<float>(1.0 / (2.0 * std::cos(ks[i] * std::numbers::pi / 64)))) << i;
}

TEST(SynthWindow, TableIsTheStandardWindowRegrouped) {
    const float row0[16] = {0.000000000f, -0.000442505f, 0.003250122f, -0.007003784f, 0.031082153f, -0.078628540f,
                            0.100311279f, -0.572036743f, 1.144989014f, 0.572036743f,  0.100311279f, 0.078628540f,
                            0.031082153f, 0.007003784f,  0.003250122f, 0.000442505f};
    for (int m = 0; m < 16; ++m) EXPECT_EQ(synthWindow[m], row0[m]) << m;
    // Column 0 holds D[0..31]: zero, then -1/65536 six times.
    EXPECT_EQ(synthWindow[0], 0.0f);
    for (int j = 1; j <= 6; ++j) EXPECT_NEAR(synthWindow[16 * j], -1.0 / 65536, 1e-9) << j;
    for (int j = 1; j < 32; ++j)
        for (int m = 0; m < 16; ++m)
            EXPECT_EQ(synthWindow[16 * (32 - j) + 15 - m], -synthWindow[16 * j + m]) << j << " " << m;
    for (int i = 0; i < 512; ++i) {
        const double units = synthWindow[i] * 65536.0;
        EXPECT_NEAR(units, std::round(units), 0.001) << i;
    }
}

TEST(ToPcm16, RoundsTiesToEvenAndSaturates) {
    EXPECT_EQ(ToPcm16(2.5f), 2);
    EXPECT_EQ(ToPcm16(3.5f), 4);
    EXPECT_EQ(ToPcm16(-2.5f), -2);
    EXPECT_EQ(ToPcm16(-3.5f), -4);
    EXPECT_EQ(ToPcm16(0.49999997f), 0);
    EXPECT_EQ(ToPcm16(32767.4f), 32767);
    EXPECT_EQ(ToPcm16(32767.5f), 32767);
    EXPECT_EQ(ToPcm16(40000.0f), 32767);
    EXPECT_EQ(ToPcm16(-32768.0f), -32768);
    EXPECT_EQ(ToPcm16(-32768.6f), -32768);
    EXPECT_EQ(ToPcm16(-1.0e10f), -32768);
    EXPECT_EQ(ToPcm16(INFINITY), 32767);
    EXPECT_EQ(ToPcm16(-INFINITY), -32768);
    EXPECT_EQ(ToPcm16(NAN), -32768);
    // Every half-way point and its neighbours round as lrint rounds.
    for (int k = -65540; k <= 65540; ++k) {
        const float half = static_cast<float>(k) * 0.5f;
        for (float x : {std::nextafter(half, -1.0e9f), half, std::nextafter(half, 1.0e9f)}) {
            const auto expected = static_cast<int16_t>(std::lrint(std::fmin(std::fmax(x, -32768.0f), 32767.0f)));
            ASSERT_EQ(ToPcm16(x), expected) << x;
        }
    }
}

TEST(SynthFilter, MatchesTheTextbookFilterBankExactly) {
    // The standard's form of the filter: a flat 1,024-value V buffer shifted
    // by 64 each block, U taken from it, the window applied and summed in
    // tap order, the products added in double precision. The filter's
    // stores, slots, vector sums and conversion must give exactly the same
    // samples, saturated and NaN ones included.
    SynthFilter filter(0, 32768.0f);
    CaptureBuffer out(1);
    std::vector<float> v(1024, 0.0f);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<int16_t> expected;
    for (int b = 0; b < 70; ++b) {
        float in[32];
        for (int k = 0; k < 32; ++k) in[k] = (rng() % 4 == 0) ? 0.0f : dist(rng) / static_cast<float>(1 + k);
        // Loud blocks saturate; a NaN poisons the history for a while.
        if (b >= 30 && b < 34)
            for (float& value : in) value *= 300.0f;
        if (b == 50) in[5] = NAN;
        for (int k = 0; k < 32; ++k) filter.SetSubbandSample(k, in[k]);
        filter.SynthesizeBlock(out);
        float x[32];
        FastCosine32(in, x);
        std::copy_backward(v.begin(), v.end() - 64, v.end());
        // V[i] = sum over k of cos((16 + i)(2k + 1) pi / 64) in[k], from the transform's symmetries.
        for (int i = 0; i < 16; ++i) v[i] = x[16 + i];
        v[16] = 0.0f;
        for (int t = 1; t < 16; ++t) v[16 + t] = -x[32 - t];
        for (int s = 0; s <= 16; ++s) v[32 + s] = -x[16 - s];
        for (int t = 1; t < 16; ++t) v[48 + t] = -x[t];
        for (int j = 0; j < 32; ++j) {
            double sum = 0.0;
            for (int i = 0; i < 16; ++i) {
                const float u = v[(i / 2) * 128 + (i % 2 == 0 ? j : 96 + j)];
                sum += static_cast<double>(u) * static_cast<double>(synthWindow[16 * j + i]);
            }
            expected.push_back(ToPcm16(static_cast<float>(sum * 32768.0)));
        }
    }
    ASSERT_EQ(out.samples.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(out.samples[i], expected[i]) << i;
    EXPECT_GT(std::count(expected.begin(), expected.end(), 32767), 20);
    EXPECT_GT(std::count(expected.begin(), expected.end(), -32768), 20 + 32 * 15);
}

namespace {

// Blocks of random subband samples, laid out as SynthesizeBlocks reads them.
std::vector<float> RandomBlocks(int stride, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    std::vector<float> samples(static_cast<size_t>(32 * stride));
    for (float& s : samples) s = value(rng) * 0.3f;
    return samples;
}

} // namespace

// The batched forms (the layers' hand-offs) must give exactly what block
// after block gives, on every decode path and for every count of blocks
// the lane widths split differently (16, 8, 4 and single blocks).
TEST(SynthFilter, BlocksAtOnceGiveExactlyTheBlockByBlockOutput) {
    for (DecodePath path : {DecodePath::Fastest, DecodePath::Portable, DecodePath::Straightforward}) {
        SetDecodePath(path);
        for (int count : {1, 3, 4, 7, 8, 12, 15, 16, 18, 36}) {
            SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << " count " << count);
            const int stride = 36;
            const std::vector<float> samples = RandomBlocks(stride, 7u + static_cast<unsigned>(count));
            SynthFilter single(0, 32768.0f), batched(0, 32768.0f), queued(0, 32768.0f);
            CaptureBuffer a(1), b(1), c(1);
            // Three rounds, so that later ones start from a history an
            // earlier one left at another slot; the second round queues
            // without BeginQueue (the pending block is copied in).
            for (int round = 0; round < 3; ++round) {
                if (round != 1) queued.BeginQueue();
                for (int t = 0; t < count; ++t) {
                    for (int sb = 0; sb < 32; ++sb) {
                        single.SetSubbandSample(sb, samples[static_cast<size_t>(sb * stride + t)]);
                        queued.SetSubbandSample(sb, samples[static_cast<size_t>(sb * stride + t)]);
                    }
                    single.SynthesizeBlock(a);
                    queued.QueueBlock();
                }
                batched.SynthesizeBlocks(samples.data(), stride, count, b);
                queued.SynthesizeQueued(c);
            }
            ASSERT_EQ(a.samples.size(), static_cast<size_t>(96 * count));
            EXPECT_TRUE(a.samples == b.samples);
            EXPECT_TRUE(a.samples == c.samples);
            EXPECT_EQ(single.WriteSlot(), batched.WriteSlot());
            EXPECT_EQ(single.StoreAIsCurrent(), batched.StoreAIsCurrent());
        }
    }
    SetDecodePath(DecodePath::Fastest);
}

// Two channels synthesised together (their window sums share the window's
// loads) must give each channel exactly what it gets alone: filters at the
// same slot run paired, filters at different slots one after the other.
// The channels have different samples and scales, so that a mix-up of
// stores, scales or channels shows.
TEST(SynthFilter, ChannelPairsGiveExactlyWhatEachChannelGivesAlone) {
    for (DecodePath path : {DecodePath::Fastest, DecodePath::Portable, DecodePath::Straightforward}) {
        SetDecodePath(path);
        for (int count : {1, 4, 8, 12, 16, 18, 36}) {
            SCOPED_TRACE(testing::Message() << "path " << static_cast<int>(path) << " count " << count);
            const int stride = 36;
            const std::vector<float> left = RandomBlocks(stride, 11u + static_cast<unsigned>(count));
            const std::vector<float> right = RandomBlocks(stride, 97u + static_cast<unsigned>(count));
            SynthFilter alone0(0, 32768.0f), alone1(1, 16384.0f);
            SynthFilter paired0(0, 32768.0f), paired1(1, 16384.0f);
            SynthFilter queued0(0, 32768.0f), queued1(1, 16384.0f);
            CaptureBuffer a(2), b(2), c(2);
            for (int round = 0; round < 4; ++round) {
                if (round == 2) {
                    // One block more on the right channel: from now on the
                    // two filters are at different slots.
                    alone1.SynthesizeBlock(a);
                    paired1.SynthesizeBlock(b);
                    queued1.SynthesizeBlock(c);
                }
                alone0.SynthesizeBlocks(left.data(), stride, count, a);
                alone1.SynthesizeBlocks(right.data(), stride, count, a);
                SynthFilter::SynthesizeBlocks(paired0, left.data(), paired1, right.data(), stride, count, b);
                queued0.BeginQueue();
                queued1.BeginQueue();
                for (int t = 0; t < count; ++t) {
                    for (int sb = 0; sb < 32; ++sb) {
                        queued0.SetSubbandSample(sb, left[static_cast<size_t>(sb * stride + t)]);
                        queued1.SetSubbandSample(sb, right[static_cast<size_t>(sb * stride + t)]);
                    }
                    queued0.QueueBlock();
                    queued1.QueueBlock();
                }
                SynthFilter::SynthesizeQueued(queued0, queued1, c);
            }
            ASSERT_EQ(a.samples.size(), static_cast<size_t>(2 * (128 * count + 32)));
            EXPECT_TRUE(a.samples == b.samples);
            EXPECT_TRUE(a.samples == c.samples);
            EXPECT_EQ(alone1.WriteSlot(), paired1.WriteSlot());
            EXPECT_EQ(alone1.StoreAIsCurrent(), paired1.StoreAIsCurrent());
        }
    }
    SetDecodePath(DecodePath::Fastest);
}
