#include "app/PathExpander.h"
#include "app/PlaylistFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

using namespace zumo;
namespace fs = std::filesystem;

namespace {

struct TempDir {
    fs::path path;
    TempDir() {
        char name[] = "/tmp/zumo-intake-XXXXXX";
        path = mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    std::string Touch(const std::string& name) const {
        fs::create_directories((path / name).parent_path());
        std::ofstream(path / name) << "x";
        return *this / name;
    }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(path / name, std::ios::binary) << text;
        return *this / name;
    }
};

// Runs the expander's posts on the test's thread when asked to.
struct Window {
    std::mutex lock;
    std::vector<std::function<void()>> posted;
    std::vector<std::string> queued;
    PathExpander expander{[this](std::function<void()> call) {
                              std::lock_guard<std::mutex> guard(lock);
                              posted.push_back(std::move(call));
                          },
                          [this](std::vector<std::string> files) {
                              queued.insert(queued.end(), files.begin(), files.end());
                          }};
    void RunPosted() {
        std::vector<std::function<void()>> calls;
        {
            std::lock_guard<std::mutex> guard(lock);
            calls.swap(posted);
        }
        for (auto& call : calls) call();
    }
    bool WaitIdle() {
        for (int i = 0; i < 500 && expander.Busy(); ++i) {
            RunPosted();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return !expander.Busy();
    }
};

} // namespace

TEST(Intake, PlaylistEntriesAreResolvedDecodedAndSkipped) {
    TempDir dir;
    const std::string a = dir.Touch("a.mp3"), b = dir.Touch("sub/b b.mp3"), u = dir.Touch("\xC3\xBC.mp3");
    const std::string m3u = dir.Write("list.m3u8",
                                      "\xEF\xBB\xBF#EXTM3U\r\n#EXTINF:12,Someone - A\r\na.mp3\r\n"
                                      "http://example.org/stream.mp3\r\n\r\n  " +
                                          b + "  \r\nmissing.mp3\r\nsub\\b b.mp3\r\nfile://" + dir.path.string() +
                                          "/%C3%BC.mp3\nfile://elsewhere" + a + "\rfile://localhost" + a + "\n");
    EXPECT_EQ(ReadPlaylistFile(m3u), (std::vector<std::string>{a, b, b, u, a}));
    // .pls: in the order of the numbers, whatever the order of the lines.
    const std::string pls = dir.Write("sub/list.PLS",
                                      "[playlist]\nFile10=../a.mp3\nTitle1=B\nfile2 = " + u +
                                          "\nFile1=b b.mp3\nFile3=https://x/y.mp3\nNumberOfEntries=3\n");
    EXPECT_EQ(ReadPlaylistFile(pls), (std::vector<std::string>{dir / "sub/b b.mp3", u, dir / "sub/../a.mp3"}));
    // Any name comes back from its URL as it was.
    const std::string odd = "/m/\xFF it's 100% \"odd\" #1?.mp3";
    EXPECT_EQ(PathOfFileUrl(FileUrlOf(odd)), odd);
}

TEST(Intake, FoldersComeInNaturalOrderAfterWhatCameBefore) {
    TempDir dir;
    for (const char* name :
         {"music/track 10.mp3", "music/track 2.mp3", "music/Track 3.MP3", "music/notes.txt", "music/.hidden/x.mp3",
          "music/._junk.mp3", "music/cd 1/01.mp3", "music/cd 10/01.mp3", "music/cd 2/01.mp3", "music/cd 2/02.mp3"})
        dir.Touch(name);
    fs::create_directory_symlink("..", dir.path / "music/cd 2/loop");
    fs::create_directory_symlink(dir.path / "music/cd 1", dir.path / "music/cd 1 again");
    const std::string m3u = dir.Write("list.m3u", "music/track 2.mp3\nmusic/notes.txt\n");

    Window window;
    window.expander.Add({dir / "first.mp3", dir / "music"});
    window.expander.Add({m3u, dir / "other.wav", dir / "last.MP3"});
    EXPECT_TRUE(window.expander.Busy());
    ASSERT_TRUE(window.WaitIdle());
    const std::string m = dir / "music/";
    EXPECT_EQ(window.queued,
              (std::vector<std::string>{dir / "first.mp3", m + "cd 1/01.mp3", m + "cd 2/01.mp3", m + "cd 2/02.mp3",
                                        m + "cd 10/01.mp3", m + "track 2.mp3", m + "Track 3.MP3", m + "track 10.mp3",
                                        m + "track 2.mp3", dir / "last.MP3"}));

    // Cancelled: nothing more of what was added arrives.
    window.queued.clear();
    window.expander.Add({dir / "music"});
    window.expander.CancelAll();
    EXPECT_FALSE(window.expander.Busy());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    window.RunPosted();
    EXPECT_TRUE(window.queued.empty());
}
