#include "app/MainThreadCall.h"
#include "app/Formats.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QtMath>
#include <QTest>
#include <QThread>
#include <QTreeView>
#include <QUrl>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

using namespace zumo;

static void EnsureApp() {
    static int argc = 1;
    static char name[] = "test_app";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!QApplication::instance()) new QApplication(argc, argv);
}

TEST(Window, GeometryAndInitialTexts) {
    EnsureApp();
    MainWindow w;
    EXPECT_EQ(w.size(), QSize(245, 66));
    EXPECT_EQ(w.compactHeight, 66);
    int x = 5;
    for (QWidget* b : std::initializer_list<QWidget*>{w.pauseButton, w.playButton, w.prevButton, w.nextButton,
                                                      w.repeatButton, w.listButton, w.infoButton, w.closeButton}) {
        EXPECT_EQ(b->pos(), QPoint(x, 5));
        x += 32;
    }
    EXPECT_EQ(static_cast<QWidget*>(static_cast<void*>(w.buttonStrip))->size(), QSize(241, 27));
    EXPECT_EQ(static_cast<QWidget*>(static_cast<void*>(w.playlistPanel))->y(), 65);
    EXPECT_EQ(w.elapsedLabel->text(), "00.00");
    EXPECT_EQ(w.totalLabel->text(), "00.00");
    EXPECT_EQ(w.bitrateLabel->text(), "000 kb/s");
    EXPECT_EQ(w.titleLabel->text(), "Zumo mp3 player");
    EXPECT_EQ(w.windowTitle(), "Zumo mp3 player");
    EXPECT_EQ(w.TrayTip(), "Zumo mp3 player");
}

// The title keeps its painted text between scroll steps. What it shows must
// be what a plain label with its text, font and colours shows, on the first
// paint and from the kept picture, and a new title must replace the old
// (also one of the same width: digits are all as wide).
TEST(Window, TitleShowsWhatAPlainLabelShowsAfterEveryChange) {
    EnsureApp();
    MainWindow w;
    auto picture = [](QWidget& widget) {
        QImage image(widget.size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        widget.render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
        return image;
    };
    for (const char* title : {"Track 1", "Track 2", "A longer title"}) {
        SCOPED_TRACE(title);
        w.ShowTrack(QString::fromUtf8(title));
        QLabel plain(QString::fromUtf8(title));
        plain.setFont(w.titleLabel->font());
        plain.setPalette(w.titleLabel->palette());
        plain.setMargin(0);
        plain.resize(w.titleLabel->size());
        const QImage expected = picture(plain);
        for (int step = 0; step < 3; ++step) {
            w.ScrollTitle();
            EXPECT_TRUE(picture(*w.titleLabel) == expected) << "paint " << step;
            QCoreApplication::processEvents();
        }
    }
}

// Presses come through the window, as from the window system, so that the
// application knows the button is down.
TEST(Window, FixedButtonActsOncePerClickAndRepeatsOnlyWhileHeld) {
    EnsureApp();
    MainWindow w;
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    int clicks = 0;
    w.nextButton->SetClickAction([&](FixedButton*) { ++clicks; });
    const QPoint at = w.nextButton->mapTo(&w, w.nextButton->rect().center());
    QTest::mousePress(w.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(w.shared->flags.next);
    EXPECT_EQ(clicks, 0);
    QTest::qWait(300); // a slow click
    QTest::mouseRelease(w.windowHandle(), Qt::LeftButton, {}, at);
    EXPECT_TRUE(w.shared->flags.next);
    EXPECT_EQ(clicks, 1);

    w.nextButton->SetChecked(false);
    clicks = 0;
    QTest::mousePress(w.windowHandle(), Qt::LeftButton, {}, at);
    QTest::qWait(FixedButton::kFirstRepeatMs + 450);
    QTest::mouseRelease(w.windowHandle(), Qt::LeftButton, {}, at);
    const int held = clicks;
    EXPECT_GE(held, 2); // repeated while held, then the release
    QTest::qWait(500);
    EXPECT_EQ(clicks, held); // and nothing after it
    w.repeatButton->setFocus();
    QTest::keyClick(w.repeatButton, Qt::Key_Space);
    EXPECT_TRUE(w.shared->flags.repeat);
    w.repeatButton->SetChecked(false);
    EXPECT_FALSE(w.shared->flags.repeat);
}

TEST(Window, SpaceAfterAClickPressesTheSameButton) {
    EnsureApp();
    int helps = 0;
    WindowServices services;
    services.helpDir = "/nonexistent-dir";
    services.showAbout = [&](const QString&, const QString&) { ++helps; };
    MainWindow w(services);
    w.show();
    QApplication::setActiveWindow(&w);
    w.listButton->setFocus();
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    EXPECT_EQ(w.height(), 271);
    EXPECT_TRUE(w.listButton->hasFocus()); // not handed on to the info button while disabled
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_EQ(w.height(), 66);
    EXPECT_EQ(helps, 0);
}

// Every text a display can show, drawn with the display's font at the
// scales 1, 1.5 and 2, has all its ink inside what is seen of the display:
// its label, and every panel around it with that panel's rounded mask.
TEST(Window, DisplaysShowEveryTextWhole) {
    EnsureApp();
    MainWindow w;
    auto seenOf = [&](QWidget* label) {
        QRegion seen(label->rect().translated(label->mapTo(&w, QPoint())));
        for (QWidget* p = label; p && p != &w; p = p->parentWidget()) {
            const QRegion own = p->mask().isEmpty() ? QRegion(p->rect()) : p->mask();
            seen &= own.translated(p->mapTo(&w, QPoint()));
        }
        return seen;
    };
    // The ink of `text` as the label draws it, in window pixels (scaled
    // pixels rounded outwards).
    auto inkOf = [&](QLabel* label, const QString& text, qreal scale) {
        const QRect area = label->contentsRect();
        const int wide = area.width() * 3;
        QImage image(qCeil((area.left() + wide) * scale), qCeil(label->height() * scale), QImage::Format_RGB32);
        image.setDevicePixelRatio(scale);
        image.fill(Qt::black);
        QPainter painter(&image);
        painter.setFont(label->font());
        painter.setPen(Qt::white);
        painter.drawText(QRectF(area.left(), area.top(), wide, area.height()), int(label->alignment()), text);
        painter.end();
        int left = image.width(), right = -1, top = image.height(), bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) > 0) {
                    left = std::min(left, x), right = std::max(right, x);
                    top = std::min(top, y), bottom = std::max(bottom, y);
                }
        if (right < 0) return QRect();
        const QRect logical(QPoint(qFloor(left / scale), qFloor(top / scale)),
                            QPoint(qCeil((right + 1) / scale) - 1, qCeil((bottom + 1) / scale) - 1));
        return logical.translated(label->mapTo(&w, QPoint()));
    };
    auto expectWhole = [&](QLabel* label, const QString& text) {
        const QRegion seen = seenOf(label);
        for (qreal scale : {1.0, 1.5, 2.0}) {
            const QRect ink = inkOf(label, text, scale);
            ASSERT_FALSE(ink.isEmpty()) << text.toStdString();
            EXPECT_TRUE((QRegion(ink) - seen).isEmpty())
                << '"' << text.toStdString() << "\" at scale " << scale << ": ink " << ink.x() << ".." << ink.right()
                << " of a display showing " << seen.boundingRect().x() << ".." << seen.boundingRect().right();
            if (HasFailure()) return;
        }
    };
    for (int minutes = 0; minutes < 100 && !HasFailure(); ++minutes)
        for (int seconds = 0; seconds < 60 && !HasFailure(); ++seconds) {
            const QString text = QString::fromStdString(TimeText(minutes * 60 + seconds));
            w.ShowElapsed(text);
            expectWhole(w.elapsedLabel, text);
            w.ShowTotal(text);
            expectWhole(w.totalLabel, text);
        }
    for (int kbps = 0; kbps <= 448 && !HasFailure(); ++kbps) {
        const QString text = QString::fromStdString(BitrateText(kbps * 1000));
        w.ShowBitrate(text);
        expectWhole(w.bitrateLabel, text);
    }
    w.ShowStopped();
    expectWhole(w.titleLabel, QStringLiteral("Zumo mp3 player"));
    EXPECT_EQ(w.size(), QSize(245, 66));
}

TEST(Window, ExpandingTheListKeepsTheWindowOnItsScreen) {
    EnsureApp();
    MainWindow w;
    w.show();
    const QRect area = w.screen()->availableGeometry();
    const QPoint low(area.x() + 50, area.bottom() - 100);
    w.move(low);
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    EXPECT_EQ(w.height(), 271);
    EXPECT_LE(w.frameGeometry().bottom(), area.bottom());
    EXPECT_EQ(w.x(), low.x());
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    EXPECT_EQ(w.pos(), low); // back where it was
}

TEST(Window, DragOnlyWithThePlainLeftButton) {
    EnsureApp();
    int moves = 0;
    WindowServices services;
    services.moveRequest = [&] { ++moves; };
    MainWindow w(services);
    w.show();
    QTest::mousePress(w.elapsedLabel, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(moves, 0);
    QTest::mouseRelease(w.elapsedLabel, Qt::LeftButton, Qt::ControlModifier);
    QTest::mousePress(w.titleLabel, Qt::LeftButton);
    EXPECT_EQ(moves, 1);
}

namespace {
// A track that plays until it is stopped.
struct EndlessPlayer : TrackPlayer {
    std::atomic<bool> playing{false};
    void Open(const std::string&) override {}
    bool AttachOutput() override { return true; }
    int64_t TotalSeconds() override { return 0; }
    int32_t Bitrate() override { return 0; }
    void Play() override { playing = true; }
    void Pause() override {}
    void Resume() override {}
    void Stop() override { playing = false; }
    uint32_t ElapsedSeconds() override { return 0; }
    bool Playing() override { return playing; }
};
} // namespace

// The command line's file name is taken byte for byte: quotes, backslashes
// and bytes that are not UTF-8 are part of the name.
TEST(Window, DropKeepsMp3AndCommandLineIsTakenOnce) {
    EnsureApp();
    const std::string odd = "/nowhere/it's a \"quoted\" \\ \xE9t\xE9 song.Mp3";
    WindowServices services;
    services.commandLineArgs = {odd};
    services.playerFactory = [] { return std::unique_ptr<TrackPlayer>(new EndlessPlayer()); };
    MainWindow w(services);
    w.show();
    w.hide();
    w.show();
    EXPECT_EQ(w.shared->playlist.Count(), 1u); // not queued again at the second show
    // The playing row stays marked when files are dropped.
    for (int i = 0; i < 200 && !w.playlistView->selectionModel()->isRowSelected(0, {}); ++i) QTest::qWait(5);
    ASSERT_TRUE(w.playlistView->selectionModel()->isRowSelected(0, {}));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile("/x/a.MP3"), QUrl::fromLocalFile("/x/b.wav"), QUrl::fromLocalFile("/x/c.mp3")});
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QApplication::sendEvent(&w, &drop); // appended while the first entry plays
    for (int i = 0; i < 200 && w.shared->playlist.Count() < 3; ++i) QTest::qWait(5);
    std::vector<std::string> seen;
    {
        std::lock_guard<std::mutex> g(w.shared->playlist.lock);
        seen = w.shared->playlist.entries;
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], odd);
    EXPECT_TRUE(w.playlistView->selectionModel()->isRowSelected(0, {}));
    EXPECT_EQ(seen[1], "/x/a.MP3");
    EXPECT_EQ(seen[2], "/x/c.mp3");
    EXPECT_TRUE(w.playButton->Checked());
    EXPECT_EQ(w.ProvideCell(2, 0), "c");
    EXPECT_EQ(w.ProvideCell(2, 1), "/x/");
    EXPECT_EQ(w.ProvideCell(2, 2), "");
}

// A double click on a row comes as press, release, double click, release:
// the row plays once, and the row after it follows.
TEST(Window, DoubleClickOnARowIsOneJump) {
    EnsureApp();
    struct Opened : EndlessPlayer {
        std::vector<std::string>* paths;
        std::mutex* lock;
        void Open(const std::string& path) override {
            std::lock_guard<std::mutex> g(*lock);
            paths->push_back(path);
        }
    };
    std::vector<std::string> opened;
    std::mutex lock;
    auto played = [&] {
        std::lock_guard<std::mutex> g(lock);
        return opened;
    };
    WindowServices services;
    services.playerFactory = [&] {
        auto* player = new Opened();
        player->paths = &opened;
        player->lock = &lock;
        return std::unique_ptr<TrackPlayer>(player);
    };
    services.timing = WorkerTiming{std::chrono::milliseconds(10), std::chrono::milliseconds(5)};
    MainWindow w(services);
    w.show();
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    w.AddFiles({"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"});
    for (int i = 0; i < 200 && played().size() < 1; ++i) QTest::qWait(5);
    QWidget* rows = w.playlistView->viewport();
    const QPoint at = w.playlistView->visualRect(w.playlistView->model()->index(1, 0)).center();
    QTest::mousePress(rows, Qt::LeftButton, {}, at);
    QTest::mouseRelease(rows, Qt::LeftButton, {}, at);
    QTest::qWait(80); // a person's double click: the worker has taken the first click
    QMouseEvent twice(QEvent::MouseButtonDblClick, at, rows->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(rows, &twice);
    QTest::mouseRelease(rows, Qt::LeftButton, {}, at);
    QTest::qWait(80);
    {
        std::lock_guard<std::mutex> g(w.shared->playerLock);
        w.shared->player->Stop(); // the track ends
    }
    for (int i = 0; i < 200 && played().size() < 3; ++i) QTest::qWait(5);
    EXPECT_EQ(played(), (std::vector<std::string>{"/m/a.mp3", "/m/b.mp3", "/m/c.mp3"}));
}

// A folder and a playlist dropped are looked through off the window's
// thread; a file dropped meanwhile must still queue after their files.
TEST(Window, DroppedFoldersAndPlaylistsQueueInOrder) {
    EnsureApp();
    char name[] = "/tmp/zumo-drop-XXXXXX";
    const std::string dir = mkdtemp(name);
    const std::filesystem::path root(dir);
    std::filesystem::create_directories(root / "Album" / ".covers");
    for (const char* file : {"Album/track 10.mp3", "Album/track 9.mp3", "Album/.covers/x.mp3", "b.mp3"})
        std::ofstream(root / file) << "x";
    std::ofstream(root / "list.m3u") << "#EXTM3U\nb.mp3\nhttps://example.org/a.mp3\nAlbum/track 10.mp3\n";
    WindowServices services;
    services.playerFactory = [] { return std::unique_ptr<TrackPlayer>(new EndlessPlayer()); };
    MainWindow w(services);
    w.show();
    auto drop = [&](const std::vector<std::string>& names) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const std::string& n : names) urls << QUrl::fromLocalFile(QString::fromStdString(dir + "/" + n));
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&w, &enter);
        QApplication::sendEvent(&w, &event);
    };
    drop({"Album", "list.m3u"});
    drop({"c.mp3"});
    for (int i = 0; i < 400 && w.shared->playlist.Count() < 5; ++i) QTest::qWait(5);
    std::vector<std::string> seen;
    {
        std::lock_guard<std::mutex> g(w.shared->playlist.lock);
        seen = w.shared->playlist.entries;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{dir + "/Album/track 9.mp3", dir + "/Album/track 10.mp3", dir + "/b.mp3",
                                              dir + "/Album/track 10.mp3", dir + "/c.mp3"}));
    EXPECT_TRUE(w.playButton->Checked());
    std::filesystem::remove_all(root);
}

TEST(Window, MenuMarksFollowTheFlags) {
    EnsureApp();
    MainWindow w;
    QTest::mouseClick(w.pauseButton, Qt::LeftButton);
    w.SyncMenuMarks();
    EXPECT_TRUE(w.menuItems[ItemPause]->isChecked());
    w.OnMenuItem(ItemPause); // resumes: the item inverts what it shows
    EXPECT_FALSE(w.shared->flags.pause);
    EXPECT_FALSE(w.menuItems[ItemPause]->isChecked());
    w.OnMenuItem(ItemRepeat); // empty list: nothing
    EXPECT_FALSE(w.shared->flags.repeat);
    w.OnMenuItem(ItemNext);
    EXPECT_FALSE(w.shared->flags.next);
}

TEST(Window, ListExpandsAndHelpOrAbout) {
    EnsureApp();
    QString opened, aboutTitle;
    WindowServices services;
    services.helpDir = "/nonexistent-dir";
    services.openHelp = [&](const QString& p) { opened = p; };
    services.showAbout = [&](const QString& t, const QString&) { aboutTitle = t; };
    MainWindow w(services);
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    EXPECT_EQ(w.height(), 271);
    QTest::mouseClick(w.listButton, Qt::LeftButton);
    EXPECT_EQ(w.height(), 66);
    QTest::mouseClick(w.infoButton, Qt::LeftButton);
    EXPECT_EQ(aboutTitle, "Zumo mp3 player");
    EXPECT_TRUE(opened.isEmpty());
}

TEST(Window, PlayOpensTheDialogAndCancelClearsTheFlag) {
    EnsureApp();
    int asked = 0;
    std::optional<std::vector<std::string>> answer;
    WindowServices services;
    services.openDialog = [&] {
        ++asked;
        return answer;
    };
    services.playerFactory = [] { return std::unique_ptr<TrackPlayer>(new EndlessPlayer()); };
    MainWindow w(services);
    QTest::mouseClick(w.playButton, Qt::LeftButton); // nothing plays: the dialog
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(w.playButton->Checked()); // cancelled
    answer = std::vector<std::string>{"/m/x.mp3", "/m/y.mp3"};
    QTest::mouseClick(w.playButton, Qt::LeftButton);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(w.playButton->Checked());
    EXPECT_EQ(w.shared->playlist.Count(), 2u);
    EXPECT_EQ(w.ProvideCell(1, 0), "y");
    auto first = w.worker;
    QTest::mouseClick(w.playButton, Qt::LeftButton); // while playing: stops and empties
    EXPECT_EQ(asked, 2);
    for (int i = 0; i < 100 && w.shared->playlist.Count() > 0; ++i) QTest::qWait(10);
    EXPECT_EQ(w.shared->playlist.Count(), 0u);
    for (int i = 0; i < 100 && !first->Finished(); ++i) QTest::qWait(10);
    EXPECT_TRUE(first->Finished());
    EXPECT_EQ(w.titleLabel->text(), "Zumo mp3 player");
}

TEST(Window, CloseEndsTheWorkerAndStopsThePlayer) {
    EnsureApp();
    WindowServices services;
    services.playerFactory = [] { return std::unique_ptr<TrackPlayer>(new EndlessPlayer()); };
    auto* w = new MainWindow(services);
    w->show();
    w->AddFiles({"/m/a.mp3"});
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard<std::mutex> g(w->shared->playerLock);
            if (w->shared->player && w->shared->player->Playing()) break;
        }
        QTest::qWait(10);
    }
    auto worker = w->worker;
    auto shared = w->shared;
    QTest::mouseClick(w->closeButton, Qt::LeftButton);
    QTest::qWait(50);
    EXPECT_TRUE(worker->Terminated());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(shared->flags.play);
    {
        std::lock_guard<std::mutex> g(shared->playerLock);
        ASSERT_TRUE(shared->player);
        EXPECT_FALSE(shared->player->Playing());
    }
    delete w;
    EXPECT_TRUE(worker->WaitUntilDone(std::chrono::milliseconds(1000)));
}

TEST(Window, TrayMenuItemsAndTrayClicks) {
    EnsureApp();
    MainWindow w;
    w.show();
    const char* texts[] = {"Zumo mp3", "Show",       "Always on top", "", "Next",
                           "Previous", "Repeat All", "Pause",         "", "Exit"};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(w.menuItems[i]->text(), QString::fromUtf8(texts[i])) << i;
    EXPECT_TRUE(w.menuItems[ItemSep1]->isSeparator());
    EXPECT_TRUE(w.menuItems[ItemShow]->isChecked());
    EXPECT_TRUE(w.menuItems[ItemOnTop]->isChecked());
    EXPECT_FALSE(w.menuItems[ItemRepeat]->isChecked());
    w.OnTrayMouse(TrayMouse::LeftUp);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.menuItems[ItemShow]->isChecked());
    w.OnMenuItem(ItemShow);
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.menuItems[ItemShow]->isChecked());
    w.AddFiles({"/m/a.wav"}); // filtered out: the list stays empty
    EXPECT_FALSE(w.playButton->Checked());
    w.SetTrayTip(QString(80, 'x'));
    EXPECT_EQ(w.TrayTip().size(), 63);
}

namespace {

// An object on the test's thread that takes calls, as the window does.
class CallTarget : public QObject {
public:
    bool event(QEvent* e) override { return MainThreadCall::Deliver(e) || QObject::event(e); }
};

} // namespace

// The worker posts the title's scroll steps without waiting; they must
// still run on the target's thread, in order with the calls it waits for,
// and be dropped once the worker was terminated or the target is gone.
TEST(Window, PostedCallsKeepTheirOrderAndTheirDropRules) {
    EnsureApp();
    CallTarget target;
    MainThreadCall bridge(&target);
    auto live = std::make_shared<std::atomic<bool>>(false);
    auto terminated = std::make_shared<std::atomic<bool>>(true);
    std::vector<int> ran;
    std::vector<bool> onTargetThread;
    auto record = [&](int n) {
        return [&, n] {
            ran.push_back(n);
            onTargetThread.push_back(QThread::currentThread() == target.thread());
        };
    };
    std::atomic<bool> done{false};
    std::thread worker([&] {
        EXPECT_TRUE(bridge.Post(record(1), live));
        EXPECT_TRUE(bridge.Post(record(99), terminated)); // a terminated worker's update
        EXPECT_TRUE(bridge.Run(record(2), live));         // waits: 1 has run by then
        EXPECT_TRUE(bridge.Post(record(3), live));
        done = true;
    });
    while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(onTargetThread, (std::vector<bool>{true, true, true}));
    bridge.Detach();
    EXPECT_FALSE(bridge.Post(record(4), live));
    QCoreApplication::processEvents();
    EXPECT_EQ(ran.size(), 3u);
}
