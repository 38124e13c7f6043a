// Every compliance stream decoded through the player three ways: with the
// kernels on the fastest vectors the processor has, with the kernels on the
// portable ones, and straightforwardly (every stage's plain loops, the fast
// transforms by their defining sums). The fast forms must give exactly the
// portable output and stay within one LSB of the straightforward one, and
// each way must meet the accuracy limits against the reference.
#include "engine/MPEGPlayer.h"
#include "kernels/DecodePaths.h"
#include "support/CaptureBuffer.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace zumo;
using namespace zumo::test;

namespace {

std::vector<int16_t> DecodeWith(DecodePath path, const std::string& file, int channels) {
    SetDecodePath(path);
    MPEGPlayer player;
    player.Open(file);
    auto capture = std::make_unique<CaptureBuffer>(channels);
    CaptureBuffer* out = capture.get();
    player.SetOutput(std::move(capture));
    player.Play();
    player.WaitForEnd();
    std::vector<int16_t> pcm = out->samples;
    SetDecodePath(DecodePath::Fastest);
    return pcm;
}

int LargestDifference(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
    int largest = 0;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i) largest = std::max(largest, std::abs(a[i] - b[i]));
    return largest;
}

TEST(DecodePaths, FastFormsMatchThePlainOnesOnEveryComplianceStream) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    int streams = 0;
    for (const ManifestRow& row : Manifest()) {
        if (row.kind != "conformance") continue;
        SCOPED_TRACE(row.name);
        ++streams;
        const std::string file = StreamPath(row.name);
        const std::vector<int16_t> fastest = DecodeWith(DecodePath::Fastest, file, row.channels);
        const std::vector<int16_t> portable = DecodeWith(DecodePath::Portable, file, row.channels);
        const std::vector<int16_t> plain = DecodeWith(DecodePath::Straightforward, file, row.channels);
        ASSERT_FALSE(fastest.empty());
        EXPECT_TRUE(fastest == portable);
        ASSERT_EQ(plain.size(), fastest.size());
        const int apart = LargestDifference(fastest, plain);
        EXPECT_LE(apart, 1);

        const std::vector<int16_t> reference = ReadPcm16(StreamPath(row.name, ".pcm"));
        const int samplesPerFrame = row.layer == 1 ? 384 : (row.layer == 3 && row.mpeg != 1 ? 576 : 1152);
        const PcmComparison fast = ComparePcm(fastest, reference, row.channels, samplesPerFrame, 4);
        const PcmComparison direct = ComparePcm(plain, reference, row.channels, samplesPerFrame, 4);
        std::printf("%-22s fast rms %.4f max %d   straightforward rms %.4f max %d   apart %d\n", row.name.c_str(),
                    fast.rms, fast.maxDiff, direct.rms, direct.maxDiff, apart);
        for (const PcmComparison* c : {&fast, &direct}) {
            EXPECT_LT(c->rms, 1.0 / std::sqrt(12.0));
            EXPECT_LE(c->maxDiff, 1);
        }
    }
    EXPECT_EQ(streams, 30);
}

} // namespace
