// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the flux file tests share: malformed files made from a good one, each of which a
// reader must refuse with its own message, and writes that must not happen.

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "fluxfile/fluxbytes.h"

namespace vokta::test {

struct Mutation {
    const char* name;
    std::function<void(std::vector<uint8_t>&)> mutate;
    std::string error;
};

// Each mutation of `good`, read by `read`: no image, and exactly that mutation's message.
template <typename Read>
void ExpectEachRefused(const std::vector<uint8_t>& good, std::span<const Mutation> mutations, Read read)
{
    for (const Mutation& m : mutations) {
        SCOPED_TRACE(m.name);
        std::vector<uint8_t> file = good;
        m.mutate(file);
        const auto result = read(file);
        EXPECT_FALSE(result.image);
        EXPECT_EQ(result.error, m.error);
    }
}

inline void ExpectNotWritten(const FluxFileWrite& written, const std::string& error)
{
    EXPECT_TRUE(written.bytes.empty());
    EXPECT_EQ(written.error, error);
}

}  // namespace vokta::test
