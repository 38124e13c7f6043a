#include "app/MainWindow.h"

#include "app/Formats.h"
#include "app/GradientFill.h"
#include "app/PathExpander.h"
#include "app/PortalFileDialog.h"
#include "app/TagCache.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDesktopServices>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtMath>
#include <QRandomGenerator>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QUrl>
#include <QVariantAnimation>
#include <QWindow>

#include <malloc.h>

namespace zumo {

static const QColor kWindowBlue(130, 132, 255);
static const QColor kBlack(0, 0, 0);
static const QColor kGreen(0, 255, 0);
static const QColor kRed(255, 0, 0);
static const QColor kYellow(255, 255, 0);
static const QColor kWhite(255, 255, 255);
static const QColor kSilver(192, 192, 192);

static std::string PathBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }
static QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

void TrimWorkingSet() { malloc_trim(0); }

QRegion RoundedRegion(QSize size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), 5, 5);
    return QRegion(path.toFillPolygon().toPolygon());
}

// A plain black panel with a margin for its children, optionally painting
// a bitmap at its top-left corner.
class Panel : public QWidget {
public:
    Panel(QWidget* parent, int margin, const QImage* background = nullptr)
        : QWidget(parent), margin(margin), background(background) {}
    int margin;
    bool fitted = false;
    QWidget* last = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), kBlack);
        if (background) painter.drawImage(QPoint(0, 0), *background);
    }

private:
    const QImage* background;
};

// A label that keeps its painted text: the title moves a pixel ten times a
// second, and laying out and drawing the text again each time was a fifth
// of what the window's thread spent while playing. Once painted, the label
// paints itself again into a transparent pixmap (by its own paintEvent, so
// it looks the same; a widget cannot render itself while it paints, hence
// the posted call), and from then on only draws the pixmap, until its text,
// size or look changes.
class CachedLabel : public QLabel {
public:
    CachedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        if (!rendering && CacheFits()) {
            QPainter painter(this);
            painter.drawPixmap(0, 0, cache);
            return;
        }
        QLabel::paintEvent(event);
        if (rendering || renderPosted) return;
        renderPosted = true;
        QTimer::singleShot(0, this, [this] {
            renderPosted = false;
            Render();
        });
    }
    void changeEvent(QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type == QEvent::FontChange || type == QEvent::PaletteChange || type == QEvent::EnabledChange ||
            type == QEvent::StyleChange)
            stale = true;
        QLabel::changeEvent(event);
    }

private:
    QSize Pixels() const {
        const qreal ratio = devicePixelRatioF();
        return {qCeil(width() * ratio), qCeil(height() * ratio)};
    }
    bool CacheFits() const { return !stale && !cache.isNull() && cache.size() == Pixels() && cachedText == text(); }
    void Render() {
        if (CacheFits() || width() <= 0 || height() <= 0) return;
        cache = QPixmap(Pixels());
        cache.setDevicePixelRatio(devicePixelRatioF());
        cache.fill(Qt::transparent);
        rendering = true;
        render(&cache, QPoint(), QRegion(), QWidget::RenderFlags());
        rendering = false;
        cachedText = text();
        stale = false;
    }

    QPixmap cache;
    QString cachedText;
    bool stale = true;
    bool rendering = false;
    bool renderPosted = false;
};

// The list view's cells are asked for when drawn; the model keeps only
// the row count.
class PlaylistModel : public QAbstractTableModel {
public:
    explicit PlaylistModel(MainWindow* window) : QAbstractTableModel(window), window(window) {}
    int rows = 0;
    // Rows appended or removed at the end, not a reset: a reset would clear
    // the selection, which marks the row being played.
    void SetRows(int count) {
        if (count > rows) {
            beginInsertRows(QModelIndex(), rows, count - 1);
            rows = count;
            endInsertRows();
        } else if (count < rows) {
            beginRemoveRows(QModelIndex(), count, rows - 1);
            rows = count;
            endRemoveRows();
        }
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : rows; }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid()) return {};
        return window->ProvideCell(index.row(), index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
        return section == 0 ? QStringLiteral("Title") : QStringLiteral("Location");
    }

private:
    MainWindow* window;
};

// The worker's display: every update runs on the window's thread and
// returns when done; updates of a worker that was terminated are dropped.
class WindowDisplay : public WorkerDisplay {
public:
    WindowDisplay(std::shared_ptr<MainThreadCall> bridge, MainWindow* window, std::shared_ptr<std::atomic<bool>> terminated,
                  std::shared_ptr<TagCache> tags)
        : bridge(std::move(bridge)), window(window), terminated(std::move(terminated)), tags(std::move(tags)) {}
    void SelectRow(int32_t row) override { Do([=, this] { window->SelectRow(row); }); }
    // The tags are read here, on the worker's thread.
    void ShowTrack(const std::string& path) override {
        const TrackTags read = tags->Get(path);
        Do([=, this] { window->StartTrack(path, read); });
    }
    void ShowTitleNote(const std::string& note) override {
        Do([=, this] { window->ShowTitleNote(QString::fromStdString(note)); });
    }
    void ShowTotal(const std::string& t) override { Do([=, this] { window->ShowTotal(QString::fromStdString(t)); }); }
    void ShowBitrate(const std::string& t) override { Do([=, this] { window->ShowBitrate(QString::fromStdString(t)); }); }
    void ShowElapsed(const std::string& t) override { Do([=, this] { window->ShowElapsed(QString::fromStdString(t)); }); }
    // Ten times a second: posted without waiting, so the worker is not
    // woken again when it has run (a later update waits for it in turn).
    void ScrollTitle() override {
        MainWindow* w = window;
        bridge->Post([w] { w->ScrollTitle(); }, terminated);
    }
    void ResetTitlePosition() override { Do([this] { window->ResetTitlePosition(); }); }
    void ShowStopped() override { Do([this] { window->ShowStopped(); }); }
    void ShowRunEnded() override { Do([this] { window->ShowRunEnded(); }); }
    void SetButtonEnabled(WorkerButton button, bool enabled) override {
        Do([=, this] { (button == WorkerButton::Prev ? window->prevButton : window->nextButton)->setEnabled(enabled); });
    }
    void RefreshButtons() override {
        Do([this] {
            for (QWidget* b : {static_cast<QWidget*>(window->playButton), static_cast<QWidget*>(window->prevButton),
                               static_cast<QWidget*>(window->nextButton), static_cast<QWidget*>(window->closeButton)})
                b->update();
        });
    }

private:
    void Do(std::function<void()> call) { bridge->Run(std::move(call), terminated); }
    std::shared_ptr<MainThreadCall> bridge;
    MainWindow* window;
    std::shared_ptr<std::atomic<bool>> terminated;
    std::shared_ptr<TagCache> tags;
};

// "Arial" 12 pixels to the em: a line of it is 14 pixels high (ascent 11,
// descent 3), the height the displays were drawn for. Debian desktops give
// Liberation Sans for it, with Arial's widths: "00.00" is 30 pixels wide,
// "000 kb/s" 46 and "Zumo mp3 player" 94.
static constexpr int kDisplayFontPixels = 12;
// The time displays are two pixels wider than their text, so that no
// rendering or scale puts a glyph's edge on their border.
static constexpr int kTimeLabelWidth = 32;
// Space kept between the bit rate and the scrolling title.
static constexpr int kBitrateGap = 6;

// The desktop's media controls act as the buttons and the tray menu do:
// through the command flags and the worker's event, never on the player.
class WindowMediaControls : public MediaControls {
public:
    explicit WindowMediaControls(MainWindow* window) : w(window) {}
    PlaybackStatus Status() override {
        if (!w->shared->flags.play || !w->WorkerRunning()) return PlaybackStatus::Stopped;
        return w->shared->flags.pause ? PlaybackStatus::Paused : PlaybackStatus::Playing;
    }
    bool Repeat() override { return w->shared->flags.repeat; }
    MediaTrack Track() override { return Status() == PlaybackStatus::Stopped ? MediaTrack() : w->currentTrack; }
    int64_t PositionSeconds() override { return Status() == PlaybackStatus::Stopped ? 0 : w->elapsedSeconds; }
    void PlayPause() override {
        if (Status() == PlaybackStatus::Stopped) Play();
        else Press(w->pauseButton, !w->pauseButton->Checked());
    }
    // With nothing playing, as a press on the play button: the file dialog
    // (opened once this call has been answered).
    void Play() override {
        if (Status() == PlaybackStatus::Paused) Press(w->pauseButton, false);
        if (Status() != PlaybackStatus::Stopped || w->playButton->Checked()) return;
        QTimer::singleShot(0, w, [w = w] {
            if (w->playButton->Checked()) return;
            w->playButton->SetChecked(true);
            w->OnButtonClick(w->playButton);
        });
    }
    void Pause() override {
        if (Status() == PlaybackStatus::Playing) Press(w->pauseButton, true);
    }
    // As a press on the play button while a list plays: stopped, the list emptied.
    void Stop() override {
        if (Status() != PlaybackStatus::Stopped) Press(w->playButton, false);
    }
    void Next() override {
        if (w->shared->playlist.Count() > 0) Press(w->nextButton, true);
    }
    void Previous() override {
        if (w->shared->playlist.Count() > 0) Press(w->prevButton, true);
    }
    void SetRepeat(bool on) override { Press(w->repeatButton, on); }
    void Raise() override {
        if (!w->isVisible()) w->OnMenuItem(ItemShow);
        w->raise();
        w->activateWindow();
    }
    void Quit() override { QMetaObject::invokeMethod(w, [w = w] { w->close(); }, Qt::QueuedConnection); }
    void Open(std::vector<std::string> paths) override { w->Intake(std::move(paths)); }

private:
    void Press(FixedButton* button, bool on) {
        button->SetChecked(on);
        w->SyncMenuMarks();
        w->shared->uiEvent.Set();
    }
    MainWindow* w;
};

// A time text ("03.07", "100.05") as seconds.
static int64_t SecondsOf(const QString& text) {
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot < 0) return 0;
    return text.left(dot).toLongLong() * 60 + text.mid(dot + 1).toLongLong();
}

static void SetLabelLook(QLabel* label, QColor colour) {
    QFont font("Arial");
    font.setPixelSize(kDisplayFontPixels);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAutoFillBackground(false);
    label->setMargin(0);
}

// The layout rules of the control table: a new control starts at the
// container's margin, or right of / below the previous control; fitting
// makes the container just hold the control (exactly the first time,
// only growing later).
static void RightOfPrevious(Panel* container, QWidget* control) {
    const int m = container->margin;
    if (container->last) control->move(container->last->geometry().right() + 1 + m, container->last->y());
    else control->move(m, m);
    container->last = control;
}

static void FitContainer(QWidget* container, int margin, bool& fitted, QWidget* control) {
    const int w = control->geometry().right() + 1 + margin;
    const int h = control->geometry().bottom() + 1 + margin;
    if (!fitted) container->resize(w, h);
    else container->resize(std::max(container->width(), w), std::max(container->height(), h));
    fitted = true;
}

static void Fit(Panel* container, QWidget* control) { FitContainer(container, container->margin, container->fitted, control); }

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
    tagCache = std::make_shared<TagCache>(post, [this] {
        if (model->rows > 0) emit model->dataChanged(model->index(0, 0), model->index(model->rows - 1, 0));
    });
    expander = std::make_unique<PathExpander>(post, [this](std::vector<std::string> files) { AddPaths(std::move(files)); });
    controls = std::make_unique<WindowMediaControls>(this);
    if (!services.moveRequest)
        services.moveRequest = [this] {
            if (windowHandle()) windowHandle()->startSystemMove();
        };
    if (!services.openDialog)
        services.openDialog = [this]() -> std::optional<QStringList> {
            // The desktop's own dialog where the session offers one.
            QStringList chosen;
            switch (PortalFileDialog::Run(this, chosen)) {
            case PortalFileDialog::Outcome::Chosen:
                return chosen;
            case PortalFileDialog::Outcome::Cancelled:
                return std::nullopt;
            case PortalFileDialog::Outcome::Unavailable:
                break;
            }
            // Qt's own, then. (Qt keeps its history in a settings file,
            // which main() sends nowhere.)
            QFileDialog dialog(this);
            dialog.setOption(QFileDialog::DontUseNativeDialog, true);
            dialog.setFileMode(QFileDialog::ExistingFiles);
            dialog.setNameFilter(QStringLiteral("mp3 files (*.mp3)"));
            dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
            if (dialog.exec() != QDialog::Accepted) return std::nullopt;
            return dialog.selectedFiles();
        };
    if (!services.openHelp) services.openHelp = [](const QString& path) { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
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
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, kWindowBlue);
    setPalette(palette);
    // The window paints its rounded shape itself and leaves the corners
    // transparent: on Wayland a window's mask only limits where it takes
    // input, and some X window managers (Weston's, for XWayland) ignore the
    // shape. Where the shape is honoured, the mask cuts the corners as well.
    setAttribute(Qt::WA_TranslucentBackground);
    maskIsInputOnly = QGuiApplication::platformName().startsWith(QLatin1String("wayland"));

    backgroundBitmap = QImage(245, 28, QImage::Format_RGB32);
    GradientFill(backgroundBitmap, kWindowBlue, kBlack, 1);
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

void MainWindow::BuildControls() {
    displayStrip = new Panel(this, 5, &backgroundBitmap);
    displayStrip->setGeometry(0, 0, 245, 28);

    infoPanel = new Panel(displayStrip, 2);
    infoPanel->setGeometry(5, 5, 245 - 10, 28 - 10);
    infoPanel->resize(infoPanel->width(), 28);
    bool stripFitted = false;
    FitContainer(displayStrip, 5, stripFitted, infoPanel);
    infoPanel->setMask(RoundedRegion(infoPanel->size()));

    elapsedLabel = new QLabel(QStringLiteral("00.00"), infoPanel);
    SetLabelLook(elapsedLabel, kGreen);
    elapsedLabel->resize(kTimeLabelWidth, 15);
    RightOfPrevious(infoPanel, elapsedLabel);
    totalLabel = new QLabel(QStringLiteral("00.00"), infoPanel);
    SetLabelLook(totalLabel, kRed);
    totalLabel->resize(kTimeLabelWidth, 15);
    RightOfPrevious(infoPanel, totalLabel);
    bitrateLabel = new QLabel(QStringLiteral("000 kb/s"), infoPanel);
    SetLabelLook(bitrateLabel, kYellow);
    bitrateLabel->setContentsMargins(0, 0, kBitrateGap, 0);
    RightOfPrevious(infoPanel, bitrateLabel);
    bitrateLabel->adjustSize();
    Fit(infoPanel, bitrateLabel);

    titleClip = new Panel(infoPanel, 2);
    titleClip->resize(100, displayStrip->height());
    RightOfPrevious(infoPanel, titleClip);
    Fit(infoPanel, titleClip);
    titleClip->margin = 0;
    titleClip->resize(titleClip->width(), displayStrip->height());
    Fit(infoPanel, titleClip);

    titleLabel = new CachedLabel(QString::fromUtf8(kIdleText), titleClip);
    SetLabelLook(titleLabel, kWhite);
    RightOfPrevious(titleClip, titleLabel);
    titleLabel->adjustSize();
    Fit(titleClip, titleLabel);
    currentTitle = titleLabel->text();
    currentTitleWidth = titleLabel->fontMetrics().horizontalAdvance(currentTitle);

    for (QWidget* surface : {static_cast<QWidget*>(infoPanel), static_cast<QWidget*>(elapsedLabel),
                             static_cast<QWidget*>(totalLabel), static_cast<QWidget*>(bitrateLabel),
                             static_cast<QWidget*>(titleClip), static_cast<QWidget*>(titleLabel)})
        surface->installEventFilter(this);

    buttonStrip = new Panel(this, 2, &backgroundBitmap);
    buttonStrip->setGeometry(0, displayStrip->geometry().bottom() + 1, 245, 28);
    bool windowFitted = false;
    FitContainer(this, 0, windowFitted, buttonStrip);

    buttonGlyphs = QImage(60, 20, QImage::Format_RGB32);
    GradientFill(buttonGlyphs, kWindowBlue, kBlack, 2);

    auto onClick = [this](FixedButton* b) { OnButtonClick(b); };
    CommandFlags& flags = shared->flags;
    pauseButton = new FixedButton(buttonStrip, &buttonGlyphs, ';', kSilver, &flags.pause, 200);
    pauseButton->setGeometry(5, 5, 30, 20);
    buttonStrip->last = pauseButton;
    pauseButton->SetClickAction(onClick);
    playButton = new FixedButton(buttonStrip, &buttonGlyphs, '4', kGreen, &flags.play, 200);
    playButton->resize(30, 20);
    RightOfPrevious(buttonStrip, playButton);
    playButton->SetClickAction(onClick);
    prevButton = new FixedButton(buttonStrip, &buttonGlyphs, '9', kSilver, &flags.prev, 200);
    prevButton->resize(30, 20);
    RightOfPrevious(buttonStrip, prevButton);
    Fit(buttonStrip, prevButton);
    nextButton = new FixedButton(buttonStrip, &buttonGlyphs, ':', kSilver, &flags.next, 200);
    nextButton->resize(30, 20);
    RightOfPrevious(buttonStrip, nextButton);
    Fit(buttonStrip, nextButton);
    repeatButton = new FixedButton(buttonStrip, &buttonGlyphs, 'q', kSilver, &flags.repeat, 200);
    repeatButton->resize(30, 20);
    RightOfPrevious(buttonStrip, repeatButton);
    Fit(buttonStrip, repeatButton);
    repeatButton->installEventFilter(this);
    listButton = new FixedButton(buttonStrip, &buttonGlyphs, '6', kSilver, &flags.list, 200);
    listButton->resize(30, 20);
    RightOfPrevious(buttonStrip, listButton);
    Fit(buttonStrip, listButton);
    listButton->SetClickAction(onClick);
    infoButton = new InfoButton(buttonStrip, &buttonGlyphs, 'i', kSilver);
    infoButton->resize(30, 20);
    RightOfPrevious(buttonStrip, infoButton);
    Fit(buttonStrip, infoButton);
    infoButton->SetClickAction([this](InfoButton* b) { OnButtonClick(b); });
    compactHeight = height();

    closeGlyphs = QImage(22, 22, QImage::Format_RGB32);
    GradientFill(closeGlyphs, kBlack, kRed, 2);
    closeButton = new FixedButton(buttonStrip, &closeGlyphs, ' ', kSilver, &flags.close, 0);
    closeButton->resize(10, 20);
    RightOfPrevious(buttonStrip, closeButton);
    Fit(buttonStrip, closeButton);
    closeButton->SetClickAction(onClick);

    playlistPanel = new Panel(this, 2);
    playlistPanel->setGeometry(0, buttonStrip->geometry().bottom() + 1, width() - 5, 200);
    model = new PlaylistModel(this);
    playlistView = new QTreeView(playlistPanel);
    playlistView->setModel(model);
    playlistView->setRootIsDecorated(false);
    playlistView->setUniformRowHeights(true);
    playlistView->setItemsExpandable(false);
    playlistView->setSelectionBehavior(QAbstractItemView::SelectRows);
    playlistView->setSelectionMode(QAbstractItemView::SingleSelection);
    playlistView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    playlistView->header()->setStretchLastSection(false);
    playlistView->header()->setSectionsMovable(false);
    playlistView->setColumnWidth(0, 150);
    playlistView->setColumnWidth(1, 150);
    QPalette listPalette = playlistView->palette();
    listPalette.setColor(QPalette::Base, kBlack);
    listPalette.setColor(QPalette::AlternateBase, kBlack);
    listPalette.setColor(QPalette::Text, kYellow);
    playlistView->setPalette(listPalette);
    const int m = playlistPanel->margin;
    playlistView->setGeometry(m, m, playlistPanel->width() - 2 * m, playlistPanel->height() - 2 * m);
    playlistView->viewport()->installEventFilter(this);

    setFixedSize(size());
}

void MainWindow::BuildTray() {
    trayMenu = new QMenu(this);
    const char* texts[10] = {"Zumo mp3", "Show", "Always on top", "-", "Next", "Previous", "Repeat All", "Pause", "-", "Exit"};
    for (int i = 0; i < 10; ++i) {
        if (texts[i][0] == '-') {
            menuItems[i] = trayMenu->addSeparator();
            continue;
        }
        QAction* item = trayMenu->addAction(QString::fromUtf8(texts[i]));
        if (i == ItemShow || i == ItemOnTop || i == ItemRepeat || i == ItemPause) {
            item->setCheckable(true);
            item->setChecked(i == ItemShow || i == ItemOnTop);
        }
        QObject::connect(item, &QAction::triggered, this, [this, i] { OnMenuItem(i); });
        menuItems[i] = item;
    }
    QObject::connect(trayMenu, &QMenu::aboutToShow, this, [this] { SyncMenuMarks(); });

    trayIcon = new QSystemTrayIcon(windowIcon(), this);
    trayTip = QString::fromUtf8(kIdleText);
    trayIcon->setToolTip(trayTip);
    trayIcon->setContextMenu(trayMenu);
    QObject::connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger) OnTrayMouse(TrayMouse::LeftUp);
        // A double click comes as a click and then this: together they
        // make the press, double click, release of a net single toggle.
        if (reason == QSystemTrayIcon::DoubleClick) {
            OnTrayMouse(TrayMouse::LeftDouble);
            OnTrayMouse(TrayMouse::LeftUp);
        }
    });
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) return;
    if (QSystemTrayIcon::isSystemTrayAvailable()) trayIcon->show();
    // A tray host that appears later (or again, after a restart) gets the icon with its current tip.
    auto* watch = new QTimer(this);
    QObject::connect(watch, &QTimer::timeout, this, [this] {
        if (!closing && !trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable()) trayIcon->show();
    });
    watch->start(3000);
}

void MainWindow::Reshape() {
    const QRegion shape = RoundedRegion(size());
    setMask(shape);
    // The strips reach into the corners: each is cut to the window's shape.
    for (QWidget* strip : {static_cast<QWidget*>(displayStrip), static_cast<QWidget*>(buttonStrip),
                           static_cast<QWidget*>(playlistPanel)})
        strip->setMask(shape.translated(-strip->pos()).intersected(strip->rect()));
    update();
}

void MainWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setClipRegion(RoundedRegion(size()));
    painter.fillRect(rect(), kWindowBlue);
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
    case QEvent::MouseButtonDblClick:
        return true; // swallowed: a double click on the window does nothing
    case QEvent::MouseButtonRelease:
        if (QWidget::mouseGrabber() == this) releaseMouse();
        return true;
    default:
        return false;
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
        setMask(RoundedRegion(size()).intersected(QRegion(left, top, std::max(0, right - left), std::max(0, bottom - top))));
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
    if (atOnce) AddPaths(std::move(paths));
    else expander->Add(std::move(paths));
}

bool MainWindow::WorkerRunning() const { return worker && !worker->Finished() && !worker->Terminated(); }

std::shared_ptr<PlaylistWorker> MainWindow::NewWorker() {
    auto terminated = std::make_shared<std::atomic<bool>>(false);
    auto display = std::make_shared<WindowDisplay>(bridge, this, terminated, tagCache);
    return PlaylistWorker::Create(shared, display, services.playerFactory, terminated, &TrimWorkingSet, services.timing);
}

void MainWindow::AddFiles(const std::string& files) { AddPaths(SplitPaths(files)); }

void MainWindow::AddPaths(std::vector<std::string> parts) {
    bool needWorker = false;
    size_t count = 0;
    {
        Playlist& list = shared->playlist;
        std::lock_guard<std::mutex> guard(list.lock);
        needWorker = !WorkerRunning();
        list.entries.insert(list.entries.end(), parts.begin(), parts.end());
        for (size_t i = list.entries.size(); i-- > 0;)
            if (!HasMp3Extension(list.entries[i])) list.entries.erase(list.entries.begin() + static_cast<std::ptrdiff_t>(i));
        count = list.entries.size();
    }
    if (needWorker) {
        if (worker) worker->Terminate(); // a finished one: its last updates are dropped
        worker = NewWorker();
    }
    SetRowCount(static_cast<int>(count));
    if (model->rows > 0) playButton->SetChecked(true);
    worker->Start();
}

void MainWindow::RunOpenDialog() {
    std::optional<QStringList> chosen = services.openDialog();
    if (chosen) {
        expander->CancelAll(); // what was still being looked through would join the new list
        if (worker) worker->Terminate();
        worker = NewWorker();
        std::vector<std::string> paths;
        for (const QString& path : *chosen) paths.push_back(PathBytes(path));
        SetRowCount(static_cast<int>(shared->playlist.Replace(paths)));
    } else {
        playButton->SetChecked(false);
    }
    if (worker) worker->Start();
}

QString MainWindow::ProvideCell(int row, int column) {
    if (column >= 2 || row < 0 || row >= model->rows) return {};
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
    if (row < 0 || row >= model->rows) return;
    const QModelIndex index = model->index(row, 0);
    playlistView->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    playlistView->scrollTo(index, QAbstractItemView::EnsureVisible);
}

void MainWindow::StartTrack(const std::string& path, const TrackTags& tags) {
    currentTrack = MediaTrack{currentTrack.number + 1, path, tags.title.empty() ? TitleOf(path) : tags.title,
                              tags.artist, tags.album, 0};
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

void MainWindow::SetTrayTip(const QString& tip) {
    const QString text = tip.left(63);
    if (text == trayTip) return;
    trayTip = text;
    trayIcon->setToolTip(text);
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
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
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
        services.showAbout(windowTitle(),
                           QStringLiteral("Zumo mp3 player\nA small player of MPEG audio files, with a decoder of its own. Version " ZUMO_VERSION "."));
}

void MainWindow::SyncMenuMarks() {
    menuItems[ItemRepeat]->setChecked(shared->flags.repeat.load());
    menuItems[ItemPause]->setChecked(shared->flags.pause.load());
}

void MainWindow::OnTrayMouse(TrayMouse message) {
    switch (message) {
    case TrayMouse::LeftUp:
    case TrayMouse::LeftDouble:
        setVisible(!isVisible());
        menuItems[ItemShow]->setChecked(!menuItems[ItemShow]->isChecked());
        break;
    case TrayMouse::RightUp:
        trayMenu->popup(QCursor::pos());
        break;
    case TrayMouse::Other:
        break;
    }
}

void MainWindow::OnMenuItem(int index) {
    const bool listEmpty = shared->playlist.Count() == 0;
    switch (index) {
    case ItemAbout:
        OnButtonClick(infoButton);
        break;
    case ItemShow:
        // The item's own mark decides (the action may have flipped it already).
        if (isVisible()) {
            hide();
            menuItems[ItemShow]->setChecked(false);
        } else {
            show();
            raise();
            activateWindow();
            menuItems[ItemShow]->setChecked(true);
        }
        break;
    case ItemOnTop: {
        const bool onTop = windowFlags() & Qt::WindowStaysOnTopHint;
        const bool wasVisible = isVisible();
        setWindowFlag(Qt::WindowStaysOnTopHint, !onTop);
        if (wasVisible) {
            quietShow = true;
            setAttribute(Qt::WA_ShowWithoutActivating, true);
            show();
            setAttribute(Qt::WA_ShowWithoutActivating, false);
        }
        menuItems[ItemOnTop]->setChecked(!onTop);
        break;
    }
    case ItemNext:
        if (!listEmpty) nextButton->SetChecked(true);
        break;
    case ItemPrev:
        if (!listEmpty) prevButton->SetChecked(true);
        break;
    case ItemRepeat:
        // The mark shows the flag; choosing the item inverts what it shows.
        if (!listEmpty) repeatButton->SetChecked(!repeatButton->Checked());
        SyncMenuMarks();
        break;
    case ItemPause:
        pauseButton->SetChecked(!pauseButton->Checked());
        SyncMenuMarks();
        break;
    case ItemExit:
        QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection);
        break;
    default:
        break;
    }
    Refresh();
}

} // namespace zumo
