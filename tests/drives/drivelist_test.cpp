// SPDX-License-Identifier: GPL-3.0-or-later
// The entries of a drive selector: what each kind of drive is called, which drives a
// selector's settings leave out, and which entry a refill selects.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "drive/backend/files/virtualdrive.h"
#include "drives/drivelist.h"
#include "drives/systemdrives.h"
#include "support/clirun.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using Entries = std::vector<std::string>;

struct FakeDrive {
    char letter;
    SystemDriveType type;
    int deviceType = -1;
    std::optional<std::string> label{};
    std::optional<std::string> remoteName{};
};

// The system as a test describes it; an answer left out is a failed query.
class FakeQuery final : public SystemDriveQuery {
public:
    explicit FakeQuery(std::vector<FakeDrive> drives) : drives_(std::move(drives)) {}
    std::vector<SystemDrive> Drives() const override
    {
        std::vector<SystemDrive> roots;
        for (const FakeDrive& d : drives_)
            roots.push_back({d.letter, d.type});
        return roots;
    }
    int DeviceType(char letter) const override { return Find(letter).deviceType; }
    std::optional<std::string> VolumeLabel(char letter) const override { return Find(letter).label; }
    std::optional<std::string> RemoteName(char letter) const override { return Find(letter).remoteName; }

private:
    const FakeDrive& Find(char letter) const
    {
        return *std::find_if(drives_.begin(), drives_.end(), [&](const FakeDrive& d) { return d.letter == letter; });
    }
    std::vector<FakeDrive> drives_;
};

constexpr DriveListSettings kHardDisksHidingSubst{.hideSubstDrives = true, .enableHardDisks = true};
constexpr DriveListSettings kHardDisksShowingSubst{.hideSubstDrives = false, .enableHardDisks = true};

// Two diskette drives, two unlabelled disks, a labelled disk and a SUBST drive made on it.
const FakeQuery kOffice({
    {'A', SystemDriveType::Removable, 7},
    {'B', SystemDriveType::Removable, 7},
    {'C', SystemDriveType::Fixed, -1},
    {'D', SystemDriveType::Fixed, -1},
    {'E', SystemDriveType::Fixed, -1, "SYSTEM"},
    {'F', SystemDriveType::Fixed, -1, "SYSTEM"},
});

Entries Listed(const FakeQuery& query, const DriveListSettings& settings, bool noHardDisks = false)
{
    return ListDrives(query, DriveSelectorMask(settings, noHardDisks));
}

}  // namespace

TEST(DriveList, HidingSubstDrivesLeavesOutFixedDisksWhoseDescriptionRepeats)
{
    // D: reads " " from the fourth character on, as C: does; F: shows E:'s label. Two
    // diskette drives of one kind are no SUBST drives: only fixed disks are compared.
    EXPECT_EQ(Listed(kOffice, kHardDisksHidingSubst),
              (Entries{"A:  FLOPPY 3½ 1.44M", "B:  FLOPPY 3½ 1.44M", "C:  ", "E:  SYSTEM"}));
    EXPECT_EQ(Listed(kOffice, kHardDisksShowingSubst),
              (Entries{"A:  FLOPPY 3½ 1.44M", "B:  FLOPPY 3½ 1.44M", "C:  ", "D:  ", "E:  SYSTEM", "F:  SYSTEM"}));
}

TEST(DriveList, FixedDisksOnlyWhenEnabledAndThePageAllowsThem)
{
    const Entries diskettes{"A:  FLOPPY 3½ 1.44M", "B:  FLOPPY 3½ 1.44M"};
    EXPECT_EQ(Listed(kOffice, DriveListSettings{}), diskettes);
    EXPECT_EQ(Listed(kOffice, kHardDisksShowingSubst, true), diskettes);
}

TEST(DriveList, WithoutDescriptionsAnEntryIsTheLetterAndTheColon)
{
    const uint32_t mask = DriveTypeBit(SystemDriveType::Removable) | DriveTypeBit(SystemDriveType::Fixed);
    EXPECT_EQ(ListDrives(kOffice, mask), (Entries{"A:", "B:", "C:", "D:", "E:", "F:"}));
}

TEST(DriveList, RemovableDrivesAreDescribedByTheirDeviceType)
{
    const std::pair<int, std::string> rows[] = {
        {0, "A:  FLOPPY 5¼ 360K"}, {1, "A:  FLOPPY 5¼ 1.2M"},     {2, "A:  FLOPPY 3½ 720K"},
        {3, "A:  "},               {4, "A:  "},                   {5, "A:  REMOVABLE HARD DISK"},
        {6, "A:  TAPE"},           {7, "A:  FLOPPY 3½ 1.44M"},    {8, "A:  REMOVABLE OPTICAL"},
        {9, "A:  FLOPPY 3½ 2.88M"}, {10, "A:  "},                 {-1, "A:  "},
    };
    for (const auto& [deviceType, entry] : rows) {
        SCOPED_TRACE(deviceType);
        EXPECT_EQ(Listed(FakeQuery({{'A', SystemDriveType::Removable, deviceType}}), DriveListSettings{}), Entries{entry});
    }
}

TEST(DriveList, NetworkDrivesShowTheirRemoteNameShortenedToFit)
{
    const uint32_t mask = DriveTypeBit(SystemDriveType::Remote) | kDescribeDrives;
    const FakeQuery query({
        {'N', SystemDriveType::Remote, -1, {}, "//server/share"},
        {'O', SystemDriveType::Remote, -1, {}, "fileserver.example.org:/export/home/users"},
        {'P', SystemDriveType::Remote, -1, {}, "//ß-server/ß-ß-ß-ß-ß-ß-ß-ß-ß-ß-ß-ß"},
        {'Q', SystemDriveType::Remote},
    });
    EXPECT_EQ(ListDrives(query, mask), (Entries{
                                           "N:  //server/share",
                                           "O:  fileserver.example.org:/...",
                                           "P:  //ß-server/ß-ß-ß-ß-ß-ß-ß...",  // 31 characters, not bytes
                                           "Q:  NETWORK",
                                       }));
}

TEST(DriveList, LongLabelsAreCutToTheEntryLength)
{
    const FakeQuery query({{'C', SystemDriveType::Fixed, -1, "A LABEL FAR LONGER THAN AN ENTRY HOLDS"}});
    EXPECT_EQ(Listed(query, kHardDisksHidingSubst), Entries{"C:  A LABEL FAR LONGER THAN AN "});
}

TEST(DriveList, OtherDriveTypesOnlyWithTheirOwnBits)
{
    const FakeQuery query({
        {'A', SystemDriveType::Removable, 2},
        {'G', SystemDriveType::CdRom},
        {'H', SystemDriveType::RamDisk},
        {'I', SystemDriveType::Unknown},
        {'J', SystemDriveType::NoRoot},
        {'K', SystemDriveType::Remote},
    });
    EXPECT_EQ(Listed(query, kHardDisksShowingSubst), Entries{"A:  FLOPPY 3½ 720K"});
    EXPECT_EQ(ListDrives(query, 0x7F | kDescribeDrives),
              (Entries{"A:  FLOPPY 3½ 720K", "G:  CD-ROM", "H:  RAM DISK", "I:  UNKNOWN", "J:  UNKNOWN", "K:  NETWORK"}));
}

TEST(DriveSelector, ReselectsTheDriveChosenLastIgnoringCase)
{
    const auto selected = [](const std::string& current, const DriveListSettings& settings = kHardDisksHidingSubst) {
        return FillDriveSelector(kOffice, settings, false, current).selected;
    };
    EXPECT_EQ(selected("b:  floppy 3½ 1.44M"), 1u);
    EXPECT_EQ(selected("E:  SYSTEM"), 3u);
    EXPECT_EQ(selected(""), 0u);
    // A drive this selector does not list leaves the first entry selected.
    EXPECT_EQ(selected("F:  SYSTEM"), 0u);
    EXPECT_EQ(selected("E:  SYSTEM", DriveListSettings{}), 0u);
    EXPECT_EQ(FillDriveSelector(FakeQuery({}), kHardDisksHidingSubst, false, "A:").selected, std::nullopt);
}

TEST(DriveTableQuery, MachineDrivesTakeTheFreeLettersFromC)
{
    TempDir dir;
    DriveTable table;
    table.Bind(VirtualDriveBinding('A', dir.File("a.img"), DriveKind::Floppy35DD));
    table.Bind(VirtualDriveBinding('D', dir.File("d.img"), DriveKind::Floppy525HD));
    const DriveTableQuery query(table, {
                                           {SystemDriveType::Fixed, "sda", "DATA"},
                                           {SystemDriveType::Fixed, "sdb"},
                                           {SystemDriveType::CdRom, "sr0"},
                                           {SystemDriveType::Remote, "/mnt/x", {}, "server:/x"},
                                       });
    EXPECT_EQ(ListDrives(query, 0x7F | kDescribeDrives),
              (Entries{"A:  FLOPPY 3½ 720K", "C:  DATA", "D:  FLOPPY 5¼ 1.2M", "E:  ", "F:  CD-ROM", "G:  server:/x"}));
    EXPECT_EQ(query.Path('A'), dir.File("a.img"));
    EXPECT_EQ(query.Path('C'), "/dev/sda");
    EXPECT_EQ(query.Path('G'), "/mnt/x");
    EXPECT_EQ(query.Path('H'), "");
}

// A sysfs tree as the kernel lays it out: each disk below its SCSI host, below the USB
// interface (or the controller) it hangs off, and /sys/block holding links to the disks.
class FakeSysfs {
public:
    // A disk on a USB interface of mass-storage subclass `subclass` ("04" UFI, "06" SCSI),
    // or on no USB interface when `subclass` is empty.
    void Disk(const std::string& name, const std::string& removable, const std::string& subclass)
    {
        namespace fs = std::filesystem;
        const std::string port = std::to_string(++disks_);
        std::string parent = subclass.empty() ? "devices/pci0000:00/ata" + port
                                              : "devices/pci0000:00/usb1/1-" + port + "/1-" + port + ":1.0";
        fs::create_directories(dir.File(parent));
        if (!subclass.empty()) {
            std::ofstream(dir.File(parent + "/bInterfaceClass")) << "08\n";
            std::ofstream(dir.File(parent + "/bInterfaceSubClass")) << subclass << "\n";
        }
        const std::string disk = parent + "/host" + port + "/target" + port + ":0:0/" + port + ":0:0:0/block/" + name;
        fs::create_directories(dir.File(disk));
        std::ofstream(dir.File(disk + "/removable")) << removable << "\n";
        fs::create_directories(dir.File("block"));
        fs::create_symlink("../" + disk, dir.File("block/" + name));
    }
    void KernelFloppy(const std::string& name) { std::filesystem::create_directories(dir.File("block/" + name)); }
    std::vector<DisketteDevice> Found(const std::vector<std::string>& flux = {}) const
    {
        return FindDisketteDevices({dir.File("block"), "/dev"}, flux);
    }

    TempDir dir;

private:
    int disks_ = 0;
};

using Usb = DisketteDevice::Driver;

TEST(DisketteDevices, OnlyRemovableDisksOnAUfiInterfaceAreUsbFloppyDrives)
{
    FakeSysfs sysfs;
    sysfs.Disk("sda", "0", "");      // the system disk
    sysfs.Disk("sdb", "1", "06");    // a USB stick: SCSI transparent subclass
    sysfs.Disk("sdc", "1", "04");    // a USB floppy drive
    sysfs.Disk("sdd", "1", "");      // a card reader on the system bus
    sysfs.Disk("sde", "0", "04");    // not removable: no diskette drive
    sysfs.Disk("sdaa", "1", "04");   // named after sdz, so found after sdc
    EXPECT_EQ(sysfs.Found(), (std::vector<DisketteDevice>{{'A', "/dev/sdc", Usb::UsbFloppy},
                                                          {'B', "/dev/sdaa", Usb::UsbFloppy}}));
    EXPECT_FALSE(IsUsbFloppyDevice(sysfs.dir.File("block"), "sdb"));
    EXPECT_TRUE(IsRemovableScsiDisk(sysfs.dir.File("block"), "sdb"));
    EXPECT_FALSE(IsRemovableScsiDisk(sysfs.dir.File("block"), "sda"));
}

TEST(DisketteDevices, UsbFloppyDrivesTakeTheLettersTheKernelFloppyDrivesLeaveFree)
{
    const DisketteDevice fd0{'A', "/dev/fd0", Usb::KernelFloppy};
    const DisketteDevice fd1{'B', "/dev/fd1", Usb::KernelFloppy};
    {
        FakeSysfs sysfs;
        sysfs.Disk("sdb", "1", "04");
        sysfs.KernelFloppy("fd0");
        EXPECT_EQ(sysfs.Found(), (std::vector<DisketteDevice>{fd0, {'B', "/dev/sdb", Usb::UsbFloppy}}));
        sysfs.KernelFloppy("fd1");
        EXPECT_EQ(sysfs.Found(), (std::vector<DisketteDevice>{fd0, fd1}));  // no letter left
    }
    FakeSysfs sysfs;
    sysfs.Disk("sdb", "1", "04");
    sysfs.KernelFloppy("fd1");
    EXPECT_EQ(sysfs.Found(), (std::vector<DisketteDevice>{{'A', "/dev/sdb", Usb::UsbFloppy}, fd1}));
}

TEST(DisketteDevices, FluxInterfacesTakeWhatTheFloppyDrivesLeaveFree)
{
    const DisketteDevice gw0{'A', "/dev/ttyACM0", Usb::Greaseweazle};
    const std::vector<std::string> flux{"/dev/ttyACM0", "/dev/ttyACM1"};
    FakeSysfs sysfs;
    EXPECT_EQ(sysfs.Found(flux), (std::vector<DisketteDevice>{gw0, {'B', "/dev/ttyACM1", Usb::Greaseweazle}}));
    sysfs.Disk("sdb", "1", "04");
    EXPECT_EQ(sysfs.Found(flux), (std::vector<DisketteDevice>{{'A', "/dev/sdb", Usb::UsbFloppy},
                                                              {'B', "/dev/ttyACM0", Usb::Greaseweazle}}));
    sysfs.KernelFloppy("fd0");
    EXPECT_EQ(sysfs.Found(flux), (std::vector<DisketteDevice>{{'A', "/dev/fd0", Usb::KernelFloppy},
                                                              {'B', "/dev/sdb", Usb::UsbFloppy}}));
}

TEST(MachineDrives, DisksOpticalDrivesRamDisksAndNetworkMounts)
{
    TempDir dir;
    namespace fs = std::filesystem;
    const auto device = [&](const std::string& name, const std::string& removable, const std::string& size) {
        fs::create_directories(dir.File("block/" + name));
        std::ofstream(dir.File("block/" + name + "/removable")) << removable << "\n";
        std::ofstream(dir.File("block/" + name + "/size")) << size << "\n";
    };
    device("sdb", "0", "2048");
    device("sda", "0", "2048");
    device("sdc", "1", "2880");  // a USB diskette drive: removable
    device("fd0", "1", "2880");
    device("loop0", "0", "0");
    device("loop1", "0", "2880");
    device("sr0", "1", "0");
    device("zram0", "0", "1024");
    fs::create_directories(dir.File("labels"));
    fs::create_symlink("../../sdb", dir.File("labels/MY\\x20DISK"));
    fs::create_symlink("../../sda1", dir.File("labels/PART"));  // a partition's, not the disk's
    std::ofstream(dir.File("mounts")) << "/dev/sda1 / ext4 rw 0 0\n"
                                         "server:/export/a\\040b /mnt/a nfs4 rw 0 0\n"
                                         "//host/share /mnt/s cifs rw 0 0\n"
                                         "proc /proc proc rw 0 0\n";

    MachineDriveSources sources{dir.File("block"), dir.File("labels"), dir.File("mounts")};
    const DriveTable table;
    const std::vector<MachineDrive> found = MachineDrives(sources);
    EXPECT_EQ(ListDrives(DriveTableQuery(table, found), 0x7F | kDescribeDrives | kListAllFixedDisks),
              (Entries{"C:  ", "D:  MY DISK", "E:  CD-ROM", "F:  RAM DISK", "G:  server:/export/a b", "H:  //host/share"}));

    sources.loopDevices = true;
    ASSERT_EQ(MachineDrives(sources).size(), found.size() + 1);
    EXPECT_EQ(MachineDrives(sources)[0].name, "loop1");
}

TEST(DrivesCommand, ListsTheEntriesOfADriveSelector)
{
    TempDir dir;
    const CliRun run = RunCli(VOKTA_CLI, "--drive A:=a.img,type=720k --drive B:=b.img drives", dir);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out.starts_with("A:  FLOPPY 3½ 720K\nB:  FLOPPY 3½ 1.44M\n")) << run.out;

    const CliRun paths = RunCli(VOKTA_CLI, "--drive A:=a.img,type=720k --drive B:=b.img drives --paths", dir);
    EXPECT_TRUE(paths.out.starts_with("A:  FLOPPY 3½ 720K\ta.img\nB:  FLOPPY 3½ 1.44M\tb.img\n")) << paths.out;
}
