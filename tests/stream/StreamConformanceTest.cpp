// Walking the compliance streams frame by frame.
#include "stream/Bitstream.h"
#include "stream/Header.h"
#include "support/Conformance.h"

#include <gtest/gtest.h>

using namespace zumo;
using namespace zumo::test;

namespace {

int WalkFrames(const std::string& path) {
    Bitstream stream(path);
    Header header;
    Crc16* crc = nullptr;
    int frames = 0;
    while (header.ReadHeader(stream, crc)) ++frames;
    return frames;
}

} // namespace

TEST(StreamConformance, EveryStreamWalksToItsManifestFrameCount) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    int checked = 0;
    for (const auto& row : Manifest()) {
        if (row.kind != "conformance") continue;
        EXPECT_EQ(WalkFrames(StreamPath(row.name)), row.frames) << row.name;
        ++checked;
    }
    EXPECT_GE(checked, 30);
}

TEST(StreamConformance, FirstFrameDescribesTheStream) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    for (const auto& row : Manifest()) {
        if (row.kind != "conformance") continue;
        Bitstream stream(StreamPath(row.name));
        Header header;
        Crc16* crc = nullptr;
        ASSERT_TRUE(header.ReadHeader(stream, crc)) << row.name;
        EXPECT_EQ(header.layer, row.layer) << row.name;
        EXPECT_EQ(header.version == 1 ? 1 : 2, row.mpeg) << row.name;
        EXPECT_EQ(header.Frequency(), row.rate) << row.name;
        EXPECT_EQ(header.mode == 3 ? 1 : 2, row.channels) << row.name;
    }
}

TEST(StreamConformance, DamagedStreamsWalkWithoutCrashing) {
    ZUMO_SKIP_WITHOUT_CONFORMANCE();
    const auto files = DamagedStreams();
    ASSERT_FALSE(files.empty());
    for (const auto& path : files) {
        Bitstream stream(path);
        Header header;
        Crc16* crc = nullptr;
        int frames = 0;
        while (header.ReadHeader(stream, crc) && frames < 100000) {
            // Touch every bit of the body the way a decoder would.
            for (int i = 0; i < Bitstream::kBufferBytes; ++i) stream.GetBits(8);
            ++frames;
        }
        SUCCEED() << path << ": " << frames << " frames";
    }
}
