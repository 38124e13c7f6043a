#include "support/BitWriter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace zumo::test {

void BitWriter::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        if (bitCount % 8 == 0) bytes.push_back(0);
        if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bitCount % 8));
        ++bitCount;
    }
}

void BitWriter::PutBytes(const std::vector<uint8_t>& data) {
    for (uint8_t b : data) Put(b, 8);
}

void BitWriter::PadToByte() {
    while (bitCount % 8 != 0) Put(0, 1);
}

void BitWriter::PadTo(size_t byteCount) {
    while (bitCount < byteCount * 8) Put(0, 1);
}

FrameFields MakeFields(int version, int layer, int bitrateIndex, int sampleFrequency, int mode, int padding,
                       int protection) {
    FrameFields f;
    f.version = version;
    f.layer = layer;
    f.bitrateIndex = bitrateIndex;
    f.sampleFrequency = sampleFrequency;
    f.mode = mode;
    f.padding = padding;
    f.protection = protection;
    return f;
}

uint32_t HeaderWord(const FrameFields& s) {
    uint32_t h = s.mpeg25 ? 0xFFE00000u : 0xFFF00000u;
    h |= static_cast<uint32_t>(s.version & 1) << 19;
    h |= static_cast<uint32_t>((4 - s.layer) & 3) << 17;
    h |= static_cast<uint32_t>(s.protection & 1) << 16;
    h |= static_cast<uint32_t>(s.bitrateIndex & 15) << 12;
    h |= static_cast<uint32_t>(s.sampleFrequency & 3) << 10;
    h |= static_cast<uint32_t>(s.padding & 1) << 9;
    h |= static_cast<uint32_t>(s.mode & 3) << 6;
    h |= static_cast<uint32_t>(s.modeExtension & 3) << 4;
    return h;
}

int FrameBodySize(const FrameFields& s) {
    static const int rates[2][3][16] = {{{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
                                         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
                                         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
                                        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
                                         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
                                         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}}};
    static const int freqs[2][3] = {{22050, 24000, 16000}, {44100, 48000, 32000}};
    static const int freqs25[3] = {11025, 12000, 8000};
    if (s.bitrateIndex == 0) return s.freeBytes + s.padding * (s.layer == 1 ? 4 : 1) - 4;
    const int rate = rates[s.version][s.layer - 1][s.bitrateIndex] * 1000;
    const int f = s.mpeg25 ? freqs25[s.sampleFrequency] : freqs[s.version][s.sampleFrequency];
    if (s.layer == 1) return (12 * rate / f + s.padding) * 4 - 4;
    int length = 144 * rate / f;
    if (s.version == 0 && s.layer == 3) length /= 2;
    return length + s.padding - 4;
}

void AppendFrame(std::vector<uint8_t>& file, const FrameFields& frame, const std::vector<uint8_t>& body) {
    const uint32_t h = HeaderWord(frame);
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<uint8_t>(h >> shift));
    const int size = FrameBodySize(frame);
    for (int i = 0; i < size; ++i) file.push_back(i < static_cast<int>(body.size()) ? body[i] : 0);
}

std::string WriteTempFile(const std::string& name, const std::vector<uint8_t>& bytes) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = std::string(dir ? dir : "/tmp") + "/zumo-test-" + std::to_string(::getpid()) + "-" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
    return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace zumo::test
