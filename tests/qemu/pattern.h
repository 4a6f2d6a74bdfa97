// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

// What the host and the guest both compute: data patterns, digests of images, and the
// line a guest case reports a value with.
namespace vokta::qemu {

// A deterministic byte pattern that differs in every sector.
inline std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<uint8_t>(x);
    }
    return bytes;
}

// FNV-1a, as 16 hex digits.
inline std::string Digest(std::span<const uint8_t> bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

constexpr const char* kResultPrefix = "vokta-result ";

}  // namespace vokta::qemu
