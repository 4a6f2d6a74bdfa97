// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QCoreApplication>
#include <QThread>
#include <functional>
#include <memory>
#include <optional>

#include "ops/runner.h"

namespace vokta {

// A worker's calls carried out on the user-interface thread, which owns every window, while
// the worker waits for each one's answer. Once the run's link is cut, every call answers at
// once with its harmless value, and a call still waiting is released with it: the
// user-interface thread may then be busy elsewhere and never run the call. A cheap handle:
// copies share the link, which calls still queued keep alive.
class UiThreadCalls {
public:
    // Made on the user-interface thread.
    explicit UiThreadCalls(std::shared_ptr<RunLink> link)
        : link_(std::move(link)), uiThread_(QThread::currentThread())
    {
    }

    bool Cut() const { return link_->IsCut(); }

    // `call` on the user-interface thread, and its answer; `harmless` once cut.
    template <typename Result>
    Result Run(std::function<Result()> call, Result harmless) const
    {
        if (QThread::currentThread() == uiThread_)
            return Cut() ? harmless : call();
        if (Cut())
            return harmless;
        // Not a blocking queued connection: that would keep waiting while the user-interface
        // thread does not come round, where this wait ends as soon as the link is cut.
        auto answer = std::make_shared<std::optional<Result>>();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [link = link_, call = std::move(call), answer, harmless] {
                Result result = link->IsCut() ? harmless : call();
                link->Settle([&] { *answer = result; });
            },
            Qt::QueuedConnection);
        return link_->WaitUntil([&] { return answer->has_value(); }) ? **answer : harmless;
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
    std::shared_ptr<RunLink> link_;
    QThread* uiThread_ = nullptr;
};

}  // namespace vokta
