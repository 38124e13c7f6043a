// Arbitrary bytes as a file's tags: ID3v2 at the start, APEv2 and ID3v1 at
// the end, with every size and text encoding they carry.
#include "app/TrackTags.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const zumo::TrackTags tags = zumo::ReadTrackTags(data, size);
    const std::string shown = zumo::DisplayTitle(tags, "/m/file.mp3");
    // Each field is at most 256 characters of UTF-8.
    if (tags.title.size() > 1024 || tags.artist.size() > 1024 || tags.album.size() > 1024 || shown.empty())
        __builtin_trap();
    return 0;
}
