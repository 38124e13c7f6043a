// Frame synchronisation and bit reading.
#include "stream/Bitstream.h"
#include "stream/MemoryStream.h"
#include "support/BitWriter.h"

#include <gtest/gtest.h>

using namespace zumo;
using namespace zumo::test;

namespace {

std::unique_ptr<Bitstream> Over(const std::vector<uint8_t>& bytes) {
    return std::make_unique<Bitstream>(std::make_unique<MemoryStream>(bytes));
}

FrameFields Stereo44k() { return FrameFields{}; }

} // namespace

TEST(Bitstream, SearchStepsOverJunkAndResetFindsTheFirstFrameAgain) {
    std::vector<uint8_t> file = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (int i = 0; i < 3; ++i) AppendFrame(file, Stereo44k());
    file.insert(file.end(), {0xFF, 0xFB, 0x90}); // three stray bytes end the stream
    auto bs = Over(file);
    uint32_t h = 0;
    ASSERT_TRUE(bs->SyncHeader(h));
    EXPECT_EQ(h, HeaderWord(Stereo44k()));
    EXPECT_EQ(bs->FrameIndex(), 0);
    EXPECT_EQ(bs->Position(), 14);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(bs->ReadFrame(FrameBodySize(Stereo44k())));
        EXPECT_EQ(bs->SyncHeader(h), i < 2);
    }
    EXPECT_TRUE(bs->Reset());
    EXPECT_EQ(bs->FrameIndex(), -1);
    ASSERT_TRUE(bs->SyncHeader(h));
    EXPECT_EQ(bs->Position(), 14);
}

TEST(Bitstream, GetBitsAcrossWordsAndPastTheBuffer) {
    BitWriter w;
    for (int i = 0; i < 1732; ++i) w.Put(static_cast<uint32_t>(i * 37 + 11) & 0xFF, 8);
    auto bs = Over(w.Bytes());
    ASSERT_TRUE(bs->ReadFrame(1732));
    bs->GetBits(24);
    const uint32_t expected12 = ((((3 * 37 + 11) & 0xFF) << 4) | (((4 * 37 + 11) & 0xFF) >> 4));
    EXPECT_EQ(bs->GetBits(12), expected12);
    EXPECT_EQ(bs->BitIndex(), 4);
    ASSERT_TRUE(bs->ReadFrame(0) == true);
    // Back at the start of the buffer: 8 bits with bitIndex 24 end the word.
    bs->GetBits(24);
    EXPECT_EQ(bs->GetBits(8), static_cast<uint32_t>((3 * 37 + 11) & 0xFF));
    EXPECT_EQ(bs->WordIndex(), 1);
    EXPECT_EQ(bs->BitIndex(), 0);
    EXPECT_EQ(bs->GetBits(0), 0u);
    EXPECT_FLOAT_EQ(bs->GetBitsFloat(4), static_cast<float>(((4 * 37 + 11) & 0xFF) >> 4));
    // Far past the 433 words the answer is zero bits, never foreign memory.
    for (int i = 0; i < 2000; ++i) bs->GetBits(17);
    EXPECT_EQ(bs->GetBits(17), 0u);
}

TEST(Bitstream, ReadFrameRejectsCountsOutsideTheBuffer) {
    std::vector<uint8_t> file(4000, 0x55);
    auto bs = Over(file);
    EXPECT_FALSE(bs->ReadFrame(1733));
    EXPECT_FALSE(bs->ReadFrame(-1));
    EXPECT_EQ(bs->Position(), 0);
    EXPECT_TRUE(bs->ReadFrame(0));
    EXPECT_TRUE(bs->ReadFrame(1732));
    EXPECT_FALSE(Over({1, 2, 3})->ReadFrame(4)); // short read at the end of the file
}

TEST(Bitstream, LeadingId3v2TagIsSkippedWhole) {
    // A tag whose "picture" is full of false frame headers.
    std::vector<uint8_t> tag = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x02, 0x00}; // 256 bytes of tag data
    for (int i = 0; i < 256; ++i) tag.push_back(i % 2 ? 0xE2 : 0xFF);
    std::vector<uint8_t> file = tag;
    AppendFrame(file, Stereo44k());
    auto bs = Over(file);
    EXPECT_EQ(bs->AudioStart(), 266);
    uint32_t h = 0;
    ASSERT_TRUE(bs->SyncHeader(h));
    EXPECT_EQ(h, HeaderWord(Stereo44k()));
    EXPECT_EQ(bs->Position(), 270);

    // With the footer flag the tag is 10 bytes longer.
    std::vector<uint8_t> footed = {'I', 'D', '3', 4, 0, 0x10, 0, 0, 0, 4, 1, 2, 3, 4};
    footed.insert(footed.end(), 10, 0);
    AppendFrame(footed, Stereo44k());
    EXPECT_EQ(Over(footed)->AudioStart(), 24);
}

TEST(Bitstream, BrokenOrOversizedTagIsNotSkipped) {
    std::vector<uint8_t> file = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    AppendFrame(file, Stereo44k());
    EXPECT_EQ(Over(file)->AudioStart(), 0); // claims more bytes than the file has
    std::vector<uint8_t> notSyncSafe = {'I', 'D', '3', 4, 0, 0, 0, 0, 0x80, 0};
    EXPECT_EQ(Over(notSyncSafe)->AudioStart(), 0);
}

TEST(Bitstream, AudioSizeLeavesTagsOut) {
    std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 90}; // 100 bytes of tag
    file.resize(100, 0);
    for (int i = 0; i < 10; ++i) AppendFrame(file, Stereo44k());
    const size_t audio = file.size() - 100;
    std::vector<uint8_t> v1 = {'T', 'A', 'G'};
    v1.resize(128, ' ');
    file.insert(file.end(), v1.begin(), v1.end());
    auto bs = Over(file);
    EXPECT_EQ(bs->StreamSize(), static_cast<int64_t>(file.size()));
    EXPECT_EQ(bs->AudioSize(), static_cast<int64_t>(audio));
}
