#pragma once

#include "stream/Bitstream.h"
#include "stream/Header.h"

#include <cstdint>
#include <memory>

namespace zumo {

// Channel-choice codes shared by every decoder.
enum ChannelChoice : uint8_t {
    kBothChannels = 0,
    kLeftOnly = 1,
    kRightOnly = 2,
    kMixedDown = 3, // both channels averaged into one
};

// What the player hands the decoding objects: the stream being decoded, the
// header of the frame read last and the choice of output channels.
struct Args {
    std::unique_ptr<Bitstream> stream;
    std::unique_ptr<Header> header;
    uint8_t channelChoice = kBothChannels;
};

} // namespace zumo
