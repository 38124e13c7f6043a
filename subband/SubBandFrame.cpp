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
    const int32_t emitsPerRound = layer1 ? 1 : 3;
    const bool bothFilters = choice == kChoiceBoth && header.mode != kSingleChannel;
    for (int32_t round = 0; round < 12; ++round) {
        for (int32_t sb = 0; sb < count; ++sb) bands[sb]->ParseSamples(stream);
        for (int32_t e = 0; e < emitsPerRound; ++e) {
            for (int32_t sb = 0; sb < count; ++sb) bands[sb]->EmitSample(choice, filter0, filter1);
            filter0.SynthesizeBlock(output);
            if (bothFilters) filter1.SynthesizeBlock(output);
        }
    }
    output.WriteBuffer();
    return true;
}

} // namespace zumo
