#pragma once

#include "subband/SubBand1Mono.h"

namespace zumo {

// A Layer I joint-stereo subband at or above the bound: one allocation and
// one code per slot shared by both channels, each with its own scale factor.
class SubBand1Intensity : public SubBand1Mono {
public:
    explicit SubBand1Intensity(int32_t subband = 0) : SubBand1Mono(subband) {}

    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;

    // The right channel's coding: the left channel's code, with the right
    // channel's scale factor.
    SlotCoding Coding2() const { return Coding(allocation, sampleBits, factor, offset, scaleFactor2); }

protected:
    float scaleFactor2 = 0.0f;
};

// Every step, here so that the frame decoder's direct calls inline them
// (ParseSamples and EmitSample are the per-sample reference, see SubBand).
inline void SubBand1Intensity::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation == 0) return;
    scaleFactor = ScaleFactor(stream.GetBits(6));
    scaleFactor2 = ScaleFactor(stream.GetBits(6));
}

inline bool SubBand1Intensity::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) {
    if (allocation == 0) return true;
    const double r = static_cast<double>(sampleValue) * factor + offset;
    DeliverPair(subband, choice, true, r * scaleFactor, true, r * scaleFactor2, filter0, filter1);
    return true;
}

} // namespace zumo
