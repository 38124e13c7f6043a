#include "engine/MPEGPlayer.h"
#include "output/WaveOBuffer.h"
#include "stream/MemoryStream.h"
#include "stream/StreamError.h"

#include "support/BitWriter.h"
#include "support/RecordingWaveOut.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

using namespace zumo;
using namespace zumo::test;
using namespace std::chrono_literals;

namespace {

// What a test output buffer saw; shared because the player owns and destroys the buffer.
struct OutputLog {
    std::atomic<int> frames{0};
    std::atomic<int> pauses{0};
    std::atomic<int> restarts{0};
    std::atomic<bool> stopFlag{false};
    std::atomic<bool> destroyed{false};
    // Frames written while the device was paused: only the frame in progress
    // when Pause came may still end that way.
    std::atomic<int> framesWhilePaused{0};
    std::atomic<bool> paused{false};
    // Finish (the end of the stream) is held until this is set or a stop comes.
    std::atomic<int> finishes{0};
    std::atomic<bool> releaseFinish{true};
};

// An output buffer that takes a little time per frame, standing in for the
// pace of the sound device.
class PacedOutput : public OBuffer {
public:
    PacedOutput(std::shared_ptr<OutputLog> log, std::chrono::milliseconds perFrame)
        : log(std::move(log)), perFrame(perFrame) {}
    ~PacedOutput() override { log->destroyed = true; }
    void Append(int32_t, int16_t) override {}
    void WriteBuffer() override {
        if (log->paused) ++log->framesWhilePaused;
        ++log->frames;
        std::this_thread::sleep_for(perFrame);
    }
    void ClearBuffer() override {}
    void SetStopFlag() override { log->stopFlag = true; }
    void Pause() override {
        ++log->pauses;
        log->paused = true;
    }
    void Restart() override {
        ++log->restarts;
        log->paused = false;
    }
    void Finish() override {
        ++log->finishes;
        while (!log->releaseFinish && !log->stopFlag) std::this_thread::sleep_for(1ms);
    }

private:
    std::shared_ptr<OutputLog> log;
    std::chrono::milliseconds perFrame;
};

// Layer I, 44.1 kHz, 384 kbit/s, stereo frames with all allocations 0: silent.
FrameFields LayerOneFrame() {
    FrameFields frame;
    frame.layer = 1;
    frame.bitrateIndex = 12;
    frame.sampleFrequency = 0;
    return frame;
}

std::vector<uint8_t> Frames(int count, int garbageFrames = 0) {
    std::vector<uint8_t> file;
    for (int i = 0; i < count; ++i) AppendFrame(file, LayerOneFrame());
    // Bytes without any sync word, as much as garbageFrames whole frames.
    file.resize(file.size() + static_cast<size_t>(garbageFrames) * (FrameBodySize(LayerOneFrame()) + 4), 0);
    return file;
}

struct Rig {
    std::unique_ptr<MPEGPlayer> player = std::make_unique<MPEGPlayer>();
    std::shared_ptr<OutputLog> log = std::make_shared<OutputLog>();

    explicit Rig(std::vector<uint8_t> bytes, std::chrono::milliseconds perFrame = 0ms, bool withOutput = true) {
        player->OpenStream(std::make_unique<MemoryStream>(std::move(bytes)), "test.mp3");
        if (withOutput) player->SetOutput(std::make_unique<PacedOutput>(log, perFrame));
    }
};

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit = 5000ms) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return condition();
}

// A stream whose reads fail once the position passes a limit, as a file on
// a failing disk would.
class FailingStream : public MemoryStream {
public:
    FailingStream(std::vector<uint8_t> bytes, int64_t limit) : MemoryStream(std::move(bytes)), limit(limit) {}
    int64_t Read(void* dest, int64_t count) override {
        if (Seek(0, 1) + count > limit) throw StreamError("TBufStream.bsReadBuffer: read failed");
        return MemoryStream::Read(dest, count);
    }

private:
    int64_t limit;
};

} // namespace

TEST(MPEGPlayerLifeCycle, TrackThatEndsOnItsOwnPlaysEveryFrameAndItsTail) {
    Rig rig(Frames(40));
    EXPECT_EQ(rig.player->ElapsedSeconds(), 0u);
    EXPECT_EQ(rig.player->Layer(), 1);
    EXPECT_EQ(rig.player->Frequency(), 44100);
    EXPECT_EQ(rig.player->Bitrate(), 384000);
    rig.player->Play();
    rig.player->WaitForEnd();
    EXPECT_FALSE(rig.player->Playing());
    EXPECT_EQ(rig.log->frames, 40);
    EXPECT_EQ(rig.player->FramesDecoded(), 40);
    // A Stop after the end changes nothing: the tail is still played out.
    rig.player->Stop();
    rig.player->Pause();
    EXPECT_EQ(rig.log->pauses, 0);
    rig.player.reset();
    EXPECT_TRUE(rig.log->destroyed);
    EXPECT_FALSE(rig.log->stopFlag);
}

TEST(MPEGPlayerLifeCycle, TrackEndsOnceItsTailHasPlayedOrAStopCuts) {
    {
        Rig rig(Frames(40));
        rig.log->releaseFinish = false;
        rig.player->Play();
        ASSERT_TRUE(Eventually([&] { return rig.log->finishes == 1; }));
        std::this_thread::sleep_for(20ms);
        EXPECT_TRUE(rig.player->Playing()); // the last frames are still being heard
        rig.log->releaseFinish = true;
        rig.player->WaitForEnd();
        EXPECT_FALSE(rig.player->Playing());
        EXPECT_EQ(rig.log->frames, 40);
    }
    {
        Rig rig(Frames(40));
        rig.log->releaseFinish = false;
        rig.player->Play();
        ASSERT_TRUE(Eventually([&] { return rig.log->finishes == 1; }));
        rig.player->Stop();
        rig.player->WaitForEnd();
        EXPECT_FALSE(rig.player->Playing());
        EXPECT_TRUE(rig.log->stopFlag);
    }
}

TEST(MPEGPlayerLifeCycle, NothingToPlayEndsAtOnce) {
    // Not MPEG audio at all.
    Rig garbage(std::vector<uint8_t>(5000, 0x41));
    garbage.player->Play();
    garbage.player->WaitForEnd();
    EXPECT_FALSE(garbage.player->Playing());
    EXPECT_EQ(garbage.log->frames, 0);

    // A missing file.
    MPEGPlayer missing;
    missing.Open("/nonexistent/zumo/track.mp3");
    missing.Play();
    missing.WaitForEnd();
    EXPECT_FALSE(missing.Playing());
    EXPECT_EQ(missing.FramesDecoded(), 0);

    // No output buffer (the device could not be opened): nothing is decoded.
    Rig silent(Frames(10), 0ms, false);
    silent.player->Play();
    silent.player->WaitForEnd();
    EXPECT_FALSE(silent.player->Playing());
    EXPECT_EQ(silent.player->FramesDecoded(), 0);
}

TEST(MPEGPlayerLifeCycle, DestroyInEveryStateIsSafe) {
    { Rig created(Frames(5)); } // opened, never played
    { MPEGPlayer bare; }        // never opened
    {
        Rig playing(Frames(2000), 2ms);
        playing.player->Play();
        std::this_thread::sleep_for(20ms);
        playing.player.reset(); // destroy while decoding
        EXPECT_TRUE(playing.log->stopFlag);
    }
    {
        Rig paused(Frames(2000), 2ms);
        paused.player->Play();
        paused.player->Pause();
        paused.player.reset(); // destroy while paused must not hang
        EXPECT_TRUE(paused.log->destroyed);
    }
}

TEST(MPEGPlayerLifeCycle, StopEndsDecodingAndDropsQueuedAudio) {
    Rig rig(Frames(2000), 2ms);
    rig.player->Play();
    ASSERT_TRUE(Eventually([&] { return rig.log->frames >= 5; }));
    std::thread other([&] { rig.player->Stop(); });
    other.join();
    EXPECT_FALSE(rig.player->Playing());
    rig.player->WaitForEnd();
    const int decoded = rig.log->frames;
    EXPECT_LT(decoded, 2000);
    EXPECT_TRUE(rig.log->stopFlag);
    EXPECT_EQ(rig.log->finishes, 0); // a stopped track is not played out
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(rig.log->frames, decoded);
    rig.player->Stop(); // a second Stop is harmless
}

TEST(MPEGPlayerLifeCycle, PauseHoldsTheDecoderAndTheClockResumeGoesOn) {
    Rig rig(Frames(3000), 1ms);
    rig.player->Play();
    ASSERT_TRUE(Eventually([&] { return rig.log->frames >= 3; }));
    rig.player->Pause();
    rig.player->Pause(); // a level, not a count
    EXPECT_EQ(rig.log->pauses, 1);
    EXPECT_TRUE(rig.player->Playing());
    // The frame in progress may still end; after that nothing more.
    std::this_thread::sleep_for(50ms);
    const int atPause = rig.log->frames;
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(rig.log->frames, atPause);
    // Time spent paused does not count as played.
    EXPECT_EQ(rig.player->ElapsedSeconds(), 0u);

    rig.player->Resume();
    rig.player->Resume();
    EXPECT_EQ(rig.log->restarts, 1);
    EXPECT_TRUE(Eventually([&] { return rig.log->frames > atPause + 5; }));
    EXPECT_LE(rig.log->framesWhilePaused, 1);
    rig.player->Stop();
    rig.player->WaitForEnd();
}

TEST(MPEGPlayerLifeCycle, ElapsedSecondsCountsPlayingTimeAndStandsAfterTheEnd) {
    Rig rig(Frames(100), 12ms); // about 1.2 s of decoding
    rig.player->Play();
    rig.player->WaitForEnd();
    EXPECT_EQ(rig.player->ElapsedSeconds(), 1u);
    // Still answers after the end, from the same start.
    std::this_thread::sleep_for(100ms);
    EXPECT_GE(rig.player->ElapsedSeconds(), 1u);
}

// With a sound device the elapsed time is what the device has played, not
// the time since Play: a device that plays nothing (a suspended sink, a
// sound server gone) holds it. Once the track has played out the device is
// closed, though the player itself stays until the next track.
TEST(MPEGPlayerLifeCycle, ElapsedTimeIsTheTimeHeardAndTheDeviceIsLetGoAtTheEnd) {
    Rig rig(Frames(200), 0ms, /*withOutput=*/false);
    auto log = std::make_shared<RecordingWaveOut::Log>(); // plays only when told
    rig.player->SetOutput(NewWaveOBuffer(0, ChannelChoice::Both, 44100, 1, 1, std::make_unique<RecordingWaveOut>(log)));
    rig.player->Play();
    ASSERT_TRUE(log->WaitForWritten(2));
    std::this_thread::sleep_for(1100ms);
    EXPECT_EQ(rig.player->ElapsedSeconds(), 0u);
    EXPECT_TRUE(rig.player->Playing());

    // 200 Layer I frames in blocks of 32: 7 blocks, 1.95 s with the padding.
    log->SetAutoPlay(true);
    rig.player->WaitForEnd();
    EXPECT_EQ(log->Played().size(), 7u);
    EXPECT_EQ(rig.player->ElapsedSeconds(), 1u);
    EXPECT_FALSE(log->IsOpen());
    EXPECT_EQ(log->CloseCalls(), 1);
}

TEST(MPEGPlayerLifeCycle, TotalSecondsRoundsToNearest) {
    // 128 kbit/s MPEG-1 Layer III at 44.1 kHz: 4,170,000 bytes are 261,224.5 ms.
    FrameFields frame;
    std::vector<uint8_t> file;
    for (int i = 0; i < 10000; ++i) AppendFrame(file, frame);
    Rig rig(file);
    EXPECT_EQ(rig.player->TotalSeconds(), 261);
}

TEST(MPEGPlayerLifeCycle, ReadErrorEndsTheTrackNotTheProgram) {
    auto bytes = Frames(400);
    auto player = std::make_unique<MPEGPlayer>();
    auto log = std::make_shared<OutputLog>();
    player->OpenStream(std::make_unique<FailingStream>(bytes, static_cast<int64_t>(bytes.size() / 2)), "bad.mp3");
    player->SetOutput(std::make_unique<PacedOutput>(log, 0ms));
    player->Play();
    player->WaitForEnd();
    EXPECT_FALSE(player->Playing());
    EXPECT_GT(log->frames, 0);
    EXPECT_LT(log->frames, 400);
}

TEST(MPEGPlayerRepeat, ReadFailureNearTheEstimateStartsAgain) {
    // The estimate counts 110 frames; the last real frame has index 99.
    Rig rig(Frames(100, 10), 0ms);
    rig.player->SetRepeatMode(true);
    rig.player->Play();
    EXPECT_TRUE(Eventually([&] { return rig.log->frames > 250; }));
    EXPECT_TRUE(rig.player->Playing());
    rig.player->Stop();
    rig.player->WaitForEnd();
}

TEST(MPEGPlayerRepeat, ReadFailureFarFromTheEstimateEnds) {
    Rig rig(Frames(50, 60), 0ms);
    rig.player->SetRepeatMode(true);
    rig.player->Play();
    rig.player->WaitForEnd();
    EXPECT_EQ(rig.log->frames, 50);
}

TEST(MPEGPlayerRepeat, WithoutRepeatTheTrackEnds) {
    Rig rig(Frames(100, 10), 0ms);
    rig.player->Play();
    rig.player->WaitForEnd();
    EXPECT_EQ(rig.log->frames, 100);
}

TEST(MPEGPlayerThreads, CommandsFromSeveralThreadsWhileDecoding) {
    Rig rig(Frames(3000), 1ms);
    rig.player->Play();
    std::atomic<bool> done{false};
    std::thread toggler([&] {
        for (int i = 0; i < 200 && !done; ++i) {
            rig.player->Pause();
            (void)rig.player->ElapsedSeconds();
            rig.player->Resume();
            (void)rig.player->Bitrate();
        }
    });
    std::this_thread::sleep_for(30ms);
    rig.player->Stop();
    done = true;
    toggler.join();
    rig.player->WaitForEnd();
    EXPECT_FALSE(rig.player->Playing());
    rig.player.reset();
    EXPECT_TRUE(rig.log->destroyed);
}
