#include "subband/SubBand2Mono.h"

#include "subband/ScaleFactorTable.h"

namespace zumo {

namespace {

// The bit-rate index per channel; 1 and 2 (32 and 48 kbit/s) select the
// low-rate tables. Results below 1 select neither.
int32_t RatePerChannel(const Header& header) {
    int32_t r = header.bitrateIndex;
    if (header.mode != 3) r = r == 4 ? 1 : r - 4;
    return r;
}

} // namespace

int32_t SubBand2Mono::AllocationWidth(const Header& header) const {
    if (header.version != 1) return subband <= 3 ? 4 : (subband <= 10 ? 3 : 2);
    const int32_t r = RatePerChannel(header);
    if (r == 1 || r == 2) return subband <= 1 ? 4 : 3;
    return subband <= 10 ? 4 : (subband <= 22 ? 3 : 2);
}

QuantClass SubBand2Mono::SelectQuantClass(const Header& header, int32_t code) const {
    const int32_t r = RatePerChannel(header);
    const AllocationSet& set = Layer2AllocationSet(header.version != 1, r == 1 || r == 2, subband);
    const int8_t index = set[static_cast<size_t>(code & 15)];
    if (index < 0) return QuantClass{};
    return layer2Classes[static_cast<size_t>(index)];
}

void SubBand2Mono::ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) {
    const int32_t width = AllocationWidth(header);
    allocation = static_cast<int32_t>(stream.GetBits(width));
    if (crc) crc->AddBits(static_cast<uint32_t>(allocation), width);
}

void SubBand2Mono::ParseScfsi(Bitstream& stream, Crc16* crc) {
    if (allocation == 0) return;
    scfsi = static_cast<int32_t>(stream.GetBits(2));
    if (crc) crc->AddBits(static_cast<uint32_t>(scfsi), 2);
}

void SubBand2Mono::ReadScales(Bitstream& stream, int32_t selection, float* out) {
    switch (selection & 3) {
    case 0:
        out[0] = ScaleFactor(stream.GetBits(6));
        out[1] = ScaleFactor(stream.GetBits(6));
        out[2] = ScaleFactor(stream.GetBits(6));
        break;
    case 1:
        out[0] = out[1] = ScaleFactor(stream.GetBits(6));
        out[2] = ScaleFactor(stream.GetBits(6));
        break;
    case 2: out[0] = out[1] = out[2] = ScaleFactor(stream.GetBits(6)); break;
    default:
        out[0] = ScaleFactor(stream.GetBits(6));
        out[1] = out[2] = ScaleFactor(stream.GetBits(6));
        break;
    }
}

void SubBand2Mono::ParseScaleFactors(Bitstream& stream, const Header& header) {
    if (allocation == 0) return;
    ReadScales(stream, scfsi, scale);
    quant = SelectQuantClass(header, allocation);
}

} // namespace zumo
