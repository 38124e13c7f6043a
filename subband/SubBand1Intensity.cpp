#include "subband/SubBand1Intensity.h"

#include "subband/ScaleFactorTable.h"

namespace zumo {

void SubBand1Intensity::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation == 0) return;
    scaleFactor = ScaleFactor(stream.GetBits(6));
    scaleFactor2 = ScaleFactor(stream.GetBits(6));
}

} // namespace zumo
