#include "layer3/Layer3Decoder.h"

#include "layer3/HuffmanTables.h"

#include <algorithm>
#include <iterator>

namespace zumo {

Layer3Decoder::Layer3Decoder(Bitstream& stream, Header& header, SynthFilter& filter0, SynthFilter& filter1,
                             OBuffer& output, ChannelChoice channelChoice)
    : stream(&stream), header(&header), filter0(&filter0), filter1(&filter1), output(&output),
      channelChoice(channelChoice) {
    // These header fields stay the same for the whole stream: the locked
    // frame search only accepts frames that agree with the first one.
    channelCount = header.mode == 3 ? 1 : 2;
    granuleCount = header.version == 1 ? 2 : 1;
    const int32_t rate = header.sampleFrequency < 3 ? header.sampleFrequency : 0;
    if (header.mpeg25) frequencyIndex = 6 + rate; // MPEG-2.5: otherwise decoded as MPEG-2
    else frequencyIndex = rate + (header.version == 1 ? 3 : 0);

    ChooseChannels();
    HuffTables(); // build the code tables now rather than inside the first frame
}

uint32_t Layer3Decoder::ReadMain(int n) { return ReadMainBits(reservoir, mainDataLimit, n); }

void Layer3Decoder::DecodeFrame() {
    const int32_t slots = header->nSlots > 0 ? header->nSlots : 0;
    const bool sideInfoOk = ReadSideInfo();

    for (int32_t i = 0; i < slots; ++i) reservoir.PutByte(static_cast<int32_t>(stream->GetBits(8)));

    // Step to the next whole byte: mainDataEnd is the byte count up to which
    // earlier frames' main data has been read.
    const int32_t p = reservoir.totalBits;
    int32_t mainDataEnd = p / 8;
    if (p % 8 != 0) {
        reservoir.GetBits(static_cast<uint32_t>(8 - p % 8));
        mainDataEnd += 1;
    }

    const int32_t bytesToDiscard = frameStart - mainDataEnd - sideInfo.main_data_begin;
    frameStart += slots;
    if (bytesToDiscard < 0) {
        // The frame's main data begins in bytes the reservoir never received.
        ++skippedFrames;
        return;
    }

    if (mainDataEnd > BitReserve::kSize) {
        frameStart -= BitReserve::kSize;
        reservoir.RewindBytes(BitReserve::kSize);
    }
    for (int32_t i = 0; i < bytesToDiscard; ++i) reservoir.GetBits(8);
    mainDataLimit = frameStart * 8;
    const int32_t mainDataStart = reservoir.totalBits;

    if (!sideInfoOk) {
        // Window switching with block type 0 is not a valid block: the side
        // information cannot be trusted, so the frame gives no audio. Its
        // main data is in the reservoir and the reservoir stands at it, so
        // the next frame finds its own main data as usual.
        ++skippedFrames;
        return;
    }

    // Once a granule's data turn out inconsistent, the granules after it in
    // the frame are silenced too: where their data begin depends on the
    // damaged side information.
    bool damaged = false;
    for (int32_t gr = 0; gr < granuleCount; ++gr) {
        for (int32_t ch = 0; ch < channelCount; ++ch) {
            part2Start = reservoir.totalBits;
            if (damaged) {
                ++silencedGranules;
                nonZeroCount[ch] = 0;
                std::fill(std::begin(huffSamples), std::end(huffSamples), 0);
            } else {
                if (header->version == 1) ReadScaleFactors(ch, gr);
                else ReadLsfScaleFactors(ch, gr);
                damaged = !DecodeSamples(ch, gr);
            }
            Dequantize(ch, gr);
        }

        ProcessStereo(gr);

        if (channelChoice == ChannelChoice::Mix && channelCount > 1) {
            for (int i = 0; i < 576; ++i) stereoSamples[0][i] = (stereoSamples[0][i] + stereoSamples[1][i]) * 0.5f;
        }

        // With both channels going to their own filters, the first
        // channel's slots wait in firstChannelOut and the two channels are
        // synthesised together.
        const bool paired = lastChannel > firstChannel;
        for (int32_t ch = firstChannel; ch <= lastChannel; ++ch) {
            Reorder(stereoSamples[ch], ch, gr);
            Antialias(ch, gr);
            Hybrid(ch, gr);
            FrequencyInversion();
            if (!paired) HandOff(ch == 0 || channelChoice == ChannelChoice::Right ? *filter0 : *filter1);
            else if (ch == firstChannel) std::copy(hybridOut, hybridOut + 576, firstChannelOut);
            else HandOffPair();
        }
    }

    // After damaged side information the reader stands wherever the
    // damaged lengths took it, possibly beyond where the next frame's main
    // data begin: put it back to the start of this frame's main data, from
    // where the next frame skips forward to its own.
    if (damaged && reservoir.totalBits > mainDataStart) reservoir.RewindBits(reservoir.totalBits - mainDataStart);

    ++decodedFrames;
    output->WriteBuffer();
}

// Side information (ISO/IEC 11172-3, 2.4.1.7 and 2.4.2.7; ISO/IEC 13818-3).
bool Layer3Decoder::ReadSideInfo() {
    Bitstream& bs = *stream;
    const bool mpeg1 = header->version == 1;
    auto get = [&bs](int n) { return static_cast<int32_t>(bs.GetBits(n)); };
    // A window-switching granule with block type 0 makes the frame unusable,
    // but the remaining fields are still read: the main data that follows
    // them goes into the reservoir and later frames may begin in it.
    bool usable = true;

    if (mpeg1) {
        sideInfo.main_data_begin = get(9);
        sideInfo.private_bits = get(channelCount == 1 ? 5 : 3);
        for (int32_t ch = 0; ch < channelCount; ++ch)
            for (int32_t band = 0; band < 4; ++band) sideInfo.ch[ch].scfsi[band] = get(1);
    } else {
        sideInfo.main_data_begin = get(8);
        sideInfo.private_bits = get(channelCount == 1 ? 1 : 2);
    }

    for (int32_t gr = 0; gr < granuleCount; ++gr) {
        for (int32_t ch = 0; ch < channelCount; ++ch) {
            GranuleInfo& g = sideInfo.ch[ch].gr[gr];
            g.part2_3_length = get(12);
            g.big_values = get(9);
            g.global_gain = get(8);
            g.scalefac_compress = get(mpeg1 ? 4 : 9);
            g.window_switching_flag = get(1);
            if (g.window_switching_flag) {
                g.block_type = get(2);
                g.mixed_block_flag = get(1);
                g.table_select[0] = get(5);
                g.table_select[1] = get(5);
                g.subblock_gain[0] = get(3);
                g.subblock_gain[1] = get(3);
                g.subblock_gain[2] = get(3);
                if (g.block_type == 0) usable = false;
                g.region0_count = g.block_type == 2 && g.mixed_block_flag == 0 ? 8 : 7;
                g.region1_count = 20 - g.region0_count;
            } else {
                g.table_select[0] = get(5);
                g.table_select[1] = get(5);
                g.table_select[2] = get(5);
                g.region0_count = get(4);
                g.region1_count = get(3);
                g.block_type = 0;
                g.mixed_block_flag = 0;
            }
            if (mpeg1) g.preflag = get(1);
            g.scalefac_scale = get(1);
            g.count1table_select = get(1);
        }
    }
    return usable;
}

// A stream whose frames turn from single-channel to two-channel or back (a
// change of mode inside one stream): the channels follow, while the
// reservoir, and with it the main data that later frames begin in, carries
// on. A second channel that starts anew starts from silence.
void Layer3Decoder::FollowChannelMode() {
    const int32_t count = header->mode == 3 ? 1 : 2;
    if (count == channelCount) return;
    if (count == 2) std::fill(overlap[1], overlap[1] + 576, 0.0f);
    channelCount = count;
    ChooseChannels();
}

// Two channels: both, or the left one alone (also for the mix, which
// DecodeFrame averages into it after the stereo processing), or the right
// one alone. A single channel is decoded whatever the choice.
void Layer3Decoder::ChooseChannels() {
    firstChannel = 0;
    lastChannel = channelCount - 1;
    if (channelCount == 2) {
        if (channelChoice == ChannelChoice::Left || channelChoice == ChannelChoice::Mix) lastChannel = 0;
        if (channelChoice == ChannelChoice::Right) firstChannel = 1;
    }
}

} // namespace zumo
