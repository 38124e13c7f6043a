#pragma once

#include <array>
#include <cstdint>

namespace zumo {

// The Layer III main-data ring: 4,096 byte entries with a write end and a
// bit-granular read end, plus a running count of bits read.
class BitReserve {
public:
    static constexpr int32_t kSize = 4096;

    void PutByte(int32_t value) {
        ring[writeIndex] = static_cast<uint32_t>(value);
        writeIndex = (writeIndex + 1) & (kSize - 1);
    }

    uint32_t Get1Bit() {
        totalBits += 1;
        if (bitsLeft == 0) {
            bitsLeft = 8;
            readByte += 1;
        }
        const uint32_t v = ring[readByte & (kSize - 1)] & Mask(bitsLeft);
        bitsLeft -= 1;
        return v >> bitsLeft;
    }

    uint32_t GetBits(uint32_t n) {
        totalBits += static_cast<int32_t>(n);
        if (n == 0) return 0;
        uint32_t result = 0;
        do {
            if (bitsLeft == 0) {
                bitsLeft = 8;
                readByte += 1;
            }
            const uint32_t k = n < static_cast<uint32_t>(bitsLeft) ? n : static_cast<uint32_t>(bitsLeft);
            uint32_t v = ring[readByte & (kSize - 1)] & Mask(bitsLeft);
            bitsLeft -= static_cast<int32_t>(k);
            v >>= bitsLeft;
            n -= k;
            result |= v << n;
        } while (n != 0);
        return result;
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
    static uint32_t Mask(int32_t bits) { return (1u << bits) - 1u; }

    std::array<uint32_t, kSize> ring{};
    int32_t writeIndex = 0;
    int32_t readByte = 0;
    int32_t bitsLeft = 8;
};

} // namespace zumo
