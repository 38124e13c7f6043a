#include "engine/MPEGPlayer.h"

#include "stream/FileStream.h"

#include <chrono>
#include <cstdint>
#include <cmath>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zumo {

namespace {

constexpr float kOutputScale = 32768.0f;

// The decode thread runs at a raised priority where the system permits it,
// so that a busy desktop does not starve the sound device; a refusal is fine.
void RaiseThreadPriority() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    (void)::setpriority(PRIO_PROCESS, tid, -10);
    // Named so that top and /proc tell the threads apart.
    (void)::pthread_setname_np(::pthread_self(), "zumo-decode");
}

} // namespace

MPEGPlayer::MPEGPlayer() : filter0(0, kOutputScale), filter1(1, kOutputScale) {
    args.header = std::make_unique<Header>();
}

MPEGPlayer::~MPEGPlayer() {
    Stop();
    WaitForEnd();
    // The Layer III decoder refers to the output buffer and the filters: it goes first.
    layer3.reset();
    trim.reset();
    // The output buffer plays out what was queued (or drops it after a Stop).
    output.reset();
    args.stream.reset();
    args.header.reset();
}

uint64_t MPEGPlayer::NowMs() const {
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint32_t MPEGPlayer::ElapsedSeconds() {
    if (!started.load()) return 0;
    // The time heard, when the output can tell it: pauses, a suspended or
    // lost device and the device's own latency never put it ahead.
    const int64_t heardMs = HeardMs();
    if (heardMs >= 0) {
        const auto base = static_cast<int64_t>(repeatBaseMs.load());
        return static_cast<uint32_t>((heardMs > base ? heardMs - base : 0) / 1000);
    }
    std::lock_guard<std::mutex> lock(pauseLock);
    const uint64_t now = NowMs();
    uint64_t idle = pausedMs.load();
    if (paused.load()) idle += now - pauseBegan;
    const uint64_t played = now - startTick.load();
    return static_cast<uint32_t>((played > idle ? played - idle : 0) / 1000);
}

int64_t MPEGPlayer::HeardMs() {
    if (!output) return -1;
    const int64_t us = output->HeardMicroseconds();
    return us < 0 ? -1 : us / 1000;
}

int64_t MPEGPlayer::TotalSeconds() { return totalSeconds.load(); }
uint8_t MPEGPlayer::Mode() { return mode.load(); }
ChannelChoice MPEGPlayer::WhichChannels() { return args.channelChoice; }
uint8_t MPEGPlayer::Version() { return version.load(); }
int32_t MPEGPlayer::Layer() { return layer.load(); }
int32_t MPEGPlayer::Frequency() { return frequency.load(); }
int32_t MPEGPlayer::Bitrate() { return bitrate.load(); }
bool MPEGPlayer::Playing() { return playing.load(); }
bool MPEGPlayer::RepeatMode() { return repeatMode.load(); }
void MPEGPlayer::SetRepeatMode(bool on) { repeatMode.store(on); }

void MPEGPlayer::Open(const std::string& name) { OpenStream(std::make_unique<FileStream>(name), name); }

void MPEGPlayer::OpenStream(std::unique_ptr<Stream> source, const std::string& name) {
    fileName = name;
    args.channelChoice = ChannelChoice::Both;
    try {
        args.stream = std::make_unique<Bitstream>(std::move(source));
        headerOk = NextHeader();
    } catch (const std::exception&) {
        headerOk = false;
    }
    Header& h = *args.header;
    if (args.stream) {
        const double ms = static_cast<double>(h.TotalMs(*args.stream));
        totalSeconds.store(static_cast<int64_t>(std::nearbyint(ms / 1000.0)));
    }
}

// Reads the next frame and publishes what the other threads may ask about it.
bool MPEGPlayer::NextHeader() {
    Header& h = *args.header;
    const bool ok = h.ReadHeader(*args.stream, frameCrc);
    mode.store(h.mode, std::memory_order_relaxed);
    version.store(h.version, std::memory_order_relaxed);
    layer.store(h.layer, std::memory_order_relaxed);
    frequency.store(h.Frequency(), std::memory_order_relaxed);
    bitrate.store(h.Bitrate(), std::memory_order_relaxed);
    return ok;
}

void MPEGPlayer::SetOutput(std::unique_ptr<OBuffer> buffer) { output = std::move(buffer); }

bool MPEGPlayer::Start() {
    if (threadStarted.load()) return false; // a player plays once
    playing.store(true);
    {
        std::lock_guard<std::mutex> pl(pauseLock);
        startTick.store(NowMs());
        pausedMs.store(0);
    }
    started.store(true);
    threadStarted.store(true);
    return true;
}

void MPEGPlayer::Play() {
    std::lock_guard<std::mutex> lock(threadLock);
    if (!Start()) return;
    decodeThread = std::thread([this] {
        RaiseThreadPriority();
        DecodeLoop();
    });
}

void MPEGPlayer::PlayHere() {
    {
        std::lock_guard<std::mutex> lock(threadLock);
        if (!Start()) return;
    }
    DecodeLoop();
}

std::unique_ptr<GaplessTrim> MPEGPlayer::MakeTrim() {
    const Header& h = *args.header;
    if (!gapless || h.encoderDelay < 0 || h.encoderPadding < 0) return nullptr;
    // The decoder's own delay: 528 samples of the filter banks, plus one.
    constexpr int64_t kDecoderDelay = 529;
    const int64_t perFrame = h.layer == 1 ? 384 : (h.layer == 3 && h.version == 0) ? 576 : 1152;
    const int64_t skip = h.encoderDelay + kDecoderDelay;
    if (h.announcedFrames <= 0) return std::make_unique<GaplessTrim>(*output, skip, INT64_MAX / 4, INT64_MAX / 2);
    const int64_t total = int64_t{h.announcedFrames} * perFrame;
    const int64_t keep = total - h.encoderDelay - h.encoderPadding;
    if (keep <= 0) return nullptr; // the tag does not fit the stream: nothing is trimmed
    return std::make_unique<GaplessTrim>(*output, skip, keep, total);
}

void MPEGPlayer::DecodeLoop() {
    try {
        if (output && args.header) {
            trim = MakeTrim();
            sink = trim ? static_cast<OBuffer*>(trim.get()) : output.get();
            // The caller made the output for the first frame's format.
            const Header& h = *args.header;
            outChannels = OutputChannels(h.mode, args.channelChoice);
            outFrequency = h.Frequency();
        }
        bool ok = headerOk && output && args.stream;
        while (ok && !stopRequested.load(std::memory_order_relaxed)) {
            PlayFrame();
            framesDecoded.fetch_add(1, std::memory_order_relaxed);
            ok = NextHeader();
            if (repeatMode.load(std::memory_order_relaxed)) {
                Bitstream& bs = *args.stream;
                Header& h = *args.header;
                const int32_t idx = bs.FrameIndex();
                const int32_t n = h.FrameCount(bs);
                if ((!ok && n <= idx + 20) || n <= idx) {
                    bs.Reset();
                    if (trim) trim->Rewind();
                    ok = NextHeader();
                }
                const auto total = static_cast<uint64_t>(std::llround(static_cast<double>(h.TotalMs(bs))));
                const int64_t heardMs = HeardMs();
                if (heardMs >= 0) {
                    if (static_cast<uint64_t>(heardMs) - repeatBaseMs.load() >= total)
                        repeatBaseMs.store(static_cast<uint64_t>(heardMs));
                } else {
                    std::lock_guard<std::mutex> lock(pauseLock);
                    const uint64_t now = NowMs();
                    if (now - startTick.load() - pausedMs.load() >= total) {
                        startTick.store(now);
                        pausedMs.store(0);
                    }
                }
            }
            if (paused.load(std::memory_order_relaxed) && !WaitWhilePaused()) break;
            // Decoding flat out (to a file, or filling the sound device's
            // blocks) gives up the processor now and then so that the
            // window stays lively on a single core. Every 64th frame rather
            // than every frame: a yield is a system call, which on a virtual
            // machine can cost as much as decoding a Layer I frame, and 64
            // frames still take well under a millisecond to decode.
            if ((framesDecoded.load(std::memory_order_relaxed) & 63) == 0) std::this_thread::yield();
        }
    } catch (...) {
        // A read error of the stream (the file shrank, a device failure) ends the track, not the program.
    }
    // The last frames are still in the output buffer: the track ends once
    // they have been heard, not up to two blocks (1.7 s) before. A Stop
    // meanwhile cuts this short; a Pause holds it.
    if (output && !stopRequested.load()) {
        try {
            output->Finish();
        } catch (...) {
        }
    }
    // Nothing more will play: the sound device is let go now rather than
    // when the player is destroyed, which for the last track of a run may
    // be much later.
    if (output) {
        try {
            output->Release();
        } catch (...) {
        }
    }
    playing.store(false);
    threadEnded.store(true);
}

bool MPEGPlayer::WaitWhilePaused() {
    std::unique_lock<std::mutex> lock(pauseLock);
    pauseChanged.wait(lock, [this] { return !paused.load() || stopRequested.load(); });
    return !stopRequested.load();
}

void MPEGPlayer::FollowFormat() {
    const Header& h = *args.header;
    // What the output and the Layer III decoder depend on, in one word: the
    // usual frame only compares it.
    const uint32_t kind = (uint32_t{h.version} << 8) | (uint32_t{h.mpeg25} << 4) | (uint32_t{h.sampleFrequency} << 1) |
                          (h.mode == 3 ? 1u : 0u);
    if (kind == followedKind) return;
    followedKind = kind;
    const int32_t channels = OutputChannels(h.mode, args.channelChoice);
    const int32_t frequency = h.Frequency();
    if (channels != outChannels || frequency != outFrequency) {
        sink->NewFormat(channels, frequency);
        outChannels = channels;
        outFrequency = frequency;
    }
    if (layer3 && h.layer == 3) {
        if (h.version != layer3Version || h.mpeg25 != layer3Mpeg25 || h.sampleFrequency != layer3Frequency) {
            // Another stream: its tables and its bit reservoir start afresh.
            layer3.reset();
            currentLayer = 0;
        } else {
            layer3->FollowChannelMode();
        }
    }
}

void MPEGPlayer::PlayFrame() {
    Header& h = *args.header;
    Bitstream& bs = *args.stream;
    FollowFormat();
    if (h.layer != currentLayer) {
        if (h.layer == 3) {
            layer3 = std::make_unique<Layer3Decoder>(bs, h, filter0, filter1, *sink, args.channelChoice);
            layer3Version = h.version;
            layer3Mpeg25 = h.mpeg25;
            layer3Frequency = h.sampleFrequency;
        } else if (currentLayer == 3) {
            layer3.reset();
        }
        currentLayer = h.layer;
    }
    if (currentLayer == 3) {
        layer3->DecodeFrame();
        return;
    }
    subbands.Decode(bs, h, frameCrc, filter0, filter1, *sink, args.channelChoice);
}

void MPEGPlayer::Pause() {
    std::lock_guard<std::mutex> lock(pauseLock);
    if (!threadStarted.load() || threadEnded.load() || paused.load()) return;
    paused.store(true);
    pauseBegan = NowMs();
    // The device stops at once, so the pause is heard at once rather than
    // after the two blocks queued ahead of the decoder.
    if (output) output->Pause();
}

void MPEGPlayer::Resume() {
    std::lock_guard<std::mutex> lock(pauseLock);
    if (!paused.load()) return;
    paused.store(false);
    pausedMs.fetch_add(NowMs() - pauseBegan);
    if (output) output->Restart();
    pauseChanged.notify_all();
}

void MPEGPlayer::Stop() {
    std::lock_guard<std::mutex> lock(pauseLock);
    if (!threadStarted.load() || threadEnded.load()) return;
    stopRequested.store(true);
    playing.store(false);
    // A stopped track is abandoned: the queued audio is dropped instead of played out.
    if (output) output->SetStopFlag();
    pauseChanged.notify_all();
}

void MPEGPlayer::WaitForEnd() {
    std::lock_guard<std::mutex> lock(threadLock);
    if (decodeThread.joinable()) decodeThread.join();
}

} // namespace zumo
