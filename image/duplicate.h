// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "drive/drivetable.h"
#include "image/diskimage.h"
#include "ops/operation.h"

namespace vokta {

// What the Duplicate page hands its three operations, taken by value when one starts.
struct DuplicateJob {
    std::string driveText;    // the drive selector's entry; its first character is the letter
    std::string serialField;  // the page's serial field, compared to tell the source diskette
    bool verifyAfterWrite = true;
    bool multiWrite = false;  // "EnableMultiWriteFormat"
    Sounds sounds;
    // Shared with the page: Read Disk fills it, Write Disk and Compare read it.
    std::shared_ptr<DiskImage> image = std::make_shared<DiskImage>();
    // The worker's own copy: the page's table may change or go while it runs.
    DriveTable drives;
};

// Reads the diskette into the image, cylinder by cylinder.
OperationOutcome ReadDiskWorker(DuplicateJob job, OperationHost& host);
// Writes the image to one diskette, or to several in a row with multiWrite.
OperationOutcome WriteDiskWorker(DuplicateJob job, OperationHost& host);
// Compares the diskette with the image, stopping at the first cylinder that differs.
OperationOutcome CompareWorker(DuplicateJob job, OperationHost& host);

}  // namespace vokta
