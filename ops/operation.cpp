// SPDX-License-Identifier: GPL-3.0-or-later
#include "ops/operation.h"

#include "res/strings.h"

namespace vokta {

std::string ResultText(int result)
{
    switch (result) {
    case kResultDone: return LoadString(Str::Ok);
    case kResultAborted: return LoadString(Str::Aborted);
    default: return LoadString(Str::Failed);
    }
}

std::string AbortButtonCaption(AbortButton button)
{
    return LoadString(button == AbortButton::Finish ? Str::FinishButton : Str::AbortButton);
}

}  // namespace vokta
