#pragma once

#include "output/ChannelChoice.h"
#include "output/OBuffer.h"
#include "output/WaveOutDevice.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace zumo {

// Gathers 32 decoded frames into one device block and plays the blocks
// through a wave-out device with three blocks in rotation: two are queued
// at the device while the decoder fills the third. When the third is full
// it is queued and the decode thread waits until the block queued two turns
// earlier has played; that wait paces decoding. A device that tells when a
// block has played wakes the decode thread; any other is polled every 20 ms.
//
// Append and WriteBuffer run on the decode thread; SetStopFlag, Pause and
// Restart may come from any other thread; Finish and Release run on the
// decode thread at the end of the stream; the destructor runs on the
// owner's thread and plays out whatever tail is left unless the stop flag
// is set or the device was released. HeardMicroseconds may be asked from
// any thread.
class WaveOBuffer : public OBuffer {
public:
    // Opens the device; throws OutputError("Output device failure") when it
    // cannot be opened with the format.
    WaveOBuffer(int32_t channels, int32_t frequency, int32_t layer, uint8_t version,
                std::unique_ptr<WaveOutDevice> device);
    ~WaveOBuffer() override;
    WaveOBuffer(const WaveOBuffer&) = delete;
    WaveOBuffer& operator=(const WaveOBuffer&) = delete;

    void Append(int32_t channel, int16_t sample) override;
    void AppendBlock(int32_t channel, const int16_t* samples, int32_t count) override;
    void WriteBuffer() override;
    void ClearBuffer() override;
    void SetStopFlag() override;
    void Pause() override;
    void Restart() override;
    void Finish() override;
    void Release() override;
    int64_t HeardMicroseconds() override;
    // Plays out everything queued in the old format, then closes the device
    // and opens it again with the new one; throws OutputError("Output
    // device failure") when it cannot be opened so.
    void NewFormat(int32_t channels, int32_t frequency) override;

    int32_t Channels() const { return channels; }
    int32_t BlockSize() const { return blockSize; }
    const WaveFormat& Format() const { return format; }

private:
    // The three blocks, zeroed, of blockSize bytes each, in rotation order.
    void MakeBlocks();
    void Rotate();
    void Queue(WaveBlock& block);
    // Queues the blocks not yet written: the first full block while it
    // waits for a second, and the partly filled one, padded with silence to
    // a whole block at the end of the stream, or as far as it is filled.
    void QueueTail(bool padToBlock = true);
    // Waits until every queued block has played (a stop cuts it short).
    void WaitForQueued();
    uint32_t FilledBytes() const;
    bool BlockFull() const;
    // Waits until Unprepare tells that the block is no longer playing; a
    // stop (or, in the destructor, a pause that nobody will end) drops the
    // queued audio instead of waiting for it.
    void WaitUntilPlayed(WaveBlock& block, bool dropWhenPaused);
    void ResetWritePositions();

    int32_t writePos[2] = {0, 2};
    int32_t channels = 0;
    WaveFormat format;
    std::array<WaveBlock, 3> storage;         // the three block headers
    std::array<std::vector<uint8_t>, 3> data; // their sample data, allocated once
    std::array<WaveBlock*, 3> blocks{};       // the rotation; blocks[2] is being filled
    std::unique_ptr<WaveOutDevice> device;
    int32_t frameCount = 0;
    uint32_t headerSize = WaveOutDevice::kHeaderSize;
    int32_t primed = 0;
    int32_t blockSize = 0;
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> paused{false};
    std::atomic<bool> released{false};
    // The clock of HeardMicroseconds across changes of format: what was
    // heard in earlier formats, and the device's count when it was opened
    // in the present one; while the device is being opened again, the
    // clock stands.
    std::mutex clockLock;
    int64_t heardBefore = 0;
    uint64_t framesAtOpen = 0;
    bool reopening = false;
};

// Makes the output buffer for a stream: one channel when the mode is 3
// (single channel) or a single channel was chosen, else two. A null device
// means the system's sound output (SystemWaveOut) with a stream of no name
// of its own. Gives nullptr when the device cannot be opened.
std::unique_ptr<OBuffer> NewWaveOBuffer(uint8_t mode, ChannelChoice whichChannels, int32_t frequency, int32_t layer,
                                        uint8_t version, std::unique_ptr<WaveOutDevice> device = nullptr);

} // namespace zumo
