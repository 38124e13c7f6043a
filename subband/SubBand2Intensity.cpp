#include "subband/SubBand2Intensity.h"

namespace zumo {

void SubBand2Intensity::ParseScfsi(Bitstream& stream, Crc16* crc) {
    if (allocation == 0) return;
    scfsi = static_cast<int32_t>(stream.GetBits(2));
    scfsi2 = static_cast<int32_t>(stream.GetBits(2));
    if (crc) {
        crc->AddBits(static_cast<uint32_t>(scfsi), 2);
        crc->AddBits(static_cast<uint32_t>(scfsi2), 2);
    }
}

void SubBand2Intensity::ParseScaleFactors(Bitstream& stream, const Header& header) {
    if (allocation == 0) return;
    SubBand2Mono::ParseScaleFactors(stream, header);
    ReadScales(stream, scfsi2, scale2);
}

} // namespace zumo
