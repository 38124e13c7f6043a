#pragma once

#include "output/OBuffer.h"
#include "stream/Bitstream.h"
#include "stream/Crc16.h"
#include "stream/Header.h"
#include "subband/FrameRows.h"
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
    // Returns false when the frame's CRC did not match: then nothing past
    // the allocations was read and nothing reached the filters or the output.
    bool Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0, SynthFilter& filter1,
                OBuffer& output, ChannelChoice channelChoice);

private:
    int32_t PrepareLayer1(const Header& header);
    int32_t PrepareLayer2(const Header& header);
    void DecodeLayer1Slots(Bitstream& stream, bool single, int32_t bound, ChannelChoice choice, SynthFilter& filter0,
                           SynthFilter& filter1, OBuffer& output);
    void DecodeLayer2Groups(Bitstream& stream, bool single, int32_t bound, int32_t count, ChannelChoice choice,
                            SynthFilter& filter0, SynthFilter& filter1, OBuffer& output);

    std::array<SubBand1Mono, kFrameSubbands> mono1;
    std::array<SubBand1Stereo, kFrameSubbands> stereo1;
    std::array<SubBand1Intensity, kFrameSubbands> intensity1;
    std::array<SubBand2Mono, kFrameSubbands> mono2;
    std::array<SubBand2Stereo, kFrameSubbands> stereo2;
    std::array<SubBand2Intensity, kFrameSubbands> intensity2;
    // A Layer I frame's codes, [channel * 32 + subband][slot]; a Layer II
    // frame's requantised samples, [channel * 32 + subband][sample], and a
    // row of silence; the blocks of each filter, [subband][slot or sample]
    // (12 a subband for Layer I, 36 for Layer II).
    alignas(16) std::array<int32_t, 2 * kFrameSubbands * 12> codes1{};
    alignas(64) std::array<float, 2 * kFrameSubbands * 36> values2{};
    alignas(64) std::array<float, 36> silence{};
    alignas(64) std::array<float, kFrameSubbands * 36> blocks0{};
    alignas(64) std::array<float, kFrameSubbands * 36> blocks1{};
};

} // namespace zumo
