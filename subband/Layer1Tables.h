#pragma once

#include <array>

namespace zumo {

// ISO/IEC 11172-3, 2.4.3.2.
// Layer I requantisation by allocation code a (1..14; entry 0 is unused):
// an (a + 1)-bit code v becomes v * layer1Factor[a] + layer1Offset[a],
// which is (2v + 2 - 2^n) / (2^n - 1) with n = a + 1.
extern const std::array<float, 15> layer1Factor;
extern const std::array<float, 15> layer1Offset;

} // namespace zumo
