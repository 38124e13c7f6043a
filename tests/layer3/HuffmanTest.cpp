#include "layer3/HuffmanTables.h"
#include "support/BitWriter.h"
#include "Layer3Fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace zumo {
namespace {

using test::BitWriter;

void Fill(BitReserve& reservoir, const BitWriter& bits) {
    for (uint8_t b : bits.Bytes()) reservoir.PutByte(b);
}

// Table whose code words a table uses (17-23 share 16's, 25-31 share 24's).
int CodeSource(int table) {
    if (table >= 17 && table <= 23) return 16;
    if (table >= 25 && table <= 31) return 24;
    return table;
}

// Every code word of every table, written with an escape of all ones and a
// negative sign where the value has them, decodes back to its value and
// takes exactly its bits.
TEST(Huffman, EveryCodeWordOfEveryTableDecodesBack) {
    const HuffCodeTable* tables = HuffTables();
    int checked = 0;
    for (int t = 0; t < 34; ++t) {
        const HuffCodeTable& table = tables[t];
        EXPECT_EQ(std::string(table.name), std::to_string(t));
        const int source = CodeSource(t);
        BitWriter bits;
        struct Expect {
            int x, y, v, w;
            int32_t end;
        };
        std::vector<Expect> expected;
        for (size_t i = 0; i < huffCodeWordCount; ++i) {
            const HuffCodeWord& word = huffCodeWords[i];
            if (word.table != source) continue;
            bits.Put(word.code, word.length);
            Expect e{};
            if (table.count1) {
                int values[4] = {(word.y >> 3) & 1, (word.y >> 2) & 1, (word.y >> 1) & 1, word.y & 1};
                for (int& value : values)
                    if (value) {
                        bits.Put(1, 1);
                        value = -value;
                    }
                e = {values[2], values[3], values[0], values[1], 0};
            } else {
                int pair[2] = {word.x, word.y};
                const int lens[2] = {table.xLen, table.yLen};
                for (int k = 0; k < 2; ++k) {
                    if (table.linBits > 0 && pair[k] == lens[k] - 1) {
                        bits.Put((1u << table.linBits) - 1u, table.linBits);
                        pair[k] += (1 << table.linBits) - 1;
                    }
                    if (pair[k] != 0) {
                        bits.Put(1, 1);
                        pair[k] = -pair[k];
                    }
                }
                e = {pair[0], pair[1], 99, 99, 0};
            }
            e.end = static_cast<int32_t>(bits.BitCount());
            expected.push_back(e);
        }
        if (t == 0 || t == 4 || t == 14) {
            EXPECT_TRUE(expected.empty());
            continue;
        }
        ASSERT_FALSE(expected.empty()) << "table " << t;
        BitReserve reservoir;
        Fill(reservoir, bits);
        for (const Expect& e : expected) {
            int32_t x = -7, y = -7, v = 99, w = 99;
            ASSERT_EQ(HuffmanDecode(table, x, y, v, w, reservoir, 0x7FFFFFFF), 0) << "table " << t;
            ASSERT_EQ(x, e.x) << "table " << t;
            ASSERT_EQ(y, e.y) << "table " << t;
            ASSERT_EQ(v, e.v) << "table " << t;
            ASSERT_EQ(w, e.w) << "table " << t;
            ASSERT_EQ(reservoir.totalBits, e.end) << "table " << t;
            ++checked;
        }
    }
    // 1,410 code words, those of 16 and 24 used by eight tables each.
    EXPECT_EQ(checked, 1410 + 7 * 256 + 7 * 256);
    EXPECT_EQ(huffCodeWordCount, 1410u);
}

TEST(Huffman, EmptyTablesGiveZerosAndReadNothing) {
    for (int t : {0, 4, 14}) {
        BitReserve reservoir;
        reservoir.PutByte(0xFF);
        int32_t x = 5, y = 5, v = 5, w = 5;
        EXPECT_EQ(HuffmanDecode(HuffTables()[t], x, y, v, w, reservoir, 0x7FFFFFFF), 0);
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
        EXPECT_EQ(v, 5);
        EXPECT_EQ(reservoir.totalBits, 0);
    }
}

TEST(Huffman, EscapesAddLinBitsBeforeTheSign) {
    // Table 16 (linBits 1): the code word of (15, 15), then escape and sign bits.
    const HuffCodeWord* escape = nullptr;
    for (size_t i = 0; i < huffCodeWordCount; ++i)
        if (huffCodeWords[i].table == 16 && huffCodeWords[i].x == 15 && huffCodeWords[i].y == 15)
            escape = &huffCodeWords[i];
    ASSERT_NE(escape, nullptr);
    {
        BitWriter bits;
        bits.Put(escape->code, escape->length);
        bits.Put(1, 1); // x escape
        bits.Put(0, 1); // x positive
        bits.Put(0, 1); // y escape
        bits.Put(1, 1); // y negative
        BitReserve reservoir;
        Fill(reservoir, bits);
        int32_t x = 0, y = 0, v = 0, w = 0;
        HuffmanDecode(HuffTables()[16], x, y, v, w, reservoir, 0x7FFFFFFF);
        EXPECT_EQ(x, 16);
        EXPECT_EQ(y, -15);
        EXPECT_EQ(reservoir.totalBits, escape->length + 4);
    }
    {
        // Table 23 (linBits 13): the largest value, 15 + 8191.
        BitWriter bits;
        bits.Put(escape->code, escape->length);
        bits.Put(0x1FFF, 13);
        bits.Put(1, 1);
        bits.Put(0, 13);
        bits.Put(0, 1);
        BitReserve reservoir;
        Fill(reservoir, bits);
        int32_t x = 0, y = 0, v = 0, w = 0;
        HuffmanDecode(HuffTables()[23], x, y, v, w, reservoir, 0x7FFFFFFF);
        EXPECT_EQ(x, -8206);
        EXPECT_EQ(y, 15);
    }
}

TEST(Huffman, Count1TableBCodesEachBitInOneBit) {
    BitWriter bits;
    bits.Put(0xF, 4); // all-zero quadruple: four 1 bits, no signs
    bits.Put(0x0, 4); // all ones
    bits.Put(0xA, 4); // signs: v negative, w positive, x negative, y positive
    BitReserve reservoir;
    Fill(reservoir, bits);
    int32_t x = 9, y = 9, v = 9, w = 9;
    HuffmanDecode(HuffTables()[33], x, y, v, w, reservoir, 0x7FFFFFFF);
    EXPECT_EQ((std::vector<int32_t>{v, w, x, y}), (std::vector<int32_t>{0, 0, 0, 0}));
    EXPECT_EQ(reservoir.totalBits, 4);
    HuffmanDecode(HuffTables()[33], x, y, v, w, reservoir, 0x7FFFFFFF);
    EXPECT_EQ((std::vector<int32_t>{v, w, x, y}), (std::vector<int32_t>{-1, 1, -1, 1}));
    EXPECT_EQ(reservoir.totalBits, 12);
}

TEST(Huffman, CodeWithoutCodeWordReads32BitsAndKeepsTheOutputs) {
    // An incomplete code: "1" -> (1, 1), "01" -> (0, 1); "00..." is no code word.
    const HuffCodeWord words[] = {{1, 1, 1, 1, 0x1}, {1, 0, 1, 2, 0x1}};
    const std::vector<uint32_t> lookup = BuildHuffLookup(words, 2, 8);
    HuffCodeTable table;
    table.xLen = table.yLen = 2;
    table.lookup = lookup.data();
    table.rootBits = 2;
    BitReserve reservoir;
    for (int i = 0; i < 8; ++i) reservoir.PutByte(0);
    int32_t x = 0, y = 0, v = 0, w = 0;
    EXPECT_EQ(HuffmanDecode(table, x, y, v, w, reservoir, 0x7FFFFFFF), 1);
    EXPECT_EQ(x, 0);
    EXPECT_EQ(y, 0);
    EXPECT_EQ(reservoir.totalBits, 32);
}

TEST(Huffman, BitsBeyondTheLimitReadAsZero) {
    BitReserve reservoir;
    reservoir.PutByte(0xFF);
    reservoir.PutByte(0xFF);
    EXPECT_EQ(ReadMainBits(reservoir, 12, 8), 0xFFu);
    EXPECT_EQ(ReadMainBits(reservoir, 12, 8), 0xF0u);
    EXPECT_EQ(ReadMainBits(reservoir, 12, 1), 0u);
    EXPECT_EQ(reservoir.totalBits, 17);
}

// DecodeSamples over bytes written into the reservoir.
struct Samples : ::testing::Test {
    test::Layer3Fixture f{3, 1};
    Layer3Decoder& d = *f.decoder;
    GranuleInfo& g = f.Granule(0);

    void Load(BitWriter& bits) {
        bits.PadTo(bits.BitCount() / 8 + 4);
        Fill(d.reservoir, bits);
        d.part2Start = 0;
    }
};

TEST_F(Samples, EmptyGranuleGivesSilence) {
    BitWriter bits;
    Load(bits);
    for (int32_t& s : d.huffSamples) s = 3;
    g.big_values = 0;
    g.part2_3_length = 0;
    d.DecodeSamples(0, 0);
    EXPECT_EQ(d.nonZeroCount[0], 0);
    for (int32_t s : d.huffSamples) ASSERT_EQ(s, 0);
    EXPECT_EQ(d.reservoir.totalBits, 0);
}

TEST_F(Samples, RegionsPickTheirTablesAndEmptyTablesReadNoSigns) {
    // region0_count 0: region 1 starts at line 4 (44.1 kHz). Table 0 below,
    // table 1 above: lines 0-3 are zeros without bits, then "1" = (0, 0) and
    // "01" + sign = (1, 0).
    g.window_switching_flag = 0;
    g.region0_count = 0;
    g.region1_count = 0;
    g.table_select[0] = 0;
    g.table_select[1] = 1;
    g.table_select[2] = 1;
    g.big_values = 4;
    BitWriter bits;
    bits.Put(0b1, 1);
    bits.Put(0b01, 2);
    bits.Put(1, 1); // x negative
    g.part2_3_length = 4;
    g.count1table_select = 0;
    Load(bits);
    d.DecodeSamples(0, 0);
    EXPECT_EQ(d.huffSamples[4], 0);
    EXPECT_EQ(d.huffSamples[6], -1);
    EXPECT_EQ(d.huffSamples[7], 0);
    EXPECT_EQ(d.nonZeroCount[0], 8);
    EXPECT_EQ(d.reservoir.totalBits, 4);
}

TEST_F(Samples, Count1EndingExactlyAtTheEndKeepsItsValues) {
    g.big_values = 0;
    g.count1table_select = 1;
    BitWriter bits;
    bits.Put(0b0111, 4); // v = 1
    bits.Put(0, 1);      // positive
    g.part2_3_length = 5;
    Load(bits);
    d.DecodeSamples(0, 0);
    EXPECT_EQ(d.huffSamples[0], 1);
    EXPECT_EQ(d.nonZeroCount[0], 4);
    EXPECT_EQ(d.reservoir.totalBits, 5);
    EXPECT_EQ(d.overrunGranules, 0);
}

TEST_F(Samples, Count1CrossingTheEndIsDroppedAndRewound) {
    g.big_values = 0;
    g.count1table_select = 1;
    BitWriter bits;
    bits.Put(0b0111, 4);
    bits.Put(0, 1);
    bits.Put(0b0000, 4); // a quadruple of four ones, crossing the end
    g.part2_3_length = 7;
    Load(bits);
    d.DecodeSamples(0, 0);
    EXPECT_EQ(d.huffSamples[0], 1);
    EXPECT_EQ(d.huffSamples[4], 0);
    EXPECT_EQ(d.nonZeroCount[0], 4);
    EXPECT_EQ(d.reservoir.totalBits, 7);
}

TEST_F(Samples, StuffingIsSkipped) {
    g.big_values = 0;
    g.count1table_select = 1;
    BitWriter bits;
    bits.Put(0b1111, 4); // zeros; the rest of 600 bits is stuffing
    g.part2_3_length = 600;
    // Count1 goes on while bits are left: 150 quadruples of zeros fill the
    // spectrum, and the remaining bits are skipped.
    Load(bits);
    for (int i = 0; i < 80; ++i) d.reservoir.PutByte(0xFF);
    d.DecodeSamples(0, 0);
    EXPECT_EQ(d.nonZeroCount[0], 576);
    EXPECT_EQ(d.reservoir.totalBits, 600);
}

TEST_F(Samples, CorruptCountsGiveSilenceInsideTheMainData) {
    g.window_switching_flag = 0;
    g.region0_count = 15;
    g.region1_count = 7; // 15 + 7 + 2 = 24 bands: past the table
    g.big_values = 511;  // 1,022 lines
    g.table_select[0] = g.table_select[1] = g.table_select[2] = 15;
    g.part2_3_length = 4095;
    BitWriter bits;
    for (int i = 0; i < 40; ++i) bits.Put(0xA5, 8);
    Load(bits);
    for (int32_t& s : d.huffSamples) s = 3;
    d.mainDataLimit = 40 * 8; // main data put in so far
    EXPECT_FALSE(d.DecodeSamples(0, 0));
    EXPECT_EQ(d.nonZeroCount[0], 0);
    for (int32_t s : d.huffSamples) ASSERT_EQ(s, 0);
    EXPECT_EQ(d.reservoir.totalBits, 320);
    EXPECT_EQ(d.truncatedGranules, 1);
    EXPECT_EQ(d.silencedGranules, 1);
}

} // namespace
} // namespace zumo
