#include "app/MainWindow.h"
#include "app/MpegTrackPlayer.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);
    zumo::WindowServices services;
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) services.commandLineArg = args.at(1);
    services.playerFactory = zumo::MpegPlayerFactory();
    auto* window = new zumo::MainWindow(std::move(services));
    window->show();
    const int status = app.exec();
    delete window;
    return status;
}
