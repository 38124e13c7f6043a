#include "layer3/Layer3Decoder.h"

namespace zumo {

void Layer3Decoder::ProcessStereo(int) {}
void Layer3Decoder::ComputeLsfIntensityFactors(int32_t, int32_t, int32_t) {}

} // namespace zumo
