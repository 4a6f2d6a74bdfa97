// SPDX-License-Identifier: GPL-3.0-or-later
// What a test that needs an outside tool reports when the tool is missing: a skip on a
// developer's machine, a failure in CI.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/requiretools.h"

using namespace vokta::test;

namespace {

constexpr const char* kMissing = "vokta-no-such-tool";

class RequireToolsRun : public ::testing::Test {
protected:
    // RequireTools with VOKTA_REQUIRE_TOOLS as given (nullptr: unset). What it reports is
    // caught in `reported`, so the skip or failure lands there and not on this test.
    bool Run(const char* required, std::initializer_list<std::string_view> tools)
    {
        if (required)
            setenv("VOKTA_REQUIRE_TOOLS", required, 1);
        else
            unsetenv("VOKTA_REQUIRE_TOOLS");
        ::testing::ScopedFakeTestPartResultReporter catcher(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &reported);
        return RequireTools(tools);
    }

    void TearDown() override { unsetenv("VOKTA_REQUIRE_TOOLS"); }

    bool OnlyReportNamesTheMissingTool() const
    {
        return reported.size() == 1 &&
               std::string(reported.GetTestPartResult(0).message()).find(kMissing) != std::string::npos;
    }

    ::testing::TestPartResultArray reported;
};

TEST_F(RequireToolsRun, InstalledToolsReportNothing)
{
    EXPECT_TRUE(Run("1", {"sh", "cat"}));
    EXPECT_EQ(reported.size(), 0);
}

TEST_F(RequireToolsRun, MissingToolSkipsWhenToolsAreNotRequired)
{
    EXPECT_FALSE(Run(nullptr, {"sh", kMissing}));
    ASSERT_TRUE(OnlyReportNamesTheMissingTool());
    EXPECT_TRUE(reported.GetTestPartResult(0).skipped());
}

TEST_F(RequireToolsRun, AnyValueButOneDoesNotRequireTools)
{
    EXPECT_FALSE(Run("0", {kMissing}));
    ASSERT_TRUE(OnlyReportNamesTheMissingTool());
    EXPECT_TRUE(reported.GetTestPartResult(0).skipped());
}

TEST_F(RequireToolsRun, MissingToolFailsWhenToolsAreRequired)
{
    EXPECT_FALSE(Run("1", {kMissing, "sh"}));
    ASSERT_TRUE(OnlyReportNamesTheMissingTool());
    EXPECT_TRUE(reported.GetTestPartResult(0).fatally_failed());
}

TEST_F(RequireToolsRun, OnlyTheFirstMissingToolIsReported)
{
    EXPECT_FALSE(Run("1", {kMissing, "vokta-another-missing-tool"}));
    EXPECT_TRUE(OnlyReportNamesTheMissingTool());
}

}  // namespace
