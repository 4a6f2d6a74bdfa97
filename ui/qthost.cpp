// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qthost.h"

#include <QMessageBox>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "ui/dialogframe.h"
#include "ui/uithreadcalls.h"
#include "ui/uitext.h"

namespace vokta {

// What the worker's calls and the user-interface thread share. Calls still queued for
// the user-interface thread hold it, so it outlives the host as long as they need it;
// the dialog and the page are only looked at on the user-interface thread.
struct QtHost::State {
    explicit State(std::shared_ptr<RunLink> link) : calls(std::move(link)) {}
    UiThreadCalls calls;
    std::atomic<bool> abortPressed{false};
    bool hasDialog = false;
    QPointer<ProgressDialog> dialog;
    QPointer<QWidget> page;
};

namespace {

QMessageBox::StandardButtons ButtonsOf(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return QMessageBox::Ok;
    case Buttons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case Buttons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case Buttons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case Buttons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    case Buttons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    }
    return QMessageBox::Ok;
}

// The box's first button is its default, as on the system's message boxes.
QMessageBox::StandardButton FirstButtonOf(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok:
    case Buttons::OkCancel: return QMessageBox::Ok;
    case Buttons::YesNo:
    case Buttons::YesNoCancel: return QMessageBox::Yes;
    case Buttons::AbortRetryIgnore: return QMessageBox::Abort;
    case Buttons::RetryCancel: return QMessageBox::Retry;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(Icon icon)
{
    switch (icon) {
    case Icon::None: return QMessageBox::NoIcon;
    case Icon::Error: return QMessageBox::Critical;
    case Icon::Warning: return QMessageBox::Warning;
    case Icon::Question: return QMessageBox::Question;
    case Icon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

std::optional<Answer> AnswerOf(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Cancel: return Answer::Cancel;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Abort: return Answer::Abort;
    case QMessageBox::Retry: return Answer::Retry;
    case QMessageBox::Ignore: return Answer::Ignore;
    default: return std::nullopt;
    }
}

QColor ColourOf(Rgb colour)
{
    return {colour.red, colour.green, colour.blue};
}

}  // namespace

Answer AskInMessageBox(QWidget& owner, const std::string& text, const std::string& caption, Buttons buttons,
                       Icon icon)
{
    // Held by a guard: the owner's end would take the box with it.
    QPointer<QMessageBox> box = new QMessageBox(IconOf(icon), UiText(caption), UiText(text), ButtonsOf(buttons), &owner);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(FirstButtonOf(buttons));
    FitFrame(*box, FrameButtons::Close);
    box->exec();
    if (!box)
        return SafeAnswer(buttons);
    const std::optional<Answer> answer = AnswerOf(box->standardButton(box->clickedButton()));
    delete box;
    return answer.value_or(SafeAnswer(buttons));
}

QtHost::QtHost(ProgressDialog* dialog, QWidget& page, SoundPlayer playSound, std::shared_ptr<RunLink> link)
    : state_(std::make_shared<State>(link)), playSound_(std::move(playSound))
{
    state_->hasDialog = dialog != nullptr;
    state_->dialog = dialog;
    state_->page = &page;
    if (!dialog)
        return;
    // The connections hold the shared state and the link, not the host, which may end first.
    QObject::connect(dialog, &ProgressDialog::AbortPressed, dialog,
                     [state = state_] { state->abortPressed = true; });
    QObject::connect(dialog, &QDialog::finished, dialog, [link] { link->Cut(); });
}

QtHost::~QtHost() = default;

bool QtHost::Cut() const
{
    return state_->calls.Cut();
}

template <typename Result>
Result QtHost::OnUiThread(std::function<Result(QWidget&)> call, Result harmless)
{
    return state_->calls.Run<Result>(
        [state = state_, call = std::move(call), harmless] {
            const bool dialogGone = state->hasDialog && !state->dialog;
            return state->page && !dialogGone ? call(*state->page) : harmless;
        },
        harmless);
}

void QtHost::OnPage(std::function<void(QWidget&)> change)
{
    OnUiThread<bool>(
        [change = std::move(change)](QWidget& page) {
            change(page);
            return true;
        },
        false);
}

int QtHost::OnDialog(std::function<int(ProgressDialog&)> call, int harmless)
{
    if (!state_->hasDialog)
        return harmless;
    return OnUiThread<int>([state = state_, call = std::move(call)](QWidget&) { return call(*state->dialog); },
                           harmless);
}

void QtHost::OnDialog(std::function<void(ProgressDialog&)> call)
{
    OnDialog(
        [call = std::move(call)](ProgressDialog& dialog) {
            call(dialog);
            return 0;
        },
        0);
}

Answer QtHost::MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    return OnUiThread<Answer>(
        [text, caption, buttons, icon](QWidget& page) {
            return AskInMessageBox(page, text, caption, buttons, icon);
        },
        SafeAnswer(buttons));
}

void QtHost::SetUpperLine(const std::string& text)
{
    OnDialog([text](ProgressDialog& dialog) { dialog.SetUpperLine(UiText(text)); });
}

void QtHost::SetLowerLine(const std::string& text)
{
    OnDialog([text](ProgressDialog& dialog) { dialog.SetLowerLine(UiText(text)); });
}

void QtHost::SetTitle(const std::string& text)
{
    OnDialog([text](ProgressDialog& dialog) { dialog.setWindowTitle(UiText(text)); });
}

void QtHost::SetRange(int high)
{
    OnDialog([high](ProgressDialog& dialog) { dialog.SetRange(high); });
}

int QtHost::SetProgressPos(int position)
{
    return OnDialog([position](ProgressDialog& dialog) { return dialog.SetProgressPos(position); }, 0);
}

void QtHost::SetBarColours(Rgb fill, Rgb text)
{
    OnDialog([fill, text](ProgressDialog& dialog) { dialog.SetBarColours(ColourOf(fill), ColourOf(text)); });
}

void QtHost::SetAbortCaption(AbortButton button)
{
    OnDialog([button](ProgressDialog& dialog) { dialog.SetAbortCaption(button); });
}

void QtHost::BeginTrackMap(const TrackMapShape& shape)
{
    PostToDialog([shape](ProgressDialog& dialog) { dialog.BeginTrackMap(shape); });
}

void QtHost::ShowTrack(const TrackReport& report)
{
    PostToDialog([report](ProgressDialog& dialog) { dialog.ShowTrack(report); });
}

void QtHost::PostToDialog(std::function<void(ProgressDialog&)> call)
{
    if (!state_->hasDialog || state_->calls.Cut())
        return;
    if (QThread::currentThread() == QCoreApplication::instance()->thread()) {
        if (state_->dialog)
            call(*state_->dialog);
        return;
    }
    // Posted as the waiting calls are, so that they all arrive in the worker's order.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state = state_, call = std::move(call)] {
            if (state->dialog && !state->calls.Cut())
                call(*state->dialog);
        },
        Qt::QueuedConnection);
}

bool QtHost::AbortRequested()
{
    return state_->abortPressed || state_->calls.Cut();
}

void QtHost::PlaySound(const std::string& sound)
{
    if (playSound_ && !state_->calls.Cut())
        playSound_(sound);
}

void QtHost::Close()
{
    OnDialog([](ProgressDialog& dialog) { dialog.RequestClose(); });
}

uint64_t QtHost::TickCount()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void QtHost::Rest(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vokta
