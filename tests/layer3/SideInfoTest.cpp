#include "Layer3FrameBuilder.h"

#include <gtest/gtest.h>

namespace zumo {
namespace {

using test::BitWriter;
using test::FrameFile;

GranuleInfo LongGranule(int part23) {
    GranuleInfo g;
    g.part2_3_length = part23;
    g.big_values = 100;
    g.global_gain = 171;
    g.scalefac_compress = 9;
    g.table_select[0] = 7;
    g.table_select[1] = 24;
    g.table_select[2] = 31;
    g.region0_count = 11;
    g.region1_count = 5;
    g.preflag = 1;
    g.scalefac_scale = 1;
    g.count1table_select = 1;
    return g;
}

void ExpectSame(const GranuleInfo& a, const GranuleInfo& b) {
    EXPECT_EQ(a.part2_3_length, b.part2_3_length);
    EXPECT_EQ(a.big_values, b.big_values);
    EXPECT_EQ(a.global_gain, b.global_gain);
    EXPECT_EQ(a.scalefac_compress, b.scalefac_compress);
    EXPECT_EQ(a.window_switching_flag, b.window_switching_flag);
    EXPECT_EQ(a.block_type, b.block_type);
    EXPECT_EQ(a.table_select[0], b.table_select[0]);
    EXPECT_EQ(a.table_select[1], b.table_select[1]);
    EXPECT_EQ(a.region0_count, b.region0_count);
    EXPECT_EQ(a.region1_count, b.region1_count);
    EXPECT_EQ(a.scalefac_scale, b.scalefac_scale);
    EXPECT_EQ(a.count1table_select, b.count1table_select);
}

TEST(SideInfo, Mpeg1StereoFieldsAndWindowSwitchingRegions) {
    SideInfo si;
    si.main_data_begin = 0;
    si.private_bits = 5;
    si.ch[0].scfsi[1] = si.ch[1].scfsi[3] = 1;
    si.ch[0].gr[0] = LongGranule(0);
    si.ch[1].gr[0] = LongGranule(0);
    si.ch[1].gr[0].table_select[2] = 4;
    GranuleInfo shortBlock = LongGranule(0);
    shortBlock.window_switching_flag = 1;
    shortBlock.block_type = 2;
    shortBlock.subblock_gain[0] = 7;
    shortBlock.subblock_gain[2] = 3;
    si.ch[0].gr[1] = shortBlock;
    GranuleInfo stop = shortBlock;
    stop.block_type = 3;
    stop.mixed_block_flag = 1;
    si.ch[1].gr[1] = stop;
    BitWriter bits;
    test::PutSideInfo(bits, si, true, 2);
    EXPECT_EQ(bits.BitCount(), 256u);

    std::vector<uint8_t> file;
    test::AppendFrame(file, test::FrameFields{}, bits.Bytes());
    FrameFile f(file, 2);
    ASSERT_TRUE(f.Next());
    const SideInfo& got = f.decoder->sideInfo;
    EXPECT_EQ(got.private_bits, 5);
    EXPECT_EQ(got.ch[0].scfsi[1], 1);
    EXPECT_EQ(got.ch[0].scfsi[0], 0);
    EXPECT_EQ(got.ch[1].scfsi[3], 1);
    ExpectSame(got.ch[0].gr[0], si.ch[0].gr[0]);
    ExpectSame(got.ch[1].gr[0], si.ch[1].gr[0]);
    EXPECT_EQ(got.ch[1].gr[0].table_select[2], 4);
    EXPECT_EQ(got.ch[0].gr[0].preflag, 1);
    EXPECT_EQ(got.ch[0].gr[1].subblock_gain[0], 7);
    EXPECT_EQ(got.ch[0].gr[1].subblock_gain[2], 3);
    EXPECT_EQ(got.ch[0].gr[1].region0_count, 8);
    EXPECT_EQ(got.ch[0].gr[1].region1_count, 12);
    EXPECT_EQ(got.ch[1].gr[1].block_type, 3);
    EXPECT_EQ(got.ch[1].gr[1].mixed_block_flag, 1);
    EXPECT_EQ(got.ch[1].gr[1].region0_count, 7);
    EXPECT_EQ(got.ch[1].gr[1].region1_count, 13);
    // An all-zero frame decodes to silence.
    EXPECT_EQ(f.out.frames, 1);
    EXPECT_EQ(f.out.written[0], 1152u);
    EXPECT_EQ(f.out.written[1], 1152u);
}

TEST(SideInfo, LsfMonoFieldWidths) {
    SideInfo si;
    si.main_data_begin = 0;
    si.private_bits = 1;
    si.ch[0].gr[0] = LongGranule(0);
    si.ch[0].gr[0].scalefac_compress = 500;
    BitWriter bits;
    test::PutSideInfo(bits, si, false, 1);
    EXPECT_EQ(bits.BitCount(), 72u);

    test::FrameFields frame;
    frame.version = 0;
    frame.mode = 3;
    frame.bitrateIndex = 8; // 64 kbit/s at 22.05 kHz
    std::vector<uint8_t> file;
    test::AppendFrame(file, frame, bits.Bytes());
    FrameFile f(file, 1);
    ASSERT_TRUE(f.Next());
    const SideInfo& got = f.decoder->sideInfo;
    EXPECT_EQ(got.private_bits, 1);
    ExpectSame(got.ch[0].gr[0], si.ch[0].gr[0]);
    // No preflag bit at LSF: the scale-factor reader sets it from sfc 500.
    EXPECT_EQ(got.ch[0].gr[0].preflag, 1);
    EXPECT_EQ(f.decoder->granuleCount, 1);
    EXPECT_EQ(f.out.written[0], 576u);
}

TEST(SideInfo, WindowSwitchingWithBlockTypeZeroAbandonsTheFrame) {
    SideInfo good;
    BitWriter goodBits;
    test::PutSideInfo(goodBits, good, true, 2);
    SideInfo bad;
    bad.ch[1].gr[0].window_switching_flag = 1;
    bad.ch[1].gr[0].block_type = 0;
    bad.ch[1].gr[0].part2_3_length = 77;
    BitWriter badBits;
    test::PutSideInfo(badBits, bad, true, 2);

    std::vector<uint8_t> file;
    test::AppendFrame(file, test::FrameFields{}, goodBits.Bytes());
    test::AppendFrame(file, test::FrameFields{}, badBits.Bytes());
    test::AppendFrame(file, test::FrameFields{}, goodBits.Bytes());
    FrameFile f(file, 2);
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.out.frames, 1);
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.out.frames, 1); // no samples, no WriteBuffer
    EXPECT_EQ(f.out.written[0], 1152u);
    EXPECT_EQ(f.decoder->skippedFrames, 1);
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.out.frames, 2); // the next frame decodes as usual
    EXPECT_EQ(f.decoder->decodedFrames, 2);

    // The abandoned frame's main data still lands in the reservoir byte for
    // byte, so that later frames whose main data begins in it read the
    // right bytes.
    std::vector<uint8_t> body = badBits.Bytes();
    const size_t sideBytes = body.size();
    for (int i = 0; i < 64; ++i) body.push_back(static_cast<uint8_t>(0xA0 + i));
    std::vector<uint8_t> pair;
    test::AppendFrame(pair, test::FrameFields{}, goodBits.Bytes());
    test::AppendFrame(pair, test::FrameFields{}, body);
    FrameFile g(pair, 2);
    ASSERT_TRUE(g.Next());
    const int32_t slots = g.header.nSlots;
    ASSERT_TRUE(g.Next());
    EXPECT_EQ(g.decoder->skippedFrames, 1);
    EXPECT_EQ(g.decoder->reservoir.WriteIndex(), 2 * slots);
    ASSERT_EQ(sideBytes, 32u);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(g.decoder->reservoir.PeekAt(8 * (slots + i)) >> 56, 0xA0u + i) << i;
}

// Which filter each channel reaches, for each channel choice.
TEST(SideInfo, ChannelChoiceSelectsChannelsAndFilters) {
    SideInfo si;
    BitWriter bits;
    test::PutSideInfo(bits, si, true, 2);
    std::vector<uint8_t> stereo;
    test::AppendFrame(stereo, test::FrameFields{}, bits.Bytes());
    struct Case {
        ChannelChoice choice;
        size_t left, right;
    };
    for (const Case c : {Case{ChannelChoice::Both, 1152, 1152}, Case{ChannelChoice::Left, 1152, 0},
                         Case{ChannelChoice::Right, 1152, 0}, Case{ChannelChoice::Mix, 1152, 0},
                         Case{static_cast<ChannelChoice>(200), 1152, 1152}}) {
        SCOPED_TRACE(int(c.choice));
        FrameFile f(stereo, 2, c.choice);
        ASSERT_TRUE(f.Next());
        EXPECT_EQ(f.out.written[0], c.left);
        EXPECT_EQ(f.out.written[1], c.right);
    }

    SideInfo mono;
    BitWriter monoBits;
    test::PutSideInfo(monoBits, mono, true, 1);
    test::FrameFields frame;
    frame.mode = 3;
    std::vector<uint8_t> file;
    test::AppendFrame(file, frame, monoBits.Bytes());
    FrameFile f(file, 2, ChannelChoice::Right);
    ASSERT_TRUE(f.Next());
    EXPECT_EQ(f.decoder->firstChannel, 0);
    EXPECT_EQ(f.decoder->lastChannel, 0);
    EXPECT_EQ(f.out.written[0], 1152u);
}

// Main data that begins before the first frame is skipped; after many
// frames the reservoir wraps at 4,096 bytes and decoding goes on.
TEST(SideInfo, ReservoirSkipsMissingMainDataAndWraps) {
    SideInfo early;
    early.main_data_begin = 300;
    BitWriter earlyBits;
    test::PutSideInfo(earlyBits, early, true, 2);
    SideInfo si;
    si.main_data_begin = 100;
    BitWriter bits;
    test::PutSideInfo(bits, si, true, 2);
    std::vector<uint8_t> file;
    test::AppendFrame(file, test::FrameFields{}, earlyBits.Bytes());
    for (int i = 0; i < 40; ++i) test::AppendFrame(file, test::FrameFields{}, bits.Bytes());
    FrameFile f(file, 2);
    while (f.Next()) ASSERT_LT(f.decoder->frameStart, 4096 + 4 * 381);
    EXPECT_EQ(f.decoder->skippedFrames, 1);
    EXPECT_EQ(f.decoder->decodedFrames, 40);
    EXPECT_EQ(f.out.frames, 40);
}

// A stereo MPEG-1 stream of eight frames whose every granule carries a
// signal in lines 0-63 (count1 quadruples of +1 and -1, table B). Each
// frame's main data lie at the end of the frame before (main_data_begin 64),
// so a reader left too far on in one frame would miss the next one's.
struct SharedMainData {
    static constexpr int kFrames = 8;
    static constexpr int kDamaged = 4;
    static constexpr int kMainBytes = 64;

    static GranuleInfo Signal() {
        GranuleInfo g;
        g.part2_3_length = 16 * 8;
        g.global_gain = 200;
        g.count1table_select = 1;
        return g;
    }
    static void PutSignal(BitWriter& main) {
        int values[64];
        for (int i = 0; i < 64; ++i) values[i] = i % 3 == 0 ? -1 : 1;
        test::PutQuadruples(main, values, 64);
    }

    // The damaged frame has the side information and main data given.
    static std::vector<uint8_t> Build(const SideInfo& damaged, const BitWriter& damagedMain) {
        SideInfo good;
        BitWriter goodMain;
        for (int gr = 0; gr < 2; ++gr)
            for (int ch = 0; ch < 2; ++ch) {
                good.ch[ch].gr[gr] = Signal();
                PutSignal(goodMain);
            }
        const int slots = test::FrameBodySize(test::FrameFields{}) - 32;
        std::vector<uint8_t> file;
        for (int n = 0; n < kFrames; ++n) {
            SideInfo si = n == kDamaged ? damaged : good;
            si.main_data_begin = n == 0 ? 0 : kMainBytes;
            std::vector<uint8_t> slot(static_cast<size_t>(slots), 0);
            if (n == 0) std::copy(goodMain.Bytes().begin(), goodMain.Bytes().end(), slot.begin());
            if (n + 1 < kFrames) {
                const BitWriter& next = n + 1 == kDamaged ? damagedMain : goodMain;
                std::copy(next.Bytes().begin(), next.Bytes().end(), slot.end() - kMainBytes);
            }
            BitWriter main;
            main.PutBytes(slot);
            test::AppendLayer3Frame(file, test::FrameFields{}, si, main);
        }
        return file;
    }
};

// Side information that no encoder writes is not decoded: the granule, and
// the granules after it in the frame, whose data begin where the damaged
// lengths say, play as silence. The stream then goes on exactly as after a
// frame of silence: same samples, no click, and the next frame's main data
// (which began inside the damaged frame) are found.
TEST(SideInfo, DamagedGranulesPlayAsSilence) {
    SideInfo silent;
    BitWriter nothing;
    FrameFile reference(SharedMainData::Build(silent, nothing), 2);
    while (reference.Next()) {
    }
    ASSERT_EQ(reference.out.frames, SharedMainData::kFrames);
    EXPECT_EQ(reference.decoder->silencedGranules, 0);

    BitWriter signal;
    for (int i = 0; i < 4; ++i) SharedMainData::PutSignal(signal);
    struct Case {
        const char* what;
        void (*damage)(GranuleInfo& g);
    };
    const Case cases[] = {
        {"big_values over 288",
         [](GranuleInfo& g) {
             g.big_values = 300;
             g.table_select[0] = g.table_select[1] = g.table_select[2] = 1;
         }},
        {"region counts past line 576",
         [](GranuleInfo& g) {
             g.big_values = 20;
             g.table_select[0] = g.table_select[1] = g.table_select[2] = 1;
             g.region0_count = 15;
             g.region1_count = 7;
         }},
        {"part2_3_length beyond the main data", [](GranuleInfo& g) { g.part2_3_length = 4000; }},
        {"scale factors longer than part2_3_length",
         [](GranuleInfo& g) {
             g.scalefac_compress = 15; // 11 x 4 + 10 x 3 bits
             g.part2_3_length = 40;
         }},
        {"count1 values past line 575", [](GranuleInfo& g) { g.big_values = 287; }},
        {"table 4 in a region with lines",
         [](GranuleInfo& g) {
             g.big_values = 10;
             g.table_select[0] = 4;
         }},
        {"big values running past part2_3_length",
         [](GranuleInfo& g) {
             g.big_values = 100;
             g.table_select[0] = g.table_select[1] = g.table_select[2] = 1;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SideInfo damaged;
        for (int gr = 0; gr < 2; ++gr)
            for (int ch = 0; ch < 2; ++ch) damaged.ch[ch].gr[gr] = SharedMainData::Signal();
        c.damage(damaged.ch[0].gr[0]);
        FrameFile f(SharedMainData::Build(damaged, signal), 2);
        while (f.Next()) {
        }
        EXPECT_EQ(f.decoder->silencedGranules, 4);
        ASSERT_EQ(f.out.frames, SharedMainData::kFrames);
        ASSERT_EQ(f.out.samples.size(), reference.out.samples.size());
        EXPECT_TRUE(f.out.samples == reference.out.samples);
    }
}

} // namespace
} // namespace zumo
