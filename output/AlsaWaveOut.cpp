#include "output/AlsaWaveOut.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <pthread.h>

namespace zumo {

namespace {

// An ALSA buffer of about a second, topped up when half of what it holds
// has played: a busy machine may hold the writer back for some 500 ms
// before the sound breaks. Every wakeup costs the writer and the sound
// server's client thread alike, and the sound server asks for more once per
// ALSA period (a quarter of the buffer), so a longer buffer wakes both less
// often. The writer also looks at least every 200 ms, so that what it
// reports as heard is never more than that behind the sound (the elapsed
// time shown follows it). Pause and stop act on the device at once,
// whatever it holds.
constexpr unsigned kLatencyUs = 1000000;
constexpr auto kMaxIdle = std::chrono::milliseconds(200);
// How often a lost device is opened again.
constexpr auto kReopenInterval = std::chrono::seconds(1);
// ALSA's own messages: at most one line of each kind in this time.
constexpr auto kErrorQuietTime = std::chrono::seconds(5);

// ALSA prints its errors (and its plugins theirs, such as the pulse
// plugin's failed connection) to standard error by default: a device that
// keeps failing would flood it. This printer gives one line per kind of
// error (the place in ALSA that raised it) every few seconds, and says how
// many of that kind it left out. It may be called from any thread, the
// plugins' own included.
void QuietAlsaError(const char* file, int line, const char* function, int err, const char* fmt, ...) {
    struct Kind {
        const char* file = nullptr;
        int line = 0;
        std::chrono::steady_clock::time_point last{};
        int skipped = 0;
    };
    static std::mutex guard;
    static std::array<Kind, 16> kinds;
    static size_t nextSlot = 0;

    const auto now = std::chrono::steady_clock::now();
    int skipped = 0;
    {
        std::lock_guard<std::mutex> g(guard);
        Kind* kind = nullptr;
        for (Kind& k : kinds) {
            if (k.file != nullptr && k.line == line && std::strcmp(k.file, file ? file : "") == 0) kind = &k;
        }
        if (kind != nullptr && now - kind->last < kErrorQuietTime) {
            ++kind->skipped;
            return;
        }
        if (kind == nullptr) {
            // (The file names are ALSA's string constants: they stay.)
            kind = &kinds[nextSlot];
            nextSlot = (nextSlot + 1) % kinds.size();
            *kind = Kind{file ? file : "", line, {}, 0};
        }
        skipped = kind->skipped;
        kind->skipped = 0;
        kind->last = now;
    }
    char message[256];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(message, sizeof message, fmt, args);
    va_end(args);
    // (Some plugins end their messages with a line break of their own.)
    for (size_t n = std::strlen(message); n > 0 && (message[n - 1] == '\n' || message[n - 1] == ' '); --n)
        message[n - 1] = '\0';
    std::string text = std::string("ALSA: ") + (function ? function : "") + ": " + message;
    if (err != 0) text += std::string(" (") + snd_strerror(err) + ")";
    if (skipped > 0) text += " [" + std::to_string(skipped) + " more like it left out]";
    text += '\n';
    std::fputs(text.c_str(), stderr);
}

void InstallQuietAlsaErrors() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&QuietAlsaError); });
}

// Errors of a device that has gone: the sound server died or restarted, the
// card was unplugged, the handle broke. An underrun (EPIPE) is not among
// them: it is recovered from, and only counts as a loss when that fails.
// Answers 0 when the device plays on, else the error that tells it is gone
// (for an underrun, the error of the failed attempt to recover).
int Recover(snd_pcm_t* pcm, int err) {
    if (err == -EAGAIN) return 0;
    if (err == -EPIPE) return std::min(snd_pcm_prepare(pcm), 0);
    // The system was suspended: ALSA resumes the stream or prepares it anew.
    if (err == -ESTRPIPE) return std::min(snd_pcm_recover(pcm, err, 1), 0);
    return err; // EIO, EBADFD, ENODEV, ENOTTY and anything else
}

} // namespace

AlsaWaveOut::AlsaWaveOut(std::string deviceName) : name(std::move(deviceName)) {}

AlsaWaveOut::~AlsaWaveOut() {
    if (!open) return;
    // A device destroyed while still playing drops what is queued.
    Reset();
    Close();
}

uint32_t AlsaWaveOut::OpenWithFormat(const WaveFormat& f, Handle& out) const {
    InstallQuietAlsaErrors();
    snd_pcm_t* handle = nullptr;
    if (snd_pcm_open(&handle, name.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0) return kError;
    if (snd_pcm_set_params(handle, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, f.channels, f.samplesPerSec, 1,
                           kLatencyUs) < 0) {
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
    out.canPause = snd_pcm_hw_params_current(handle, hw) == 0 && snd_pcm_hw_params_can_pause(hw) == 1;
    out.pcm = handle;
    return kOk;
}

uint32_t AlsaWaveOut::Open(const WaveFormat& f) {
    std::unique_lock<std::mutex> l(lock);
    if (open) return kError;
    if (f.formatTag != 1 || f.channels < 1 || f.channels > 2 || f.bitsPerSample != 16 || f.samplesPerSec == 0 ||
        f.blockAlign != f.channels * 2)
        return kBadFormat;
    Handle handle;
    const uint32_t result = OpenWithFormat(f, handle);
    if (result != kOk) return result;

    pcm = handle.pcm;
    canPause = handle.canPause;
    format = f;
    frameBytes = f.blockAlign;
    rate = f.samplesPerSec;
    blocks.Clear();
    blocks.SetFrameBytes(frameBytes);
    written = played = heardBefore = 0;
    lost = false;
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
    if (blocks.Full()) return kError;
    blocks.Push(b);
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

// While the device is lost there is no handle to act on, and the writer
// may be busy opening the device again: requests are carried out at once
// rather than waited for, so that stop and pause never wait on a sound
// server that is slow to answer.

uint32_t AlsaWaveOut::Reset() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    if (lost) {
        DropQueue();
        return kOk;
    }
    Request(resetAsked, resetDone, l);
    return kOk;
}

uint32_t AlsaWaveOut::Pause() { return SetPaused(true); }

uint32_t AlsaWaveOut::Restart() { return SetPaused(false); }

uint32_t AlsaWaveOut::SetPaused(bool on) {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    pauseWanted = on;
    if (lost) {
        // A device opened again starts unpaused and is fed only while not paused.
        pauseApplied = on;
        return kOk;
    }
    wake.notify_all();
    done.wait(l, [&] { return pauseApplied == pauseWanted || !open; });
    return kOk;
}

uint32_t AlsaWaveOut::Close() {
    std::unique_lock<std::mutex> l(lock);
    if (!open) return kNotOpen;
    if (blocks.Count() > 0) return kStillPlaying;
    if (quit) {
        // Another caller is closing it: joining the writer twice would end the program.
        done.wait(l, [&] { return !open; });
        return kOk;
    }
    quit = true;
    wake.notify_all();
    l.unlock();
    writer.join();
    l.lock();
    // (A lost device has no handle left.)
    if (pcm != nullptr) {
        snd_pcm_drop(pcm);
        snd_pcm_close(pcm);
        pcm = nullptr;
    }
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

uint64_t AlsaWaveOut::PlayedFrames() {
    std::lock_guard<std::mutex> l(lock);
    return heardBefore + played;
}

void AlsaWaveOut::Wake() {
    {
        std::lock_guard<std::mutex> l(lock);
        ++changes;
    }
    changed.notify_all();
}

void AlsaWaveOut::RetirePlayed(uint64_t nowPlayed) {
    played = std::max(played, std::min(nowPlayed, written));
    if (blocks.Retire(played)) {
        ++changes;
        changed.notify_all();
    }
}

void AlsaWaveOut::DropQueue() {
    blocks.Clear();
    heardBefore += played;
    written = played = 0;
    ++changes;
    changed.notify_all();
}

void AlsaWaveOut::LoseDevice(int error, std::unique_lock<std::mutex>& l) {
    snd_pcm_t* handle = pcm;
    pcm = nullptr;
    lost = true;
    // What was written but not heard is written again when the device is back.
    written = std::max(played, blocks.Start());
    nextReopen = std::chrono::steady_clock::now() + kReopenInterval;
    l.unlock();
    // Nothing else is ever called on a handle that failed: closing it is all.
    snd_pcm_close(handle);
    std::fprintf(stderr, "Sound output lost (%s): trying again every second\n", snd_strerror(error));
    l.lock();
}

bool AlsaWaveOut::TryReopen(std::unique_lock<std::mutex>& l) {
    const WaveFormat f = format;
    Handle handle;
    l.unlock();
    const uint32_t result = OpenWithFormat(f, handle);
    l.lock();
    if (result != kOk) {
        nextReopen = std::chrono::steady_clock::now() + kReopenInterval;
        return false;
    }
    pcm = handle.pcm;
    canPause = handle.canPause;
    lost = false;
    std::fputs("Sound output back\n", stderr);
    return true;
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
            if (!lost) {
                snd_pcm_t* handle = pcm;
                l.unlock();
                snd_pcm_drop(handle);
                const int err = snd_pcm_prepare(handle);
                l.lock();
                if (err < 0) LoseDevice(err, l);
            }
            alsaPaused = false;
            DropQueue();
            resetDone = resetAsked;
            done.notify_all();
            continue;
        }
        if (pauseApplied != pauseWanted) {
            const bool want = pauseWanted;
            if (lost) {
                // Nothing plays; the device opened again starts unpaused and unfed.
                pauseApplied = want;
                alsaPaused = false;
                done.notify_all();
                continue;
            }
            snd_pcm_t* handle = pcm;
            l.unlock();
            bool rewind = false;
            int failure = 0;
            snd_pcm_sframes_t delay = 0;
            if (want) {
                if (snd_pcm_state(handle) == SND_PCM_STATE_RUNNING) {
                    if (snd_pcm_delay(handle, &delay) < 0) delay = 0;
                    if (canPause && snd_pcm_pause(handle, 1) == 0) {
                        alsaPaused = true;
                    } else {
                        // No pause on this device: stop it and feed it again
                        // later from the first frame not yet played.
                        snd_pcm_drop(handle);
                        failure = snd_pcm_prepare(handle);
                        rewind = true;
                    }
                }
            } else if (alsaPaused) {
                if (snd_pcm_pause(handle, 0) < 0) failure = snd_pcm_prepare(handle);
                alsaPaused = false;
            }
            l.lock();
            if (rewind) {
                const uint64_t unplayed = std::min<uint64_t>(static_cast<uint64_t>(
                                                                 std::max<snd_pcm_sframes_t>(delay, 0)),
                                                             written - blocks.Start());
                RetirePlayed(written - unplayed);
                written = std::max(played, blocks.Start());
            }
            if (failure < 0) LoseDevice(failure, l);
            pauseApplied = want;
            done.notify_all();
            continue;
        }
        if (lost) {
            if (std::chrono::steady_clock::now() >= nextReopen && TryReopen(l)) {
                alsaPaused = false;
                continue;
            }
            // Requests wake the writer at once; otherwise it sleeps until the next try.
            wake.wait_until(l, nextReopen);
            continue;
        }
        if (pauseApplied || blocks.Count() == 0) {
            wake.wait(l);
            continue;
        }

        // Find the block and the frame where writing goes on.
        uint64_t offset = 0;
        WaveBlock* block = blocks.At(written, offset);

        snd_pcm_t* handle = pcm;
        l.unlock();
        bool wrote = false;
        uint64_t added = 0;
        bool allPlayed = false;
        int failure = 0;
        snd_pcm_sframes_t delay = 0;
        if (block != nullptr) {
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(handle);
            if (avail < 0) {
                failure = Recover(handle, static_cast<int>(avail));
            } else if (avail > 0) {
                const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(avail), blocks.FramesOf(*block) - offset);
                const snd_pcm_sframes_t r = snd_pcm_writei(handle, block->data + offset * frameBytes, n);
                if (r > 0) {
                    added = static_cast<uint64_t>(r);
                    wrote = true;
                } else if (r < 0) {
                    failure = Recover(handle, static_cast<int>(r));
                }
            }
        }
        if (failure == 0) {
            const snd_pcm_state_t state = snd_pcm_state(handle);
            if (state == SND_PCM_STATE_XRUN) {
                // An underrun: everything written so far has been played.
                allPlayed = true;
                failure = std::min(snd_pcm_prepare(handle), 0);
            } else if (state == SND_PCM_STATE_DISCONNECTED) {
                failure = -ENODEV;
            } else if (state == SND_PCM_STATE_RUNNING || state == SND_PCM_STATE_DRAINING) {
                const int err = snd_pcm_delay(handle, &delay);
                if (err == -EPIPE) {
                    allPlayed = true;
                    failure = std::min(snd_pcm_prepare(handle), 0);
                } else if (err < 0) {
                    failure = err;
                }
            } else {
                // Not running (and not started again): nothing written is waiting.
                allPlayed = !wrote;
            }
        }
        l.lock();
        if (failure < 0) {
            // What the device took since it was last measured counts as not
            // heard: it is written again when the device is back.
            LoseDevice(failure, l);
            continue;
        }
        if (resetDone < resetAsked) continue; // the reset is carried out first
        written += added;
        uint64_t nowPlayed = written;
        if (!allPlayed) {
            const uint64_t pending = std::min<uint64_t>(static_cast<uint64_t>(std::max<snd_pcm_sframes_t>(delay, 0)),
                                                        written - blocks.Start());
            nowPlayed = written - pending;
        }
        RetirePlayed(nowPlayed);
        if (wrote) continue; // there may be more room right away
        // Wait for room, or for the frames still to be played; requests wake us at once.
        // (Never less than 10 ms: a device that reports neither room nor
        // anything left to play must not keep the writer spinning.)
        uint64_t waitMs = 10;
        if (delay > 0) waitMs = static_cast<uint64_t>(delay) * 1000 / rate / 2;
        waitMs = std::clamp<uint64_t>(waitMs, 10, static_cast<uint64_t>(kMaxIdle.count()));
        wake.wait_for(l, std::chrono::milliseconds(waitMs));
    }
}

} // namespace zumo
