#pragma once

#include "subband/Layer2Tables.h"
#include "subband/SubBand.h"

namespace zumo {

// A Layer II subband of a single-channel frame; also the left channel of the
// two-channel kinds, which extend it. Ungrouping and requantisation:
// ISO/IEC 11172-3, 2.4.3.3.
class SubBand2Mono : public SubBand {
public:
    explicit SubBand2Mono(int32_t subband = 0) : SubBand(subband) {}

    void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) override;
    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool ParseSamples(Bitstream& stream) override;
    bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) override;

    // Bits of this subband's allocation field.
    virtual int32_t AllocationWidth(const Header& header) const;
    // The quantisation class of an allocation code in this subband.
    virtual QuantClass SelectQuantClass(const Header& header, int32_t code) const;
    // Reads the scale-factor selection of each allocated channel.
    virtual void ParseScfsi(Bitstream& stream, Crc16* crc);

    // Reads one group of three samples of a class and requantises them
    // (bits(n) gives the next n bits): a grouped class's codeword gives its
    // three values from the table; an ungrouped code c becomes
    // ((c * stepFactor - 1) + classD) * classC. The frame decoder reads a
    // whole frame's groups through it.
    template <typename Bits>
    static void ReadGroup(const QuantClass& quant, Bits&& bits, float* out);

    int32_t Allocation() const { return allocation; }
    const float* Scale() const { return scale; }
    // The class of the allocation, once the scale factors are read.
    const QuantClass& Quant() const { return quant; }

protected:
    // Reads one to three scale-factor indices by the selection pattern.
    static void ReadScales(Bitstream& stream, int32_t selection, float* out);
    // Reads one group of three samples of a class, requantised.
    static void ReadTriple(Bitstream& stream, const QuantClass& quant, float* out);
    // A requantised sample scaled, in double precision.
    static double Value(float sample, float factor) { return static_cast<double>(sample) * factor; }
    // The third of the frame the current group belongs to.
    int32_t Part() const { return groupCount <= 4 ? 0 : (groupCount <= 8 ? 1 : 2); }
    // Counts the group just read; true after the 12th of the frame.
    bool CountGroup();
    // Advances within the group; true once its three samples are out.
    bool NextPosition() { return ++tripleIndex >= 3; }
    int32_t Position() const { return tripleIndex < 3 ? tripleIndex : 2; }

    int32_t allocation = 0;
    int32_t scfsi = 0;
    float scale[3] = {0.0f, 0.0f, 0.0f};
    QuantClass quant;
    int32_t groupCount = 0;
    int32_t tripleIndex = 0;
    float triple[3] = {0.0f, 0.0f, 0.0f};
};

template <typename Bits>
inline void SubBand2Mono::ReadGroup(const QuantClass& q, Bits&& bits, float* out) {
    if (q.codeBits == 0) { // an allocation code without a class carries no samples
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    if (q.groupTable) {
        const uint32_t code = bits(q.codeBits);
        const GroupingTable& table = *q.groupTable;
        // Codewords past the table's levels^3 entries do not occur in valid
        // streams; they are read as silence.
        if (code >= static_cast<uint32_t>(table.entries)) {
            out[0] = out[1] = out[2] = 0.0f;
            return;
        }
        for (int i = 0; i < 3; ++i) out[i] = table.values[code][i];
        return;
    }
    for (int i = 0; i < 3; ++i) {
        const float s = static_cast<float>(bits(q.codeBits)) * q.stepFactor - 1.0f;
        out[i] = static_cast<float>((static_cast<double>(s) + q.classD) * q.classC);
    }
}

// The per-sample steps, one subband at a time through the common
// interface. The frame decoder reads and scales a whole frame at once
// (SubBandFrame::DecodeLayer2Groups), with the same arithmetic; the
// per-sample steps are the reference the tests hold it to (see SubBand).
inline void SubBand2Mono::ReadTriple(Bitstream& stream, const QuantClass& q, float* out) {
    ReadGroup(
        q, [&](int n) { return stream.GetBits(n); }, out);
}

inline bool SubBand2Mono::CountGroup() {
    tripleIndex = 0;
    return ++groupCount >= 12;
}

inline bool SubBand2Mono::ParseSamples(Bitstream& stream) {
    if (allocation != 0) ReadTriple(stream, quant, triple);
    return CountGroup();
}

inline bool SubBand2Mono::EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter&) {
    // A single channel has no right channel to choose: only "right only" silences it.
    if (allocation != 0 && choice != ChannelChoice::Right)
        filter0.SetSubbandSample(subband, static_cast<float>(Value(triple[Position()], scale[Part()])));
    return NextPosition();
}

} // namespace zumo
