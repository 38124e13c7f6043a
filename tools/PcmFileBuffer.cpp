#include "tools/PcmFileBuffer.h"

#include <algorithm>
#include <cstring>

namespace zumo {

namespace {

void Put16(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void Put32(uint8_t* p, uint32_t v) {
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

// The 44-byte header of a PCM WAV file with dataBytes bytes of samples.
void WavHeader(uint8_t* h, int channels, int32_t frequency, uint32_t dataBytes) {
    std::memcpy(h, "RIFF", 4);
    Put32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    Put32(h + 16, 16);
    Put16(h + 20, 1);
    Put16(h + 22, static_cast<uint32_t>(channels));
    Put32(h + 24, static_cast<uint32_t>(frequency));
    Put32(h + 28, static_cast<uint32_t>(frequency) * static_cast<uint32_t>(channels) * 2);
    Put16(h + 32, static_cast<uint32_t>(channels) * 2);
    Put16(h + 34, 16);
    std::memcpy(h + 36, "data", 4);
    Put32(h + 40, dataBytes);
}

} // namespace

PcmFileBuffer::PcmFileBuffer(const std::string& path, bool wavHeader, int channels, int32_t frequency)
    : wavHeader(wavHeader), channels(std::clamp(channels, 1, 2)), frequency(frequency),
      frame(kFrameSamples * static_cast<size_t>(this->channels) * 2, 0) {
    if (path == "-") {
        file = stdout;
    } else {
        file = std::fopen(path.c_str(), "wb");
        ownsFile = true;
    }
    if (file && wavHeader) {
        uint8_t h[44];
        WavHeader(h, this->channels, frequency, 0);
        ok = std::fwrite(h, 1, sizeof h, file) == sizeof h;
    }
}

PcmFileBuffer::~PcmFileBuffer() { Close(); }

void PcmFileBuffer::Append(int32_t channel, int16_t sample) {
    if (channel < 0 || channel >= channels) return;
    size_t& n = count[channel];
    if (n >= kFrameSamples) return;
    Put16(&frame[(n * static_cast<size_t>(channels) + static_cast<size_t>(channel)) * 2], static_cast<uint16_t>(sample));
    ++n;
}

void PcmFileBuffer::AppendBlock(int32_t channel, const int16_t* samples, int32_t length) {
    // As Append sample by sample: what does not fit in the frame is dropped.
    if (channel < 0 || channel >= channels) return;
    size_t& n = count[channel];
    const auto stride = static_cast<size_t>(channels) * 2;
    uint8_t* out = &frame[static_cast<size_t>(channel) * 2];
    for (int32_t i = 0; i < length && n < kFrameSamples; ++i, ++n) Put16(out + n * stride, static_cast<uint16_t>(samples[i]));
}

void PcmFileBuffer::Flush() {
    const size_t samples = channels == 2 ? std::max(count[0], count[1]) : count[0];
    const size_t bytes = samples * static_cast<size_t>(channels) * 2;
    if (file && bytes > 0 && ok) {
        ok = std::fwrite(frame.data(), 1, bytes, file) == bytes;
        dataBytes += bytes;
    }
    std::fill(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
    count[0] = count[1] = 0;
}

void PcmFileBuffer::WriteBuffer() { Flush(); }

void PcmFileBuffer::ClearBuffer() {
    std::fill(frame.begin(), frame.end(), 0);
    count[0] = count[1] = 0;
}

bool PcmFileBuffer::Close() {
    if (!file) return ok;
    Flush();
    if (wavHeader && ok) {
        // A WAV file holds at most 4 GiB of samples; longer output keeps the largest size.
        const auto size = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFull - 36));
        uint8_t h[44];
        WavHeader(h, channels, frequency, size);
        ok = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, file) == sizeof h;
    }
    if (std::fflush(file) != 0) ok = false;
    if (ownsFile && std::fclose(file) != 0) ok = false;
    file = nullptr;
    return ok;
}

} // namespace zumo
