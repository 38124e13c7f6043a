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

bool SubBand2Intensity::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) {
    if (allocation != 0) {
        const int32_t p = Part();
        const double s = Value(quant, triple[Position()], 1.0f);
        // s is already rounded to single precision; each channel scales it once.
        DeliverPair(subband, choice, true, s * scale[p], true, s * scale2[p], filter0, filter1);
    }
    return NextPosition();
}

} // namespace zumo
