#pragma once

#include "app/PlaylistWorker.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>

namespace zumo {

class MainThreadCall;
class MainWindow;
class TagCache;

// The worker's display: every update runs on the window's thread and
// returns when done; updates of a worker that was terminated are dropped.
class WindowDisplay : public WorkerDisplay {
public:
    WindowDisplay(std::shared_ptr<MainThreadCall> bridge, MainWindow* window,
                  std::shared_ptr<std::atomic<bool>> terminated, std::shared_ptr<TagCache> tags);

    void SelectRow(int32_t row) override;
    // The tags are read here, on the worker's thread.
    void ShowTrack(const std::string& path) override;
    void ShowTitleNote(const std::string& note) override;
    void ShowTotal(const std::string& text) override;
    void ShowBitrate(const std::string& text) override;
    void ShowElapsed(const std::string& text) override;
    // Ten times a second: posted without waiting, so the worker is not
    // woken again when it has run (a later update waits for it in turn).
    void ScrollTitle() override;
    void ResetTitlePosition() override;
    void ShowStopped() override;
    void ShowRunEnded() override;
    void SetButtonEnabled(WorkerButton button, bool enabled) override;
    void RefreshButtons() override;

private:
    void Do(std::function<void()> call);

    std::shared_ptr<MainThreadCall> bridge;
    MainWindow* window;
    std::shared_ptr<std::atomic<bool>> terminated;
    std::shared_ptr<TagCache> tags;
};

} // namespace zumo
