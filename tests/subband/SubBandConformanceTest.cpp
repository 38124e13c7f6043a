// Layer I and II compliance streams decoded frame by frame and compared
// with the reference decoder's output; damaged streams decoded to the end.
#include <cstddef> // CaptureBuffer.h uses size_t

#include "subband/SubBandFrame.h"
#include "support/CaptureBuffer.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

using namespace zumo;
using namespace zumo::test;

namespace {

struct Decoded {
    int frames = 0;
    int channels = 0;
    std::unique_ptr<CaptureBuffer> pcm;
};

Decoded DecodeFile(const std::string& path, ChannelChoice choice = ChannelChoice::Both, int frameLimit = 100000) {
    Bitstream stream(path);
    Header header;
    Crc16* crc = nullptr;
    SynthFilter filter0(0, 32768.0f), filter1(1, 32768.0f);
    auto frame = std::make_unique<SubBandFrame>();
    Decoded result;
    result.pcm = std::make_unique<CaptureBuffer>(2);
    bool first = true;
    while (result.frames < frameLimit && header.ReadHeader(stream, crc)) {
        if (first) {
            result.channels = OutputChannels(header.mode, choice);
            result.pcm->channels = result.channels;
            first = false;
        }
        if (header.layer != 3) frame->Decode(stream, header, crc, filter0, filter1, *result.pcm, choice);
        ++result.frames;
    }
    return result;
}

} // namespace

TEST(SubBandConformance, EveryLayer1And2StreamMatchesItsReference) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    int checked = 0;
    for (const auto& row : Manifest()) {
        if (row.kind != "conformance" || row.layer == 3) continue;
        const Decoded d = DecodeFile(StreamPath(row.name));
        const int perFrame = row.layer == 1 ? 384 : 1152;
        EXPECT_EQ(d.frames, row.frames) << row.name;
        EXPECT_EQ(d.channels, row.channels) << row.name;
        EXPECT_EQ(d.pcm->written[0], static_cast<size_t>(row.frames) * perFrame) << row.name;
        if (row.channels == 2) {
            EXPECT_EQ(d.pcm->written[1], d.pcm->written[0]) << row.name;
        }
        EXPECT_EQ(d.pcm->strayAppends, 0) << row.name;

        const auto reference = ReadPcm16(StreamPath(row.name, ".pcm"));
        const PcmComparison c = ComparePcm(d.pcm->samples, reference, row.channels, perFrame, 0);
        std::printf("%-10s frames %3d  samples/ch %6zu  rms %.4f  max %d\n", row.name.c_str(), d.frames,
                    d.pcm->written[0], c.rms, c.maxDiff);
        EXPECT_EQ(c.offsetFrames, 0) << row.name;
        EXPECT_EQ(c.compared, static_cast<int64_t>(d.pcm->samples.size())) << row.name;
        EXPECT_LT(c.rms, 1.0 / std::sqrt(12.0)) << row.name;
        EXPECT_LE(c.maxDiff, 1) << row.name;
        ++checked;
    }
    EXPECT_EQ(checked, 16);
}

TEST(SubBandConformance, MixedDownStereoIsTheAverageOfBothChannels) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    // Mixing happens before the filter bank, which is linear: the mix
    // matches the average of the two decoded channels within rounding.
    for (const char* name : {"l1-fl2", "l2-fl11"}) {
        const Decoded both = DecodeFile(StreamPath(name));
        const Decoded mix = DecodeFile(StreamPath(name), ChannelChoice::Mix);
        ASSERT_EQ(mix.channels, 1);
        ASSERT_EQ(mix.pcm->written[0], both.pcm->written[0]) << name;
        int worst = 0;
        for (size_t k = 0; k < mix.pcm->written[0]; ++k) {
            const double average = (both.pcm->samples[2 * k] + both.pcm->samples[2 * k + 1]) / 2.0;
            worst = std::max(worst, static_cast<int>(std::ceil(std::fabs(mix.pcm->samples[k] - average))));
        }
        EXPECT_LE(worst, 2) << name;
    }
}

TEST(SubBandConformance, DamagedStreamsDecodeToTheEnd) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    const auto files = DamagedStreams();
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        for (ChannelChoice choice : {ChannelChoice::Both, ChannelChoice::Mix}) {
            const Decoded d = DecodeFile(path, choice, 20000);
            EXPECT_EQ(d.pcm->strayAppends, 0) << path;
            std::printf("%-60s choice %d frames %5d samples/ch %zu\n", path.c_str(), static_cast<int>(choice), d.frames,
                        d.pcm->SamplesPerChannel());
        }
    }
}
