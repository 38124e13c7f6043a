#pragma once

#include "app/TrackTags.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace zumo {

// The tags of the files the window shows, kept by path. The window never
// reads a file itself: it asks for tags to be read on the cache's thread
// and hears when they have come; the playlist worker reads those of the
// track it starts on its own thread.
class TagCache {
public:
    // Runs a call later on the window's thread; calls run in the order posted.
    using Post = std::function<void(std::function<void()>)>;

    // `changed` runs on the window's thread after tags asked for have been
    // read (once for all that came in the meantime).
    TagCache(Post post, std::function<void()> changed);
    // Waits for the read under way.
    ~TagCache();

    // The tags of a path, if they have been read (any thread).
    std::optional<TrackTags> Find(const std::string& path);
    // The tags of a path, read now on the caller's thread when they are not
    // known yet (never called on the window's thread).
    TrackTags Get(const std::string& path);
    // Has the tags of a path read on the cache's thread.
    void Request(const std::string& path);
    // Forgets all tags: files may have been tagged anew since.
    void Clear();

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

} // namespace zumo
