#include "ops/runner.h"

namespace vokta {

void HostLink::Cut()
{
    std::shared_ptr<OperationHost> released;
    {
        const std::lock_guard lock(mutex_);
        released = std::move(target_);
    }
    // The page's host may end here, outside the lock, when nothing else holds it.
}

bool HostLink::IsCut() const
{
    const std::lock_guard lock(mutex_);
    return !target_;
}

std::shared_ptr<OperationHost> HostLink::Target() const
{
    const std::lock_guard lock(mutex_);
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

RunningOperation::RunningOperation(Worker worker, std::shared_ptr<OperationHost> host)
    : link_(std::make_shared<HostLink>(std::move(host)))
{
    std::promise<OperationOutcome> promise;
    ended_ = promise.get_future().share();
    // The thread owns the worker, its link and the promise: nothing of this object.
    thread_ = std::thread([worker = std::move(worker), link = link_, promise = std::move(promise)]() mutable {
        promise.set_value(worker(*link));
    });
}

RunningOperation::~RunningOperation()
{
    if (thread_.joinable())
        Abandon();
}

std::optional<OperationOutcome> RunningOperation::WaitFor(std::chrono::milliseconds wait)
{
    if (ended_.wait_for(wait) != std::future_status::ready)
        return std::nullopt;
    if (thread_.joinable())
        thread_.join();
    return ended_.get();
}

void RunningOperation::Abandon()
{
    link_->Cut();
    if (thread_.joinable())
        thread_.detach();
}

OperationOutcome RunOperation(Worker worker, std::shared_ptr<OperationHost> host,
                              const std::function<void()>& modalLoop, std::chrono::milliseconds grace)
{
    RunningOperation running(std::move(worker), std::move(host));
    if (modalLoop)
        modalLoop();
    if (std::optional<OperationOutcome> outcome = running.WaitFor(grace))
        return *outcome;
    running.Abandon();
    return {kResultFailed, FollowUp::None};
}

}  // namespace vokta
