// SPDX-License-Identifier: GPL-3.0-or-later
#include "ops/messagebox.h"

namespace vokta {

Answer SafeAnswer(Buttons buttons)
{
    switch (buttons) {
    case Buttons::Ok: return Answer::Ok;
    case Buttons::OkCancel: return Answer::Cancel;
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel: return Answer::Cancel;
    case Buttons::AbortRetryIgnore: return Answer::Abort;
    case Buttons::RetryCancel: return Answer::Cancel;
    }
    return Answer::Cancel;
}

const char* AnswerName(Answer answer)
{
    switch (answer) {
    case Answer::Ok: return "OK";
    case Answer::Cancel: return "Cancel";
    case Answer::Yes: return "Yes";
    case Answer::No: return "No";
    case Answer::Abort: return "Abort";
    case Answer::Retry: return "Retry";
    case Answer::Ignore: return "Ignore";
    }
    return "";
}

}  // namespace vokta
