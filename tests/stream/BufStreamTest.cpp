// The buffered file window: window arithmetic, reads across windows, seeks
// and the four stream errors.
#include "stream/FileStream.h"
#include "stream/MemoryStream.h"
#include "stream/StreamError.h"
#include "stream/TBufStream.h"
#include "support/BitWriter.h"

#include <gtest/gtest.h>

#include <numeric>
#include <sys/stat.h>

using namespace zumo;

namespace {

std::vector<uint8_t> Counting(size_t n) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 256);
    return v;
}

void ExpectStreamError(const std::function<void()>& f, const std::string& message) {
    try {
        f();
        ADD_FAILURE() << "no error raised, expected " << message;
    } catch (const StreamError& e) {
        EXPECT_EQ(e.what(), message);
    }
}

} // namespace

TEST(BufStream, WindowSizeIsRoundedUpAndCapped) {
    MemoryStream src(Counting(10));
    EXPECT_EQ(TBufStream(&src, 1000).BufSize(), 1024);
    EXPECT_EQ(TBufStream(&src, 1).BufSize(), 1024);
    EXPECT_EQ(TBufStream(&src, 16384).BufSize(), 16384);
    EXPECT_EQ(TBufStream(&src, 40000).BufSize(), 32768);
    EXPECT_EQ(TBufStream(&src, 100000).BufSize(), 32768);
    EXPECT_EQ(TBufStream(&src, 0).BufSize(), 1024);
    EXPECT_EQ(TBufStream(&src, -5).BufSize(), 1024);
}

TEST(BufStream, ReadNearTheEndIsClippedAndThenEmpty) {
    const auto data = Counting(5000);
    MemoryStream src(data);
    TBufStream s(&src, 1024);
    s.Seek(-2, 2);
    uint8_t buf[4] = {};
    EXPECT_EQ(s.Read(buf, 4), 2);
    EXPECT_EQ(buf[0], data[4998]);
    EXPECT_EQ(buf[1], data[4999]);
    EXPECT_EQ(s.Position(), 5000);
    EXPECT_EQ(s.Read(buf, 4), 0);
}

TEST(BufStream, ReadEndingOnTheWindowEdgeUnloadsItAndStepBackReloads) {
    const auto data = Counting(3000);
    MemoryStream src(data);
    TBufStream s(&src, 1024);
    std::vector<uint8_t> buf(1024);
    ASSERT_EQ(s.Read(buf.data(), 1024), 1024);
    EXPECT_EQ(s.BufPos(), 0);
    EXPECT_EQ(s.BufBase(), 1024);
    EXPECT_EQ(s.BufFill(), 0);
    s.Seek(-3, 1);
    EXPECT_EQ(s.BufBase(), 0);
    uint8_t three[3];
    ASSERT_EQ(s.Read(three, 3), 3);
    EXPECT_EQ(three[0], data[1021]);
    EXPECT_EQ(three[2], data[1023]);
}

TEST(BufStream, ReadSpanningWindowsKeepsOrderAndLeavesLastWindowLoaded) {
    const auto data = Counting(5000);
    MemoryStream src(data);
    TBufStream s(&src, 1024);
    s.Seek(1000, 0);
    std::vector<uint8_t> buf(2500);
    ASSERT_EQ(s.Read(buf.data(), 2500), 2500);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), data.begin() + 1000));
    EXPECT_EQ(s.BufBase(), 3072);
    EXPECT_EQ(s.BufPos(), 3500 - 3072);
    EXPECT_GT(s.BufFill(), 0);
}

TEST(BufStream, SeekRulesAndErrors) {
    MemoryStream src(Counting(2000));
    TBufStream s(&src, 1024);
    EXPECT_EQ(s.Seek(0, 2), 2000);
    ExpectStreamError([&] { s.Seek(1, 2); }, "TBufStream.Seek: invalid new position");
    ExpectStreamError([&] { s.Seek(-1, 0); }, "TBufStream.Seek: invalid new position");
    ExpectStreamError([&] { s.Seek(0, 3); }, "TBufStream.Seek: invalid origin");
    // A failed seek changes nothing.
    EXPECT_EQ(s.Position(), 2000);
    EXPECT_EQ(s.Seek(-500, 1), 1500);
}

TEST(BufStream, ShrunkSourceRaisesReadFailed) {
    auto data = Counting(5000);
    MemoryStream src(data);
    TBufStream s(&src, 1024);
    uint8_t buf[16];
    ASSERT_EQ(s.Read(buf, 16), 16);
    src.Truncate(1500);
    s.Seek(2100, 0);
    ExpectStreamError([&] { s.Read(buf, 16); }, "TBufStream.bsReadBuffer: read failed");
    EXPECT_EQ(s.BufFill(), 0);
    // A window cut short behind the read position copies nothing from it.
    s.Seek(1600, 0);
    ExpectStreamError([&] { s.Read(buf, 16); }, "TBufStream.bsReadBuffer: read failed");
}

TEST(BufStream, FailedOpenGivesAnEmptyStreamWithoutError) {
    FileStream missing("/nonexistent/zumo/file.mp3");
    EXPECT_FALSE(missing.IsOpen());
    TBufStream s(&missing, 16384);
    uint8_t buf[4];
    EXPECT_EQ(s.Size(), 0);
    EXPECT_EQ(s.Read(buf, 4), 0);
}

TEST(BufStream, DirectoriesAndUnreadableFilesCountAsNotOpened) {
    EXPECT_FALSE(FileStream("/tmp").IsOpen());
    const std::string path = test::WriteTempFile("locked.mp3", Counting(100));
    ASSERT_EQ(::chmod(path.c_str(), 0), 0);
    FileStream locked(path);
    // root may read anything; everyone else must get an unopened stream.
    if (::geteuid() != 0) {
        EXPECT_FALSE(locked.IsOpen());
    }
    std::remove(path.c_str());
}

TEST(BufStream, FileStreamReadsRealFiles) {
    const auto data = Counting(40000);
    const std::string path = test::WriteTempFile("dir with spaces é.mp3", data);
    FileStream file(path);
    ASSERT_TRUE(file.IsOpen());
    EXPECT_EQ(file.Size(), 40000);
    TBufStream s(&file, 16384);
    std::vector<uint8_t> buf(40000);
    EXPECT_EQ(s.Read(buf.data(), 40000), 40000);
    EXPECT_EQ(buf, data);
    std::remove(path.c_str());
}
