// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace vokta {

// What a message box offers and what the user answered, the same for the desktop's
// dialogs, the terminal and scripted tests.
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore, RetryCancel };
enum class Answer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };
enum class Icon { None, Error, Warning, Question, Information };

// Answers that end an operation without harm, for a box nobody can answer.
Answer SafeAnswer(Buttons buttons);

const char* AnswerName(Answer answer);

}  // namespace vokta
