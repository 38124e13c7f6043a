#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zumo {

// A manual-reset event: once set it stays set, waking every waiter, until
// it is reset. A button click sets it to cut the worker's poll wait short.
class UiEvent {
public:
    void Set();
    void Reset();
    bool IsSet();
    // Waits until the event is set or the time is up; true when it was set.
    bool WaitFor(std::chrono::milliseconds timeout);

private:
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
};

} // namespace zumo
