#include "stream/Header.h"

#include <algorithm>
#include <cmath>

namespace zumo {

namespace {

// Bit rates in bit/s by version (0 MPEG-2, 1 MPEG-1), layer - 1 and index:
// ISO/IEC 11172-3, 2.4.2.3 (bitrate_index); ISO/IEC 13818-3 for MPEG-2.
constexpr int32_t kBitrates[2][3][16] = {
    {
        {0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 176000, 192000, 224000, 256000,
         0},
        {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0},
        {0, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 144000, 160000, 0},
    },
    {
        {0, 32000, 64000, 96000, 128000, 160000, 192000, 224000, 256000, 288000, 320000, 352000, 384000, 416000, 448000,
         0},
        {0, 32000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 384000,
         0},
        {0, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000, 256000, 320000, 0},
    },
};

// Sampling frequencies by version and index; the reserved index 3 holds 1
// (ISO/IEC 11172-3, 2.4.2.3, sampling_frequency; ISO/IEC 13818-3 for MPEG-2).
constexpr int32_t kFrequencies[2][4] = {{22050, 24000, 16000, 1}, {44100, 48000, 32000, 1}};
// MPEG-2.5 (no ISO/IEC standard): the MPEG-2 frequencies halved.
constexpr int32_t kFrequencies25[4] = {11025, 12000, 8000, 1};

// Milliseconds per frame by layer - 1 and sampling-frequency index (MPEG-1
// durations, which also fit MPEG-2 Layer III).
constexpr float kMsPerFrame[3][4] = {
    {8.707483f, 8.0f, 12.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
    {26.12245f, 24.0f, 36.0f, 0.0f},
};

using namespace header;

int32_t LayerOf(uint32_t h) { return 4 - static_cast<int32_t>(kLayer.Of(h)); }
bool Mpeg1(uint32_t h) { return kId.Of(h) != 0; }
bool Mpeg25(uint32_t h) { return kVersion.Of(h) < 2; } // the twelfth sync bit 0

int32_t FrequencyOf(bool mpeg1, bool mpeg25, uint32_t index) {
    return mpeg25 ? kFrequencies25[index & 3] : kFrequencies[mpeg1 ? 1 : 0][index & 3];
}

// Bytes of Layer III side information (ISO/IEC 11172-3, 2.4.1.7; ISO/IEC
// 13818-3 for the lower sampling frequencies).
int32_t SideInfoBytes(bool mpeg1, bool singleChannel) {
    return mpeg1 ? (singleChannel ? 17 : 32) : (singleChannel ? 9 : 17);
}

} // namespace

// Slots per frame (ISO/IEC 11172-3, 2.4.2.3, padding_bit).
int32_t Header::FrameBytes(uint32_t h, int32_t freeBytes) {
    const int32_t layer = LayerOf(h);
    if (layer < 1 || layer > 3) return 0;
    const auto padding = kPadding.Of(h);
    if (FreeFormat(h)) {
        if (freeBytes <= 0) return 0;
        return freeBytes + static_cast<int32_t>(layer == 1 ? 4 * padding : padding);
    }
    const auto rate = static_cast<uint32_t>(kBitrates[Mpeg1(h) ? 1 : 0][layer - 1][kBitrate.Of(h)]);
    const auto f = static_cast<uint32_t>(FrequencyOf(Mpeg1(h), Mpeg25(h), kFrequency.Of(h)));
    if (layer == 1) return static_cast<int32_t>((12 * rate / f + padding) * 4);
    uint32_t length = 144 * rate / f;
    if (!Mpeg1(h) && layer == 3) length >>= 1; // 576 samples per frame
    return static_cast<int32_t>(length + padding);
}

bool Header::SameStream(uint32_t a, uint32_t b) {
    constexpr uint32_t kMask = kSync.Mask() | kVersion.Mask() | kLayer.Mask() | kFrequency.Mask();
    return (a & kMask) == (b & kMask) && FreeFormat(a) == FreeFormat(b);
}

bool Header::ReadHeader(Bitstream& stream, Crc16*& frameCrc) {
    frameCrc = nullptr;
    for (;;) {
        uint32_t h = 0;
        if (!stream.SyncHeader(h)) return false;
        SetFields(h, stream.FreeFormatBytes());
        if (!stream.ReadFrame(frameSize)) return false;
        const bool first = !synchronised;
        synchronised = true;
        if (layer == 3 && VbrTagFrame(stream, first)) continue;

        if (protectionBit == 0) {
            checksum = static_cast<int32_t>(stream.GetBits(16));
            if (!crc) crc = std::make_unique<Crc16>();
            crc->AddBits(h, 16); // the check covers bits 15-0 of the header first
            frameCrc = crc.get();
        }
        return true;
    }
}

void Header::SetFields(uint32_t h, int32_t freeBytes) {
    // Version and sampling frequency are those of the frame read last: the
    // frame reader follows a stream that changes them (joined files).
    version = Mpeg1(h) ? 1 : 0;
    mpeg25 = Mpeg25(h);
    sampleFrequency = static_cast<uint8_t>(kFrequency.Of(h));
    layer = LayerOf(h);
    protectionBit = static_cast<int32_t>(kProtection.Of(h));
    bitrateIndex = static_cast<int32_t>(kBitrate.Of(h));
    paddingBit = static_cast<int32_t>(kPadding.Of(h));
    mode = static_cast<uint8_t>(kMode.Of(h));
    modeExtension = static_cast<int32_t>(kModeExtension.Of(h));
    copyright = kCopyright.Of(h) != 0;
    original = kOriginal.Of(h) != 0;
    freeFormatBytes = bitrateIndex == 0 ? freeBytes : 0;

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

    // Frames of a constant bit rate differ in their padding bit at most:
    // their length is worked out once.
    if (kPadding.With(h, 0) != sizedHeader || freeBytes != sizedFreeBytes) {
        sizedHeader = kPadding.With(h, 0);
        sizedFreeBytes = freeBytes;
        sizedLength = FrameBytes(sizedHeader, freeBytes);
    }
    const int32_t length = sizedLength + (sizedLength > 0 && paddingBit ? (layer == 1 ? 4 : 1) : 0);
    if (layer == 3) {
        const int32_t check = protectionBit == 0 ? 2 : 0;
        nSlots = length - SideInfoBytes(version == 1, mode == 3) - check - 4;
    } else {
        nSlots = 0;
    }
    frameSize = length - 4;
}

// The first frame of a VBR file (and of many constant-rate files) carries a
// Xing/"Info" or VBRI tag instead of audio: the stream's frame count and,
// in the LAME extension of the Xing tag, the encoder's delay and padding.
// The tag sits right behind the side information; in a frame protected by
// a CRC some encoders leave out the two check bytes when placing it, so
// both places are looked at.
bool Header::VbrTagFrame(Bitstream& stream, bool first) {
    // The tag's fields are big-endian, like the frame's words: each is read
    // straight from them. bits: n bits from bit `skip` of byte i on.
    const uint32_t* words = stream.FrameWords();
    const int32_t size = std::min(frameSize, Bitstream::kBufferBytes);
    auto bits = [words](int32_t i, int skip, int n) {
        int32_t position = i * 8 + skip;
        return Bitstream::BitsWithin(words, position, n);
    };
    auto word32 = [&](int32_t i) -> uint32_t { return i < 0 || i + 4 > size ? 0 : bits(i, 0, 32); };
    // "Xing", "Info", "VBRI", "LAME", "Lavf", "Lavc" as big-endian words.
    constexpr uint32_t kXing = 0x58696E67, kInfo = 0x496E666F, kVbri = 0x56425249;
    constexpr uint32_t kLame = 0x4C414D45, kLavf = 0x4C617666, kLavc = 0x4C617663;

    const int32_t side = SideInfoBytes(version == 1, mode == 3);
    int32_t xing = -1;
    for (int32_t at : {side + (protectionBit == 0 ? 2 : 0), side}) {
        const uint32_t w = word32(at);
        if (w == kXing || w == kInfo) {
            xing = at;
            break;
        }
    }
    constexpr int32_t kVbriAt = 32;
    if (xing < 0 && word32(kVbriAt) != kVbri) return false;
    if (!first) return true;

    auto frames = [&](uint32_t count) {
        if (count > 0 && count <= 0x7FFFFFFF) announcedFrames = static_cast<int32_t>(count);
    };
    if (xing < 0) {
        frames(word32(kVbriAt + 14));
        return true;
    }
    const uint32_t flags = word32(xing + 4);
    int32_t at = xing + 8;
    if (flags & 1) {
        frames(word32(at));
        at += 4;
    }
    if (flags & 2) at += 4;   // byte count
    if (flags & 4) at += 100; // seek table
    if (flags & 8) at += 4;   // quality
    // The LAME extension: a 9-byte encoder name, then at byte 21 the delay
    // and the padding, 12 bits each. FFmpeg writes the same extension
    // under its own names.
    const uint32_t name = word32(at);
    if (at + 24 <= size && (name == kLame || name == kLavf || name == kLavc)) {
        encoderDelay = static_cast<int32_t>(bits(at + 21, 0, 12));
        encoderPadding = static_cast<int32_t>(bits(at + 21, 12, 12));
    }
    return true;
}

int32_t Header::Bitrate() const {
    if (layer < 1 || layer > 3) return 0;
    if (bitrateIndex == 0 && freeFormatBytes > 0) {
        // Free format: what the measured frame length carries.
        const int64_t f = Frequency();
        if (layer == 1) return static_cast<int32_t>(int64_t{freeFormatBytes} / 4 * f / 12);
        const int64_t perFrame = (version == 0 && layer == 3) ? 72 : 144;
        return static_cast<int32_t>(int64_t{freeFormatBytes} * f / perFrame);
    }
    return kBitrates[version & 1][layer - 1][bitrateIndex & 15];
}

int32_t Header::Frequency() const { return FrequencyOf(version == 1, mpeg25 && version == 0, sampleFrequency); }

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
    // MPEG-2 Layer I and II frames carry as many samples as MPEG-1 frames
    // at half the rate; MPEG-2.5 Layer III frames as many as MPEG-2 ones at
    // half the rate again.
    return ((version == 0 && layer != 3) || (mpeg25 && version == 0)) ? 2.0f * ms : ms;
}

float Header::TotalMs(Bitstream& stream) const {
    return static_cast<float>(static_cast<long double>(FrameCount(stream)) * static_cast<long double>(MsPerFrame()));
}

} // namespace zumo
