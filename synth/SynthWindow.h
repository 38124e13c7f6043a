#pragma once

namespace zumo {

// The 512 synthesis window taps, grouped by output sample:
// synthWindow[16 * j + m] is tap m (0..15) of output sample j (0..31).
extern const float synthWindow[512];

} // namespace zumo
