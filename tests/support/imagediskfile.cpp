// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/imagediskfile.h"

#include "drive/backend/files/imdfile.h"
#include "support/tempdir.h"

namespace vokta::test {

void WriteImageDiskFile(const std::string& path, MediaType type, const std::vector<uint8_t>& image,
                        std::optional<uint32_t> unreadable)
{
    WriteImageDiskFile(path, type, image, unreadable ? std::set{*unreadable} : std::set<uint32_t>{});
}

void WriteImageDiskFile(const std::string& path, MediaType type, const std::vector<uint8_t>& image,
                        const std::set<uint32_t>& unreadable)
{
    EmulatedMedium medium = EmulatedMedium::FromImage(type, image);
    for (uint32_t sector : unreadable)
        medium.LogicalSectors(type).at(sector)->dataError = true;
    WriteFile(path, WriteImd(medium, "07/12/2026 12:00:00", "test diskette\r\n"));
}

}  // namespace vokta::test
