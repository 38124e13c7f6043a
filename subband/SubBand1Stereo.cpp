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

bool SubBand1Stereo::ParseSamples(Bitstream& stream) {
    if (allocation != 0) sampleValue = stream.GetBitsFloat(sampleBits);
    if (allocation2 != 0) sampleValue2 = stream.GetBitsFloat(sampleBits2);
    return CountSample();
}

bool SubBand1Stereo::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) {
    const double left = allocation != 0 ? Requantise(sampleValue, factor, offset, scaleFactor) : 0.0;
    const double right = allocation2 != 0 ? Requantise(sampleValue2, factor2, offset2, scaleFactor2) : 0.0;
    DeliverPair(subband, choice, allocation != 0, left, allocation2 != 0, right, filter0, filter1);
    return true;
}

} // namespace zumo
