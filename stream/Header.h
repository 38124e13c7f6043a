#pragma once

#include "stream/Bitstream.h"
#include "stream/Crc16.h"

#include <cstdint>
#include <memory>

namespace zumo {

// The frame header, ISO/IEC 11172-3, 2.4.1.3 (syntax) and 2.4.2.3
// (meaning), with the lower sampling frequencies of ISO/IEC 13818-3 and
// MPEG-2.5. It is one 32-bit big-endian word, its four bytes as they stand
// in the file (stream/ByteOrder.h):
//
//    31-21   20   19   18-17   16   15-12   11-10   9   8   7-6    5-4   3   2   1-0
//  +-------+----+----+-------+----+-------+-------+---+---+------+-----+---+---+------+
//  |  sync | v  | ID |  lay  | P  |  rate |  freq | p | x | mode | m.x | c | o | emph |
//  +-------+----+----+-------+----+-------+-------+---+---+------+-----+---+---+------+
//
//  31-21  sync            all ones
//  20     v               1: a twelfth sync bit (MPEG-1, MPEG-2); 0: MPEG-2.5
//  19     ID              1 MPEG-1, 0 lower sampling frequencies; bits 20-19
//                         together: 11 MPEG-1, 10 MPEG-2, 00 MPEG-2.5, 01 reserved
//  18-17  layer           11 Layer I, 10 Layer II, 01 Layer III, 00 reserved
//  16     protection      0: a 16-bit check word follows the header
//  15-12  bit-rate index  0 free format, 15 reserved
//  11-10  sampling freq.  11 reserved
//  9      padding         the frame is one slot longer
//  8      private         free for the encoder's own use
//  7-6    mode            00 stereo, 01 joint stereo, 10 dual channel, 11 single channel
//  5-4    mode extension  joint stereo: the intensity bound (Layers I, II),
//                         intensity and middle/side stereo on or off (Layer III)
//  3      copyright
//  2      original        1 original, 0 copy
//  1-0    emphasis        00 none, 01 50/15 us, 10 reserved, 11 CCITT J.17
//
// Every field is read from the word one way, through HeaderField.
struct HeaderField {
    int shift; // the field's lowest bit
    int width;
    constexpr uint32_t Mask() const { return ((1u << width) - 1u) << shift; }
    constexpr uint32_t Of(uint32_t h) const { return (h >> shift) & ((1u << width) - 1u); }
    // h with this field set to value.
    constexpr uint32_t With(uint32_t h, uint32_t value) const { return (h & ~Mask()) | (value << shift); }
};

namespace header {
inline constexpr HeaderField kSync{21, 11};
inline constexpr HeaderField kVersion{19, 2};
inline constexpr HeaderField kId{19, 1};
inline constexpr HeaderField kLayer{17, 2};
inline constexpr HeaderField kProtection{16, 1};
inline constexpr HeaderField kBitrate{12, 4};
inline constexpr HeaderField kFrequency{10, 2};
inline constexpr HeaderField kPadding{9, 1};
inline constexpr HeaderField kPrivate{8, 1};
inline constexpr HeaderField kMode{6, 2};
inline constexpr HeaderField kModeExtension{4, 2};
inline constexpr HeaderField kCopyright{3, 1};
inline constexpr HeaderField kOriginal{2, 1};
inline constexpr HeaderField kEmphasis{0, 2};
inline constexpr uint32_t kSingleChannel = 3; // the mode of a single-channel frame
} // namespace header

// The header of the frame read last: its fields, the frame's length and,
// for Layer III, its main-data size; also the file's frame count and
// playing time estimated from it.
class Header {
public:
    // Reads the next audio frame. On success crc is the header's own Crc16
    // when the frame is protected (the caller adds its protected bits to it)
    // and nullptr otherwise. Frames that only carry a Xing/"Info" or VBRI
    // tag hold no audio: they are read and passed over.
    bool ReadHeader(Bitstream& stream, Crc16*& crc);

    // What a header word says by itself.
    // Plausible: the sync bits, and no reserved version, layer, bit-rate or
    // sampling-frequency code; MPEG-2.5 (11 sync bits, version bits 00)
    // only for Layer III, the one layer it exists for.
    static bool Plausible(uint32_t h) {
        using namespace header;
        if (kSync.Of(h) != 0x7FF) return false;
        const uint32_t versionBits = kVersion.Of(h);
        const uint32_t layerBits = kLayer.Of(h);
        if (versionBits == 1 || layerBits == 0) return false;
        if (versionBits == 0 && layerBits != 1) return false;
        // The reserved emphasis code is left alone: streams do carry it.
        return kBitrate.Of(h) != 15 && kFrequency.Of(h) != 3;
    }
    // Length of the whole frame in bytes, header included. A free-format
    // header (bit-rate index 0) gives freeBytes, the stream's measured
    // length without padding, plus its padding; 0 while that is unknown.
    static int32_t FrameBytes(uint32_t h, int32_t freeBytes);
    // Whether two headers belong to one stream: the same version, layer and
    // sampling frequency, both free format or neither. The channel mode,
    // bit rate and padding may differ.
    static bool SameStream(uint32_t a, uint32_t b);
    static bool FreeFormat(uint32_t h) { return header::kBitrate.Of(h) == 0; }

    // bit/s of the last frame; for free format measured from the frame
    // length; 0 before any frame
    int32_t Bitrate() const;
    int32_t Frequency() const; // Hz
    bool ChecksumOk();
    int32_t FrameCount(Bitstream& stream) const;
    float MsPerFrame() const;
    float TotalMs(Bitstream& stream) const;

    uint8_t version = 0; // 1 = MPEG-1, 0 = MPEG-2 lower sampling frequencies (and MPEG-2.5)
    bool mpeg25 = false; // MPEG-2.5: the lower frequencies halved again (version is 0)
    int32_t layer = 0;
    int32_t protectionBit = 0; // 0: a CRC word follows the header
    int32_t bitrateIndex = 0;
    uint8_t sampleFrequency = 0;
    int32_t paddingBit = 0;
    uint8_t mode = 0; // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
    int32_t modeExtension = 0;
    bool copyright = false;
    bool original = false;
    int32_t numberOfSubbands = 0;
    int32_t intensityStereoBound = 0;
    bool synchronised = false;
    int32_t checksum = 0;
    int32_t frameSize = 0;       // body length: frame length without the 4-byte header
    int32_t nSlots = 0;          // Layer III main-data bytes; 0 for Layers I and II
    int32_t freeFormatBytes = 0; // free format: the frame length without padding; else 0
    // Audio frames announced by a Xing/"Info" or VBRI tag in the first
    // frame; 0 when there is none.
    int32_t announcedFrames = 0;
    // The encoder's delay and padding in samples from the LAME extension of
    // an Xing/"Info" tag (gapless playback); -1 when the file gives none.
    int32_t encoderDelay = -1;
    int32_t encoderPadding = -1;

private:
    void SetFields(uint32_t h, int32_t freeBytes);
    // True when the frame just read is a Xing/"Info" or VBRI tag frame;
    // the first frame of the file also gives its counts.
    bool VbrTagFrame(Bitstream& stream, bool first);

    std::unique_ptr<Crc16> crc;
    // The length without padding of the last header worked out.
    uint32_t sizedHeader = 0;
    int32_t sizedFreeBytes = 0;
    int32_t sizedLength = 0;
};

} // namespace zumo
