#pragma once

#include "output/WaveBlockQueue.h"
#include "output/WaveOutDevice.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

struct pa_threaded_mainloop;
struct pa_mainloop_api;
struct pa_context;
struct pa_stream;
struct pa_time_event;
struct pa_defer_event;
struct timeval;

namespace zumo {

// The wave-out device as a client of the sound server: PulseAudio, or
// PipeWire through its PulseAudio service, spoken to with the PulseAudio
// client library. The server lists the stream under the name it is given
// (the track's title), as music, played by "Zumo mp3 player" with the
// player's icon. The client library is loaded when a device is first opened
// (PulseLibrary.h); where it is missing, Open fails as it does when no
// server answers.
//
// The client library runs a thread of its own (its threaded main loop),
// which does all the talking to the server; every call into the library is
// made with the loop's lock held, and the device's state is guarded by the
// same lock. The stream asks for a latency of about a second, of which the
// server keeps a quarter in the sink; it asks for audio whenever a quarter
// has played, and the loop thread then copies the next frames of the
// queued blocks into it. Write only queues a block and returns.
//
// How a block counts as played: the frames heard are those the sink has
// taken from the stream less what the sink still holds, as the server's
// timing report gives them, plus the time since the report while the
// stream plays. A block is done once they have passed its last frame. The
// loop thread looks when the oldest block should have played (asking the
// server for a fresh report if it has not), and whoever waits in
// WaitForChange is woken then. When the stream runs dry, all it was given
// is heard once the sink's latency has passed.
//
// A lost server (it died or restarted, or it removed the stream) gives one
// line on standard error. The device then opens a new connection and a new
// stream with the same format about once a second, on the loop thread's
// timer; nothing spins meanwhile. The queued blocks stay queued and count
// as not played, so whoever waits for them waits on; when the server is
// back, the stream goes on from the first frame that had not been heard.
// Pause corks the stream, Restart uncorks it; Reset drops the stream with
// what it holds (a new one is made for the next block). None of them waits
// for the server, so they act at once during an outage too, or with a
// server that has stopped answering.
//
// The client library stops the program on misuse, so the device never
// calls it on a stream or connection that has failed (it only lets go of
// them, and only outside their own callbacks) and never takes the loop's
// lock on the loop thread. The device's operations must not be called from
// the loop thread (nothing of ours runs there but the device itself).
class PulseWaveOut : public WaveOutDevice {
public:
    // `streamName`: the name the server shows for the stream; the
    // application's name when empty.
    explicit PulseWaveOut(std::string streamName);
    ~PulseWaveOut() override;
    PulseWaveOut(const PulseWaveOut&) = delete;
    PulseWaveOut& operator=(const PulseWaveOut&) = delete;

    // Fails (kError) when no sound server answers within a few seconds, or
    // when the server's client library is not installed.
    uint32_t Open(const WaveFormat& format) override;
    // Whether the last Open failed on a server that was there but did not
    // answer (stopped or hung), rather than on no server at all.
    bool ServerHung() const { return hung; }
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
    // The client library's callbacks, on the loop thread with the lock held.
    static void OnContextState(pa_context* c, void* self);
    static void OnStreamState(pa_stream* s, void* self);
    static void OnWriteRequest(pa_stream* s, size_t bytes, void* self);
    static void OnUnderflow(pa_stream* s, void* self);
    static void OnTiming(pa_stream* s, int success, void* self);
    static void OnSuspended(pa_stream* s, void* self);
    static void OnTimer(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);
    static void OnKick(pa_mainloop_api* api, pa_defer_event* e, void* self);

    // All of these run with the loop's lock held.
    void Connect();
    void NewStream();
    void DropStream();
    void DropContext();
    // The connection or the stream failed (`why`, the library's words).
    void Failed(const char* why);
    void Reconnect();
    // A stream is being made on a connection that works.
    bool Making() const;
    void Cork(bool on);
    void Feed();
    // Brings `played` up to date from the stream's time and retires the
    // blocks that have been heard.
    void Measure();
    void RequestTiming();
    void TimingChanged();
    void DropQueue();
    // Sets the loop thread's timer for the next look at the stream.
    void Schedule();
    void SetTimer(uint64_t delayUs);
    // Makes the loop thread feed, measure and schedule soon: callers on
    // other threads use it, since a timer changed from there might not be
    // seen until the loop wakes for another reason.
    void Kick();
    void CountChange();
    void SetOpenResult(uint32_t result);
    // Closes everything; the loop thread has ended when it returns.
    void Shutdown();

    const std::string streamName;

    std::mutex apiLock; // one operation at a time touches the loop; guards `loop` itself
    pa_threaded_mainloop* loop = nullptr;
    bool hung = false;

    // Guarded by the loop's lock.
    pa_mainloop_api* api = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* timer = nullptr;
    pa_defer_event* kick = nullptr;
    bool streamReady = false;
    bool established = false; // the first stream was ready: Open has succeeded
    bool closing = false;
    bool lost = false; // the server went away; trying again at nextReopen
    bool paused = false;
    bool corked = false; // as the stream was last told
    std::chrono::steady_clock::time_point nextReopen{};
    std::chrono::steady_clock::time_point streamMadeAt{};
    WaveFormat format;
    uint32_t frameBytes = 4;
    uint32_t rate = 44100;
    WaveBlockQueue blocks;
    uint64_t written = 0;     // frames handed to the server since the last reset
    uint64_t played = 0;      // frames heard since the last reset, as last measured
    uint64_t heardBefore = 0; // frames heard before the last reset
    uint64_t streamBase = 0;  // frame position of the current stream's first frame
    bool timingAsked = false; // a timing report is on its way, asked for in askedEpoch
    bool timingFresh = false; // the last report came after the last change (timingEpoch)
    uint32_t timingEpoch = 0;
    uint32_t askedEpoch = 0;
    std::chrono::steady_clock::time_point timingAt{};
    bool underflowPending = false; // the stream ran dry at underflowAt, heard by underflowDue
    uint64_t underflowAt = 0;
    std::chrono::steady_clock::time_point underflowDue{};

    // Guarded by `lock`: what waiting callers look at.
    std::mutex lock;
    std::condition_variable changed; // `changes` grew, the device closed, or Open has its answer
    uint64_t changes = 0;
    bool open = false;
    uint32_t openResult = 0;
    bool openAnswered = false;
};

} // namespace zumo
