// Layer I: tables, the three subband kinds and the per-frame protocol on
// synthetic frames.
#include "subband/Layer1Tables.h"
#include "subband/ScaleFactorTable.h"
#include "SubBandTestSupport.h"

#include <gtest/gtest.h>

using namespace zumo;
using namespace zumo::test;

namespace {

FrameFields Layer1(int mode, int modeExtension = 0) {
    FrameFields s;
    s.layer = 1;
    s.bitrateIndex = 12; // 384 kbit/s: room for every field below
    s.sampleFrequency = 0;
    s.mode = mode;
    s.modeExtension = modeExtension;
    return s;
}

// A single-channel frame with one allocated subband: allocation code a,
// scale-factor index, and the same code in every slot.
BitWriter MonoBody(int subband, int a, int scaleIndex, uint32_t code) {
    BitWriter w;
    for (int sb = 0; sb < 32; ++sb) w.Put(sb == subband ? a : 0, 4);
    w.Put(scaleIndex, 6);
    for (int slot = 0; slot < 12; ++slot) w.Put(code, a + 1);
    return w;
}

} // namespace

TEST(Layer1Tables, ScaleFactorsAndRequantisation) {
    EXPECT_EQ(scaleFactorTable[0], 2.0f);
    EXPECT_EQ(scaleFactorTable[3], 1.0f);
    EXPECT_FLOAT_EQ(scaleFactorTable[62], 1.2015544e-06f);
    EXPECT_EQ(scaleFactorTable[63], 0.0f);
    EXPECT_EQ(ScaleFactor(63), 0.0f);
    EXPECT_EQ(ScaleFactor(64 + 3), 1.0f); // only six bits count
    EXPECT_FLOAT_EQ(layer1Factor[1], 0.66666669f);
    EXPECT_FLOAT_EQ(layer1Factor[2], 0.2857143f);
    EXPECT_FLOAT_EQ(layer1Factor[14], 6.1037019e-05f);
    EXPECT_FLOAT_EQ(layer1Offset[1], -0.66666669f);
    EXPECT_FLOAT_EQ(layer1Offset[3], -0.93333334f);
    EXPECT_FLOAT_EQ(layer1Offset[14], -0.99996948f);
    // Every code of every allocation gives (2v + 2 - 2^n) / (2^n - 1).
    for (int a = 1; a < 15; ++a) {
        const int n = a + 1;
        for (int v : {0, 1, (1 << n) / 2, (1 << n) - 2, (1 << n) - 1}) {
            const double expected = (2.0 * v + 2 - (1 << n)) / ((1 << n) - 1);
            EXPECT_NEAR(v * layer1Factor[a] + layer1Offset[a], expected, 1e-6) << a << " " << v;
        }
    }
}

TEST(Layer1Frame, AllZeroAllocationsStillGiveTwelveBlocks) {
    auto run = DecodeBytes(OneFrame(Layer1(3), BitWriter{}), 2);
    ASSERT_EQ(run->accepted.size(), 1u);
    EXPECT_EQ(run->pcm.written[0], 384u);
    EXPECT_EQ(run->pcm.written[1], 0u); // single channel: filter1 untouched
    EXPECT_EQ(run->filter1.WriteSlot(), 15);
    EXPECT_EQ(run->filter0.WriteSlot(), (15 + 12) % 16);
    EXPECT_EQ(run->pcm.frames, 1);
    for (int16_t s : run->pcm.samples) EXPECT_EQ(s, 0);

    auto stereo = DecodeBytes(OneFrame(Layer1(0), BitWriter{}), 2);
    EXPECT_EQ(stereo->pcm.written[0], 384u);
    EXPECT_EQ(stereo->pcm.written[1], 384u);
}

TEST(Layer1Frame, CodesRequantiseAndScale) {
    // Allocation 1 (2-bit codes), scale 1.0: codes 0..3 give -2/3, 0, 2/3 and the unused 4/3.
    const float expected[4] = {-0.6666667f, 0.0f, 0.6666667f, 1.3333334f};
    for (uint32_t code = 0; code < 4; ++code) {
        auto run = DecodeBytes(OneFrame(Layer1(3), MonoBody(5, 1, 3, code)), 1);
        EXPECT_EQ(run->pcm.samples, Reference(5, std::vector<float>(12, expected[code]))) << code;
    }
    // Allocation 14 (15-bit codes) at scale 0.5: the top code is just below full scale.
    auto run = DecodeBytes(OneFrame(Layer1(3), MonoBody(0, 14, 6, 32766)), 1);
    EXPECT_EQ(run->pcm.samples, Reference(0, std::vector<float>(12, static_cast<float>(32766.0 / 32767.0 * 0.5))));
    // Scale-factor index 63 silences the subband.
    auto silent = DecodeBytes(OneFrame(Layer1(3), MonoBody(0, 4, 63, 31)), 1);
    for (int16_t s : silent->pcm.samples) EXPECT_EQ(s, 0);
}

TEST(Layer1Frame, AllocationCodeFifteenCountsAsNoAllocation) {
    // Subband 0 has the forbidden code 15; subband 1 carries 2-bit codes.
    // Subband 0 must read no scale factor and no samples, or subband 1's
    // fields would be read from the wrong place.
    BitWriter w;
    w.Put(15, 4);
    w.Put(1, 4);
    for (int sb = 2; sb < 32; ++sb) w.Put(0, 4);
    w.Put(3, 6);
    for (int slot = 0; slot < 12; ++slot) w.Put(2, 2);
    auto run = DecodeBytes(OneFrame(Layer1(3), w), 1);
    EXPECT_EQ(run->pcm.samples, Reference(1, std::vector<float>(12, 0.6666667f)));
}

TEST(Layer1Frame, JointStereoSharesCodesAboveTheBound) {
    // Mode extension 0: bound 4. Subbands 0-3 read two allocations, the
    // rest one. Subband 4: one allocation, left then right scale factor,
    // one code per slot for both channels.
    BitWriter w;
    for (int sb = 0; sb < 4; ++sb) w.Put(0, 8);
    w.Put(1, 4); // subband 4
    for (int sb = 5; sb < 32; ++sb) w.Put(0, 4);
    w.Put(3, 6); // left 1.0
    w.Put(6, 6); // right 0.5
    for (int slot = 0; slot < 12; ++slot) w.Put(2, 2);
    auto run = DecodeBytes(OneFrame(Layer1(1, 0), w), 2);
    EXPECT_EQ(Channel(run->pcm, 0), Reference(4, std::vector<float>(12, 0.6666667f)));
    EXPECT_EQ(Channel(run->pcm, 1), Reference(4, std::vector<float>(12, 0.33333334f)));
}

TEST(Layer1Frame, ChannelChoices) {
    // Stereo subband 2: left code 2 at 1.0, right code 0 at 0.5.
    BitWriter w;
    for (int sb = 0; sb < 32; ++sb) w.Put(sb == 2 ? 0x11 : 0, 8);
    w.Put(3, 6);
    w.Put(6, 6);
    for (int slot = 0; slot < 12; ++slot) w.Put(0x8, 4); // left 2, right 0
    const auto bytes = OneFrame(Layer1(0), w);
    const float left = 0.6666667f, right = -0.33333334f;
    auto leftOnly = DecodeBytes(bytes, 1, ChannelChoice::Left);
    EXPECT_EQ(leftOnly->pcm.samples, Reference(2, std::vector<float>(12, left)));
    EXPECT_EQ(leftOnly->filter1.WriteSlot(), 15);
    auto rightOnly = DecodeBytes(bytes, 1, ChannelChoice::Right);
    EXPECT_EQ(rightOnly->pcm.samples, Reference(2, std::vector<float>(12, right)));
    auto mixed = DecodeBytes(bytes, 1, ChannelChoice::Mix);
    EXPECT_EQ(mixed->pcm.samples, Reference(2, std::vector<float>(12, (left + right) / 2)));
    EXPECT_EQ(mixed->filter1.WriteSlot(), 15);
    EXPECT_EQ(mixed->pcm.strayAppends, 0);

    // A single channel: "right only" has nothing to deliver, the mix is the channel itself.
    const auto mono = OneFrame(Layer1(3), MonoBody(2, 1, 3, 2));
    auto monoRight = DecodeBytes(mono, 1, ChannelChoice::Right);
    EXPECT_EQ(monoRight->pcm.written[0], 384u);
    for (int16_t s : monoRight->pcm.samples) EXPECT_EQ(s, 0);
    EXPECT_EQ(DecodeBytes(mono, 1, ChannelChoice::Mix)->pcm.samples, Reference(2, std::vector<float>(12, left)));
}

TEST(Layer1Frame, CrcMismatchDropsExactlyThatFrame) {
    FrameFields frame = Layer1(3);
    frame.protection = 0;
    const BitWriter fields = MonoBody(3, 1, 3, 2);
    // The check word covers the header's last 16 bits and the allocations.
    Crc16 crc;
    crc.AddBits(HeaderWord(frame), 16);
    for (int sb = 0; sb < 32; ++sb) crc.AddBits(sb == 3 ? 1 : 0, 4);
    const uint16_t good = crc.Checksum();

    auto frameWith = [&](uint16_t check) {
        BitWriter w;
        w.Put(check, 16);
        w.PutBytes(fields.Bytes());
        return OneFrame(frame, w);
    };
    std::vector<uint8_t> stream = frameWith(static_cast<uint16_t>(good ^ 0x0100));
    const auto second = frameWith(good);
    stream.insert(stream.end(), second.begin(), second.end());

    auto run = DecodeBytes(stream, 1);
    ASSERT_EQ(run->accepted, (std::vector<bool>{false, true}));
    EXPECT_EQ(run->pcm.frames, 1);
    // The good frame decodes as if it were alone: the dropped one left no trace.
    EXPECT_EQ(run->pcm.samples, DecodeBytes(second, 1)->pcm.samples);
    EXPECT_EQ(run->pcm.samples, Reference(3, std::vector<float>(12, 0.6666667f)));
}

namespace {

// A frame of random allocations (codes 0..10 and now and then the
// forbidden 15), scale factors and codes, for the given mode.
std::vector<uint8_t> RandomLayer1Frame(uint32_t seed, int mode, int modeExtension) {
    uint32_t state = seed * 2654435761u + 1;
    auto next = [&state](uint32_t below) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % below;
    };
    const int channels = mode == 3 ? 1 : 2;
    const int bound = mode == 3 ? 32 : mode == 1 ? 4 * modeExtension + 4 : 32;
    int alloc[2][32] = {};
    BitWriter w;
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch) {
            const uint32_t pick = next(12);
            alloc[ch][sb] = pick == 11 ? 15 : static_cast<int>(pick);
            w.Put(static_cast<uint32_t>(alloc[ch][sb]), 4);
        }
    for (int sb = bound; sb < 32; ++sb) alloc[1][sb] = alloc[0][sb];
    const auto carries = [](int a) { return a != 0 && a != 15; };
    for (int sb = 0; sb < 32; ++sb)
        for (int ch = 0; ch < channels; ++ch)
            if (carries(alloc[ch][sb])) w.Put(next(64), 6);
    for (int slot = 0; slot < 12; ++slot)
        for (int sb = 0; sb < 32; ++sb)
            for (int ch = 0; ch < (sb < bound ? channels : 1); ++ch)
                if (carries(alloc[ch][sb])) w.Put(next(1u << (alloc[ch][sb] + 1)), alloc[ch][sb] + 1);
    return OneFrame(Layer1(mode, modeExtension), w);
}

// The frame decoded one slot at a time through the subband decoders'
// common interface, each block synthesised as soon as it is complete.
std::unique_ptr<CaptureBuffer> DecodeSampleBySample(const std::vector<uint8_t>& bytes, int mode, int bound,
                                                    ChannelChoice choice, int channels) {
    OpenFrame frame(bytes);
    auto out = std::make_unique<CaptureBuffer>(channels);
    SynthFilter filter0(0, 32768.0f);
    SynthFilter filter1(1, 32768.0f);
    std::vector<std::unique_ptr<SubBand>> bands;
    for (int sb = 0; sb < 32; ++sb) {
        if (mode == 3) bands.push_back(std::make_unique<SubBand1Mono>(sb));
        else if (sb < bound) bands.push_back(std::make_unique<SubBand1Stereo>(sb));
        else bands.push_back(std::make_unique<SubBand1Intensity>(sb));
    }
    for (auto& band : bands) band->ParseAllocation(frame.stream, frame.header, nullptr);
    for (auto& band : bands) band->ParseScaleFactors(frame.stream, frame.header);
    for (int slot = 0; slot < 12; ++slot) {
        for (auto& band : bands) band->ParseSamples(frame.stream);
        for (auto& band : bands) band->EmitSample(choice, filter0, filter1);
        filter0.SynthesizeBlock(*out);
        if (choice == ChannelChoice::Both && mode != 3) filter1.SynthesizeBlock(*out);
    }
    return out;
}

} // namespace

// The frame decoder reads a Layer I frame's codes all at once and
// requantises them a subband at a time; every mode, bound and channel
// choice must give exactly what the per-sample steps of the subband
// decoders give.
TEST(Layer1Frame, WholeFrameDecodingMatchesThePerSampleSteps) {
    struct Mode {
        int mode;
        int extension;
    };
    for (const Mode m : {Mode{0, 0}, Mode{1, 0}, Mode{1, 1}, Mode{1, 2}, Mode{1, 3}, Mode{2, 0}, Mode{3, 0}}) {
        const int bound = m.mode == 1 ? 4 * m.extension + 4 : 32;
        for (ChannelChoice choice : kEveryChoice) {
            const int channels = OutputChannels(static_cast<uint8_t>(m.mode), choice);
            for (uint32_t seed = 1; seed <= 3; ++seed) {
                SCOPED_TRACE(testing::Message() << "mode " << m.mode << " bound " << bound << " choice " << int(choice)
                                                << " seed " << seed);
                const auto bytes = RandomLayer1Frame(seed * 31 + static_cast<uint32_t>(m.mode * 4 + m.extension),
                                                     m.mode, m.extension);
                const auto whole = DecodeBytes(bytes, channels, choice);
                const auto steps = DecodeSampleBySample(bytes, m.mode, bound, choice, channels);
                ASSERT_EQ(whole->accepted, std::vector<bool>{true});
                for (int c = 0; c < channels; ++c) {
                    EXPECT_EQ(Channel(whole->pcm, c), Channel(*steps, c));
                    EXPECT_EQ(Channel(whole->pcm, c).size(), 384u);
                }
            }
        }
    }
}
