// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "drive/bytes.h"

namespace vokta {

class DiskDrive;

// Sector 0 of a FAT volume as the whole system reads and writes it: jump, OEM name, BIOS
// parameter block, extended boot record, boot code and final signature. 512 bytes,
// little-endian, read and written byte by byte.
class BootSector : public LittleEndianBlock<512> {
public:
    enum Offset : size_t {
        Jump = 0, OemName = 3, BytesPerSector = 11, SectorsPerCluster = 13,
        ReservedSectors = 14, FatCount = 16, RootEntries = 17, TotalSectors16 = 19,
        MediaDescriptor = 21, SectorsPerFat = 22, SectorsPerTrack = 24, Heads = 26,
        HiddenSectors = 28, TotalSectors32 = 32, DriveNumber = 36, Reserved = 37,
        ExtendedSignature = 38, SerialNumber = 39, VolumeLabel = 43, FileSystemType = 54,
        BootCode = 62, Signature = 510,
    };
    static constexpr size_t kOemNameSize = 8;
    static constexpr size_t kLabelSize = 11;
    static constexpr size_t kFileSystemTypeSize = 8;
    static constexpr size_t kBootCodeSize = Signature - BootCode;

    static constexpr uint8_t kShortJump = 0xEB;
    static constexpr uint8_t kNop = 0x90;
    static constexpr uint8_t kExtendedBootSignature = 0x29;
    static constexpr uint8_t kSignature0 = 0x55;
    static constexpr uint8_t kSignature1 = 0xAA;

    // Copies `text` into the field, padded with blanks to `width`.
    void setText(size_t at, size_t width, std::string_view text);
    std::string text(size_t at, size_t width) const;
};

// Result of a boot-sector check: 0 when every test passed; otherwise either one of the
// run-failure values (no test was made) or a mask of failed tests.
using BootCheckResult = uint16_t;

namespace BootCheck {
constexpr BootCheckResult Ok = 0;
// Run failures, returned alone.
constexpr BootCheckResult MediaUnknown = 0x0001;
constexpr BootCheckResult ReadError = 0x0002;
constexpr BootCheckResult NoMemory = 0x0004;
// Failed tests, in the order they are made and listed.
constexpr BootCheckResult BadSignature = 0x0010;
constexpr BootCheckResult BadJump = 0x0020;
constexpr BootCheckResult BadSectorLength = 0x0040;
constexpr BootCheckResult BadReservedSectors = 0x0080;
constexpr BootCheckResult BadFatCount = 0x0100;
constexpr BootCheckResult BadExtendedSignature = 0x0200;
constexpr BootCheckResult BadMedia = 0x0400;
constexpr BootCheckResult BadFileSystem = 0x0800;
constexpr BootCheckResult BadTotalSectors = 0x1000;
constexpr BootCheckResult AllTests = 0x1FF0;
// Beyond the nine tests: a field they pass over cannot be the volume's. Set by the check of
// a drive's boot sector, with the fields in a BootFieldFindings of their own.
constexpr BootCheckResult Implausible = 0x2000;
// Failures that make a file no disk image at all; the others are tolerated there.
constexpr BootCheckResult NotAnImage = BadSectorLength | BadReservedSectors | BadFatCount |
                                       BadMedia | BadTotalSectors;
}  // namespace BootCheck

// The BPB fields that no usable volume of 512-byte sectors can have, as far as the sector
// alone tells: one bit per field, in listing order.
using BootFieldFindings = uint16_t;

namespace BootField {
constexpr BootFieldFindings SectorsPerCluster = 0x0001;  // 0, or not a power of two
constexpr BootFieldFindings RootEntries = 0x0002;        // 0, or not whole sectors of entries
constexpr BootFieldFindings SectorsPerFat = 0x0004;      // 0, too few for the clusters, or more than any use
constexpr BootFieldFindings SectorsPerTrack = 0x0008;    // 0, over 63, or over a diskette size's own
constexpr BootFieldFindings Heads = 0x0010;              // 0, over 255, or not a diskette size's own
constexpr BootFieldFindings SystemArea = 0x0020;         // no room for data behind the system area
}  // namespace BootField

// F0h, F8h or F9h: the media descriptors the check accepts.
bool IsAcceptedMediaDescriptor(uint8_t media);

// The nine tests over the first 512 bytes of `sector` (missing bytes count as zero).
// Never returns a run-failure value.
BootCheckResult ValidateBootSector(std::span<const uint8_t> sector);

// The fields the nine tests pass over, weighed. Nothing at all for sectors that are not
// 512 bytes long, and nothing that depends on the total when it is 0: the tests name
// those already.
BootFieldFindings WeighBootFields(std::span<const uint8_t> sector);

// What the check of a drive's boot sector found: the result (with Implausible when any
// field was found) and the fields.
struct BootCheckReport {
    BootCheckResult result = BootCheck::Ok;
    BootFieldFindings fields = 0;
};

// The nine tests and the weighed fields over the first 512 bytes of `sector`.
BootCheckReport CheckBootSectorBytes(std::span<const uint8_t> sector);

// Reads sector 0 of the selected media in `drive`, runs the nine tests on it and weighs its
// fields. A media not determined, a failed read (its error cleared) or no memory give the
// run-failure value.
BootCheckReport CheckBootSectorFully(DiskDrive& drive);
// The result of CheckBootSectorFully alone.
BootCheckResult CheckBootSector(DiskDrive& drive);

inline bool IsRunFailure(BootCheckResult r)
{
    return r == BootCheck::MediaUnknown || r == BootCheck::ReadError || r == BootCheck::NoMemory;
}

// The track layout of a diskette as its boot sector describes it.
struct DescribedLayout {
    uint16_t sectorsPerTrack = 0;
    uint16_t heads = 0;
    uint16_t cylinders = 0;
};

// The layout the boot sector describes when it is a diskette's (its FAT fields pass the tests
// an image file must pass, 1 to 63 sectors a track, 1 or 2 heads, a whole number of 40 to 84
// cylinders) and is not the one of `mediaType`'s row: a copy made in that row's layout would
// not be the diskette. Nothing otherwise, a damaged boot sector included.
std::optional<DescribedLayout> LayoutOtherThanMedia(std::span<const uint8_t> sector, int32_t mediaType);

// The results list of a check: one line for a run failure, "OK." for 0, else one line per
// failed test in bit order, then one per implausible field.
std::vector<std::string> BootCheckLines(BootCheckResult r);
std::vector<std::string> BootCheckLines(const BootCheckReport& report);

}  // namespace vokta
