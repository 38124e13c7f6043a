// Whatever a user drops on the player goes through the whole decode path
// and ends or plays on: tiny and empty files, cut downloads, random bytes,
// flipped bits, fields at their extremes, and paths the file system refuses.
#include "engine/MPEGPlayer.h"
#include "output/WaveOBuffer.h"
#include "stream/MemoryStream.h"

#include "support/BitWriter.h"
#include "support/Conformance.h"
#include "support/RecordingWaveOut.h"

#include <gtest/gtest.h>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

using namespace zumo;
using namespace zumo::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Keeps a running digest of every sample per channel, so that whole outputs
// compare cheaply, and counts anything a decoder should never do.
struct Outcome {
    uint64_t digest[2] = {1469598103934665603ull, 1469598103934665603ull};
    int64_t samples[2] = {0, 0};
    int64_t strayAppends = 0;
    int64_t frames = 0;
    int64_t unevenFrames = 0; // frames whose two channels got different amounts
    int formatChanges = 0;
    bool ended = false;
    std::vector<uint64_t> digestPerFrame; // after each WriteBuffer, channel 0 and 1 folded
};

class DigestBuffer : public OBuffer {
public:
    DigestBuffer(Outcome& out, int channels) : out(out), channels(channels) {}
    void Append(int32_t channel, int16_t sample) override {
        if (channel < 0 || channel >= channels) {
            ++out.strayAppends;
            return;
        }
        out.digest[channel] = (out.digest[channel] ^ static_cast<uint16_t>(sample)) * 1099511628211ull;
        ++out.samples[channel];
        ++inFrame[channel];
    }
    void WriteBuffer() override {
        ++out.frames;
        out.digestPerFrame.push_back(out.digest[0] * 31 + out.digest[1]);
        if (inFrame[1] != 0 && inFrame[1] != inFrame[0]) ++out.unevenFrames;
        inFrame[0] = inFrame[1] = 0;
    }
    void ClearBuffer() override {}
    void SetStopFlag() override {}
    void NewFormat(int32_t newChannels, int32_t) override {
        channels = newChannels;
        ++out.formatChanges;
    }

private:
    Outcome& out;
    int channels;
    int64_t inFrame[2] = {0, 0};
};

constexpr ChannelChoice kEveryChoice[] = {ChannelChoice::Both, ChannelChoice::Left, ChannelChoice::Right,
                                          ChannelChoice::Mix};

Outcome Play(MPEGPlayer& player, ChannelChoice choice) {
    Outcome out;
    player.SetChannelChoice(choice);
    const int channels = OutputChannels(player.Mode(), choice);
    player.SetOutput(std::make_unique<DigestBuffer>(out, channels));
    player.Play();
    player.WaitForEnd();
    out.ended = !player.Playing();
    return out;
}

Outcome Decode(const std::vector<uint8_t>& bytes, ChannelChoice choice = ChannelChoice::Both) {
    MPEGPlayer player;
    player.OpenStream(std::make_unique<MemoryStream>(bytes), "damaged.mp3");
    return Play(player, choice);
}

Outcome DecodeFile(const std::string& path) {
    MPEGPlayer player;
    player.Open(path);
    return Play(player, ChannelChoice::Both);
}

// The checks every damaged input must pass: the track ended, no sample went
// to a channel that the output's format does not have, both channels got
// the same amount in every frame.
void ExpectClean(const Outcome& out, const std::string& what) {
    EXPECT_TRUE(out.ended) << what;
    EXPECT_EQ(out.strayAppends, 0) << what;
    EXPECT_EQ(out.samples[0] % 32, 0) << what;
    EXPECT_EQ(out.unevenFrames, 0) << what;
}

std::vector<uint8_t> DemoStream() { return ReadFileBytes(std::string(ZUMO_SOURCE_DIR) + "/demo/demo.mp3"); }

// The real streams the sweeps use: the repo's demo (Layer III), and one
// compliance stream per layer and version when the folder is there.
std::vector<std::pair<std::string, std::vector<uint8_t>>> RealStreams() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> streams{{"demo", DemoStream()}};
    if (HaveConformance())
        for (const char* name : {"l1-fl1", "l2-fl10", "l2-test32", "l3-compl", "M2L3_compl24"})
            streams.emplace_back(name, ReadFileBytes(StreamPath(name)));
    return streams;
}

} // namespace

TEST(DamagedInput, TinyAndFeaturelessFilesEndAtOnce) {
    const std::vector<std::pair<std::string, std::vector<uint8_t>>> cases{
        {"empty", {}},
        {"one byte", {0xFF}},
        {"three bytes", {0xFF, 0xFB, 0x90}},
        {"a lone header", {0xFF, 0xFB, 0x90, 0x00}},
        {"0xFF only", std::vector<uint8_t>(20000, 0xFF)},
        {"zeros only", std::vector<uint8_t>(20000, 0x00)},
        {"sync pattern repeated",
         [] {
             std::vector<uint8_t> v;
             for (int i = 0; i < 5000; ++i) v.insert(v.end(), {0xFF, 0xF0});
             return v;
         }()},
    };
    for (const auto& [what, bytes] : cases) {
        for (ChannelChoice choice : kEveryChoice) {
            const Outcome out = Decode(bytes, choice);
            ExpectClean(out, what);
            EXPECT_EQ(out.frames, 0) << what;
        }
    }
}

// Every field read from the body at its largest value: Layer I allocation
// 15, Layer II allocations beyond the grouped tables, Layer III
// main_data_begin before any data, part2_3_length larger than the frame,
// big_values 511, region counts and table selections out of range, scale
// factors and gains at their extremes.
TEST(DamagedInput, BodiesOfAllOnesAtEveryLayerVersionAndMode) {
    for (int version : {1, 0})
        for (int layer : {1, 2, 3})
            for (int mode : {0, 1, 2, 3})
                for (int protection : {0, 1}) {
                    FrameFields frame;
                    frame.version = version;
                    frame.layer = layer;
                    frame.mode = mode;
                    frame.modeExtension = 3;
                    frame.protection = protection;
                    frame.bitrateIndex = 14;
                    std::vector<uint8_t> file;
                    const std::vector<uint8_t> ones(static_cast<size_t>(FrameBodySize(frame)), 0xFF);
                    for (int i = 0; i < 12; ++i) AppendFrame(file, frame, ones);
                    const std::string what = "version " + std::to_string(version) + " layer " + std::to_string(layer) +
                                             " mode " + std::to_string(mode) + " protection " +
                                             std::to_string(protection);
                    for (ChannelChoice choice : kEveryChoice) ExpectClean(Decode(file, choice), what);
                }
}

// A cut download keeps exactly the audio of the frames before the cut: the
// output is a prefix of the whole file's output, never something else.
TEST(DamagedInput, EveryTruncationKeepsThePrefixOfTheWholeOutput) {
    std::mt19937 rng(7);
    for (const auto& [name, bytes] : RealStreams()) {
        const Outcome full = Decode(bytes);
        ASSERT_GT(full.frames, 4) << name;
        // Every cut within about the first five frames, then cuts anywhere.
        const size_t firstFrames = bytes.size() * 5 / static_cast<size_t>(full.frames) + 64;
        std::vector<size_t> cuts;
        for (size_t n = 0; n <= firstFrames && n < bytes.size(); ++n) cuts.push_back(n);
        for (int i = 0; i < 40; ++i) cuts.push_back(rng() % bytes.size());
        for (size_t n : cuts) {
            const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
            const Outcome out = Decode(cut);
            const std::string what = name + " cut at " + std::to_string(n);
            ExpectClean(out, what);
            ASSERT_LE(out.frames, full.frames) << what;
            if (out.frames > 0) {
                ASSERT_EQ(out.digestPerFrame.back(), full.digestPerFrame[static_cast<size_t>(out.frames) - 1]) << what;
            }
        }
    }
}

TEST(DamagedInput, RandomBytesAndRandomBodiesBehindValidHeaders) {
    std::mt19937 rng(11);
    for (int round = 0; round < 16; ++round) {
        std::vector<uint8_t> noise(30000);
        for (auto& b : noise) b = static_cast<uint8_t>(rng());
        ExpectClean(Decode(noise, static_cast<ChannelChoice>(round & 3)), "random bytes " + std::to_string(round));
    }
    // Valid, consistent headers get the frame search past its checks, so the
    // random bodies reach deep into every layer's decoder.
    for (int round = 0; round < 48; ++round) {
        FrameFields frame;
        frame.version = static_cast<int>(rng() % 2);
        frame.layer = 1 + static_cast<int>(rng() % 3);
        frame.mode = static_cast<int>(rng() % 4);
        frame.modeExtension = static_cast<int>(rng() % 4);
        // Mostly unprotected: a random body fails the check word and is dropped unheard.
        frame.protection = rng() % 4 == 0 ? 0 : 1;
        frame.bitrateIndex = 1 + static_cast<int>(rng() % 14);
        frame.sampleFrequency = static_cast<int>(rng() % 3);
        std::vector<uint8_t> file;
        for (int i = 0; i < 30; ++i) {
            std::vector<uint8_t> body(static_cast<size_t>(FrameBodySize(frame)));
            for (auto& b : body) b = static_cast<uint8_t>(rng());
            AppendFrame(file, frame, body);
        }
        const Outcome out = Decode(file, static_cast<ChannelChoice>(round & 3));
        ExpectClean(out, "random bodies " + std::to_string(round));
        if (frame.protection == 1 && frame.layer != 3) {
            EXPECT_EQ(out.frames, 30) << "random bodies " << round; // unchecked bodies still play
        }
    }
}

TEST(DamagedInput, FlippedBitsInRealStreams) {
    std::mt19937 rng(5);
    for (const auto& [name, original] : RealStreams()) {
        // Keep the sweeps short: the first 40 frames' worth of bytes.
        std::vector<uint8_t> bytes(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(
                                                                            std::min<size_t>(original.size(), 24000)));
        // One bit at a time over the first frame's header and side information.
        for (size_t bit = 0; bit < 40 * 8 && bit / 8 < bytes.size(); ++bit) {
            auto flipped = bytes;
            flipped[bit / 8] ^= static_cast<uint8_t>(0x80 >> (bit % 8));
            ExpectClean(Decode(flipped), name + " bit " + std::to_string(bit));
        }
        // Bits flipped all over, one in every few hundred.
        for (int round = 0; round < 12; ++round) {
            auto flipped = bytes;
            for (size_t i = 0; i < flipped.size() / 300; ++i)
                flipped[rng() % flipped.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            ExpectClean(Decode(flipped, static_cast<ChannelChoice>(round & 3)),
                        name + " round " + std::to_string(round));
        }
    }
}

TEST(DamagedInput, PathsTheFileSystemRefusesEndAtOnce) {
    const fs::path dir = fs::path(::testing::TempDir()) / "zumo-damaged-paths";
    fs::create_directories(dir);
    const Outcome ofDirectory = DecodeFile(dir.string());
    ExpectClean(ofDirectory, "a directory");
    EXPECT_EQ(ofDirectory.frames, 0);

    const Outcome ofMissing = DecodeFile((dir / "no such file.mp3").string());
    ExpectClean(ofMissing, "a missing file");
    EXPECT_EQ(ofMissing.frames, 0);

    // A file without read permission. Root reads it all the same, so the
    // check runs in a child process that gives up root first.
    const std::string locked = WriteTempFile("zumo-locked.mp3", DemoStream());
    fs::permissions(locked, fs::perms::none);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
        const Outcome out = DecodeFile(locked);
        _exit(out.ended && out.frames == 0 && out.strayAppends == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "an unreadable file must end the track at once";
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(DamagedInput, PathsWithSpacesAndNonAsciiLettersPlay) {
    const auto bytes = DemoStream();
    const Outcome fromMemory = Decode(bytes);
    const fs::path dir = fs::path(::testing::TempDir()) / "Zumo test ünïcødé ÇŞ 音楽";
    fs::create_directories(dir);
    const fs::path path = dir / "01 — Ölçü şarkı, «live».mp3";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    const Outcome fromFile = DecodeFile(path.string());
    ExpectClean(fromFile, path.string());
    EXPECT_GT(fromFile.frames, 200);
    EXPECT_EQ(fromFile.digestPerFrame, fromMemory.digestPerFrame);
}

// A file cut short on disk while it plays (a download restarted, a file
// overwritten): the read fails and the track ends, the program goes on.
TEST(DamagedInput, FileThatShrinksWhilePlayingEndsTheTrack) {
    auto bytes = DemoStream();
    for (int i = 0; i < 4; ++i) bytes.insert(bytes.end(), bytes.begin(), bytes.begin() + 96965 / 2);
    const std::string path = WriteTempFile("zumo-shrinking.mp3", bytes);

    // An output that takes its time, as the device would, so that the cut
    // comes while the player is in the middle of the file.
    struct SlowBuffer : OBuffer {
        std::atomic<int> frames{0};
        void Append(int32_t, int16_t) override {}
        void WriteBuffer() override {
            ++frames;
            std::this_thread::sleep_for(1ms);
        }
        void ClearBuffer() override {}
        void SetStopFlag() override {}
    };
    MPEGPlayer player;
    player.Open(path);
    ASSERT_TRUE(player.HasFrame());
    auto output = std::make_unique<SlowBuffer>();
    SlowBuffer* seen = output.get();
    player.SetOutput(std::move(output));
    player.Play();
    while (seen->frames < 20) std::this_thread::sleep_for(1ms);
    fs::resize_file(path, 3000);
    player.WaitForEnd();
    EXPECT_FALSE(player.Playing());
    EXPECT_LT(seen->frames, 500);
}

TEST(DamagedInput, LayerOneStartThenLayerTwoFramesStayInsideTheSoundBlocks) {
    // The sound buffer sizes its blocks for the first frame's 384 samples;
    // the Layer II frames that follow bring 1,152 each. Random bodies give
    // them real allocations and samples.
    std::mt19937 rng(7);
    FrameFields one;
    one.layer = 1;
    one.bitrateIndex = 12;
    FrameFields two = one;
    two.layer = 2;
    two.bitrateIndex = 11;
    std::vector<uint8_t> file;
    for (int i = 0; i < 3; ++i) AppendFrame(file, one);
    for (int i = 0; i < 70; ++i) {
        std::vector<uint8_t> body(static_cast<size_t>(FrameBodySize(two)));
        for (uint8_t& b : body) b = static_cast<uint8_t>(rng());
        AppendFrame(file, two, body);
    }

    MPEGPlayer player;
    player.OpenStream(std::make_unique<MemoryStream>(file), "switch.mp3");
    ASSERT_EQ(player.Layer(), 1);
    auto log = std::make_shared<RecordingWaveOut::Log>();
    log->SetAutoPlay(true);
    auto buffer = NewWaveOBuffer(player.Mode(), ChannelChoice::Both, player.Frequency(), player.Layer(), 1,
                                 std::make_unique<RecordingWaveOut>(log));
    ASSERT_NE(buffer, nullptr);
    const uint32_t blockSize = static_cast<uint32_t>(static_cast<WaveOBuffer*>(buffer.get())->BlockSize());
    EXPECT_EQ(blockSize, 2u * 2u * 32u * 384u);
    player.SetOutput(std::move(buffer));
    player.Play();
    player.WaitForEnd();
    EXPECT_FALSE(player.Playing());
    EXPECT_EQ(player.FramesDecoded(), 73);
    const auto written = log->Written();
    ASSERT_FALSE(written.empty());
    uint64_t bytes = 0;
    for (const auto& b : written) {
        EXPECT_LE(b.size, blockSize);
        EXPECT_EQ(b.bytes.size(), b.size);
        bytes += b.size;
    }
    // Samples beyond a full block are dropped, never written past it: the
    // blocks hold at most what the frames decoded, the last one padded
    // with silence.
    EXPECT_LE(bytes, 2u * 2u * (3u * 384u + 70u * 1152u) + blockSize);
    EXPECT_GE(bytes, 2u * 2u * 3u * 384u);
}
