#include "output/WaveBlockQueue.h"

namespace zumo {

void WaveBlockQueue::Push(WaveBlock& block) {
    block.flags = (block.flags & ~WaveOutDevice::kFlagDone) | WaveOutDevice::kFlagInQueue;
    blocks[(head + count) % kCapacity] = &block;
    ++count;
}

WaveBlock* WaveBlockQueue::At(uint64_t position, uint64_t& offset) const {
    if (position < start) return nullptr;
    offset = position - start;
    for (size_t i = 0; i < count; ++i) {
        WaveBlock* b = blocks[(head + i) % kCapacity];
        if (offset < FramesOf(*b)) return b;
        offset -= FramesOf(*b);
    }
    return nullptr;
}

uint64_t WaveBlockQueue::OldestEnd() const { return count == 0 ? start : start + FramesOf(*blocks[head]); }

bool WaveBlockQueue::Retire(uint64_t heard) {
    const size_t before = count;
    while (count > 0 && OldestEnd() <= heard) {
        WaveBlock* b = blocks[head];
        b->flags = (b->flags & ~WaveOutDevice::kFlagInQueue) | WaveOutDevice::kFlagDone;
        start = OldestEnd();
        head = (head + 1) % kCapacity;
        --count;
    }
    return count != before;
}

void WaveBlockQueue::Clear() {
    while (count > 0) {
        WaveBlock* b = blocks[head];
        b->flags = (b->flags & ~WaveOutDevice::kFlagInQueue) | WaveOutDevice::kFlagDone;
        head = (head + 1) % kCapacity;
        --count;
    }
    start = 0;
}

} // namespace zumo
