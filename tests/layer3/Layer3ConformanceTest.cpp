#include "layer3/Layer3Decoder.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "support/CaptureBuffer.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

namespace zumo {
namespace {

struct Decoded {
    int frames = 0;
    int decodedFrames = 0;
    int overrunGranules = 0;
    int truncatedGranules = 0;
    int silencedGranules = 0;
    std::vector<int16_t> pcm;
};

// Decodes a whole Layer III stream the way the player does.
Decoded DecodeStream(const std::string& path, int channels) {
    Bitstream stream(path);
    Header header;
    SynthFilter filter0(0, 32768.0f);
    SynthFilter filter1(1, 32768.0f);
    test::CaptureBuffer out(channels);
    std::unique_ptr<Layer3Decoder> decoder;
    Decoded result;
    Crc16* crc = nullptr;
    while (header.ReadHeader(stream, crc)) {
        ++result.frames;
        if (header.layer != 3) continue;
        if (!decoder)
            decoder = std::make_unique<Layer3Decoder>(stream, header, filter0, filter1, out, ChannelChoice::Both);
        decoder->FollowChannelMode();
        decoder->DecodeFrame();
    }
    if (decoder) {
        result.decodedFrames = decoder->decodedFrames;
        result.overrunGranules = decoder->overrunGranules;
        result.truncatedGranules = decoder->truncatedGranules;
        result.silencedGranules = decoder->silencedGranules;
    }
    result.pcm = std::move(out.samples);
    return result;
}

TEST(Layer3Conformance, EveryStreamParsesAndMatchesItsReference) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    int streams = 0;
    for (const test::ManifestRow& row : test::Manifest()) {
        if (row.layer != 3 || row.kind != "conformance") continue;
        SCOPED_TRACE(row.name);
        ++streams;
        const Decoded d = DecodeStream(test::StreamPath(row.name), row.channels);

        // Every frame is found, and the main data of each granule ends
        // exactly where its part2_3_length says: nothing ran past it and
        // nothing reached beyond the bytes put into the reservoir. No
        // granule is taken for damaged.
        EXPECT_EQ(d.frames, row.frames);
        EXPECT_EQ(d.overrunGranules, 0);
        EXPECT_EQ(d.truncatedGranules, 0);
        EXPECT_EQ(d.silencedGranules, 0);
        // Only the first frames, whose main data began before the file did,
        // may be skipped.
        EXPECT_GE(d.decodedFrames, row.frames - 2);

        const int samplesPerFrame = row.mpeg == 1 ? 1152 : 576;
        const std::vector<int16_t> reference = test::ReadPcm16(test::StreamPath(row.name, ".pcm"));
        const test::PcmComparison c = test::ComparePcm(d.pcm, reference, row.channels, samplesPerFrame, 4);
        std::printf("%-22s frames %4d decoded %4d  rms %.4f  max %d  offset %d\n", row.name.c_str(), d.frames,
                    d.decodedFrames, c.rms, c.maxDiff, c.offsetFrames);
        EXPECT_LT(c.rms, 1.0 / std::sqrt(12.0));
        EXPECT_LE(c.maxDiff, 1);
        const int64_t needed = static_cast<int64_t>(reference.size()) - 2LL * samplesPerFrame * row.channels;
        EXPECT_GE(c.compared, needed);
    }
    EXPECT_EQ(streams, 14);
}

TEST(Layer3Conformance, UnsupportedAndDamagedStreamsEndWithoutHarm) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    for (const test::ManifestRow& row : test::Manifest()) {
        if (row.layer != 3 || row.kind != "unsupported") continue;
        SCOPED_TRACE(row.name);
        const Decoded d = DecodeStream(test::StreamPath(row.name), 2);
        // Its frames of both channel modes are all read now; the manifest
        // counts only those of the first frame's mode.
        EXPECT_GE(d.frames, row.frames);
    }
    for (const std::string& path : test::DamagedStreams()) {
        SCOPED_TRACE(path);
        DecodeStream(path, 2);
    }
}

} // namespace
} // namespace zumo
