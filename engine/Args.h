#pragma once

#include "output/ChannelChoice.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"

#include <cstdint>
#include <memory>

namespace zumo {

// What the player hands the decoding objects: the stream being decoded, the
// header of the frame read last and the choice of output channels.
struct Args {
    std::unique_ptr<Bitstream> stream;
    std::unique_ptr<Header> header;
    ChannelChoice channelChoice = ChannelChoice::Both;
};

} // namespace zumo
