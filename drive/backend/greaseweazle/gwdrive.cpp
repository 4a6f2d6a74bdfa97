// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/greaseweazle/gwdrive.h"

#include <algorithm>

#include "drive/backend/emulated/driveclock.h"
#include "drive/backend/files/fluxmedium.h"
#include "drive/diskdrive.h"
#include "mfm/encode.h"
#include "mfm/merge.h"

namespace vokta {
namespace {

constexpr uint8_t kUnit = 0;
// A drive turns within 1.5% of its speed; until a capture has timed a turn, reads allow that.
constexpr double kSpeedTolerance = 1.015;
// Bytes the read-back of a written track runs past its last data field, for the PLL.
constexpr uint64_t kReadBackTailBytes = 3;

// Past the cylinders a diskette drive reaches, or its two heads.
bool BeyondDrive(uint16_t cylinder, uint8_t head)
{
    return cylinder >= EmulatedMedium::kDisketteTracks || head > 1;
}

// The cylinder, head and size the address fields of a track are expected to carry.
mfm::TrackId IdOf(uint16_t cylinder, uint8_t head, uint8_t sizeCode)
{
    return {static_cast<uint8_t>(cylinder), head, sizeCode};
}

// The sector whose address field is this; a track may hold address fields of another track.
const SectorRecord* FindSector(const Track& track, uint16_t cylinder, uint8_t head, uint8_t number)
{
    for (const SectorRecord& s : track.sectors)
        if (s.cylinder == static_cast<uint8_t>(cylinder) && s.head == head && s.number == number)
            return &s;
    return nullptr;
}

SectorRecord* FindSector(Track& track, uint16_t cylinder, uint8_t head, uint8_t number)
{
    return const_cast<SectorRecord*>(FindSector(std::as_const(track), cylinder, head, number));
}

const SectorRecord* FindLike(const Track& track, const SectorRecord& like)
{
    return FindSector(track, like.cylinder, like.head, like.number);
}

// Whether the read shows every sector of the written track as it was written: the good ones
// good and equal, the ones written with a data error still there.
bool ReadsAsWritten(const Track& read, const Track& written)
{
    for (const SectorRecord& w : written.sectors) {
        const SectorRecord* r = FindLike(read, w);
        if (!r || r->size() != w.size())
            return false;
        if (!w.dataError && (r->dataError || r->data != w.data))
            return false;
    }
    return true;
}

}  // namespace

CaptureTurns TurnsOfCapture(const gw::FluxRead& read, double tickHz, uint64_t revolutionTicks)
{
    CaptureTurns capture;
    capture.turns.tickHz = capture.lead.tickHz = tickHz;
    // Segments between index pulses; a transition on a pulse ends the segment before it.
    std::vector<mfm::Revolution> segments(read.indexes.size() + 1);
    size_t segment = 0;
    uint64_t at = 0;
    for (const uint32_t interval : read.intervals) {
        at += interval;
        while (segment < read.indexes.size() && at > read.indexes[segment])
            ++segment;
        segments[segment].intervals.push_back(interval);
    }
    for (size_t i = 1; i + 1 < segments.size(); ++i)
        segments[i].indexTicks = read.indexes[i] - read.indexes[i - 1];
    for (size_t i = 1; i < segments.size(); ++i)
        if (!segments[i].intervals.empty())
            capture.turns.revolutions.push_back(std::move(segments[i]));
    if (!segments.front().intervals.empty()) {
        if (!read.indexes.empty() && read.indexes.front() < revolutionTicks)
            capture.leadTicks = revolutionTicks - read.indexes.front();
        capture.lead.revolutions.push_back(std::move(segments.front()));
    }
    return capture;
}

std::optional<Track> DecodeCapture(const gw::FluxRead& flux, const CaptureRead& how, std::span<const DataRate> rates)
{
    const CaptureTurns capture = TurnsOfCapture(flux, how.tickHz, how.revolutionTicks);
    for (const DataRate rate : rates) {
        const mfm::Recording recording{KbitOf(rate), how.rpm};
        mfm::TrackRead decoded = mfm::DecodeTrack(capture.turns, recording, how.id);
        const mfm::TrackRead lead = mfm::DecodeTrack(capture.lead, recording, how.id);
        if (!decoded.ok() || !lead.ok())
            return std::nullopt;
        // The lead lies that far from the index.
        const auto offset = static_cast<size_t>(static_cast<double>(capture.leadTicks) *
                                                mfm::CellsPerSecond(recording) / how.tickHz);
        for (mfm::RevolutionRead revolution : lead.revolutions) {
            for (mfm::SectorRead& s : revolution.sectors)
                s.position += offset;
            decoded.revolutions.push_back(std::move(revolution));
        }
        Track found = TrackFromRead(decoded, mfm::MergeRevolutions(decoded), how.id, rate);
        if (found.formatted() || rate == rates.back())
            return found;
    }
    return std::nullopt;
}

void MergeTrackReads(Track& into, const Track& from)
{
    // The newer read gives the order the sectors passed in; what read well before stays.
    Track merged = from;
    for (SectorRecord& s : merged.sectors)
        if (const SectorRecord* before = FindLike(into, s); s.dataError && before && !before->dataError &&
                                                            before->size() == s.size())
            s = *before;
    for (const SectorRecord& s : into.sectors)
        if (!FindLike(merged, s))
            merged.sectors.push_back(s);
    into = std::move(merged);
}

GreaseweazleDrive::GreaseweazleDrive(std::unique_ptr<gw::GreaseweazleDevice> device, DriveKind kind,
                                     uint8_t driveNumber)
    : DosBlockDevice(driveNumber), device_(std::move(device)), kind_(kind)
{
}

GreaseweazleDrive::~GreaseweazleDrive()
{
    // The drive stops and lets go of the cable for whatever program comes next.
    if (spinning_)
        (void)device_->Motor(kUnit, false);
    (void)device_->Deselect();
}

DriveOpenResult GreaseweazleDrive::Open(const std::string& path, DriveKind kind, uint8_t driveNumber)
{
    gw::GreaseweazleDevice::Opened opened = gw::GreaseweazleDevice::Open(path);
    if (!opened.device)
        return {nullptr, opened.error, opened.detail};
    return Attach(std::move(opened.device), kind, driveNumber);
}

DriveOpenResult GreaseweazleDrive::Attach(std::unique_ptr<gw::GreaseweazleDevice> device, DriveKind kind,
                                          uint8_t driveNumber)
{
    if (const gw::GwStatus status = device->SetBusType(gw::BusType::IbmPc); !status)
        return {nullptr, status.error(), status.Text()};
    if (const gw::GwStatus status = device->Select(kUnit); !status)
        return {nullptr, status.error(), status.Text()};
    return {std::unique_ptr<DiskService>(new GreaseweazleDrive(std::move(device), kind, driveNumber))};
}

MediaType GreaseweazleDrive::NativeMedia() const
{
    return NativeMediaOf(kind_);
}

bool GreaseweazleDrive::InstallParameterTable(const DisketteParameterTable& table)
{
    table_ = table;
    return true;
}

bool GreaseweazleDrive::RestoreParameterTable()
{
    const bool had = table_.has_value();
    table_.reset();
    return had;
}

std::vector<DataRate> GreaseweazleDrive::RatesToTry() const
{
    const bool fiveInch = kind_ == DriveKind::Floppy525HD;
    // The drive reads at the rate its parameters set, as a controller does: a track of
    // another rate shows no sector.
    if (params_)
        return {RateForSectorsPerTrack(params_->sectorsPerTrack(), fiveInch)};
    std::vector<DataRate> rates;
    for (const DataRate rate : {DataRate::k500, DataRate::k250, DataRate::k300, DataRate::k1000})
        if (DriveKindSupports(kind_, rate))
            rates.push_back(rate);
    return rates;
}

uint8_t GreaseweazleDrive::SizeCode() const
{
    return params_ ? SectorSizeCode(params_->bytesPerSector()) : uint8_t{2};
}

uint64_t GreaseweazleDrive::RevolutionTicks() const
{
    if (measuredRevolution_ != 0)
        return measuredRevolution_;
    return static_cast<uint64_t>(device_->info().sampleHz * 60.0 / Rpm() * kSpeedTolerance);
}

uint32_t GreaseweazleDrive::Rpm() const
{
    return RecordingOf(DataRate::k500, kind_).rpm;
}

uint64_t GreaseweazleDrive::SectorTicks(DataRate rate) const
{
    const uint64_t bytes = DriveMechanics::kSectorFraming + (uint64_t{128} << SizeCode());
    return bytes * 8 * device_->info().sampleHz / (uint64_t{KbitOf(rate)} * 1000);
}

void GreaseweazleDrive::ForgetMedium()
{
    read_.clear();
    measuredRevolution_ = 0;
}

DiskError GreaseweazleDrive::Spin()
{
    if (spinning_)
        return Err::None;
    if (const gw::GwStatus status = device_->Motor(kUnit, true); !status)
        return status.error();
    spinning_ = true;
    return Err::None;
}

bool GreaseweazleDrive::Recalibrate()
{
    // Sent even where the head is known to be at 0: the drive may have lost a step.
    cylinder_.reset();
    if (!device_->Seek(0))
        return false;
    cylinder_ = 0;
    return true;
}

bool GreaseweazleDrive::SeekHead(uint16_t cylinder)
{
    if (BeyondDrive(cylinder, 0))
        return false;
    if (cylinder_ == cylinder)
        return true;
    cylinder_.reset();
    if (!device_->Seek(cylinder))
        return false;
    cylinder_ = cylinder;
    return true;
}

void GreaseweazleDrive::SetRetryRevolutions(unsigned revolutions)
{
    // A capture is bounded in ticks of 32 bits: 50 turns of a 300 rpm drive fit well.
    constexpr unsigned kMostRevolutions = 50;
    retryRevolutions_ = revolutions == 0 ? kRetryRevolutions
                                         : static_cast<uint16_t>(std::min(revolutions, kMostRevolutions));
}

DiskError GreaseweazleDrive::Reach(uint16_t cylinder, uint8_t head, bool watchChange)
{
    if (const DiskError error = Spin(); error != Err::None)
        return error;
    std::optional<bool> changed;
    if (watchChange) {
        if (const gw::GwStatus status = device_->DiskChanged(changed); !status)
            return status.error();
        if (changed.value_or(false))
            ForgetMedium();
    }
    if (cylinder_ != cylinder) {
        if (const gw::GwStatus status = device_->Seek(cylinder); !status)
            return status.error();
        cylinder_ = cylinder;
    }
    if (head != head_) {
        if (const gw::GwStatus status = device_->Head(head); !status)
            return status.error();
        head_ = head;
    }
    return Err::None;
}

bool GreaseweazleDrive::IsDriveReady()
{
    if (Spin() != Err::None)
        return false;
    std::optional<bool> changed;
    if (!device_->DiskChanged(changed))
        return false;
    if (changed && !*changed)
        return true;
    if (changed) {
        // The line stays low until a step finds a diskette in the drive.
        ForgetMedium();
        const int back = cylinder_.value_or(0);
        if (!device_->Seek(back == 0 ? 1 : 0) || !device_->Seek(back))
            return false;
        cylinder_ = back;
        return device_->DiskChanged(changed) && changed && !*changed;
    }
    // No disk change line on this device: a diskette is there when the index pulse comes.
    gw::FluxRead flux;
    const auto ticks = static_cast<uint32_t>(RevolutionTicks() * 11 / 10);
    return device_->ReadFlux({0, ticks}, flux) && !flux.indexes.empty();
}

DiskError GreaseweazleDrive::Capture(uint16_t cylinder, uint8_t head, uint16_t revolutions, uint64_t ticks,
                                     Track& track)
{
    // A read-back follows its write within one request: no diskette was changed between.
    if (const DiskError error = Reach(cylinder, head, ticks == 0); error != Err::None)
        return error;
    const std::vector<DataRate> rates = RatesToTry();
    if (ticks == 0) {
        uint64_t longest = 0;
        for (const DataRate rate : rates)
            longest = std::max(longest, SectorTicks(rate));
        ticks = revolutions * RevolutionTicks() + longest;
    }
    gw::FluxRead flux;
    const gw::ReadRequest request{0, static_cast<uint32_t>(std::min<uint64_t>(ticks, UINT32_MAX))};
    if (const gw::GwStatus status = device_->ReadFlux(request, flux); !status)
        return status.error();
    // No index pulse in a whole turn: no diskette, or a drive that does not turn.
    if (flux.indexes.empty() && ticks >= RevolutionTicks())
        return Err::NotReady;
    if (flux.indexes.size() >= 2)
        measuredRevolution_ = flux.indexes[1] - flux.indexes[0];
    const CaptureRead read{static_cast<double>(device_->info().sampleHz), RevolutionTicks(), Rpm(),
                           IdOf(cylinder, head, SizeCode())};
    std::optional<Track> decoded = DecodeCapture(flux, read, rates);
    if (!decoded)
        return Err::SectorNotFound;
    track = std::move(*decoded);
    return Err::None;
}

DiskError GreaseweazleDrive::ReadTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                       const Track*& track)
{
    const TrackKey key{cylinder, head};
    const auto usable = [&](const Track& t) {
        return t.formatted() && (!params_ || t.rate == RatesToTry().front());
    };
    // Whether every sector asked for read well; `weak` tells one that was found but read badly.
    const auto wanted = [&](const Track& t, bool& weak) {
        weak = false;
        if (!usable(t))
            return false;
        bool all = true;
        for (uint16_t i = 0; i < count; ++i) {
            const SectorRecord* s = FindSector(t, cylinder, head, static_cast<uint8_t>(first + i + 1));
            all = all && s && !s->dataError;
            weak = weak || (s && s->dataError);
        }
        return all;
    };
    bool weak = false;
    auto known = read_.find(key);
    if (known != read_.end() && wanted(known->second, weak)) {
        track = &known->second;
        return Err::None;
    }
    // A track not read yet takes one turn. One that read badly is read again over more turns
    // at once, as a controller retries, and again at each retry; what read well stays.
    for (int pass = 0; pass < 2; ++pass) {
        const bool again = known != read_.end() && usable(known->second);
        Track fresh;
        if (const DiskError error = Capture(cylinder, head, again ? retryRevolutions_ : 1, 0, fresh);
            error != Err::None)
            return error;
        if (again)
            MergeTrackReads(known->second, fresh);
        else
            known = read_.insert_or_assign(key, std::move(fresh)).first;
        if (again || wanted(known->second, weak) || !weak)
            break;
    }
    track = &known->second;
    return Err::None;
}

DiskError GreaseweazleDrive::ReadBootSector(std::vector<uint8_t>& sector)
{
    const Track* track = nullptr;
    if (const DiskError error = ReadTrack(0, 0, 0, 1, track); error != Err::None)
        return error;
    const SectorRecord* boot = FindSector(*track, 0, 0, 1);
    if (!boot)
        return Err::SectorNotFound;
    if (boot->dataError)
        return Err::BadCrc;
    sector = boot->data;
    sector.resize(std::max<size_t>(sector.size(), kSectorSize), 0);
    return Err::None;
}

DiskError GreaseweazleDrive::TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                                           std::span<uint8_t> buffer, bool write)
{
    if (BeyondDrive(cylinder, head))
        return Err::EndOfDisk;
    // A write rewrites the whole track: every sector it keeps is read first, a weak one over
    // more turns, so that what can be read of it is what is written back.
    const Track* track = nullptr;
    const uint16_t wholeTrack = params_ ? params_->sectorsPerTrack() : 0;
    DiskError result = ReadTrack(cylinder, head, write ? 0 : first, write ? wholeTrack : count, track);
    if (result != Err::None)
        return result;
    if (!track->formatted())
        return Err::SectorNotFound;
    const uint16_t bytesPerSector = params_ ? params_->bytesPerSector() : kSectorSize;
    Track changed = *track;
    for (uint16_t i = 0; i < count && result == Err::None; ++i) {
        const auto number = static_cast<uint8_t>(first + i + 1);
        SectorRecord* s = FindSector(changed, cylinder, head, number);
        std::span<uint8_t> data = buffer.subspan(size_t{i} * bytesPerSector, bytesPerSector);
        if (!s || s->size() != bytesPerSector)
            result = Err::SectorNotFound;
        else if (write) {
            s->data.assign(data.begin(), data.end());
            s->dataError = false;
        } else if (s->dataError)
            result = Err::BadCrc;
        else
            std::copy_n(s->data.begin(), data.size(), data.begin());
    }
    if (!write || result != Err::None)
        return result;
    // Rewriting a track with its own bytes (the write-protect probe does) changes nothing.
    if (std::ranges::equal(changed.sectors, track->sectors, [](const SectorRecord& a, const SectorRecord& b) {
            return a.number == b.number && a.dataError == b.dataError && a.data == b.data;
        })) {
        bool protectedTab = false;
        if (const gw::GwStatus status = device_->WriteProtected(protectedTab); !status)
            return status.error();
        return protectedTab ? Err::WriteProtect : Err::None;
    }
    Written written;
    if (const DiskError error = WriteWholeTrack(cylinder, head, changed, written); error != Err::None)
        return error;
    return ReadBack(written);
}

DiskError GreaseweazleDrive::WriteWholeTrack(uint16_t cylinder, uint8_t head, const Track& track, Written& written)
{
    const mfm::EncodedTrack encoded = EncodeMediumTrack(track, kind_);
    if (!encoded.ok())
        return Err::SectorNotFound;
    // The whole track is written anew: nothing read from the diskette before goes into it.
    if (const DiskError error = Reach(cylinder, head, false); error != Err::None)
        return error;
    const mfm::Recording recording = RecordingOf(track.rate, kind_);
    const double tickHz = device_->info().sampleHz;
    mfm::TrackFlux flux = mfm::CellsToFlux(encoded.cells, recording, tickHz, 1);
    read_.erase({cylinder, head});
    const gw::GwStatus status = device_->WriteFlux(flux.revolutions.front().intervals, {true, true});
    if (!status)
        return status.error();
    const size_t lastEnd = encoded.addressMarks.empty()
                               ? 0
                               : encoded.addressMarks.back() +
                                     16 * (DriveMechanics::kSectorFraming - 12 + track.sectors.back().size() +
                                           kReadBackTailBytes);
    written = Written{{cylinder, head}, track,
                      static_cast<uint64_t>(static_cast<double>(lastEnd) * tickHz / mfm::CellsPerSecond(recording))};
    return Err::None;
}

DiskError GreaseweazleDrive::ReadBack(const Written& written)
{
    const auto [cylinder, head] = written.key;
    Track read;
    // The write ended at the index: a read begun at once sees the track from its start.
    DiskError error = Capture(cylinder, head, 1, written.endTicks, read);
    // A sector that did not read as written is read over more turns: a weak spot of the
    // diskette reads badly in some turns whatever was written over it.
    if (error == Err::None && !ReadsAsWritten(read, written.track)) {
        Track again;
        error = Capture(cylinder, head, retryRevolutions_, 0, again);
        MergeTrackReads(read, again);
    }
    if (error != Err::None)
        return error;
    if (!ReadsAsWritten(read, written.track))
        return Err::WriteFault;
    read_.insert_or_assign(written.key, read);
    return Err::None;
}

DiskError GreaseweazleDrive::VerifyTrack(uint16_t cylinder, uint8_t head)
{
    if (!params_)
        return Err::InvalidFunction;
    if (BeyondDrive(cylinder, head))
        return Err::EndOfDisk;
    // A track read since the volume was taken, by a read or by the read-back of its format
    // or write, is what the medium holds.
    const Track* read = nullptr;
    if (const DiskError error = ReadTrack(cylinder, head, 0, params_->sectorsPerTrack(), read); error != Err::None)
        return error;
    if (read->rate != RatesToTry().front())
        return Err::SectorNotFound;
    for (uint16_t r = 1; r <= params_->sectorsPerTrack(); ++r) {
        const SectorRecord* s = FindSector(*read, cylinder, head, static_cast<uint8_t>(r));
        if (!s || s->size() != params_->bytesPerSector())
            return Err::SectorNotFound;
        if (s->dataError)
            return Err::BadCrc;
    }
    return Err::None;
}

DiskError GreaseweazleDrive::FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                                         bool bios)
{
    const auto sectors = static_cast<uint16_t>(addressFields.size() / 4);
    if (BeyondDrive(cylinder, head))
        return Err::EndOfDisk;
    const DataRate rate = RateForSectorsPerTrack(sectors, kind_ == DriveKind::Floppy525HD);
    if (!DriveKindSupports(kind_, rate))
        return Err::SectorNotFound;
    const Track track = FormattedTrack(addressFields, rate, table_, bios);
    Written written;
    if (const DiskError error = WriteWholeTrack(cylinder, head, track, written); error != Err::None)
        return error;
    // Read back at once: the head is at the track's start, and the next track's write waits
    // for the index anyway.
    const DiskError error = ReadBack(written);
    return error == Err::WriteFault ? Err::SectorNotFound : error;
}

DiskError GreaseweazleDrive::TakeVolume()
{
    // Another program may have changed the diskette since; without a change line nothing says so.
    ForgetMedium();
    return Err::None;
}

DiskError GreaseweazleDrive::ReleaseVolume()
{
    ForgetMedium();
    return Err::None;
}

DriveBinding GreaseweazleBinding(char letter, const std::string& device, DriveKind kind)
{
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - 0x40);
    return DriveBinding{letter, SystemDriveType::Removable, device,
                        [device, kind, number] { return GreaseweazleDrive::Open(device, kind, number); }};
}

}  // namespace vokta
