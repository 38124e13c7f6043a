#pragma once

#include "subband/SubBand2Mono.h"

namespace zumo {

// A Layer II subband with its own allocation, scale factors, class and
// samples for each channel (stereo, dual channel, joint stereo below the bound).
class SubBand2Stereo : public SubBand2Mono {
public:
    explicit SubBand2Stereo(int32_t subband = 0) : SubBand2Mono(subband) {}

    void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) override;
    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool ParseSamples(Bitstream& stream) override;
    bool EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) override;
    void ParseScfsi(Bitstream& stream, Crc16* crc) override;

    int32_t Allocation2() const { return allocation2; }
    const float* Scale2() const { return scale2; }

protected:
    int32_t allocation2 = 0;
    int32_t scfsi2 = 0;
    float scale2[3] = {0.0f, 0.0f, 0.0f};
    QuantClass quant2;
    float triple2[3] = {0.0f, 0.0f, 0.0f};
};

} // namespace zumo
