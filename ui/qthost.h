// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "ops/operation.h"
#include "ui/progressdialog.h"
#include "ops/runner.h"

namespace vokta {

using SoundPlayer = std::function<void(const std::string&)>;

// The desktop's host of a running worker. Every call of the worker is carried out on the
// user-interface thread, which owns the dialog and the page, and the worker waits for it.
// The host answers through the run's link: once it is cut (the progress dialog ended, or
// the page let its worker go) every call answers at once and harmlessly (Abort pressed,
// Cancel, No) and a call still waiting is released with that answer. A page's host
// without a progress dialog (the Boot and Info pages, the label dialog) shows message
// boxes and the page's own changes only.
class QtHost final : public OperationHost {
public:
    // Built on the user-interface thread. `playSound` plays on the worker's thread and
    // returns when the sound has ended.
    QtHost(ProgressDialog* dialog, QWidget& page, SoundPlayer playSound, std::shared_ptr<RunLink> link);
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    bool Cut() const;

    // `change` made on the page on the user-interface thread while the worker waits;
    // nothing once cut or once the page is gone.
    void OnPage(std::function<void(QWidget&)> change);

    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override;
    void SetUpperLine(const std::string& text) override;
    void SetLowerLine(const std::string& text) override;
    void SetTitle(const std::string& text) override;
    void SetRange(int high) override;
    int SetProgressPos(int position) override;
    void SetBarColours(Rgb fill, Rgb text) override;
    void SetAbortCaption(AbortButton button) override;
    // Queued in order with the other calls, without waiting: the map is a look aside.
    void BeginTrackMap(const TrackMapShape& shape) override;
    void ShowTrack(const TrackReport& report) override;
    bool AbortRequested() override;
    void PlaySound(const std::string& sound) override;
    void Close() override;
    uint64_t TickCount() override;
    void Rest(int milliseconds) override;

private:
    struct State;

    // Runs `call` on the user-interface thread with the page, and returns its answer;
    // `harmless` once cut, or when the page is gone.
    template <typename Result>
    Result OnUiThread(std::function<Result(QWidget&)> call, Result harmless);
    // `call` with the progress dialog; nothing without one.
    void OnDialog(std::function<void(ProgressDialog&)> call);
    int OnDialog(std::function<int(ProgressDialog&)> call, int harmless);
    // `call` with the progress dialog on the user-interface thread, not waited for.
    void PostToDialog(std::function<void(ProgressDialog&)> call);

    std::shared_ptr<State> state_;
    SoundPlayer playSound_;
};

// The message box of a worker, owned by `owner`, and the user's answer.
Answer AskInMessageBox(QWidget& owner, const std::string& text, const std::string& caption, Buttons buttons,
                       Icon icon);

// The message boxes a page asks on the user-interface thread itself (loading an image
// file, the information report), owned by the page.
class PageMessageBoxes final : public MessageBoxHost {
public:
    explicit PageMessageBoxes(QWidget& owner) : owner_(owner) {}
    Answer MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon) override
    {
        return AskInMessageBox(owner_, text, caption, buttons, icon);
    }

private:
    QWidget& owner_;
};

}  // namespace vokta
