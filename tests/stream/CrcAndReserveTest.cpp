// CRC-16 of protected frames and the Layer III bit reservoir.
#include "stream/BitReserve.h"
#include "stream/Crc16.h"

#include <gtest/gtest.h>

#include <random>

using namespace zumo;

TEST(Crc16, KnownValueAndPresetAfterChecksum) {
    Crc16 crc;
    for (char c : std::string("abc")) crc.AddBits(static_cast<uint8_t>(c), 8);
    EXPECT_EQ(crc.Checksum(), 0x44D8);
    EXPECT_EQ(crc.Checksum(), 0xFFFF);
}

TEST(Crc16, BitGroupingDoesNotMatter) {
    Crc16 a, b;
    a.AddBits(0x616263, 24);
    for (int i = 23; i >= 0; --i) b.AddBits((0x616263 >> i) & 1, 1);
    EXPECT_EQ(a.Checksum(), 0x44D8);
    EXPECT_EQ(b.Checksum(), 0x44D8);
}

TEST(BitReserve, BitOrderAndCount) {
    BitReserve r;
    r.PutByte(0xA5);
    EXPECT_EQ(r.Get1Bit(), 1u);
    EXPECT_EQ(r.GetBits(3), 2u);
    EXPECT_EQ(r.totalBits, 4);
    EXPECT_EQ(r.GetBits(0), 0u);
    EXPECT_EQ(r.totalBits, 4);
}

TEST(BitReserve, ReadsAcrossBytes) {
    BitReserve r;
    r.PutByte(0xAB);
    r.PutByte(0xCD);
    EXPECT_EQ(r.GetBits(12), 0xABCu);
    EXPECT_EQ(r.BitsLeft(), 4);
    EXPECT_EQ(r.ReadByte(), 1);
}

TEST(BitReserve, RewindingAWholeByteReadsItAgain) {
    BitReserve r;
    r.PutByte(0x5A);
    r.PutByte(0x3C);
    EXPECT_EQ(r.GetBits(8), 0x5Au);
    EXPECT_EQ(r.ReadByte(), 0);
    EXPECT_EQ(r.BitsLeft(), 0);
    r.RewindBits(8);
    EXPECT_EQ(r.ReadByte(), -1);
    EXPECT_EQ(r.BitsLeft(), 0);
    EXPECT_EQ(r.GetBits(8), 0x5Au);
    EXPECT_EQ(r.GetBits(8), 0x3Cu);
    r.RewindBits(12);
    EXPECT_EQ(r.GetBits(12), 0xA3Cu);
}

TEST(BitReserve, RewindBytesAndWrap) {
    BitReserve r;
    for (int i = 0; i < 4097; ++i) r.PutByte(i == 4096 ? 0x77 : (i & 0xFF));
    EXPECT_EQ(r.WriteIndex(), 1);
    EXPECT_EQ(r.GetBits(8), 0x77u); // entry 0 was overwritten by the 4,097th byte
    r.GetBits(12);
    EXPECT_EQ(r.totalBits, 20);
    r.RewindBytes(2);
    EXPECT_EQ(r.totalBits, 4);
    // Reading far beyond 4,096 bytes wraps round the ring.
    BitReserve w;
    for (int i = 0; i < 4096; ++i) w.PutByte(i & 0xFF);
    for (int i = 0; i < 4096; ++i) ASSERT_EQ(w.GetBits(8), static_cast<uint32_t>(i & 0xFF));
    EXPECT_EQ(w.GetBits(8), 0u); // entry 0 again
}

TEST(BitReserve, LargeRewindIsArithmetic) {
    BitReserve r;
    r.PutByte(0xFF);
    r.GetBits(5);
    r.RewindBits(8 * 1000 + 5);
    EXPECT_EQ(r.totalBits, -8000);
    EXPECT_EQ(r.ReadByte(), -1001);
    EXPECT_EQ(r.BitsLeft(), 0);
}

TEST(BitReserve, CursorReadsWhatGetBitsReadsUpToTheLimit) {
    // Random bytes round the end of the ring, read in random steps through a
    // cursor and bit by bit from a copy; past the limit the cursor gives zeros.
    std::mt19937 rng(11);
    BitReserve r;
    for (int i = 0; i < 4096 + 300; ++i) r.PutByte(static_cast<int32_t>(rng() & 0xFF));
    for (int i = 0; i < 4000; ++i) r.GetBits(8);
    r.GetBits(3);
    for (int limitAfter : {5000, 1203, 40, 0}) {
        BitReserve copy = r;
        const int32_t limit = r.totalBits + limitAfter;
        BitReserve::Cursor cursor(r, limit);
        for (int step = 0; step < 400; ++step) {
            const int n = static_cast<int>(rng() % 33);
            const uint64_t peeked = cursor.Peek();
            for (int k = 0; k < n; ++k) {
                const bool inside = copy.totalBits < limit;
                const uint32_t bit = copy.GetBits(1);
                ASSERT_EQ(static_cast<uint32_t>((peeked << k) >> 63), inside ? bit : 0u)
                    << limitAfter << " " << step << " " << k;
            }
            cursor.Skip(n);
            ASSERT_EQ(cursor.TotalBits(), copy.totalBits);
        }
        r.SkipBits(cursor.Taken());
        EXPECT_EQ(r.totalBits, copy.totalBits);
        EXPECT_EQ(r.GetBits(13), copy.GetBits(13));
        r = copy;
    }
}
