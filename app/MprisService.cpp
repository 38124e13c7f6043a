#include "app/MprisService.h"

#include "app/PlaylistFile.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

namespace zumo {
namespace {

const QString kRoot = QStringLiteral("org.mpris.MediaPlayer2");
const QString kPlayer = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");

const char* kInterfaces = R"(<interface name="org.mpris.MediaPlayer2">
  <method name="Raise"/>
  <method name="Quit"/>
  <property name="CanQuit" type="b" access="read"/>
  <property name="CanRaise" type="b" access="read"/>
  <property name="HasTrackList" type="b" access="read"/>
  <property name="Identity" type="s" access="read"/>
  <property name="DesktopEntry" type="s" access="read"/>
  <property name="SupportedUriSchemes" type="as" access="read"/>
  <property name="SupportedMimeTypes" type="as" access="read"/>
</interface>
<interface name="org.mpris.MediaPlayer2.Player">
  <method name="Next"/>
  <method name="Previous"/>
  <method name="Pause"/>
  <method name="PlayPause"/>
  <method name="Stop"/>
  <method name="Play"/>
  <method name="Seek"><arg name="Offset" type="x" direction="in"/></method>
  <method name="SetPosition"><arg name="TrackId" type="o" direction="in"/><arg name="Position" type="x" direction="in"/></method>
  <method name="OpenUri"><arg name="Uri" type="s" direction="in"/></method>
  <signal name="Seeked"><arg name="Position" type="x"/></signal>
  <property name="PlaybackStatus" type="s" access="read"/>
  <property name="LoopStatus" type="s" access="readwrite"/>
  <property name="Rate" type="d" access="readwrite"/>
  <property name="Metadata" type="a{sv}" access="read"/>
  <property name="Volume" type="d" access="readwrite"/>
  <property name="Position" type="x" access="read"/>
  <property name="MinimumRate" type="d" access="read"/>
  <property name="MaximumRate" type="d" access="read"/>
  <property name="CanGoNext" type="b" access="read"/>
  <property name="CanGoPrevious" type="b" access="read"/>
  <property name="CanPlay" type="b" access="read"/>
  <property name="CanPause" type="b" access="read"/>
  <property name="CanSeek" type="b" access="read"/>
  <property name="CanControl" type="b" access="read"/>
</interface>
)";

QString Text(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

QDBusMessage Error(const QDBusMessage& message, const char* name, const QString& text) {
    return message.createErrorReply(QString::fromLatin1(name), text);
}

} // namespace

MprisService::MprisService(QDBusConnection bus) : bus(std::move(bus)) {}

MprisService::~MprisService() {
    if (registered) bus.unregisterObject(QString::fromLatin1(kObjectPath));
}

bool MprisService::Register() {
    registered = bus.registerVirtualObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::SingleNode);
    return registered;
}

void MprisService::SetControls(MediaControls* c) {
    controls = c;
    shownStatus = StatusText();
    shownLoop = LoopText();
    shownMetadata = Metadata();
}

QString MprisService::introspect(const QString&) const { return QString::fromLatin1(kInterfaces); }

QString MprisService::StatusText() {
    switch (controls ? controls->Status() : PlaybackStatus::Stopped) {
    case PlaybackStatus::Playing: return QStringLiteral("Playing");
    case PlaybackStatus::Paused: return QStringLiteral("Paused");
    case PlaybackStatus::Stopped: break;
    }
    return QStringLiteral("Stopped");
}

// The repeat button plays the whole list round again.
QString MprisService::LoopText() {
    return controls && controls->Repeat() ? QStringLiteral("Playlist") : QStringLiteral("None");
}

QVariantMap MprisService::Metadata() {
    QVariantMap metadata;
    const MediaTrack track = controls ? controls->Track() : MediaTrack();
    if (track.path.empty()) {
        metadata.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(kNoTrack)));
        return metadata;
    }
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(
                        QDBusObjectPath(QStringLiteral("/org/zumo/player/track/%1").arg(track.number))));
    if (track.lengthSeconds > 0)
        metadata.insert(QStringLiteral("mpris:length"), QVariant::fromValue<qlonglong>(track.lengthSeconds * 1000000));
    metadata.insert(QStringLiteral("xesam:title"), Text(track.title));
    if (!track.artist.empty()) metadata.insert(QStringLiteral("xesam:artist"), QStringList{Text(track.artist)});
    if (!track.album.empty()) metadata.insert(QStringLiteral("xesam:album"), Text(track.album));
    metadata.insert(QStringLiteral("xesam:url"), Text(FileUrlOf(track.path)));
    return metadata;
}

QVariant MprisService::Property(const QString& interface, const QString& name) {
    if (interface == kRoot) {
        if (name == QLatin1String("CanQuit") || name == QLatin1String("CanRaise")) return true;
        if (name == QLatin1String("HasTrackList")) return false;
        if (name == QLatin1String("Identity")) return QStringLiteral("Zumo mp3 player");
        if (name == QLatin1String("DesktopEntry")) return QStringLiteral("zumo-player");
        if (name == QLatin1String("SupportedUriSchemes")) return QStringList{QStringLiteral("file")};
        if (name == QLatin1String("SupportedMimeTypes"))
            return QStringList{QStringLiteral("audio/mpeg"), QStringLiteral("audio/x-mpegurl"),
                               QStringLiteral("audio/x-scpls"), QStringLiteral("inode/directory")};
        return {};
    }
    if (interface != kPlayer) return {};
    if (name == QLatin1String("PlaybackStatus")) return StatusText();
    if (name == QLatin1String("LoopStatus")) return LoopText();
    if (name == QLatin1String("Metadata")) return Metadata();
    if (name == QLatin1String("Position"))
        return QVariant::fromValue<qlonglong>(controls ? controls->PositionSeconds() * 1000000 : 0);
    if (name == QLatin1String("Rate") || name == QLatin1String("MinimumRate") || name == QLatin1String("MaximumRate") ||
        name == QLatin1String("Volume"))
        return 1.0;
    if (name == QLatin1String("CanSeek")) return false;
    if (name == QLatin1String("CanGoNext") || name == QLatin1String("CanGoPrevious") ||
        name == QLatin1String("CanPlay") || name == QLatin1String("CanPause") || name == QLatin1String("CanControl"))
        return true;
    return {};
}

QVariantMap MprisService::Properties(const QString& interface) {
    static const char* rootNames[] = {"CanQuit",           "CanRaise",     "HasTrackList",
                                      "Identity",          "DesktopEntry", "SupportedUriSchemes",
                                      "SupportedMimeTypes"};
    static const char* playerNames[] = {"PlaybackStatus", "LoopStatus",  "Rate",        "Metadata",  "Volume",
                                        "Position",       "MinimumRate", "MaximumRate", "CanGoNext", "CanGoPrevious",
                                        "CanPlay",        "CanPause",    "CanSeek",     "CanControl"};
    QVariantMap values;
    if (interface == kRoot)
        for (const char* name : rootNames)
            values.insert(QString::fromLatin1(name), Property(interface, QString::fromLatin1(name)));
    if (interface == kPlayer)
        for (const char* name : playerNames)
            values.insert(QString::fromLatin1(name), Property(interface, QString::fromLatin1(name)));
    return values;
}

void MprisService::Refresh() {
    QVariantMap changed;
    const QString status = StatusText();
    if (status != shownStatus) changed.insert(QStringLiteral("PlaybackStatus"), shownStatus = status);
    const QString loop = LoopText();
    if (loop != shownLoop) changed.insert(QStringLiteral("LoopStatus"), shownLoop = loop);
    const QVariantMap metadata = Metadata();
    if (metadata != shownMetadata) changed.insert(QStringLiteral("Metadata"), shownMetadata = metadata);
    if (changed.isEmpty() || !registered) return;
    QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kObjectPath), kProperties,
                                                     QStringLiteral("PropertiesChanged"));
    signal << kPlayer << changed << QStringList();
    bus.send(signal);
}

// The methods of the two interfaces; false when there is no such method.
bool MprisService::Call(const QString& interface, const QString& member, const QDBusMessage& message,
                        QDBusMessage& reply) {
    reply = message.createReply();
    if (interface == kRoot || interface.isEmpty()) {
        if (member == QLatin1String("Raise")) {
            if (controls) controls->Raise();
            return true;
        }
        if (member == QLatin1String("Quit")) {
            if (controls) controls->Quit();
            return true;
        }
        if (!interface.isEmpty()) return false;
    }
    if (interface != kPlayer && !interface.isEmpty()) return false;
    if (member == QLatin1String("Seek") || member == QLatin1String("SetPosition"))
        return true; // the player cannot seek
    if (member == QLatin1String("OpenUri")) {
        const QString uri = message.arguments().value(0).toString();
        const std::string path = PathOfFileUrl(uri.toStdString());
        if (path.empty()) {
            reply = Error(message, "org.freedesktop.DBus.Error.InvalidArgs",
                          QStringLiteral("Only local file:// URIs can be opened"));
            return true;
        }
        if (controls) controls->Open({path});
        return true;
    }
    if (!controls)
        return member == QLatin1String("PlayPause") || member == QLatin1String("Play") ||
               member == QLatin1String("Pause") || member == QLatin1String("Stop") || member == QLatin1String("Next") ||
               member == QLatin1String("Previous");
    if (member == QLatin1String("PlayPause")) controls->PlayPause();
    else if (member == QLatin1String("Play")) controls->Play();
    else if (member == QLatin1String("Pause")) controls->Pause();
    else if (member == QLatin1String("Stop")) controls->Stop();
    else if (member == QLatin1String("Next")) controls->Next();
    else if (member == QLatin1String("Previous")) controls->Previous();
    else return false;
    return true;
}

bool MprisService::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    QDBusConnection link(connection);
    const QString interface = message.interface();
    const QString member = message.member();
    // (Qt answers Introspect from introspect().)
    if (interface == QLatin1String("org.freedesktop.DBus.Introspectable")) return false;
    const QList<QVariant> args = message.arguments();
    QDBusMessage reply;
    if (interface == kProperties) {
        const QString on = args.value(0).toString();
        const QString name = args.value(1).toString();
        if (member == QLatin1String("Get")) {
            const QVariant value = Property(on, name);
            reply = value.isValid() ? message.createReply(QVariant::fromValue(QDBusVariant(value)))
                                    : Error(message, "org.freedesktop.DBus.Error.UnknownProperty", name);
        } else if (member == QLatin1String("GetAll")) {
            reply = message.createReply(QVariant(Properties(on)));
        } else if (member == QLatin1String("Set")) {
            const QVariant value = args.value(2).value<QDBusVariant>().variant();
            if (on == kPlayer && name == QLatin1String("LoopStatus")) {
                const QString loop = value.toString();
                if (loop != QLatin1String("None") && loop != QLatin1String("Track") &&
                    loop != QLatin1String("Playlist")) {
                    reply = Error(message, "org.freedesktop.DBus.Error.InvalidArgs", loop);
                } else {
                    // (No single-track repeat: "Track" repeats the list, as the button does.)
                    if (controls) controls->SetRepeat(loop != QLatin1String("None"));
                    reply = message.createReply();
                }
            } else if (on == kPlayer && (name == QLatin1String("Rate") || name == QLatin1String("Volume"))) {
                reply = message.createReply(); // fixed: set requests change nothing
            } else {
                reply = Error(message, "org.freedesktop.DBus.Error.PropertyReadOnly", name);
            }
        } else {
            reply = Error(message, "org.freedesktop.DBus.Error.UnknownMethod", member);
        }
    } else if (!Call(interface, member, message, reply)) {
        reply = Error(message, "org.freedesktop.DBus.Error.UnknownMethod", member);
    }
    if (message.isReplyRequired()) link.send(reply);
    Refresh();
    return true;
}

} // namespace zumo
