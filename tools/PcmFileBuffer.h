#pragma once

#include "output/OBuffer.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zumo {

// An output buffer that writes the decoded PCM to a file (or stdout) as
// 16-bit little-endian samples, channels interleaved, optionally behind a
// WAV header. Samples are gathered one frame at a time and interleaved at
// the end of each frame into a chunk that goes to the file in one write
// when it is full (and at Close): a few hundred writes for a two-minute
// file rather than one a frame. A channel writes no more than the frame's
// space holds.
//
// When the stream changes format, raw output follows it: every sample is
// written, in the channel count of its frames. A WAV file holds one
// format, the first: frames of one channel are written as two equal
// channels into a two-channel file and two-channel frames as their mix
// into a one-channel file; at a change of sampling rate the file ends
// (its samples would play at the wrong speed).
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
    void NewFormat(int32_t channels, int32_t frequency) override;

    // A change of format: where (seconds of output written before it) and to what.
    struct Change {
        double atSeconds = 0;
        int channels = 0;
        int32_t frequency = 0;
    };
    int Changes() const { return changes; }
    const Change& FirstChange() const { return firstChange; }
    // A WAV file that ended at a change of sampling rate: that change.
    bool EndedAtRateChange() const { return ended; }
    const Change& EndingChange() const { return endingChange; }
    int FileChannels() const { return fileChannels; }
    int32_t FileFrequency() const { return fileFrequency; }

private:
    void Flush();
    void WriteChunk();

    static constexpr size_t kFrameSamples = 1152;      // the most samples per channel in one frame
    static constexpr size_t kChunkSamples = 64 * 1024; // 128 KiB a write

    std::FILE* file = nullptr;
    bool ownsFile = false;
    bool cutAtClose = false; // a regular file, written over in place
    bool wavHeader = false;
    bool ok = true;
    int fileChannels; // the WAV file's (raw: the current frames')
    int32_t fileFrequency;
    int inChannels; // the channel count of the frames coming in
    bool ended = false;
    int changes = 0;
    Change firstChange;
    Change endingChange;
    uint64_t dataBytes = 0;
    size_t count[2] = {0, 0};
    std::vector<int16_t> samples[2]; // one frame per channel
    std::vector<int16_t> chunk;      // frames interleaved, waiting to be written
    size_t chunkUsed = 0;
};

} // namespace zumo
