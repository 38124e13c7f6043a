#pragma once

#include "app/Playlist.h"
#include "app/UiEvent.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace zumo {

// The player as the worker sees it: one per playlist entry.
class TrackPlayer {
public:
    virtual ~TrackPlayer() = default; // blocks until queued audio has played out
    virtual void Open(const std::string& path) = 0;
    // Makes the sound output for the opened stream and hands it to the
    // player; false when the sound device cannot be opened (it may be
    // asked again). A stream with nothing to play needs no device: true.
    virtual bool AttachOutput() = 0;
    virtual int64_t TotalSeconds() = 0;
    virtual int32_t Bitrate() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    virtual void Stop() = 0;
    virtual uint32_t ElapsedSeconds() = 0;
    virtual bool Playing() = 0;
};

using PlayerFactory = std::function<std::unique_ptr<TrackPlayer>()>;

// The checked flags of the toggle buttons: the commands. The window sets
// and clears them; the worker reads them at every poll without a lock.
struct CommandFlags {
    std::atomic<bool> play{false};
    std::atomic<bool> pause{false};
    std::atomic<bool> prev{false};
    std::atomic<bool> next{false};
    std::atomic<bool> repeat{false};
    std::atomic<bool> list{false};
    std::atomic<bool> close{false};
};

// Everything the window and its workers share. It outlives both: a worker
// that was told to stop may still be finishing a player call when the
// window is gone.
struct PlaybackShared {
    Playlist playlist;
    CommandFlags flags;
    UiEvent uiEvent;
    // The current player; it stays after a run ends until the next run's
    // first entry or the window's close.
    std::mutex playerLock;
    std::shared_ptr<TrackPlayer> player; // under playerLock
};

enum class WorkerButton { Prev, Next };

// What the worker shows. Each call returns once the window has done it.
class WorkerDisplay {
public:
    virtual ~WorkerDisplay() = default;
    // Selects row `row` of the list view alone and scrolls it into view.
    virtual void SelectRow(int32_t row) = 0;
    // Caption, title display and tray tip show the title of the track at
    // `path` (from its tags, else its file name).
    virtual void ShowTrack(const std::string& path) = 0;
    // ... with a note in brackets after the title (why the entry waits);
    // an empty note takes it away.
    virtual void ShowTitleNote(const std::string& note) = 0;
    virtual void ShowTotal(const std::string& text) = 0;
    virtual void ShowBitrate(const std::string& text) = 0;
    virtual void ShowElapsed(const std::string& text) = 0;
    virtual void ScrollTitle() = 0;
    // The title display back at its left edge.
    virtual void ResetTitlePosition() = 0;
    // Playback stopped by the play button: idle title and tray tip, title
    // at its left edge, list view emptied.
    virtual void ShowStopped() = 0;
    // End of the run: idle title, list view emptied, play button cleared.
    virtual void ShowRunEnded() = 0;
    virtual void SetButtonEnabled(WorkerButton button, bool enabled) = 0;
    // The command flags changed under the buttons: repaint them.
    virtual void RefreshButtons() = 0;
};

// The worker's waits: the poll period, the pause after a previous or next
// command, and how often it tries the sound device again for an entry that
// found none.
struct WorkerTiming {
    std::chrono::milliseconds poll{100};
    std::chrono::milliseconds commandPause{100};
    std::chrono::milliseconds deviceRetry{1000};
};

// Shown after the title of an entry that waits for a sound device.
inline constexpr const char* kNoOutputReason = "no sound output";

// Plays the playlist entry by entry on a thread of its own. Created
// stopped; Start lets it run once. Terminate makes it end at its next
// poll or wait: from then on it makes no player call and no display
// update. Nobody waits for it; it keeps the shared state alive itself.
class PlaylistWorker : public std::enable_shared_from_this<PlaylistWorker> {
public:
    static std::shared_ptr<PlaylistWorker> Create(std::shared_ptr<PlaybackShared> shared,
                                                  std::shared_ptr<WorkerDisplay> display, PlayerFactory factory,
                                                  std::shared_ptr<std::atomic<bool>> terminated,
                                                  std::function<void()> trimWorkingSet = {},
                                                  WorkerTiming timing = WorkerTiming());

    void Start();
    void Terminate();
    bool Terminated() const { return terminated->load(); }
    // True once the run has reached its end (the playlist was emptied
    // under the playlist lock in the same step).
    bool Finished() const { return finished.load(); }
    // For tests and tools: waits until the thread has returned.
    bool WaitUntilDone(std::chrono::milliseconds timeout);

private:
    PlaylistWorker() = default;
    void Run();
    bool PlayEntry(const std::string& path);
    // The loop of one track, from its start to its end: at every poll it
    // carries out the commands, scrolls the title and shows the time, while
    // the entry plays or while it waits for a sound device (waitForDevice),
    // which it then asks for about once a second. Returns when the track has
    // ended or a command moved on; false when the worker was terminated.
    bool TrackLoop(const std::shared_ptr<TrackPlayer>& player, bool hasOutput, bool waitForDevice);
    bool WithPlayer(const std::shared_ptr<TrackPlayer>& player, const std::function<void(TrackPlayer&)>& call);
    bool Show(const std::function<void(WorkerDisplay&)>& update);
    bool Sleep(std::chrono::milliseconds time);
    void EndRun();

    std::shared_ptr<PlaybackShared> shared;
    std::shared_ptr<WorkerDisplay> display;
    PlayerFactory factory;
    std::function<void()> trimWorkingSet;
    WorkerTiming timing;
    std::shared_ptr<std::atomic<bool>> terminated;

    std::atomic<bool> started{false};
    std::atomic<bool> finished{false};
    std::mutex doneLock;
    std::condition_variable doneChanged;
    bool done = false; // under doneLock
};

} // namespace zumo
