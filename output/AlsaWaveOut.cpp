#include "output/AlsaWaveOut.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <pthread.h>

namespace zumo {

namespace {

// An ALSA buffer of about a second, topped up when half of what it holds
// has played: a busy machine may hold the writer back for some 500 ms
// before the sound breaks, and the writer wakes only about twice a second.
// Every wakeup costs the writer and the sound server's client thread alike,
// and the sound server asks for more once per ALSA period (a quarter of the
// buffer): with 400 ms the client thread ran 21 times a second, with a
// second 9 times. Pause and stop act on the device at once, whatever it
// holds.
constexpr unsigned kLatencyUs = 1000000;
constexpr auto kMaxIdle = std::chrono::milliseconds(500);

} // namespace

AlsaWaveOut::AlsaWaveOut(std::string deviceName) : name(std::move(deviceName)) {}

AlsaWaveOut::~AlsaWaveOut() {
    if (!open) return;
    // A device destroyed while still playing drops what is queued.
    Reset();
    Close();
}

uint32_t AlsaWaveOut::Open(const WaveFormat& f) {
    std::unique_lock<std::mutex> l(lock);
    if (open) return kError;
    if (f.formatTag != 1 || f.channels < 1 || f.channels > 2 || f.bitsPerSample != 16 || f.samplesPerSec == 0 ||
        f.blockAlign != f.channels * 2)
        return kBadFormat;
    snd_pcm_t* handle = nullptr;
    if (snd_pcm_open(&handle, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return kError;
    if (snd_pcm_set_params(handle, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, f.channels,
                           f.samplesPerSec, 1, kLatencyUs) < 0) {
        snd_pcm_close(handle);
        return kBadFormat;
    }
    // Start as soon as anything is written: a short last block must play
    // even though it never fills the ALSA buffer.
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    if (snd_pcm_sw_params_current(handle, sw) < 0 || snd_pcm_sw_params_set_start_threshold(handle, sw, 1) < 0 ||
        snd_pcm_sw_params(handle, sw) < 0) {
        snd_pcm_close(handle);
        return kError;
    }
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    canPause = snd_pcm_hw_params_current(handle, hw) == 0 && snd_pcm_hw_params_can_pause(hw) == 1;

    pcm = handle;
    frameBytes = f.blockAlign;
    rate = f.samplesPerSec;
    head = count = 0;
    queueStart = written = 0;
    pauseWanted = pauseApplied = false;
    resetAsked = resetDone = 0;
    quit = false;
    open = true;
    writer = std::thread([this] { Run(); });
    return kOk;
}

uint32_t AlsaWaveOut::Prepare(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> l(lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (!open) return kNotOpen;
    if (b.flags & kFlagInQueue) return kStillPlaying;
    b.flags |= kFlagPrepared;
    return kOk;
}

uint32_t AlsaWaveOut::Write(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> l(lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (!open) return kNotOpen;
    if (!(b.flags & kFlagPrepared)) return kUnprepared;
    if (b.flags & kFlagInQueue) return kStillPlaying;
    if (b.data == nullptr && b.bufferLength > 0) return kInvalidParam;
    if (count == kQueueCapacity) return kError;
    b.flags = (b.flags & ~kFlagDone) | kFlagInQueue;
    queue[(head + count) % kQueueCapacity] = &b;
    ++count;
    wake.notify_all();
    return kOk;
}

uint32_t AlsaWaveOut::Unprepare(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> l(lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (b.flags & kFlagInQueue) return kStillPlaying;
    b.flags &= ~kFlagPrepared;
    return kOk;
}

void AlsaWaveOut::Request(uint64_t& counter, const uint64_t& doneCounter, std::unique_lock<std::mutex>& l) {
    const uint64_t ticket = ++counter;
    wake.notify_all();
    done.wait(l, [&] { return doneCounter >= ticket || !open; });
}

uint32_t AlsaWaveOut::Reset() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    Request(resetAsked, resetDone, l);
    return kOk;
}

uint32_t AlsaWaveOut::Pause() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    pauseWanted = true;
    wake.notify_all();
    done.wait(l, [&] { return pauseApplied == pauseWanted || !open; });
    return kOk;
}

uint32_t AlsaWaveOut::Restart() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    pauseWanted = false;
    wake.notify_all();
    done.wait(l, [&] { return pauseApplied == pauseWanted || !open; });
    return kOk;
}

uint32_t AlsaWaveOut::Close() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    if (count > 0) return kStillPlaying;
    quit = true;
    wake.notify_all();
    l.unlock();
    writer.join();
    l.lock();
    snd_pcm_drop(pcm);
    snd_pcm_close(pcm);
    pcm = nullptr;
    open = false;
    done.notify_all();
    changed.notify_all();
    return kOk;
}

uint64_t AlsaWaveOut::Changes() {
    std::lock_guard<std::mutex> l(lock);
    return changes;
}

bool AlsaWaveOut::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> l(lock);
    changed.wait_for(l, timeout, [&] { return changes != seen || !open; });
    return true;
}

void AlsaWaveOut::Wake() {
    {
        std::lock_guard<std::mutex> l(lock);
        ++changes;
    }
    changed.notify_all();
}

uint64_t AlsaWaveOut::FramesOf(const WaveBlock& b) const { return b.bufferLength / frameBytes; }

void AlsaWaveOut::RetirePlayed(uint64_t played) {
    const size_t before = count;
    while (count > 0) {
        WaveBlock* b = queue[head];
        const uint64_t end = queueStart + FramesOf(*b);
        if (end > played || end > written) break;
        b->flags = (b->flags & ~kFlagInQueue) | kFlagDone;
        queueStart = end;
        head = (head + 1) % kQueueCapacity;
        --count;
    }
    if (count != before) {
        ++changes;
        changed.notify_all();
    }
}

void AlsaWaveOut::DropQueue() {
    while (count > 0) {
        WaveBlock* b = queue[head];
        b->flags = (b->flags & ~kFlagInQueue) | kFlagDone;
        head = (head + 1) % kQueueCapacity;
        --count;
    }
    queueStart = written = 0;
    ++changes;
    changed.notify_all();
}

// The writer thread. The lock is released around every ALSA call; only this
// thread touches the handle and removes blocks from the queue, so a block it
// is writing from cannot go away meanwhile.
void AlsaWaveOut::Run() {
    (void)pthread_setname_np(pthread_self(), "zumo-alsa");
    std::unique_lock<std::mutex> l(lock);
    bool alsaPaused = false;
    while (!quit) {
        if (resetDone < resetAsked) {
            l.unlock();
            snd_pcm_drop(pcm);
            snd_pcm_prepare(pcm);
            l.lock();
            alsaPaused = false;
            DropQueue();
            resetDone = resetAsked;
            done.notify_all();
            continue;
        }
        if (pauseApplied != pauseWanted) {
            const bool want = pauseWanted;
            l.unlock();
            bool rewind = false;
            snd_pcm_sframes_t delay = 0;
            if (want) {
                if (snd_pcm_state(pcm) == SND_PCM_STATE_RUNNING) {
                    if (snd_pcm_delay(pcm, &delay) < 0) delay = 0;
                    if (canPause && snd_pcm_pause(pcm, 1) == 0) {
                        alsaPaused = true;
                    } else {
                        // No pause on this device: stop it and feed it again
                        // later from the first frame not yet played.
                        snd_pcm_drop(pcm);
                        snd_pcm_prepare(pcm);
                        rewind = true;
                    }
                }
            } else if (alsaPaused) {
                if (snd_pcm_pause(pcm, 0) < 0) snd_pcm_prepare(pcm);
                alsaPaused = false;
            }
            l.lock();
            if (rewind) {
                const uint64_t unplayed = std::min<uint64_t>(static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)),
                                                             written - queueStart);
                written -= unplayed;
                RetirePlayed(written);
            }
            pauseApplied = want;
            done.notify_all();
            continue;
        }
        if (pauseApplied || count == 0) {
            wake.wait(l);
            continue;
        }

        // Find the block and the frame where writing goes on.
        uint64_t offset = written - queueStart;
        WaveBlock* block = nullptr;
        for (size_t i = 0; i < count; ++i) {
            WaveBlock* b = queue[(head + i) % kQueueCapacity];
            if (offset < FramesOf(*b)) {
                block = b;
                break;
            }
            offset -= FramesOf(*b);
        }

        l.unlock();
        bool wrote = false;
        uint64_t added = 0;
        bool allPlayed = false;
        snd_pcm_sframes_t delay = 0;
        if (block != nullptr) {
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
            if (avail < 0) {
                if (snd_pcm_recover(pcm, static_cast<int>(avail), 1) < 0) snd_pcm_prepare(pcm);
            } else if (avail > 0) {
                const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(avail), FramesOf(*block) - offset);
                const snd_pcm_sframes_t r = snd_pcm_writei(pcm, block->data + offset * frameBytes, n);
                if (r > 0) {
                    added = static_cast<uint64_t>(r);
                    wrote = true;
                } else if (r < 0 && r != -EAGAIN) {
                    if (snd_pcm_recover(pcm, static_cast<int>(r), 1) < 0) snd_pcm_prepare(pcm);
                }
            }
        }
        const int err = snd_pcm_delay(pcm, &delay);
        const snd_pcm_state_t state = snd_pcm_state(pcm);
        if (err == -EPIPE || state == SND_PCM_STATE_XRUN) {
            // An underrun: everything written so far has been played.
            allPlayed = true;
            snd_pcm_prepare(pcm);
        } else if (err < 0) {
            if (snd_pcm_recover(pcm, err, 1) < 0) snd_pcm_prepare(pcm);
            delay = 0;
            allPlayed = (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING);
        } else if (state != SND_PCM_STATE_RUNNING && state != SND_PCM_STATE_PAUSED && state != SND_PCM_STATE_DRAINING) {
            // Not running (and not started again): nothing written is waiting.
            allPlayed = !wrote;
        }
        l.lock();
        if (resetDone < resetAsked) continue;  // the reset is carried out first
        written += added;
        uint64_t played = written;
        if (!allPlayed) {
            const uint64_t pending = std::min<uint64_t>(static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)),
                                                        written - queueStart);
            played = written - pending;
        }
        RetirePlayed(played);
        if (wrote) continue;  // there may be more room right away
        // Wait for room, or for the frames still to be played; requests wake us at once.
        uint64_t waitMs = 1;
        if (delay > 0) waitMs = static_cast<uint64_t>(delay) * 1000 / rate / 2;
        waitMs = std::clamp<uint64_t>(waitMs, 1, static_cast<uint64_t>(kMaxIdle.count()));
        wake.wait_for(l, std::chrono::milliseconds(waitMs));
    }
}

} // namespace zumo
