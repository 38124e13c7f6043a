#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zumo {

// What a file's tags say about its track, as UTF-8 texts; empty where the
// tags say nothing.
struct TrackTags {
    std::string title;
    std::string artist;
    std::string album;

    bool operator==(const TrackTags&) const = default;
};

// Reads the tags at the start and end of a file: ID3v2 (versions 2.2, 2.3
// and 2.4, with their text encodings and unsynchronisation), then APEv2,
// then ID3v1; a field the first tag lacks is taken from the next. A damaged
// tag, or the damaged rest of one, is ignored, and no size in a tag is
// trusted beyond the file. Never throws; a file that cannot be read has no
// tags.
TrackTags ReadTrackTags(const std::string& path);
// The same over a whole file held in memory.
TrackTags ReadTrackTags(const uint8_t* data, size_t size);

// The text shown for a track: "Artist – Title", the title alone when the
// tags name no artist, and the file name without its extension when they
// name no title.
std::string DisplayTitle(const TrackTags& tags, const std::string& path);

} // namespace zumo
