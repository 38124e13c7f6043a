#pragma once

#include <QEvent>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

namespace zumo {

// Runs calls from another thread on the thread of a target object and
// waits until they are done. The call is dropped, and the caller released,
// when the target is detached or destroyed before it runs, or when the
// calling worker's `terminated` flag is set by the time it would run.
class MainThreadCall {
public:
    explicit MainThreadCall(QObject* target) : target(target) {}

    // False when the call was not delivered (target gone).
    bool Run(std::function<void()> call, std::shared_ptr<std::atomic<bool>> terminated);
    // The same without waiting: the call runs later, in order with the
    // calls before and after it, under the same rules for dropping it.
    bool Post(std::function<void()> call, std::shared_ptr<std::atomic<bool>> terminated);
    // No call is posted after this; the target calls it before it goes.
    void Detach();

    // The target's event() hands every event here first; true when it was a call.
    static bool Deliver(QEvent* event);

private:
    std::mutex lock;
    QObject* target; // under lock
};

} // namespace zumo
