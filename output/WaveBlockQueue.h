#pragma once

#include "output/WaveOutDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace zumo {

// The blocks written to a wave-out device and not yet played, oldest first,
// on a line of frame positions: the oldest block starts at Start(), each
// next one where the one before it ends. A device hands the frames on to
// the sound system from some position and counts them heard up to another;
// the queue finds the block that holds a position and lets go of the blocks
// that have been heard. Positions start again at 0 when the queue is
// cleared. It keeps no lock: the device guards it with its own.
class WaveBlockQueue {
public:
    static constexpr size_t kCapacity = 16;

    void SetFrameBytes(uint32_t bytes) { frameBytes = bytes; }
    uint64_t FramesOf(const WaveBlock& block) const { return block.bufferLength / frameBytes; }
    size_t Count() const { return count; }
    bool Full() const { return count == kCapacity; }
    uint64_t Start() const { return start; }

    // Queues a block after the others and marks it as in the queue.
    void Push(WaveBlock& block);
    // The block that holds the frame at `position` and the frame's place in
    // it, or null when the position lies past the last queued frame.
    WaveBlock* At(uint64_t position, uint64_t& offset) const;
    // Where the oldest block ends (Start() when the queue is empty).
    uint64_t OldestEnd() const;
    // The blocks whose last frame lies before `heard` are done and leave
    // the queue; answers whether any did.
    bool Retire(uint64_t heard);
    // Every block is done (dropped unplayed); positions start again at 0.
    void Clear();

private:
    std::array<WaveBlock*, kCapacity> blocks{};
    size_t head = 0;
    size_t count = 0;
    uint64_t start = 0;
    uint32_t frameBytes = 4;
};

} // namespace zumo
