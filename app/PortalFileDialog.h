#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

#include <string>
#include <vector>

class QEventLoop;
class QWidget;

namespace zumo {

// The desktop's own open-file dialog (GNOME's, KDE's…) through the XDG
// desktop portal on the session bus: .mp3 files, several at a time. The
// dialog runs in the portal's process, so nothing of it is kept by ours.
class PortalFileDialog : public QObject {
    Q_OBJECT

public:
    enum class Outcome { Chosen, Cancelled, Unavailable };

    // Shows the dialog over `parent` and waits for the user's answer, the
    // window's events handled meanwhile; the files chosen are given as
    // paths in the system's bytes. Unavailable: the session has no bus, no
    // portal, or a portal without a file dialog.
    static Outcome Run(QWidget* parent, std::vector<std::string>& files);

private slots:
    void Response(uint response, const QVariantMap& results);

private:
    PortalFileDialog() = default;
    void Finish(Outcome result);

    QEventLoop* loop = nullptr;
    Outcome outcome = Outcome::Unavailable;
    std::vector<std::string> chosen;
    bool finished = false;
};

} // namespace zumo
