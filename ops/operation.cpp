#include "ops/operation.h"

#include "res/strings.h"

namespace vokta {

namespace {
constexpr uint32_t kOkText = 1061;
constexpr uint32_t kAbortedText = 166;
constexpr uint32_t kFailedText = 144;
constexpr uint32_t kAbortCaption = 1167;
constexpr uint32_t kFinishCaption = 1168;
}  // namespace

std::string ResultText(int result)
{
    switch (result) {
    case kResultDone: return LoadString(kOkText);
    case kResultAborted: return LoadString(kAbortedText);
    default: return LoadString(kFailedText);
    }
}

std::string AbortButtonCaption(AbortButton button)
{
    return LoadString(button == AbortButton::Finish ? kFinishCaption : kAbortCaption);
}

}  // namespace vokta
