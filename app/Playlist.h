#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace zumo {

// The ordered list of full paths to play, duplicates allowed, with the two
// indices the worker and the list click share. One lock guards all three;
// every access from the main thread or the worker takes it.
class Playlist {
public:
    std::mutex lock;
    std::vector<std::string> entries; // under lock
    int32_t currentIndex = 0;         // under lock: the entry to play
    int32_t playingIndex = 0;         // under lock: currentIndex when the track started

    // Replaces the whole list. Returns the new count.
    size_t Replace(const std::vector<std::string>& paths);
    void Clear();
    size_t Count();
    // Entry `row`, or an empty text when there is none.
    std::string Entry(size_t row);
    // The list click: the worker sees the two indices differ and moves to
    // row `selectedRow` (-1 when no row is selected).
    void Click(int32_t selectedRow);
};

} // namespace zumo
