#include "subband/SubBand1Stereo.h"

#include "subband/ScaleFactorTable.h"

namespace zumo {

void SubBand1Stereo::ParseAllocation(Bitstream& stream, const Header&, Crc16* crc) {
    allocation = ReadAllocation(stream, crc);
    allocation2 = ReadAllocation(stream, crc);
    if (allocation != 0) SetUp(allocation, sampleBits, factor, offset);
    if (allocation2 != 0) SetUp(allocation2, sampleBits2, factor2, offset2);
}

void SubBand1Stereo::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation != 0) scaleFactor = ScaleFactor(stream.GetBits(6));
    if (allocation2 != 0) scaleFactor2 = ScaleFactor(stream.GetBits(6));
}

} // namespace zumo
