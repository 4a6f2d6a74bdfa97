// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <initializer_list>
#include <string_view>

namespace vokta::test {

// The tests that check our diskettes with tools nobody here wrote (mtools, dosfstools,
// libdsk-utils, QEMU) call this first, from SetUp or before anything else in the test.
// A missing tool skips the test on a developer's machine; with VOKTA_REQUIRE_TOOLS=1 in
// the environment (CI) it fails it, since a check that silently did not run is no check.
// True when every tool is installed; otherwise the test has been skipped or failed and
// the caller returns.
bool RequireTools(std::initializer_list<std::string_view> tools);

}  // namespace vokta::test
