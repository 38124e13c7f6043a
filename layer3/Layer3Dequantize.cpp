#include "layer3/Layer3Decoder.h"

namespace zumo {

void Layer3Decoder::Dequantize(int, int) {}

} // namespace zumo
