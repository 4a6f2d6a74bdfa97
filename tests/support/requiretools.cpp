// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/requiretools.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/tempdir.h"

namespace vokta::test {
namespace {

bool Installed(std::string_view tool)
{
    return Shell("command -v '" + std::string(tool) + "' >/dev/null 2>&1") == 0;
}

bool ToolsRequired()
{
    const char* required = std::getenv("VOKTA_REQUIRE_TOOLS");
    return required && std::string_view(required) == "1";
}

// GTEST_FAIL and GTEST_SKIP return from the function they are used in: this one.
void Refuse(std::string_view tool)
{
    if (ToolsRequired())
        GTEST_FAIL() << tool << " is not installed, and VOKTA_REQUIRE_TOOLS=1 requires it";
    GTEST_SKIP() << tool << " is not installed";
}

}  // namespace

bool RequireTools(std::initializer_list<std::string_view> tools)
{
    for (std::string_view tool : tools)
        if (!Installed(tool)) {
            Refuse(tool);
            return false;
        }
    return true;
}

}  // namespace vokta::test
