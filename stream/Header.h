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
    // Reads the next frame. On success crc is the header's own Crc16 when the
    // frame is protected (the caller adds its protected bits to it) and
    // nullptr otherwise.
    bool ReadHeader(Bitstream& stream, Crc16*& crc);

    int32_t Bitrate() const;   // bit/s of the last frame; 0 before any frame
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
    // Frame count announced by a Xing/"Info" or VBRI header in the first
    // frame; 0 when there is none.
    int32_t announcedFrames = 0;

private:
    void ReadVbrHeader(Bitstream& stream);

    std::unique_ptr<Crc16> crc;
};

} // namespace zumo
