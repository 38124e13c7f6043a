#pragma once

#include "subband/Layer2Tables.h"
#include "subband/SubBand.h"

namespace zumo {

// A Layer II subband of a single-channel frame; also the left channel of the
// two-channel kinds, which extend it.
class SubBand2Mono : public SubBand {
public:
    explicit SubBand2Mono(int32_t subband = 0) : SubBand(subband) {}

    void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) override;
    void ParseScaleFactors(Bitstream& stream, const Header& header) override;
    bool ParseSamples(Bitstream& stream) override;
    bool EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter& filter1) override;

    // Bits of this subband's allocation field.
    virtual int32_t AllocationWidth(const Header& header) const;
    // The quantisation class of an allocation code in this subband.
    virtual QuantClass SelectQuantClass(const Header& header, int32_t code) const;
    // Reads the scale-factor selection of each allocated channel.
    virtual void ParseScfsi(Bitstream& stream, Crc16* crc);

    int32_t Allocation() const { return allocation; }
    const float* Scale() const { return scale; }
    // The class of the allocation, once the scale factors are read.
    const QuantClass& Quant() const { return quant; }

protected:
    // Reads one to three scale-factor indices by the selection pattern.
    static void ReadScales(Bitstream& stream, int32_t selection, float* out);
    // Reads one group of three samples of a class.
    static void ReadTriple(Bitstream& stream, const QuantClass& quant, float* out);
    // The sample at a position of a group, requantised and scaled (here so
    // that the per-sample calls of the stereo kinds inline it too).
    static double Value(const QuantClass& q, float sample, float factor) {
        float s = sample;
        if (!q.groupTable) s = static_cast<float>((static_cast<double>(s) + q.classD) * q.classC);
        return static_cast<double>(s) * factor;
    }
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

// The per-sample steps, here so that the frame decoder's direct calls inline them.
inline void SubBand2Mono::ReadTriple(Bitstream& stream, const QuantClass& q, float* out) {
    if (q.codeBits == 0) { // an allocation code without a class carries no samples
        out[0] = out[1] = out[2] = 0.0f;
        return;
    }
    if (q.groupTable) {
        const uint32_t code = stream.GetBits(q.codeBits);
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
    for (int i = 0; i < 3; ++i) out[i] = stream.GetBitsFloat(q.codeBits) * q.stepFactor - 1.0f;
}

inline bool SubBand2Mono::CountGroup() {
    tripleIndex = 0;
    return ++groupCount >= 12;
}

inline bool SubBand2Mono::ParseSamples(Bitstream& stream) {
    if (allocation != 0) ReadTriple(stream, quant, triple);
    return CountGroup();
}

inline bool SubBand2Mono::EmitSample(uint8_t choice, SynthFilter& filter0, SynthFilter&) {
    // A single channel has no right channel to choose: only "right only" silences it.
    if (allocation != 0 && choice != kChoiceRight)
        filter0.SetSubbandSample(subband, static_cast<float>(Value(quant, triple[Position()], scale[Part()])));
    return NextPosition();
}

} // namespace zumo
