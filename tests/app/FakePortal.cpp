// A stand-in for the XDG desktop portal's file dialog on a private session
// bus: each OpenFile request is answered, a moment later, with the files
// given on the command line (or, with --cancel, as cancelled), as file
// URLs of their bytes, as a real portal gives them. Prints
// "ready", then one line per request: the parent window, whether several
// files may be chosen, and the filters' names.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QTimer>

#include <cstdio>

namespace {

class Portal : public QDBusVirtualObject {
public:
    QStringList uris;
    bool cancel = false;

    QString introspect(const QString&) const override {
        return QStringLiteral(
            "<interface name=\"org.freedesktop.portal.FileChooser\"><method name=\"OpenFile\">"
            "<arg type=\"s\" direction=\"in\"/><arg type=\"s\" direction=\"in\"/>"
            "<arg type=\"a{sv}\" direction=\"in\"/><arg type=\"o\" direction=\"out\"/>"
            "</method></interface>");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.interface() != QLatin1String("org.freedesktop.portal.FileChooser") ||
            message.member() != QLatin1String("OpenFile"))
            return false;
        const QList<QVariant> args = message.arguments();
        const QVariantMap options = qdbus_cast<QVariantMap>(args.value(2));
        const QString sender = message.service().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        // The filters, a(sa(us)): only their names are shown.
        QStringList filters;
        const QDBusArgument list = options.value(QStringLiteral("filters")).value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            QString name;
            list.beginStructure();
            list >> name;
            list.beginArray();
            while (!list.atEnd()) {
                uint kind = 0;
                QString pattern;
                list.beginStructure();
                list >> kind >> pattern;
                list.endStructure();
                name += QStringLiteral(" %1:%2").arg(kind).arg(pattern);
            }
            list.endArray();
            list.endStructure();
            filters << name;
        }
        list.endArray();
        std::printf("request parent=%s multiple=%d filters=%s\n", qPrintable(args.value(0).toString()),
                    options.value(QStringLiteral("multiple")).toBool(), qPrintable(filters.join(QLatin1Char(';'))));
        std::fflush(stdout);
        QDBusConnection link(connection);
        link.send(message.createReply(QVariant::fromValue(QDBusObjectPath(path))));
        QTimer::singleShot(300, [link, path, this]() mutable {
            QDBusMessage response = QDBusMessage::createSignal(path, QStringLiteral("org.freedesktop.portal.Request"),
                                                               QStringLiteral("Response"));
            QVariantMap results;
            if (!cancel) results.insert(QStringLiteral("uris"), uris);
            response << uint(cancel ? 1 : 0) << results;
            link.send(response);
        });
        return true;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Portal portal;
    // (From argv itself: a name need not be UTF-8, and Qt's list of the
    // arguments would have replaced what is not.)
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--cancel") portal.cancel = true;
        else portal.uris << QString::fromLatin1("file://" + arg.toPercentEncoding("/"));
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                                   QDBusConnection::SingleNode) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        std::fprintf(stderr, "fake-portal: cannot register on the session bus\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    // Ends with its bus: a stand-in left behind by a failed test serves no one.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!QDBusConnection::sessionBus().isConnected()) app.quit();
    });
    watch.start(500);
    return app.exec();
}
