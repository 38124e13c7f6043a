// Channel choices on a two-channel compliance stream: the chosen channel,
// or the mix of both, reaches the first filter and nothing the second.
#include "layer3/Layer3Decoder.h"
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "support/CaptureBuffer.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

namespace zumo {
namespace {

// Decodes l3-hecommon (stereo, joint stereo frames) with the given choice.
test::CaptureBuffer DecodeWithChoice(ChannelChoice choice) {
    Bitstream stream(test::StreamPath("l3-hecommon"));
    Header header;
    SynthFilter filter0(0, 32768.0f);
    SynthFilter filter1(1, 32768.0f);
    test::CaptureBuffer out(2);
    std::unique_ptr<Layer3Decoder> decoder;
    Crc16* crc = nullptr;
    while (header.ReadHeader(stream, crc)) {
        if (header.layer != 3) continue;
        if (!decoder) decoder = std::make_unique<Layer3Decoder>(stream, header, filter0, filter1, out, choice);
        decoder->DecodeFrame();
    }
    return out;
}

TEST(Layer3ChannelChoice, RightOnlyAndDownmixFeedTheFirstFilter) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    const test::CaptureBuffer both = DecodeWithChoice(ChannelChoice::Both);
    const test::CaptureBuffer right = DecodeWithChoice(ChannelChoice::Right);
    const test::CaptureBuffer mixed = DecodeWithChoice(ChannelChoice::Mix);
    ASSERT_GT(both.written[0], 10000u);
    for (const auto* one : {&right, &mixed}) {
        EXPECT_EQ(one->written[0], both.written[0]);
        EXPECT_EQ(one->written[1], 0u);
    }
    int mixedOff = 0;
    for (size_t k = 0; k < both.written[0]; ++k) {
        const int l = both.samples[2 * k], r = both.samples[2 * k + 1];
        // Channel 1 alone through filter 0 gives exactly channel 1's PCM.
        ASSERT_EQ(right.samples[2 * k], r) << k;
        // The mix of the spectra is, by linearity, the mean of the two, up
        // to the rounding of each output.
        if (std::abs(2 * mixed.samples[2 * k] - (l + r)) > 3) ++mixedOff;
    }
    EXPECT_EQ(mixedOff, 0);
}

} // namespace
} // namespace zumo
