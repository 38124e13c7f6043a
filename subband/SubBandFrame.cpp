#include "subband/SubBandFrame.h"

namespace zumo {

// Layer I and II frames end without audio until their decoders exist.
void SubBandFrame::Decode(Bitstream&, Header&, Crc16*, SynthFilter&, SynthFilter&, OBuffer& output, uint8_t) {
    output.WriteBuffer();
}

} // namespace zumo
