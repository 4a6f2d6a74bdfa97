#pragma once

// Pieces the three duplication operations share.

#include <cstdint>
#include <string>

#include "drive/diskdrive.h"
#include "image/duplicate.h"
#include "res/strings.h"

namespace vokta::dup {

namespace Text {
constexpr uint32_t Message = 103;
constexpr uint32_t CheckingMedia = 104;
constexpr uint32_t MediaTypeIs = 105;
constexpr uint32_t FatalError = 110;
constexpr uint32_t InsertDisk = 113;
constexpr uint32_t Error = 115;
constexpr uint32_t InsufficientMemory = 127;
constexpr uint32_t UnrecognizedMedia = 129;
constexpr uint32_t WriteProtect = 138;
constexpr uint32_t CannotAccessFat = 161;
constexpr uint32_t WritingSystemArea = 1073;
constexpr uint32_t AbortCaption = 1167;
constexpr uint32_t FinishCaption = 1168;
constexpr uint32_t DuplicateError = 2001;
constexpr uint32_t Warning = 2002;
constexpr uint32_t Reading = 2003;
constexpr uint32_t SourceNotProtected = 2004;
constexpr uint32_t BootNotCompliant = 2005;
constexpr uint32_t NoSourceRead = 2006;
constexpr uint32_t ErrorMessage = 2007;
constexpr uint32_t MediaDiffers = 2008;
constexpr uint32_t WritingToSource = 2009;
constexpr uint32_t NotEmpty = 2010;
constexpr uint32_t Duplicating = 2011;
constexpr uint32_t Writing = 2012;
constexpr uint32_t Formatting = 2013;
constexpr uint32_t Verifying = 2014;
constexpr uint32_t WriteFailed = 2015;
constexpr uint32_t RemoveDisk = 2016;
constexpr uint32_t NoCompareSource = 2017;
constexpr uint32_t Comparing = 2018;
constexpr uint32_t ComparingProgress = 2019;
constexpr uint32_t NoMatch = 2020;
}  // namespace Text

inline Answer Box(DuplicateJob& job, uint32_t text, uint32_t caption, Buttons buttons, Icon icon)
{
    return job.host.MessageBox(LoadString(text), LoadString(caption), buttons, icon);
}

// Shows the drive's pending error (and clears it) unless its text is empty; the answer,
// or nullopt when there was nothing to show.
std::optional<Answer> ShowPendingError(DuplicateJob& job, DiskDrive& drive, Buttons buttons);

// Asks for a diskette until the drive is ready; false when the user gives up.
bool WaitForDiskette(DuplicateJob& job, DiskDrive& drive);

// "Media Type = " and the media's name.
std::string MediaLine(int32_t mediaType);

// "<operation> A: <label>".
std::string OperationTitle(const std::string& operation, char letter, const std::string& label);

// The part of the image that cylinder c covers: a whole cylinder, or less (or nothing) at
// the end of an image that the diskette's cylinders do not divide.
std::span<uint8_t> CylinderOf(std::span<uint8_t> data, uint16_t cylinder, size_t cylinderBytes);

// One cylinder's sectors, head by head, between the drive and `buffer`, as far as the
// buffer reaches; false at the first failing track.
bool ReadCylinder(DiskDrive& drive, uint16_t cylinder, std::span<uint8_t> buffer);
bool WriteCylinder(DiskDrive& drive, uint16_t cylinder, std::span<const uint8_t> buffer);

size_t CylinderBytes(const DeviceParams& params);

// The volume label and serial number of the diskette, from its media identification.
bool ReadMediaId(DiskDrive& drive, std::string& label, std::string& serial);

// Ends an operation: closes the progress dialog and hands back the result.
inline int Finish(DuplicateJob& job, int result)
{
    job.host.Close();
    return result;
}

}  // namespace vokta::dup
