#pragma once

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace zumo {

// Turns what the user drops or names (.mp3 files, folders and playlists)
// into the .mp3 files to queue, on a thread of its own, so that a large
// folder never holds up the window. The files of one Add come out in its
// order, after everything that earlier Adds named, in batches.
class PathExpander {
public:
    // Runs a call later on the window's thread; calls run in the order posted.
    using Post = std::function<void(std::function<void()>)>;
    // Takes the next files found, on the window's thread.
    using Deliver = std::function<void(std::vector<std::string> files)>;

    PathExpander(Post post, Deliver deliver);
    // Stops the walk under way and waits for the thread.
    ~PathExpander();

    // These are called on the window's thread.
    //
    // Each path is taken as a folder when it is one, then as a playlist by
    // its extension, then as an .mp3 file by its extension (kept even when
    // it does not exist: the player then moves on); anything else is left out.
    void Add(std::vector<std::string> paths);
    // Nothing more of what was added so far is delivered.
    void CancelAll();
    // True while something added has not been delivered whole.
    bool Busy() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared;
    std::thread thread;
};

} // namespace zumo
