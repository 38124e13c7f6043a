#pragma once

#include "subband/SubBand2Mono.h"

namespace zumo {

// A Layer II joint-stereo subband at or above the bound: one allocation,
// class and set of samples shared by both channels, each channel with its
// own scale-factor selection and scale factors.
class SubBand2Intensity : public SubBand2Mono {
public:
    explicit SubBand2Intensity(int32_t subband = 0) : SubBand2Mono(subband) {}

    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;
    void ParseScfsi(Bitstream& stream, Crc16* crc) override;

    const float* Scale2() const { return scale2; }

protected:
    int32_t scfsi2 = 0;
    float scale2[3] = {0.0f, 0.0f, 0.0f};
};

// The per-sample steps (the frame decoder reads whole frames, see SubBand2Mono).
inline bool SubBand2Intensity::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) {
    if (allocation != 0) {
        const int32_t p = Part();
        const double s = Value(triple[Position()], 1.0f);
        // s is already rounded to single precision; each channel scales it once.
        DeliverPair(subband, choice, true, s * scale[p], true, s * scale2[p], filter0, filter1);
    }
    return NextPosition();
}

} // namespace zumo
