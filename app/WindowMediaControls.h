#pragma once

#include "app/MprisService.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zumo {

class FixedButton;
class MainWindow;

// The desktop's media controls act as the buttons and the tray menu do:
// through the command flags and the worker's event, never on the player.
class WindowMediaControls : public MediaControls {
public:
    explicit WindowMediaControls(MainWindow* window) : w(window) {}

    PlaybackStatus Status() override;
    bool Repeat() override;
    MediaTrack Track() override;
    int64_t PositionSeconds() override;
    void PlayPause() override;
    // With nothing playing, as a press on the play button: the file dialog
    // (opened once this call has been answered).
    void Play() override;
    void Pause() override;
    // As a press on the play button while a list plays: stopped, the list emptied.
    void Stop() override;
    void Next() override;
    void Previous() override;
    void SetRepeat(bool on) override;
    void Raise() override;
    void Quit() override;
    void Open(std::vector<std::string> paths) override;

private:
    void Press(FixedButton* button, bool on);

    MainWindow* w;
};

} // namespace zumo
