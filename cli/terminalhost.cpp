// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminalhost.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

namespace vokta::cli {
namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int)
{
    interrupted = true;
}

constexpr int kBarWidth = 30;

}  // namespace

TerminalHost::TerminalHost(Context& context)
    : context_(context), terminal_(isatty(fileno(context.err)) != 0)
{
    interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

TerminalHost::~TerminalHost()
{
    signal(SIGINT, SIG_DFL);
}

void TerminalHost::ClearLine()
{
    if (terminal_ && drawn_) {
        std::fprintf(context_.err, "\r\033[K");
        drawn_ = false;
    }
}

void TerminalHost::Say(const std::string& text)
{
    ClearLine();
    std::fprintf(context_.err, "%s\n", text.c_str());
    Redraw();
}

void TerminalHost::Redraw()
{
    if (!terminal_ || context_.options.quiet)
        return;
    const int percent = high_ > 0 ? position_ * 100 / high_ : 0;
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    std::fprintf(context_.err, "\r\033[K[%s] %3d%% %s", bar.c_str(), percent, lower_.c_str());
    std::fflush(context_.err);
    drawn_ = true;
}

Answer TerminalHost::MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    ClearLine();
    const Answer answer = context_.prompter.Ask(text, caption, buttons, icon);
    Redraw();
    return answer;
}

void TerminalHost::SetUpperLine(const std::string& text)
{
    if (text != upper_ && !text.empty() && !context_.options.quiet)
        Say(text);
    upper_ = text;
}

void TerminalHost::SetLowerLine(const std::string& text)
{
    lower_ = text;
    Redraw();
}

void TerminalHost::SetTitle(const std::string& text)
{
    if (text != title_ && !context_.options.quiet)
        Say(text);
    title_ = text;
}

void TerminalHost::SetRange(int high)
{
    high_ = high;
    Redraw();
}

int TerminalHost::SetProgressPos(int position)
{
    const int previous = position_;
    position_ = position;
    if (position != previous)
        context_.prompter.NoteProgress();
    Redraw();
    return previous;
}

void TerminalHost::SetAbortCaption(AbortButton button)
{
    finishing_ = button == AbortButton::Finish;
    if (finishing_)
        Say("Press Enter to finish.");
}

bool TerminalHost::EnterPressed()
{
    pollfd in{fileno(stdin), POLLIN, 0};
    if (poll(&in, 1, 0) <= 0 || !(in.revents & POLLIN))
        return false;
    char line[256];
    return std::fgets(line, sizeof line, stdin) != nullptr || std::feof(stdin);
}

bool TerminalHost::AbortRequested()
{
    return interrupted || (finishing_ && EnterPressed());
}

void TerminalHost::PlaySound(const std::string&)
{
    if (terminal_) {
        std::fputc('\a', context_.err);
        std::fflush(context_.err);
    }
}

void TerminalHost::Close()
{
    ClearLine();
}

uint64_t TerminalHost::TickCount()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TerminalHost::Rest(int milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vokta::cli
