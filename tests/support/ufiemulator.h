// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <optional>
#include <vector>

#include "drive/backend/emulated/emulatedmedium.h"
#include "drive/backend/usbfloppy/ufi.h"
#include "drive/drivetable.h"

namespace vokta::test {

// What a USB floppy drive formats, by the density of the diskette in it.
struct UfiDriveModel {
    std::vector<Ufi::Capacity> high{{2880, 512}};
    std::vector<Ufi::Capacity> low{{1440, 512}};
    Ufi::Capacity maximum{2880, 512};
    bool formats = true;  // false: it reads and writes these, and lists none to format

    // A drive that also takes the 1.2M diskettes of 512- and 1024-byte sectors.
    static UfiDriveModel ThreeMode();
};

// A USB floppy drive as seen through its command blocks: it answers the UFI commands
// over an in-memory diskette, reports conditions in sense data (no diskette, a diskette
// change, a reset, protection, unreadable sectors), formats only the capacities of its
// model, and logs every command block with the data sent along.
class UfiEmulator final : public ScsiTransport {
public:
    explicit UfiEmulator(UfiDriveModel model = {});

    // A new diskette; the next command learns of the change, unless someone else (the
    // disk driver's polling) took the drive's word of it first.
    void Insert(EmulatedMedium medium, bool announced = true);
    std::optional<EmulatedMedium> Eject();
    EmulatedMedium* medium() { return medium_ ? &*medium_ : nullptr; }
    // The drive was reset: the next command says so.
    void Reset() { attention_ = Ufi::Sense{Ufi::SenseKey::UnitAttention, 0x29, 0}; }

    struct Logged {
        Ufi::Cdb cdb{};
        std::vector<uint8_t> sent;  // the data phase out to the drive
        Ufi::Sense answer;          // no sense: the command succeeded
    };
    const std::vector<Logged>& log() const { return log_; }
    void ClearLog() { log_.clear(); }
    // The commands logged with this operation code.
    std::vector<Logged> Commands(uint8_t op) const;

    // The cylinder the head stands over: reads, verifies, seeks and rezeroes move it.
    uint16_t headCylinder() const { return headCylinder_; }
    // Faults and ways of real drives and paths.
    bool autoSense = true;      // the path fetches the sense data with a failure (usb-storage does)
    bool lacksVerify = false;   // VERIFY is refused as an unknown command
    bool heldElsewhere = false; // another program holds the device exclusively
    // The next command `failOp` fails with this sense, even one that says nothing is wrong.
    std::optional<Ufi::Sense> failNext;
    uint8_t failOp = Ufi::Op::Read10;

    ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                    unsigned timeoutMs) override;
    int Hold(bool exclusive) override;
    bool HeldElsewhere() const override { return heldElsewhere && !exclusive_; }

    // A transport for a drive object that leaves the emulator with the test.
    static std::unique_ptr<ScsiTransport> Connect(std::shared_ptr<UfiEmulator> emulator);

private:
    Ufi::Sense Execute(const Ufi::Cdb& cdb, std::span<uint8_t> data, size_t& moved);
    Ufi::Sense Transfer(uint32_t lba, uint16_t blocks, std::span<uint8_t> data, size_t& moved, uint8_t op);
    Ufi::Sense Seek(uint32_t lba);
    Ufi::Sense Format(const Ufi::Cdb& cdb, std::span<const uint8_t> list);
    Ufi::CapacityList Capacities() const;
    const std::vector<Ufi::Capacity>& Formattable() const;
    // The format the drive finds on the diskette: from its first track.
    std::optional<Ufi::Capacity> Recognize() const;

    UfiDriveModel model_;
    std::optional<EmulatedMedium> medium_;
    std::optional<Ufi::Capacity> recorded_;
    std::optional<Ufi::Sense> attention_;
    Ufi::Sense last_;
    bool exclusive_ = false;
    std::vector<Logged> log_;
    uint16_t headCylinder_ = 0;
};

// Binds `letter` of `table` to a USB floppy drive on the emulator: each drive object opened
// on the letter is a new one, as each operation opens the device anew.
void BindUsbFloppy(DriveTable& table, char letter, const std::shared_ptr<UfiEmulator>& emulator);

}  // namespace vokta::test
