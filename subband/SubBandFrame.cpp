#include "subband/SubBandFrame.h"

#include "kernels/SubbandKernels.h"
#include "subband/FrameRows.h"

#include <algorithm>
#include <type_traits>

namespace zumo {

namespace {

constexpr uint8_t kSingleChannel = 3;
constexpr uint8_t kJointStereo = 1;

// First subband of a joint-stereo frame that shares one set of samples
// between the channels; the subband count for every other mode
// (mode_extension, ISO/IEC 11172-3, 2.4.2.3).
int32_t StereoBound(const Header& header, int32_t subbands) {
    if (header.mode != kJointStereo) return subbands;
    return std::clamp(header.modeExtension * 4 + 4, 0, subbands);
}

// Calls f on the decoder of each subband, in subband order, by its kind
// (known per range of subbands).
template <typename Mono, typename Stereo, typename Intensity, typename F>
void ForEachBand(Mono* mono, Stereo* stereo, Intensity* intensity, bool single, int32_t bound, int32_t count, F&& f) {
    if (single) {
        for (int32_t sb = 0; sb < count; ++sb) f(mono[sb]);
        return;
    }
    for (int32_t sb = 0; sb < bound; ++sb) f(stereo[sb]);
    for (int32_t sb = bound; sb < count; ++sb) f(intensity[sb]);
}

// Each filter's blocks from a Layer I frame's rows (FrameRows.h): by a
// kernel where one runs, by the plain loop otherwise.
void RequantiseBlocks(const SlotRow* left, const SlotRow* right, float* out) {
    if (!kernels::RequantiseBlocks(left, right, out)) RequantiseBlocksPlain(left, right, out);
}

// The same from a Layer II frame's rows.
void ScaleBlocks(const GroupRow* left, const GroupRow* right, float* out) {
    if (kernels::ScaleBlocks(left, right, out)) return;
    if (right) ScaleBlocksBy<true>(left, right, out);
    else ScaleBlocksBy<false>(left, right, out);
}

// Makes each filter's blocks from a frame's rows ([channel * 32 + subband])
// by the channel choice, with blocks(rows, rows to average with or null,
// out), and synthesises them: perSubband blocks, [subband][block]. A single
// channel has no right channel to mix or to choose.
// (A template argument, so that each call of blocks is direct.)
template <typename Row, void (*blocks)(const Row*, const Row*, float*)>
void SynthesizeByChoice(const Row* rows, int32_t perSubband, ChannelChoice choice, bool single, float* blocks0,
                        float* blocks1, SynthFilter& filter0, SynthFilter& filter1, OBuffer& output) {
    constexpr int32_t kRight = kFrameSubbands;
    if (choice == ChannelChoice::Mix && !single) blocks(rows, rows + kRight, blocks0);
    else if (choice == ChannelChoice::Right && single) std::fill_n(blocks0, kFrameSubbands * perSubband, 0.0f);
    else blocks(rows + (choice == ChannelChoice::Right ? kRight : 0), nullptr, blocks0);
    if (choice == ChannelChoice::Both && !single) {
        blocks(rows + kRight, nullptr, blocks1);
        SynthFilter::SynthesizeBlocks(filter0, blocks0, filter1, blocks1, perSubband, perSubband, output);
    } else {
        filter0.SynthesizeBlocks(blocks0, perSubband, perSubband, output);
    }
}

} // namespace

int32_t SubBandFrame::PrepareLayer1(const Header& header) {
    const int32_t count = kFrameSubbands;
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel) mono1[sb] = SubBand1Mono(sb);
        else if (sb < bound) stereo1[sb] = SubBand1Stereo(sb);
        else intensity1[sb] = SubBand1Intensity(sb);
    }
    return count;
}

int32_t SubBandFrame::PrepareLayer2(const Header& header) {
    // MPEG-2 lower-sampling-frequency streams carry data in 30 subbands
    // whatever the bit rate (ISO/IEC 13818-3); MPEG-1 streams in the
    // header's count (ISO/IEC 11172-3, Tables B.2a to B.2d).
    const int32_t count = header.version != 1 ? 30 : std::clamp(header.numberOfSubbands, 0, kFrameSubbands);
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel) mono2[sb] = SubBand2Mono(sb);
        else if (sb < bound) stereo2[sb] = SubBand2Stereo(sb);
        else intensity2[sb] = SubBand2Intensity(sb);
    }
    return count;
}

// A Layer I frame's slots hold one code per subband and channel, so the
// codes of all 12 slots are read first, in the frame's order (slot by slot,
// subband by subband, left before right), and then requantised a subband at
// a time into each filter's blocks, with the same arithmetic as the
// per-sample steps. A channel without codes has factors of zero and gives
// 0.0, as a subband without a sample does. (ISO/IEC 11172-3, 2.4.1.5 and
// 2.4.3.2.)
void SubBandFrame::DecodeLayer1Slots(Bitstream& stream, bool single, int32_t bound, ChannelChoice choice,
                                     SynthFilter& filter0, SynthFilter& filter1, OBuffer& output) {
    using Coding = SubBand1Mono::SlotCoding;
    constexpr int32_t kRows = 2 * kFrameSubbands; // row = channel * 32 + subband
    std::array<SlotRow, kRows> rows;
    struct Read {
        int32_t* codes; // the row's 12 codes
        int32_t bits;
    };
    std::array<Read, kRows> reads;
    int32_t readCount = 0;
    int32_t slotBits = 0;
    // Each row's coding; a right channel above the bound reads no codes of
    // its own but takes the left channel's.
    auto addRow = [&](int32_t row, const Coding& c, int32_t codeRow) {
        rows[row] = {codes1.data() + codeRow * 12, c.factor, c.offset, c.scale};
        if (c.bits == 0 || codeRow != row) return;
        reads[readCount++] = {codes1.data() + row * 12, c.bits};
        slotBits += c.bits;
    };
    for (int32_t sb = 0; sb < kFrameSubbands; ++sb) {
        const int32_t right = kFrameSubbands + sb;
        if (single) {
            addRow(sb, mono1[sb].Coding(), sb);
            addRow(right, Coding{}, right);
        } else if (sb < bound) {
            addRow(sb, stereo1[sb].Coding(), sb);
            addRow(right, stereo1[sb].Coding2(), right);
        } else {
            addRow(sb, intensity1[sb].Coding(), sb);
            addRow(right, intensity1[sb].Coding2(), sb);
        }
    }
    // Codes are 2 to 15 bits; rows never read keep earlier codes, which
    // their zero factors cancel. The frame's codes fit the buffer, which is
    // checked once so that each read needs no check of its own.
    const uint32_t* words = stream.FrameWords();
    int32_t position = stream.BitPosition();
    if (position + 12 * slotBits <= Bitstream::kBufferWords * 32) {
        for (int32_t slot = 0; slot < 12; ++slot)
            for (int32_t i = 0; i < readCount; ++i)
                reads[i].codes[slot] = static_cast<int32_t>(Bitstream::BitsWithin(words, position, reads[i].bits));
    } else {
        for (int32_t slot = 0; slot < 12; ++slot)
            for (int32_t i = 0; i < readCount; ++i)
                reads[i].codes[slot] = static_cast<int32_t>(Bitstream::BitsAt(words, position, reads[i].bits));
    }
    stream.SetBitPosition(position);

    SynthesizeByChoice<SlotRow, RequantiseBlocks>(rows.data(), 12, choice, single, blocks0.data(), blocks1.data(),
                                                  filter0, filter1, output);
}

// A Layer II frame's 12 groups hold three samples per subband and channel
// (one codeword for a grouped class, three codes otherwise), so the groups
// are read first, in the frame's order (group by group, subband by subband,
// left before right), and requantised into rows of 36 values; then each
// filter's blocks are the rows times the scale factor of each third, with
// the same arithmetic as the per-sample steps. A channel without samples
// (no allocation, an allocation code without a class, a subband past the
// frame's count) is a row of silence. Above the joint-stereo bound the right
// channel takes the left one's values with its own scale factors.
// (ISO/IEC 11172-3, 2.4.1.6 and 2.4.3.3.)
void SubBandFrame::DecodeLayer2Groups(Bitstream& stream, bool single, int32_t bound, int32_t count,
                                      ChannelChoice choice, SynthFilter& filter0, SynthFilter& filter1,
                                      OBuffer& output) {
    constexpr int32_t kRows = 2 * kFrameSubbands; // row = channel * 32 + subband
    std::array<GroupRow, kRows> rows;
    struct Read {
        float* values; // the row's 36 values
        const QuantClass* quant;
    };
    std::array<Read, kRows> reads;
    int32_t readCount = 0;
    int32_t groupBits = 0;
    auto addRow = [&](int32_t row, int32_t allocation, const QuantClass& q, const float* scale, int32_t codeRow) {
        if (allocation == 0 || q.codeBits == 0) {
            rows[row] = {silence.data(), {0.0, 0.0, 0.0}};
            return;
        }
        float* values = values2.data() + codeRow * 36;
        rows[row] = {values, {scale[0], scale[1], scale[2]}};
        if (codeRow != row) return;
        reads[readCount++] = {values, &q};
        groupBits += q.groupTable ? q.codeBits : 3 * q.codeBits;
    };
    for (int32_t sb = 0; sb < kFrameSubbands; ++sb) {
        const int32_t right = kFrameSubbands + sb;
        if (sb >= count) {
            addRow(sb, 0, QuantClass{}, nullptr, sb);
            addRow(right, 0, QuantClass{}, nullptr, right);
        } else if (single) {
            addRow(sb, mono2[sb].Allocation(), mono2[sb].Quant(), mono2[sb].Scale(), sb);
            addRow(right, 0, QuantClass{}, nullptr, right);
        } else if (sb < bound) {
            const SubBand2Stereo& band = stereo2[sb];
            addRow(sb, band.Allocation(), band.Quant(), band.Scale(), sb);
            addRow(right, band.Allocation2(), band.Quant2(), band.Scale2(), right);
        } else {
            const SubBand2Intensity& band = intensity2[sb];
            addRow(sb, band.Allocation(), band.Quant(), band.Scale(), sb);
            addRow(right, band.Allocation(), band.Quant(), band.Scale2(), sb);
        }
    }
    // The frame's codes fit the buffer, which is checked once so that each
    // read needs no check of its own.
    const uint32_t* words = stream.FrameWords();
    int32_t position = stream.BitPosition();
    auto readGroups = [&](auto&& bits) {
        for (int32_t group = 0; group < 12; ++group)
            for (int32_t i = 0; i < readCount; ++i)
                SubBand2Mono::ReadGroup(*reads[i].quant, bits, reads[i].values + group * 3);
    };
    if (position + 12 * groupBits <= Bitstream::kBufferWords * 32)
        readGroups([&](int n) { return Bitstream::BitsWithin(words, position, n); });
    else readGroups([&](int n) { return Bitstream::BitsAt(words, position, n); });
    stream.SetBitPosition(position);

    SynthesizeByChoice<GroupRow, ScaleBlocks>(rows.data(), 36, choice, single, blocks0.data(), blocks1.data(), filter0,
                                              filter1, output);
}

bool SubBandFrame::Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0, SynthFilter& filter1,
                          OBuffer& output, ChannelChoice channelChoice) {
    // Unknown choices count as "left only": the output then has one channel,
    // so nothing may go to filter1.
    const ChannelChoice choice = channelChoice <= ChannelChoice::Mix ? channelChoice : ChannelChoice::Left;
    const bool layer1 = header.layer == 1;
    const int32_t count = layer1 ? PrepareLayer1(header) : PrepareLayer2(header);
    const bool single = header.mode == kSingleChannel;
    const int32_t bound = single ? count : StereoBound(header, count);
    // Each section is read for every subband in turn, each subband's decoder
    // called directly by its kind. (Clang takes a type alias that only
    // qualifies a call for unused, hence the marks.)
    auto forEachBand = [&](auto&& f) {
        if (layer1) ForEachBand(mono1.data(), stereo1.data(), intensity1.data(), single, bound, count, f);
        else ForEachBand(mono2.data(), stereo2.data(), intensity2.data(), single, bound, count, f);
    };

    forEachBand([&](auto& band) {
        using Kind [[maybe_unused]] = std::remove_cvref_t<decltype(band)>;
        band.Kind::ParseAllocation(stream, header, crc);
    });
    if (!layer1)
        ForEachBand(mono2.data(), stereo2.data(), intensity2.data(), single, bound, count, [&](auto& band) {
            using Kind [[maybe_unused]] = std::remove_cvref_t<decltype(band)>;
            band.Kind::ParseScfsi(stream, crc);
        });
    // A damaged protected frame is dropped whole: no samples, no blocks and
    // no end of frame on the output, so the output holds only good frames.
    if (crc && !header.ChecksumOk()) return false;

    forEachBand([&](auto& band) {
        using Kind [[maybe_unused]] = std::remove_cvref_t<decltype(band)>;
        band.Kind::ParseScaleFactors(stream, header);
    });

    // 12 slots of one sample (Layer I) or 12 groups of three (Layer II) per
    // subband and channel. Fixed counts: the rounds cannot run on forever.
    if (layer1) {
        DecodeLayer1Slots(stream, single, bound, choice, filter0, filter1, output);
    } else {
        DecodeLayer2Groups(stream, single, bound, count, choice, filter0, filter1, output);
    }
    output.WriteBuffer();
    return true;
}

} // namespace zumo
