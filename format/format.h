// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "drive/drivetable.h"
#include "drive/media.h"
#include "ops/operation.h"

namespace vokta {

// The Format page's choices. The operation reads the drive, the media and the layout once
// when it starts, and `full`, `label` and `verify` in every pass of a run of several
// diskettes; when a quick format falls back to a full one it sets `full`, where the next
// pass finds it, and its outcome tells the page (FollowUp::FormattedFull).
struct FormatInputs {
    std::string driveText;           // the drive selector's entry; its first character is the letter
    int32_t media = kMediaUnknown;   // a media type, or kMediaUnknown for Auto
    bool optimized = true;           // the optimized sector layout, else the standard one
    bool full = true;                // format every track, else rewrite the system area only
    std::string label;               // at most 11 characters, empty for none
    bool verify = true;              // "Verify after Format"
    bool multiple = false;           // "EnableMultiWriteFormat": one diskette after another
};

struct FormatJob {
    // The worker's own: the passes of a run of several diskettes share them.
    std::shared_ptr<FormatInputs> inputs = std::make_shared<FormatInputs>();
    Sounds sounds;
    // The worker's own copy: the page's table may change or go while it runs.
    DriveTable drives;
};

// Formats the diskette (or several in a row), writes the labelled boot sector and an empty
// system area, and verifies every track, marking the failing ones BAD.
OperationOutcome FormatWorker(FormatJob job, OperationHost& host);

}  // namespace vokta
