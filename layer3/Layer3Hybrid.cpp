#include "layer3/Layer3Decoder.h"

namespace zumo {

void Layer3Decoder::Reorder(const float*, int, int) {}
void Layer3Decoder::Antialias(int, int) {}
void Layer3Decoder::Hybrid(int, int) {}
void Layer3Decoder::FrequencyInversion() {}
void Layer3Decoder::HandOff(SynthFilter&) {}
void Layer3Decoder::InvMdct(float*, float*, int) {}

} // namespace zumo
