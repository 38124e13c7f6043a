#pragma once

#include "output/OBuffer.h"

#include <cstdint>

namespace zumo::fuzz {

// An output buffer for the fuzz targets: keeps nothing and reads no
// sample (the sanitizers check every one as it is written), so that they
// run fast, and stops the run (a crash the fuzzer reports) when a decoder
// hands it a sample for a channel its format does not have, or more
// samples in one frame than a frame holds.
class CheckingBuffer : public OBuffer {
public:
    explicit CheckingBuffer(int channels) : channels(channels) {}
    void Append(int32_t channel, int16_t sample) override {
        if (channel < 0 || channel >= channels) __builtin_trap();
        if (++inFrame[channel] > 1152) __builtin_trap();
        (void)sample;
    }
    void AppendBlock(int32_t channel, const int16_t* samples, int32_t count) override {
        if (channel < 0 || channel >= channels || count < 0) __builtin_trap();
        inFrame[channel] += count;
        if (inFrame[channel] > 1152) __builtin_trap();
        (void)samples;
    }
    void WriteBuffer() override { inFrame[0] = inFrame[1] = 0; }
    void ClearBuffer() override {}
    void SetStopFlag() override {}
    void NewFormat(int32_t newChannels, int32_t frequency) override {
        if (newChannels < 1 || newChannels > 2 || frequency < 8000 || frequency > 48000) __builtin_trap();
        if (inFrame[0] != 0 || inFrame[1] != 0) __builtin_trap(); // announced inside a frame
        channels = newChannels;
    }

    int channels;
    int32_t inFrame[2] = {0, 0};
};

} // namespace zumo::fuzz
