#pragma once

#include <cstdint>

namespace zumo {

// Which channels of a two-channel stream the decoders deliver: Both, the
// left channel to the first synthesis filter (output channel 0) and the
// right to the second (channel 1); otherwise one output channel, fed by the
// first filter: the left channel, the right one, or their average (Mix).
enum class ChannelChoice : uint8_t { Both = 0, Left = 1, Right = 2, Mix = 3 };

// The channels of the output for frames of a channel mode (the header's
// mode, 3 for a single channel) and a choice.
inline int32_t OutputChannels(uint8_t mode, ChannelChoice choice) {
    return mode == 3 || choice != ChannelChoice::Both ? 1 : 2;
}

} // namespace zumo
