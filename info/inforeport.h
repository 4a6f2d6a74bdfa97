// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <vector>

#include "drive/drivetable.h"
#include "fat/fatvolume.h"
#include "ops/operation.h"

namespace vokta {

// Lines 1 to 27 of the drive information report for a drive whose media has been
// determined: the volume label, the media, the boot sector's names, the device, the sizes
// and the logical and physical layouts; only the label line and the error line when
// sector 0 cannot be read. `path` is the device or diskette file behind the drive (empty
// when it has none): the free space of a mounted volume comes from the file system,
// otherwise it is counted from the FAT; the line is left out when neither answers.
std::vector<std::string> BuildInfoReport(FatVolume& volume, const std::string& path);

enum class InfoOutcome {
    Done,          // the report was built
    MediaUnknown,  // the media type could not be established: the single error line
    Cancelled,     // the user would not insert a diskette: the earlier report stays
    NoDrive,       // the drive could not be had (locked by another program)
};

struct InfoResult {
    InfoOutcome outcome = InfoOutcome::NoDrive;
    std::vector<std::string> lines;  // what the report list shows now, unless Cancelled
};

// Get Info on the drive of `letter`: asks for a diskette until one is present or the user
// cancels, establishes its media and builds the report.
InfoResult GetInfo(char letter, const DriveTable& drives, MessageBoxHost& boxes);

// The saved report: the heading, "Drive = L:" and every line, each ended by CR LF, in code
// page 1252. `driveText` is the selected drive entry, of which the first two characters
// name the drive.
std::string SavedReport(const std::string& driveText, const std::vector<std::string>& lines);

// Writes `bytes` to `path`, replacing any file there. On failure the user is told why, with
// the file's name, and false is returned; what was written before the failure stays.
bool SaveReportFile(const std::string& path, const std::string& bytes, MessageBoxHost& boxes);

}  // namespace vokta
