#include "support/BitWriter.h"
#include "Layer3Fixture.h"

#include <gtest/gtest.h>

namespace zumo {
namespace {

using test::BitWriter;

struct ScaleFactorReader : ::testing::Test {
    // Reservoir bytes: a counting pattern, so that every read has a value.
    void Load(test::Layer3Fixture& f, const BitWriter& bits) {
        for (uint8_t b : bits.Bytes()) f.decoder->reservoir.PutByte(b);
        for (int i = 0; i < 64; ++i) f.decoder->reservoir.PutByte(0);
    }
};

TEST_F(ScaleFactorReader, Mpeg1LongBlocksReuseGroupsWithScfsi) {
    test::Layer3Fixture f(3, 1);
    Layer3Decoder& d = *f.decoder;
    GranuleInfo& g0 = f.Granule(0, 0);
    GranuleInfo& g1 = f.Granule(0, 1);
    g0.scalefac_compress = g1.scalefac_compress = 15; // slen 4 and 3
    BitWriter bits;
    for (int band = 0; band < 11; ++band) bits.Put(band + 1, 4);
    for (int band = 11; band < 21; ++band) bits.Put(band % 8, 3);
    bits.Put(0b101, 3); // granule 1, group 3 only: first band
    Load(f, bits);
    d.ReadScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 11 * 4 + 10 * 3);
    EXPECT_EQ(d.scaleFactors[0].longFactors[0], 1);
    EXPECT_EQ(d.scaleFactors[0].longFactors[10], 11);
    EXPECT_EQ(d.scaleFactors[0].longFactors[20], 4);

    // Granule 1: scfsi 1 1 1 0 keeps groups 0-2 and reads group 3.
    d.sideInfo.ch[0].scfsi[0] = d.sideInfo.ch[0].scfsi[1] = d.sideInfo.ch[0].scfsi[2] = 1;
    d.sideInfo.ch[0].scfsi[3] = 0;
    d.ReadScaleFactors(0, 1);
    EXPECT_EQ(d.reservoir.totalBits, 11 * 4 + 10 * 3 + 5 * 3);
    EXPECT_EQ(d.scaleFactors[0].longFactors[10], 11);
    EXPECT_EQ(d.scaleFactors[0].longFactors[16], 5);
    EXPECT_EQ(d.scaleFactors[0].longFactors[21], 0);

    // All four bits set: nothing is read. In granule 0 they are ignored.
    const int32_t before = d.reservoir.totalBits;
    d.sideInfo.ch[0].scfsi[3] = 1;
    d.ReadScaleFactors(0, 1);
    EXPECT_EQ(d.reservoir.totalBits, before);
    d.ReadScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, before + 11 * 4 + 10 * 3);
}

TEST_F(ScaleFactorReader, Mpeg1CompressZeroReadsNothing) {
    test::Layer3Fixture f(3, 1);
    Layer3Decoder& d = *f.decoder;
    for (int32_t& v : d.scaleFactors[0].longFactors) v = 9;
    BitWriter bits;
    bits.Put(0xFF, 8);
    Load(f, bits);
    f.Granule(0).scalefac_compress = 0;
    d.ReadScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 0);
    for (int32_t v : d.scaleFactors[0].longFactors) EXPECT_EQ(v, 0);
}

TEST_F(ScaleFactorReader, Mpeg1ShortAndMixedBlocksIgnoreScfsi) {
    test::Layer3Fixture f(3, 1);
    Layer3Decoder& d = *f.decoder;
    GranuleInfo& g = f.Granule(0, 1);
    for (int32_t& bit : d.sideInfo.ch[0].scfsi) bit = 1;
    g.window_switching_flag = 1;
    g.block_type = 2;
    g.scalefac_compress = 7; // slen 1 and 3
    BitWriter bits;
    for (int i = 0; i < 18; ++i) bits.Put(1, 1);
    for (int i = 0; i < 18; ++i) bits.Put(6, 3);
    Load(f, bits);
    d.ReadScaleFactors(0, 1);
    EXPECT_EQ(d.reservoir.totalBits, 18 + 54);
    EXPECT_EQ(d.scaleFactors[0].shortFactors[2][5], 1);
    EXPECT_EQ(d.scaleFactors[0].shortFactors[0][6], 6);
    EXPECT_EQ(d.scaleFactors[0].shortFactors[1][12], 0);

    // Mixed: 8 long with slen1, short bands 3-5 with slen1, 6-11 with slen2.
    g.mixed_block_flag = 1;
    const int32_t start = d.reservoir.totalBits;
    d.ReadScaleFactors(0, 1);
    EXPECT_EQ(d.reservoir.totalBits - start, 8 + 9 + 54);
}

TEST_F(ScaleFactorReader, LsfCountsAndPreflag) {
    test::Layer3Fixture f(0, 1);
    Layer3Decoder& d = *f.decoder;
    GranuleInfo& g = f.Granule(0);
    BitWriter bits;
    for (int i = 0; i < 200; ++i) bits.Put(i & 1, 1);
    Load(f, bits);

    // sfc 101: widths 1 1 1 1. A long block reads 21 factors, a short one 36.
    g.scalefac_compress = 101;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 21);
    EXPECT_EQ(g.preflag, 0);
    EXPECT_EQ(d.scaleFactors[0].longFactors[1], 1);
    EXPECT_EQ(d.scaleFactors[0].longFactors[21], 0);
    g.window_switching_flag = 1;
    g.block_type = 2;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 21 + 36);

    // sfc 500-511 set preflag (widths t/3, t%3: 500 reads nothing).
    g.window_switching_flag = 0;
    g.block_type = 0;
    g.scalefac_compress = 500;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(g.preflag, 1);
    EXPECT_EQ(d.reservoir.totalBits, 57);
    g.scalefac_compress = 499;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(g.preflag, 0);
}

TEST_F(ScaleFactorReader, LsfIntensityRowsOnlyForTheRightChannel) {
    test::Layer3Fixture f(0, 2);
    Layer3Decoder& d = *f.decoder;
    f.header.mode = 1;
    f.header.modeExtension = 1;
    BitWriter bits;
    for (int i = 0; i < 100; ++i) bits.Put(0xFF, 8);
    Load(f, bits);
    // sfc 2 x 37 = isfc 37: widths 1, 0, 1 over 7, 7, 7 factors (row 3).
    f.Granule(1).scalefac_compress = 74;
    f.Granule(1).preflag = 1;
    d.ReadLsfScaleFactors(1, 0);
    EXPECT_EQ(d.reservoir.totalBits, 14);
    EXPECT_EQ(f.Granule(1).preflag, 0);
    EXPECT_EQ(d.scaleFactors[1].longFactors[6], 1);
    EXPECT_EQ(d.scaleFactors[1].longFactors[7], 0);
    EXPECT_EQ(d.scaleFactors[1].longFactors[14], 1);
    // The largest value of each band's width is its illegal position.
    EXPECT_EQ(d.scaleFactors[1].longIllegal[6], 1);
    EXPECT_EQ(d.scaleFactors[1].longIllegal[7], 0);
    EXPECT_EQ(d.scaleFactors[1].longIllegal[14], 1);
    // Channel 0 reads sfc 74 the usual way: widths 0, 4, 2, 2 over 6 5 5 5.
    f.Granule(0).scalefac_compress = 74;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 14 + 20 + 10 + 10);
    // Mode extension 2 (MS only): channel 1 is read as channel 0.
    f.header.modeExtension = 2;
    d.ReadLsfScaleFactors(1, 0);
    EXPECT_EQ(d.reservoir.totalBits, 14 + 40 + 40);
    // Outside joint stereo the mode extension bits mean nothing.
    f.header.mode = 0;
    f.header.modeExtension = 1;
    d.ReadLsfScaleFactors(1, 0);
    EXPECT_EQ(d.reservoir.totalBits, 14 + 40 + 40 + 40);
}

TEST_F(ScaleFactorReader, LsfIntensityWithoutWidthsGivesNoIntensity) {
    test::Layer3Fixture f(1, 2);
    Layer3Decoder& d = *f.decoder;
    f.header.mode = 1;
    f.header.modeExtension = 3;
    BitWriter bits;
    bits.Put(0xFF, 8);
    Load(f, bits);
    for (int sfc : {510, 511}) {
        f.Granule(1).scalefac_compress = sfc;
        d.ReadLsfScaleFactors(1, 0);
        EXPECT_EQ(d.reservoir.totalBits, 0);
        for (int band = 0; band < 21; ++band) EXPECT_EQ(d.scaleFactors[1].longFactors[band], 7);
    }
    f.Granule(1).window_switching_flag = 1;
    f.Granule(1).block_type = 2;
    d.ReadLsfScaleFactors(1, 0);
    EXPECT_EQ(d.scaleFactors[1].shortFactors[2][11], 7);
    EXPECT_EQ(d.scaleFactors[1].shortFactors[2][12], 0);
}

TEST_F(ScaleFactorReader, LsfMixedBlocksHaveSixLongBandsThenShortBandsFromThree) {
    test::Layer3Fixture f(0, 1);
    Layer3Decoder& d = *f.decoder;
    GranuleInfo& g = f.Granule(0);
    g.window_switching_flag = 1;
    g.block_type = 2;
    g.mixed_block_flag = 1;
    g.scalefac_compress = 10 * 16 + 0; // widths 2, 0, 0, 0 over 6 9 9 9
    BitWriter bits;
    for (int i = 0; i < 6; ++i) bits.Put(i, 2);
    Load(f, bits);
    for (int32_t& v : d.scaleFactors[0].longFactors) v = 9;
    d.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(d.reservoir.totalBits, 12);
    EXPECT_EQ(d.scaleFactors[0].longFactors[5], 1); // i & 3 of the sixth: 5 -> 01
    EXPECT_EQ(d.scaleFactors[0].longFactors[3], 3);
    EXPECT_EQ(d.scaleFactors[0].longFactors[6], 0);
    EXPECT_EQ(d.scaleFactors[0].longFactors[7], 0);

    // Widths 1 1 1 1 over 6 9 9 9: 6 long, then 27 short values.
    g.scalefac_compress = 101;
    BitWriter ones;
    for (int i = 0; i < 6; ++i) ones.Put(0, 1);
    for (int i = 0; i < 27; ++i) ones.Put(1, 1);
    test::Layer3Fixture f2(0, 1);
    Layer3Decoder& d2 = *f2.decoder;
    f2.Granule(0) = g;
    Load(f2, ones);
    d2.ReadLsfScaleFactors(0, 0);
    EXPECT_EQ(d2.reservoir.totalBits, 33);
    EXPECT_EQ(d2.scaleFactors[0].longFactors[5], 0);
    EXPECT_EQ(d2.scaleFactors[0].shortFactors[0][3], 1);
    EXPECT_EQ(d2.scaleFactors[0].shortFactors[2][11], 1);
}

} // namespace
} // namespace zumo
