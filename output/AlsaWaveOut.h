#pragma once

#include "output/WaveBlockQueue.h"
#include "output/WaveOutDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

typedef struct _snd_pcm snd_pcm_t;

namespace zumo {

// The wave-out device on ALSA's default PCM device (on a desktop that
// reaches PipeWire or PulseAudio through ALSA's plugins).
//
// How a block counts as played: one writer thread per open device owns the
// ALSA handle and makes every ALSA call, each one completed before the next
// request is looked at. It feeds the queued blocks in order, without
// blocking (non-blocking mode, only as many frames as the device has room
// for), and counts the frames written since the stream was last reset. The
// frames played are that count minus snd_pcm_delay (frames the device still
// has to play, including the sound server's latency); a block is done once
// the played count has passed its last frame. An underrun means everything
// written has played. The writer looks again when half of what the device
// holds has played, and at least every 200 ms, so a block is reported played
// at most 200 ms after the device has played it; whoever waits in
// WaitForChange is woken then. Write itself only queues the block and
// returns at once. The ALSA buffer holds about a second.
//
// A lost device (the sound server went away, the card was unplugged) is
// told from an underrun: an underrun recovers with snd_pcm_prepare, a lost
// device does not, or answers with an error that only a vanished device
// gives. The writer then closes the handle at once, prints one line, and
// opens the device again with the same format about once a second, waiting
// on its condition variable in between. The queued blocks stay queued and
// count as not played, so whoever waits for them waits on; when the device
// is back, feeding goes on from the first frame that had not been heard.
//
// Pause pauses the ALSA stream (snd_pcm_pause); a device that cannot pause
// is stopped and later fed again from the first frame not yet played.
// Callers' requests (pause, restart, reset, close) are carried out by the
// writer thread and the call returns once it is done.
class AlsaWaveOut : public WaveOutDevice {
public:
    explicit AlsaWaveOut(std::string deviceName = "default");
    ~AlsaWaveOut() override;
    AlsaWaveOut(const AlsaWaveOut&) = delete;
    AlsaWaveOut& operator=(const AlsaWaveOut&) = delete;

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
    // An ALSA handle opened for a format, ready to be fed.
    struct Handle {
        snd_pcm_t* pcm = nullptr;
        bool canPause = false;
    };
    // Opens the device with the given format: kOk and the handle, or the
    // error the wave-out calls give. Used by Open and when a lost device is
    // opened again.
    uint32_t OpenWithFormat(const WaveFormat& format, Handle& handle) const;

    void Run();
    // Closes the handle after a loss; the queued blocks wait for the device
    // to come back. Called by the writer with the lock held.
    void LoseDevice(int error, std::unique_lock<std::mutex>& l);
    // Tries to open the device again; true when it is back.
    bool TryReopen(std::unique_lock<std::mutex>& l);
    // Marks the blocks whose last frame has been played as done.
    void RetirePlayed(uint64_t playedFrames);
    void DropQueue();
    uint32_t SetPaused(bool on);
    // Asks the writer for a request and waits until it has been carried out.
    void Request(uint64_t& counter, const uint64_t& done, std::unique_lock<std::mutex>& l);

    std::string name;
    WaveFormat format;
    snd_pcm_t* pcm = nullptr; // only the writer touches it while the writer runs; none while lost
    std::thread writer;
    bool open = false;
    uint32_t frameBytes = 4;
    uint32_t rate = 44100;
    bool canPause = false;

    std::mutex lock;
    std::condition_variable wake;    // wakes the writer
    std::condition_variable done;    // tells callers a request was carried out
    std::condition_variable changed; // tells WaitForChange that `changes` grew
    uint64_t changes = 0;            // blocks played or dropped, and Wake calls
    WaveBlockQueue blocks;
    uint64_t written = 0;     // frames handed to ALSA since the last reset
    uint64_t played = 0;      // frames heard since the last reset, as last measured
    uint64_t heardBefore = 0; // frames heard before the last reset
    bool lost = false;        // the device went away; pcm is closed
    std::chrono::steady_clock::time_point nextReopen{};
    bool pauseWanted = false;
    bool pauseApplied = false;
    uint64_t resetAsked = 0, resetDone = 0;
    bool quit = false;
};

} // namespace zumo
