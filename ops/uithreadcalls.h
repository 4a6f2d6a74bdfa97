#pragma once

#include <QCoreApplication>
#include <QThread>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace vokta {

// A worker's calls carried out on the user-interface thread, which owns every window, while
// the worker waits for each one's answer. Once detached, every call answers at once with
// its harmless value, and a call still waiting is released with it: the user-interface
// thread may then itself be waiting for the worker, and would never run the call. A cheap
// handle: copies share one state, which calls still queued keep alive.
class UiThreadCalls {
public:
    // Made on the user-interface thread.
    UiThreadCalls() : state_(std::make_shared<State>()) { state_->uiThread = QThread::currentThread(); }

    // From now on no call is carried out. Any thread.
    void Detach() const
    {
        const std::lock_guard lock(state_->mutex);
        state_->detached = true;
        state_->answered.notify_all();
    }

    bool Detached() const
    {
        const std::lock_guard lock(state_->mutex);
        return state_->detached;
    }

    // `call` on the user-interface thread, and its answer; `harmless` once detached.
    template <typename Result>
    Result Run(std::function<Result()> call, Result harmless) const
    {
        if (QThread::currentThread() == state_->uiThread)
            return Detached() ? harmless : call();
        if (Detached())
            return harmless;
        // Not a blocking queued connection: that would keep waiting while the user-interface
        // thread waits for this worker, where this wait ends as soon as the calls detach.
        auto answer = std::make_shared<std::optional<Result>>();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [calls = *this, call = std::move(call), answer, harmless] {
                Result result = calls.Detached() ? harmless : call();
                const std::lock_guard lock(calls.state_->mutex);
                *answer = result;
                calls.state_->answered.notify_all();
            },
            Qt::QueuedConnection);
        std::unique_lock lock(state_->mutex);
        state_->answered.wait(lock, [&] { return answer->has_value() || state_->detached; });
        return answer->has_value() ? **answer : harmless;
    }

    // A call without an answer, waited for all the same, so the calls keep their order
    // with what the worker does between them.
    void Run(std::function<void()> call) const
    {
        Run<bool>(
            [call = std::move(call)] {
                call();
                return true;
            },
            false);
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable answered;
        bool detached = false;
        QThread* uiThread = nullptr;
    };

    std::shared_ptr<State> state_;
};

}  // namespace vokta
