#include "app/Playlist.h"

namespace zumo {

size_t Playlist::Replace(const std::vector<std::string>& paths) {
    std::lock_guard<std::mutex> guard(lock);
    entries = paths;
    return entries.size();
}

void Playlist::Clear() {
    std::lock_guard<std::mutex> guard(lock);
    entries.clear();
}

size_t Playlist::Count() {
    std::lock_guard<std::mutex> guard(lock);
    return entries.size();
}

std::string Playlist::Entry(size_t row) {
    std::lock_guard<std::mutex> guard(lock);
    return row < entries.size() ? entries[row] : std::string();
}

void Playlist::Click(int32_t selectedRow) {
    std::lock_guard<std::mutex> guard(lock);
    playingIndex = playingIndex - 1;
    currentIndex = selectedRow - 1 < -1 ? -1 : selectedRow - 1;
}

} // namespace zumo
