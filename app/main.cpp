#include "app/MainWindow.h"
#include "app/MpegTrackPlayer.h"
#include "app/MprisService.h"
#include "app/SingleInstance.h"
#include "output/SoundStreamNames.h"

#include <QApplication>
#include <QFileInfo>
#include <QSettings>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

const char* kUsage =
    "usage: zumo-player [FILE.mp3 | FOLDER | PLAYLIST]...\n"
    "       zumo-player --help | --version\n"
    "  Opens the small always-on-top player window and plays the files given:\n"
    "  .mp3 files, every .mp3 file below a folder, the entries of .m3u, .m3u8\n"
    "  and .pls playlists. While a player runs in the session, a start hands\n"
    "  its files to that player (or, without files, shows its window).\n";

// Where X is reachable the window runs on it, also in a Wayland session
// (through XWayland): only there can it keep itself above the other windows
// and place itself. Without X it is a Wayland client. A platform the user
// chose stands. False when there is no display at all.
bool ChooseWindowSystem() {
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) return true;
    if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
        return true;
    }
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        (!runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/wayland-0")))) {
        qputenv("QT_QPA_PLATFORM", "wayland");
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before any window system is touched, so they work without a display.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("zumo-player " ZUMO_VERSION "\n", stdout);
        return 0;
    }
    // The window is small and repaints a few pixels ten times a second (the
    // scrolling title). Through X's shared memory every repaint waits for a
    // round trip to the server; sending the pixels with the request costs
    // less. A choice the user made in the environment stands.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) qputenv("QT_XCB_NO_MITSHM", "1");
    // One heap for all threads: the player's threads allocate little and
    // never on the decoding path, and a heap of its own per thread would
    // keep pages of its own resident.
    mallopt(M_ARENA_MAX, 1);
    // The sound server lists the player under its own name and icon (not
    // "ALSA plug-in [zumo-player]"), as music. Set before any thread starts.
    zumo::NameSoundStreams("Zumo mp3 player", "zumo-player");
    if (!ChooseWindowSystem()) {
        std::fputs("zumo-player: no display to show the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n",
                   stderr);
        return 1;
    }
    // The program keeps no settings, but Qt's own file dialog writes its
    // history to the user's settings (~/.config/QtProject.conf): Qt's
    // settings of the user are sent where nothing can be written.
    for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(true);

    // Every argument Qt left, as the bytes the system gave: a file name may
    // hold any byte but NUL and "/", quotes and backslashes too, valid UTF-8 or not.
    std::vector<std::string> files(argv + 1, argv + argc);

    // One player per session: the first to take the name on the session
    // bus plays; a later start hands its files over and ends. The media
    // controls' object is there before the name, for the desktop to find.
    std::unique_ptr<zumo::MprisService> media;
    if (std::optional<QDBusConnection> bus = zumo::SingleInstance::SessionBus()) {
        media = std::make_unique<zumo::MprisService>(*bus);
        media->Register();
        if (!zumo::SingleInstance::Claim(*bus)) {
            if (zumo::SingleInstance::HandOver(*bus, files)) return 0;
            // The running player did not answer: this one plays what is left, on its own.
            media.reset();
        }
    }

    zumo::WindowServices services;
    services.commandLineArgs = files;
    services.playerFactory = zumo::MpegPlayerFactory();
    auto* window = new zumo::MainWindow(std::move(services));
    window->SetMediaService(media.get());
    window->show();
    const int status = app.exec();
    delete window;
    // Qt's Wayland platform (6.4, as Debian 12 has it) can hang while it
    // takes down its connection to the compositor: of its two threads that
    // read from the connection, one may quit while a read is still prepared
    // for it, and the other then waits for that read for ever. By now the
    // window is gone and the sound stopped, and the compositor frees what a
    // client leaves behind when its connection closes, so a Wayland client
    // ends here instead of handing the connection back to Qt.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        std::fflush(nullptr);
        std::_Exit(status);
    }
    return status;
}
