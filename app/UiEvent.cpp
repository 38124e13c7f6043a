#include "app/UiEvent.h"

namespace zumo {

void UiEvent::Set() {
    {
        std::lock_guard<std::mutex> guard(lock);
        signalled = true;
    }
    changed.notify_all();
}

void UiEvent::Reset() {
    std::lock_guard<std::mutex> guard(lock);
    signalled = false;
}

bool UiEvent::IsSet() {
    std::lock_guard<std::mutex> guard(lock);
    return signalled;
}

bool UiEvent::WaitFor(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout, [this] { return signalled; });
}

} // namespace zumo
