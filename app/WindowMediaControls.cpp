#include "app/WindowMediaControls.h"

#include "app/MainWindow.h"

#include <QTimer>

namespace zumo {

PlaybackStatus WindowMediaControls::Status() {
    if (!w->shared->flags.play || !w->WorkerRunning()) return PlaybackStatus::Stopped;
    return w->shared->flags.pause ? PlaybackStatus::Paused : PlaybackStatus::Playing;
}

bool WindowMediaControls::Repeat() { return w->shared->flags.repeat; }

MediaTrack WindowMediaControls::Track() { return Status() == PlaybackStatus::Stopped ? MediaTrack() : w->currentTrack; }

int64_t WindowMediaControls::PositionSeconds() { return Status() == PlaybackStatus::Stopped ? 0 : w->elapsedSeconds; }

void WindowMediaControls::PlayPause() {
    if (Status() == PlaybackStatus::Stopped) Play();
    else Press(w->pauseButton, !w->pauseButton->Checked());
}

void WindowMediaControls::Play() {
    if (Status() == PlaybackStatus::Paused) Press(w->pauseButton, false);
    if (Status() != PlaybackStatus::Stopped || w->playButton->Checked()) return;
    QTimer::singleShot(0, w, [w = w] {
        if (w->playButton->Checked()) return;
        w->playButton->SetChecked(true);
        w->OnButtonClick(w->playButton);
    });
}

void WindowMediaControls::Pause() {
    if (Status() == PlaybackStatus::Playing) Press(w->pauseButton, true);
}

void WindowMediaControls::Stop() {
    if (Status() != PlaybackStatus::Stopped) Press(w->playButton, false);
}

void WindowMediaControls::Next() {
    if (w->shared->playlist.Count() > 0) Press(w->nextButton, true);
}

void WindowMediaControls::Previous() {
    if (w->shared->playlist.Count() > 0) Press(w->prevButton, true);
}

void WindowMediaControls::SetRepeat(bool on) { Press(w->repeatButton, on); }

void WindowMediaControls::Raise() {
    if (!w->isVisible()) w->OnMenuItem(ItemShow);
    w->raise();
    w->activateWindow();
}

void WindowMediaControls::Quit() {
    QMetaObject::invokeMethod(
        w, [w = w] { w->close(); }, Qt::QueuedConnection);
}

void WindowMediaControls::Open(std::vector<std::string> paths) { w->Intake(std::move(paths)); }

void WindowMediaControls::Press(FixedButton* button, bool on) {
    button->SetChecked(on);
    w->SyncMenuMarks();
    w->shared->uiEvent.Set();
}

} // namespace zumo
