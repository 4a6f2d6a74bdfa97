// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/drivetable.h"

namespace vokta {

// A drive root as the system reports it: its letter and its system drive type.
struct SystemDrive {
    char letter = 'A';
    SystemDriveType type = SystemDriveType::Removable;
};

// What the drive list asks the system about its drives. Every question may fail: a
// failed device-type query answers -1, a failed label or remote-name query nullopt.
class SystemDriveQuery {
public:
    virtual ~SystemDriveQuery() = default;
    // The drive roots in the order the system reports them, A: first.
    virtual std::vector<SystemDrive> Drives() const = 0;
    // The device type of a removable drive (0 to 9, as QueryDeviceType reports it).
    virtual int DeviceType(char letter) const = 0;
    // The volume label of a fixed disk; nullopt when there is none or it cannot be read.
    virtual std::optional<std::string> VolumeLabel(char letter) const = 0;
    // The remote name of a network drive's connection; nullopt when there is none.
    virtual std::optional<std::string> RemoteName(char letter) const = 0;
};

// A drive of the machine beyond the drive table: a disk, an optical drive, a RAM disk
// or a network mount.
struct MachineDrive {
    SystemDriveType type = SystemDriveType::Fixed;
    std::string name;                       // the block device, or the network mount's folder
    std::optional<std::string> label;       // a fixed disk's volume label, when it has one
    std::optional<std::string> remoteName;  // a network mount's source ("server:/export")
};

// Where the machine's drives are found; tests point it at trees of their own.
struct MachineDriveSources {
    std::string blockDevices = "/sys/block";
    std::string labels = "/dev/disk/by-label";  // readable without root, unlike the disks
    std::string mounts = "/proc/self/mounts";
    bool loopDevices = false;  // list attached loop devices as fixed disks
};

// The machine's drives in a stable order: fixed disks, optical drives and RAM disks, each
// kind by device name, then the network mounts in the order they were mounted. From the
// platform's file the build chooses (drivelist_linux.cpp: sysfs and the mount table).
std::vector<MachineDrive> MachineDrives(const MachineDriveSources& sources);

// The system's drives: the drive table's letters, and the machine's drives on the free
// letters from C: on, in their order.
class DriveTableQuery final : public SystemDriveQuery {
public:
    DriveTableQuery(const DriveTable& table, std::vector<MachineDrive> machine);
    std::vector<SystemDrive> Drives() const override;
    int DeviceType(char letter) const override;
    std::optional<std::string> VolumeLabel(char letter) const override;
    std::optional<std::string> RemoteName(char letter) const override;
    // What is behind the letter: the device or diskette file of a bound letter, the block
    // device of a disk, the folder of a network mount; "" for an emulated drive.
    std::string Path(char letter) const;

private:
    const MachineDrive* Machine(char letter) const;

    const DriveTable& table_;
    std::vector<std::pair<char, MachineDrive>> machine_;
};

// The selection mask of the drive list: bit t lists the drives of system drive type t.
constexpr uint32_t DriveTypeBit(SystemDriveType type)
{
    return 1u << static_cast<int>(type);
}
constexpr uint32_t kListAllFixedDisks = 0x80;  // no search for SUBST drives
constexpr uint32_t kDescribeDrives = 0x100;    // without it an entry is only "A:"

// Entries of a drive selector hold at most this many characters.
constexpr size_t kDriveEntryLength = 31;

// The entries of a drive selector for `mask`, in the order of the system's roots:
// letter, colon, two blanks and the description ("A:  FLOPPY 3½ 1.44M").
std::vector<std::string> ListDrives(const SystemDriveQuery& query, uint32_t mask);

// The settings that choose what a drive selector lists.
struct DriveListSettings {
    bool hideSubstDrives = true;
    bool enableHardDisks = false;
};

// The mask a page's drive selector is filled with: removable drives with their
// descriptions always, fixed disks when enabled and the page allows them.
uint32_t DriveSelectorMask(const DriveListSettings& settings, bool noHardDisks);

// A refilled drive selector: its entries and the one selected (none when it is empty).
struct DriveSelectorFill {
    std::vector<std::string> entries;
    std::optional<size_t> selected;
};

// The entry a refilled selector shows: the first that begins with `currentDriveText`
// (ignoring case), else the first; none when there are no entries.
std::optional<size_t> SelectedDriveEntry(const std::vector<std::string>& entries, const std::string& currentDriveText);

// Refills a page's drive selector and reselects the drive chosen last on any page: the
// first entry that begins with `currentDriveText` (ignoring case), else the first entry.
DriveSelectorFill FillDriveSelector(const SystemDriveQuery& query, const DriveListSettings& settings,
                                    bool noHardDisks, const std::string& currentDriveText);

}  // namespace vokta
