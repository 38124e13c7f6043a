#pragma once

#include <functional>
#include <string>

namespace zumo {

// Walks a folder for the .mp3 files below it (any letter case), handing
// each to `found` in natural name order: names compared as the user's
// language sorts them, with runs of digits compared as numbers ("track 2"
// before "track 10"); a subfolder is walked at its place in that order.
// Hidden folders and files (names starting with a dot) are passed over, and
// a folder reached again (through a symbolic link) is not walked again, so
// link loops end. The walk stops early when `found` returns false.
void ScanFolder(const std::string& folder, const std::function<bool(const std::string& file)>& found);

} // namespace zumo
