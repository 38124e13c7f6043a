#include "tools/PcmFileBuffer.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    : wavHeader(wavHeader), fileChannels(std::clamp(channels, 1, 2)), fileFrequency(frequency),
      inChannels(fileChannels), chunk(kChunkSamples, 0) {
    samples[0].assign(kFrameSamples, 0);
    samples[1].assign(kFrameSamples, 0);
    if (path == "-") {
        file = stdout;
    } else {
        // An existing file is written over in place and cut to its new
        // length at Close, rather than emptied first: emptying a large file
        // makes the kernel free all its pages at once, which costs this
        // process more than the writes themselves.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0) {
            struct stat st {};
            cutAtClose = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
            file = ::fdopen(fd, "wb");
            if (!file) ::close(fd);
        }
        ownsFile = true;
    }
    if (file && wavHeader) {
        uint8_t h[44];
        WavHeader(h, fileChannels, frequency, 0);
        ok = std::fwrite(h, 1, sizeof h, file) == sizeof h;
    }
}

PcmFileBuffer::~PcmFileBuffer() { Close(); }

void PcmFileBuffer::Append(int32_t channel, int16_t sample) {
    if (channel < 0 || channel >= inChannels) return;
    size_t& n = count[channel];
    if (n >= kFrameSamples) return;
    samples[channel][n++] = sample;
}

void PcmFileBuffer::AppendBlock(int32_t channel, const int16_t* source, int32_t length) {
    // As Append sample by sample: what does not fit in the frame is dropped.
    if (channel < 0 || channel >= inChannels || length <= 0) return;
    size_t& n = count[channel];
    const size_t take = std::min(static_cast<size_t>(length), kFrameSamples - n);
    std::copy(source, source + take, samples[channel].begin() + static_cast<std::ptrdiff_t>(n));
    n += take;
}

void PcmFileBuffer::Flush() {
    const size_t n = inChannels == 2 ? std::max(count[0], count[1]) : count[0];
    // A channel that got fewer samples than the other is filled up with silence.
    for (int c = 0; c < inChannels; ++c)
        std::fill(samples[c].begin() + static_cast<std::ptrdiff_t>(count[c]),
                  samples[c].begin() + static_cast<std::ptrdiff_t>(n), int16_t{0});
    count[0] = count[1] = 0;
    if (!file || n == 0 || !ok || ended) return;

    const int out = fileChannels;
    const size_t total = n * static_cast<size_t>(out);
    if (chunkUsed + total > chunk.size()) WriteChunk();
    int16_t* p = chunk.data() + chunkUsed;
    const int16_t* left = samples[0].data();
    const int16_t* right = samples[1].data();
    if (inChannels == out && out == 1) {
        std::copy(left, left + n, p);
    } else if (inChannels == out) {
        for (size_t i = 0; i < n; ++i) {
            p[2 * i] = left[i];
            p[2 * i + 1] = right[i];
        }
    } else if (out == 2) {
        // One channel into two: the same sample on both.
        for (size_t i = 0; i < n; ++i) p[2 * i] = p[2 * i + 1] = left[i];
    } else {
        // Two channels into one: their mix.
        for (size_t i = 0; i < n; ++i) p[i] = static_cast<int16_t>((int{left[i]} + int{right[i]}) / 2);
    }
    chunkUsed += total;
    dataBytes += total * 2;
}

void PcmFileBuffer::WriteChunk() {
    if (chunkUsed == 0) return;
    // The file holds little-endian samples.
    if constexpr (std::endian::native == std::endian::big)
        for (size_t i = 0; i < chunkUsed; ++i) {
            const auto u = static_cast<uint16_t>(chunk[i]);
            chunk[i] = static_cast<int16_t>(static_cast<uint16_t>((u >> 8) | (u << 8)));
        }
    const size_t bytes = chunkUsed * sizeof(int16_t);
    chunkUsed = 0;
    if (file && ok) ok = std::fwrite(chunk.data(), 1, bytes, file) == bytes;
}

void PcmFileBuffer::WriteBuffer() { Flush(); }

void PcmFileBuffer::ClearBuffer() { count[0] = count[1] = 0; }

void PcmFileBuffer::NewFormat(int32_t channels, int32_t frequency) {
    Flush();
    channels = std::clamp(channels, 1, 2);
    Change change;
    change.atSeconds = fileFrequency > 0 ? static_cast<double>(dataBytes) / (fileChannels * 2) / fileFrequency : 0;
    change.channels = channels;
    change.frequency = frequency;
    if (changes++ == 0) firstChange = change;
    inChannels = channels;
    if (!wavHeader) {
        // Raw PCM has no header to keep: it goes on in the new format.
        fileChannels = channels;
        fileFrequency = frequency;
    } else if (frequency != fileFrequency && !ended) {
        ended = true;
        endingChange = change;
    }
}

bool PcmFileBuffer::Close() {
    if (!file) return ok;
    Flush();
    WriteChunk();
    const off_t end = cutAtClose ? ::ftello(file) : -1;
    if (wavHeader && ok) {
        // A WAV file holds at most 4 GiB of samples; longer output keeps the largest size.
        const auto size = static_cast<uint32_t>(std::min<uint64_t>(dataBytes, 0xFFFFFFFFull - 36));
        uint8_t h[44];
        WavHeader(h, fileChannels, fileFrequency, size);
        ok = std::fseek(file, 0, SEEK_SET) == 0 && std::fwrite(h, 1, sizeof h, file) == sizeof h;
    }
    if (std::fflush(file) != 0) ok = false;
    // What an earlier, longer file held beyond the new output goes.
    if (cutAtClose && (end < 0 || ::ftruncate(::fileno(file), end) != 0)) ok = false;
    if (ownsFile && std::fclose(file) != 0) ok = false;
    file = nullptr;
    return ok;
}

} // namespace zumo
