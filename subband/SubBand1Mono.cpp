#include "subband/SubBand1Mono.h"

#include "subband/Layer1Tables.h"
#include "subband/ScaleFactorTable.h"

namespace zumo {

int32_t SubBand1Mono::ReadAllocation(Bitstream& stream, Crc16* crc) {
    const auto code = static_cast<int32_t>(stream.GetBits(4));
    if (crc) crc->AddBits(static_cast<uint32_t>(code), 4);
    return code >= static_cast<int32_t>(layer1Factor.size()) ? 0 : code;
}

void SubBand1Mono::SetUp(int32_t code, int32_t& bits, float& f, float& o) {
    bits = code + 1;
    f = layer1Factor[static_cast<size_t>(code)];
    o = layer1Offset[static_cast<size_t>(code)];
}

void SubBand1Mono::ParseAllocation(Bitstream& stream, const Header&, Crc16* crc) {
    allocation = ReadAllocation(stream, crc);
    if (allocation != 0) SetUp(allocation, sampleBits, factor, offset);
}

void SubBand1Mono::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation != 0) scaleFactor = ScaleFactor(stream.GetBits(6));
}

bool SubBand1Mono::CountSample() {
    if (++sampleCount < 12) return false;
    sampleCount = 0;
    return true;
}

bool SubBand1Mono::ParseSamples(Bitstream& stream) {
    if (allocation != 0) sampleValue = stream.GetBitsFloat(sampleBits);
    return CountSample();
}

bool SubBand1Mono::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter&) {
    // A single channel has no right channel to choose: only "right only" silences it.
    if (allocation != 0 && choice != kChoiceRight)
        filter0.SetSubbandSample(subband, static_cast<float>(Requantise(sampleValue, factor, offset, scaleFactor)));
    return true;
}

} // namespace zumo
