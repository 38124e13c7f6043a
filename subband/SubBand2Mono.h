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

} // namespace zumo
