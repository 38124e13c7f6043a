// Arbitrary bytes as a file, through the player's whole decode path: open,
// every frame of every layer, into an output buffer in memory, on the
// fuzzer's own thread. The first byte picks the channel choice and whether
// a LAME tag's delay and padding are trimmed.
#include "fuzz/FuzzDecode.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    zumo::fuzz::PlayInMemory(data + 1, size - 1, data[0]);
    return 0;
}
