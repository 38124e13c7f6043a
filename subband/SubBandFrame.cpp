#include "subband/SubBandFrame.h"

#include "synth/DecodePaths.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

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

// Calls f on the decoder of each subband, in subband order, by its kind
// (known per range of subbands).
template <typename Mono, typename Stereo, typename Intensity, typename F>
void ForEachBand(Mono* mono, Stereo* stereo, Intensity* intensity, bool single, int32_t bound, int32_t count,
                 F&& f) {
    if (single) {
        for (int32_t sb = 0; sb < count; ++sb) f(mono[sb]);
        return;
    }
    for (int32_t sb = 0; sb < bound; ++sb) f(stereo[sb]);
    for (int32_t sb = bound; sb < count; ++sb) f(intensity[sb]);
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
        // The frame's blocks are synthesised together, both channels at
        // once (each channel has its own place in the output).
        if (bothFilters)
            SynthFilter::SynthesizeQueued(filter0, filter1, output);
        else
            filter0.SynthesizeQueued(output);
    }
};

// One row of a Layer I frame's codes (a channel of a subband) with what
// requantises it.
struct SlotRow {
    const int32_t* codes; // 12 codes, one per slot
    // In double precision, as the arithmetic takes them (and so that
    // storing samples cannot be taken to change them).
    double factor;
    double offset;
    double scale;
};

typedef double Double4 __attribute__((vector_size(32)));
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// The requantised codes of a row, four from slot `first` on.
[[gnu::always_inline]] inline void RowValues(const SlotRow& row, int32_t first, Double4& out) {
    Int4 codes;
    std::memcpy(&codes, row.codes + first, sizeof codes);
    SubBand1Mono::RequantiseInto(__builtin_convertvector(codes, Double4), row.factor, row.offset, row.scale, out);
}

// The blocks of one filter, [subband][slot], from the 32 rows at `left`,
// or the average of those and the 32 at `right` when given; four slots at
// a time, each lane with the arithmetic of the per-sample steps.
[[gnu::always_inline]] inline void RequantiseBlocksBy(const SlotRow* left, const SlotRow* right, float* out) {
    for (int32_t sb = 0; sb < SubBandFrame::kMaxSubbands; ++sb) {
        for (int32_t first = 0; first < 12; first += 4) {
            Double4 v;
            RowValues(left[sb], first, v);
            if (right) {
                Double4 r;
                RowValues(right[sb], first, r);
                v = 0.5 * (v + r);
            }
            const Float4 f = __builtin_convertvector(v, Float4);
            std::memcpy(out + sb * 12 + first, &f, sizeof f);
        }
    }
}

void RequantiseBlocksPlain(const SlotRow* left, const SlotRow* right, float* out) {
    RequantiseBlocksBy(left, right, out);
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) void RequantiseBlocksAvx2(const SlotRow* left, const SlotRow* right, float* out) {
    RequantiseBlocksBy(left, right, out);
}
#endif

void RequantiseBlocks(const SlotRow* left, const SlotRow* right, float* out) {
#if defined(__x86_64__)
    if (CurrentDecodePath() == DecodePath::Fastest && HaveAvx2()) {
        RequantiseBlocksAvx2(left, right, out);
        return;
    }
#endif
    RequantiseBlocksPlain(left, right, out);
}

} // namespace

int32_t SubBandFrame::PrepareLayer1(const Header& header) {
    const int32_t count = kMaxSubbands;
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel)
            mono1[sb] = SubBand1Mono(sb);
        else if (sb < bound)
            stereo1[sb] = SubBand1Stereo(sb);
        else
            intensity1[sb] = SubBand1Intensity(sb);
    }
    return count;
}

int32_t SubBandFrame::PrepareLayer2(const Header& header) {
    // MPEG-2 lower-sampling-frequency streams carry data in 30 subbands
    // whatever the bit rate; MPEG-1 streams in the header's count.
    const int32_t count = header.version != 1 ? 30 : std::clamp(header.numberOfSubbands, 0, kMaxSubbands);
    const int32_t bound = StereoBound(header, count);
    for (int32_t sb = 0; sb < count; ++sb) {
        if (header.mode == kSingleChannel)
            mono2[sb] = SubBand2Mono(sb);
        else if (sb < bound)
            stereo2[sb] = SubBand2Stereo(sb);
        else
            intensity2[sb] = SubBand2Intensity(sb);
    }
    return count;
}

// A Layer I frame's slots hold one code per subband and channel, so the
// codes of all 12 slots are read first, in the frame's order (slot by slot,
// subband by subband, left before right), and then requantised a subband at
// a time into each filter's blocks, with the same arithmetic as the
// per-sample steps. A channel without codes has factors of zero and gives
// 0.0, as a subband without a sample does.
void SubBandFrame::DecodeLayer1Slots(Bitstream& stream, bool single, int32_t bound, uint8_t choice,
                                     SynthFilter& filter0, SynthFilter& filter1, OBuffer& output) {
    using Coding = SubBand1Mono::SlotCoding;
    constexpr int32_t kRows = 2 * kMaxSubbands; // row = channel * 32 + subband
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
    for (int32_t sb = 0; sb < kMaxSubbands; ++sb) {
        const int32_t right = kMaxSubbands + sb;
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

    // What reaches filter0 by the channel choice; a single channel has no
    // right channel to mix or to choose.
    if (choice == kChoiceMix && !single)
        RequantiseBlocks(rows.data(), rows.data() + kMaxSubbands, blocks0.data());
    else if (choice == kChoiceRight && single)
        blocks0.fill(0.0f);
    else
        RequantiseBlocks(rows.data() + (choice == kChoiceRight ? kMaxSubbands : 0), nullptr, blocks0.data());
    if (choice == kChoiceBoth && !single) {
        RequantiseBlocks(rows.data() + kMaxSubbands, nullptr, blocks1.data());
        SynthFilter::SynthesizeBlocks(filter0, blocks0.data(), filter1, blocks1.data(), 12, 12, output);
    } else {
        filter0.SynthesizeBlocks(blocks0.data(), 12, 12, output);
    }
}

bool SubBandFrame::Decode(Bitstream& stream, Header& header, Crc16* crc, SynthFilter& filter0,
                          SynthFilter& filter1, OBuffer& output, uint8_t channelChoice) {
    // Unknown choices count as "left only": the output then has one channel,
    // so nothing may go to filter1.
    const uint8_t choice = channelChoice <= kChoiceMix ? channelChoice : kChoiceLeft;
    const bool layer1 = header.layer == 1;
    const int32_t count = layer1 ? PrepareLayer1(header) : PrepareLayer2(header);
    const bool single = header.mode == kSingleChannel;
    const int32_t bound = single ? count : StereoBound(header, count);
    // Each section is read for every subband in turn, each subband's decoder
    // called directly by its kind. (Clang takes a type alias that only
    // qualifies a call for unused, hence the marks.)
    auto forEachBand = [&](auto&& f) {
        if (layer1)
            ForEachBand(mono1.data(), stereo1.data(), intensity1.data(), single, bound, count, f);
        else
            ForEachBand(mono2.data(), stereo2.data(), intensity2.data(), single, bound, count, f);
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
        Rounds rounds{stream, filter0, filter1, output, choice, single, bound, count};
        rounds.Run(mono2.data(), stereo2.data(), intensity2.data(), 3);
    }
    output.WriteBuffer();
    return true;
}

} // namespace zumo
