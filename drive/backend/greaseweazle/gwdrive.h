// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/backend/greaseweazle/greaseweazle.h"
#include "drive/dosblockdevice.h"
#include "drive/drivetable.h"
#include "mfm/decode.h"

namespace vokta {

// A capture as the decoder takes it: the whole turns from the first index pulse on, and
// apart from them the part before that pulse, which the end of a capture longer than a turn
// overlaps. The two are no one stream: a data field of the one never goes with an address
// field of the other.
struct CaptureTurns {
    mfm::TrackFlux turns;
    mfm::TrackFlux lead;
    uint64_t leadTicks = 0;  // how far from the index the lead begins
};
CaptureTurns TurnsOfCapture(const gw::FluxRead& read, double tickHz, uint64_t revolutionTicks);

// How a capture was taken, and the track it is of.
struct CaptureRead {
    double tickHz = 72e6;
    uint64_t revolutionTicks = 0;
    uint32_t rpm = 300;
    mfm::TrackId id;
};
// The track a capture shows, at the first of `rates` where it shows a sector (unformatted
// at the last); nothing when the flux is no recording at all.
std::optional<Track> DecodeCapture(const gw::FluxRead& flux, const CaptureRead& how, std::span<const DataRate> rates);

// `from`, a newer read of the track, in `into`: its sectors in the order it found them, but
// those it read badly that `into` holds read well; sectors only `into` found are kept.
void MergeTrackReads(Track& into, const Track& from);

// A diskette drive on a Greaseweazle: every track is read as flux and decoded here, and
// written and formatted as flux this side encoded, so every density and sector order
// lands exactly as asked. A read takes one revolution from wherever the disk stands, not
// waiting for the index; a track written or formatted is read back and compared at once.
class GreaseweazleDrive final : public DosBlockDevice {
public:
    static DriveOpenResult Open(const std::string& path, DriveKind kind, uint8_t driveNumber);
    static DriveOpenResult Attach(std::unique_ptr<gw::GreaseweazleDevice> device, DriveKind kind,
                                  uint8_t driveNumber);
    ~GreaseweazleDrive() override;
    GreaseweazleDrive(const GreaseweazleDrive&) = delete;
    GreaseweazleDrive& operator=(const GreaseweazleDrive&) = delete;

    bool IsDriveReady() override;
    bool InstallParameterTable(const DisketteParameterTable& table) override;
    bool RestoreParameterTable() override;
    bool Recalibrate() override;
    bool SeekHead(uint16_t cylinder) override;
    void SetRetryRevolutions(unsigned revolutions) override;

protected:
    uint8_t DeviceType() const override { return DeviceTypeOf(kind_); }
    MediaType NativeMedia() const override;
    DiskError ReadBootSector(std::vector<uint8_t>& sector) override;
    DiskError TransferTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count,
                            std::span<uint8_t> buffer, bool write) override;
    DiskError VerifyTrack(uint16_t cylinder, uint8_t head) override;
    DiskError FormatTrack(uint16_t cylinder, uint8_t head, std::span<const uint8_t> addressFields,
                          bool bios) override;
    DiskError TakeVolume() override;
    DiskError ReleaseVolume() override;

private:
    using TrackKey = std::pair<uint16_t, uint8_t>;
    // A track as written, so that its read-back can start at once and stop at its end.
    struct Written {
        TrackKey key;
        Track track;
        uint64_t endTicks = 0;  // from the index to the end of the last data field
    };

    GreaseweazleDrive(std::unique_ptr<gw::GreaseweazleDevice> device, DriveKind kind, uint8_t driveNumber);

    // Motor on, head over the track; with `watchChange`, a diskette change forgets what was read.
    DiskError Reach(uint16_t cylinder, uint8_t head, bool watchChange = true);
    DiskError Spin();
    void ForgetMedium();
    // One capture of the track decoded at the rate the parameters set, or at each rate the
    // drive reads while none are set. `ticks` bounds it; 0 reads `revolutions` whole turns
    // from wherever the disk stands.
    DiskError Capture(uint16_t cylinder, uint8_t head, uint16_t revolutions, uint64_t ticks, Track& track);
    // The track as read, from what this operation read already when its sectors are good.
    DiskError ReadTrack(uint16_t cylinder, uint8_t head, uint16_t first, uint16_t count, const Track*& track);
    DiskError WriteWholeTrack(uint16_t cylinder, uint8_t head, const Track& track, Written& written);
    // Reads a write back; WriteFault when it does not read as written.
    DiskError ReadBack(const Written& written);
    std::vector<DataRate> RatesToTry() const;
    uint8_t SizeCode() const;
    uint64_t RevolutionTicks() const;
    // A 5¼" high-density drive turns at 360 rpm whatever the diskette, the others at 300.
    uint32_t Rpm() const;
    // Ticks one sector takes from its address mark's sync to the end of its data CRC.
    uint64_t SectorTicks(DataRate rate) const;

    std::unique_ptr<gw::GreaseweazleDevice> device_;
    DriveKind kind_;
    bool spinning_ = false;
    std::optional<int> cylinder_;  // where the head is, once known
    std::optional<uint8_t> head_;
    uint64_t measuredRevolution_ = 0;  // index to index as last seen
    // Turns a failing track is read again over, merged with what was read before.
    static constexpr uint16_t kRetryRevolutions = 3;
    uint16_t retryRevolutions_ = kRetryRevolutions;
    std::optional<DisketteParameterTable> table_;
    std::map<TrackKey, Track> read_;  // tracks read since the volume was taken
};

// `letter` bound to the Greaseweazle on the serial device `device`, its drive of `kind`.
DriveBinding GreaseweazleBinding(char letter, const std::string& device, DriveKind kind);

}  // namespace vokta
