#include "support/RecordingWaveOut.h"

#include <chrono>

namespace zumo::test {

using Lock = std::unique_lock<std::mutex>;

void RecordingWaveOut::Log::SetAutoPlay(bool on) {
    Lock l(lock);
    autoPlay = on;
    if (autoPlay && !paused) PlayLocked(queue.size());
}

void RecordingWaveOut::Log::SetFailOpen(bool on) {
    Lock l(lock);
    failOpen = on;
}

void RecordingWaveOut::Log::SetNotifies(bool on) {
    Lock l(lock);
    notifies = on;
}

void RecordingWaveOut::Log::PlayLocked(size_t n) {
    if (n > 0 && !queue.empty() && !paused) ++changes;
    while (n-- > 0 && !queue.empty() && !paused) {
        WaveBlock* b = queue.front();
        queue.pop_front();
        played.push_back(Block{b->bufferLength, std::vector<uint8_t>(b->data, b->data + b->bufferLength)});
        b->flags = (b->flags & ~kFlagInQueue) | kFlagDone;
    }
    changed.notify_all();
}

int RecordingWaveOut::Log::PlayNext(int n) {
    Lock l(lock);
    const size_t before = played.size();
    PlayLocked(n > 0 ? static_cast<size_t>(n) : 0);
    return static_cast<int>(played.size() - before);
}

int RecordingWaveOut::Log::PlayAll() {
    Lock l(lock);
    const size_t before = played.size();
    PlayLocked(queue.size());
    return static_cast<int>(played.size() - before);
}

bool RecordingWaveOut::Log::WaitForWritten(size_t n, int timeoutMs) {
    Lock l(lock);
    return changed.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return written.size() >= n; });
}

bool RecordingWaveOut::Log::WaitForStillPlaying(int n, int timeoutMs) {
    Lock l(lock);
    return changed.wait_for(l, std::chrono::milliseconds(timeoutMs), [&] { return stillPlaying >= n; });
}

std::vector<RecordingWaveOut::Block> RecordingWaveOut::Log::Written() {
    Lock l(lock);
    return written;
}
std::vector<RecordingWaveOut::Block> RecordingWaveOut::Log::Played() {
    Lock l(lock);
    return played;
}
std::vector<uint8_t> RecordingWaveOut::Log::PlayedBytes() {
    Lock l(lock);
    std::vector<uint8_t> all;
    for (const Block& b : played) all.insert(all.end(), b.bytes.begin(), b.bytes.end());
    return all;
}
size_t RecordingWaveOut::Log::QueuedCount() {
    Lock l(lock);
    return queue.size();
}
WaveFormat RecordingWaveOut::Log::Format() {
    Lock l(lock);
    return format;
}
int RecordingWaveOut::Log::OpenCalls() {
    Lock l(lock);
    return openCalls;
}
int RecordingWaveOut::Log::CloseCalls() {
    Lock l(lock);
    return closeCalls;
}
int RecordingWaveOut::Log::ResetCalls() {
    Lock l(lock);
    return resetCalls;
}
int RecordingWaveOut::Log::PauseCalls() {
    Lock l(lock);
    return pauseCalls;
}
int RecordingWaveOut::Log::RestartCalls() {
    Lock l(lock);
    return restartCalls;
}
int RecordingWaveOut::Log::StillPlayingAnswers() {
    Lock l(lock);
    return stillPlaying;
}
int RecordingWaveOut::Log::ChangeWaits() {
    Lock l(lock);
    return changeWaits;
}
bool RecordingWaveOut::Log::IsOpen() {
    Lock l(lock);
    return open;
}
bool RecordingWaveOut::Log::IsPaused() {
    Lock l(lock);
    return paused;
}

RecordingWaveOut::RecordingWaveOut(std::shared_ptr<Log> recording) : log(std::move(recording)) {}

RecordingWaveOut::~RecordingWaveOut() {
    // Blocks still queued belong to a caller that is going away: forget them.
    Lock l(log->lock);
    log->queue.clear();
    log->open = false;
}

uint32_t RecordingWaveOut::Open(const WaveFormat& f) {
    Lock l(log->lock);
    ++log->openCalls;
    if (log->failOpen) return kError;
    if (f.formatTag != 1 || f.channels < 1 || f.channels > 2 || f.bitsPerSample != 16 || f.samplesPerSec == 0 ||
        f.blockAlign != f.channels * 2)
        return kBadFormat;
    log->format = f;
    log->open = true;
    return kOk;
}

uint32_t RecordingWaveOut::Prepare(WaveBlock& b, uint32_t headerSize) {
    Lock l(log->lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (!log->open) return kNotOpen;
    if (b.flags & kFlagInQueue) return kStillPlaying;
    b.flags |= kFlagPrepared;
    return kOk;
}

uint32_t RecordingWaveOut::Write(WaveBlock& b, uint32_t headerSize) {
    Lock l(log->lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (!log->open) return kNotOpen;
    if (!(b.flags & kFlagPrepared)) return kUnprepared;
    if (b.flags & kFlagInQueue) return kStillPlaying;
    if (b.data == nullptr && b.bufferLength > 0) return kInvalidParam;
    log->written.push_back(Block{b.bufferLength, std::vector<uint8_t>(b.data, b.data + b.bufferLength)});
    b.flags = (b.flags & ~kFlagDone) | kFlagInQueue;
    log->queue.push_back(&b);
    if (log->autoPlay) log->PlayLocked(log->queue.size());
    log->changed.notify_all();
    return kOk;
}

uint32_t RecordingWaveOut::Unprepare(WaveBlock& b, uint32_t headerSize) {
    Lock l(log->lock);
    if (headerSize != kHeaderSize) return kInvalidParam;
    if (b.flags & kFlagInQueue) {
        ++log->stillPlaying;
        log->changed.notify_all();
        return kStillPlaying;
    }
    b.flags &= ~kFlagPrepared;
    return kOk;
}

uint32_t RecordingWaveOut::Reset() {
    Lock l(log->lock);
    ++log->resetCalls;
    for (WaveBlock* b : log->queue) b->flags = (b->flags & ~kFlagInQueue) | kFlagDone;
    log->queue.clear();
    ++log->changes;
    log->changed.notify_all();
    return kOk;
}

uint32_t RecordingWaveOut::Pause() {
    Lock l(log->lock);
    ++log->pauseCalls;
    log->paused = true;
    return kOk;
}

uint32_t RecordingWaveOut::Restart() {
    Lock l(log->lock);
    ++log->restartCalls;
    log->paused = false;
    if (log->autoPlay) log->PlayLocked(log->queue.size());
    return kOk;
}

uint64_t RecordingWaveOut::Changes() {
    Lock l(log->lock);
    return log->notifies ? log->changes : 0;
}

bool RecordingWaveOut::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
    Lock l(log->lock);
    if (!log->notifies) return false;
    ++log->changeWaits;
    log->changed.notify_all();
    log->changed.wait_for(l, timeout, [&] { return log->changes != seen; });
    return true;
}

uint64_t RecordingWaveOut::PlayedFrames() {
    Lock l(log->lock);
    uint64_t bytes = 0;
    for (const Block& b : log->played) bytes += b.size;
    return log->format.blockAlign > 0 ? bytes / log->format.blockAlign : 0;
}

void RecordingWaveOut::Wake() {
    Lock l(log->lock);
    ++log->changes;
    log->changed.notify_all();
}

uint32_t RecordingWaveOut::Close() {
    Lock l(log->lock);
    if (!log->queue.empty()) return kStillPlaying;
    ++log->closeCalls;
    log->open = false;
    return kOk;
}

} // namespace zumo::test
