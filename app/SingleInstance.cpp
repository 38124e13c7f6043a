#include "app/SingleInstance.h"

#include "app/MprisService.h"
#include "app/PlaylistFile.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

#include <unistd.h>

namespace zumo {
namespace {

// How long a running player may take to answer before this start plays on its own.
constexpr int kAnswerMs = 5000;

std::string Absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    std::string folder(4096, '\0');
    if (!getcwd(folder.data(), folder.size())) return path;
    folder.resize(folder.find('\0'));
    return folder + (folder.back() == '/' ? "" : "/") + path;
}

bool Send(QDBusConnection& bus, const QString& interface, const QString& member, const QList<QVariant>& args) {
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(MprisService::kBusName),
                                                       QString::fromLatin1(MprisService::kObjectPath), interface,
                                                       member);
    call.setArguments(args);
    return bus.call(call, QDBus::Block, kAnswerMs).type() == QDBusMessage::ReplyMessage;
}

} // namespace

std::optional<QDBusConnection> SingleInstance::SessionBus() {
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return std::nullopt;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return std::nullopt;
    return bus;
}

bool SingleInstance::Claim(QDBusConnection& bus) {
    const auto reply = bus.interface()->registerService(QString::fromLatin1(MprisService::kBusName),
                                                        QDBusConnectionInterface::DontQueueService,
                                                        QDBusConnectionInterface::DontAllowReplacement);
    return reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered;
}

bool SingleInstance::HandOver(QDBusConnection& bus, std::vector<std::string>& files) {
    if (files.empty()) return Send(bus, QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Raise"), {});
    // One file at a time, each answered before the next: they queue in order.
    while (!files.empty()) {
        if (!Send(bus, QStringLiteral("org.mpris.MediaPlayer2.Player"), QStringLiteral("OpenUri"),
                  {QString::fromStdString(FileUrlOf(Absolute(files.front())))}))
            return false;
        files.erase(files.begin());
    }
    return true;
}

} // namespace zumo
