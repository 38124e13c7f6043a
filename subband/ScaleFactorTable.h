#pragma once

#include <array>
#include <cstdint>

namespace zumo {

// ISO/IEC 11172-3, Table B.1.
// The Layer I and II scale factors: entry i is 2^(1 - i/3) in single
// precision for i = 0..62; the index 63, which valid streams never use,
// gives 0.0 and silences the channel of the subband.
extern const std::array<float, 64> scaleFactorTable;

// Looks up a 6-bit scale-factor index from the stream (only its low 6 bits count).
inline float ScaleFactor(uint32_t index) { return scaleFactorTable[index & 63u]; }

} // namespace zumo
