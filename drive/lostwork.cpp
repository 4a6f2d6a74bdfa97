#include "drive/lostwork.h"

#include <mutex>
#include <utility>

namespace vokta {
namespace {

// Drive objects end on worker threads; the hosts read on theirs.
std::mutex lostWorkMutex;
std::vector<std::string> lostWork;

}  // namespace

void RecordLostWork(const std::string& text)
{
    const std::lock_guard lock(lostWorkMutex);
    lostWork.push_back(text);
}

std::vector<std::string> TakeLostWork()
{
    const std::lock_guard lock(lostWorkMutex);
    return std::exchange(lostWork, {});
}

}  // namespace vokta
