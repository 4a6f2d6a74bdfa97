// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/sounds.h"

#include <canberra.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string_view>
#include <utility>

namespace vokta {
namespace {

// The system sound names the settings may hold, and the freedesktop event sounds that
// play the same part on this desktop.
constexpr std::array<std::pair<std::string_view, std::string_view>, 8> kSystemSounds{{
    {"SystemDefault", "bell"},
    {".Default", "bell"},
    {"SystemExclamation", "dialog-warning"},
    {"SystemHand", "dialog-error"},
    {"SystemAsterisk", "dialog-information"},
    {"SystemQuestion", "dialog-question"},
    {"SystemStart", "desktop-login"},
    {"SystemExit", "desktop-logout"},
}};

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A sound longer than this is cut off rather than keep the program waiting for ever.
constexpr std::chrono::minutes kLongestSound{2};

struct Finished {
    std::mutex mutex;
    std::condition_variable changed;
    bool done = false;
};

void OnFinished(ca_context*, uint32_t, int, void* userdata)
{
    auto* finished = static_cast<Finished*>(userdata);
    const std::lock_guard lock(finished->mutex);
    finished->done = true;
    finished->changed.notify_all();
}

// Owns a libcanberra object and frees it with its own function.
template <typename T, int (*Free)(T*)>
struct Owned {
    T* object = nullptr;
    ~Owned()
    {
        if (object)
            Free(object);
    }
};

}  // namespace

std::string EventSoundFor(const std::string& systemSoundName)
{
    for (const auto& [name, event] : kSystemSounds)
        if (SameIgnoringCase(name, systemSoundName))
            return std::string(event);
    return {};
}

void PlaySoundAndWait(const std::string& sound)
{
    if (sound.empty())
        return;
    // Declared first, so it outlives the context whose thread signals it.
    Finished finished;
    Owned<ca_context, ca_context_destroy> context;
    Owned<ca_proplist, ca_proplist_destroy> properties;
    if (ca_context_create(&context.object) != CA_SUCCESS || ca_proplist_create(&properties.object) != CA_SUCCESS)
        return;
    const std::string event = EventSoundFor(sound);
    if (event.empty())
        ca_proplist_sets(properties.object, CA_PROP_MEDIA_FILENAME, sound.c_str());
    else
        ca_proplist_sets(properties.object, CA_PROP_EVENT_ID, event.c_str());
    // The finish callback comes on libcanberra's own thread; this waits for it (or for the
    // cancelled sound's callback), so it never calls into a freed object.
    constexpr uint32_t kSoundId = 1;
    if (ca_context_play_full(context.object, kSoundId, properties.object, OnFinished, &finished) != CA_SUCCESS)
        return;
    std::unique_lock lock(finished.mutex);
    if (!finished.changed.wait_for(lock, kLongestSound, [&] { return finished.done; })) {
        lock.unlock();
        ca_context_cancel(context.object, kSoundId);
        lock.lock();
        finished.changed.wait(lock, [&] { return finished.done; });
    }
}

}  // namespace vokta
