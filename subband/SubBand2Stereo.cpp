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

bool SubBand2Stereo::ParseSamples(Bitstream& stream) {
    if (allocation != 0) ReadTriple(stream, quant, triple);
    if (allocation2 != 0) ReadTriple(stream, quant2, triple2);
    return CountGroup();
}

bool SubBand2Stereo::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) {
    const int32_t i = Position();
    const int32_t p = Part();
    const double left = allocation != 0 ? Value(quant, triple[i], scale[p]) : 0.0;
    const double right = allocation2 != 0 ? Value(quant2, triple2[i], scale2[p]) : 0.0;
    DeliverPair(subband, choice, allocation != 0, left, allocation2 != 0, right, filter0, filter1);
    return NextPosition();
}

} // namespace zumo
