#include "subband/SubBandFrame.h"

#include <algorithm>

namespace zumo {

namespace {

constexpr uint8_t kSingleChannel = 3;
constexpr uint8_t kJointStereo = 1;

// First subband of a joint-stereo frame that shares one set of samples
// between the channels; the subband count for every other mode.
int32_t StereoBound(const Header& header, int32_t subbands) {
    if (header.mode != kJointStereo) return subbands;
    return std::clamp(header.modeExtension * 4 + 4, 0, subbands);
}

// The sample rounds of a frame. Each subband's decoder is called directly,
// by its kind (known per range of subbands), so that the per-sample steps
// inline; the order of the calls, and so of the bits read, is subband order
// as through the common interface.
struct Rounds {
    Bitstream& stream;
    SynthFilter& filter0;
    SynthFilter& filter1;
    OBuffer& output;
    uint8_t choice;
    bool single;
    int32_t bound;
    int32_t count;

    template <typename Mono, typename Stereo, typename Intensity>
    void Run(Mono* mono, Stereo* stereo, Intensity* intensity, int32_t emitsPerRound) {
        const bool bothFilters = choice == kChoiceBoth && !single;
        filter0.BeginQueue();
        if (bothFilters) filter1.BeginQueue();
        for (int32_t round = 0; round < 12; ++round) {
            if (single) {
                for (int32_t sb = 0; sb < count; ++sb) mono[sb].Mono::ParseSamples(stream);
            } else {
                for (int32_t sb = 0; sb < bound; ++sb) stereo[sb].Stereo::ParseSamples(stream);
                for (int32_t sb = bound; sb < count; ++sb) intensity[sb].Intensity::ParseSamples(stream);
            }
            for (int32_t e = 0; e < emitsPerRound; ++e) {
                if (single) {
                    for (int32_t sb = 0; sb < count; ++sb) mono[sb].Mono::EmitSample(choice, filter0, filter1);
                } else {
                    for (int32_t sb = 0; sb < bound; ++sb) stereo[sb].Stereo::EmitSample(choice, filter0, filter1);
                    for (int32_t sb = bound; sb < count; ++sb)
                        intensity[sb].Intensity::EmitSample(choice, filter0, filter1);
                }
                filter0.QueueBlock();
                if (bothFilters) filter1.QueueBlock();
            }
        }
        // The frame's blocks are synthesised together, channel by channel
        // (each channel has its own place in the output).
        filter0.SynthesizeQueued(output);
        if (bothFilters) filter1.SynthesizeQueued(output);
    }
};

} // namespace

int32_t SubBandFrame::PrepareLayer1(const Header& header) {
    const int32_t count = kMaxSubbands;
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel) {
            mono1[sb] = SubBand1Mono(sb);
            bands[sb] = &mono1[sb];
        } else if (sb < bound) {
            stereo1[sb] = SubBand1Stereo(sb);
            bands[sb] = &stereo1[sb];
        } else {
            intensity1[sb] = SubBand1Intensity(sb);
            bands[sb] = &intensity1[sb];
        }
    }
    return count;
}

int32_t SubBandFrame::PrepareLayer2(const Header& header) {
    // MPEG-2 lower-sampling-frequency streams carry data in 30 subbands
    // whatever the bit rate; MPEG-1 streams in the header's count.
    const int32_t count = header.version != 1 ? 30 : std::clamp(header.numberOfSubbands, 0, kMaxSubbands);
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel) {
            mono2[sb] = SubBand2Mono(sb);
            bands2[sb] = &mono2[sb];
        } else if (sb < bound) {
            stereo2[sb] = SubBand2Stereo(sb);
            bands2[sb] = &stereo2[sb];
        } else {
            intensity2[sb] = SubBand2Intensity(sb);
            bands2[sb] = &intensity2[sb];
        }
        bands[sb] = bands2[sb];
    }
    return count;
}

bool SubBandFrame::Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0,
                          SynthFilter& filter1, OBuffer& output, uint8_t channelChoice) {
    // Unknown choices count as "left only": the output then has one channel,
    // so nothing may go to filter1.
    const uint8_t choice = channelChoice <= kChoiceMix ? channelChoice : kChoiceLeft;
    const bool layer1 = header.layer == 1;
    const int32_t count = layer1 ? PrepareLayer1(header) : PrepareLayer2(header);

    for (int32_t sb = 0; sb < count; ++sb) bands[sb]->ParseAllocation(stream, header, crc);
    if (!layer1)
        for (int32_t sb = 0; sb < count; ++sb) bands2[sb]->ParseScfsi(stream, crc);
    // A damaged protected frame is dropped whole: no samples, no blocks and
    // no end of frame on the output, so the output holds only good frames.
    if (crc && !header.ChecksumOk()) return false;

    for (int32_t sb = 0; sb < count; ++sb) bands[sb]->ParseScaleFactors(stream, header);

    // 12 slots of one sample (Layer I) or 12 groups of three (Layer II) per
    // subband and channel. Fixed counts: the rounds cannot run on forever.
    const bool single = header.mode == kSingleChannel;
    const int32_t bound = single ? count : StereoBound(header, count);
    Rounds rounds{stream, filter0, filter1, output, choice, single, bound, count};
    if (layer1)
        rounds.Run(mono1.data(), stereo1.data(), intensity1.data(), 1);
    else
        rounds.Run(mono2.data(), stereo2.data(), intensity2.data(), 3);
    output.WriteBuffer();
    return true;
}

} // namespace zumo
