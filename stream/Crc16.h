#pragma once

#include <cstdint>

namespace zumo {

// The error-check word of protected MPEG audio frames (ISO/IEC 11172-3,
// 2.4.1.4 and 2.4.2.4, error_check): polynomial 0x8005,
// register preset to all ones, bits taken most significant first, no final
// inversion.
class Crc16 {
public:
    // Adds the low n bits (1..32) of value, from bit n - 1 down to bit 0.
    void AddBits(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            const uint32_t bit = (value >> i) & 1;
            const uint32_t top = (reg >> 15) & 1;
            reg = static_cast<uint16_t>((reg << 1) ^ ((top ^ bit) ? 0x8005 : 0));
        }
    }
    // Returns the register and presets it again for the next frame.
    uint16_t Checksum() {
        const uint16_t sum = reg;
        reg = 0xFFFF;
        return sum;
    }

private:
    uint16_t reg = 0xFFFF;
};

} // namespace zumo
