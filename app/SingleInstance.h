#pragma once

#include <QDBusConnection>

#include <optional>
#include <string>
#include <vector>

namespace zumo {

// One player per desktop session. The first player to start owns its name
// on the session bus; a later start hands its files over to that player,
// through the same bus, and ends. The bus frees the name of a player that
// ended in any way, so nothing stale can block a start.
class SingleInstance {
public:
    // The session bus the environment names (DBUS_SESSION_BUS_ADDRESS);
    // none without it: no bus is started on the player's behalf.
    static std::optional<QDBusConnection> SessionBus();
    // Takes the player's name; false when another player has it.
    static bool Claim(QDBusConnection& bus);
    // Asks the player that has the name to queue the files, in order (paths
    // are made absolute first), or, with no files, to show its window. The
    // files it took leave the list; false when it did not answer.
    static bool HandOver(QDBusConnection& bus, std::vector<std::string>& files);
};

} // namespace zumo
