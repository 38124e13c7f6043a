#include "app/TagCache.h"

#include <pthread.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace zumo {
namespace {

// More tags than this are forgotten all at once (a few megabytes).
constexpr size_t kMaxKept = 20000;

} // namespace

struct TagCache::Shared : std::enable_shared_from_this<TagCache::Shared> {
    Post post;
    std::function<void()> changed;
    std::mutex lock;
    std::condition_variable wake;
    std::map<std::string, TrackTags> known; // under lock
    std::deque<std::string> requests;       // under lock
    std::set<std::string> requested;        // under lock: in requests
    bool stopping = false;                  // under lock
    std::atomic<bool> changePosted{false};

    void Store(const std::string& path, const TrackTags& tags) {
        std::lock_guard<std::mutex> guard(lock);
        if (known.size() >= kMaxKept) known.clear();
        known[path] = tags;
    }

    void Run() {
        for (;;) {
            std::string path;
            {
                std::unique_lock<std::mutex> guard(lock);
                wake.wait(guard, [this] { return stopping || !requests.empty(); });
                if (stopping) return;
                path = std::move(requests.front());
                requests.pop_front();
                requested.erase(path);
                if (known.count(path)) continue;
            }
            Store(path, ReadTrackTags(path));
            if (!changePosted.exchange(true))
                post([self = shared_from_this()] {
                    self->changePosted = false;
                    self->changed();
                });
        }
    }
};

TagCache::TagCache(Post post, std::function<void()> changed) : shared(std::make_shared<Shared>()) {
    shared->post = std::move(post);
    shared->changed = std::move(changed);
    thread = std::thread([s = shared] {
        (void)pthread_setname_np(pthread_self(), "zumo-tags");
        s->Run();
    });
}

TagCache::~TagCache() {
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->stopping = true;
    }
    shared->wake.notify_all();
    thread.join();
}

std::optional<TrackTags> TagCache::Find(const std::string& path) {
    std::lock_guard<std::mutex> guard(shared->lock);
    const auto found = shared->known.find(path);
    if (found == shared->known.end()) return std::nullopt;
    return found->second;
}

TrackTags TagCache::Get(const std::string& path) {
    if (std::optional<TrackTags> tags = Find(path)) return *tags;
    TrackTags tags = ReadTrackTags(path);
    shared->Store(path, tags);
    return tags;
}

void TagCache::Request(const std::string& path) {
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        if (shared->known.count(path) || !shared->requested.insert(path).second) return;
        shared->requests.push_back(path);
    }
    shared->wake.notify_all();
}

void TagCache::Clear() {
    std::lock_guard<std::mutex> guard(shared->lock);
    shared->known.clear();
    shared->requests.clear();
    shared->requested.clear();
}

} // namespace zumo
