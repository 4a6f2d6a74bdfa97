// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/lostwork.h"

#include <mutex>
#include <utility>

#include "res/strings.h"

namespace vokta {
namespace {

// Drive objects end on worker threads; the hosts read on theirs.
std::mutex lostWorkMutex;
std::vector<std::string> lostWork;
long droppedLostWork = 0;

}  // namespace

void RecordLostWork(const std::string& text)
{
    const std::lock_guard lock(lostWorkMutex);
    if (lostWork.size() == kLostWorkKept) {
        lostWork.erase(lostWork.begin());
        ++droppedLostWork;
    }
    lostWork.push_back(text);
}

std::vector<std::string> TakeLostWork()
{
    const std::lock_guard lock(lostWorkMutex);
    std::vector<std::string> told = std::exchange(lostWork, {});
    if (droppedLostWork > 0)
        told.push_back(FormatString(Str::LostWorkDropped, std::exchange(droppedLostWork, 0)));
    return told;
}

}  // namespace vokta
