// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Running work on a worker thread, and who may hold what.
//
// The lifetime rule. A worker holds only:
//   - its inputs, by value (the job: drive text, choices, sounds, its own copy of the
//     drive table);
//   - shared ownership (std::shared_ptr) of what it reads or writes beyond them, such as
//     the memory image; a page that abandons a worker gives up its share of these and
//     starts afresh, so the two never touch one object again;
//   - the host it was started with, through the run's HostLink.
// A worker never holds a page or a widget. Every run has one RunLink: cutting it is the
// only way a page lets go of its worker, and everything between the two (the HostLink,
// the desktop host's calls onto the window's thread) answers harmlessly from then on
// (Abort pressed, Cancel, No) and reaches no window, while the worker's own objects stay
// alive through its shares until it ends. A page cuts the link when it stops waiting for
// its worker (its grace after the progress dialog ended) and when it goes (the language
// switch rebuilds every page, the window closes). A worker not ended then is never
// detached: its thread is kept and joined at program exit by WaitForAbandonedWorkers,
// after the cut link has told it to stop at its next poll of Abort. A host's call under
// way when the link was cut still holds the host: a host must stay usable (answering
// harmlessly) after its window is gone. An exception leaving a worker ends it as failed,
// told to the user through the host, which is then closed.

#include <chrono>
#include <condition_variable>
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

// The one tie between a page and its worker: once cut, never mended. Waits of the worker
// for the page end when it is cut. Safe from any thread.
class RunLink {
public:
    void Cut();
    bool IsCut() const;

    // Waits until `ready` holds or the link is cut; `ready` is asked under the link's lock.
    // True when ready.
    bool WaitUntil(const std::function<bool()>& ready);

    // Makes `change` under the link's lock and wakes those waiting.
    void Settle(const std::function<void()>& change);

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool cut_ = false;
};

// The host a worker talks to: forwards to the page's host until the run's link is cut,
// then answers every call harmlessly, shows nothing and no longer keeps the host alive.
class HostLink final : public OperationHost {
public:
    HostLink(std::shared_ptr<RunLink> link, std::shared_ptr<OperationHost> target)
        : link_(std::move(link)), target_(std::move(target))
    {
    }

    // Cuts the run's link and lets go of the page's host.
    void Cut();

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
    void BeginTrackMap(const TrackMapShape& shape) override;
    void ShowTrack(const TrackReport& report) override;

private:
    std::shared_ptr<OperationHost> Target();

    std::shared_ptr<RunLink> link_;
    std::mutex mutex_;
    std::shared_ptr<OperationHost> target_;
};

using Worker = std::function<OperationOutcome(OperationHost&)>;

// A page's run of one worker: its thread, its link, its outcome and whether it ended.
class WorkerRun {
public:
    WorkerRun();
    // A worker still running is abandoned; the link is cut in any case.
    ~WorkerRun();
    WorkerRun(const WorkerRun&) = delete;
    WorkerRun& operator=(const WorkerRun&) = delete;

    // The link the page's host is made with, before the worker starts.
    const std::shared_ptr<RunLink>& Link() const { return link_; }

    // Starts `worker` on a thread of its own, talking to `host` through the link. `ended`,
    // if any, is called with the outcome on the worker's thread as its last step. Once per run.
    void Start(Worker worker, std::shared_ptr<OperationHost> host,
               std::function<void(const OperationOutcome&)> ended = {});

    bool Ended() const;

    // The worker's outcome once it has ended, waiting at most `wait`; nullopt when it has
    // not ended by then.
    std::optional<OperationOutcome> WaitFor(std::chrono::milliseconds wait);

    // Stops waiting for good: the link is cut, and the thread is joined at program exit.
    void Abandon();

private:
    std::shared_ptr<RunLink> link_;
    std::shared_ptr<HostLink> host_;
    std::shared_future<OperationOutcome> outcome_;
    std::thread thread_;
};

// Joins the threads of every abandoned worker; each was told to stop when its link was
// cut. Called at program exit, before anything a worker may use ends.
void WaitForAbandonedWorkers();

// The platform-free steps of an operation button: start the worker, run the progress
// dialog's loop until the dialog ends (`modalLoop`), wait at most `grace` for the worker,
// and hand back its outcome; a worker that has not ended by then is abandoned and counts
// as failed.
OperationOutcome RunOperation(Worker worker, std::shared_ptr<OperationHost> host,
                              const std::function<void()>& modalLoop,
                              std::chrono::milliseconds grace = kWorkerGrace);

}  // namespace vokta
