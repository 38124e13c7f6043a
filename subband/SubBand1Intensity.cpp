#include "subband/SubBand1Intensity.h"

#include "subband/ScaleFactorTable.h"

namespace zumo {

void SubBand1Intensity::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation == 0) return;
    scaleFactor = ScaleFactor(stream.GetBits(6));
    scaleFactor2 = ScaleFactor(stream.GetBits(6));
}

bool SubBand1Intensity::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) {
    if (allocation == 0) return true;
    const double r = static_cast<double>(sampleValue) * factor + offset;
    DeliverPair(subband, choice, true, r * scaleFactor, true, r * scaleFactor2, filter0, filter1);
    return true;
}

} // namespace zumo
