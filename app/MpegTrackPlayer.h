#pragma once

#include "app/PlaylistWorker.h"

namespace zumo {

// The worker's player made of the real MPEGPlayer and the sound device.
PlayerFactory MpegPlayerFactory();

} // namespace zumo
