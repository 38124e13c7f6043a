#include "subband/SubBandFrame.h"

namespace zumo {

// Layer I and II frames are skipped until their decoders exist.
void SubBandFrame::Decode(Bitstream&, Header&, Crc16*, SynthFilter&, SynthFilter&, OBuffer&, uint8_t) {}

} // namespace zumo
