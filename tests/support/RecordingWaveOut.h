#pragma once

#include "output/WaveOutDevice.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace zumo::test {

// A wave-out device for tests. It records every block written (order, size,
// content) and "plays" a block only when the test says so, or at once in
// the automatic mode, so that a player under test never waits. Its log
// outlives the device, so a test can look at what the destructor of a
// buffer queued.
class RecordingWaveOut : public WaveOutDevice {
public:
    struct Block {
        uint32_t size = 0;
        std::vector<uint8_t> bytes;
    };

    class Log {
    public:
        // Automatic mode: every block is played as soon as it is written
        // (and the device is not paused).
        void SetAutoPlay(bool on);
        void SetFailOpen(bool on);
        // Whether the device wakes a waiting caller when a block plays (or
        // is dropped) instead of leaving it to poll; off by default.
        void SetNotifies(bool on);
        // Plays up to n of the oldest queued blocks; answers how many were
        // played. Nothing plays while the device is paused.
        int PlayNext(int n = 1);
        int PlayAll();
        // Waits (up to timeoutMs) until at least n blocks have been written.
        bool WaitForWritten(size_t n, int timeoutMs = 5000);
        // Waits until Unprepare has answered "still playing" at least n times.
        bool WaitForStillPlaying(int n, int timeoutMs = 5000);

        std::vector<Block> Written();
        std::vector<Block> Played();
        // The content of every played block, one after the other.
        std::vector<uint8_t> PlayedBytes();
        size_t QueuedCount();
        WaveFormat Format();
        int OpenCalls();
        int CloseCalls();
        int ResetCalls();
        int PauseCalls();
        int RestartCalls();
        int StillPlayingAnswers();
        // How often WaitForChange was called.
        int ChangeWaits();
        bool IsOpen();
        bool IsPaused();

    private:
        friend class RecordingWaveOut;
        void PlayLocked(size_t n);

        std::mutex lock;
        std::condition_variable changed;
        bool autoPlay = false;
        bool failOpen = false;
        bool notifies = false;
        uint64_t changes = 0;
        int changeWaits = 0;
        bool open = false;
        bool paused = false;
        WaveFormat format;
        std::deque<WaveBlock*> queue;
        std::vector<Block> written;
        std::vector<Block> played;
        int openCalls = 0, closeCalls = 0, resetCalls = 0, pauseCalls = 0, restartCalls = 0;
        int stillPlaying = 0;
    };

    explicit RecordingWaveOut(std::shared_ptr<Log> log = std::make_shared<Log>());
    ~RecordingWaveOut() override;

    std::shared_ptr<Log> GetLog() const { return log; }

    uint32_t Open(const WaveFormat& format) override;
    uint32_t Prepare(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Write(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Unprepare(WaveBlock& block, uint32_t headerSize) override;
    uint32_t Reset() override;
    uint32_t Pause() override;
    uint32_t Restart() override;
    uint32_t Close() override;
    uint64_t Changes() override;
    bool WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) override;
    void Wake() override;
    uint64_t PlayedFrames() override;

private:
    std::shared_ptr<Log> log;
};

} // namespace zumo::test
