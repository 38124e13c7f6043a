// Arbitrary bytes as a file, through the player's whole decode path: open,
// every frame of every layer, into an output buffer in memory. The first
// byte picks the channel choice.
#include "engine/MPEGPlayer.h"
#include "stream/MemoryStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

// Checks what it is given and keeps nothing, so that the fuzzer runs fast.
class CheckingBuffer : public zumo::OBuffer {
public:
    explicit CheckingBuffer(int channels) : channels(channels) {}
    void Append(int32_t channel, int16_t sample) override {
        if (channel < 0 || channel >= channels) __builtin_trap(); // a decoder wrote to a channel that does not exist
        sum += sample;
    }
    void WriteBuffer() override {}
    void ClearBuffer() override {}
    void SetStopFlag() override {}
    int channels;
    int64_t sum = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0] & 3;
    zumo::MPEGPlayer player;
    player.OpenStream(std::make_unique<zumo::MemoryStream>(data + 1, size - 1), "fuzz.mp3");
    player.SetChannelChoice(choice);
    const int channels = (player.Mode() == 3 || choice != 0) ? 1 : 2;
    player.SetOutput(std::make_unique<CheckingBuffer>(channels));
    player.Play();
    player.WaitForEnd();
    return 0;
}
