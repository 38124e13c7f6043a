#include "app/Formats.h"
#include "app/PlaylistWorker.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <thread>

using namespace zumo;
using namespace std::chrono_literals;

namespace {

// A player whose track plays until the test ends it.
struct FakePlayer : TrackPlayer {
    std::string path;
    std::atomic<bool> playing{false}, paused{false}, stopped{false};
    std::atomic<bool> output{true};
    std::atomic<int> attaches{0};
    std::atomic<int> playNice{-100}; // the nice value of the thread that started the track
    void Open(const std::string& p) override { path = p; }
    bool AttachOutput() override {
        ++attaches;
        return output;
    }
    int64_t TotalSeconds() override { return 187; }
    int32_t Bitrate() override { return 128000; }
    void Play() override {
        playNice = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
        playing = true;
    }
    void Pause() override { paused = true; }
    void Resume() override { paused = false; }
    void Stop() override {
        playing = false;
        stopped = true;
    }
    std::atomic<uint32_t> elapsed{59};
    uint32_t ElapsedSeconds() override { return elapsed; }
    bool Playing() override { return playing; }
};

// What the worker owns: forwards to a player the test keeps.
struct Proxy : TrackPlayer {
    std::shared_ptr<FakePlayer> p;
    explicit Proxy(std::shared_ptr<FakePlayer> p) : p(std::move(p)) {}
    void Open(const std::string& path) override { p->Open(path); }
    bool AttachOutput() override { return p->AttachOutput(); }
    int64_t TotalSeconds() override { return p->TotalSeconds(); }
    int32_t Bitrate() override { return p->Bitrate(); }
    void Play() override { p->Play(); }
    void Pause() override { p->Pause(); }
    void Resume() override { p->Resume(); }
    void Stop() override { p->Stop(); }
    uint32_t ElapsedSeconds() override { return p->ElapsedSeconds(); }
    bool Playing() override { return p->Playing(); }
};

struct Recorder : WorkerDisplay {
    std::mutex lock;
    std::vector<std::string> tracks;
    std::string total, bitrate;
    std::vector<std::string> elapsed;
    int runEnded = 0, stopped = 0;
    std::shared_ptr<PlaybackShared> shared;
    void SelectRow(int32_t) override {}
    void ShowTrack(const std::string& path) override {
        std::lock_guard<std::mutex> g(lock);
        title = TitleOf(path);
        tracks.push_back(title);
    }
    void ShowTitleNote(const std::string& note) override {
        std::lock_guard<std::mutex> g(lock);
        tracks.push_back(note.empty() ? title : title + " (" + note + ")");
    }
    std::string title;
    void ShowTotal(const std::string& t) override {
        std::lock_guard<std::mutex> g(lock);
        total = t;
    }
    void ShowBitrate(const std::string& t) override {
        std::lock_guard<std::mutex> g(lock);
        bitrate = t;
    }
    void ShowElapsed(const std::string& t) override {
        std::lock_guard<std::mutex> g(lock);
        elapsed.push_back(t);
    }
    void ScrollTitle() override {}
    void ResetTitlePosition() override {}
    void ShowStopped() override {
        std::lock_guard<std::mutex> g(lock);
        ++stopped;
    }
    void ShowRunEnded() override {
        std::lock_guard<std::mutex> g(lock);
        ++runEnded;
        shared->flags.play = false;
    }
    void SetButtonEnabled(WorkerButton, bool) override {}
    void RefreshButtons() override {}
    std::vector<std::string> Tracks() {
        std::lock_guard<std::mutex> g(lock);
        return tracks;
    }
    std::vector<std::string> Elapsed() {
        std::lock_guard<std::mutex> g(lock);
        return elapsed;
    }
};

struct Session {
    std::shared_ptr<PlaybackShared> shared = std::make_shared<PlaybackShared>();
    std::shared_ptr<Recorder> display = std::make_shared<Recorder>();
    std::mutex lock;
    std::vector<std::shared_ptr<FakePlayer>> players;
    bool withOutput = true;
    std::shared_ptr<PlaylistWorker> worker;

    explicit Session(std::vector<std::string> entries) {
        display->shared = shared;
        shared->playlist.entries = std::move(entries);
        shared->flags.play = true;
        worker = PlaylistWorker::Create(
            shared, display,
            [this] {
                auto p = std::make_shared<FakePlayer>();
                p->output = withOutput;
                std::lock_guard<std::mutex> g(lock);
                players.push_back(p);
                owned.push_back(p.get());
                return std::unique_ptr<TrackPlayer>(new Proxy(p));
            },
            nullptr, {}, WorkerTiming{10ms, 5ms, 20ms});
    }
    std::vector<FakePlayer*> owned;
    // Waits until the n-th player (1-based) exists and returns it.
    FakePlayer* Player(size_t n) {
        for (int i = 0; i < 300; ++i) {
            {
                std::lock_guard<std::mutex> g(lock);
                if (players.size() >= n && players[n - 1]->playing) return players[n - 1].get();
            }
            std::this_thread::sleep_for(5ms);
        }
        return nullptr;
    }
    std::vector<std::string> Played() {
        std::lock_guard<std::mutex> g(lock);
        std::vector<std::string> out;
        for (auto& p : players) out.push_back(p->path);
        return out;
    }
    ~Session() {
        worker->Terminate();
        worker->WaitUntilDone(2s);
    }
};

} // namespace

TEST(Worker, PlaysEntriesInOrderAndEndsTheRun) {
    Session s({"/m/a.mp3", "/m/b.mp3"});
    s.worker->Start();
    s.Player(1)->playing = false;
    s.Player(2)->playing = false;
    ASSERT_TRUE(s.worker->WaitUntilDone(2s));
    EXPECT_EQ(s.Played(), (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3"}));
    EXPECT_EQ(s.display->Tracks(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(s.display->total, "03.07");
    EXPECT_EQ(s.display->bitrate, "128 kb/s");
    EXPECT_EQ(s.display->runEnded, 1);
    EXPECT_TRUE(s.shared->playlist.entries.empty());
    EXPECT_FALSE(s.shared->flags.play);
    EXPECT_TRUE(s.worker->Finished());
}

TEST(Worker, EmptyListEndsAtOnceWithoutUpdates) {
    Session s({});
    s.worker->Start();
    ASSERT_TRUE(s.worker->WaitUntilDone(1s));
    EXPECT_EQ(s.display->runEnded, 0);
    EXPECT_TRUE(s.Played().empty());
}

TEST(Worker, NextAndPreviousWrapAround) {
    Session s({"/a.mp3", "/b.mp3", "/c.mp3"});
    s.worker->Start();
    ASSERT_TRUE(s.Player(1));
    s.shared->flags.prev = true; // from the first: the last
    ASSERT_TRUE(s.Player(2));
    EXPECT_FALSE(s.shared->flags.prev);
    s.shared->flags.next = true; // from the last: the first, repeat or not
    ASSERT_TRUE(s.Player(3));
    s.shared->flags.next = true;
    ASSERT_TRUE(s.Player(4));
    s.shared->flags.prev = true;
    ASSERT_TRUE(s.Player(5));
    EXPECT_EQ(s.Played(), (std::vector<std::string>{"/a.mp3", "/c.mp3", "/a.mp3", "/b.mp3", "/a.mp3"}));
    EXPECT_TRUE(s.owned[0]->stopped);
}

TEST(Worker, RepeatGoesRoundAndPlayButtonStops) {
    Session s({"/a.mp3", "/b.mp3"});
    s.shared->flags.repeat = true;
    s.worker->Start();
    s.Player(1)->playing = false;
    s.Player(2)->playing = false;
    FakePlayer* third = s.Player(3);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->path, "/a.mp3");
    s.shared->flags.play = false;
    s.shared->uiEvent.Set();
    ASSERT_TRUE(s.worker->WaitUntilDone(2s));
    EXPECT_TRUE(third->stopped);
    EXPECT_EQ(s.display->stopped, 1);
    EXPECT_TRUE(s.shared->playlist.entries.empty());
}

TEST(Worker, PauseIsALevelAndListClickSwitches) {
    Session s({"/a.mp3", "/b.mp3", "/c.mp3"});
    s.worker->Start();
    FakePlayer* first = s.Player(1);
    ASSERT_TRUE(first);
    s.shared->flags.pause = true;
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(first->paused);
    s.shared->flags.pause = false;
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(first->paused);
    s.shared->playlist.Click(0); // the row playing: not interrupted
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(first->stopped);
    first->playing = false; // and then it plays once more
    FakePlayer* again = s.Player(2);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->path, "/a.mp3");
    s.shared->playlist.Click(2); // another row: switches at once
    FakePlayer* third = s.Player(3);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->path, "/c.mp3");
    EXPECT_TRUE(again->stopped);
}

// No sound device: the entry is not skipped (the list emptied itself in a
// moment, or spun round with repeat on) but waits, the reason beside its
// title, asks for a device again now and then, and plays once there is one.
// The play button ends the wait like any track.
TEST(Worker, NoSoundOutputWaitsOnTheEntryUntilThereIsOne) {
    Session s({"/a.mp3", "/b.mp3"});
    s.withOutput = false;
    s.shared->flags.repeat = true;
    s.worker->Start();
    FakePlayer* first = nullptr;
    for (int i = 0; i < 300 && !first; ++i) {
        std::this_thread::sleep_for(5ms);
        std::lock_guard<std::mutex> g(s.lock);
        if (!s.players.empty() && s.players[0]->attaches >= 4) first = s.players[0].get();
    }
    ASSERT_TRUE(first);
    EXPECT_FALSE(first->playing);
    const auto made = [&] {
        std::lock_guard<std::mutex> g(s.lock);
        return s.players.size();
    };
    EXPECT_EQ(made(), 1u);
    EXPECT_EQ(s.display->Tracks(), (std::vector<std::string>{"a", "a (no sound output)"}));

    first->output = true;
    ASSERT_EQ(s.Player(1), first);
    EXPECT_EQ(s.display->Tracks().back(), "a");
    first->playing = false;

    // The next entry finds no device either; the play button stops the wait.
    for (int i = 0; i < 300 && made() < 2; ++i) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(made(), 2u);
    s.shared->flags.play = false;
    s.shared->uiEvent.Set();
    ASSERT_TRUE(s.worker->WaitUntilDone(2s));
    EXPECT_EQ(s.Played(), (std::vector<std::string>{"/a.mp3", "/b.mp3"}));
    EXPECT_EQ(s.display->stopped, 1);
}

TEST(Worker, TerminatedWorkerMakesNoFurtherCallsOrUpdates) {
    Session s({"/a.mp3", "/b.mp3"});
    s.worker->Start();
    FakePlayer* first = s.Player(1);
    ASSERT_TRUE(first);
    s.worker->Terminate();
    ASSERT_TRUE(s.worker->WaitUntilDone(1s));
    first->playing = false;
    EXPECT_EQ(s.Played().size(), 1u);
    EXPECT_EQ(s.display->runEnded, 0);
    EXPECT_FALSE(first->stopped); // the next worker stops it
}

// The threads a player starts (decoding, feeding the sound device) inherit
// the priority of the thread that starts them: a worker at the lowest
// priority would hand it on, and the sound would stutter on a busy machine.
TEST(Worker, StartsPlayersAtTheProcessPriority) {
    Session s({"/m/a.mp3"});
    s.worker->Start();
    FakePlayer* p = s.Player(1);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->playNice.load(), getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())));
}

// The time is shown when its text changes, not at every poll; a new track
// shows its time even when it is the text the last one ended on.
TEST(Worker, ShowsTheTimeOnlyWhenItChanges) {
    Session s({"/a.mp3", "/b.mp3"});
    s.worker->Start();
    FakePlayer* first = s.Player(1);
    ASSERT_TRUE(first);
    std::this_thread::sleep_for(100ms); // about ten polls
    EXPECT_EQ(s.display->Elapsed(), (std::vector<std::string>{"00.59"}));
    first->elapsed = 60;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(s.display->Elapsed(), (std::vector<std::string>{"00.59", "01.00"}));
    first->playing = false;
    FakePlayer* second = s.Player(2);
    ASSERT_TRUE(second);
    second->elapsed = 60;
    std::this_thread::sleep_for(50ms);
    const std::vector<std::string> shown = s.display->Elapsed();
    ASSERT_GE(shown.size(), 3u);
    EXPECT_EQ(shown.back(), "01.00");
    EXPECT_LE(shown.size(), 4u); // the second track's 00.59 at most once before its 01.00
}
