#include "app/PathExpander.h"

#include "app/FolderScan.h"
#include "app/Formats.h"
#include "app/PlaylistFile.h"

#include <pthread.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace zumo {
namespace {

// A batch goes to the window when it holds this many files, or when the
// last one went this long ago: the list grows while a large folder is
// walked, and the window handles few, short batches.
constexpr size_t kBatchFiles = 256;
constexpr std::chrono::milliseconds kBatchTime{50};

} // namespace

struct PathExpander::Shared : std::enable_shared_from_this<PathExpander::Shared> {
    Post post;
    Deliver deliver;
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::pair<uint64_t, std::vector<std::string>>> jobs; // under lock, with their generation
    std::atomic<bool> stopping{false};
    // Raised by CancelAll: what was added before is dropped.
    std::atomic<uint64_t> generation{0};
    int pending = 0; // the window's thread only: Adds not yet delivered whole

    void Run();
    void Expand(uint64_t generation, const std::vector<std::string>& paths);
};

PathExpander::PathExpander(Post post, Deliver deliver) : shared(std::make_shared<Shared>()) {
    shared->post = std::move(post);
    shared->deliver = std::move(deliver);
    thread = std::thread([s = shared] {
        (void)pthread_setname_np(pthread_self(), "zumo-intake");
        s->Run();
    });
}

PathExpander::~PathExpander() {
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->stopping = true;
    }
    shared->wake.notify_all();
    thread.join();
}

void PathExpander::Add(std::vector<std::string> paths) {
    ++shared->pending;
    {
        std::lock_guard<std::mutex> guard(shared->lock);
        shared->jobs.emplace_back(shared->generation.load(), std::move(paths));
    }
    shared->wake.notify_all();
}

void PathExpander::CancelAll() {
    ++shared->generation;
    shared->pending = 0;
}

bool PathExpander::Busy() const { return shared->pending > 0; }

void PathExpander::Shared::Run() {
    for (;;) {
        std::pair<uint64_t, std::vector<std::string>> job;
        {
            std::unique_lock<std::mutex> guard(lock);
            wake.wait(guard, [this] { return stopping || !jobs.empty(); });
            if (stopping) return;
            job = std::move(jobs.front());
            jobs.pop_front();
        }
        Expand(job.first, job.second);
    }
}

void PathExpander::Shared::Expand(uint64_t jobGeneration, const std::vector<std::string>& paths) {
    std::vector<std::string> batch;
    auto sent = std::chrono::steady_clock::now();
    auto send = [&](bool last) {
        post([self = shared_from_this(), jobGeneration, files = std::move(batch), last]() mutable {
            if (jobGeneration != self->generation.load()) return;
            if (!files.empty()) self->deliver(std::move(files));
            if (last) --self->pending;
        });
        batch.clear();
        sent = std::chrono::steady_clock::now();
    };
    auto take = [&](const std::string& file) {
        if (stopping || jobGeneration != generation.load()) return false;
        batch.push_back(file);
        if (batch.size() >= kBatchFiles || std::chrono::steady_clock::now() - sent >= kBatchTime) send(false);
        return true;
    };
    for (const std::string& path : paths) {
        struct stat info {};
        const bool exists = stat(path.c_str(), &info) == 0;
        if (exists && S_ISDIR(info.st_mode)) {
            ScanFolder(path, take);
        } else if (IsPlaylistFile(path)) {
            if (!exists || !S_ISREG(info.st_mode)) continue;
            for (const std::string& file : ReadPlaylistFile(path))
                if (HasMp3Extension(file) && !take(file)) break;
        } else if (HasMp3Extension(path)) {
            take(path);
        }
        if (stopping || jobGeneration != generation.load()) break;
    }
    send(true);
}

} // namespace zumo
