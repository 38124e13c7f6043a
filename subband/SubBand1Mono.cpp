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

} // namespace zumo
