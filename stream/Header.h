#pragma once

#include "stream/Bitstream.h"
#include "stream/Crc16.h"

#include <cstdint>
#include <memory>

namespace zumo {

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

    // What a 32-bit header value (sync bits at the top) says by itself.
    // Plausible: the sync bits, and no reserved version, layer, bit-rate or
    // sampling-frequency code; MPEG-2.5 (11 sync bits, version bits 00)
    // only for Layer III, the one layer it exists for.
    static bool Plausible(uint32_t h) {
        if ((h >> 21) != 0x7FF) return false;
        const uint32_t versionBits = (h >> 19) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
        const uint32_t layerBits = (h >> 17) & 3;   // 3 Layer I, 2 Layer II, 1 Layer III, 0 reserved
        if (versionBits == 1 || layerBits == 0) return false;
        if (versionBits == 0 && layerBits != 1) return false;
        // The reserved emphasis code is left alone: streams do carry it.
        return ((h >> 12) & 15) != 15 && ((h >> 10) & 3) != 3;
    }
    // Length of the whole frame in bytes, header included. A free-format
    // header (bit-rate index 0) gives freeBytes, the stream's measured
    // length without padding, plus its padding; 0 while that is unknown.
    static int32_t FrameBytes(uint32_t h, int32_t freeBytes);
    // Whether two headers belong to one stream: the same version, layer and
    // sampling frequency, both free format or neither. The channel mode,
    // bit rate and padding may differ.
    static bool SameStream(uint32_t a, uint32_t b);
    static bool FreeFormat(uint32_t h) { return ((h >> 12) & 15) == 0; }

    // bit/s of the last frame; for free format measured from the frame
    // length; 0 before any frame
    int32_t Bitrate() const;
    int32_t Frequency() const; // Hz
    bool ChecksumOk();
    int32_t FrameCount(Bitstream& stream) const;
    float MsPerFrame() const;
    float TotalMs(Bitstream& stream) const;

    uint8_t version = 0;         // 1 = MPEG-1, 0 = MPEG-2 lower sampling frequencies (and MPEG-2.5)
    bool mpeg25 = false;         // MPEG-2.5: the lower frequencies halved again (version is 0)
    int32_t layer = 0;
    int32_t protectionBit = 0;   // 0: a CRC word follows the header
    int32_t bitrateIndex = 0;
    uint8_t sampleFrequency = 0;
    int32_t paddingBit = 0;
    uint8_t mode = 0;            // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
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
