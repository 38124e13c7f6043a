#pragma once

#include "stream/Bitstream.h"
#include "stream/Crc16.h"
#include "output/ChannelChoice.h"
#include "stream/Header.h"
#include "synth/SynthFilter.h"

#include <cstdint>

namespace zumo {

// The decoder of one subband of a Layer I or Layer II frame. One object per
// subband lives for one frame; the frame decoder (SubBandFrame) calls each
// section operation on all objects in subband order, so that every object
// reads its own fields of each section of the frame body in turn: bit
// allocation, scale-factor selection (Layer II), scale factors, samples
// (ISO/IEC 11172-3, 2.4.1.5 and 2.4.1.6; their meaning 2.4.2.5 and 2.4.2.6).
class SubBand {
public:
    explicit SubBand(int32_t subband) : subband(subband) {}
    SubBand(const SubBand&) = default;
    SubBand& operator=(const SubBand&) = default;
    virtual ~SubBand() = default;

    // Reads this subband's allocation field(s); adds them to crc when given.
    virtual void ParseAllocation(Bitstream& stream, const Header& header, Crc16* crc) = 0;
    // Reads this subband's scale-factor field(s).
    virtual void ParseScaleFactors(Bitstream& stream, const Header& header) = 0;
    // Reads this subband's codes of the next time slot (Layer I) or group
    // (Layer II); true when that was the frame's last one.
    virtual bool ParseSamples(Bitstream& stream) = 0;
    // Hands the next dequantised, scaled sample of each channel to the
    // filters; true when nothing of the current slot or group is left.
    virtual bool EmitSample(ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1) = 0;
    // ParseSamples and EmitSample are the per-sample form of the decoding,
    // the reference the tests hold the frame decoder to. The frame decoder
    // does not call them: it reads a whole frame's samples at once
    // (SubBandFrame::DecodeLayer1Slots and DecodeLayer2Groups) with the same
    // arithmetic, and Layer1Frame and Layer2Frame,
    // WholeFrameDecodingMatchesThePerSampleSteps, check that both give
    // exactly the same samples. The other operations it calls, each
    // subband's directly by its kind.

    int32_t Subband() const { return subband; }

protected:
    int32_t subband;
};

// Delivers one subband's left and right values by the channel choice. A
// channel without samples passes has = false and delivers nothing; the mix
// averages the two channels (a silent channel counts as 0.0). Inline: it
// runs for every subband sample.
inline void DeliverPair(int32_t subband, ChannelChoice choice, bool hasLeft, double left, bool hasRight, double right,
                        SynthFilter& filter0, SynthFilter& filter1) {
    switch (choice) {
    case ChannelChoice::Both:
        if (hasLeft) filter0.SetSubbandSample(subband, static_cast<float>(left));
        if (hasRight) filter1.SetSubbandSample(subband, static_cast<float>(right));
        break;
    case ChannelChoice::Left:
        if (hasLeft) filter0.SetSubbandSample(subband, static_cast<float>(left));
        break;
    case ChannelChoice::Right:
        if (hasRight) filter0.SetSubbandSample(subband, static_cast<float>(right));
        break;
    default: // ChannelChoice::Mix
        if (hasLeft || hasRight) {
            const double sum = (hasLeft ? left : 0.0) + (hasRight ? right : 0.0);
            filter0.SetSubbandSample(subband, static_cast<float>(0.5 * sum));
        }
        break;
    }
}

} // namespace zumo
