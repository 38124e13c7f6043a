#include "app/WindowDisplay.h"

#include "app/MainThreadCall.h"
#include "app/MainWindow.h"
#include "app/TagCache.h"

namespace zumo {

WindowDisplay::WindowDisplay(std::shared_ptr<MainThreadCall> bridge, MainWindow* window,
                             std::shared_ptr<std::atomic<bool>> terminated, std::shared_ptr<TagCache> tags)
    : bridge(std::move(bridge)), window(window), terminated(std::move(terminated)), tags(std::move(tags)) {}

void WindowDisplay::SelectRow(int32_t row) {
    Do([=, this] { window->SelectRow(row); });
}

void WindowDisplay::ShowTrack(const std::string& path) {
    const TrackTags read = tags->Get(path);
    Do([=, this] { window->StartTrack(path, read); });
}

void WindowDisplay::ShowTitleNote(const std::string& note) {
    Do([=, this] { window->ShowTitleNote(QString::fromStdString(note)); });
}

void WindowDisplay::ShowTotal(const std::string& text) {
    Do([=, this] { window->ShowTotal(QString::fromStdString(text)); });
}

void WindowDisplay::ShowBitrate(const std::string& text) {
    Do([=, this] { window->ShowBitrate(QString::fromStdString(text)); });
}

void WindowDisplay::ShowElapsed(const std::string& text) {
    Do([=, this] { window->ShowElapsed(QString::fromStdString(text)); });
}

void WindowDisplay::ScrollTitle() {
    MainWindow* w = window;
    bridge->Post([w] { w->ScrollTitle(); }, terminated);
}

void WindowDisplay::ResetTitlePosition() {
    Do([this] { window->ResetTitlePosition(); });
}

void WindowDisplay::ShowStopped() {
    Do([this] { window->ShowStopped(); });
}

void WindowDisplay::ShowRunEnded() {
    Do([this] { window->ShowRunEnded(); });
}

void WindowDisplay::SetButtonEnabled(WorkerButton button, bool enabled) {
    Do([=, this] { (button == WorkerButton::Prev ? window->prevButton : window->nextButton)->setEnabled(enabled); });
}

void WindowDisplay::RefreshButtons() {
    Do([this] {
        for (QWidget* b : {static_cast<QWidget*>(window->playButton), static_cast<QWidget*>(window->prevButton),
                           static_cast<QWidget*>(window->nextButton), static_cast<QWidget*>(window->closeButton)})
            b->update();
    });
}

void WindowDisplay::Do(std::function<void()> call) { bridge->Run(std::move(call), terminated); }

} // namespace zumo
