#pragma once

#include "output/OBuffer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zumo {

// An output buffer that writes the decoded PCM to a file (or stdout) as
// 16-bit little-endian samples, channels interleaved, optionally behind a
// WAV header. Samples are gathered one frame at a time and written at the
// end of each frame; a channel writes no more than the frame's space holds.
class PcmFileBuffer : public OBuffer {
public:
    // path "-" writes raw PCM to stdout.
    PcmFileBuffer(const std::string& path, bool wavHeader, int channels, int32_t frequency);
    ~PcmFileBuffer() override;

    bool IsOpen() const { return file != nullptr; }
    // False once a write failed (a full disk, a closed pipe).
    bool Ok() const { return ok; }
    // Finishes the file: the last frame, the WAV sizes; false when anything failed.
    bool Close();

    void Append(int32_t channel, int16_t sample) override;
    void AppendBlock(int32_t channel, const int16_t* samples, int32_t length) override;
    void WriteBuffer() override;
    void ClearBuffer() override;
    void SetStopFlag() override {}

private:
    void Flush();

    static constexpr size_t kFrameSamples = 1152; // the most samples per channel in one frame

    std::FILE* file = nullptr;
    bool ownsFile = false;
    bool wavHeader = false;
    bool ok = true;
    int channels;
    int32_t frequency;
    uint64_t dataBytes = 0;
    size_t count[2] = {0, 0};
    std::vector<uint8_t> frame; // kFrameSamples * channels samples, interleaved, little-endian
};

} // namespace zumo
