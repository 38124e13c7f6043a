#include "layer3/Layer3Decoder.h"

namespace zumo {

void Layer3Decoder::ReadScaleFactors(int, int) {}
void Layer3Decoder::ReadLsfScaleFactors(int, int) {}

} // namespace zumo
