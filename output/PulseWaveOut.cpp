#include "output/PulseWaveOut.h"

#include "output/PulseLibrary.h"

#include <algorithm>
#include <cstdio>

namespace zumo {

namespace {

// What the sound server shows for the player.
constexpr const char* kApplicationName = "Zumo mp3 player";
constexpr const char* kIconName = "zumo-player";

// The stream's latency: about a second, as the ALSA device keeps, so that a
// busy machine may hold the player back for a while before the sound
// breaks. The server asks for more when a quarter of it has played: four
// requests a second.
constexpr uint64_t kBufferUs = 1000000;
// How often a lost server is tried again.
constexpr auto kReopenInterval = std::chrono::seconds(1);
// How long Open waits for a server that does not answer, and how long a
// stream is waited for while the device tries to come back.
constexpr auto kOpenTimeout = std::chrono::seconds(3);
constexpr auto kLongestMaking = std::chrono::seconds(5);
// The loop thread looks at the stream when the oldest block should have
// played, but never sooner than this (the time reported may lag a little
// behind the sound) and never later (a safety net: the time may also jump).
constexpr uint64_t kMinLookUs = 10000;
constexpr uint64_t kMaxLookUs = 1000000;
// The longest a sink's latency is believed: what a stream that ran dry still
// had to play is counted as heard after at most this time.
constexpr uint64_t kMaxSinkLatencyUs = 2000000;
// How old the server's last timing report may grow while the stream plays
// (the time since is added to it), and while frames wait for the stream to
// start; and the most time ever added to a report.
constexpr auto kTimingAgePlaying = std::chrono::milliseconds(1000);
constexpr auto kTimingAgeWaiting = std::chrono::milliseconds(100);
constexpr uint64_t kMaxInterpolationUs = 2000000;

uint64_t MicrosecondsUntil(std::chrono::steady_clock::time_point t) {
    const auto now = std::chrono::steady_clock::now();
    if (t <= now) return 0;
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(t - now).count());
}

} // namespace

PulseWaveOut::PulseWaveOut(std::string name) : streamName(std::move(name)) {}

PulseWaveOut::~PulseWaveOut() {
    bool isOpen = false;
    {
        std::lock_guard<std::mutex> g(apiLock);
        isOpen = loop != nullptr;
    }
    if (!isOpen) return;
    // A device destroyed while still playing drops what is queued.
    Reset();
    Close();
}

uint32_t PulseWaveOut::Open(const WaveFormat& f) {
    std::lock_guard<std::mutex> g(apiLock);
    if (loop != nullptr) return kError;
    if (f.formatTag != 1 || f.channels < 1 || f.channels > 2 || f.bitsPerSample != 16 || f.samplesPerSec == 0 ||
        f.blockAlign != f.channels * 2)
        return kBadFormat;
    // Without the client library there is no server to reach, as when none answers.
    if (!PulseLibraryLoaded()) return kError;
    pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, f.samplesPerSec, static_cast<uint8_t>(f.channels)};
    if (!pulse().pa_sample_spec_valid(&sampleFormat)) return kBadFormat;

    loop = pulse().pa_threaded_mainloop_new();
    if (loop == nullptr) return kError;
    pulse().pa_threaded_mainloop_set_name(loop, "zumo-pulse");
    api = pulse().pa_threaded_mainloop_get_api(loop);
    format = f;
    frameBytes = f.blockAlign;
    rate = f.samplesPerSec;
    blocks.Clear();
    blocks.SetFrameBytes(frameBytes);
    written = played = heardBefore = streamBase = 0;
    underflowPending = false;
    streamReady = established = closing = lost = paused = false;
    {
        std::lock_guard<std::mutex> l(lock);
        openAnswered = false;
        openResult = kError;
    }
    if (pulse().pa_threaded_mainloop_start(loop) < 0) {
        pulse().pa_threaded_mainloop_free(loop);
        loop = nullptr;
        return kError;
    }
    pulse().pa_threaded_mainloop_lock(loop);
    kick = api->defer_new(api, &OnKick, this);
    api->defer_enable(kick, 0);
    Connect();
    if (context != nullptr) timer = pulse().pa_context_rttime_new(context, PA_USEC_INVALID, &OnTimer, this);
    pulse().pa_threaded_mainloop_unlock(loop);

    uint32_t result = kError;
    {
        std::unique_lock<std::mutex> l(lock);
        hung = !changed.wait_for(l, kOpenTimeout, [&] { return openAnswered; });
        if (!hung) result = openResult;
        if (result == kOk) open = true;
    }
    if (result != kOk) Shutdown();
    return result;
}

// A connection of our own per device: the application's name and icon are
// the connection's, and the server gives them to its streams.
void PulseWaveOut::Connect() {
    pa_proplist* props = pulse().pa_proplist_new();
    pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, kApplicationName);
    pulse().pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, kIconName);
    context = pulse().pa_context_new_with_proplist(api, kApplicationName, props);
    pulse().pa_proplist_free(props);
    if (context == nullptr) {
        Failed("cannot make a connection");
        return;
    }
    pulse().pa_context_set_state_callback(context, &OnContextState, this);
    // Never start a sound server of our own: the desktop's is used, or none.
    // (A connection that fails at once usually says so through the callback
    // as well; a second report changes nothing.)
    if (pulse().pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        Failed(pulse().pa_strerror(pulse().pa_context_errno(context)));
}

void PulseWaveOut::OnContextState(pa_context* c, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    switch (pulse().pa_context_get_state(c)) {
    case PA_CONTEXT_READY:
        if (d->stream == nullptr) d->NewStream();
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: d->Failed(pulse().pa_strerror(pulse().pa_context_errno(c))); break;
    default: break;
    }
}

void PulseWaveOut::NewStream() {
    if (context == nullptr || pulse().pa_context_get_state(context) != PA_CONTEXT_READY) return;
    pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, format.samplesPerSec, static_cast<uint8_t>(format.channels)};
    pa_proplist* props = pulse().pa_proplist_new();
    // The server takes only valid UTF-8: other bytes of a file name are replaced.
    char* name = pulse().pa_utf8_filter(streamName.empty() ? kApplicationName : streamName.c_str());
    pulse().pa_proplist_sets(props, PA_PROP_MEDIA_NAME, name != nullptr ? name : kApplicationName);
    pulse().pa_xfree(name);
    pulse().pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    stream = pulse().pa_stream_new_with_proplist(context, nullptr, &sampleFormat, nullptr, props);
    pulse().pa_proplist_free(props);
    streamMadeAt = std::chrono::steady_clock::now();
    if (stream == nullptr) {
        Failed(pulse().pa_strerror(pulse().pa_context_errno(context)));
        return;
    }
    pulse().pa_stream_set_state_callback(stream, &OnStreamState, this);
    pulse().pa_stream_set_write_callback(stream, &OnWriteRequest, this);
    pulse().pa_stream_set_underflow_callback(stream, &OnUnderflow, this);
    pulse().pa_stream_set_suspended_callback(stream, &OnSuspended, this);

    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pulse().pa_usec_to_bytes(kBufferUs, &sampleFormat));
    // Playing starts with the first frame written: a short last block must
    // play even though it never fills the buffer. After running dry the
    // stream waits for new frames rather than playing on into silence.
    attr.prebuf = frameBytes;
    attr.minreq = attr.tlength / 4;
    attr.fragsize = static_cast<uint32_t>(-1);
    // The latency asked for is the whole way to the speaker: the server
    // keeps part of it in the sink (a quarter here), the rest in the
    // stream's buffer. Without this a sink may hold seconds of its own, and
    // a new stream's first sound waits behind them on a sink that cannot
    // take back what it holds. The timing reports are asked for as needed,
    // not on the library's timer, which would wake the player ten times a
    // second.
    pa_stream_flags_t flags = PA_STREAM_ADJUST_LATENCY;
    if (paused) flags = static_cast<pa_stream_flags_t>(flags | PA_STREAM_START_CORKED);
    corked = paused;
    if (pulse().pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        Failed(pulse().pa_strerror(pulse().pa_context_errno(context)));
}

void PulseWaveOut::OnStreamState(pa_stream* s, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    switch (pulse().pa_stream_get_state(s)) {
    case PA_STREAM_READY:
        d->streamReady = true;
        d->streamBase = d->written;
        d->underflowPending = false;
        d->TimingChanged();
        // A pause or restart while the stream was being made.
        d->Cork(d->paused);
        if (!d->established) {
            d->established = true;
            d->SetOpenResult(kOk);
        } else if (d->lost) {
            d->lost = false;
            std::fputs("Sound output back\n", stderr);
        }
        d->Feed();
        d->Schedule();
        break;
    case PA_STREAM_FAILED:
    case PA_STREAM_TERMINATED:
        d->streamReady = false;
        if (pa_context* c = pulse().pa_stream_get_context(s)) {
            d->Failed(pulse().pa_strerror(pulse().pa_context_errno(c)));
        } else {
            d->Failed("the stream ended");
        }
        break;
    default: break;
    }
}

void PulseWaveOut::Failed(const char* why) {
    streamReady = false;
    if (closing) return;
    if (!established) {
        SetOpenResult(kError);
        return;
    }
    if (!lost) {
        lost = true;
        std::fprintf(stderr, "Sound output lost (%s): trying again every second\n", why);
    }
    // What was written but not heard is written again when the server is back.
    written = std::max(played, blocks.Start());
    underflowPending = false;
    nextReopen = std::chrono::steady_clock::now() + kReopenInterval;
    Schedule();
}

// On the loop thread's timer, never inside a callback of the stream or the
// connection it lets go of. A stream still being made is waited for a while:
// one let go of then could not be taken back from the server, which would
// list it until the connection ends; a server that takes too long loses the
// connection with it.
void PulseWaveOut::Reconnect() {
    const auto now = std::chrono::steady_clock::now();
    nextReopen = now + kReopenInterval;
    if (Making()) {
        if (now - streamMadeAt < kLongestMaking) return;
        DropStream();
        DropContext();
    }
    DropStream();
    if (context != nullptr && pulse().pa_context_get_state(context) != PA_CONTEXT_READY) DropContext();
    if (context == nullptr) {
        Connect();
    } else {
        NewStream();
    }
}

bool PulseWaveOut::Making() const {
    return stream != nullptr && pulse().pa_stream_get_state(stream) == PA_STREAM_CREATING && context != nullptr &&
           pulse().pa_context_get_state(context) == PA_CONTEXT_READY;
}

void PulseWaveOut::DropStream() {
    if (stream == nullptr) return;
    // (Setting callbacks is a no-op on a failed stream; disconnecting one is refused.)
    pulse().pa_stream_set_state_callback(stream, nullptr, nullptr);
    pulse().pa_stream_set_write_callback(stream, nullptr, nullptr);
    pulse().pa_stream_set_underflow_callback(stream, nullptr, nullptr);
    pulse().pa_stream_set_suspended_callback(stream, nullptr, nullptr);
    if (pulse().pa_stream_get_state(stream) == PA_STREAM_READY && context != nullptr &&
        pulse().pa_context_get_state(context) == PA_CONTEXT_READY)
        pulse().pa_stream_disconnect(stream);
    pulse().pa_stream_unref(stream);
    stream = nullptr;
    streamReady = false;
    underflowPending = false;
    timingAsked = false;
    timingFresh = false;
}

void PulseWaveOut::DropContext() {
    if (context == nullptr) return;
    pulse().pa_context_set_state_callback(context, nullptr, nullptr);
    pulse().pa_context_disconnect(context);
    pulse().pa_context_unref(context);
    context = nullptr;
}

void PulseWaveOut::OnWriteRequest(pa_stream*, size_t, void* self) { static_cast<PulseWaveOut*>(self)->Feed(); }

// Copies the next queued frames into the stream, as many as the server has
// room for. Blocks leave the queue only with the loop's lock held, so the
// data read here stays.
void PulseWaveOut::Feed() {
    while (streamReady) {
        const size_t room = pulse().pa_stream_writable_size(stream);
        if (room == static_cast<size_t>(-1) || room < frameBytes) return;
        uint64_t offset = 0;
        WaveBlock* block = blocks.At(written, offset);
        if (block == nullptr) return;
        const uint64_t frames = std::min<uint64_t>(room / frameBytes, blocks.FramesOf(*block) - offset);
        // (A failure shows in the stream's state.)
        if (pulse().pa_stream_write(stream, block->data + offset * frameBytes, frames * frameBytes, nullptr, 0,
                                    PA_SEEK_RELATIVE) < 0)
            return;
        written += frames;
    }
}

void PulseWaveOut::OnUnderflow(pa_stream* s, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    // Where the stream ran dry: everything before it is at the sink, and
    // heard once the sink has played what it holds.
    const int64_t at = pulse().pa_stream_get_underflow_index(s);
    uint64_t position = d->written;
    if (at >= 0) position = std::min(position, d->streamBase + static_cast<uint64_t>(at) / d->frameBytes);
    const pa_timing_info* timing = pulse().pa_stream_get_timing_info(s);
    const uint64_t sinkUs = std::min<uint64_t>(timing != nullptr ? timing->sink_usec : 0, kMaxSinkLatencyUs);
    d->underflowPending = true;
    d->underflowAt = position;
    d->underflowDue = std::chrono::steady_clock::now() + std::chrono::microseconds(sinkUs);
    d->TimingChanged();
    d->Schedule();
}

void PulseWaveOut::OnSuspended(pa_stream*, void* self) { static_cast<PulseWaveOut*>(self)->TimingChanged(); }

// The frames heard are the frames the sink has taken from the stream (its
// read index) less what the sink still holds (its latency), as the server
// last reported them, plus the time since that report while the stream
// plays. (The client library's own interpolated time favours smoothness:
// it runs on from the stream's start even while the sink has not yet
// taken anything, and so runs ahead of the sound.) A suspended sink plays
// nothing; a paused stream's count stands. A report is asked for when the
// last one is a second old while frames wait to be heard, every 100 ms
// while they wait for the stream to start, and at once after anything that
// changes how the stream plays; an idle stream costs nothing.
void PulseWaveOut::Measure() {
    if (streamReady && pulse().pa_stream_is_suspended(stream) == 0) {
        const pa_timing_info* t = pulse().pa_stream_get_timing_info(stream);
        const bool playing = t != nullptr && timingFresh && t->playing && !corked;
        if (t != nullptr && !t->read_index_corrupt && t->read_index >= 0) {
            int64_t heardUs = -static_cast<int64_t>(t->sink_usec);
            if (playing) {
                struct timeval now;
                pulse().pa_gettimeofday(&now);
                if (pulse().pa_timeval_cmp(&now, &t->timestamp) > 0)
                    heardUs += static_cast<int64_t>(
                        std::min<uint64_t>(pulse().pa_timeval_diff(&now, &t->timestamp), kMaxInterpolationUs));
            }
            const int64_t frames = t->read_index / frameBytes + heardUs * static_cast<int64_t>(rate) / 1000000;
            if (frames > 0) played = std::max(played, std::min(written, streamBase + static_cast<uint64_t>(frames)));
        }
        const auto age = std::chrono::steady_clock::now() - timingAt;
        if (written > played && !corked && (!timingFresh || age > (playing ? kTimingAgePlaying : kTimingAgeWaiting)))
            RequestTiming();
    }
    if (underflowPending && std::chrono::steady_clock::now() >= underflowDue) {
        played = std::max(played, std::min(written, underflowAt));
        underflowPending = false;
    }
    if (blocks.Retire(played)) CountChange();
}

// The stream started, was paused or restarted, ran dry, or its sink was
// suspended or resumed: the last report no longer tells how it plays.
void PulseWaveOut::TimingChanged() {
    ++timingEpoch;
    timingFresh = false;
    RequestTiming();
}

void PulseWaveOut::RequestTiming() {
    if (!streamReady || timingAsked) return;
    if (pa_operation* op = pulse().pa_stream_update_timing_info(stream, &OnTiming, this)) {
        pulse().pa_operation_unref(op);
        timingAsked = true;
        askedEpoch = timingEpoch;
    }
}

void PulseWaveOut::OnTiming(pa_stream*, int success, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    d->timingAsked = false;
    if (success && d->askedEpoch == d->timingEpoch) {
        d->timingFresh = true;
        d->timingAt = std::chrono::steady_clock::now();
    }
    // (A report asked for before the last change is followed by another.)
    if (!d->timingFresh) d->RequestTiming();
    d->Measure();
    d->Schedule();
}

void PulseWaveOut::DropQueue() {
    blocks.Clear();
    heardBefore += played;
    written = played = streamBase = 0;
    underflowPending = false;
    CountChange();
}

void PulseWaveOut::CountChange() {
    {
        std::lock_guard<std::mutex> l(lock);
        ++changes;
    }
    changed.notify_all();
}

void PulseWaveOut::SetOpenResult(uint32_t result) {
    {
        std::lock_guard<std::mutex> l(lock);
        if (openAnswered) return;
        openAnswered = true;
        openResult = result;
    }
    changed.notify_all();
}

void PulseWaveOut::Schedule() {
    if (timer == nullptr) return;
    if (lost) {
        SetTimer(MicrosecondsUntil(nextReopen));
        return;
    }
    if (!streamReady || blocks.Count() == 0 || paused) {
        api->time_restart(timer, nullptr);
        return;
    }
    const uint64_t end = blocks.OldestEnd();
    uint64_t wait = end > played ? (end - played) * 1000000 / rate : 0;
    if (underflowPending) wait = std::min(wait, MicrosecondsUntil(underflowDue));
    SetTimer(std::clamp(wait, kMinLookUs, kMaxLookUs));
}

void PulseWaveOut::SetTimer(uint64_t delayUs) {
    if (context != nullptr) {
        pulse().pa_context_rttime_restart(context, timer, pulse().pa_rtclock_now() + delayUs);
    } else {
        // (Only when no connection could even be made: the wall clock then.)
        struct timeval when;
        pulse().pa_gettimeofday(&when);
        pulse().pa_timeval_add(&when, delayUs);
        api->time_restart(timer, &when);
    }
}

void PulseWaveOut::OnTimer(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    if (d->lost) {
        if (std::chrono::steady_clock::now() + std::chrono::milliseconds(5) >= d->nextReopen) d->Reconnect();
    } else {
        const size_t before = d->blocks.Count();
        d->Measure();
        if (d->blocks.Count() > 0 && d->blocks.Count() == before) d->RequestTiming();
    }
    d->Schedule();
}

void PulseWaveOut::Kick() {
    if (kick != nullptr) api->defer_enable(kick, 1);
}

void PulseWaveOut::OnKick(pa_mainloop_api* api, pa_defer_event* e, void* self) {
    auto* d = static_cast<PulseWaveOut*>(self);
    api->defer_enable(e, 0);
    d->Feed();
    d->Measure();
    d->Schedule();
}

uint32_t PulseWaveOut::Prepare(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> g(apiLock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    uint32_t result = kOk;
    if (b.flags & kFlagInQueue) {
        result = kStillPlaying;
    } else {
        b.flags |= kFlagPrepared;
    }
    pulse().pa_threaded_mainloop_unlock(loop);
    return result;
}

uint32_t PulseWaveOut::Write(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> g(apiLock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    uint32_t result = kOk;
    if (!(b.flags & kFlagPrepared)) {
        result = kUnprepared;
    } else if (b.flags & kFlagInQueue) {
        result = kStillPlaying;
    } else if (b.data == nullptr && b.bufferLength > 0) {
        result = kInvalidParam;
    } else if (blocks.Full()) {
        result = kError;
    } else {
        blocks.Push(b);
        // After a reset the stream is made again for the next block.
        if (stream == nullptr && !lost) NewStream();
        Kick();
    }
    pulse().pa_threaded_mainloop_unlock(loop);
    return result;
}

uint32_t PulseWaveOut::Unprepare(WaveBlock& b, uint32_t headerSize) {
    std::lock_guard<std::mutex> g(apiLock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (loop == nullptr) {
        if (b.flags & kFlagInQueue) return kStillPlaying;
        b.flags &= ~kFlagPrepared;
        return kOk;
    }
    pulse().pa_threaded_mainloop_lock(loop);
    // The caller waits for this block: look at the stream's time now rather
    // than rely on the timer alone.
    if (b.flags & kFlagInQueue) Measure();
    uint32_t result = kOk;
    if (b.flags & kFlagInQueue) {
        result = kStillPlaying;
    } else {
        b.flags &= ~kFlagPrepared;
    }
    pulse().pa_threaded_mainloop_unlock(loop);
    return result;
}

uint32_t PulseWaveOut::Reset() {
    std::lock_guard<std::mutex> g(apiLock);
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    Measure();
    // The stream goes with everything it holds, at once; the next block
    // gets a new one (while the server is lost, the next try makes it). A
    // stream still being made holds nothing yet and stays.
    if (!Making()) DropStream();
    DropQueue();
    Kick();
    pulse().pa_threaded_mainloop_unlock(loop);
    return kOk;
}

uint32_t PulseWaveOut::Pause() {
    std::lock_guard<std::mutex> g(apiLock);
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    paused = true;
    Cork(true);
    Kick();
    pulse().pa_threaded_mainloop_unlock(loop);
    return kOk;
}

// Pausing does not wait for the server's answer: the stream's time stops at
// once, and a stream that is not ready yet is corked when it is.
void PulseWaveOut::Cork(bool on) {
    if (!streamReady || corked == on) return;
    if (pa_operation* op = pulse().pa_stream_cork(stream, on ? 1 : 0, nullptr, nullptr)) {
        pulse().pa_operation_unref(op);
        corked = on;
        TimingChanged();
    }
}

uint32_t PulseWaveOut::Restart() {
    std::lock_guard<std::mutex> g(apiLock);
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    paused = false;
    Cork(false);
    Kick();
    pulse().pa_threaded_mainloop_unlock(loop);
    return kOk;
}

uint32_t PulseWaveOut::Close() {
    std::lock_guard<std::mutex> g(apiLock);
    if (loop == nullptr) return kNotOpen;
    pulse().pa_threaded_mainloop_lock(loop);
    const bool busy = blocks.Count() > 0;
    if (!busy) Measure();
    pulse().pa_threaded_mainloop_unlock(loop);
    if (busy) return kStillPlaying;
    Shutdown();
    return kOk;
}

// With apiLock held.
void PulseWaveOut::Shutdown() {
    pulse().pa_threaded_mainloop_lock(loop);
    closing = true;
    DropStream();
    DropContext();
    if (timer != nullptr) api->time_free(timer);
    if (kick != nullptr) api->defer_free(kick);
    timer = nullptr;
    kick = nullptr;
    pulse().pa_threaded_mainloop_unlock(loop);
    pulse().pa_threaded_mainloop_stop(loop);
    pulse().pa_threaded_mainloop_free(loop);
    loop = nullptr;
    api = nullptr;
    {
        std::lock_guard<std::mutex> l(lock);
        open = false;
    }
    changed.notify_all();
}

uint64_t PulseWaveOut::Changes() {
    std::lock_guard<std::mutex> l(lock);
    return changes;
}

bool PulseWaveOut::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> l(lock);
    changed.wait_for(l, timeout, [&] { return changes != seen || !open; });
    return true;
}

void PulseWaveOut::Wake() { CountChange(); }

uint64_t PulseWaveOut::PlayedFrames() {
    std::lock_guard<std::mutex> g(apiLock);
    // After Close the count stands as it was last measured.
    if (loop == nullptr) return heardBefore + played;
    pulse().pa_threaded_mainloop_lock(loop);
    Measure();
    const uint64_t frames = heardBefore + played;
    pulse().pa_threaded_mainloop_unlock(loop);
    return frames;
}

} // namespace zumo
