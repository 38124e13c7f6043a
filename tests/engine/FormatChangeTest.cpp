// Streams whose format changes inside the file, and MPEG-2.5, through the
// player's whole decode path.
#include "engine/MPEGPlayer.h"
#include "stream/MemoryStream.h"

#include "support/BitWriter.h"

#include <gtest/gtest.h>

#include <random>

using namespace zumo;
using namespace zumo::test;

namespace {

// Keeps the samples per channel and what it was told, in order: a frame's
// end as "frame L/R" with its sample counts, a new format as "format C@F".
class EventBuffer : public OBuffer {
public:
    explicit EventBuffer(int channels) : channels(channels) {}
    void Append(int32_t channel, int16_t sample) override {
        if (channel < 0 || channel >= channels) {
            events.push_back("stray sample");
            return;
        }
        samples[channel].push_back(sample);
        ++inFrame[channel];
    }
    void WriteBuffer() override {
        events.push_back("frame " + std::to_string(inFrame[0]) + "/" + std::to_string(inFrame[1]));
        inFrame[0] = inFrame[1] = 0;
    }
    void ClearBuffer() override {}
    void SetStopFlag() override {}
    void NewFormat(int32_t newChannels, int32_t frequency) override {
        channels = newChannels;
        events.push_back("format " + std::to_string(newChannels) + "@" + std::to_string(frequency));
    }

    int channels;
    std::vector<std::string> events;
    std::vector<int16_t> samples[2];
    int inFrame[2] = {0, 0};
};

struct Played {
    std::vector<std::string> events;
    std::vector<int16_t> samples[2];
    int32_t frequency = 0;
    bool mpeg25 = false;
};

Played PlayHere(const std::vector<uint8_t>& file, ChannelChoice choice = ChannelChoice::Both) {
    MPEGPlayer player;
    player.OpenStream(std::make_unique<MemoryStream>(file), "changes.mp3");
    player.SetChannelChoice(choice);
    auto buffer = std::make_unique<EventBuffer>(OutputChannels(player.Mode(), choice));
    EventBuffer* seen = buffer.get();
    Played played;
    played.frequency = player.Frequency();
    player.SetOutput(std::move(buffer));
    player.PlayHere();
    played.events = seen->events;
    played.samples[0] = seen->samples[0];
    played.samples[1] = seen->samples[1];
    return played;
}

void AppendLayerOne(std::vector<uint8_t>& file, int mode, int sampleFrequency, int count) {
    FrameFields f;
    f.layer = 1;
    f.bitrateIndex = 12;
    f.mode = mode;
    f.sampleFrequency = sampleFrequency;
    for (int i = 0; i < count; ++i) AppendFrame(file, f);
}

std::vector<std::string> Repeat(const std::string& event, int n) { return std::vector<std::string>(n, event); }

// A mono MPEG-2 (or MPEG-2.5) Layer III frame at 288 bytes whose granule is
// all count1 quadruples (table B), without scale factors or big values: it
// decodes alike whatever the scale-factor bands of its sampling frequency.
void AppendCount1Frame(std::vector<uint8_t>& file, bool mpeg25, std::mt19937& rng) {
    BitWriter data;
    for (int q = 0; q < 100; ++q) {
        const uint32_t v = rng() % 16 & rng() % 16; // mostly few ones
        data.Put(15 - v, 4);
        for (int b = 3; b >= 0; --b)
            if ((v >> b) & 1) data.Put(rng() & 1, 1);
    }
    const auto length = static_cast<uint32_t>(data.BitCount());
    data.PadToByte();

    BitWriter body;
    body.Put(0, 8);       // main_data_begin
    body.Put(0, 1);       // private bit
    body.Put(length, 12); // part2_3_length
    body.Put(0, 9);       // big_values
    body.Put(190, 8);     // global_gain
    body.Put(0, 9);       // scalefac_compress: no scale factors
    body.Put(0, 1);       // no window switching
    body.Put(0, 15);      // table_select
    body.Put(0, 7);       // region counts
    body.Put(0, 1);       // scalefac_scale
    body.Put(1, 1);       // count1table_select: table B
    body.PutBytes(data.Bytes());

    FrameFields f;
    f.version = 0;
    f.mode = 3;
    f.mpeg25 = mpeg25;
    f.sampleFrequency = 2;           // 16 kHz, or 8 kHz for MPEG-2.5
    f.bitrateIndex = mpeg25 ? 4 : 8; // 32 or 64 kbit/s: 288 bytes either way
    AppendFrame(file, f, body.Bytes());
}

} // namespace

// Files joined end to end: a new channel count or sampling frequency is
// announced to the output before the first sample of it, every frame is
// decoded, no sample goes to a channel the format does not have. With one
// channel chosen, only the change of rate is a change of format.
TEST(PlayerFormatChange, EachNewFormatIsAnnouncedBeforeItsFirstSample) {
    std::vector<uint8_t> file;
    AppendLayerOne(file, 0, 0, 3); // stereo 44.1 kHz
    AppendLayerOne(file, 3, 0, 3); // one channel
    AppendLayerOne(file, 1, 1, 3); // joint stereo 48 kHz
    AppendLayerOne(file, 2, 1, 3); // dual channel: the same format

    std::vector<std::string> both = Repeat("frame 384/384", 3);
    both.push_back("format 1@44100");
    for (const auto& e : Repeat("frame 384/0", 3)) both.push_back(e);
    both.push_back("format 2@48000");
    for (const auto& e : Repeat("frame 384/384", 6)) both.push_back(e);
    const Played played = PlayHere(file);
    EXPECT_EQ(played.frequency, 44100);
    EXPECT_EQ(played.events, both);

    std::vector<std::string> left = Repeat("frame 384/0", 6);
    left.push_back("format 1@48000");
    for (const auto& e : Repeat("frame 384/0", 6)) left.push_back(e);
    EXPECT_EQ(PlayHere(file, ChannelChoice::Left).events, left);
}

// MPEG-2.5 frames (11 sync bits, version bits 00) are found, read with the
// frequencies and frame lengths of MPEG-2.5, and decoded: a stream whose
// bodies decode alike at any rate gives the same samples as MPEG-2.5 at
// 8 kHz as it does as MPEG-2 at 16 kHz.
TEST(PlayerFormatChange, Mpeg25StreamsPlay) {
    std::vector<uint8_t> mpeg2, mpeg25;
    std::mt19937 rng2(3), rng25(3);
    for (int i = 0; i < 20; ++i) {
        AppendCount1Frame(mpeg2, false, rng2);
        AppendCount1Frame(mpeg25, true, rng25);
    }
    const Played two = PlayHere(mpeg2);
    const Played twoFive = PlayHere(mpeg25);
    EXPECT_EQ(two.frequency, 16000);
    EXPECT_EQ(twoFive.frequency, 8000);
    EXPECT_EQ(twoFive.events, Repeat("frame 576/0", 20));
    ASSERT_EQ(twoFive.samples[0].size(), 20u * 576);
    EXPECT_EQ(twoFive.samples[0], two.samples[0]);
    int peak = 0;
    for (int16_t s : twoFive.samples[0]) peak = std::max(peak, std::abs(int{s}));
    EXPECT_GT(peak, 100);
}
