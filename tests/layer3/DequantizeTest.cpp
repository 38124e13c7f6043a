// Dequantisation: gain, scale factors, preflag, sub-block gain, large
// values, the band walk of short and mixed blocks, and the bands of
// MPEG-2.5.
#include "Layer3Fixture.h"
#include "Layer3FrameBuilder.h"

#include "layer3/BandTable.h"
#include "layer3/Layer3Tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

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
    EXPECT_EQ(t.Line(begin), 1.0f);                   // window 0
    EXPECT_FLOAT_EQ(t.Line(begin + width), 0.25f);    // window 1: sub-block gain 1 divides by 4
    EXPECT_FLOAT_EQ(t.Line(begin + 2 * width), 0.5f); // window 2: factor 2
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

namespace {

// A mono MPEG-2 frame whose header the test then marks as MPEG-2.5 (the
// decoder takes the version, the rate index and the MPEG-2.5 flag from the
// header). Every line is quantised to +1 or -1; scale factors per band are
// 4, 4, 3 and 3 bits wide (scalefac_compress 399).
struct Mpeg25Frame {
    int rateIndex = 0;
    bool shortBlock = false;

    static int Sign(int line) { return line % 3 == 0 ? -1 : 1; }
    static int LongFactor(int band) { return (band * 5 + 1) % 8; }
    static int ShortFactor(int band, int window) { return (band * 3 + window) % 8; }

    std::vector<uint8_t> Bytes() const {
        test::BitWriter main;
        const int slen[4] = {4, 4, 3, 3};
        GranuleInfo g;
        g.global_gain = 210;
        g.scalefac_compress = 399;
        if (!shortBlock) {
            const int counts[4] = {6, 5, 5, 5};
            for (int part = 0, band = 0; part < 4; ++part)
                for (int n = 0; n < counts[part]; ++n, ++band) main.Put(LongFactor(band), slen[part]);
            int values[576];
            for (int i = 0; i < 576; ++i) values[i] = Sign(i);
            test::PutQuadruples(main, values, 576);
            g.count1table_select = 1;
        } else {
            for (int part = 0, band = 0; part < 4; ++part, band += 3)
                for (int b = band; b < band + 3; ++b)
                    for (int w = 0; w < 3; ++w) main.Put(ShortFactor(b, w), slen[part]);
            // Big values only: pairs (1, 1), table 1 in the first region
            // (code 000), table 2 in the second (code 001), each with two
            // sign bits. The first region of a short block at 8 kHz ends at
            // line 72.
            for (int i = 0; i < 576; i += 2) {
                main.Put(i < 72 ? 0 : 1, 3);
                main.Put(Sign(i) < 0 ? 1 : 0, 1);
                main.Put(Sign(i + 1) < 0 ? 1 : 0, 1);
            }
            g.big_values = 288;
            g.window_switching_flag = 1;
            g.block_type = 2;
            g.table_select[0] = 1;
            g.table_select[1] = 2;
        }
        g.part2_3_length = static_cast<int>(main.BitCount());
        SideInfo si;
        si.ch[0].gr[0] = g;
        test::FrameFields fields;
        fields.version = 0;
        fields.sampleFrequency = rateIndex;
        fields.bitrateIndex = 9; // 80 kbit/s
        fields.mode = 3;
        std::vector<uint8_t> file;
        test::AppendLayer3Frame(file, fields, si, main);
        return file;
    }
};

} // namespace

// MPEG-2.5 frames decode as MPEG-2 ones with bands of their own: at 11.025
// and 12 kHz those of 16 kHz, at 8 kHz bands twice as wide (long and short),
// where the first Huffman region of a short block also ends later.
TEST(Dequantize, Mpeg25FramesUseTheirOwnBands) {
    const std::vector<int> bands16k = {0,   6,   12,  18,  24,  30,  36,  44,  54,  66,  80, 96,
                                       116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576};
    const std::vector<int> long8k = {0,   12,  24,  36,  48,  60,  72,  88,  108, 132, 160, 192,
                                     232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576};
    const std::vector<int> short8k = {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192};
    struct Case {
        int rateIndex;
        bool shortBlock;
        const std::vector<int>& edges;
    };
    for (const Case& c :
         {Case{0, false, bands16k}, Case{1, false, bands16k}, Case{2, false, long8k}, Case{2, true, short8k}}) {
        SCOPED_TRACE(testing::Message() << "rate index " << c.rateIndex << (c.shortBlock ? " short" : " long"));
        const Mpeg25Frame frame{c.rateIndex, c.shortBlock};
        test::FrameFile f(frame.Bytes(), 1);
        Crc16* crc = nullptr;
        ASSERT_TRUE(f.header.ReadHeader(f.stream, crc));
        f.header.mpeg25 = true;
        f.decoder = std::make_unique<Layer3Decoder>(f.stream, f.header, f.filter0, f.filter1, f.out,
                                                    ChannelChoice::Both);
        f.decoder->DecodeFrame();
        ASSERT_EQ(f.decoder->decodedFrames, 1);
        EXPECT_EQ(f.decoder->overrunGranules, 0);
        EXPECT_EQ(f.out.written[0], 576u);

        for (int j = 0; j < 576; ++j) {
            int e = 0;
            if (!c.shortBlock) {
                int band = 0;
                while (c.edges[band + 1] <= j) ++band;
                if (band < 21) e = Mpeg25Frame::LongFactor(band);
            } else {
                int band = 0;
                while (3 * c.edges[band + 1] <= j) ++band;
                const int width = c.edges[band + 1] - c.edges[band];
                if (band < 12) e = Mpeg25Frame::ShortFactor(band, (j - 3 * c.edges[band]) / width);
            }
            ASSERT_FLOAT_EQ(f.decoder->dequantSamples[0][j], Mpeg25Frame::Sign(j) * std::exp2(-0.5 * e)) << j;
        }
    }
}
