#include "layer3/Layer3Decoder.h"

namespace zumo {

Layer3Decoder::Layer3Decoder(Bitstream& stream, Header& header, SynthFilter& filter0, SynthFilter& filter1,
                             OBuffer& output, uint8_t channelChoice)
    : stream(&stream), header(&header), filter0(&filter0), filter1(&filter1), output(&output),
      channelChoice(channelChoice) {}

// Layer III frames are skipped until the decoder's stages exist.
void Layer3Decoder::DecodeFrame() {}

bool Layer3Decoder::ReadSideInfo() { return false; }

} // namespace zumo
