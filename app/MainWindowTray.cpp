// MainWindow's tray icon and its menu.
#include "app/MainWindow.h"

#include "app/Formats.h"

#include <QCursor>
#include <QGuiApplication>
#include <QTimer>

namespace zumo {

void MainWindow::BuildTray() {
    trayMenu = new QMenu(this);
    const char* texts[10] = {"Zumo mp3", "Show",       "Always on top", "-", "Next",
                             "Previous", "Repeat All", "Pause",         "-", "Exit"};
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

void MainWindow::SetTrayTip(const QString& tip) {
    const QString text = tip.left(63);
    if (text == trayTip) return;
    trayTip = text;
    trayIcon->setToolTip(text);
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
    case TrayMouse::RightUp: trayMenu->popup(QCursor::pos()); break;
    case TrayMouse::Other: break;
    }
}

void MainWindow::OnMenuItem(int index) {
    const bool listEmpty = shared->playlist.Count() == 0;
    switch (index) {
    case ItemAbout: OnButtonClick(infoButton); break;
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
        QMetaObject::invokeMethod(
            this, [this] { close(); }, Qt::QueuedConnection);
        break;
    default: break;
    }
    Refresh();
}

} // namespace zumo
