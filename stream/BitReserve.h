#pragma once

#include "stream/ByteOrder.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace zumo {

// The bit reservoir that main_data_begin points into (ISO/IEC 11172-3, 2.4.2.7).
// The Layer III main-data ring: 4,096 byte entries with a write end and a
// bit-granular read end, plus a running count of bits read.
//
// Reads take whole words: the eight bytes from the read position are
// gathered at once and the wanted bits cut out of them. The first bytes of
// the ring are repeated past its end, so those eight bytes never wrap.
class BitReserve {
public:
    static constexpr int32_t kSize = 4096;

    void PutByte(int32_t value) {
        const auto byte = static_cast<uint8_t>(value);
        ring[writeIndex] = byte;
        if (writeIndex < kGuard) ring[kSize + writeIndex] = byte;
        writeIndex = (writeIndex + 1) & (kSize - 1);
    }

    uint32_t Get1Bit() { return GetBits(1); }

    // Reads n bits (0..32), first bit most significant.
    uint32_t GetBits(uint32_t n) {
        if (n == 0) return 0;
        const auto v = static_cast<uint32_t>(PeekBits() >> (64 - n));
        SkipBits(static_cast<int32_t>(n));
        return v;
    }

    // The bits from the read position on, first bit highest, without
    // moving: at least the top 57 of the 64 are ring bits, the rest zero.
    uint64_t PeekBits() const { return PeekAt(Position()); }

    // A read position of its own over the reservoir, for a run of reads
    // kept in local variables: it starts at the reservoir's read position
    // and reads bits at or past `limit` (in the totalBits count) as zeros.
    // It keeps the next bits in a word and looks at the ring again only
    // when fewer than 32 are left in it. Taken() bits later,
    // BitReserve::SkipBits(Taken()) catches up.
    class Cursor {
    public:
        Cursor(const BitReserve& reserve, int32_t limit)
            : reserve(reserve), start(reserve.Position()), startTotal(reserve.totalBits),
              avail(limit - reserve.totalBits) {}
        // The next bits, first bit highest; at least the top 48 are valid.
        uint64_t Peek() {
            if (held < 48) Refill();
            return word;
        }
        void Skip(int32_t n) {
            taken += n;
            if (n < held) {
                word <<= n;
                held -= n;
            } else {
                word = 0;
                held = 0;
            }
        }
        int32_t Taken() const { return taken; }
        // Where the reservoir's totalBits count would stand.
        int32_t TotalBits() const { return startTotal + taken; }

    private:
        void Refill() {
            word = reserve.PeekAt(start + taken);
            held = 57;
            const int32_t left = avail - taken;
            if (left < 64) word = left <= 0 ? 0 : word & ~(~uint64_t{0} >> left);
        }

        const BitReserve& reserve;
        int32_t start;
        int32_t startTotal;
        int32_t avail;
        int32_t taken = 0;
        uint64_t word = 0;
        int32_t held = 0; // valid bits at the top of word
    };

    // The bits from bit `position` of the ring on (see PeekBits).
    uint64_t PeekAt(int32_t position) const {
        uint64_t word;
        std::memcpy(&word, ring.data() + ((position >> 3) & (kSize - 1)), sizeof word);
        return FromBigEndian(word) << (position & 7);
    }

    // Moves the read position on by n bits (n >= 0), as reading them would.
    void SkipBits(int32_t n) {
        if (n == 0) return;
        totalBits += n;
        const int32_t end = Position() + n;
        // The byte holding the last bit read; bitsLeft counts its unread bits.
        readByte = (end - 1) >> 3;
        bitsLeft = 8 * readByte + 8 - end;
    }

    void RewindBits(int32_t n) {
        totalBits -= n;
        bitsLeft += n;
        // Whole bytes step back at once, so a large rewind costs no loop.
        readByte -= bitsLeft / 8;
        bitsLeft %= 8;
    }

    void RewindBytes(int32_t n) {
        totalBits -= 8 * n;
        readByte -= n;
    }

    int32_t totalBits = 0;
    int32_t WriteIndex() const { return writeIndex; }
    int32_t ReadByte() const { return readByte; }
    int32_t BitsLeft() const { return bitsLeft; }

private:
    static constexpr int32_t kGuard = 8;

    // Bit position of the next bit to read, counted from ring entry 0.
    int32_t Position() const { return 8 * readByte + 8 - bitsLeft; }

    std::array<uint8_t, kSize + kGuard> ring{};
    int32_t writeIndex = 0;
    int32_t readByte = 0;
    int32_t bitsLeft = 8;
};

} // namespace zumo
