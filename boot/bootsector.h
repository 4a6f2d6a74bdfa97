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
// Failures that make a file no disk image at all; the others are tolerated there.
constexpr BootCheckResult NotAnImage = BadSectorLength | BadReservedSectors | BadFatCount |
                                       BadMedia | BadTotalSectors;
}  // namespace BootCheck

// F0h, F8h or F9h: the media descriptors the check accepts.
bool IsAcceptedMediaDescriptor(uint8_t media);

// The nine tests over the first 512 bytes of `sector` (missing bytes count as zero).
// Never returns a run-failure value.
BootCheckResult ValidateBootSector(std::span<const uint8_t> sector);

// Reads sector 0 of the selected media in `drive` and runs the nine tests on it. A media
// not determined, a failed read (its error cleared) or no memory give the run-failure value.
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
// failed test in bit order.
std::vector<std::string> BootCheckLines(BootCheckResult r);

}  // namespace vokta
