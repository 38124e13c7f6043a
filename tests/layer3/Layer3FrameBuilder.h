#pragma once

#include <cstddef> // CaptureBuffer.h uses size_t

#include "layer3/Layer3Decoder.h"
#include "stream/MemoryStream.h"
#include "support/BitWriter.h"
#include "support/CaptureBuffer.h"

#include <memory>
#include <vector>

namespace zumo::test {

// Writes the side information of one granule the way the encoder does.
inline void PutGranule(BitWriter& bits, const GranuleInfo& g, bool mpeg1) {
    bits.Put(g.part2_3_length, 12);
    bits.Put(g.big_values, 9);
    bits.Put(g.global_gain, 8);
    bits.Put(g.scalefac_compress, mpeg1 ? 4 : 9);
    bits.Put(g.window_switching_flag, 1);
    if (g.window_switching_flag) {
        bits.Put(g.block_type, 2);
        bits.Put(g.mixed_block_flag, 1);
        bits.Put(g.table_select[0], 5);
        bits.Put(g.table_select[1], 5);
        for (int w = 0; w < 3; ++w) bits.Put(g.subblock_gain[w], 3);
    } else {
        for (int r = 0; r < 3; ++r) bits.Put(g.table_select[r], 5);
        bits.Put(g.region0_count, 4);
        bits.Put(g.region1_count, 3);
    }
    if (mpeg1) bits.Put(g.preflag, 1);
    bits.Put(g.scalefac_scale, 1);
    bits.Put(g.count1table_select, 1);
}

// Writes a whole side information block; granules and channels as the
// stream has them.
inline void PutSideInfo(BitWriter& bits, const SideInfo& si, bool mpeg1, int channels) {
    if (mpeg1) {
        bits.Put(si.main_data_begin, 9);
        bits.Put(si.private_bits, channels == 1 ? 5 : 3);
        for (int ch = 0; ch < channels; ++ch)
            for (int b = 0; b < 4; ++b) bits.Put(si.ch[ch].scfsi[b], 1);
    } else {
        bits.Put(si.main_data_begin, 8);
        bits.Put(si.private_bits, channels == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < (mpeg1 ? 2 : 1); ++gr)
        for (int ch = 0; ch < channels; ++ch) PutGranule(bits, si.ch[ch].gr[gr], mpeg1);
}

// One frame whose body is the side information and then the main data
// given.
inline void AppendLayer3Frame(std::vector<uint8_t>& file, const FrameFields& fields, const SideInfo& si,
                              const BitWriter& main) {
    BitWriter body;
    PutSideInfo(body, si, fields.version == 1, fields.mode == 3 ? 1 : 2);
    body.PutBytes(main.Bytes());
    AppendFrame(file, fields, body.Bytes());
}

// Count1 quadruples of values -1, 0 and +1 in table B (count1table_select
// 1): four bits, a 0 for each nonzero value, then a sign bit for each.
inline void PutQuadruples(BitWriter& bits, const int* values, int lines) {
    for (int i = 0; i < lines; i += 4) {
        uint32_t code = 0;
        for (int k = 0; k < 4; ++k) code = code << 1 | (values[i + k] == 0 ? 1 : 0);
        bits.Put(code, 4);
        for (int k = 0; k < 4; ++k)
            if (values[i + k] != 0) bits.Put(values[i + k] < 0 ? 1 : 0, 1);
    }
}

// A decoder over a file of frames made in memory.
struct FrameFile {
    FrameFile(const std::vector<uint8_t>& bytes, int channels, ChannelChoice choice = ChannelChoice::Both)
        : stream(std::make_unique<MemoryStream>(bytes)), filter0(0, 32768.0f), filter1(1, 32768.0f), out(channels),
          choice(choice) {}

    // Reads the next frame and decodes it; false at the end of the file.
    bool Next() {
        Crc16* crc = nullptr;
        if (!header.ReadHeader(stream, crc)) return false;
        if (!decoder) decoder = std::make_unique<Layer3Decoder>(stream, header, filter0, filter1, out, choice);
        decoder->DecodeFrame();
        return true;
    }

    Bitstream stream;
    Header header;
    SynthFilter filter0;
    SynthFilter filter1;
    CaptureBuffer out;
    ChannelChoice choice;
    std::unique_ptr<Layer3Decoder> decoder;
};

} // namespace zumo::test
