#pragma once

#include "output/OBuffer.h"

#include <cstdint>
#include <vector>

namespace zumo::test {

// An output buffer that keeps all PCM in memory, interleaved the way the
// sound device gets it: channel c's k-th sample lands at k * channels + c.
class CaptureBuffer : public OBuffer {
public:
    explicit CaptureBuffer(int channels) : channels(channels) {}

    void Append(int32_t channel, int16_t sample) override {
        if (channel < 0 || channel >= channels) {
            ++strayAppends;
            return;
        }
        const size_t index = written[channel] * static_cast<size_t>(channels) + static_cast<size_t>(channel);
        if (samples.size() <= index) samples.resize(index + 1, 0);
        samples[index] = sample;
        ++written[channel];
    }
    void WriteBuffer() override { ++frames; }
    void ClearBuffer() override {
        samples.clear();
        written[0] = written[1] = 0;
    }
    void SetStopFlag() override { stopFlag = true; }

    // Samples per channel written so far (the larger of the two).
    size_t SamplesPerChannel() const { return written[0] > written[1] ? written[0] : written[1]; }

    int channels;
    std::vector<int16_t> samples;
    size_t written[2] = {0, 0};
    int frames = 0;
    int strayAppends = 0;
    bool stopFlag = false;
};

} // namespace zumo::test
