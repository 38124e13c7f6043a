#include "app/MainWindow.h"

#include "app/Formats.h"
#include "app/Panel.h"
#include "app/PathExpander.h"
#include "app/PlaylistModel.h"
#include "app/PortalFileDialog.h"
#include "app/TagCache.h"
#include "app/WindowDisplay.h"
#include "app/WindowMediaControls.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMimeData>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVariantAnimation>
#include <QWindow>

#include <malloc.h>

namespace zumo {

static std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
static QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

void TrimWorkingSet() { malloc_trim(0); }

// A time text ("03.07", "100.05") as seconds.
static int64_t SecondsOf(const QString& text) {
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0) return 0;
    return text.left(dot).toLongLong() * 60 + text.mid(dot + 1).toLongLong();
}

MainWindow::MainWindow(WindowServices s) : services(std::move(s)) {
    setWindowTitle(QString::fromUtf8(kIdleText));
    resize(200, 80);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + (area.width() - 200) / 2, area.y() + (area.height() - 80) / 2);
    }
    shared = std::make_shared<PlaybackShared>();
    bridge = std::make_shared<MainThreadCall>(this);
    auto post = [bridge = bridge](std::function<void()> call) { bridge->Post(std::move(call), nullptr); };
    // Tags that came in: the list shows them where it shows their files.
    tagCache = std::make_shared<TagCache>(post, [this] { model->TitlesChanged(); });
    expander = std::make_unique<PathExpander>(post,
                                              [this](std::vector<std::string> files) { AddFiles(std::move(files)); });
    controls = std::make_unique<WindowMediaControls>(this);
    if (!services.moveRequest)
        services.moveRequest = [this] {
            if (windowHandle()) windowHandle()->startSystemMove();
        };
    if (!services.openDialog)
        services.openDialog = [this]() -> std::optional<std::vector<std::string>> {
            // The desktop's own dialog where the session offers one.
            std::vector<std::string> chosen;
            switch (PortalFileDialog::Run(this, chosen)) {
            case PortalFileDialog::Outcome::Chosen: return chosen;
            case PortalFileDialog::Outcome::Cancelled: return std::nullopt;
            case PortalFileDialog::Outcome::Unavailable: break;
            }
            // Qt's own, then. (Qt keeps its history in a settings file,
            // which main() sends nowhere.)
            QFileDialog dialog(this);
            dialog.setOption(QFileDialog::DontUseNativeDialog, true);
            dialog.setFileMode(QFileDialog::ExistingFiles);
            dialog.setNameFilter(QStringLiteral("mp3 files (*.mp3)"));
            dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            for (const QString& path : dialog.selectedFiles()) chosen.push_back(PathBytes(path));
            return chosen;
        };
    if (!services.openHelp)
        services.openHelp = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    if (!services.showAbout)
        services.showAbout = [](const QString& title, const QString& text) {
            QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
            box.exec();
        };
    if (services.helpDir.isEmpty()) services.helpDir = QCoreApplication::applicationDirPath();

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    setContentsMargins(0, 0, 0, 0);
    installEventFilter(this);
    setAcceptDrops(true);
    // The window paints its rounded shape itself and leaves the corners
    // transparent: on Wayland a window's mask only limits where it takes
    // input, and some X window managers (Weston's, for XWayland) ignore the
    // shape. Where the shape is honoured, the mask cuts the corners as well.
    setAttribute(Qt::WA_TranslucentBackground);
    maskIsInputOnly = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));

    BuildControls();
    Reshape();
    // (The suffix names the format: without it Qt loads its whole file type
    // database to find out.)
    setWindowIcon(QIcon(QStringLiteral(":/MAINICON.svg")));
    BuildTray();
}

MainWindow::~MainWindow() {
    // No worker update reaches the window from here on; one that is
    // waiting for the window is released as its call is discarded.
    bridge->Detach();
    if (worker) worker->Terminate();
    SetMediaService(nullptr);
    // The child widgets outlive this part of the window: the list view must
    // not ask a half-destroyed window for its cells while it is torn down.
    playlistView->setModel(nullptr);
    delete model;
    model = nullptr;
}

bool MainWindow::event(QEvent* event) {
    if (MainThreadCall::Deliver(event)) return true;
    return QWidget::event(event);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The repeat button has no click action: the desktop hears of its flag from here.
    if (watched == repeatButton) {
        if (event->type() == QEvent::MouseButtonRelease || event->type() == QEvent::KeyRelease)
            QTimer::singleShot(0, this, [this] { Refresh(); });
        return false;
    }
    if (playlistView && watched == playlistView->viewport()) {
        // A double click comes as press, release, double click, release: one
        // jump to the row, not a second start of it at the last release.
        if (event->type() == QEvent::MouseButtonDblClick) listDoubleClicked = true;
        if (event->type() == QEvent::MouseButtonRelease) {
            if (listDoubleClicked) listDoubleClicked = false;
            else QTimer::singleShot(0, this, [this] { OnListClick(); });
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->buttons() == Qt::LeftButton && mouse->modifiers() == Qt::NoModifier) {
            services.moveRequest();
            return true;
        }
        return true;
    }
    case QEvent::MouseButtonDblClick: return true; // swallowed: a double click on the window does nothing
    case QEvent::MouseButtonRelease:
        if (QWidget::mouseGrabber() == this) releaseMouse();
        return true;
    default: return false;
    }
}

bool MainWindow::CanAnimate() const {
    const QString platform = QGuiApplication::platformName();
    // (The animations reveal the window through its mask.)
    return services.animate && !maskIsInputOnly && platform != QLatin1String("offscreen") &&
           platform != QLatin1String("minimal");
}

// The reveal (or hide) slides in over 300 ms from one of seven directions:
// 1 left to right, 2 right to left, 3 from the middle outwards, 4 top to
// bottom, and their combinations with 4.
void MainWindow::Animate(bool hiding, std::function<void()> done) {
    QRandomGenerator random(static_cast<quint32>(QDateTime::currentMSecsSinceEpoch()));
    const int flags = random.bounded(1, 8);
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(300);
    animation->setStartValue(hiding ? 1.0 : 0.0);
    animation->setEndValue(hiding ? 0.0 : 1.0);
    QObject::connect(animation, &QVariantAnimation::valueChanged, this, [this, flags](const QVariant& value) {
        const double t = value.toDouble();
        const int w = width(), h = height();
        int left = 0, right = w, top = 0, bottom = h;
        const int horizontal = flags & 3;
        if (horizontal == 1) right = static_cast<int>(w * t);
        else if (horizontal == 2) left = w - static_cast<int>(w * t);
        else if (horizontal == 3) {
            left = static_cast<int>(w * (1 - t) / 2);
            right = w - left;
        }
        if (flags & 4) bottom = static_cast<int>(h * t);
        setMask(RoundedRegion(size()).intersected(
            QRegion(left, top, std::max(0, right - left), std::max(0, bottom - top))));
    });
    QObject::connect(animation, &QVariantAnimation::finished, this, [this, done = std::move(done)] {
        Reshape();
        done();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (CanAnimate() && !quietShow) Animate(false, [this] { update(); });
    quietShow = false;
    // Taken at the first show only: showing the window again from the
    // tray must not queue the same files once more.
    if (!commandLineTaken) {
        commandLineTaken = true;
        if (!services.commandLineArgs.empty()) Intake(services.commandLineArgs);
    }
    TrimWorkingSet();
}

void MainWindow::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) TrimWorkingSet();
}

void MainWindow::PreClose() {
    bool hasPlayer = false;
    {
        std::lock_guard<std::mutex> guard(shared->playerLock);
        hasPlayer = shared->player != nullptr;
    }
    if (hasPlayer && worker) {
        // Ended first, so that it makes no further call on the player.
        worker->Terminate();
        std::lock_guard<std::mutex> guard(shared->playerLock);
        if (shared->player) shared->player->Stop();
    }
    playButton->SetChecked(false);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closing) {
        closing = true;
        PreClose();
        trayIcon->hide();
    }
    if (CanAnimate() && isVisible() && !closeAnimated) {
        closeAnimated = true;
        event->ignore();
        Animate(true, [this] { close(); });
        return;
    }
    event->accept();
    // Closing a hidden window (Exit from the tray) closes no visible window,
    // so the application would not end by itself.
    QCoreApplication::quit();
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
    std::vector<std::string> paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths.push_back(PathBytes(url.toLocalFile()));
    event->acceptProposedAction();
    if (!paths.empty()) Intake(std::move(paths));
}

void MainWindow::Intake(std::vector<std::string> paths) {
    bool atOnce = !expander->Busy();
    for (const std::string& path : paths) atOnce = atOnce && HasMp3Extension(path);
    if (atOnce) AddFiles(std::move(paths));
    else expander->Add(std::move(paths));
}

bool MainWindow::WorkerRunning() const { return worker && !worker->Finished() && !worker->Terminated(); }

std::shared_ptr<PlaylistWorker> MainWindow::NewWorker() {
    auto terminated = std::make_shared<std::atomic<bool>>(false);
    auto display = std::make_shared<WindowDisplay>(bridge, this, terminated, tagCache);
    return PlaylistWorker::Create(shared, display, services.playerFactory, terminated, &TrimWorkingSet,
                                  services.timing);
}

void MainWindow::AddFiles(std::vector<std::string> files) {
    bool needWorker = false;
    size_t count = 0;
    {
        Playlist& list = shared->playlist;
        std::lock_guard<std::mutex> guard(list.lock);
        needWorker = !WorkerRunning();
        list.entries.insert(list.entries.end(), files.begin(), files.end());
        for (size_t i = list.entries.size(); i-- > 0;)
            if (!HasMp3Extension(list.entries[i]))
                list.entries.erase(list.entries.begin() + static_cast<std::ptrdiff_t>(i));
        count = list.entries.size();
    }
    if (needWorker) {
        if (worker) worker->Terminate(); // a finished one: its last updates are dropped
        worker = NewWorker();
    }
    SetRowCount(static_cast<int>(count));
    if (model->Rows() > 0) playButton->SetChecked(true);
    worker->Start();
}

void MainWindow::RunOpenDialog() {
    std::optional<std::vector<std::string>> chosen = services.openDialog();
    if (chosen) {
        expander->CancelAll(); // what was still being looked through would join the new list
        if (worker) worker->Terminate();
        worker = NewWorker();
        SetRowCount(static_cast<int>(shared->playlist.Replace(*chosen)));
    } else {
        playButton->SetChecked(false);
    }
    if (worker) worker->Start();
}

QString MainWindow::ProvideCell(int row, int column) {
    if (column >= 2 || row < 0 || row >= model->Rows()) return {};
    const std::string path = shared->playlist.Entry(static_cast<size_t>(row));
    if (path.empty()) return {};
    if (column == 1) return PathText(LocationOf(path));
    // The title from the tags once they are read; the file name until then.
    const std::optional<TrackTags> tags = tagCache->Find(path);
    if (!tags) tagCache->Request(path);
    else if (!tags->title.empty()) return QString::fromStdString(DisplayTitle(*tags, path));
    return PathText(TitleOf(path));
}

void MainWindow::OnListClick() {
    const QModelIndexList rows = playlistView->selectionModel()->selectedRows();
    int selected = -1;
    for (const QModelIndex& index : rows)
        if (selected < 0 || index.row() < selected) selected = index.row();
    shared->playlist.Click(selected);
}

void MainWindow::SetRowCount(int rows) { model->SetRows(rows); }

void MainWindow::SelectRow(int32_t row) {
    playlistView->clearSelection();
    if (row < 0 || row >= model->Rows()) return;
    const QModelIndex index = model->index(row, 0);
    playlistView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    playlistView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void MainWindow::StartTrack(const std::string& path, const TrackTags& tags) {
    currentTrack = MediaTrack{
        currentTrack.number + 1, path, tags.title.empty() ? TitleOf(path) : tags.title, tags.artist, tags.album, 0};
    elapsedSeconds = 0;
    // The file name when the tags name no title: as bytes, which need not be UTF-8.
    trackTitle = tags.title.empty() ? PathText(TitleOf(path)) : QString::fromStdString(DisplayTitle(tags, path));
    ShowTrack(trackTitle);
    Refresh();
}

void MainWindow::ShowTitleNote(const QString& note) {
    ShowTrack(note.isEmpty() ? trackTitle : trackTitle + QStringLiteral(" (") + note + QLatin1Char(')'));
}

void MainWindow::ShowTrack(const QString& title) {
    currentTitle = title;
    currentTitleWidth = titleLabel->fontMetrics().horizontalAdvance(title);
    setWindowTitle(title);
    titleLabel->setText(title);
    titleLabel->adjustSize();
    SetTrayTip(title);
}

void MainWindow::ShowTotal(const QString& text) {
    totalLabel->setText(text);
    currentTrack.lengthSeconds = SecondsOf(text);
    Refresh();
}

void MainWindow::ShowElapsed(const QString& text) {
    elapsedLabel->setText(text);
    elapsedSeconds = SecondsOf(text);
}

void MainWindow::ShowBitrate(const QString& text) {
    bitrateLabel->setText(text);
    bitrateLabel->adjustSize();
}

void MainWindow::ScrollTitle() {
    scrollPos = NextScrollPos(scrollPos, titleClip->width(), currentTitleWidth);
    titleLabel->move(scrollPos, titleLabel->y());
}

void MainWindow::ResetTitlePosition() { titleLabel->move(0, titleLabel->y()); }

void MainWindow::ShowStopped() {
    titleLabel->setText(QString::fromUtf8(kIdleText));
    titleLabel->adjustSize();
    SetTrayTip(QString::fromUtf8(kIdleText));
    ResetTitlePosition();
    SetRowCount(0);
    // Stopped: what is still being looked through is not wanted any more.
    expander->CancelAll();
    tagCache->Clear();
    Refresh();
}

void MainWindow::ShowRunEnded() {
    titleLabel->setText(QString::fromUtf8(kIdleText));
    titleLabel->adjustSize();
    SetRowCount(0);
    // Cleared here, on the window's thread, so that an intake that started
    // a new run meanwhile keeps its flag (this update is then dropped).
    playButton->SetChecked(false);
    tagCache->Clear();
    Refresh();
}

void MainWindow::SetMediaService(MprisService* service) {
    if (mediaService) mediaService->SetControls(nullptr);
    mediaService = service;
    if (service) service->SetControls(controls.get());
}

void MainWindow::Refresh() {
    if (mediaService) mediaService->Refresh();
}

void MainWindow::OnButtonClick(QWidget* sender) {
    // Disabling a widget hands its keyboard focus to the next one: the
    // space key would then press another button (the info button after the
    // list button). The sender gets the focus back when it is enabled again.
    const bool hadFocus = sender->hasFocus();
    sender->setEnabled(false);
    // A held button repeats; the file dialog comes only from a press.
    if (sender == playButton && playButton->Checked() && !playButton->Repeating()) RunOpenDialog();
    if (sender == listButton) {
        const bool expand = listButton->Checked();
        const int h = expand ? height() + playlistPanel->height() + 5 : compactHeight;
        setFixedSize(width(), h);
        Reshape();
        if (expand) KeepOnScreen();
        else LowerBack();
    }
    if (sender == closeButton) {
        if (worker) worker->Terminate();
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
    }
    if (sender == infoButton) HelpOrAbout();
    shared->uiEvent.Set();
    sender->setEnabled(true);
    if (hadFocus && !closing) sender->setFocus(Qt::OtherFocusReason);
    Refresh();
}

void MainWindow::KeepOnScreen() {
    QScreen* where = screen();
    if (!where) return;
    const QRect area = where->availableGeometry();
    const QRect frame = frameGeometry();
    if (frame.bottom() <= area.bottom()) return;
    const int top = std::max(area.top(), area.bottom() + 1 - frame.height());
    liftedBy = frame.top() - top;
    move(x(), y() - liftedBy);
    liftedTo = pos();
}

void MainWindow::LowerBack() {
    // Only if the user has not moved it since.
    if (liftedBy > 0 && pos() == liftedTo) move(x(), y() + liftedBy);
    liftedBy = 0;
}

void MainWindow::HelpOrAbout() {
    const QString path = services.helpDir + QStringLiteral("/videzi3.htm");
    const QFileInfo info(path);
    if (info.exists() && !info.isDir()) services.openHelp(path);
    else
        services.showAbout(
            windowTitle(),
            QStringLiteral(
                "Zumo mp3 player\nA small player of MPEG audio files, with a decoder of its own. Version " ZUMO_VERSION
                "."));
}

} // namespace zumo
