#pragma once

// Running an operation on a worker thread, and who may hold what.
//
// The lifetime rule. A worker holds only:
//   - its inputs, by value (the job: drive text, choices, sounds);
//   - shared ownership (std::shared_ptr) of what it reads or writes beyond them, such as
//     the memory image; a page that abandons a worker gives up its share of these and
//     starts afresh, so the two never touch one object again;
//   - the process-wide drive table, which lives until the process ends;
//   - the host it was started with, which is a HostLink: never the page's host itself.
// A worker never holds a page, a widget or the page's host. The page stops waiting for
// its worker 10 seconds after the progress dialog ended (the worker then counts as
// failed), and the language switch destroys and rebuilds every page; in both cases the
// page abandons the worker: its HostLink is cut, so every later call of the worker
// reaches no window and gets the harmless answer (Abort pressed, Cancel, No), while the
// worker's own objects stay alive through its shares until it ends. A host's call that
// was under way when the link was cut still holds the host through the link's share:
// a host must therefore stay usable (answering harmlessly) after its window is gone.

#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "ops/operation.h"

namespace vokta {

// How long a page waits for its worker after the progress dialog ended.
constexpr std::chrono::milliseconds kWorkerGrace{10000};

// The host a worker talks to: forwards to the page's host until it is cut, then answers
// every call harmlessly and shows nothing. Safe to call from any thread.
class HostLink final : public OperationHost {
public:
    explicit HostLink(std::shared_ptr<OperationHost> target) : target_(std::move(target)) {}

    // Cuts the link: the page's host is no longer reached (nor kept alive) from here.
    void Cut();
    bool IsCut() const;

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override;
    void SetUpperLine(const std::string& text) override;
    void SetLowerLine(const std::string& text) override;
    void SetTitle(const std::string& text) override;
    void SetRange(int high) override;
    int SetProgressPos(int position) override;
    void SetBarColours(Rgb fill, Rgb text) override;
    void SetAbortCaption(AbortButton button) override;
    bool AbortRequested() override;
    void PlaySound(const std::string& sound) override;
    void Close() override;
    uint64_t TickCount() override;
    void Rest(int milliseconds) override;

private:
    std::shared_ptr<OperationHost> Target() const;

    mutable std::mutex mutex_;
    std::shared_ptr<OperationHost> target_;
};

using Worker = std::function<OperationOutcome(OperationHost&)>;

// A worker started on a thread of its own, talking to the page's host through a link.
class RunningOperation {
public:
    RunningOperation(Worker worker, std::shared_ptr<OperationHost> host);
    // A worker not waited for to its end is abandoned.
    ~RunningOperation();
    RunningOperation(const RunningOperation&) = delete;
    RunningOperation& operator=(const RunningOperation&) = delete;

    // The worker's outcome once it has ended, waiting at most `wait`; nullopt when it has
    // not ended by then.
    std::optional<OperationOutcome> WaitFor(std::chrono::milliseconds wait);

    // Stops waiting for good: the link is cut and the worker ends alone.
    void Abandon();

    // The outcome, for whoever must know when an abandoned worker ended.
    std::shared_future<OperationOutcome> Ended() const { return ended_; }

private:
    std::shared_ptr<HostLink> link_;
    std::shared_future<OperationOutcome> ended_;
    std::thread thread_;
};

// The platform-free steps of an operation button: start the worker, run the progress
// dialog's loop until the dialog ends (`modalLoop`, the desktop's modal dialog), wait at
// most `grace` for the worker, and hand back its outcome; a worker that has not ended by
// then is abandoned and counts as failed. A terminal has no dialog loop to run meanwhile:
// it calls the worker on its own thread.
OperationOutcome RunOperation(Worker worker, std::shared_ptr<OperationHost> host,
                              const std::function<void()>& modalLoop,
                              std::chrono::milliseconds grace = kWorkerGrace);

}  // namespace vokta
