// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace vokta::test {

// Runs `work` in a child process as the user "nobody" (the tests run as root, who may
// read and write anything) and hands back what it returned; nullopt when the child
// could not become that user or did not end normally.
std::optional<std::string> RunAsNobody(const std::function<std::string()>& work);

// A folder the unprivileged user may write in, and so take away its own right to.
void GiveToUnprivilegedUser(const std::string& folder);

}  // namespace vokta::test
