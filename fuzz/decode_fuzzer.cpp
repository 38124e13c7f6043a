// Arbitrary bytes as a file, through the player's whole decode path: open,
// every frame of every layer, into an output buffer in memory, on the
// fuzzer's own thread. The first byte picks the channel choice and whether
// a LAME tag's delay and padding are trimmed.
#include "engine/MPEGPlayer.h"
#include "fuzz/CheckingBuffer.h"
#include "stream/MemoryStream.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t choice = data[0] & 3;
    zumo::MPEGPlayer player;
    player.OpenStream(std::make_unique<zumo::MemoryStream>(data + 1, size - 1), "fuzz.mp3");
    player.SetChannelChoice(choice);
    player.SetGapless((data[0] & 4) == 0);
    const int channels = (player.Mode() == 3 || choice != 0) ? 1 : 2;
    player.SetOutput(std::make_unique<zumo::fuzz::CheckingBuffer>(channels));
    player.PlayHere();
    return 0;
}
