#pragma once

#include <string>

#include "image/diskimage.h"
#include "ops/operation.h"

namespace vokta {

class DriveTable;

// What the Duplicate page hands its three operations.
struct DuplicateJob {
    OperationHost& host;
    DiskImage& image;
    const DriveTable& drives;
    std::string driveText;          // the drive selector's entry; its first character is the letter
    std::string serialField;        // the page's serial field, compared to tell the source diskette
    bool verifyAfterWrite = true;
    bool multiWrite = false;        // "EnableMultiWriteFormat"
    std::string jobCompletedSound = "SystemDefault";
};

// Reads the diskette into the image, cylinder by cylinder.
int ReadDiskWorker(DuplicateJob& job);
// Writes the image to one diskette, or to several in a row with multiWrite.
int WriteDiskWorker(DuplicateJob& job);
// Compares the diskette with the image, stopping at the first cylinder that differs.
int CompareWorker(DuplicateJob& job);

}  // namespace vokta
