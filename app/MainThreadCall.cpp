#include "app/MainThreadCall.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>

namespace zumo {
namespace {

struct Completion {
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
    void Signal() {
        {
            std::lock_guard<std::mutex> guard(lock);
            done = true;
        }
        changed.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait(guard, [this] { return done; });
    }
};

const QEvent::Type kCallEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// Releases its caller when it is destroyed: after running, or when Qt
// discards it together with a target that is being destroyed.
class CallEvent : public QEvent {
public:
    CallEvent(std::function<void()> call, std::shared_ptr<std::atomic<bool>> terminated,
              std::shared_ptr<Completion> completion)
        : QEvent(kCallEvent), call(std::move(call)), terminated(std::move(terminated)),
          completion(std::move(completion)) {}
    ~CallEvent() override { completion->Signal(); }
    void Execute() {
        if (!terminated || !terminated->load()) call();
    }

private:
    std::function<void()> call;
    std::shared_ptr<std::atomic<bool>> terminated;
    std::shared_ptr<Completion> completion;
};

} // namespace

bool MainThreadCall::Run(std::function<void()> call, std::shared_ptr<std::atomic<bool>> terminated) {
    auto completion = std::make_shared<Completion>();
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!target) return false;
        if (QThread::currentThread() == target->thread()) {
            if (!terminated || !terminated->load()) call();
            return true;
        }
        QCoreApplication::postEvent(target, new CallEvent(std::move(call), std::move(terminated), completion));
    }
    completion->Wait();
    return true;
}

bool MainThreadCall::Post(std::function<void()> call, std::shared_ptr<std::atomic<bool>> terminated) {
    std::lock_guard<std::mutex> guard(lock);
    if (!target) return false;
    QCoreApplication::postEvent(target,
                                new CallEvent(std::move(call), std::move(terminated), std::make_shared<Completion>()));
    return true;
}

void MainThreadCall::Detach() {
    std::lock_guard<std::mutex> guard(lock);
    target = nullptr;
}

bool MainThreadCall::Deliver(QEvent* event) {
    if (event->type() != kCallEvent) return false;
    static_cast<CallEvent*>(event)->Execute();
    return true;
}

} // namespace zumo
