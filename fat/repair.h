// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "drive/diskerror.h"
#include "drive/drivetable.h"
#include "ops/operation.h"

namespace vokta {

class DiskDrive;

// A FAT sector that cannot be had from any sound copy: nothing can be written in its place.
constexpr DiskError kNoSoundFat = Err::UnrecognizedMedia;
// The user cancelled the question that offers to write a reformatted track back again. No
// service answers this code: it is the repair's own.
constexpr DiskError kWriteBackCancelled = static_cast<DiskError>(0xFFFFFF01);

// What the repair does at a damaged spot of each stage, as the Repair page's groups say.
enum class BootChoice { WriteNew, Stop };
enum class SystemChoice { TryFormat, RunDiskChecker, Stop };
enum class DataChoice { TryFormat, MarkTrack, MarkCylinder, Stop };

// The Repair page's choices. The operation reads each one only when an error needs it.
struct RepairInputs {
    std::string driveText;  // the drive selector's entry; its first character is the letter
    BootChoice boot = BootChoice::Stop;
    SystemChoice system = SystemChoice::Stop;
    DataChoice data = DataChoice::Stop;
};

// Every track the repair reads and writes passes through the page's buffer of this size.
constexpr size_t kTrackBufferSize = 32768;

struct RepairJob {
    // Shared with the page, which does nothing else while the operation runs.
    std::shared_ptr<RepairInputs> inputs = std::make_shared<RepairInputs>();
    std::shared_ptr<std::vector<uint8_t>> trackBuffer = std::make_shared<std::vector<uint8_t>>(kTrackBufferSize);
    Sounds sounds;
    // The worker's own copy: the page's table may change or go while it runs.
    DriveTable drives;
};

// Walks the diskette from sector 0 to its end: boot sector, system area, data area, and
// repairs each damaged spot as the inputs choose. The outcome's follow-up asks for the
// system's disk checker when the user chose it for a damaged system area.
OperationOutcome RepairWorker(RepairJob job, OperationHost& host);

// Reformats the track that holds `sector` and writes back what could be read of it
// through `trackBuffer`: Err::None, Err::GeneralFailure when the track does not format,
// Err::WriteFault when its data cannot be written back (kWriteBackCancelled when the user
// cancelled the question whether to try again), the error that says so when the
// diskette is gone before anything was done, kNoSoundFat, before anything was done, when
// a FAT sector of the track does not read and no copy gives it. The diskette keeps its
// boot sector. The sectors that could not be read and go back as zeros (of the track, and
// of track 0 when it goes back too; a FAT sector taken from the sound FAT is not lost) are
// added to `lostSectors`, when given.
DiskError ReformatTrack(OperationHost& host, DiskDrive& drive, uint32_t sector, std::span<uint8_t> trackBuffer,
                        std::vector<uint32_t>* lostSectors = nullptr);

}  // namespace vokta
