#pragma once

#include "subband/SubBand1Mono.h"

namespace zumo {

// A Layer I subband with its own allocation, scale factor and codes for
// each channel (stereo, dual channel, and joint stereo below the bound).
class SubBand1Stereo : public SubBand1Mono {
public:
    explicit SubBand1Stereo(int32_t subband = 0) : SubBand1Mono(subband) {}

    void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) override;
    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool ParseSamples(Bitstream& stream) override;
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;

    int32_t Allocation2() const { return allocation2; }
    // The right channel's coding.
    SlotCoding Coding2() const { return Coding(allocation2, sampleBits2, factor2, offset2, scaleFactor2); }

protected:
    int32_t allocation2 = 0;
    float scaleFactor2 = 0.0f;
    int32_t sampleBits2 = 0;
    float sampleValue2 = 0.0f;
    float factor2 = 0.0f;
    float offset2 = 0.0f;
};

// Every step, here so that the frame decoder's direct calls inline them
// (ParseSamples and EmitSample are the per-sample reference, see SubBand).
inline void SubBand1Stereo::ParseAllocation(Bitstream& stream, const Header&, Crc16* crc) {
    allocation = ReadAllocation(stream, crc);
    allocation2 = ReadAllocation(stream, crc);
    if (allocation != 0) SetUp(allocation, sampleBits, factor, offset);
    if (allocation2 != 0) SetUp(allocation2, sampleBits2, factor2, offset2);
}

inline void SubBand1Stereo::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation != 0) scaleFactor = ScaleFactor(stream.GetBits(6));
    if (allocation2 != 0) scaleFactor2 = ScaleFactor(stream.GetBits(6));
}

inline bool SubBand1Stereo::ParseSamples(Bitstream& stream) {
    if (allocation != 0) sampleValue = stream.GetBitsFloat(sampleBits);
    if (allocation2 != 0) sampleValue2 = stream.GetBitsFloat(sampleBits2);
    return CountSample();
}

inline bool SubBand1Stereo::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) {
    const double left = allocation != 0 ? Requantise(sampleValue, factor, offset, scaleFactor) : 0.0;
    const double right = allocation2 != 0 ? Requantise(sampleValue2, factor2, offset2, scaleFactor2) : 0.0;
    DeliverPair(subband, choice, allocation != 0, left, allocation2 != 0, right, filter0, filter1);
    return true;
}

} // namespace zumo
