#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QVariantMap>

#include <cstdint>
#include <string>
#include <vector>

namespace zumo {

enum class PlaybackStatus { Stopped, Playing, Paused };

// The track being played, as the desktop's media controls see it.
struct MediaTrack {
    uint64_t number = 0; // counts the tracks started, so that each has an id of its own
    std::string path;    // empty when no track is being played
    std::string title;   // the tags' title, else the file name
    std::string artist;
    std::string album;
    int64_t lengthSeconds = 0;
};

// What the desktop may see of the player and ask of it. The window
// answers: its commands go through the buttons' flags, as a click's do.
class MediaControls {
public:
    virtual ~MediaControls() = default;
    virtual PlaybackStatus Status() = 0;
    virtual bool Repeat() = 0;
    virtual MediaTrack Track() = 0;
    virtual int64_t PositionSeconds() = 0;
    virtual void PlayPause() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    virtual void Next() = 0;
    virtual void Previous() = 0;
    virtual void SetRepeat(bool on) = 0;
    virtual void Raise() = 0;
    virtual void Quit() = 0;
    // Queues files, folders and playlists as if they were dropped.
    virtual void Open(std::vector<std::string> paths) = 0;
};

// The player as an MPRIS 2 media player on the session bus, so that media
// keys and the desktop's "now playing" controls reach it: the root
// interface and the Player interface at /org/mpris/MediaPlayer2, with a
// PropertiesChanged signal whenever the status, the track or the loop
// setting changes.
class MprisService : public QDBusVirtualObject {
public:
    static constexpr const char* kBusName = "org.mpris.MediaPlayer2.zumo_player";
    static constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";

    explicit MprisService(QDBusConnection bus);
    ~MprisService() override;

    // Puts the object on the bus (before the name is claimed, so that a
    // desktop that sees the name finds the object); false when it cannot.
    bool Register();
    // Until controls are set, the player reports itself stopped and ignores commands.
    void SetControls(MediaControls* controls);
    // Announces what changed since the last announcement.
    void Refresh();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant Property(const QString& interface, const QString& name);
    QVariantMap Properties(const QString& interface);
    QVariantMap Metadata();
    QString StatusText();
    QString LoopText();
    bool Call(const QString& interface, const QString& member, const QDBusMessage& message, QDBusMessage& reply);

    QDBusConnection bus;
    MediaControls* controls = nullptr;
    bool registered = false;
    // What was announced last.
    QString shownStatus;
    QString shownLoop;
    QVariantMap shownMetadata;
};

} // namespace zumo
