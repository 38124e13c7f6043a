#include "output/AlsaWaveOut.h"
#include "output/WaveOBuffer.h"
#include "support/RecordingWaveOut.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace zumo;
using namespace zumo::test;

namespace {

using Log = RecordingWaveOut::Log;

struct Rig {
    std::shared_ptr<Log> log = std::make_shared<Log>();
    std::unique_ptr<WaveOBuffer> buffer;

    Rig(int channels, int layer = 3, uint8_t version = 1, bool autoPlay = true) {
        log->SetAutoPlay(autoPlay);
        buffer = std::make_unique<WaveOBuffer>(channels, 44100, layer, version,
                                               std::make_unique<RecordingWaveOut>(log));
    }
};

// One decoded frame: samplesPerChannel samples per channel, value
// base + k for channel 0 and -(base + k) for channel 1.
void Frame(OBuffer& out, int channels, int samplesPerChannel, int base = 1) {
    for (int c = 0; c < channels; ++c)
        for (int k = 0; k < samplesPerChannel; ++k)
            out.Append(c, static_cast<int16_t>(c == 0 ? base + k % 1000 : -(base + k % 1000)));
    out.WriteBuffer();
}

int16_t SampleAt(const std::vector<uint8_t>& bytes, size_t index) {
    return static_cast<int16_t>(bytes[2 * index] | bytes[2 * index + 1] << 8);
}

} // namespace

TEST(WaveOBuffer, BlockSizesAndFormatFollowTheStream) {
    Rig l3stereo(2, 3, 1);
    EXPECT_EQ(l3stereo.buffer->BlockSize(), 147456);
    const WaveFormat f = l3stereo.log->Format();
    EXPECT_EQ(f.channels, 2);
    EXPECT_EQ(f.samplesPerSec, 44100u);
    EXPECT_EQ(f.avgBytesPerSec, 176400u);
    EXPECT_EQ(f.blockAlign, 4);
    EXPECT_EQ(f.bitsPerSample, 16);

    EXPECT_EQ(Rig(1, 1, 1).buffer->BlockSize(), 24576);  // Layer I, one channel
    EXPECT_EQ(Rig(2, 3, 0).buffer->BlockSize(), 73728);  // MPEG-2 Layer III
    EXPECT_EQ(Rig(2, 2, 0).buffer->BlockSize(), 147456); // MPEG-2 Layer II keeps 1,152 samples

    // A stereo stream with a single channel chosen, and a single-channel stream.
    auto log = std::make_shared<Log>();
    auto chosen = NewWaveOBuffer(0, ChannelChoice::Left, 44100, 3, 1, std::make_unique<RecordingWaveOut>(log));
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(static_cast<WaveOBuffer*>(chosen.get())->Channels(), 1);
    auto mono = NewWaveOBuffer(3, ChannelChoice::Both, 44100, 3, 1, std::make_unique<RecordingWaveOut>());
    EXPECT_EQ(static_cast<WaveOBuffer*>(mono.get())->Channels(), 1);
    auto stereo = NewWaveOBuffer(1, ChannelChoice::Both, 44100, 3, 1, std::make_unique<RecordingWaveOut>());
    EXPECT_EQ(static_cast<WaveOBuffer*>(stereo.get())->Channels(), 2);
}

TEST(WaveOBuffer, DeviceFailureGivesNoBuffer) {
    auto log = std::make_shared<Log>();
    log->SetFailOpen(true);
    EXPECT_EQ(NewWaveOBuffer(0, ChannelChoice::Both, 44100, 3, 1, std::make_unique<RecordingWaveOut>(log)), nullptr);
}

// The ALSA layer refuses what it cannot play without touching a sound
// server: a device name ALSA does not know, and formats it does not take.
TEST(WaveOBuffer, AlsaDeviceThatCannotOpenGivesNoBuffer) {
    EXPECT_EQ(NewWaveOBuffer(0, ChannelChoice::Both, 44100, 3, 1, std::make_unique<AlsaWaveOut>("zumo_no_such_device")),
              nullptr);
    AlsaWaveOut device("zumo_no_such_device");
    WaveFormat format;
    format.channels = 3;
    format.samplesPerSec = 44100;
    format.blockAlign = 6;
    format.avgBytesPerSec = 44100 * 6;
    EXPECT_EQ(device.Open(format), WaveOutDevice::kBadFormat);
    format.channels = 2;
    format.blockAlign = 4;
    format.samplesPerSec = 0;
    EXPECT_EQ(device.Open(format), WaveOutDevice::kBadFormat);
    format.samplesPerSec = 44100;
    EXPECT_NE(device.Open(format), WaveOutDevice::kOk);
    // Nothing is open, so nothing can be queued or closed.
    WaveBlock block;
    EXPECT_EQ(device.Prepare(block, WaveOutDevice::kHeaderSize), WaveOutDevice::kNotOpen);
    EXPECT_EQ(device.Close(), WaveOutDevice::kNotOpen);
}

TEST(WaveOBuffer, SamplesAreInterleavedLittleEndian) {
    Rig rig(2);
    for (int i = 0; i < 64; ++i) Frame(*rig.buffer, 2, 1152, 1 + i);
    ASSERT_TRUE(rig.log->WaitForWritten(2));
    const auto blocks = rig.log->Written();
    ASSERT_EQ(blocks.size(), 2u);
    const auto& b = blocks[0].bytes;
    ASSERT_EQ(blocks[0].size, 147456u);
    EXPECT_EQ(SampleAt(b, 0), 1);
    EXPECT_EQ(SampleAt(b, 1), -1);
    EXPECT_EQ(SampleAt(b, 2), 2);
    EXPECT_EQ(SampleAt(b, 3), -2);
    // Frame 2 of the block starts at sample pair 1152.
    EXPECT_EQ(SampleAt(b, 2 * 1152), 2);
    EXPECT_EQ(SampleAt(blocks[1].bytes, 0), 33);
}

TEST(WaveOBuffer, ShortTracksPlayOutTheirTailPaddedWithSilence) {
    {
        // 20 frames: nothing reaches the device while decoding; the
        // destructor queues one whole block, silent after frame 20.
        Rig rig(2);
        for (int i = 0; i < 20; ++i) Frame(*rig.buffer, 2, 1152);
        EXPECT_TRUE(rig.log->Written().empty());
        auto log = rig.log;
        rig.buffer.reset();
        const auto blocks = log->Written();
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0].size, 147456u);
        EXPECT_EQ(SampleAt(blocks[0].bytes, 20 * 1152 * 2 - 2), 1 + 1151 % 1000);
        for (size_t i = 20 * 1152 * 2; i < 147456 / 2; i += 997) ASSERT_EQ(SampleAt(blocks[0].bytes, i), 0) << i;
        EXPECT_EQ(log->PlayedBytes().size(), 147456u);
    }
    {
        // 40 frames: the first full block, then the partial second one.
        Rig rig(2);
        for (int i = 0; i < 40; ++i) Frame(*rig.buffer, 2, 1152);
        EXPECT_TRUE(rig.log->Written().empty());
        auto log = rig.log;
        rig.buffer.reset();
        ASSERT_EQ(log->Written().size(), 2u);
        EXPECT_EQ(log->Written()[1].size, 147456u);
    }
    {
        // Exactly 64 frames: both blocks are queued at frame 64 and the
        // destructor only waits.
        Rig rig(2);
        for (int i = 0; i < 64; ++i) Frame(*rig.buffer, 2, 1152);
        EXPECT_EQ(rig.log->Written().size(), 2u);
        auto log = rig.log;
        rig.buffer.reset();
        EXPECT_EQ(log->Written().size(), 2u);
        EXPECT_EQ(log->CloseCalls(), 1);
    }
}

// A change of format: everything decoded in the old one is heard first, as
// far as it was decoded (no silence put in between), then the device opens
// again and the blocks carry the new format. The time heard runs on across
// the change, each part at its own rate.
TEST(WaveOBuffer, NewFormatPlaysOutTheOldOneAndOpensTheDeviceAgain) {
    Rig rig(2);
    for (int i = 0; i < 40; ++i) Frame(*rig.buffer, 2, 1152, 1);
    rig.buffer->NewFormat(1, 48000);
    EXPECT_EQ(rig.log->CloseCalls(), 1);
    EXPECT_EQ(rig.log->OpenCalls(), 2);
    EXPECT_EQ(rig.log->Format().channels, 1);
    EXPECT_EQ(rig.log->Format().samplesPerSec, 48000u);
    const size_t before = 40u * 1152 * 2 * 2;
    EXPECT_EQ(rig.log->PlayedBytes().size(), before);
    for (int i = 0; i < 10; ++i) Frame(*rig.buffer, 1, 1152, 7);
    rig.buffer->Finish();
    const auto played = rig.log->PlayedBytes();
    ASSERT_EQ(played.size(), before + 73728u); // one block of one channel, its tail silent
    EXPECT_EQ(SampleAt(played, before / 2 - 2), 1 + 1151 % 1000);
    EXPECT_EQ(SampleAt(played, before / 2 - 1), -(1 + 1151 % 1000));
    for (size_t k = 0; k < 3; ++k) EXPECT_EQ(SampleAt(played, before / 2 + k), 7 + static_cast<int>(k));
    EXPECT_EQ(rig.buffer->HeardMicroseconds(), 40 * 1152 * 1000000LL / 44100 + 36864 * 1000000LL / 48000);
}

TEST(WaveOBuffer, FinishPlaysTheTailBeforeTheBufferGoes) {
    {
        // 40 frames: Finish queues the first full block and the padded
        // partial one and returns once both have played; the destructor
        // then has nothing left to queue.
        Rig rig(2, 3, 1, /*autoPlay=*/false);
        for (int i = 0; i < 40; ++i) Frame(*rig.buffer, 2, 1152);
        std::thread decoder([&] { rig.buffer->Finish(); });
        ASSERT_TRUE(rig.log->WaitForWritten(2));
        ASSERT_TRUE(rig.log->WaitForStillPlaying(1));
        rig.log->PlayAll();
        decoder.join();
        EXPECT_EQ(rig.log->Played().size(), 2u);
        auto log = rig.log;
        rig.buffer.reset();
        EXPECT_EQ(log->Written().size(), 2u);
        EXPECT_EQ(log->CloseCalls(), 1);
    }
    {
        // A device that never plays: a stop ends Finish, and the tail is dropped.
        Rig rig(2, 3, 1, /*autoPlay=*/false);
        for (int i = 0; i < 70; ++i) Frame(*rig.buffer, 2, 1152);
        std::thread decoder([&] { rig.buffer->Finish(); });
        ASSERT_TRUE(rig.log->WaitForStillPlaying(1));
        rig.buffer->SetStopFlag();
        decoder.join();
        auto log = rig.log;
        rig.buffer.reset();
        EXPECT_TRUE(log->Played().empty());
    }
}

TEST(WaveOBuffer, DecoderWaitsForTheBlockQueuedTwoTurnsEarlier) {
    Rig rig(1, 3, 1, /*autoPlay=*/false);
    std::thread decoder([&] {
        for (int i = 0; i < 96; ++i) Frame(*rig.buffer, 1, 1152);
    });
    // At frame 96 the third block is queued, and the decoder waits for the first.
    ASSERT_TRUE(rig.log->WaitForWritten(3));
    ASSERT_TRUE(rig.log->WaitForStillPlaying(2));
    rig.log->PlayNext(1);
    decoder.join();
    rig.log->SetAutoPlay(true);
    rig.log->PlayAll();
}

TEST(WaveOBuffer, StopFlagDropsQueuedAudioAndNeverHangs) {
    // The device never plays anything: without the stop flag this would wait forever.
    Rig rig(2, 3, 1, /*autoPlay=*/false);
    std::thread decoder([&] {
        for (int i = 0; i < 200; ++i) Frame(*rig.buffer, 2, 1152);
    });
    ASSERT_TRUE(rig.log->WaitForStillPlaying(1));
    rig.buffer->SetStopFlag();
    decoder.join();
    auto log = rig.log;
    rig.buffer.reset();
    EXPECT_GE(log->ResetCalls(), 1);
    EXPECT_TRUE(log->Played().empty());
}

TEST(WaveOBuffer, StopWhilePausedDoesNotHang) {
    Rig rig(2);
    std::thread decoder([&] {
        for (int i = 0; i < 400; ++i) Frame(*rig.buffer, 2, 1152);
    });
    ASSERT_TRUE(rig.log->WaitForWritten(2));
    rig.buffer->Pause();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    rig.buffer->SetStopFlag();
    decoder.join();
    rig.buffer.reset();
}

TEST(WaveOBuffer, PauseAndRestartLoseOrRepeatNothing) {
    Rig rig(1);
    std::vector<int16_t> sent;
    for (int i = 0; i < 160; ++i) {
        if (i == 70) rig.buffer->Pause();
        if (i == 75) rig.buffer->Restart();
        for (int k = 0; k < 1152; ++k) {
            const auto v = static_cast<int16_t>((i * 1152 + k) % 30000);
            rig.buffer->Append(0, v);
            sent.push_back(v);
        }
        rig.buffer->WriteBuffer();
    }
    auto log = rig.log;
    rig.buffer.reset();
    EXPECT_EQ(log->PauseCalls(), 1);
    EXPECT_EQ(log->RestartCalls(), 1);
    const auto played = log->PlayedBytes();
    ASSERT_GE(played.size() / 2, sent.size());
    for (size_t i = 0; i < sent.size(); i += 101) ASSERT_EQ(SampleAt(played, i), sent[i]) << i;
    for (size_t i = sent.size(); i < played.size() / 2; i += 101) ASSERT_EQ(SampleAt(played, i), 0);
}

TEST(WaveOBuffer, AppendsBeyondTheBlockOrTheChannelsStayInside) {
    // A Layer I block (384-sample frames) then fed Layer II frames of 1,152
    // samples, and samples for a channel the format does not have.
    Rig rig(2, 1, 1);
    for (int i = 0; i < 70; ++i) {
        rig.buffer->Append(5, 123);
        rig.buffer->Append(-1, 123);
        Frame(*rig.buffer, 2, 1152);
    }
    auto log = rig.log;
    rig.buffer.reset();
    for (const auto& b : log->Written()) EXPECT_LE(b.size, 49152u);
}

TEST(WaveOBuffer, BlockAppendsWriteWhatSingleAppendsWrite) {
    // Blocks of 32 as the synthesis filter hands them over, against the same
    // samples one by one: inside the block, across its end (Layer II frames
    // into a Layer I block) and for a channel the format does not have.
    Rig single(2, 1, 1), blocks(2, 1, 1);
    int16_t block[32];
    for (int f = 0; f < 40; ++f) {
        for (int c = 0; c < 3; ++c) {
            for (int b = 0; b < 36; ++b) {
                for (int k = 0; k < 32; ++k) {
                    block[k] = static_cast<int16_t>((f * 7919 + c * 104729 + b * 32 + k) % 65536 - 32768);
                    single.buffer->Append(c, block[k]);
                }
                blocks.buffer->AppendBlock(c, block, 32);
            }
        }
        single.buffer->WriteBuffer();
        blocks.buffer->WriteBuffer();
    }
    auto singleLog = single.log;
    auto blockLog = blocks.log;
    single.buffer.reset();
    blocks.buffer.reset();
    const auto a = singleLog->Written();
    const auto b = blockLog->Written();
    ASSERT_EQ(a.size(), b.size());
    ASSERT_GT(a.size(), 0u);
    for (size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].size, b[i].size) << i;
        EXPECT_EQ(a[i].bytes, b[i].bytes) << i;
    }
}

TEST(WaveOBuffer, ClearBufferStartsEmpty) {
    Rig rig(2, 3, 1, /*autoPlay=*/false);
    for (int i = 0; i < 64; ++i) Frame(*rig.buffer, 2, 1152);
    rig.buffer->ClearBuffer();
    EXPECT_GE(rig.log->ResetCalls(), 1);
    rig.log->SetAutoPlay(true);
    for (int i = 0; i < 10; ++i) Frame(*rig.buffer, 2, 1152);
    auto log = rig.log;
    const size_t before = log->Written().size();
    rig.buffer.reset();
    EXPECT_EQ(log->Written().size(), before + 1); // the tail of 10 frames only
}

namespace {

// Waits until the decoder has gone to sleep in the device n times.
bool WaitForChangeWaits(Log& log, int n) {
    for (int i = 0; i < 500; ++i) {
        if (log.ChangeWaits() >= n) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

} // namespace

// A device that tells when a block has played: the decoder sleeps until it
// is woken (by the block, a stop or a pause) instead of asking every 20 ms,
// and wakes at once, not at the end of its longest wait.
TEST(WaveOBuffer, ADeviceThatTellsWakesTheDecoderInsteadOfPolling) {
    {
        Rig rig(1, 3, 1, /*autoPlay=*/false);
        rig.log->SetNotifies(true);
        std::thread decoder([&] {
            for (int i = 0; i < 96; ++i) Frame(*rig.buffer, 1, 1152);
        });
        ASSERT_TRUE(rig.log->WaitForWritten(3));
        ASSERT_TRUE(WaitForChangeWaits(*rig.log, 1));
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        EXPECT_LE(rig.log->StillPlayingAnswers(), 2); // polling would have asked four times more
        rig.log->PlayNext(1);
        decoder.join();
        EXPECT_EQ(rig.log->ChangeWaits(), 1);
        rig.log->SetAutoPlay(true);
    }
    {
        // A stop wakes a decoder waiting on a device that never plays.
        Rig rig(2, 3, 1, /*autoPlay=*/false);
        rig.log->SetNotifies(true);
        std::thread decoder([&] {
            for (int i = 0; i < 200; ++i) Frame(*rig.buffer, 2, 1152);
        });
        ASSERT_TRUE(WaitForChangeWaits(*rig.log, 1));
        rig.buffer->SetStopFlag();
        decoder.join();
        EXPECT_EQ(rig.log->ChangeWaits(), 1);
        EXPECT_GE(rig.log->ResetCalls(), 1);
        auto log = rig.log;
        rig.buffer.reset();
        EXPECT_TRUE(log->Played().empty());
    }
    {
        // The tail plays out through the same waits, and nothing is lost.
        Rig rig(1, 3, 1, /*autoPlay=*/false);
        rig.log->SetNotifies(true);
        for (int i = 0; i < 40; ++i) Frame(*rig.buffer, 1, 1152);
        std::thread decoder([&] { rig.buffer->Finish(); });
        ASSERT_TRUE(WaitForChangeWaits(*rig.log, 1));
        rig.log->PlayNext(1);
        ASSERT_TRUE(WaitForChangeWaits(*rig.log, 2));
        rig.log->PlayNext(1);
        decoder.join();
        EXPECT_EQ(rig.log->Played().size(), 2u);
    }
}
