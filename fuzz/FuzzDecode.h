#pragma once

#include "engine/MPEGPlayer.h"
#include "output/OBuffer.h"
#include "stream/MemoryStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

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

// Plays the bytes as a file through the player's whole decode path, on the
// calling thread, into a CheckingBuffer. The low bits of `options` pick the
// channel choice, bit 2 turns gapless trimming off.
inline void PlayInMemory(const uint8_t* bytes, size_t size, uint8_t options) {
    const auto choice = static_cast<ChannelChoice>(options & 3);
    MPEGPlayer player;
    player.OpenStream(std::make_unique<MemoryStream>(bytes, size), "fuzz.mp3");
    player.SetChannelChoice(choice);
    player.SetGapless((options & 4) == 0);
    const int channels = OutputChannels(player.Mode(), choice);
    player.SetOutput(std::make_unique<CheckingBuffer>(channels));
    player.PlayHere();
}

} // namespace zumo::fuzz
