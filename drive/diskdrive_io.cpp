// SPDX-License-Identifier: GPL-3.0-or-later
// Sector and track transfers, track layouts and the write-protect probe.
#include <algorithm>
#include <new>
#include <vector>

#include "drive/diskdrive.h"
#include "drive/tracklayout.h"

namespace vokta {
namespace {
constexpr int kTrackAttempts = 3;  // verify and format tries per track
}  // namespace

uint32_t DiskDrive::FirstSectorOfTrack(uint16_t cylinder, uint16_t head) const
{
    return (uint32_t{cylinder} * params.heads() + head) * params.sectorsPerTrack();
}

DiskStatus DiskDrive::RequireMedia()
{
    if (mediaType == kMediaUnknown)
        return Fail(Err::UnrecognizedMedia);
    return {};
}

DiskStatus DiskDrive::TransferSectors(uint8_t minor, uint32_t first, uint16_t count,
                                      std::span<uint8_t> buffer)
{
    if (lastError != Err::None)
        return lastError;
    lastSector = first;
    if (const DiskStatus ready = RequireMedia(); !ready)
        return ready;
    if (count == 0)
        return {};
    const uint32_t spt = params.sectorsPerTrack();
    const uint32_t heads = params.heads();
    if (spt == 0 || heads == 0)
        return Fail(Err::UnrecognizedMedia);
    if (buffer.size() < size_t{count} * kSectorSize)
        return Fail(Err::InsufficientBuffer);
    if (emptiedSince_) {
        if (const DiskStatus back = SameDisketteBack(); !back)
            return back;
    }
    const uint32_t total = params.totalSectors();
    while (count > 0) {
        if (first >= total)
            return Fail(Err::EndOfDisk);
        const uint32_t perCylinder = spt * heads;
        const auto cylinder = static_cast<uint16_t>(first / perCylinder);
        const auto head = static_cast<uint16_t>((first % perCylinder) / spt);
        const auto position = static_cast<uint16_t>((first % perCylinder) % spt);
        const auto n = static_cast<uint16_t>(std::min<uint32_t>(count, spt - position));
        TrackIoBlock block(head, cylinder, position, n);
        if (const DiskStatus moved = GenericIoctl(minor, block.bytes, buffer.first(size_t{n} * kSectorSize)); !moved) {
            emptiedSince_ |= moved.error() == Err::NotReady;
            return moved;
        }
        if (first == 0)
            firstSectorSeen_.assign(buffer.begin(), buffer.begin() + kSectorSize);
        first += n;
        buffer = buffer.subspan(size_t{n} * kSectorSize);
        count = static_cast<uint16_t>(count - n);
    }
    return {};
}

DiskStatus DiskDrive::SameDisketteBack()
{
    if (firstSectorSeen_.empty()) {
        emptiedSince_ = false;
        return {};
    }
    std::array<uint8_t, kSectorSize> now{};
    TrackIoBlock block(0, 0, 0, 1);
    if (const DiskStatus read = GenericIoctl(Minor::ReadTrack, block.bytes, now); !read) {
        if (read.error() == Err::NotReady)
            return read;
        // A first sector that cannot be read tells nothing; the transfer asked for goes on.
        lastError = Err::None;
    } else if (!std::equal(now.begin(), now.end(), firstSectorSeen_.begin())) {
        // Another diskette: none of its sectors may mix with those of the one taken out.
        return Fail(Err::InvalidDiskChange);
    }
    emptiedSince_ = false;
    return {};
}

DiskStatus DiskDrive::ReadSectors(uint32_t first, uint16_t count, std::span<uint8_t> buffer)
{
    return TransferSectors(Minor::ReadTrack, first, count, buffer);
}

DiskStatus DiskDrive::WriteSectors(uint32_t first, uint16_t count, std::span<const uint8_t> buffer)
{
    // The device only reads from the buffer of a write request.
    std::span<uint8_t> source(const_cast<uint8_t*>(buffer.data()), buffer.size());
    return TransferSectors(Minor::WriteTrack, first, count, source);
}

DiskStatus DiskDrive::VerifyTrack(uint16_t cylinder, uint16_t head)
{
    if (lastError != Err::None)
        return lastError;
    lastSector = FirstSectorOfTrack(cylinder, head);
    if (const DiskStatus ready = RequireMedia(); !ready)
        return ready;
    if (cylinder >= params.cylinders())
        return Fail(Err::EndOfDisk);
    DiskStatus verified = Err::UnknownError;
    for (int attempt = 0; attempt < kTrackAttempts && !verified; ++attempt) {
        if (attempt > 0)
            lastError = Err::None;
        TrackBlock block(head, cylinder);
        verified = GenericIoctl(Minor::VerifyTrack, block.bytes);
    }
    return verified;
}

DiskStatus DiskDrive::FormatTrack(uint16_t cylinder, uint16_t head, bool optimized)
{
    if (lastError != Err::None)
        return lastError;
    if (!formatMode)
        return Fail(Err::InvalidFunction);
    if (const DiskStatus ready = RequireMedia(); !ready)
        return ready;
    if (cylinder >= params.cylinders())
        return Fail(Err::EndOfDisk);
    lastSector = FirstSectorOfTrack(cylinder, head);
    const uint16_t spt = params.sectorsPerTrack();
    DiskStatus formatted = Err::UnknownError;

    if (spt != 21) {
        // A layout the device refused is latched, and the first try below starts clear.
        if (optimized && mediaType != kMediaHardDisk)
            (void)SetTrackLayout(cylinder, head);
        for (int attempt = 0; attempt < kTrackAttempts && !formatted; ++attempt) {
            lastError = Err::None;
            TrackBlock block(head, cylinder);
            formatted = GenericIoctl(Minor::FormatTrack, block.bytes);
        }
        return formatted;
    }

    // 21-sector tracks go through the BIOS format with explicit address fields, always in
    // the skewed and interleaved order.
    const auto geometry = GeometryOf(mediaType);
    const std::vector<uint16_t> order = OptimizedTrackOrder(
        spt, geometry ? geometry->skew : 0, geometry ? geometry->interleave : 1, cylinder, head);
    formatIdList.fill(0);
    for (size_t slot = 0; slot < order.size(); ++slot) {
        formatIdList[4 * slot + 0] = static_cast<uint8_t>(cylinder);
        formatIdList[4 * slot + 1] = static_cast<uint8_t>(head);
        formatIdList[4 * slot + 2] = static_cast<uint8_t>(order[slot]);
        formatIdList[4 * slot + 3] = static_cast<uint8_t>(params.bytesPerSector() / 256);
    }
    for (int attempt = 0; attempt < kTrackAttempts && !formatted; ++attempt) {
        lastError = Err::None;
        formatted = Int13(Bios::FormatTrack, static_cast<uint8_t>(head),
                          static_cast<uint8_t>(cylinder), 1, static_cast<uint8_t>(spt));
        if (!formatted)
            (void)Int13(Bios::Reset, 0, 0, 0, 0);
    }
    return formatted;
}

DiskStatus DiskDrive::SetTrackLayout(uint16_t cylinder, uint16_t head)
{
    const uint16_t spt = std::min<uint16_t>(params.sectorsPerTrack(),
                                            static_cast<uint16_t>(DeviceParams::kMaxLayoutEntries));
    params.setU8(DeviceParams::SpecialFunctions,
                 DeviceParams::kCurrentMedium | DeviceParams::kSameSizeSectors);
    params.setU16(DeviceParams::LayoutCount, spt);
    std::vector<uint16_t> order = StandardTrackOrder(spt);
    if (cylinder != kStandardLayout) {
        const auto geometry = GeometryOf(mediaType);
        order = OptimizedTrackOrder(spt, geometry ? geometry->skew : 0,
                                    geometry ? geometry->interleave : 1, cylinder, head);
    }
    for (size_t i = 0; i < order.size(); ++i)
        params.setLayoutEntry(i, order[i], params.bytesPerSector());
    // A refused layout is latched for the next transfer to report; the layout step itself
    // goes on.
    (void)GenericIoctl(Minor::SetDeviceParams, params.span());
    return {};
}

bool DiskDrive::IsWriteProtected()
{
    if (mediaType == kMediaUnknown && !SelectMedia(kMediaUnknown, false))
        return true;
    const size_t spt = params.sectorsPerTrack();
    std::vector<uint8_t> track;
    try {
        track.resize(std::max<size_t>(spt, 2) * kSectorSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    lastError = Err::None;
    if (!ReadSectors(0, static_cast<uint16_t>(spt), track))
        return false;
    lastError = Err::None;
    // Sector 1 written back with its own contents: harmless, and refused by a protected disk.
    const DiskStatus written = WriteSectors(1, 1, std::span<const uint8_t>(track).subspan(kSectorSize));
    lastError = Err::None;
    // A diskette file whose host has no room left is not protected: the write that needs
    // the room tells what is missing.
    return !written && written.error() != Err::HostDiskFull;
}

std::string DiskDrive::GetErrorText()
{
    return ErrorText(TakeError());
}

std::string DiskDrive::ErrorText(DiskError code) const
{
    const std::string text = DiskErrorText(code);
    return code == Err::HostDiskFull && !boundPath.empty() ? text + "\n" + boundPath : text;
}

std::string TakeFailureText(DiskDrive& drive)
{
    const DiskError error = drive.TakeError();
    std::string text = drive.ErrorText(error != Err::None ? error : Err::UnrecognizedMedia);
    if (!drive.openFailureDetail.empty())
        text += " (" + drive.openFailureDetail + ")";
    return text;
}

bool DetectMediaSayingWhy(DiskDrive& drive, std::string& reason)
{
    // A selection that left an error pending (parameters the device refused) blocks the
    // transfers that would follow: it is no detection to go on with.
    if (drive.PendingError() == Err::None && drive.SelectMedia(kMediaUnknown, false) &&
        drive.PendingError() == Err::None)
        return true;
    reason = TakeFailureText(drive);
    return false;
}

std::vector<uint32_t> ReadSectorsOneByOne(DiskDrive& drive, uint32_t first, std::span<uint8_t> buffer,
                                          DiskError* goneWith)
{
    drive.TakeError();
    if (goneWith)
        *goneWith = Err::None;
    std::vector<uint32_t> failed;
    for (uint32_t i = 0; i < buffer.size() / kSectorSize; ++i) {
        const std::span<uint8_t> sector = buffer.subspan(size_t{i} * kSectorSize, kSectorSize);
        if (!drive.ReadSectors(first + i, 1, sector)) {
            std::fill(sector.begin(), sector.end(), uint8_t{0});
            const DiskError error = drive.TakeError();
            const bool gone = DisketteGone(error);
            if (gone && goneWith)
                *goneWith = error;
            failed.push_back(i);
            // Without its diskette no further sector can be read: the rest are lost as well.
            for (uint32_t rest = i + 1; gone && rest < buffer.size() / kSectorSize; ++rest) {
                std::fill_n(buffer.begin() + static_cast<std::ptrdiff_t>(rest * kSectorSize), kSectorSize, uint8_t{0});
                failed.push_back(rest);
            }
            if (gone)
                break;
        }
    }
    return failed;
}

std::vector<uint32_t> ReadSectorsLatchingGone(DiskDrive& drive, uint32_t first, std::span<uint8_t> buffer)
{
    DiskError gone = Err::None;
    std::vector<uint32_t> failed = ReadSectorsOneByOne(drive, first, buffer, &gone);
    drive.lastError = gone;
    return failed;
}

}  // namespace vokta
