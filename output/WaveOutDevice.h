#pragma once

#include <chrono>
#include <cstdint>

namespace zumo {

// PCM format of a wave-out device: 16-bit signed little-endian samples,
// interleaved by channel.
struct WaveFormat {
    uint16_t formatTag = 1; // 1: PCM
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0; // samplesPerSec * blockAlign
    uint16_t blockAlign = 0;     // channels * 2
    uint16_t bitsPerSample = 16;
    uint16_t extraSize = 0;
};

// One block of audio handed to the device. The data belongs to the caller;
// from Write until Unprepare answers anything but kStillPlaying (or until
// Reset returns) the device reads it and the caller must leave it alone.
// `flags` belongs to the device while the block is prepared; `queued` is
// the caller's own mark, which no device reads.
struct WaveBlock {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0; // bytes of sample data to play
    uint32_t bytesRecorded = 0;
    bool queued = false; // written by the caller, not yet seen played
    uint32_t flags = 0;
    uint32_t loops = 0;
};

// A sound device with the semantics of the classic wave-out calls: open
// with a PCM format, prepare a block, write it (it is queued and played in
// order), unprepare it, which answers kStillPlaying until it has been
// played, reset (drops every queued block), and close. Pause stops the
// queued audio at once; Restart continues from the same sample.
//
// Every operation is safe to call from any thread, also while another
// thread is inside one (the decode thread writes and unprepares while the
// player's owner pauses and restarts). Results are kOk or an error code.
class WaveOutDevice {
public:
    static constexpr uint32_t kOk = 0;
    static constexpr uint32_t kError = 1;         // unspecified failure
    static constexpr uint32_t kNotOpen = 5;       // no device is open
    static constexpr uint32_t kInvalidParam = 11; // bad block or format
    static constexpr uint32_t kBadFormat = 32;    // the device cannot play the format
    static constexpr uint32_t kStillPlaying = 33; // the block (or a block) is still queued
    static constexpr uint32_t kUnprepared = 34;   // the block was not prepared

    // Block flags kept by the device.
    static constexpr uint32_t kFlagDone = 0x01; // played (or dropped by Reset)
    static constexpr uint32_t kFlagPrepared = 0x02;
    static constexpr uint32_t kFlagInQueue = 0x10; // written, not yet played

    // Size of the block header record handed with every block call, as the
    // wave-out calls expect; a call with another size is refused.
    static constexpr uint32_t kHeaderSize = 32;

    virtual ~WaveOutDevice() = default;

    virtual uint32_t Open(const WaveFormat& format) = 0;
    virtual uint32_t Prepare(WaveBlock& block, uint32_t headerSize) = 0;
    virtual uint32_t Write(WaveBlock& block, uint32_t headerSize) = 0;
    virtual uint32_t Unprepare(WaveBlock& block, uint32_t headerSize) = 0;
    virtual uint32_t Reset() = 0;
    virtual uint32_t Pause() = 0;
    virtual uint32_t Restart() = 0;
    // kStillPlaying while blocks are queued; the device stays open then.
    virtual uint32_t Close() = 0;

    // Waiting for a block without polling. Changes() is a count that grows
    // whenever a queued block has played or was dropped, and at every
    // Wake(). WaitForChange returns once the count differs from `seen` (read
    // before the caller last looked at its block) or `timeout` has passed,
    // and answers true. A device that keeps no such count answers false at
    // once: the caller then polls Unprepare on a timer of its own.
    virtual uint64_t Changes() { return 0; }
    virtual bool WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
        (void)seen;
        (void)timeout;
        return false;
    }
    virtual void Wake() {}

    // Frames of the written blocks that have been heard since Open, counted
    // on across Reset and across a device that was lost and came back;
    // frames dropped unplayed never count. It never runs ahead of the sound:
    // a device that cannot tell answers 0.
    virtual uint64_t PlayedFrames() { return 0; }
};

} // namespace zumo
