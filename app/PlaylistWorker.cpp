#include "app/PlaylistWorker.h"

#include "app/Formats.h"

#include <pthread.h>

#include <thread>

namespace zumo {

std::shared_ptr<PlaylistWorker> PlaylistWorker::Create(std::shared_ptr<PlaybackShared> shared,
                                                       std::shared_ptr<WorkerDisplay> display, PlayerFactory factory,
                                                       std::shared_ptr<std::atomic<bool>> terminated,
                                                       std::function<void()> trimWorkingSet, WorkerTiming timing) {
    std::shared_ptr<PlaylistWorker> worker(new PlaylistWorker());
    worker->shared = std::move(shared);
    worker->display = std::move(display);
    worker->factory = std::move(factory);
    worker->terminated = terminated ? std::move(terminated) : std::make_shared<std::atomic<bool>>(false);
    worker->trimWorkingSet = std::move(trimWorkingSet);
    worker->timing = timing;
    return worker;
}

void PlaylistWorker::Start() {
    if (started.exchange(true)) return;
    std::thread([self = shared_from_this()] {
        (void)pthread_setname_np(pthread_self(), "zumo-playlist");
        self->Run();
        {
            std::lock_guard<std::mutex> guard(self->doneLock);
            self->done = true;
        }
        self->doneChanged.notify_all();
    }).detach();
}

void PlaylistWorker::Terminate() {
    {
        // Taken so that no player call of this worker is under way or can
        // begin once the flag is set.
        std::lock_guard<std::mutex> guard(shared->playerLock);
        terminated->store(true);
    }
    { std::lock_guard<std::mutex> guard(doneLock); }
    doneChanged.notify_all();
    shared->uiEvent.Set();
}

bool PlaylistWorker::WaitUntilDone(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(doneLock);
    return doneChanged.wait_for(guard, timeout, [this] { return done; });
}

bool PlaylistWorker::WithPlayer(const std::shared_ptr<TrackPlayer>& player,
                                const std::function<void(TrackPlayer&)>& call) {
    std::lock_guard<std::mutex> guard(shared->playerLock);
    if (terminated->load()) return false;
    call(*player);
    return true;
}

bool PlaylistWorker::Show(const std::function<void(WorkerDisplay&)>& update) {
    if (terminated->load()) return false;
    update(*display);
    return !terminated->load();
}

bool PlaylistWorker::Sleep(std::chrono::milliseconds time) {
    std::unique_lock<std::mutex> guard(doneLock);
    doneChanged.wait_for(guard, time, [this] { return terminated->load(); });
    return !terminated->load();
}

// The worker keeps the process's normal priority. It sleeps between polls
// and costs nothing, but the threads it starts through the players (the
// decode thread, the sound device's writer) inherit its priority, and the
// system lets no thread win back a lowered one: a worker at the lowest
// priority made playback stall for seconds whenever the machine was busy.
void PlaylistWorker::Run() {
    Playlist& list = shared->playlist;
    {
        std::lock_guard<std::mutex> guard(list.lock);
        if (list.entries.empty()) {
            finished.store(true);
            return;
        }
        list.currentIndex = 0;
        list.playingIndex = 0;
    }
    // The commands leave currentIndex one row before the row to play next,
    // and this loop adds one after every entry. With the entry of row r
    // playing in a list of n rows, the moves come out as:
    //
    //   what happened           currentIndex set to         row played next
    //   the track ended         r (unchanged)               r + 1; after the last row the
    //                                                       run ends, or row 0 with repeat on
    //   Next (TrackLoop)        r; -1 at the last row       r + 1; row 0 after the last
    //   Previous (TrackLoop)    r - 2; n - 2 at row 0       r - 1; the last row from row 0
    //   a click on row s        s - 1; -1 with no row       s; row 0 with no row selected
    //   (Playlist::Click)       selected
    //
    // The click also moves playingIndex back by one, so that the two differ
    // and TrackLoop ends the track at once. A click on the row playing (or,
    // while row 0 plays, on no row) leaves them equal: the track plays on,
    // and after its end it plays again.
    for (;;) {
        if (terminated->load()) return;
        std::string path;
        int32_t row = 0;
        {
            std::lock_guard<std::mutex> guard(list.lock);
            const auto count = static_cast<int32_t>(list.entries.size());
            if (!(list.currentIndex < count && count > 0)) {
                // The end of the run and the emptying happen under one lock,
                // so an intake either lands before it (and is played) or
                // finds this worker finished (and starts a new one).
                list.entries.clear();
                finished.store(true);
                break;
            }
            if (list.currentIndex < 0) list.currentIndex = 0;
            row = list.currentIndex;
            path = list.entries[static_cast<size_t>(row)];
        }
        if (!Show([&](WorkerDisplay& d) {
                d.SelectRow(row);
                d.ShowTrack(path);
            }))
            return;
        if (!PlayEntry(path)) return;
        {
            std::lock_guard<std::mutex> guard(list.lock);
            const auto count = static_cast<int32_t>(list.entries.size());
            if (shared->flags.repeat.load() && list.currentIndex == count - 1) list.currentIndex = -1;
            list.currentIndex += 1;
            list.playingIndex = list.currentIndex;
        }
    }
    EndRun();
}

void PlaylistWorker::EndRun() {
    Show([](WorkerDisplay& d) { d.ShowRunEnded(); });
}

bool PlaylistWorker::PlayEntry(const std::string& path) {
    std::shared_ptr<TrackPlayer> previous;
    {
        std::lock_guard<std::mutex> guard(shared->playerLock);
        if (terminated->load()) return false;
        previous = std::move(shared->player);
        if (previous) previous->Stop();
    }
    previous.reset(); // may wait for the device: outside the lock

    if (terminated->load()) return false;
    std::shared_ptr<TrackPlayer> player = factory ? factory() : nullptr;
    if (!player) return true;
    bool opened = false;
    bool hasOutput = false;
    try {
        player->Open(path);
        opened = true;
        hasOutput = player->AttachOutput();
    } catch (...) {
        hasOutput = false;
    }
    // No sound device (no sound server, no card): the entry waits for one,
    // with the reason beside its title, rather than being skipped; skipping
    // would empty the list in a moment, or spin through it with repeat on.
    const bool waitForDevice = opened && !hasOutput;
    {
        std::lock_guard<std::mutex> guard(shared->playerLock);
        if (terminated->load()) return false;
        shared->player = player;
    }
    int64_t total = 0;
    int32_t bitrate = 0;
    if (!WithPlayer(player, [&](TrackPlayer& p) {
            total = p.TotalSeconds();
            bitrate = p.Bitrate();
        }))
        return false;
    if (!Show([&](WorkerDisplay& d) {
            d.ShowTotal(TimeText(total));
            d.ShowBitrate(BitrateText(bitrate));
            if (waitForDevice) d.ShowTitleNote(kNoOutputReason);
        }))
        return false;

    bool alive = true;
    try {
        if (trimWorkingSet) trimWorkingSet();
        // Without a sound output the track is not started yet. A player
        // that could not even open its file plays nothing: the track's loop
        // polls once and moves on.
        if (hasOutput && !WithPlayer(player, [](TrackPlayer& p) { p.Play(); })) return false;
        alive = TrackLoop(player, hasOutput, waitForDevice);
    } catch (...) {
        alive = !terminated->load();
    }
    if (!alive) return false;
    return Show([](WorkerDisplay& d) { d.ResetTitlePosition(); });
}

bool PlaylistWorker::TrackLoop(const std::shared_ptr<TrackPlayer>& player, bool hasOutput, bool waitForDevice) {
    Playlist& list = shared->playlist;
    CommandFlags& flags = shared->flags;
    bool waiting = waitForDevice;
    bool stopped = false; // stopped while waiting: nothing will play
    auto nextTry = std::chrono::steady_clock::now() + timing.deviceRetry;
    // Each track shows its time afresh, even when it starts with the text
    // the last one ended on.
    std::string shownElapsed;
    for (;;) {
        bool switched = false;
        {
            std::lock_guard<std::mutex> guard(list.lock);
            if (list.currentIndex != list.playingIndex) {
                list.playingIndex = list.currentIndex;
                switched = true;
            }
        }
        if (switched) return WithPlayer(player, [](TrackPlayer& p) { p.Stop(); });

        if (flags.prev.load() || flags.next.load()) {
            const bool prev = flags.prev.load();
            const WorkerButton button = prev ? WorkerButton::Prev : WorkerButton::Next;
            if (!Show([&](WorkerDisplay& d) { d.SetButtonEnabled(button, false); })) return false;
            {
                std::lock_guard<std::mutex> guard(list.lock);
                const auto count = static_cast<int32_t>(list.entries.size());
                if (prev) list.currentIndex = list.currentIndex > 0 ? list.currentIndex - 2 : count - 2;
                else if (list.currentIndex == count - 1) list.currentIndex = -1;
            }
            (prev ? flags.prev : flags.next).store(false);
            if (!Show([](WorkerDisplay& d) { d.RefreshButtons(); })) return false;
            if (!Sleep(timing.commandPause)) return false;
            return Show([&](WorkerDisplay& d) { d.SetButtonEnabled(button, true); });
        }

        if (flags.close.load()) {
            if (!WithPlayer(player, [](TrackPlayer& p) { p.Stop(); })) return false;
            stopped = true;
            flags.close.store(false);
            if (!Show([](WorkerDisplay& d) { d.RefreshButtons(); })) return false;
        } else if (flags.play.load()) {
            // Asked at every poll: the two act as a level on the player.
            const bool pause = flags.pause.load();
            if (!WithPlayer(player, [pause](TrackPlayer& p) { pause ? p.Pause() : p.Resume(); })) return false;
        } else {
            if (!WithPlayer(player, [](TrackPlayer& p) { p.Stop(); })) return false;
            stopped = true;
            list.Clear();
            if (!Show([](WorkerDisplay& d) { d.ShowStopped(); })) return false;
        }

        uint32_t elapsed = 0;
        if (!Show([](WorkerDisplay& d) { d.ScrollTitle(); })) return false;
        if (!WithPlayer(player, [&](TrackPlayer& p) { elapsed = p.ElapsedSeconds(); })) return false;
        // The time changes once a second: the other nine polls leave the
        // window alone instead of waking it for the same text.
        std::string elapsedText = TimeText(elapsed);
        if (elapsedText != shownElapsed) {
            if (!Show([&](WorkerDisplay& d) { d.ShowElapsed(elapsedText); })) return false;
            shownElapsed = std::move(elapsedText);
        }

        shared->uiEvent.Reset();
        shared->uiEvent.WaitFor(timing.poll);

        if (waiting) {
            if (stopped) return true;
            if (std::chrono::steady_clock::now() < nextTry) continue;
            // Opening the device may take a moment: not under the player
            // lock, so that the window's close never waits for it. The
            // player has not started, so nothing else touches its output.
            bool attached = false;
            try {
                attached = player->AttachOutput();
            } catch (...) {
                attached = false;
            }
            nextTry = std::chrono::steady_clock::now() + timing.deviceRetry;
            if (!attached) continue;
            waiting = false;
            hasOutput = true;
            if (!Show([](WorkerDisplay& d) { d.ShowTitleNote(""); })) return false;
            if (!WithPlayer(player, [](TrackPlayer& p) { p.Play(); })) return false;
            continue;
        }
        bool playing = false;
        if (!WithPlayer(player, [&](TrackPlayer& p) { playing = p.Playing(); })) return false;
        if (!hasOutput || !playing) return true;
    }
}

} // namespace zumo
