// SPDX-License-Identifier: GPL-3.0-or-later
#include "ops/runner.h"

#include <exception>
#include <vector>

#include "res/strings.h"

namespace vokta {
namespace {

// The threads of abandoned workers, kept to be joined at program exit.
class AbandonedWorkers {
public:
    ~AbandonedWorkers() { JoinAll(); }

    void Keep(std::thread thread)
    {
        const std::lock_guard lock(mutex_);
        threads_.push_back(std::move(thread));
    }

    void JoinAll()
    {
        std::vector<std::thread> threads;
        {
            const std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (std::thread& thread : threads)
            thread.join();
    }

private:
    std::mutex mutex_;
    std::vector<std::thread> threads_;
};

AbandonedWorkers& Abandoned()
{
    static AbandonedWorkers workers;
    return workers;
}

// A worker that threw: the user is told, the dialog closed, and the run counts as failed.
OperationOutcome FailedBy(OperationHost& host, const std::string& what)
{
    host.MessageBox(FormatString(Str::WorkerStopped, what), LoadString(Str::FatalError), Buttons::Ok, Icon::Error);
    host.Close();
    return {kResultFailed, FollowUp::None};
}

OperationOutcome RunGuarded(const Worker& worker, OperationHost& host)
{
    try {
        return worker(host);
    } catch (const std::exception& error) {
        return FailedBy(host, error.what());
    } catch (...) {
        return FailedBy(host, "?");
    }
}

}  // namespace

void RunLink::Cut()
{
    {
        const std::lock_guard lock(mutex_);
        cut_ = true;
    }
    changed_.notify_all();
}

bool RunLink::IsCut() const
{
    const std::lock_guard lock(mutex_);
    return cut_;
}

bool RunLink::WaitUntil(const std::function<bool()>& ready)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return cut_ || ready(); });
    return ready();
}

void RunLink::Settle(const std::function<void()>& change)
{
    {
        const std::lock_guard lock(mutex_);
        change();
    }
    changed_.notify_all();
}

void HostLink::Cut()
{
    link_->Cut();
    std::shared_ptr<OperationHost> released;
    const std::lock_guard lock(mutex_);
    released = std::move(target_);
    // The page's host may end with `released`, after the lock: declared before it.
}

std::shared_ptr<OperationHost> HostLink::Target()
{
    std::shared_ptr<OperationHost> released;
    const std::lock_guard lock(mutex_);
    if (link_->IsCut())
        released = std::move(target_);
    return target_;
}

Answer HostLink::MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    const auto target = Target();
    return target ? target->MessageBox(text, caption, buttons, icon) : SafeAnswer(buttons);
}

void HostLink::SetUpperLine(const std::string& text)
{
    if (const auto target = Target())
        target->SetUpperLine(text);
}

void HostLink::SetLowerLine(const std::string& text)
{
    if (const auto target = Target())
        target->SetLowerLine(text);
}

void HostLink::SetTitle(const std::string& text)
{
    if (const auto target = Target())
        target->SetTitle(text);
}

void HostLink::SetRange(int high)
{
    if (const auto target = Target())
        target->SetRange(high);
}

int HostLink::SetProgressPos(int position)
{
    const auto target = Target();
    return target ? target->SetProgressPos(position) : 0;
}

void HostLink::SetBarColours(Rgb fill, Rgb text)
{
    if (const auto target = Target())
        target->SetBarColours(fill, text);
}

void HostLink::BeginTrackMap(const TrackMapShape& shape)
{
    if (const auto target = Target())
        target->BeginTrackMap(shape);
}

void HostLink::ShowTrack(const TrackReport& report)
{
    if (const auto target = Target())
        target->ShowTrack(report);
}

void HostLink::SetAbortCaption(AbortButton button)
{
    if (const auto target = Target())
        target->SetAbortCaption(button);
}

bool HostLink::AbortRequested()
{
    const auto target = Target();
    return !target || target->AbortRequested();
}

void HostLink::PlaySound(const std::string& sound)
{
    if (const auto target = Target())
        target->PlaySound(sound);
}

void HostLink::Close()
{
    if (const auto target = Target())
        target->Close();
}

uint64_t HostLink::TickCount()
{
    if (const auto target = Target())
        return target->TickCount();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void HostLink::Rest(int milliseconds)
{
    if (const auto target = Target())
        target->Rest(milliseconds);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

WorkerRun::WorkerRun() : link_(std::make_shared<RunLink>()) {}

WorkerRun::~WorkerRun()
{
    // The link of a run that is over is cut as well: nothing of it reaches the page later.
    Abandon();
}

void WorkerRun::Start(Worker worker, std::shared_ptr<OperationHost> host,
                      std::function<void(const OperationOutcome&)> ended)
{
    host_ = std::make_shared<HostLink>(link_, std::move(host));
    std::promise<OperationOutcome> promise;
    outcome_ = promise.get_future().share();
    // The thread owns the worker, the link to its host and the promise: nothing of this object.
    thread_ = std::thread([worker = std::move(worker), host = host_, promise = std::move(promise),
                           ended = std::move(ended)]() mutable {
        const OperationOutcome outcome = RunGuarded(worker, *host);
        promise.set_value(outcome);
        if (ended)
            ended(outcome);
    });
}

bool WorkerRun::Ended() const
{
    return outcome_.valid() && outcome_.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
}

std::optional<OperationOutcome> WorkerRun::WaitFor(std::chrono::milliseconds wait)
{
    if (!outcome_.valid() || outcome_.wait_for(wait) != std::future_status::ready)
        return std::nullopt;
    if (thread_.joinable())
        thread_.join();
    return outcome_.get();
}

void WorkerRun::Abandon()
{
    if (host_)
        host_->Cut();
    else
        link_->Cut();
    if (thread_.joinable() && Ended())
        thread_.join();
    else if (thread_.joinable())
        Abandoned().Keep(std::move(thread_));
}

void WaitForAbandonedWorkers()
{
    Abandoned().JoinAll();
}

OperationOutcome RunOperation(Worker worker, std::shared_ptr<OperationHost> host,
                              const std::function<void()>& modalLoop, std::chrono::milliseconds grace)
{
    WorkerRun run;
    run.Start(std::move(worker), std::move(host));
    if (modalLoop)
        modalLoop();
    if (std::optional<OperationOutcome> outcome = run.WaitFor(grace))
        return *outcome;
    run.Abandon();
    return {kResultFailed, FollowUp::None};
}

}  // namespace vokta
