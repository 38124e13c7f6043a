#pragma once

#include <cstddef> // CaptureBuffer.h uses size_t

#include "layer3/Layer3Decoder.h"
#include "stream/MemoryStream.h"
#include "support/CaptureBuffer.h"

#include <memory>
#include <vector>

namespace zumo::test {

// A decoder over an empty stream, for driving single stages: the tests set
// the header fields, the side information and the working arrays directly.
struct Layer3Fixture {
    explicit Layer3Fixture(int frequencyIndex = 3, int channels = 2, ChannelChoice choice = ChannelChoice::Both)
        : stream(std::make_unique<MemoryStream>(std::vector<uint8_t>{})), filter0(0, 32768.0f), filter1(1, 32768.0f),
          out(2) {
        header.version = frequencyIndex >= 3 ? 1 : 0;
        header.sampleFrequency = static_cast<uint8_t>(frequencyIndex % 3);
        header.mode = channels == 1 ? 3 : 0;
        decoder = std::make_unique<Layer3Decoder>(stream, header, filter0, filter1, out, choice);
        decoder->frequencyIndex = frequencyIndex;
        decoder->channelCount = channels;
        decoder->channelChoice = choice;
    }

    GranuleInfo& Granule(int ch, int gr = 0) { return decoder->sideInfo.ch[ch].gr[gr]; }

    Bitstream stream;
    Header header;
    SynthFilter filter0;
    SynthFilter filter1;
    CaptureBuffer out;
    std::unique_ptr<Layer3Decoder> decoder;
};

} // namespace zumo::test
