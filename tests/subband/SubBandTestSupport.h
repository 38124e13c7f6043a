#pragma once

#include <cstddef> // CaptureBuffer.h uses size_t

#include "stream/MemoryStream.h"
#include "subband/SubBandFrame.h"
#include "support/BitWriter.h"
#include "support/CaptureBuffer.h"

#include <memory>
#include <vector>

namespace zumo::test {

inline constexpr ChannelChoice kEveryChoice[] = {ChannelChoice::Both, ChannelChoice::Left, ChannelChoice::Right,
                                                 ChannelChoice::Mix};

// A whole stream of synthetic frames decoded through the frame decoder.
struct FrameRun {
    explicit FrameRun(int channels) : pcm(channels) {}
    CaptureBuffer pcm;
    SynthFilter filter0{0, 32768.0f};
    SynthFilter filter1{1, 32768.0f};
    std::vector<bool> accepted; // Decode's answer per frame
};

inline std::unique_ptr<FrameRun> DecodeBytes(const std::vector<uint8_t>& bytes, int channels,
                                             ChannelChoice choice = ChannelChoice::Both) {
    auto run = std::make_unique<FrameRun>(channels);
    Bitstream stream(std::make_unique<MemoryStream>(bytes));
    Header header;
    Crc16* crc = nullptr;
    auto frame = std::make_unique<SubBandFrame>();
    while (header.ReadHeader(stream, crc))
        run->accepted.push_back(frame->Decode(stream, header, crc, run->filter0, run->filter1, run->pcm, choice));
    return run;
}

// A stream positioned at the start of its first frame's body (behind the CRC
// word of a protected frame), for driving single subband objects.
struct OpenFrame {
    explicit OpenFrame(const std::vector<uint8_t>& bytes) : stream(std::make_unique<MemoryStream>(bytes)) {
        ok = header.ReadHeader(stream, crc);
    }
    Bitstream stream;
    Header header;
    Crc16* crc = nullptr;
    bool ok = false;
};

inline std::vector<uint8_t> OneFrame(const FrameFields& frame, const BitWriter& body) {
    std::vector<uint8_t> bytes;
    AppendFrame(bytes, frame, body.Bytes());
    return bytes;
}

// The PCM a fresh filter gives for one subband fed value[b] in block b.
inline std::vector<int16_t> Reference(int subband, const std::vector<float>& values) {
    SynthFilter filter(0, 32768.0f);
    CaptureBuffer out(1);
    for (float v : values) {
        filter.SetSubbandSample(subband, v);
        filter.SynthesizeBlock(out);
    }
    return out.samples;
}

// Channel c of interleaved PCM.
inline std::vector<int16_t> Channel(const CaptureBuffer& pcm, int c) {
    std::vector<int16_t> out;
    for (size_t k = 0; k < pcm.written[c]; ++k) out.push_back(pcm.samples[k * pcm.channels + c]);
    return out;
}

} // namespace zumo::test
