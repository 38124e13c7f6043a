#include "output/SoundStreamNames.h"

#include <cstdlib>

namespace zumo {

void NameSoundStreams(const char* application, const char* iconName) {
    // The PulseAudio client library reads PULSE_PROP_<key> (a property it
    // has no value for) and PULSE_PROP_OVERRIDE_<key> (one that replaces
    // its own: the plugin names every client "ALSA plug-in [program]").
    // The sound server gives the client's properties to its streams.
    (void)setenv("PULSE_PROP_OVERRIDE_application.name", application, 0);
    (void)setenv("PULSE_PROP_application.icon_name", iconName, 0);
    (void)setenv("PULSE_PROP_media.role", "music", 0);
}

} // namespace zumo
