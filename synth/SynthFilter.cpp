#include "synth/SynthFilter.h"

// Placeholder until the filter is built: keeps the library linkable.
namespace zumo {

SynthFilter::SynthFilter(int32_t ch, float s) : channel(ch), scale(s) {}

void SynthFilter::SynthesizeBlock(OBuffer& out) {
    for (int j = 0; j < 32; ++j) out.Append(channel, 0);
    for (float& v : subbandIn) v = 0.0f;
}

int16_t ToPcm16(float) { return 0; }

} // namespace zumo
