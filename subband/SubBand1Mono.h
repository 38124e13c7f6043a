#pragma once

#include "subband/Layer1Tables.h"
#include "subband/ScaleFactorTable.h"
#include "subband/SubBand.h"

namespace zumo {

// A Layer I subband of a single-channel frame; also the left channel of the
// two-channel kinds, which extend it. Requantisation: ISO/IEC 11172-3,
// 2.4.3.2.
class SubBand1Mono : public SubBand {
public:
    explicit SubBand1Mono(int32_t subband = 0) : SubBand(subband) {}

    void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) override;
    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool ParseSamples(Bitstream& stream) override;
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;

    int32_t Allocation() const { return allocation; }
    float ScaleFactorValue() const { return scaleFactor; }

    // How one channel's code is read and requantised in every slot of the
    // frame: bits per code (0 when the channel carries nothing), the factor
    // and offset of the allocation, and the scale factor.
    struct SlotCoding {
        int32_t bits = 0;
        float factor = 0.0f;
        float offset = 0.0f;
        float scale = 0.0f;
    };
    SlotCoding Coding() const { return Coding(allocation, sampleBits, factor, offset, scaleFactor); }
    // The requantisation of a code (or of a vector of codes), scaled, in
    // double precision; the factors as doubles are exactly the floats. (Out
    // by reference: a vector return value would have a different calling
    // convention with and without AVX.)
    template <typename T>
    static void RequantiseInto(const T& value, double factor, double offset, double scale, T& out) {
        out = (value * factor + offset) * scale;
    }

protected:
    // Reads one 4-bit allocation field and adds it to crc. Code 15 is
    // forbidden in Layer I and has no requantisation entry: the channel
    // then carries nothing this frame, as with code 0.
    static int32_t ReadAllocation(Bitstream& stream, Crc16* crc);
    // Bits per code, factor and offset of an allocation code 1..14.
    static void SetUp(int32_t allocation, int32_t& bits, float& factor, float& offset);
    // The requantised code, scaled, at extended precision.
    static double Requantise(float value, float factor, float offset, float scale) {
        double out;
        RequantiseInto(static_cast<double>(value), factor, offset, scale, out);
        return out;
    }
    static SlotCoding Coding(int32_t alloc, int32_t bits, float f, float o, float scale) {
        return alloc != 0 ? SlotCoding{bits, f, o, scale} : SlotCoding{};
    }
    // Counts the slot just read; true after the 12th of the frame.
    bool CountSample();

    int32_t sampleCount = 0;
    int32_t allocation = 0;
    float scaleFactor = 0.0f;
    int32_t sampleBits = 0;
    float sampleValue = 0.0f;
    float factor = 0.0f;
    float offset = 0.0f;
};

// Every step, here so that the frame decoder's direct calls inline them
// (ParseSamples and EmitSample are the per-sample reference, see SubBand).
inline int32_t SubBand1Mono::ReadAllocation(Bitstream& stream, Crc16* crc) {
    const auto code = static_cast<int32_t>(stream.GetBits(4));
    if (crc) crc->AddBits(static_cast<uint32_t>(code), 4);
    return code >= static_cast<int32_t>(layer1Factor.size()) ? 0 : code;
}

inline void SubBand1Mono::SetUp(int32_t code, int32_t& bits, float& f, float& o) {
    bits = code + 1;
    f = layer1Factor[static_cast<size_t>(code)];
    o = layer1Offset[static_cast<size_t>(code)];
}

inline void SubBand1Mono::ParseAllocation(Bitstream& stream, const Header&, Crc16* crc) {
    allocation = ReadAllocation(stream, crc);
    if (allocation != 0) SetUp(allocation, sampleBits, factor, offset);
}

inline void SubBand1Mono::ParseScaleFactors(Bitstream& stream, const Header&) {
    if (allocation != 0) scaleFactor = ScaleFactor(stream.GetBits(6));
}

inline bool SubBand1Mono::CountSample() {
    if (++sampleCount < 12) return false;
    sampleCount = 0;
    return true;
}

inline bool SubBand1Mono::ParseSamples(Bitstream& stream) {
    if (allocation != 0) sampleValue = stream.GetBitsFloat(sampleBits);
    return CountSample();
}

inline bool SubBand1Mono::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter&) {
    // A single channel has no right channel to choose: only "right only" silences it.
    if (allocation != 0 && choice != ChannelChoice::Right)
        filter0.SetSubbandSample(subband, static_cast<float>(Requantise(sampleValue, factor, offset, scaleFactor)));
    return true;
}

} // namespace zumo
