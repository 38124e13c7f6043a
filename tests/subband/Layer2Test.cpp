// Layer II: allocation widths and class tables, grouping, requantisation,
// scale-factor selection and the per-frame protocol on synthetic frames.
#include "SubBandTestSupport.h"

#include <gtest/gtest.h>

using namespace zumo;
using namespace zumo::test;

namespace {

// Opens the protected helpers of the mono kind.
struct Probe : SubBand2Mono {
    explicit Probe(int32_t sb = 0) : SubBand2Mono(sb) {}
    using SubBand2Mono::ReadTriple;
    using SubBand2Mono::Value;
};

Header MakeHeader(int version, int mode, int bitrateIndex) {
    Header h;
    h.version = static_cast<uint8_t>(version);
    h.layer = 2;
    h.mode = static_cast<uint8_t>(mode);
    h.bitrateIndex = bitrateIndex;
    return h;
}

std::vector<int> Widths(const Header& h) {
    std::vector<int> w;
    for (int sb = 0; sb < 32; ++sb) w.push_back(Probe(sb).AllocationWidth(h));
    return w;
}

int Levels(const QuantClass& q) {
    if (q.codeBits == 0) return 0;
    return q.groupTable ? q.groupTable->levels : (1 << q.codeBits) - 1;
}

FrameFields Layer2(int mode, int bitrateIndex = 8) {
    FrameFields s;
    s.layer = 2;
    s.bitrateIndex = bitrateIndex;
    s.sampleFrequency = 1; // 48 kHz: 27 subbands at the higher rates
    s.mode = mode;
    return s;
}

} // namespace

TEST(Layer2Tables, AllocationWidthsByRateModeAndVersion) {
    const auto wide = Widths(MakeHeader(1, 0, 10)); // stereo, r = 6
    for (int sb = 0; sb < 32; ++sb) EXPECT_EQ(wide[sb], sb <= 10 ? 4 : (sb <= 22 ? 3 : 2)) << sb;
    for (int index : {4, 6}) { // stereo, r = 1 and 2
        const auto low = Widths(MakeHeader(1, 0, index));
        for (int sb = 0; sb < 12; ++sb) EXPECT_EQ(low[sb], sb <= 1 ? 4 : 3) << index << " " << sb;
    }
    const auto monoLow = Widths(MakeHeader(1, 3, 2));
    EXPECT_EQ(monoLow[1], 4);
    EXPECT_EQ(monoLow[2], 3);
    const auto lsf = Widths(MakeHeader(0, 0, 10));
    for (int sb = 0; sb < 30; ++sb) EXPECT_EQ(lsf[sb], sb <= 3 ? 4 : (sb <= 10 ? 3 : 2)) << sb;
}

TEST(Layer2Tables, ClassSetsBySubbandAndRate) {
    const Header high = MakeHeader(1, 0, 10), low = MakeHeader(1, 3, 2), lsf = MakeHeader(0, 0, 10);
    auto levels = [](const Header& h, int sb, int code) { return Levels(Probe(sb).SelectQuantClass(h, code)); };
    EXPECT_EQ(levels(high, 0, 0), 0);
    EXPECT_EQ(levels(high, 0, 2), 7);
    EXPECT_EQ(levels(high, 2, 15), 65535);
    EXPECT_EQ(levels(high, 3, 14), 8191);
    EXPECT_EQ(levels(high, 10, 15), 65535);
    EXPECT_EQ(levels(high, 11, 7), 65535);
    EXPECT_EQ(levels(high, 22, 4), 9);
    EXPECT_EQ(levels(high, 23, 3), 65535);
    EXPECT_EQ(levels(low, 0, 3), 9);
    EXPECT_EQ(levels(low, 7, 15), 32767);
    // MPEG-2 lower sampling frequencies have tables of their own.
    EXPECT_EQ(levels(lsf, 0, 3), 7);
    EXPECT_EQ(levels(lsf, 3, 15), 16383);
    EXPECT_EQ(levels(lsf, 4, 3), 9);
    EXPECT_EQ(levels(lsf, 10, 7), 127);
    EXPECT_EQ(levels(lsf, 11, 3), 9);
    EXPECT_EQ(levels(lsf, 29, 2), 5);
    // The class figures are the standard's.
    const QuantClass q7 = Probe(0).SelectQuantClass(high, 2);
    EXPECT_EQ(q7.codeBits, 3);
    EXPECT_EQ(q7.stepFactor, 0.25f);
    EXPECT_FLOAT_EQ(q7.classC, 1.14285719f);
    EXPECT_EQ(q7.classD, 0.25f);
    const QuantClass q65535 = Probe(0).SelectQuantClass(high, 15);
    EXPECT_EQ(q65535.stepFactor, 3.05175781e-05f);
    EXPECT_FLOAT_EQ(q65535.classD, 3.05175818e-05f);
    const QuantClass q3 = Probe(0).SelectQuantClass(high, 1);
    EXPECT_EQ(q3.codeBits, 5);
    ASSERT_NE(q3.groupTable, nullptr);
    EXPECT_EQ(q3.groupTable->entries, 27);
}

TEST(Layer2Tables, GroupedCodewords) {
    auto entry = [](const GroupingTable& t, int v) {
        return std::vector<float>(t.values[v].begin(), t.values[v].end());
    };
    EXPECT_EQ(entry(grouping3, 0), std::vector<float>(3, -0.6666667f));
    EXPECT_EQ(entry(grouping3, 26), std::vector<float>(3, 0.6666667f));
    EXPECT_EQ(entry(grouping3, 13), std::vector<float>(3, 0.0f));
    EXPECT_EQ(entry(grouping3, 1), (std::vector<float>{0.0f, -0.6666667f, -0.6666667f}));
    EXPECT_EQ(entry(grouping5, 124), std::vector<float>(3, 0.8f));
    EXPECT_EQ(entry(grouping9, 728), std::vector<float>(3, 0.8888889f));
    EXPECT_EQ(grouping5.entries, 125);
    EXPECT_EQ(grouping9.entries, 729);
}

TEST(Layer2Tables, UngroupedCodesRequantise) {
    const Header high = MakeHeader(1, 0, 10);
    const QuantClass q7 = Probe(0).SelectQuantClass(high, 2);
    auto value = [](const QuantClass& q, uint32_t code) {
        float out[3];
        SubBand2Mono::ReadGroup(
            q, [&](int) { return code; }, out);
        return out[0];
    };
    EXPECT_FLOAT_EQ(value(q7, 0), -0.85714293f);
    EXPECT_EQ(value(q7, 3), 0.0f);
    EXPECT_FLOAT_EQ(value(q7, 6), 0.85714293f);
    EXPECT_FLOAT_EQ(value(q7, 7), 1.1428572f);
    const QuantClass q16 = Probe(0).SelectQuantClass(high, 15);
    EXPECT_FLOAT_EQ(value(q16, 0), -0.99998474f);
    EXPECT_NEAR(value(q16, 32767), 3.6e-12f, 1e-12f);
    EXPECT_NE(value(q16, 32767), 0.0f);
    EXPECT_FLOAT_EQ(value(q16, 65534), 0.99998474f);
}

TEST(Layer2Tables, CodewordsBeyondTheTableAreSilence) {
    const Header high = MakeHeader(1, 0, 10);
    BitWriter w;
    w.Put(31, 5); // 3 levels: 27..31 are unused
    w.Put(27, 5);
    w.Put(127, 7);   // 5 levels: 125..127
    w.Put(1023, 10); // 9 levels: 729..1023
    w.Put(26, 5);
    OpenFrame f(OneFrame(Layer2(0), w));
    ASSERT_TRUE(f.ok);
    float out[3] = {1, 1, 1};
    const QuantClass q3 = Probe(0).SelectQuantClass(high, 1);
    const QuantClass q5 = Probe(3).SelectQuantClass(high, 2);
    const QuantClass q9 = Probe(3).SelectQuantClass(high, 4);
    ASSERT_EQ(Levels(q9), 9);
    for (const QuantClass* q : {&q3, &q3, &q5, &q9}) {
        out[0] = out[1] = out[2] = 1.0f;
        Probe::ReadTriple(f.stream, *q, out);
        EXPECT_EQ(out[0], 0.0f);
        EXPECT_EQ(out[1], 0.0f);
        EXPECT_EQ(out[2], 0.0f);
    }
    Probe::ReadTriple(f.stream, q3, out); // the stream stays in step
    EXPECT_EQ(out[2], 0.6666667f);
}

TEST(Layer2Subbands, ScaleFactorSelection) {
    // Mono, subband 0 with allocation 1: scfsi 2 with index 3, then scfsi 1 with 0 and 6.
    BitWriter w;
    w.Put(1, 4);
    w.Put(2, 2);
    w.Put(3, 6);
    w.Put(1, 4);
    w.Put(1, 2);
    w.Put(0, 6);
    w.Put(6, 6);
    OpenFrame f(OneFrame(Layer2(3), w));
    ASSERT_TRUE(f.ok);
    SubBand2Mono a(0), b(0);
    for (SubBand2Mono* s : {&a, &b}) {
        s->ParseAllocation(f.stream, f.header, nullptr);
        s->ParseScfsi(f.stream, nullptr);
        s->ParseScaleFactors(f.stream, f.header);
    }
    EXPECT_EQ(std::vector<float>(a.Scale(), a.Scale() + 3), std::vector<float>(3, 1.0f));
    EXPECT_EQ(std::vector<float>(b.Scale(), b.Scale() + 3), (std::vector<float>{2.0f, 2.0f, 0.5f}));
    EXPECT_EQ(f.stream.WordIndex() * 32 + f.stream.BitIndex(), 4 + 2 + 6 + 4 + 2 + 12);
}

TEST(Layer2Subbands, IntensityReadsThreeThenTwoIndices) {
    BitWriter w;
    w.Put(1, 3);                           // shared allocation, 3 bits in subband 20
    w.Put(0, 2);                           // scfsi left: three indices
    w.Put(3, 2);                           // scfsi right: two
    w.Put(0, 6), w.Put(3, 6), w.Put(6, 6); // left 2.0, 1.0, 0.5
    w.Put(9, 6), w.Put(12, 6);             // right 0.25, 0.125 0.125
    OpenFrame f(OneFrame(Layer2(1), w));
    ASSERT_TRUE(f.ok);
    SubBand2Intensity s(20);
    s.ParseAllocation(f.stream, f.header, nullptr);
    s.ParseScfsi(f.stream, nullptr);
    s.ParseScaleFactors(f.stream, f.header);
    EXPECT_EQ(std::vector<float>(s.Scale(), s.Scale() + 3), (std::vector<float>{2.0f, 1.0f, 0.5f}));
    EXPECT_EQ(std::vector<float>(s.Scale2(), s.Scale2() + 3), (std::vector<float>{0.25f, 0.125f, 0.125f}));
    EXPECT_EQ(f.stream.WordIndex() * 32 + f.stream.BitIndex(), 3 + 4 + 30);
}

TEST(Layer2Frame, AllZeroAllocationsStillGiveThirtySixBlocks) {
    auto mono = DecodeBytes(OneFrame(Layer2(3), BitWriter{}), 2);
    EXPECT_EQ(mono->pcm.written[0], 1152u);
    EXPECT_EQ(mono->pcm.written[1], 0u);
    EXPECT_EQ(mono->filter1.WriteSlot(), 15);
    EXPECT_EQ(mono->pcm.frames, 1);
    auto stereo = DecodeBytes(OneFrame(Layer2(0), BitWriter{}), 2);
    EXPECT_EQ(stereo->pcm.written[0], 1152u);
    EXPECT_EQ(stereo->pcm.written[1], 1152u);
}

TEST(Layer2Frame, OnlyTheRightChannelAllocated) {
    // Stereo at r = 4: subband 0 left allocation 0, right allocation 1
    // (3 levels), scfsi 2 with scale index 3, every group codeword 26.
    BitWriter w;
    w.Put(0, 4);
    w.Put(1, 4);
    for (int sb = 1; sb < 27; ++sb) w.Put(0, sb <= 10 ? 8 : (sb <= 22 ? 6 : 4));
    w.Put(2, 2);
    w.Put(3, 6);
    for (int g = 0; g < 12; ++g) w.Put(26, 5);
    auto run = DecodeBytes(OneFrame(Layer2(0), w), 2);
    for (int16_t s : Channel(run->pcm, 0)) EXPECT_EQ(s, 0);
    EXPECT_EQ(Channel(run->pcm, 1), Reference(0, std::vector<float>(36, 0.6666667f)));
}

TEST(Layer2Frame, AboveTheBoundBothChannelsShareTheSamplesWithTheirOwnScaleFactors) {
    // Joint stereo, bound 4: subband 5 has one allocation (1: 3 levels),
    // scfsi 2 for each channel with left 2.0 and right 1.0, one shared
    // codeword 26 per group.
    BitWriter w;
    for (int sb = 0; sb < 4; ++sb) w.Put(0, 8);
    w.Put(0, 4);
    w.Put(1, 4);
    for (int sb = 6; sb < 27; ++sb) w.Put(0, sb <= 10 ? 4 : (sb <= 22 ? 3 : 2));
    w.Put(2, 2), w.Put(2, 2);
    w.Put(0, 6), w.Put(3, 6);
    for (int g = 0; g < 12; ++g) w.Put(26, 5);
    auto run = DecodeBytes(OneFrame(Layer2(1), w), 2);
    EXPECT_EQ(Channel(run->pcm, 0), Reference(5, std::vector<float>(36, 0.6666667f * 2.0f)));
    EXPECT_EQ(Channel(run->pcm, 1), Reference(5, std::vector<float>(36, 0.6666667f)));
}

TEST(Layer2Frame, ScalePartsFollowTheThirdsOfTheFrame) {
    // Mono, subband 1, 7 levels (allocation 2 in subbands 0-2), scfsi 0
    // with 2.0, 1.0, 0.5; every code 6 (0.85714293).
    BitWriter w;
    w.Put(0, 4);
    w.Put(2, 4);
    for (int sb = 2; sb < 27; ++sb) w.Put(0, sb <= 10 ? 4 : (sb <= 22 ? 3 : 2));
    w.Put(0, 2);
    w.Put(0, 6), w.Put(3, 6), w.Put(6, 6);
    for (int g = 0; g < 12; ++g) w.Put(0666, 9);
    auto run = DecodeBytes(OneFrame(Layer2(3), w), 1);
    std::vector<float> expected;
    for (float scale : {2.0f, 1.0f, 0.5f})
        for (int k = 0; k < 12; ++k) expected.push_back(0.85714293f * scale);
    EXPECT_EQ(run->pcm.samples, Reference(1, expected));
}

TEST(Layer2Frame, LayerOneThenLayerTwoFramesKeepTheirLengths) {
    FrameFields one;
    one.layer = 1;
    one.bitrateIndex = 12;
    one.sampleFrequency = 1;
    one.mode = 0;
    std::vector<uint8_t> stream;
    for (int i = 0; i < 3; ++i) AppendFrame(stream, one); // a run of three is believed
    AppendFrame(stream, Layer2(0));
    AppendFrame(stream, one);
    auto run = DecodeBytes(stream, 2);
    ASSERT_EQ(run->accepted.size(), 5u);
    EXPECT_EQ(run->pcm.frames, 5);
    EXPECT_EQ(run->pcm.written[0], 3 * 384u + 1152u + 384u);
    EXPECT_EQ(run->pcm.written[1], 3 * 384u + 1152u + 384u);
    EXPECT_EQ(run->pcm.strayAppends, 0);
}

TEST(Layer2Frame, CrcCoversAllocationsAndScfsi) {
    FrameFields frame = Layer2(3);
    frame.protection = 0;
    Crc16 crc;
    crc.AddBits(HeaderWord(frame), 16);
    crc.AddBits(1, 4); // subband 0: allocation 1
    for (int sb = 1; sb < 27; ++sb) crc.AddBits(0, sb <= 10 ? 4 : (sb <= 22 ? 3 : 2));
    crc.AddBits(2, 2); // its scfsi
    const uint16_t good = crc.Checksum();
    auto frameWith = [&](uint16_t check, int scfsi) {
        BitWriter w;
        w.Put(check, 16);
        w.Put(1, 4);
        for (int sb = 1; sb < 27; ++sb) w.Put(0, sb <= 10 ? 4 : (sb <= 22 ? 3 : 2));
        w.Put(scfsi, 2);
        w.Put(3, 6);
        for (int g = 0; g < 12; ++g) w.Put(26, 5);
        return OneFrame(frame, w);
    };
    EXPECT_EQ(DecodeBytes(frameWith(good, 2), 1)->accepted, std::vector<bool>{true});
    // The same check word no longer fits when only the scfsi changed.
    auto damaged = DecodeBytes(frameWith(good, 3), 1);
    EXPECT_EQ(damaged->accepted, std::vector<bool>{false});
    EXPECT_EQ(damaged->pcm.written[0], 0u);
    EXPECT_EQ(damaged->pcm.frames, 0);
}

namespace {

// The frame decoded one group at a time through the subband decoders'
// common interface, each block synthesised as soon as it is complete.
std::unique_ptr<CaptureBuffer> DecodeGroupByGroup(const std::vector<uint8_t>& bytes, ChannelChoice choice,
                                                  int channels) {
    OpenFrame frame(bytes);
    const Header& h = frame.header;
    auto out = std::make_unique<CaptureBuffer>(channels);
    SynthFilter filter0(0, 32768.0f);
    SynthFilter filter1(1, 32768.0f);
    const int count = h.version != 1 ? 30 : h.numberOfSubbands;
    const int bound = h.mode == 1 ? std::min(4 * h.modeExtension + 4, count) : count;
    std::vector<std::unique_ptr<SubBand2Mono>> bands;
    for (int sb = 0; sb < count; ++sb) {
        if (h.mode == 3) bands.push_back(std::make_unique<SubBand2Mono>(sb));
        else if (sb < bound) bands.push_back(std::make_unique<SubBand2Stereo>(sb));
        else bands.push_back(std::make_unique<SubBand2Intensity>(sb));
    }
    for (auto& band : bands) band->ParseAllocation(frame.stream, h, nullptr);
    for (auto& band : bands) band->ParseScfsi(frame.stream, nullptr);
    for (auto& band : bands) band->ParseScaleFactors(frame.stream, h);
    for (int group = 0; group < 12; ++group) {
        for (auto& band : bands) band->ParseSamples(frame.stream);
        for (int sample = 0; sample < 3; ++sample) {
            for (auto& band : bands) band->EmitSample(choice, filter0, filter1);
            filter0.SynthesizeBlock(*out);
            if (choice == ChannelChoice::Both && h.mode != 3) filter1.SynthesizeBlock(*out);
        }
    }
    return out;
}

} // namespace

// The frame decoder reads a Layer II frame's groups all at once and scales
// them a subband at a time; frames of arbitrary bits in every mode, bound,
// version and rate must give, for every channel choice, exactly what the
// per-sample steps of the subband decoders give.
TEST(Layer2Frame, WholeFrameDecodingMatchesThePerSampleSteps) {
    uint32_t seed = 2024;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int version : {1, 0})
        for (int mode = 0; mode < 4; ++mode)
            for (int trial = 0; trial < 4; ++trial) {
                FrameFields fields = Layer2(mode, 1 + static_cast<int>(next() % 14));
                fields.version = version;
                fields.modeExtension = trial;
                BitWriter w;
                for (int k = 0; k < FrameBodySize(fields); ++k) w.Put(next() & 0xFF, 8);
                const std::vector<uint8_t> bytes = OneFrame(fields, w);
                for (ChannelChoice choice : kEveryChoice) {
                    SCOPED_TRACE(testing::Message() << "version " << version << " mode " << mode << " trial " << trial
                                                    << " choice " << int(choice));
                    const int channels = OutputChannels(static_cast<uint8_t>(mode), choice);
                    const auto whole = DecodeBytes(bytes, channels, choice);
                    const auto steps = DecodeGroupByGroup(bytes, choice, channels);
                    ASSERT_EQ(whole->accepted, std::vector<bool>{true});
                    for (int c = 0; c < channels; ++c) {
                        EXPECT_EQ(Channel(whole->pcm, c), Channel(*steps, c));
                        EXPECT_EQ(Channel(whole->pcm, c).size(), 1152u);
                    }
                }
            }
}

TEST(SubBandFrame, RandomBodiesDecodeToWholeFrames) {
    // Arbitrary bits in every field: every frame still gives whole blocks,
    // whatever the layer, mode, rate and version.
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    for (int version : {1, 0})
        for (int layer : {1, 2})
            for (int mode = 0; mode < 4; ++mode) {
                std::vector<uint8_t> stream;
                size_t expected = 0;
                for (int i = 0; i < 6; ++i) {
                    FrameFields frame;
                    frame.version = version;
                    frame.layer = layer;
                    frame.mode = mode;
                    frame.modeExtension = static_cast<int>(next() & 3);
                    frame.bitrateIndex = 1 + static_cast<int>(next() % 14);
                    frame.sampleFrequency = 1;
                    BitWriter w;
                    for (int k = 0; k < FrameBodySize(frame); ++k) w.Put(next() & 0xFF, 8);
                    AppendFrame(stream, frame, w.Bytes());
                    expected += layer == 1 ? 384 : 1152;
                }
                // 4 is no choice at all: it counts as the left channel alone.
                for (uint8_t code = 0; code < 5; ++code) {
                    auto run = DecodeBytes(stream, 2, static_cast<ChannelChoice>(code));
                    EXPECT_EQ(run->pcm.written[0], expected) << version << layer << mode << int{code};
                    const bool two = mode != 3 && code == 0;
                    EXPECT_EQ(run->pcm.written[1], two ? expected : 0u) << version << layer << mode;
                }
            }
}
