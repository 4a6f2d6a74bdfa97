// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <string>

#include "drive/drivetable.h"
#include "image/diskimage.h"
#include "ops/operation.h"

namespace vokta {

// What a rescue read is asked to do, taken by value when it starts.
struct RescueJob {
    std::string driveText;  // the drive selector's entry; its first character is the letter
    std::string imagePath;  // written as the rescue goes: raw, or ImageDisk for ".imd"
    std::string mapPath;    // the rescue map; empty: DefaultMapPath(imagePath)
    // The first pass reads whole tracks; each later pass reads what is still missing
    // sector by sector.
    unsigned passes = 3;
    // Further reads of a sector that fails in a later pass, each after the head was moved.
    unsigned retries = 3;
    // Revolutions a drive that reads the flux takes over a sector that read badly; 0: its own.
    unsigned revolutions = 0;
    Sounds sounds;
    // Filled as Read Disk fills it, so that Write Disk and Compare can follow.
    std::shared_ptr<DiskImage> image = std::make_shared<DiskImage>();
    DriveTable drives;
};

// The map beside an image: "disk.img" keeps "disk.img.map".
std::string DefaultMapPath(const std::string& imagePath);

// "Sectors read: …, recovered on retry: …, lost: …", and the sectors an earlier run read.
std::string RescueSummary(const OperationFigures& figures);

// Reads every sector of the diskette that can be read into the image file, keeping the
// map of what was read; a run with an existing image and map reads only what is missing.
// Done (0) when every sector was read or passed over as BAD; done with dataLost when
// sectors could not be read.
OperationOutcome RescueWorker(RescueJob job, OperationHost& host);

}  // namespace vokta
