// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/terminalhost.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "cli/trackmapview.h"

namespace vokta::cli {
namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int)
{
    interrupted = true;
}

constexpr int kBarWidth = 30;
// Faster redraws than this (the map's seven lines each time) only make a slow terminal lag
// behind the drive.
constexpr uint64_t kRedrawInterval = 100;

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
    if (terminal_ && drawnLines_ > 0) {
        // Back to the bar's line, then everything from there down is erased.
        if (drawnLines_ > 1)
            std::fprintf(context_.err, "\033[%dA", drawnLines_ - 1);
        std::fprintf(context_.err, "\r\033[J");
        drawnLines_ = 0;
    }
}

void TerminalHost::Say(const std::string& text)
{
    ClearLine();
    std::fprintf(context_.err, "%s\n", text.c_str());
    Draw();
}

void TerminalHost::Redraw()
{
    redrawPending_ = true;
    DrawIfDue();
}

void TerminalHost::DrawIfDue()
{
    if (redrawPending_ && TickCount() - drawnAt_ >= kRedrawInterval)
        Draw();
}

void TerminalHost::Draw()
{
    redrawPending_ = false;
    drawnAt_ = TickCount();
    if (!terminal_ || context_.options.quiet)
        return;
    const int percent = high_ > 0 ? position_ * 100 / high_ : 0;
    const int filled = percent * kBarWidth / 100;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(kBarWidth - filled), '.');
    ClearLine();
    std::fprintf(context_.err, "[%s] %3d%% %s", bar.c_str(), percent, lower_.c_str());
    drawnLines_ = 1;
    if (!map_.empty() && !context_.options.json) {
        const std::vector<std::string> lines = TrackMapLines(map_);
        for (const std::string& line : lines)
            std::fprintf(context_.err, "\n%s", line.c_str());
        drawnLines_ += static_cast<int>(lines.size());
    }
    std::fflush(context_.err);
}

void TerminalHost::BeginTrackMap(const TrackMapShape& shape)
{
    map_ = TrackMap(shape);
    Redraw();
}

void TerminalHost::ShowTrack(const TrackReport& report)
{
    map_.Apply(report);
    Redraw();
}

Answer TerminalHost::MessageBox(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    ClearLine();
    const Answer answer = context_.prompter.Ask(text, caption, buttons, icon);
    Draw();
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
    DrawIfDue();
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
    // The final map is printed with the outcome, whole, in place of the live one.
    ClearLine();
}

uint64_t TerminalHost::TickCount()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void TerminalHost::Rest(int milliseconds)
{
    DrawIfDue();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace vokta::cli
