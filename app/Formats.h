#pragma once

#include <cstdint>
#include <string>

namespace zumo {

// The title shown while nothing plays, also the window caption at start.
inline constexpr const char* kIdleText = "Zumo mp3 player";

// Seconds as minutes and seconds, two digits at least each: 187 -> "03.07".
std::string TimeText(int64_t seconds);
// Bit/s as whole kb/s with three digits at least: 32000 -> "032 kb/s".
std::string BitrateText(int32_t bitsPerSecond);

// The file name without its directory and without its last extension.
std::string TitleOf(const std::string& path);
// The directory of a path up to and including its last separator.
std::string LocationOf(const std::string& path);
// True when the text from the last full stop of the file name, lower-cased, is ".mp3".
bool HasMp3Extension(const std::string& path);

// One step of the scrolling title: one pixel to the right, and back in from
// the left, fully hidden, once it has passed the clip's width.
int32_t NextScrollPos(int32_t scrollPos, int32_t clipWidth, int32_t titleWidth);

} // namespace zumo
