#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "ops/operation.h"
#include "ops/progressdialog.h"

namespace vokta {

using SoundPlayer = std::function<void(const std::string&)>;

// The desktop's host of a running operation. Every call of the worker is carried out on
// the user-interface thread, which owns the dialog and the page, and the worker waits for
// it. Once the dialog has ended the host is detached: the user-interface thread may then
// be waiting for the worker and no longer runs calls, and the dialog is about to go, so
// every call answers at once and harmlessly (Abort pressed, Cancel, No) and a call still
// waiting is released with that answer.
class QtHost final : public OperationHost {
public:
    // Built on the user-interface thread. `playSound` plays on the worker's thread and
    // returns when the sound has ended.
    QtHost(ProgressDialog& dialog, QWidget& page, SoundPlayer playSound);
    ~QtHost() override;
    QtHost(const QtHost&) = delete;
    QtHost& operator=(const QtHost&) = delete;

    // From now on nothing reaches the dialog or the page. Any thread.
    void Detach();
    bool Detached() const;

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
    struct State;

    // Runs `call` on the user-interface thread with the dialog and the page, and returns
    // its answer; `harmless` once detached, or when either is gone.
    template <typename Result>
    Result OnUiThread(std::function<Result(ProgressDialog&, QWidget&)> call, Result harmless);
    void OnUiThread(std::function<void(ProgressDialog&)> call);

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
