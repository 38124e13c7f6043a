#include "stream/Header.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace zumo {

namespace {

// Bit rates in bit/s by version (0 MPEG-2, 1 MPEG-1), layer - 1 and index.
constexpr int32_t kBitrates[2][3][16] = {
    {
        {0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 176000, 192000, 224000, 256000, 0},
        {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0},
        {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0},
    },
    {
        {0, 32000, 64000, 96000, 128000, 160000, 192000, 224000, 256000, 288000, 320000, 352000, 384000, 416000, 448000, 0},
        {0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 384000, 0},
        {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 0},
    },
};

// Sampling frequencies by version and index; the reserved index 3 holds 1.
constexpr int32_t kFrequencies[2][4] = {{22050, 24000, 16000, 1}, {44100, 48000, 32000, 1}};

// Milliseconds per frame by layer - 1 and sampling-frequency index (MPEG-1
// durations, which also fit MPEG-2 Layer III).
constexpr float kMsPerFrame[3][4] = {
    {8.707483f, 8.0f, 12.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
};

uint32_t BigEndian32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

} // namespace

bool Header::ReadHeader(Bitstream& stream, Crc16*& frameCrc) {
    frameCrc = nullptr;
    uint32_t h = 0;
    const bool first = !synchronised;
    if (!synchronised) {
        if (!stream.SyncHeader(false, h)) return false;
        version = static_cast<uint8_t>((h >> 19) & 1);
        sampleFrequency = static_cast<uint8_t>((h >> 10) & 3);
        if (sampleFrequency == 3) return false;
        stream.SetSyncWord(h & 0xFFF80CC0u);
        synchronised = true;
    } else if (!stream.SyncHeader(true, h)) {
        return false;
    }

    layer = 4 - static_cast<int32_t>((h >> 17) & 3);
    protectionBit = static_cast<int32_t>((h >> 16) & 1);
    bitrateIndex = static_cast<int32_t>((h >> 12) & 15);
    paddingBit = static_cast<int32_t>((h >> 9) & 1);
    mode = static_cast<uint8_t>((h >> 6) & 3);
    modeExtension = static_cast<int32_t>((h >> 4) & 3);
    copyright = ((h >> 3) & 1) != 0;
    original = ((h >> 2) & 1) != 0;

    intensityStereoBound = mode == 1 ? modeExtension * 4 + 4 : 0;

    if (layer == 1) {
        numberOfSubbands = 32;
    } else {
        auto c = static_cast<uint32_t>(bitrateIndex);
        if (mode != 3) c = c == 4 ? 1 : c - 4;
        if (c == 1 || c == 2) {
            numberOfSubbands = sampleFrequency == 2 ? 12 : 8;
        } else if (sampleFrequency == 1 || (c >= 3 && c <= 5)) {
            numberOfSubbands = 27;
        } else {
            numberOfSubbands = 30;
        }
    }
    if (numberOfSubbands < intensityStereoBound) intensityStereoBound = numberOfSubbands;

    const auto rate = static_cast<uint32_t>(Bitrate());
    const auto f = static_cast<uint32_t>(Frequency());
    const auto padding = static_cast<uint32_t>(paddingBit);
    if (layer == 1) {
        frameSize = static_cast<int32_t>((12 * rate / f + padding) * 4);
        nSlots = 0;
    } else {
        uint32_t length = 144 * rate / f;
        if (version == 0 && layer == 3) length >>= 1;
        length += padding;
        frameSize = static_cast<int32_t>(length);
        if (layer == 3) {
            const int32_t side = version == 1 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
            const int32_t check = protectionBit == 0 ? 2 : 0;
            nSlots = frameSize - side - check - 4;
        } else {
            nSlots = 0;
        }
    }
    frameSize -= 4;

    if (!stream.ReadFrame(frameSize)) return false;

    if (first && layer == 3) ReadVbrHeader(stream);

    if (protectionBit == 0) {
        checksum = static_cast<int32_t>(stream.GetBits(16));
        if (!crc) crc = std::make_unique<Crc16>();
        crc->AddBits(h, 16);
        frameCrc = crc.get();
    }
    return true;
}

// A VBR file's first frame often carries a Xing/"Info" or VBRI header with
// the stream's frame count; the constant-bit-rate estimate is wrong for
// such files. The frame's bits are only looked at, not consumed.
void Header::ReadVbrHeader(Bitstream& stream) {
    uint8_t body[Bitstream::kBufferBytes];
    const int32_t size = std::min(frameSize, Bitstream::kBufferBytes);
    if (size <= 0) return;
    const uint32_t* words = stream.FrameWords();
    for (int32_t i = 0; i < size; ++i) body[i] = static_cast<uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));

    const int32_t crcBytes = protectionBit == 0 ? 2 : 0;
    const int32_t side = version == 1 ? (mode == 3 ? 17 : 32) : (mode == 3 ? 9 : 17);
    const int32_t xing = crcBytes + side;
    if (xing + 12 <= size && (std::memcmp(body + xing, "Xing", 4) == 0 || std::memcmp(body + xing, "Info", 4) == 0)) {
        const uint32_t flags = BigEndian32(body + xing + 4);
        if (flags & 1) {
            const uint32_t frames = BigEndian32(body + xing + 8);
            if (frames > 0 && frames <= 0x7FFFFFFF) announcedFrames = static_cast<int32_t>(frames);
        }
        return;
    }
    const int32_t vbri = 32;
    if (vbri + 18 <= size && std::memcmp(body + vbri, "VBRI", 4) == 0) {
        const uint32_t frames = BigEndian32(body + vbri + 14);
        if (frames > 0 && frames <= 0x7FFFFFFF) announcedFrames = static_cast<int32_t>(frames);
    }
}

int32_t Header::Bitrate() const {
    if (layer < 1 || layer > 3) return 0;
    return kBitrates[version & 1][layer - 1][bitrateIndex & 15];
}

int32_t Header::Frequency() const { return kFrequencies[version & 1][sampleFrequency & 3]; }

bool Header::ChecksumOk() {
    if (!crc) return false;
    return crc->Checksum() == static_cast<uint16_t>(checksum);
}

int32_t Header::FrameCount(Bitstream& stream) const {
    if (!synchronised || layer < 1 || layer > 3) return 0;
    if (announcedFrames > 0) return announcedFrames;
    const int64_t length = int64_t{frameSize} + 4 - paddingBit;
    if (length <= 0) return 0;
    const int64_t count = stream.AudioSize() / length;
    return static_cast<int32_t>(std::min<int64_t>(count, 0x7FFFFFFF));
}

float Header::MsPerFrame() const {
    if (layer < 1 || layer > 3) return 0.0f;
    const float ms = kMsPerFrame[layer - 1][sampleFrequency & 3];
    return (version == 0 && layer != 3) ? 2.0f * ms : ms;
}

float Header::TotalMs(Bitstream& stream) const {
    return static_cast<float>(static_cast<long double>(FrameCount(stream)) * static_cast<long double>(MsPerFrame()));
}

} // namespace zumo
