// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "drive/media.h"

namespace vokta::test {

// Writes `image`, a raw diskette of `type` in logical sector order, as an ImageDisk file;
// the logical sector `unreadable` is recorded with a data error, its data intact, so
// that only the error keeps it from being read.
void WriteImageDiskFile(const std::string& path, MediaType type, const std::vector<uint8_t>& image,
                        std::optional<uint32_t> unreadable = std::nullopt);
// The same with every sector of `unreadable` recorded with a data error.
void WriteImageDiskFile(const std::string& path, MediaType type, const std::vector<uint8_t>& image,
                        const std::set<uint32_t>& unreadable);

}  // namespace vokta::test
