#pragma once

#include "app/FixedButton.h"
#include "app/MainThreadCall.h"
#include "app/MprisService.h"
#include "app/PlaylistWorker.h"
#include "app/TrackTags.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QTreeView;

namespace zumo {

class Panel;
class PathExpander;
class PlaylistModel;
class TagCache;

// How the window reaches the world outside it. The defaults are the real
// ones; tests put recorders in their place.
struct WindowServices {
    std::vector<std::string> commandLineArgs;                            // every argument, as the system gave its bytes
    PlayerFactory playerFactory;                                         // none: entries cannot be played
    std::function<void()> moveRequest;                                   // default: the window system's own move
    std::function<std::optional<std::vector<std::string>>()> openDialog; // default: the file dialog
    std::function<void(const QString& path)> openHelp;                   // default: the desktop's handler
    std::function<void(const QString& title, const QString& text)> showAbout; // default: a message box
    QString helpDir; // default: the executable's real directory
    WorkerTiming timing;
    bool animate = true; // show and close animations where possible
};

// The tray menu's items by index.
enum TrayItem {
    ItemAbout = 0,
    ItemShow,
    ItemOnTop,
    ItemSep1,
    ItemNext,
    ItemPrev,
    ItemRepeat,
    ItemPause,
    ItemSep2,
    ItemExit
};
// The tray icon's mouse messages.
enum class TrayMouse { LeftUp, LeftDouble, RightUp, Other };

// The player's window. Its functions are spread over three files:
// MainWindow.cpp (the intakes, the commands, what the worker shows, the
// window's events), MainWindowControls.cpp (the controls built and laid
// out, the window's shape) and MainWindowTray.cpp (the tray icon and its
// menu).
class MainWindow : public QWidget {
public:
    explicit MainWindow(WindowServices services = {});
    ~MainWindow() override;

    // The intakes. Paths are the system's bytes here and in the playlist (a
    // file name need not be UTF-8); they become text only where they are
    // shown. AddFiles appends the .mp3 files among `files` to the playlist
    // at once and lets a worker play them.
    void AddFiles(std::vector<std::string> files);
    // Queues dropped or given paths in order: .mp3 files at once, folders
    // and playlists once their files are found (after what is still being
    // looked through).
    void Intake(std::vector<std::string> paths);
    void RunOpenDialog();
    QString ProvideCell(int row, int column);
    void OnListClick();

    // The commands.
    void OnButtonClick(QWidget* sender);
    void OnMenuItem(int index);
    void OnTrayMouse(TrayMouse message);
    void HelpOrAbout();

    // What the worker shows (main thread).
    void SelectRow(int32_t row);
    // A track starts: its title (from its tags, read by the worker) everywhere.
    void StartTrack(const std::string& path, const TrackTags& tags);
    void ShowTitleNote(const QString& note);
    void ShowTrack(const QString& title);
    void ShowTotal(const QString& text);
    void ShowBitrate(const QString& text);
    void ShowElapsed(const QString& text);
    void ScrollTitle();
    void ResetTitlePosition();
    void ShowStopped();
    void ShowRunEnded();
    void SetTrayTip(const QString& tip);
    void SetRowCount(int rows);

    // The record's fields.
    std::shared_ptr<PlaybackShared> shared;
    std::shared_ptr<PlaylistWorker> worker;
    Panel* displayStrip = nullptr;
    Panel* buttonStrip = nullptr;
    Panel* infoPanel = nullptr;
    Panel* titleClip = nullptr;
    Panel* playlistPanel = nullptr;
    QTreeView* playlistView = nullptr;
    QLabel* elapsedLabel = nullptr;
    QLabel* totalLabel = nullptr;
    QLabel* bitrateLabel = nullptr;
    QLabel* titleLabel = nullptr;
    FixedButton* pauseButton = nullptr;
    FixedButton* playButton = nullptr;
    FixedButton* prevButton = nullptr;
    FixedButton* nextButton = nullptr;
    FixedButton* repeatButton = nullptr;
    FixedButton* listButton = nullptr;
    InfoButton* infoButton = nullptr;
    FixedButton* closeButton = nullptr;
    QImage backgroundBitmap;
    QImage buttonGlyphs;
    QImage closeGlyphs;
    QSystemTrayIcon* trayIcon = nullptr;
    QMenu* trayMenu = nullptr;
    std::array<QAction*, 10> menuItems{};
    QString currentTitle;
    int currentTitleWidth = 0; // measured when the title is set, not at every scroll step
    int32_t scrollPos = 0;
    int32_t compactHeight = 0;

    QString TrayTip() const { return trayTip; }
    bool WorkerRunning() const;
    // The round-rectangle shape of the whole window at its current size.
    void Reshape();
    // Brings the menu's marks of "Repeat All" and "Pause" in line with the flags.
    void SyncMenuMarks();

    // The desktop's media controls (on the session bus), when there are any.
    void SetMediaService(MprisService* service);
    // The track the worker started last, and its title as shown.
    MediaTrack currentTrack;
    QString trackTitle;
    int64_t elapsedSeconds = 0;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void BuildControls();
    void BuildTray();
    std::shared_ptr<PlaylistWorker> NewWorker();
    void PreClose();
    void Refresh();
    bool CanAnimate() const;
    void Animate(bool hiding, std::function<void()> done);
    // Moves the window up when its bottom has gone past the bottom of its
    // screen; LowerBack puts it back where it was when the list collapses.
    void KeepOnScreen();
    void LowerBack();

    WindowServices services;
    std::shared_ptr<MainThreadCall> bridge;
    std::shared_ptr<TagCache> tagCache; // shared with the workers, which read the tags of their tracks
    std::unique_ptr<PathExpander> expander;
    std::unique_ptr<MediaControls> controls;
    MprisService* mediaService = nullptr;
    PlaylistModel* model = nullptr;
    QString trayTip;
    bool commandLineTaken = false;
    bool closing = false;
    bool closeAnimated = false;
    bool quietShow = false;
    // On Wayland the window's mask only says where it takes input.
    bool maskIsInputOnly = false;
    // How far KeepOnScreen moved the window up, and where to.
    int liftedBy = 0;
    QPoint liftedTo;
    // The release that ends a double click on the list is not a second click.
    bool listDoubleClicked = false;
};

// The window's shape: a round rectangle with 10 x 10 corner ellipses.
QRegion RoundedRegion(QSize size);
// Gives freed heap memory back to the system.
void TrimWorkingSet();

} // namespace zumo
