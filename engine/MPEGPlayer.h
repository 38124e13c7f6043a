#pragma once

#include "engine/Args.h"
#include "engine/GaplessTrim.h"
#include "layer3/Layer3Decoder.h"
#include "output/OBuffer.h"
#include "subband/SubBandFrame.h"
#include "synth/SynthFilter.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace zumo {

// Plays one MPEG audio file: owns every decoding object, decodes one frame
// per turn of a loop on a thread of its own, and answers questions about
// the stream and the playing time. Pause and Stop take effect between
// frames; both are safe from any thread and in every state.
class MPEGPlayer {
public:
    MPEGPlayer();
    virtual ~MPEGPlayer(); // Destroy: stops, waits for the decode thread, then frees everything
    MPEGPlayer(const MPEGPlayer&) = delete;
    MPEGPlayer& operator=(const MPEGPlayer&) = delete;

    // Seconds heard so far (as the output device reports them); without a
    // device, seconds played not counting time spent paused; 0 before Play.
    virtual uint32_t ElapsedSeconds();
    virtual int64_t TotalSeconds();
    virtual uint8_t Mode();
    virtual ChannelChoice WhichChannels();
    virtual uint8_t Version();
    virtual int32_t Layer();
    virtual int32_t Frequency();
    virtual int32_t Bitrate();
    virtual bool Playing();
    virtual bool RepeatMode();
    virtual void SetRepeatMode(bool on);
    virtual void Open(const std::string& fileName);
    virtual void SetOutput(std::unique_ptr<OBuffer> buffer);
    virtual void Play();
    virtual void Pause();
    virtual void Stop();
    void Resume();

    // Opens a stream that is not a file (tests, fuzzing, the benchmark).
    void OpenStream(std::unique_ptr<Stream> source, const std::string& name);
    // Decodes the whole file on the calling thread instead of a thread of
    // its own (the tools, fuzzing); returns at the end of the file or after
    // a Stop from another thread.
    void PlayHere();
    // Sets the channel choice; honoured when set before Play.
    void SetChannelChoice(ChannelChoice choice) { args.channelChoice = choice; }
    // Gapless playback, on by default: where the file's LAME tag gives the
    // encoder's delay and padding, those samples are left out. Off, every
    // sample of the audio frames is kept. Honoured when set before Play.
    void SetGapless(bool on) { gapless = on; }
    // Blocks until the decode loop has ended (at the end of the file or after Stop).
    void WaitForEnd();
    // Frames decoded so far (for the tools).
    int64_t FramesDecoded() const { return framesDecoded.load(std::memory_order_relaxed); }
    const std::string& FileName() const { return fileName; }
    // True when Open found a first frame.
    bool HasFrame() const { return headerOk; }

private:
    // Marks the player as playing; false when it already was started.
    bool Start();
    void DecodeLoop();
    void PlayFrame();
    // Follows a change of stream between frames: tells the output of a new
    // channel count or sampling frequency, and makes the Layer III decoder
    // follow a new version, sampling frequency or channel mode.
    void FollowFormat();
    // The gapless trim for the file's first stream, when its tag gives one.
    std::unique_ptr<GaplessTrim> MakeTrim();
    bool NextHeader();
    // Waits while paused; false when the player was stopped meanwhile.
    bool WaitWhilePaused();
    uint64_t NowMs() const;
    // Milliseconds of the track heard, or -1 when the output cannot tell.
    int64_t HeardMs();

    std::string fileName;
    Args args;
    SynthFilter filter0;
    SynthFilter filter1;
    Crc16* frameCrc = nullptr; // borrowed from the header
    std::unique_ptr<OBuffer> output;
    // Where the decoders put their samples: the output, or the gapless trim in front of it.
    std::unique_ptr<GaplessTrim> trim;
    OBuffer* sink = nullptr;
    bool gapless = true;
    // The format the output plays: that of the first frame until a change is announced.
    int32_t outChannels = 0;
    int32_t outFrequency = 0;
    uint32_t followedKind = 0xFFFFFFFF; // version, sampling frequency and channel count followed last
    int32_t currentLayer = 0;
    std::unique_ptr<Layer3Decoder> layer3;
    // The stream the Layer III decoder was made for.
    uint8_t layer3Version = 0;
    bool layer3Mpeg25 = false;
    uint8_t layer3Frequency = 0;
    SubBandFrame subbands; // storage for the Layer I and II per-frame objects
    std::atomic<bool> repeatMode{false};
    std::atomic<bool> playing{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> threadStarted{false};
    std::atomic<bool> threadEnded{false};
    bool headerOk = false;
    std::atomic<int64_t> framesDecoded{0};

    // Header answers copied after each frame so that other threads read
    // single words, never the header the decode thread is writing.
    std::atomic<uint8_t> mode{0};
    std::atomic<uint8_t> version{0};
    std::atomic<int32_t> layer{0};
    std::atomic<int32_t> frequency{0};
    std::atomic<int32_t> bitrate{0};
    std::atomic<int64_t> totalSeconds{0};

    // Elapsed time: milliseconds of a monotonic clock.
    std::atomic<bool> started{false};
    std::atomic<uint64_t> startTick{0};
    std::atomic<uint64_t> pausedMs{0};     // time spent paused, accumulated
    uint64_t pauseBegan = 0;               // under pauseLock
    std::atomic<uint64_t> repeatBaseMs{0}; // time heard when repeat mode last started the file again

    std::mutex pauseLock; // guards paused and pauseBegan; never taken by the decode loop per frame
    std::condition_variable pauseChanged;
    std::atomic<bool> paused{false};
    std::mutex threadLock; // guards the thread object against Stop/WaitForEnd/destroy races
    std::thread decodeThread;
};

} // namespace zumo
