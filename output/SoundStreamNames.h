#pragma once

namespace zumo {

// Tells the sound server who is playing: the application's name and icon,
// and that what it plays is music (so that the server can treat it as such,
// for example lower it during a call). ALSA's pulse plugin hands these to
// the sound server from the environment of the process, when the player
// plays through ALSA (the player's own client of the sound server names
// itself and its streams); a value the user has set there stands. The
// environment must not change while other threads may read it: call this at
// the start of main, before any thread.
void NameSoundStreams(const char* application, const char* iconName);

} // namespace zumo
