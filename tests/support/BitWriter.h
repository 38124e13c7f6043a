#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zumo::test {

// Builds a byte string bit by bit, most significant bit first.
class BitWriter {
public:
    void Put(uint32_t value, int bits);
    void PutBytes(const std::vector<uint8_t>& data);
    void PadToByte();
    // Zero bits up to a total of byteCount bytes.
    void PadTo(size_t byteCount);
    size_t BitCount() const { return bitCount; }
    const std::vector<uint8_t>& Bytes() const { return bytes; }

private:
    std::vector<uint8_t> bytes;
    size_t bitCount = 0;
};

// The fields of a frame header.
struct FrameFields {
    int version = 1;     // 1 MPEG-1, 0 MPEG-2 (and MPEG-2.5)
    bool mpeg25 = false; // MPEG-2.5: version bits 00 (version 0)
    int layer = 3;       // 1..3
    int protection = 1;  // 0: CRC word follows
    int bitrateIndex = 9;
    int sampleFrequency = 0;
    int padding = 0;
    int mode = 0;
    int modeExtension = 0;
    int freeBytes = 0; // free format (bit-rate index 0): the frame length without padding
};

// The fields of a frame of the given kind; the rest as FrameFields has them.
FrameFields MakeFields(int version, int layer, int bitrateIndex, int sampleFrequency, int mode, int padding = 0,
                       int protection = 1);

// The 32-bit header value, sync bits at the top.
uint32_t HeaderWord(const FrameFields& frame);
// Body length in bytes (frame length less the 4 header bytes) by the
// frame-size rule of the header reader.
int FrameBodySize(const FrameFields& frame);
// Appends one frame: header, then body bytes padded with zeros (or cut) to
// the frame's body size.
void AppendFrame(std::vector<uint8_t>& file, const FrameFields& frame, const std::vector<uint8_t>& body = {});

// Writes bytes to a fresh file under the test temporary folder; returns its path.
std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

} // namespace zumo::test
