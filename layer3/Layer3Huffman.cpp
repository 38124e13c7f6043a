#include "layer3/Layer3Decoder.h"

namespace zumo {

void Layer3Decoder::DecodeSamples(int, int) {}

} // namespace zumo
