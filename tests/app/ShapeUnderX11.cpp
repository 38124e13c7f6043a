// Shows the real window on an X server and reads the screen back: the
// window has its size and the corners outside its rounded shape are not drawn.
#include "app/MainWindow.h"

#include <QApplication>
#include <QScreen>
#include <QTest>

#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zumo::WindowServices services;
    services.animate = false;
    zumo::MainWindow window(services);
    window.show();
    QTest::qWait(800);
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QRect g = window.geometry();
    int faults = 0;
    auto check = [&](bool ok, const char* what) {
        if (!ok) {
            std::printf("FAIL: %s\n", what);
            ++faults;
        }
    };
    check(g.size() == QSize(245, 66), "window size 245 x 66");
    const QColor root(0, 0, 0); // the server's black root window
    auto at = [&](int x, int y) { return QColor(shot.pixel(g.x() + x, g.y() + y)); };
    check(at(0, 0) == root && at(244, 0) == root && at(0, 65) == root && at(244, 65) == root,
          "corners outside the rounded rectangle are not drawn");
    check(at(6, 0) != root || at(0, 6) != root, "the edge next to a corner is drawn");
    check(at(120, 2) != root, "the gradient strip is drawn");
    std::printf("%s\n", faults ? "shape check failed" : "shape check passed");
    return faults ? 1 : 0;
}
