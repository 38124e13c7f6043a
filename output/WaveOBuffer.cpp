#include "output/WaveOBuffer.h"

#include "output/OutputError.h"
#include "output/SystemWaveOut.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace zumo {

namespace {

constexpr int32_t kFramesPerBlock = 32;
// Bytes per channel of 32 frames of 1,152 samples.
constexpr uint32_t kBytesPerChannel = 73728;
constexpr auto kPollInterval = std::chrono::milliseconds(20);
// A device that tells when a block has played wakes the decoder itself, and
// so do a stop and a pause; this bound only keeps a lost wakeup from
// holding the decoder for long. Each wait that runs out wakes the decoding
// thread for nothing: a second rather than 200 ms keeps that to once a second.
constexpr auto kLongestWait = std::chrono::milliseconds(1000);

} // namespace

WaveOBuffer::WaveOBuffer(int32_t channelCount, int32_t frequency, int32_t layer, uint8_t version,
                         std::unique_ptr<WaveOutDevice> outputDevice)
    : channels(channelCount == 1 ? 1 : 2), device(std::move(outputDevice)) {
    uint32_t size = static_cast<uint32_t>(channels) * kBytesPerChannel;
    if (layer == 1) size /= 3;                 // 32 frames of 384 samples
    if (version == 0 && layer == 3) size /= 2; // MPEG-2 Layer III: 32 frames of 576 samples
    blockSize = static_cast<int32_t>(size);

    primed = 0;
    headerSize = WaveOutDevice::kHeaderSize;
    format.formatTag = 1;
    format.channels = static_cast<uint16_t>(channels);
    format.samplesPerSec = frequency > 0 ? static_cast<uint32_t>(frequency) : 0;
    format.blockAlign = static_cast<uint16_t>(channels * 2);
    format.avgBytesPerSec = format.samplesPerSec * format.blockAlign;
    format.bitsPerSample = 16;
    format.extraSize = 0;

    if (!device || device->Open(format) != WaveOutDevice::kOk) throw OutputError("Output device failure");

    frameCount = 0;
    MakeBlocks();
    ResetWritePositions();
    stopFlag.store(false);
}

void WaveOBuffer::MakeBlocks() {
    for (size_t i = 0; i < storage.size(); ++i) {
        data[i].assign(static_cast<size_t>(blockSize), 0);
        storage[i] = WaveBlock{};
        storage[i].data = data[i].data();
        storage[i].bufferLength = static_cast<uint32_t>(blockSize);
        blocks[i] = &storage[i];
    }
}

WaveOBuffer::~WaveOBuffer() {
    if (released.load()) return; // the device is closed already
    // A paused device would never finish the queued blocks: when nobody
    // restarted it, the queued audio is dropped as after a stop.
    const bool drop = stopFlag.load() || paused.load();
    if (drop) {
        device->Reset();
    } else {
        QueueTail();
    }
    for (int i = 2; i >= 0; --i) {
        if (blocks[static_cast<size_t>(i)]->queued && !drop) WaitUntilPlayed(*blocks[static_cast<size_t>(i)], true);
    }
    // Every block has played or was dropped, so Close succeeds; should a
    // device still hold one, it is dropped rather than waited for forever.
    while (device->Close() == WaveOutDevice::kStillPlaying) {
        device->Reset();
        std::this_thread::sleep_for(kPollInterval);
    }
    std::this_thread::sleep_for(kPollInterval);
}

void WaveOBuffer::QueueTail(bool padToBlock) {
    if (primed == 1) {
        Queue(*blocks[0]); // the one full block never written
        primed = 2;
    }
    if (frameCount != 0) {
        if (padToBlock) {
            // The partly filled block, padded with silence to a whole block.
            const int32_t from = std::clamp(writePos[channels - 1], 0, blockSize);
            std::fill(blocks[2]->data + from, blocks[2]->data + blockSize, uint8_t{0});
            blocks[2]->bufferLength = static_cast<uint32_t>(blockSize);
        } else {
            blocks[2]->bufferLength = FilledBytes();
        }
        if (blocks[2]->bufferLength > 0) {
            Queue(*blocks[2]);
            Rotate();
        }
        frameCount = 0;
        ResetWritePositions();
    }
}

void WaveOBuffer::WaitForQueued() {
    // A pause meanwhile holds the queued audio where it is; a stop drops it.
    for (int i = 2; i >= 0; --i) {
        WaveBlock& block = *blocks[static_cast<size_t>(i)];
        if (block.queued) {
            WaitUntilPlayed(block, false);
            block.queued = false;
        }
    }
}

void WaveOBuffer::Finish() {
    if (stopFlag.load()) return;
    QueueTail();
    WaitForQueued();
}

void WaveOBuffer::Release() {
    if (released.exchange(true)) return;
    device->Reset();
    while (device->Close() == WaveOutDevice::kStillPlaying) {
        device->Reset();
        std::this_thread::sleep_for(kPollInterval);
    }
    for (WaveBlock& block : storage) {
        device->Unprepare(block, headerSize);
        block.queued = false;
    }
}

int64_t WaveOBuffer::HeardMicroseconds() {
    // Frames heard since the device was opened in the present format; the
    // device keeps the count after it has been closed. What was heard in
    // earlier formats stands before it.
    std::lock_guard<std::mutex> lock(clockLock);
    if (reopening || format.samplesPerSec == 0) return heardBefore;
    const uint64_t frames = device->PlayedFrames() - framesAtOpen;
    return heardBefore + static_cast<int64_t>(frames * 1000000 / format.samplesPerSec);
}

void WaveOBuffer::NewFormat(int32_t channelCount, int32_t frequency) {
    // What was decoded in the old format is heard whole, without silence
    // added behind it, before the device changes format.
    if (!stopFlag.load()) {
        QueueTail(false);
        WaitForQueued();
    }
    {
        std::lock_guard<std::mutex> lock(clockLock);
        if (format.samplesPerSec > 0)
            heardBefore += static_cast<int64_t>((device->PlayedFrames() - framesAtOpen) * 1000000 /
                                                format.samplesPerSec);
        reopening = true;
    }
    device->Reset();
    while (device->Close() == WaveOutDevice::kStillPlaying) {
        device->Reset();
        std::this_thread::sleep_for(kPollInterval);
    }

    // Blocks hold as many frames as before, of the new channel count.
    const int32_t perChannel = blockSize / channels;
    channels = channelCount == 1 ? 1 : 2;
    blockSize = perChannel * channels;
    WaveFormat next = format;
    next.channels = static_cast<uint16_t>(channels);
    next.samplesPerSec = frequency > 0 ? static_cast<uint32_t>(frequency) : 0;
    next.blockAlign = static_cast<uint16_t>(channels * 2);
    next.avgBytesPerSec = next.samplesPerSec * next.blockAlign;
    MakeBlocks();
    primed = 0;
    frameCount = 0;
    ResetWritePositions();
    const bool opened = device->Open(next) == WaveOutDevice::kOk;
    {
        std::lock_guard<std::mutex> lock(clockLock);
        format = next;
        framesAtOpen = device->PlayedFrames();
        reopening = false;
    }
    if (!opened) throw OutputError("Output device failure");
}

void WaveOBuffer::Append(int32_t channel, int16_t sample) {
    // A channel the device format does not have is ignored; a sample beyond
    // the end of the block (a Layer II frame after a Layer I start, say) is
    // dropped, and WriteBuffer queues the full block at the end of the frame.
    if (channel < 0 || channel >= channels) return;
    const int32_t pos = writePos[channel];
    if (pos + 2 > blockSize) return;
    const auto value = static_cast<uint16_t>(sample);
    uint8_t* out = blocks[2]->data;
    out[pos] = static_cast<uint8_t>(value & 0xff);
    out[pos + 1] = static_cast<uint8_t>(value >> 8);
    writePos[channel] = pos + channels * 2;
}

void WaveOBuffer::AppendBlock(int32_t channel, const int16_t* samples, int32_t count) {
    // As Append sample by sample: what does not fit in the block is dropped.
    if (channel < 0 || channel >= channels) return;
    int32_t pos = writePos[channel];
    uint8_t* out = blocks[2]->data;
    for (int32_t i = 0; i < count && pos + 2 <= blockSize; ++i, pos += channels * 2) {
        const auto value = static_cast<uint16_t>(samples[i]);
        out[pos] = static_cast<uint8_t>(value & 0xff);
        out[pos + 1] = static_cast<uint8_t>(value >> 8);
    }
    writePos[channel] = pos;
}

void WaveOBuffer::WriteBuffer() {
    frameCount += 1;
    if (frameCount % kFramesPerBlock != 0 && !BlockFull()) return;
    frameCount = 0;

    if (stopFlag.load()) {
        // The track is abandoned: nothing more is queued, the block is reused.
        ResetWritePositions();
        return;
    }

    // The block is queued with the bytes the frames actually filled: fewer
    // than blockSize only when frames carried fewer samples than the first
    // frame promised (frames without audio, a change of layer or version),
    // and then no stale audio of an earlier block is played.
    blocks[2]->bufferLength = FilledBytes();

    if (primed == 2) {
        Queue(*blocks[2]);
        Rotate();
        // Wait for the block queued two turns earlier; its `queued` mark stays set.
        if (blocks[2]->queued) WaitUntilPlayed(*blocks[2], false);
    } else {
        primed += 1;
        if (primed == 1) {
            // The first full block waits in blocks[0] until the second is full.
            Rotate();
        } else {
            Queue(*blocks[0]);
            Rotate();
            Queue(*blocks[0]);
        }
    }
    ResetWritePositions();
}

void WaveOBuffer::ClearBuffer() {
    device->Reset();
    for (size_t i = 0; i < storage.size(); ++i) {
        if (storage[i].queued) device->Unprepare(storage[i], headerSize);
        storage[i].queued = false;
        storage[i].bufferLength = static_cast<uint32_t>(blockSize);
        std::fill(data[i].begin(), data[i].end(), uint8_t{0});
    }
    ResetWritePositions();
    primed = 0;
    frameCount = 0;
}

// Both wake a decode thread waiting for a block, which then looks at the flags.
void WaveOBuffer::SetStopFlag() {
    stopFlag.store(true);
    device->Wake();
}

void WaveOBuffer::Pause() {
    paused.store(true);
    device->Pause();
    device->Wake();
}

void WaveOBuffer::Restart() {
    paused.store(false);
    device->Restart();
}

void WaveOBuffer::Rotate() {
    WaveBlock* last = blocks[2];
    blocks[2] = blocks[1];
    blocks[1] = blocks[0];
    blocks[0] = last;
}

void WaveOBuffer::Queue(WaveBlock& block) {
    device->Prepare(block, headerSize);
    device->Write(block, headerSize);
    block.queued = true;
}

uint32_t WaveOBuffer::FilledBytes() const {
    const int32_t step = channels * 2;
    int32_t filled = 0;
    for (int32_t c = 0; c < channels; ++c) filled = std::max(filled, writePos[c] - 2 * c);
    filled = std::min(filled, blockSize);
    // A channel that got fewer samples than the other is filled up with
    // silence, so that no stale samples remain inside the block.
    uint8_t* out = blocks[2]->data;
    for (int32_t c = 0; c < channels; ++c) {
        for (int32_t p = writePos[c]; p + 1 < filled; p += step) {
            out[p] = 0;
            out[p + 1] = 0;
        }
    }
    return static_cast<uint32_t>(filled);
}

bool WaveOBuffer::BlockFull() const {
    for (int32_t c = 0; c < channels; ++c) {
        if (writePos[c] + 2 > blockSize) return true;
    }
    return false;
}

void WaveOBuffer::WaitUntilPlayed(WaveBlock& block, bool dropWhenPaused) {
    for (;;) {
        // Read before looking at the block, so that a block that finishes
        // in between still ends the wait below at once.
        const uint64_t seen = device->Changes();
        if (device->Unprepare(block, headerSize) != WaveOutDevice::kStillPlaying) return;
        // Stop while waiting (possibly while paused) must never hang the
        // decode thread: the player joins it after setting the flag.
        if (stopFlag.load() || (dropWhenPaused && paused.load())) {
            device->Reset();
            device->Unprepare(block, headerSize);
            return;
        }
        if (!device->WaitForChange(seen, kLongestWait)) std::this_thread::sleep_for(kPollInterval);
    }
}

void WaveOBuffer::ResetWritePositions() {
    writePos[0] = 0;
    writePos[1] = 2;
}

std::unique_ptr<OBuffer> NewWaveOBuffer(uint8_t mode, ChannelChoice whichChannels, int32_t frequency, int32_t layer,
                                        uint8_t version, std::unique_ptr<WaveOutDevice> device) {
    const int32_t channels = OutputChannels(mode, whichChannels);
    if (!device) device = std::make_unique<SystemWaveOut>("");
    try {
        return std::make_unique<WaveOBuffer>(channels, frequency, layer, version, std::move(device));
    } catch (const OutputError&) {
        return nullptr;
    }
}

} // namespace zumo
