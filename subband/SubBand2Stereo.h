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
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;
    void ParseScfsi(Bitstream& stream, Crc16* crc) override;

    int32_t Allocation2() const { return allocation2; }
    const float* Scale2() const { return scale2; }
    const QuantClass& Quant2() const { return quant2; }

protected:
    int32_t allocation2 = 0;
    int32_t scfsi2 = 0;
    float scale2[3] = {0.0f, 0.0f, 0.0f};
    QuantClass quant2;
    float triple2[3] = {0.0f, 0.0f, 0.0f};
};

// The per-sample steps (the frame decoder reads whole frames, see SubBand2Mono).
inline bool SubBand2Stereo::ParseSamples(Bitstream& stream) {
    if (allocation != 0) ReadTriple(stream, quant, triple);
    if (allocation2 != 0) ReadTriple(stream, quant2, triple2);
    return CountGroup();
}

inline bool SubBand2Stereo::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) {
    const int32_t i = Position();
    const int32_t p = Part();
    const double left = allocation != 0 ? Value(triple[i], scale[p]) : 0.0;
    const double right = allocation2 != 0 ? Value(triple2[i], scale2[p]) : 0.0;
    DeliverPair(subband, choice, allocation != 0, left, allocation2 != 0, right, filter0, filter1);
    return NextPosition();
}

} // namespace zumo
