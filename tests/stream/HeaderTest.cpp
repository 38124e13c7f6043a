// Frame header fields, frame sizes, subband counts and time estimates.
#include "stream/Header.h"
#include "stream/MemoryStream.h"
#include "stream/TBufStream.h"
#include "support/BitWriter.h"

#include <gtest/gtest.h>

using namespace zumo;
using namespace zumo::test;

namespace {

struct Opened {
    std::unique_ptr<Bitstream> stream;
    Header header;
    Crc16* crc = nullptr;
    bool ok = false;
};

std::unique_ptr<Opened> ReadFirst(const std::vector<uint8_t>& file) {
    auto o = std::make_unique<Opened>();
    o->stream = std::make_unique<Bitstream>(std::make_unique<MemoryStream>(file));
    o->ok = o->header.ReadHeader(*o->stream, o->crc);
    return o;
}

std::unique_ptr<Opened> ReadOne(const FrameFields& frame) {
    std::vector<uint8_t> file;
    AppendFrame(file, frame);
    return ReadFirst(file);
}

// A constant-bit-rate stream of any length, made up on the fly: one
// 128 kbit/s MPEG-1 Layer III frame (417 bytes) repeated, so that files far
// beyond 2 GiB can be read without holding them.
class RepeatedFrames : public Stream {
public:
    explicit RepeatedFrames(int64_t size) : size(size) { AppendFrame(frame, MakeFields(1, 3, 9, 0, 0)); }
    void SetSize(int64_t) override {}
    int64_t Read(void* dest, int64_t count) override {
        auto* out = static_cast<uint8_t*>(dest);
        int64_t n = 0;
        for (; n < count && position < size; ++n, ++position)
            out[n] = frame[static_cast<size_t>(position % static_cast<int64_t>(frame.size()))];
        return n;
    }
    int64_t Seek(int64_t offset, int origin) override {
        if (origin != 0 || offset < 0) return -1;
        position = offset;
        return position;
    }
    int64_t Size() override { return size; }
    std::vector<uint8_t> frame;

private:
    int64_t size;
    int64_t position = 0;
};

} // namespace

TEST(Header, FrameSizesAndMainDataSlots) {
    auto l3 = ReadOne(MakeFields(1, 3, 9, 0, 0, 0, 0)); // 128 kbit/s, 44.1 kHz, stereo, protected
    ASSERT_TRUE(l3->ok);
    EXPECT_EQ(l3->header.frameSize, 413);
    EXPECT_EQ(l3->header.nSlots, 379);
    auto padded = ReadOne(MakeFields(1, 3, 9, 0, 0, 1, 0));
    EXPECT_EQ(padded->header.frameSize, 414);
    EXPECT_EQ(padded->header.nSlots, 380);

    auto l1 = ReadOne(MakeFields(1, 1, 12, 1, 0, 1)); // 384 kbit/s, 48 kHz, padding
    EXPECT_EQ(l1->header.frameSize, 384);
    EXPECT_EQ(l1->header.nSlots, 0);

    auto lsf3 = ReadOne(MakeFields(0, 3, 8, 0, 3)); // MPEG-2, 64 kbit/s, 22.05 kHz, mono
    EXPECT_EQ(lsf3->header.frameSize, 204);
    EXPECT_EQ(lsf3->header.nSlots, 195);
    EXPECT_FLOAT_EQ(lsf3->header.MsPerFrame(), 26.12245f);

    auto lsf2 = ReadOne(MakeFields(0, 2, 8, 0, 0));
    EXPECT_EQ(lsf2->header.frameSize, 413);
    EXPECT_FLOAT_EQ(lsf2->header.MsPerFrame(), 2 * 26.12245f);

    auto largest = ReadOne(MakeFields(1, 2, 14, 2, 0, 1)); // 384 kbit/s, 32 kHz, padding
    EXPECT_EQ(largest->header.frameSize, 1725);
}

TEST(Header, SubbandCountsAndIntensityBound) {
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 2, 2, 3))->header.numberOfSubbands, 12);
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 2, 0, 3))->header.numberOfSubbands, 8);
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 6, 1, 0))->header.numberOfSubbands, 8);
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 10, 0, 0))->header.numberOfSubbands, 30);
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 10, 1, 0))->header.numberOfSubbands, 27);
    EXPECT_EQ(ReadOne(MakeFields(1, 1, 10, 1, 0))->header.numberOfSubbands, 32);

    FrameFields joint = MakeFields(1, 1, 10, 0, 1);
    joint.modeExtension = 3;
    EXPECT_EQ(ReadOne(joint)->header.intensityStereoBound, 16);
    FrameFields joint2 = MakeFields(1, 2, 4, 0, 1); // 8 subbands
    joint2.modeExtension = 3;
    auto j = ReadOne(joint2);
    EXPECT_EQ(j->header.numberOfSubbands, 8);
    EXPECT_EQ(j->header.intensityStereoBound, 8);
    EXPECT_EQ(ReadOne(MakeFields(1, 1, 10, 0, 0))->header.intensityStereoBound, 0);
}

TEST(Header, EstimatesForAConstantBitRateFile) {
    std::vector<uint8_t> file;
    for (int i = 0; i < 10000; ++i) AppendFrame(file, MakeFields(1, 3, 9, 0, 0));
    auto o = ReadFirst(file);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(o->header.FrameCount(*o->stream), 10000);
    EXPECT_FLOAT_EQ(o->header.TotalMs(*o->stream), 261224.5f);
    EXPECT_EQ(o->header.Bitrate(), 128000);
    EXPECT_EQ(o->header.Frequency(), 44100);
}

TEST(Header, NothingReadAnswersZero) {
    Header h;
    auto bs = std::make_unique<Bitstream>(std::make_unique<MemoryStream>(std::vector<uint8_t>(1000, 0)));
    Crc16* crc = nullptr;
    EXPECT_FALSE(h.ReadHeader(*bs, crc));
    EXPECT_EQ(h.Bitrate(), 0);
    EXPECT_EQ(h.FrameCount(*bs), 0);
    EXPECT_EQ(h.MsPerFrame(), 0.0f);
    EXPECT_EQ(h.TotalMs(*bs), 0.0f);
}

// Which 32-bit values can start a frame, and what an MPEG-2.5 frame says:
// 11 sync bits and version bits 00, the MPEG-2 frequencies halved, Layer III only.
TEST(Header, ReservedCodesAndMpeg25) {
    EXPECT_TRUE(Header::Plausible(0xFFFB9000u));  // MPEG-1 Layer III
    EXPECT_TRUE(Header::Plausible(0xFFF39000u));  // MPEG-2 Layer III
    EXPECT_TRUE(Header::Plausible(0xFFE39000u));  // MPEG-2.5 Layer III
    EXPECT_FALSE(Header::Plausible(0xFFE59000u)); // MPEG-2.5 Layer II
    EXPECT_FALSE(Header::Plausible(0xFFEF9000u)); // MPEG-2.5 Layer I
    EXPECT_FALSE(Header::Plausible(0xFFEB9000u)); // reserved version bits 01
    EXPECT_FALSE(Header::Plausible(0xFFF99000u)); // reserved layer 00
    EXPECT_FALSE(Header::Plausible(0xFFFBF000u)); // bit-rate index 15
    EXPECT_FALSE(Header::Plausible(0xFFFB9C00u)); // sampling-frequency index 3
    EXPECT_FALSE(Header::Plausible(0xFFDB9000u)); // 10 sync bits

    struct Case {
        int sf, bitrateIndex, frequency, frameSize;
        float msPerFrame;
    };
    for (const Case& c : {Case{0, 8, 11025, 417 - 4, 2 * 26.12245f}, Case{1, 8, 12000, 384 - 4, 48.0f},
                          Case{2, 4, 8000, 288 - 4, 72.0f}}) {
        FrameFields f = MakeFields(0, 3, c.bitrateIndex, c.sf, 3);
        f.mpeg25 = true;
        std::vector<uint8_t> file;
        for (int i = 0; i < 3; ++i) AppendFrame(file, f);
        auto o = ReadFirst(file);
        ASSERT_TRUE(o->ok) << c.frequency;
        EXPECT_TRUE(o->header.mpeg25);
        EXPECT_EQ(o->header.version, 0);
        EXPECT_EQ(o->header.Frequency(), c.frequency);
        EXPECT_EQ(o->header.frameSize, c.frameSize);
        EXPECT_EQ(o->header.nSlots, c.frameSize + 4 - 9 - 4);
        EXPECT_EQ(o->header.Bitrate(), c.bitrateIndex == 8 ? 64000 : 32000);
        EXPECT_FLOAT_EQ(o->header.MsPerFrame(), c.msPerFrame);
    }
}

TEST(Header, FreeFormatAndTruncatedFramesFail) {
    EXPECT_FALSE(ReadOne(MakeFields(1, 3, 0, 0, 0))->ok); // free format: body size -4
    std::vector<uint8_t> file;
    AppendFrame(file, MakeFields(1, 3, 9, 0, 0));
    file.resize(file.size() - 1);
    EXPECT_FALSE(ReadFirst(file)->ok);
}

TEST(Header, ProtectedFrameCarriesItsCrcWord) {
    FrameFields frame = MakeFields(1, 2, 10, 0, 0, 0, 0);
    Crc16 expected;
    expected.AddBits(HeaderWord(frame), 16);
    const uint16_t sum = expected.Checksum();
    std::vector<uint8_t> file;
    AppendFrame(file, frame, {static_cast<uint8_t>(sum >> 8), static_cast<uint8_t>(sum)});
    AppendFrame(file, frame, {0x12, 0x34});
    auto o = ReadFirst(file);
    ASSERT_TRUE(o->ok);
    ASSERT_NE(o->crc, nullptr);
    EXPECT_EQ(o->header.checksum, sum);
    EXPECT_TRUE(o->header.ChecksumOk());
    ASSERT_TRUE(o->header.ReadHeader(*o->stream, o->crc));
    EXPECT_FALSE(o->header.ChecksumOk());
    // An unprotected frame hands out no CRC.
    EXPECT_EQ(ReadOne(MakeFields(1, 2, 10, 0, 0))->crc, nullptr);
}

// The Xing/"Info" or VBRI tag in the first frame gives the frame count; in
// a frame protected by a CRC the tag is found with and without the two
// check bytes in front of it. The LAME extension gives the encoder's delay
// and padding. Tag frames carry no audio: the first frame read is the
// first audio frame.
TEST(Header, VbrTagFramesGiveCountsAndDelaysAndHoldNoAudio) {
    struct Case {
        const char* tag;
        int protection;
        int tagAt; // in the body
        bool lame;
    };
    for (const Case& c : {Case{"Xing", 1, 32, false}, Case{"Info", 1, 32, true}, Case{"Xing", 0, 34, false},
                          Case{"Xing", 0, 32, true}}) {
        std::vector<uint8_t> body(static_cast<size_t>(c.tagAt), 0);
        body.insert(body.end(), c.tag, c.tag + 4);
        body.insert(body.end(), {0, 0, 0, 0x0F, 0, 0, 0x30, 0x39}); // flags, 12345 frames
        body.resize(body.size() + 4 + 100 + 4, 0);                  // bytes, seek table, quality
        if (c.lame) {
            const std::string name = "LAME3.100";
            body.insert(body.end(), name.begin(), name.end());
            body.resize(body.size() + 12, 0);
            body.insert(body.end(), {0x24, 0x04, 0xD2}); // delay 576, padding 1234
        }
        std::vector<uint8_t> file;
        AppendFrame(file, MakeFields(1, 3, 9, 0, 0, 0, c.protection), body);
        for (int i = 0; i < 5; ++i) AppendFrame(file, MakeFields(1, 3, 10, 0, 0, 0, c.protection));
        auto o = ReadFirst(file);
        SCOPED_TRACE(std::string(c.tag) + (c.protection == 0 ? " protected" : "") + " at " + std::to_string(c.tagAt));
        ASSERT_TRUE(o->ok);
        EXPECT_EQ(o->header.bitrateIndex, 10); // the audio frame behind the tag
        EXPECT_EQ(o->header.FrameCount(*o->stream), 12345);
        EXPECT_FLOAT_EQ(o->header.TotalMs(*o->stream), static_cast<float>(12345.0L * 26.12245f));
        EXPECT_EQ(o->header.encoderDelay, c.lame ? 576 : -1);
        EXPECT_EQ(o->header.encoderPadding, c.lame ? 1234 : -1);
    }
    std::vector<uint8_t> vbri(32, 0);
    vbri.insert(vbri.end(), {'V', 'B', 'R', 'I', 0, 1, 0, 0, 0, 50, 0, 0, 0x10, 0, 0, 0, 0x03, 0xE8});
    std::vector<uint8_t> file;
    AppendFrame(file, MakeFields(1, 3, 9, 0, 3), vbri);
    for (int i = 0; i < 3; ++i) AppendFrame(file, MakeFields(1, 3, 10, 0, 3));
    auto o = ReadFirst(file);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(o->header.bitrateIndex, 10);
    EXPECT_EQ(o->header.FrameCount(*o->stream), 1000);
}

TEST(Header, CoverArtDoesNotCountAsAudio) {
    std::vector<uint8_t> file = {'I', 'D', '3', 3, 0, 0, 0, 0x3D, 0x04, 0x40}; // 1,000,000 bytes of tag
    file.resize(10 + 1000000, 0xFF);
    for (int i = 0; i < 100; ++i) AppendFrame(file, MakeFields(1, 3, 9, 0, 0));
    auto o = ReadFirst(file);
    ASSERT_TRUE(o->ok);
    EXPECT_EQ(o->header.FrameCount(*o->stream), 100);
}

TEST(Header, FilesOfTwoGiBAndMoreKeepTheirPositionsAndCounts) {
    const int64_t size = int64_t{5} << 30; // 5 GiB
    RepeatedFrames source(size);
    TBufStream window(&source, 16384);
    EXPECT_EQ(window.Size(), size);
    // A read far beyond 2 and 4 GiB lands where it was asked to, and the
    // position does not wrap round to a negative or small value.
    const int64_t at = (int64_t{4} << 30) + 417 * 3 + 5;
    EXPECT_EQ(window.Seek(at, 0), at);
    uint8_t bytes[8];
    ASSERT_EQ(window.Read(bytes, 8), 8);
    EXPECT_EQ(window.Position(), at + 8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(bytes[i], source.frame[static_cast<size_t>((at + i) % 417)]);

    auto stream = std::make_unique<Bitstream>(std::make_unique<RepeatedFrames>(size));
    Header header;
    Crc16* crc = nullptr;
    ASSERT_TRUE(header.ReadHeader(*stream, crc));
    ASSERT_TRUE(header.ReadHeader(*stream, crc));
    EXPECT_EQ(stream->StreamSize(), size);
    EXPECT_EQ(header.FrameCount(*stream), static_cast<int32_t>(size / 417));
    EXPECT_GT(header.TotalMs(*stream), 0.0f);

    // A count beyond what an int32 holds stays at the largest one.
    const int64_t huge = int64_t{417} * 0x90000000LL;
    auto hugeStream = std::make_unique<Bitstream>(std::make_unique<RepeatedFrames>(huge));
    Header hugeHeader;
    ASSERT_TRUE(hugeHeader.ReadHeader(*hugeStream, crc));
    EXPECT_EQ(hugeHeader.FrameCount(*hugeStream), 0x7FFFFFFF);
}
