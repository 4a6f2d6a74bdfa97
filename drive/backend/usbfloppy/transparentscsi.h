// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "drive/backend/usbfloppy/ufi.h"

namespace vokta {

// The path to a USB disk that holds a diskette but speaks the SCSI transparent command set
// rather than UFI (interface subclass 06h, as QEMU's usb-storage device does). Such a disk
// answers what reading and writing a diskette needs — INQUIRY, TEST UNIT READY, REQUEST
// SENSE, MODE SENSE, READ(10), WRITE(10), VERIFY — but refuses READ FORMAT CAPACITIES as an
// unknown command, and its FORMAT UNIT would format the whole medium, not one track.
// Once the disk has refused READ FORMAT CAPACITIES, this path answers that command from
// READ CAPACITY: the medium in the drive as the current, formatted capacity (a 1.44M drive's
// largest while it is empty) and no capacity to format. The USB floppy drive on it then
// reads, writes and compares the diskette and refuses to format it, and no FORMAT UNIT
// reaches the disk.
class TransparentScsiTransport final : public ScsiTransport {
public:
    explicit TransparentScsiTransport(std::unique_ptr<ScsiTransport> disk) : disk_(std::move(disk)) {}

    ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                    unsigned timeoutMs) override;
    int Hold(bool exclusive) override { return disk_->Hold(exclusive); }
    bool HeldElsewhere() const override { return disk_->HeldElsewhere(); }

    // Whether the disk has shown that it does not speak UFI.
    bool Transparent() const { return transparent_; }

private:
    ScsiOutcome CapacityListFromReadCapacity(std::span<uint8_t> data, unsigned timeoutMs);

    std::unique_ptr<ScsiTransport> disk_;
    bool transparent_ = false;
};

}  // namespace vokta
