#include "subband/SubBand2Stereo.h"

namespace zumo {

void SubBand2Stereo::ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) {
    const int32_t width = AllocationWidth(header);
    allocation = static_cast<int32_t>(stream.GetBits(width));
    allocation2 = static_cast<int32_t>(stream.GetBits(width));
    if (crc) {
        crc->AddBits(static_cast<uint32_t>(allocation), width);
        crc->AddBits(static_cast<uint32_t>(allocation2), width);
    }
}

void SubBand2Stereo::ParseScfsi(Bitstream& stream, Crc16* crc) {
    SubBand2Mono::ParseScfsi(stream, crc);
    if (allocation2 == 0) return;
    scfsi2 = static_cast<int32_t>(stream.GetBits(2));
    if (crc) crc->AddBits(static_cast<uint32_t>(scfsi2), 2);
}

void SubBand2Stereo::ParseScaleFactors(Bitstream& stream, const Header& header) {
    SubBand2Mono::ParseScaleFactors(stream, header);
    if (allocation2 == 0) return;
    ReadScales(stream, scfsi2, scale2);
    quant2 = SelectQuantClass(header, allocation2);
}

} // namespace zumo
