// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cctype>
#include <cstring>

#include "cli/cli.h"

namespace vokta::cli {
namespace {

std::vector<Answer> Choices(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return {Answer::Ok};
    case Buttons::OkCancel: return {Answer::Ok, Answer::Cancel};
    case Buttons::YesNo: return {Answer::Yes, Answer::No};
    case Buttons::YesNoCancel: return {Answer::Yes, Answer::No, Answer::Cancel};
    case Buttons::AbortRetryIgnore: return {Answer::Abort, Answer::Retry, Answer::Ignore};
    case Buttons::RetryCancel: return {Answer::Retry, Answer::Cancel};
    }
    return {Answer::Cancel};
}

// The lines after a box's first go below the caption's line, indented unless the box
// indents them itself.
std::string Indented(const std::string& text)
{
    std::string indented;
    for (size_t i = 0; i < text.size(); ++i) {
        indented += text[i];
        if (text[i] == '\n' && i + 1 < text.size() && text[i + 1] != ' ')
            indented += "  ";
    }
    return indented;
}

}  // namespace

std::string TerminalText(const std::string& text)
{
    std::string lines;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = std::string_view(text).substr(start, end - start);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos)
            lines.append(lines.empty() ? "" : "\n").append(line);
        start = end + 1;
    }
    return lines;
}

Prompter::Prompter(const GlobalOptions& options, std::FILE* in, std::FILE* err, bool interactive)
    : options_(options), in_(in), err_(err), interactive_(interactive)
{
}

Answer Prompter::Unattended(Buttons buttons)
{
    switch (buttons) {
    case Buttons::AbortRetryIgnore:
        return options_.onError.value_or(Answer::Abort);
    case Buttons::RetryCancel:
        return options_.onError == Answer::Retry ? Answer::Retry : Answer::Cancel;
    case Buttons::Ok:
    case Buttons::OkCancel:
        return options_.assumeYes ? Answer::Ok : SafeAnswer(buttons);
    case Buttons::YesNo:
    case Buttons::YesNoCancel:
        return options_.assumeYes ? Answer::Yes : SafeAnswer(buttons);
    }
    return SafeAnswer(buttons);
}

void Prompter::NoteProgress()
{
    lastQuestion_.clear();
    repeats_ = 0;
}

Answer Prompter::Ask(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    const std::string shown = TerminalText(text);
    const Answer answer = Choose(shown, caption, buttons, icon);
    shown_.push_back({caption, shown, answer});
    return answer;
}

Answer Prompter::Choose(const std::string& text, const std::string& caption, Buttons buttons, Icon icon)
{
    // A box that only informs is a progress line to a quiet run; questions, warnings and
    // errors are always shown.
    if (!options_.quiet || buttons != Buttons::Ok || icon != Icon::Information)
        std::fprintf(err_, "%s: %s\n", caption.c_str(), Indented(text).c_str());
    const std::vector<Answer> choices = Choices(buttons);
    if (choices.size() == 1)
        return choices.front();
    if (!interactive_) {
        Answer answer = Unattended(buttons);
        // Nobody can change what makes a question come back (insert a diskette, mend a
        // sector): the same question asked again without progress gets the harmless answer.
        const std::string question = caption + '\n' + text;
        repeats_ = question == lastQuestion_ ? repeats_ + 1 : 1;
        lastQuestion_ = question;
        if (repeats_ > kMaxUnattendedRepeats)
            answer = SafeAnswer(buttons);
        std::fprintf(err_, "  -> %s\n", AnswerName(answer));
        return answer;
    }
    for (;;) {
        std::string prompt;
        for (Answer a : choices)
            prompt += std::string(prompt.empty() ? "" : "/") + AnswerName(a);
        std::fprintf(err_, "[%s] ", prompt.c_str());
        std::fflush(err_);
        char line[64];
        if (!std::fgets(line, sizeof line, in_))
            return SafeAnswer(buttons);
        const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        for (Answer a : choices)
            if (first == std::tolower(static_cast<unsigned char>(AnswerName(a)[0])))
                return a;
    }
}

}  // namespace vokta::cli
