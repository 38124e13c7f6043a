#include "app/PortalFileDialog.h"

#include "app/PlaylistFile.h"
#include "app/SingleInstance.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWidget>

namespace {

// The portal's file filters: a name and its rules, each a glob pattern
// (kind 0) or a MIME type (kind 1).
struct PortalFilterRule {
    uint kind = 0;
    QString pattern;
};
struct PortalFilter {
    QString name;
    QList<PortalFilterRule> rules;
};

QDBusArgument& operator<<(QDBusArgument& out, const PortalFilterRule& rule) {
    out.beginStructure();
    out << rule.kind << rule.pattern;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilterRule& rule) {
    in.beginStructure();
    in >> rule.kind >> rule.pattern;
    in.endStructure();
    return in;
}
QDBusArgument& operator<<(QDBusArgument& out, const PortalFilter& filter) {
    out.beginStructure();
    out << filter.name << filter.rules;
    out.endStructure();
    return out;
}
const QDBusArgument& operator>>(const QDBusArgument& in, PortalFilter& filter) {
    in.beginStructure();
    in >> filter.name >> filter.rules;
    in.endStructure();
    return in;
}

} // namespace

Q_DECLARE_METATYPE(PortalFilterRule)
Q_DECLARE_METATYPE(PortalFilter)

namespace zumo {
namespace {

const QString kPortal = QStringLiteral("org.freedesktop.portal.Desktop");

// The window the dialog belongs to, as the portal names windows.
QString ParentId(QWidget* parent) {
    if (!parent || QGuiApplication::platformName() != QLatin1String("xcb")) return {};
    return QStringLiteral("x11:") + QString::number(parent->window()->winId(), 16);
}

} // namespace

PortalFileDialog::Outcome PortalFileDialog::Run(QWidget* parent, std::vector<std::string>& files) {
    std::optional<QDBusConnection> bus = SingleInstance::SessionBus();
    if (!bus) return Outcome::Unavailable;
    QDBusConnectionInterface* names = bus->interface();
    if (!names->isServiceRegistered(kPortal).value() && !names->activatableServiceNames().value().contains(kPortal))
        return Outcome::Unavailable;

    qDBusRegisterMetaType<PortalFilterRule>();
    qDBusRegisterMetaType<QList<PortalFilterRule>>();
    qDBusRegisterMetaType<PortalFilter>();
    qDBusRegisterMetaType<QList<PortalFilter>>();

    PortalFileDialog dialog;
    QEventLoop loop;
    // The portal answers with a signal from a request object whose path it
    // derives from our name and a token of ours: listened to before asking,
    // so that no answer can come first.
    const QString token = QStringLiteral("zumo%1").arg(QRandomGenerator::global()->generate());
    const QString sender = bus->baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    QString requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    auto listen = [&](const QString& path) {
        return bus->connect(kPortal, path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                            &dialog, SLOT(Response(uint, QVariantMap)));
    };
    listen(requestPath);

    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("multiple"), true);
    options.insert(QStringLiteral("modal"), true);
    const PortalFilter mp3{QStringLiteral("mp3 files"),
                           {{0, QStringLiteral("*.mp3")},
                            {0, QStringLiteral("*.MP3")},
                            {1, QStringLiteral("audio/mpeg")}}};
    options.insert(QStringLiteral("filters"), QVariant::fromValue(QList<PortalFilter>{mp3}));
    QDBusMessage call = QDBusMessage::createMethodCall(kPortal, QStringLiteral("/org/freedesktop/portal/desktop"),
                                                       QStringLiteral("org.freedesktop.portal.FileChooser"),
                                                       QStringLiteral("OpenFile"));
    call << ParentId(parent) << QString() << options;
    QDBusPendingCallWatcher asked(bus->asyncCall(call));
    QObject::connect(&asked, &QDBusPendingCallWatcher::finished, &dialog, [&] {
        const QDBusMessage reply = asked.reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            dialog.Finish(Outcome::Unavailable); // no file dialog behind the portal
            return;
        }
        // (Older portals chose the request's path themselves.)
        const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!path.isEmpty() && path != requestPath) {
            bus->disconnect(kPortal, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                            QStringLiteral("Response"), &dialog, SLOT(Response(uint, QVariantMap)));
            requestPath = path;
            listen(requestPath);
        }
    });
    // A portal that goes away answers no more.
    QDBusServiceWatcher gone(kPortal, *bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&gone, &QDBusServiceWatcher::serviceUnregistered, &dialog,
                     [&] { dialog.Finish(Outcome::Cancelled); });
    dialog.loop = &loop;
    // Asked: only the portal's refusal makes it unavailable now (a wait
    // ended by the program's end is a cancel).
    dialog.outcome = Outcome::Cancelled;
    if (!dialog.finished) loop.exec();
    bus->disconnect(kPortal, requestPath, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                    &dialog, SLOT(Response(uint, QVariantMap)));
    files = dialog.chosen;
    return dialog.outcome;
}

void PortalFileDialog::Response(uint response, const QVariantMap& results) {
    // 0: chosen; 1: cancelled; 2: ended some other way.
    if (response != 0) {
        Finish(Outcome::Cancelled);
        return;
    }
    for (const QString& uri : results.value(QStringLiteral("uris")).toStringList()) {
        std::string path = PathOfFileUrl(uri.toStdString());
        if (!path.empty()) chosen.push_back(std::move(path));
    }
    Finish(chosen.empty() ? Outcome::Cancelled : Outcome::Chosen);
}

void PortalFileDialog::Finish(Outcome result) {
    if (finished) return;
    finished = true;
    outcome = result;
    if (loop) loop->quit();
}

} // namespace zumo
