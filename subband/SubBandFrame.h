#pragma once

#include "output/OBuffer.h"
#include "stream/Bitstream.h"
#include "stream/Crc16.h"
#include "stream/Header.h"
#include "synth/SynthFilter.h"

#include <cstdint>

namespace zumo {

// Decodes one Layer I or Layer II frame: reads the allocations and scale
// factors of every subband, checks the frame's CRC when it is protected,
// then feeds the subband samples of every time slot to the synthesis
// filters and ends the frame on the output buffer. The per-subband decoders
// live for one frame, in storage this object owns, so decoding a frame
// allocates nothing.
class SubBandFrame {
public:
    void Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0, SynthFilter& filter1,
                OBuffer& output, uint8_t channelChoice);
};

} // namespace zumo
