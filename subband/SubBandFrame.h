#pragma once

#include "output/OBuffer.h"
#include "stream/Bitstream.h"
#include "stream/Crc16.h"
#include "stream/Header.h"
#include "subband/SubBand1Intensity.h"
#include "subband/SubBand1Mono.h"
#include "subband/SubBand1Stereo.h"
#include "subband/SubBand2Intensity.h"
#include "subband/SubBand2Mono.h"
#include "subband/SubBand2Stereo.h"
#include "synth/SynthFilter.h"

#include <array>
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
    static constexpr int32_t kMaxSubbands = 32;

    // Returns false when the frame's CRC did not match: then nothing past
    // the allocations was read and nothing reached the filters or the output.
    bool Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0, SynthFilter& filter1,
                OBuffer& output, uint8_t channelChoice);

private:
    int32_t PrepareLayer1(const Header& header);
    int32_t PrepareLayer2(const Header& header);

    std::array<SubBand1Mono, kMaxSubbands> mono1;
    std::array<SubBand1Stereo, kMaxSubbands> stereo1;
    std::array<SubBand1Intensity, kMaxSubbands> intensity1;
    std::array<SubBand2Mono, kMaxSubbands> mono2;
    std::array<SubBand2Stereo, kMaxSubbands> stereo2;
    std::array<SubBand2Intensity, kMaxSubbands> intensity2;
    // This frame's decoder of each subband, pointing into the arrays above.
    std::array<SubBand*, kMaxSubbands> bands{};
    std::array<SubBand2Mono*, kMaxSubbands> bands2{};
};

} // namespace zumo
