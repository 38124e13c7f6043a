// zumo-decode run as a user runs it: every compliance stream decoded to raw
// PCM and compared with its reference, the WAV output, and the errors.
#include "support/BitWriter.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>

using namespace zumo::test;

namespace {

struct ToolRun {
    int status = -1; // exit status, or -1 when the program did not exit normally
    bool signalled = false;
    std::string err;
};

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("zumo-tool-" + std::to_string(::getpid()) + "-" + name)).string();
}

ToolRun Tool(const std::string& args) {
    const std::string errPath = TempPath("stderr.txt");
    const std::string command = "'" + BinDir() + "/zumo-decode' " + args + " 2>'" + errPath + "'";
    const int raw = std::system(command.c_str());
    ToolRun run;
    if (WIFEXITED(raw)) run.status = WEXITSTATUS(raw);
    run.signalled = WIFSIGNALED(raw) || (WIFEXITED(raw) && WEXITSTATUS(raw) >= 128);
    const auto bytes = ReadFileBytes(errPath);
    run.err.assign(bytes.begin(), bytes.end());
    std::filesystem::remove(errPath);
    return run;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Runs zumo-decode --info on a file and gathers its "key: value" lines.
std::map<std::string, std::string> Info(const std::string& path, ToolRun& run) {
    const std::string outPath = TempPath("info.txt");
    run = Tool("--info " + Quote(path) + " >" + Quote(outPath));
    const auto bytes = ReadFileBytes(outPath);
    std::filesystem::remove(outPath);
    std::map<std::string, std::string> info;
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    for (std::string line; std::getline(lines, line);) {
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) info[line.substr(0, colon)] = line.substr(colon + 2);
    }
    return info;
}

int SamplesPerFrame(const ManifestRow& row) {
    if (row.layer == 1) return 384;
    if (row.layer == 2 || row.mpeg == 1) return 1152;
    return 576;
}

std::vector<ManifestRow> Rows(const std::string& kind, const std::string& orKind = "") {
    std::vector<ManifestRow> rows;
    for (const auto& row : Manifest())
        if (row.kind == kind || row.kind == orKind) rows.push_back(row);
    return rows;
}

} // namespace

// Every stream a correct decoder reproduces, at full accuracy: RMS of the
// difference below 1/sqrt(12) LSB and no sample more than 1 LSB off. The
// free-format stream among them.
TEST(DecodeToolConformance, EveryStreamMatchesItsReference) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    const auto rows = Rows("conformance", "free-format");
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string out = TempPath(row.name + ".raw");
        const ToolRun run = Tool(Quote(StreamPath(row.name)) + " " + Quote(out));
        ASSERT_EQ(run.status, 0) << run.err;
        const auto output = ReadPcm16(out);
        std::filesystem::remove(out);
        const auto reference = ReadPcm16(StreamPath(row.name, ".pcm"));
        const int spf = SamplesPerFrame(row);
        const int64_t perChannel = static_cast<int64_t>(output.size()) / row.channels;
        const bool layer3 = row.layer == 3;
        if (!layer3) {
            // Layers I and II give exactly one frame's samples per frame.
            EXPECT_EQ(perChannel, int64_t{row.frames} * spf);
        }
        const PcmComparison c = ComparePcm(output, reference, row.channels, spf, layer3 ? 4 : 0);
        std::printf("%-22s layer %d  %6lld samples/channel  offset %+d frames  rms %.4f LSB  max %d LSB\n",
                    row.name.c_str(), row.layer, static_cast<long long>(perChannel), c.offsetFrames, c.rms, c.maxDiff);
        if (layer3) {
            const int64_t needed = static_cast<int64_t>(reference.size()) - int64_t{2} * spf * row.channels;
            EXPECT_GE(c.compared, needed);
        }
        EXPECT_LT(c.rms, 1.0 / std::sqrt(12.0));
        EXPECT_LE(c.maxDiff, 1);
    }
}

// Streams this player does not play by design, and the deliberately broken
// ones: each ends cleanly, never by a crash.
TEST(DecodeToolConformance, UnsupportedAndDamagedStreamsEndCleanly) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    std::vector<std::string> paths;
    for (const auto& row : Rows("unsupported")) paths.push_back(StreamPath(row.name));
    for (const auto& path : DamagedStreams()) paths.push_back(path);
    ASSERT_FALSE(paths.empty());
    for (const auto& path : paths) {
        SCOPED_TRACE(path);
        const std::string out = TempPath("damaged.raw");
        const ToolRun run = Tool(Quote(path) + " " + Quote(out));
        EXPECT_FALSE(run.signalled) << run.err;
        EXPECT_TRUE(run.status == 0 || run.status == 1) << run.err;
        std::filesystem::remove(out);
    }
}

TEST(DecodeTool, WavOutputHasACorrectHeader) {
    // Ten silent Layer I frames, single channel, 32 kHz.
    FrameFields frame;
    frame.layer = 1;
    frame.mode = 3;
    frame.sampleFrequency = 2;
    frame.bitrateIndex = 4;
    std::vector<uint8_t> file;
    for (int i = 0; i < 10; ++i) AppendFrame(file, frame);
    const std::string in = WriteTempFile("mono.mp2", file);
    const std::string out = TempPath("mono.WAV");
    {
        // Written over a longer file, the output is its own bytes and no more.
        std::ofstream earlier(out, std::ios::binary);
        earlier << std::string(100000, 'x');
    }
    ASSERT_EQ(Tool(Quote(in) + " " + Quote(out)).status, 0);
    const auto wav = ReadFileBytes(out);
    std::filesystem::remove(out);
    ASSERT_GE(wav.size(), 44u);
    auto u32 = [&](size_t at) { return wav[at] | wav[at + 1] << 8 | wav[at + 2] << 16 | uint32_t(wav[at + 3]) << 24; };
    auto u16 = [&](size_t at) { return wav[at] | wav[at + 1] << 8; };
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(u32(4), wav.size() - 8);
    EXPECT_EQ(u16(20), 1);      // PCM
    EXPECT_EQ(u16(22), 1);      // one channel
    EXPECT_EQ(u32(24), 32000u); // samples per second
    EXPECT_EQ(u32(28), 64000u); // bytes per second
    EXPECT_EQ(u16(32), 2);      // block alignment
    EXPECT_EQ(u16(34), 16);     // bits per sample
    EXPECT_EQ(u32(40), wav.size() - 44);
    EXPECT_EQ(u32(40), 10u * 384 * 2);
}

TEST(DecodeTool, ChannelChoiceGivesOneChannel) {
    FrameFields frame;
    frame.layer = 1;
    std::vector<uint8_t> file;
    for (int i = 0; i < 4; ++i) AppendFrame(file, frame);
    const std::string in = WriteTempFile("stereo.mp1", file);
    for (const char* choice : {"left", "right", "mix"}) {
        const std::string out = TempPath(std::string(choice) + ".raw");
        ASSERT_EQ(Tool(std::string("--channels ") + choice + " " + Quote(in) + " " + Quote(out)).status, 0);
        EXPECT_EQ(ReadFileBytes(out).size(), 4u * 384 * 2) << choice;
        std::filesystem::remove(out);
    }
    EXPECT_EQ(Tool("--channels sideways " + Quote(in) + " /dev/null").status, 2);
}

TEST(DecodeTool, ErrorsGiveAMessageAndAnExitStatus) {
    ToolRun missing = Tool("/nonexistent/zumo.mp3 /dev/null");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("cannot open"), std::string::npos);

    const std::string text = WriteTempFile("notes.mp3", std::vector<uint8_t>(3000, 'x'));
    ToolRun noFrame = Tool(Quote(text) + " /dev/null");
    EXPECT_EQ(noFrame.status, 1);
    EXPECT_NE(noFrame.err.find("no MPEG audio frame"), std::string::npos);

    FrameFields frame;
    std::vector<uint8_t> file;
    AppendFrame(file, frame);
    const std::string in = WriteTempFile("one.mp3", file);
    ToolRun unwritable = Tool(Quote(in) + " /nonexistent/dir/out.wav");
    EXPECT_EQ(unwritable.status, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);

    // The output named as the input is refused, and the input kept.
    ToolRun same = Tool(Quote(in) + " " + Quote(in));
    EXPECT_EQ(same.status, 1);
    EXPECT_NE(same.err.find("is the file being decoded"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(in), file);

    EXPECT_EQ(Tool("").status, 2);
    EXPECT_EQ(Tool("--help").status, 0);
}

TEST(DecodeTool, InfoDescribesTheFileAndWalksEveryFrame) {
    // A tag in front, then 25 protected single-channel Layer II frames at
    // 48 kHz and 64 kbit/s (192 bytes each, 24 ms each).
    std::vector<uint8_t> file = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    file.resize(30, 0xFF);
    FrameFields frame;
    frame.layer = 2;
    frame.mode = 3;
    frame.sampleFrequency = 1;
    frame.bitrateIndex = 4;
    frame.protection = 0;
    for (int i = 0; i < 25; ++i) AppendFrame(file, frame);
    ToolRun run;
    auto info = Info(WriteTempFile("info.mp2", file), run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(info["layer"], "2");
    EXPECT_EQ(info["version"], "1");
    EXPECT_EQ(info["mode"], "single channel");
    EXPECT_EQ(info["sampling_rate"], "48000");
    EXPECT_EQ(info["bitrate"], "64000");
    EXPECT_EQ(info["protected"], "yes");
    EXPECT_EQ(info["frames_walked"], "25");
    EXPECT_EQ(info["frame_count"], "25");
    EXPECT_EQ(info["total_ms"], "600.0");
    EXPECT_EQ(info["total_seconds"], "1");

    Info("/nonexistent/zumo.mp3", run);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("cannot open"), std::string::npos);
    Info(WriteTempFile("info.txt", std::vector<uint8_t>(3000, 'x')), run);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no MPEG audio frame"), std::string::npos);
    EXPECT_EQ(Tool("--info").status, 2);
}

// A stream whose last frame is cut short by the end of the file: that frame
// is not counted.
TEST(DecodeToolConformance, InfoOfACutShortStream) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    ToolRun run;
    auto info = Info(StreamPath("l3-compl"), run);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(info["frames_walked"], "216");
    EXPECT_EQ(info["sampling_rate"], "48000");
    EXPECT_EQ(info["layer"], "3");
    EXPECT_EQ(info["version"], "1");
    std::printf("l3-compl: frames_walked %s, frame_count %s, total_ms %s\n", info["frames_walked"].c_str(),
                info["frame_count"].c_str(), info["total_ms"].c_str());
}

namespace {

std::vector<uint8_t> LayerOneRun(int mode, int sampleFrequency, int count, std::mt19937& rng) {
    FrameFields f;
    f.layer = 1;
    f.bitrateIndex = 12;
    f.mode = mode;
    f.sampleFrequency = sampleFrequency;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        std::vector<uint8_t> body(static_cast<size_t>(FrameBodySize(f)));
        for (auto& b : body) b = static_cast<uint8_t>(rng() & 0xEE); // no allocation code 15
        AppendFrame(bytes, f, body);
    }
    return bytes;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t from) {
    std::vector<int16_t> s;
    for (size_t i = from; i + 1 < bytes.size(); i += 2) s.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
    return s;
}

} // namespace

// Files joined end to end, in each output: raw PCM keeps every sample in
// the format of its frames; a WAV file keeps the first format, writes one
// channel on both or mixes two into one, and ends where the sampling rate
// changes, saying so once; --info lists each format.
TEST(DecodeTool, ChangesOfFormatInRawAndWavOutput) {
    std::mt19937 rng(21);
    std::vector<uint8_t> joined;
    for (auto part : {LayerOneRun(0, 0, 3, rng), LayerOneRun(3, 0, 3, rng), LayerOneRun(0, 1, 3, rng)})
        joined.insert(joined.end(), part.begin(), part.end());
    const std::string in = WriteTempFile("joined.mp1", joined);

    const std::string raw = TempPath("joined.raw");
    ToolRun run = Tool(Quote(in) + " " + Quote(raw));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("the raw PCM follows it"), std::string::npos) << run.err;
    const auto pcm = Samples(ReadFileBytes(raw), 0);
    std::filesystem::remove(raw);
    ASSERT_EQ(pcm.size(), 3u * 384 * 2 + 3u * 384 + 3u * 384 * 2);

    const std::string wav = TempPath("joined.wav");
    run = Tool(Quote(in) + " " + Quote(wav));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("from 44100 to 48000 Hz"), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    const auto file = ReadFileBytes(wav);
    std::filesystem::remove(wav);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(file[22], 2); // two channels
    EXPECT_EQ(file[24] | file[25] << 8, 44100);
    const auto stereo = Samples(file, 44);
    ASSERT_EQ(stereo.size(), 6u * 384 * 2); // up to the change of rate
    for (size_t k = 0; k < 3 * 384; ++k) {
        ASSERT_EQ(stereo[3 * 384 * 2 + 2 * k], pcm[3 * 384 * 2 + k]) << k;
        ASSERT_EQ(stereo[3 * 384 * 2 + 2 * k + 1], pcm[3 * 384 * 2 + k]) << k;
    }

    // Starting with one channel: two-channel frames are mixed into it.
    std::vector<uint8_t> monoFirst = LayerOneRun(3, 0, 3, rng);
    const auto stereoPart = LayerOneRun(0, 0, 3, rng);
    monoFirst.insert(monoFirst.end(), stereoPart.begin(), stereoPart.end());
    const std::string in2 = WriteTempFile("mono-first.mp1", monoFirst);
    run = Tool(Quote(in2) + " " + Quote(raw));
    const auto rawMix = Samples(ReadFileBytes(raw), 0);
    run = Tool(Quote(in2) + " " + Quote(wav));
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("two channels mixed into one"), std::string::npos) << run.err;
    const auto mixed = Samples(ReadFileBytes(wav), 44);
    std::filesystem::remove(raw);
    std::filesystem::remove(wav);
    ASSERT_EQ(mixed.size(), 6u * 384);
    for (size_t k = 0; k < 3 * 384; ++k)
        ASSERT_EQ(mixed[3 * 384 + k], (rawMix[3 * 384 + 2 * k] + rawMix[3 * 384 + 2 * k + 1]) / 2) << k;

    auto info = Info(in, run);
    EXPECT_EQ(info["formats"], "3");
    EXPECT_EQ(info["format_2"], "layer 1, version 1, 1 channel, 44100 Hz, 3 frames from 0.026 s");
    EXPECT_EQ(info["format_3"], "layer 1, version 1, 2 channels, 48000 Hz, 3 frames from 0.052 s");

    FrameFields mpeg25;
    mpeg25.version = 0;
    mpeg25.mpeg25 = true;
    mpeg25.bitrateIndex = 4;
    std::vector<uint8_t> lowRate;
    for (int i = 0; i < 3; ++i) AppendFrame(lowRate, mpeg25);
    info = Info(WriteTempFile("low.mp3", lowRate), run);
    EXPECT_EQ(info["version"], "2.5");
    EXPECT_EQ(info["sampling_rate"], "11025");
}

// Where the LAME tag gives the encoder's delay and padding, they are left
// out; a file joined behind the frames the tag counts plays whole.
// --no-gapless keeps every sample of the audio frames. The tag frame itself
// is never played.
TEST(DecodeTool, GaplessLeavesOutTheEncoderDelayAndPadding) {
    const auto stream = ReadFileBytes(std::string(ZUMO_SOURCE_DIR) + "/bench/streams/l3-128k-joint-44k.mp3");
    ASSERT_FALSE(stream.empty());
    constexpr int kFrames = 10, kDelay = 100, kPadding = 700;
    // The first ten frames, as whole frames (their main data begins in their own bytes).
    size_t end = 0;
    for (int i = 0; i < kFrames; ++i) {
        const int bitrateIndex = stream[end + 2] >> 4, padding = (stream[end + 2] >> 1) & 1;
        static const int kRates[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
        end += static_cast<size_t>(144 * kRates[bitrateIndex] * 1000 / 44100 + padding);
    }
    std::vector<uint8_t> tag(32, 0); // side information of a stereo frame
    for (char c : std::string("Info")) tag.push_back(static_cast<uint8_t>(c));
    tag.insert(tag.end(), {0, 0, 0, 1, 0, 0, 0, kFrames}); // the frame count alone
    for (char c : std::string("LAME3.100")) tag.push_back(static_cast<uint8_t>(c));
    tag.resize(tag.size() + 12, 0);
    tag.insert(tag.end(), {kDelay >> 4, (kDelay & 15) << 4 | kPadding >> 8, kPadding & 0xFF});
    FrameFields info;
    std::vector<uint8_t> file;
    AppendFrame(file, info, tag);
    file.insert(file.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(end));
    file.insert(file.end(), stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(end)); // joined again
    const std::string in = WriteTempFile("gapless.mp3", file);

    const std::string out = TempPath("gapless.raw");
    ASSERT_EQ(Tool("--no-gapless " + Quote(in) + " " + Quote(out)).status, 0);
    const auto all = Samples(ReadFileBytes(out), 0);
    ASSERT_EQ(Tool(Quote(in) + " " + Quote(out)).status, 0);
    const auto trimmed = Samples(ReadFileBytes(out), 0);
    std::filesystem::remove(out);

    ASSERT_EQ(all.size(), 2u * kFrames * 1152 * 2);
    const size_t skip = 2 * (kDelay + 529), keep = 2 * (kFrames * 1152 - kDelay - kPadding);
    std::vector<int16_t> expected(all.begin() + static_cast<std::ptrdiff_t>(skip),
                                  all.begin() + static_cast<std::ptrdiff_t>(skip + keep));
    expected.insert(expected.end(), all.begin() + 2 * kFrames * 1152, all.end());
    EXPECT_EQ(trimmed, expected);
}

// The stream that changes between one and two channels: every frame is
// decoded, and raw output, which follows the changes, matches the
// reference at full accuracy.
TEST(DecodeToolConformance, ChangesOfChannelModeMatchTheReference) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    const std::string out = TempPath("he_mode.raw");
    const ToolRun run = Tool(Quote(StreamPath("l3-he_mode")) + " " + Quote(out));
    ASSERT_EQ(run.status, 0) << run.err;
    const auto output = ReadPcm16(out);
    std::filesystem::remove(out);
    const auto reference = ReadPcm16(StreamPath("l3-he_mode", ".pcm"));
    ASSERT_EQ(output.size(), reference.size());
    const PcmComparison c = ComparePcm(output, reference, 1, 1152, 0);
    EXPECT_LT(c.rms, 1.0 / std::sqrt(12.0));
    EXPECT_LE(c.maxDiff, 1);
}
