#pragma once

namespace zumo::kernels {

// 1.5 * 2^23: added to a float of magnitude at most 2^22 and taken away
// again, it leaves no fraction bits, so the sum is rounded to an integer,
// ties to even, by the addition itself. The conversions to 16-bit PCM round
// with it, one value at a time (ToPcm16) and on vectors (Pcm16.h).
inline constexpr float kRoundToInteger = 12582912.0f;

} // namespace zumo::kernels
