#pragma once

#include "output/OBuffer.h"

#include <cstdint>

namespace zumo {

// The 32-band polyphase synthesis filter of one channel: blocks of 32
// subband samples become 32 PCM samples appended to an output buffer.
class SynthFilter {
public:
    SynthFilter(int32_t channel, float scale);

    void SetSubbandSample(int32_t subband, float value) { subbandIn[subband] = value; }
    void SynthesizeBlock(OBuffer& out);

    // (interface sketch: the synthesis issue fills in the rest)
private:
    float subbandIn[32] = {};
    int32_t channel;
    float scale;
};

// Rounds to the nearest integer, ties to even, and saturates to 16 bits.
int16_t ToPcm16(float x);

} // namespace zumo
