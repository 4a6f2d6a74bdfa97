// SPDX-License-Identifier: GPL-3.0-or-later
// The Linux floppy backend's words to the driver and the controller, and how it reads
// their answers. The raw-command path cannot run on Debian's kernel (it has no FDRAWCMD),
// so its command bytes are checked here.
#include <gtest/gtest.h>

#include <linux/fdreg.h>

#include <cerrno>

#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "drive/media.h"
#include "drive/tracklayout.h"

using namespace vokta;

namespace {

std::vector<uint8_t> Bytes(const floppy_raw_cmd& c)
{
    return std::vector<uint8_t>(c.cmd, c.cmd + c.cmd_count);
}

DriverFailure Failure(FloppyOp op, int error)
{
    DriverFailure f;
    f.op = op;
    f.error = error;
    return f;
}

}  // namespace

TEST(LinuxFloppyCommands, FormatCommandCarriesTheAddressFieldsOfTheTrack)
{
    // 1.44M, optimized layout, cylinder 1 head 1 on the second drive.
    const std::vector<uint16_t> order = OptimizedTrackOrder(18, 3, 1, 1, 1);
    std::vector<uint8_t> fields;
    for (uint16_t r : order)
        fields.insert(fields.end(), {1, 1, static_cast<uint8_t>(r), 2});
    const floppy_raw_cmd c = RawFormatCommand(1, 1, 1, false, fields, 2, 0x6C, 0xF6, 0);

    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{FD_FORMAT, 0x05, 2, 18, 0x6C, 0xF6}));
    EXPECT_EQ(c.data, fields.data());
    EXPECT_EQ(c.length, 72);
    EXPECT_EQ(c.track, 1);
    EXPECT_EQ(c.rate, 0);
    EXPECT_EQ(c.flags, unsigned{FD_RAW_WRITE | FD_RAW_INTR | FD_RAW_SPIN | FD_RAW_NEED_DISK | FD_RAW_NEED_SEEK});
    EXPECT_EQ(fields[2], 16);  // slot 0 of cylinder 1 holds sector 16
}

TEST(LinuxFloppyCommands, TwentyOneSectorFormatTakesTheTablesGapAndFiller)
{
    std::vector<uint8_t> fields(21 * 4);
    const floppy_raw_cmd c = RawFormatCommand(0, 0, 81, false, fields, 2, kDmfParameterTable[ParameterTable::FormatGap],
                                              kDmfParameterTable[ParameterTable::Filler], 0);
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{FD_FORMAT, 0x00, 2, 21, 0x13, 0xF6}));
    EXPECT_EQ(c.track, 81);
}

TEST(LinuxFloppyCommands, DoubleSteppedCylindersSeekTwiceAsFar)
{
    std::vector<uint8_t> fields(9 * 4);
    EXPECT_EQ(RawFormatCommand(0, 0, 39, true, fields, 2, 0x50, 0xF6, 1).track, 78);
    std::vector<uint8_t> buffer(512);
    const floppy_raw_cmd read = RawReadCommand(0, 1, 39, true, 3, 3, 2, 0x2A, 1, buffer);
    EXPECT_EQ(read.track, 78);
    EXPECT_EQ(read.cmd[2], 39);  // the address field still names the logical cylinder
}

TEST(LinuxFloppyCommands, ReadCommandNamesTheSectorsOfOneTrack)
{
    std::vector<uint8_t> buffer(16 * 512);
    const floppy_raw_cmd c = RawReadCommand(2, 1, 40, false, 3, 18, 2, 0x1B, 0, buffer);
    EXPECT_EQ(Bytes(c), (std::vector<uint8_t>{FD_READ, 0x06, 40, 1, 3, 2, 18, 0x1B, 0xFF}));
    EXPECT_EQ(c.length, 16 * 512);
    EXPECT_EQ(c.flags & FD_RAW_READ, unsigned{FD_RAW_READ});
    EXPECT_EQ(c.flags & FD_RAW_WRITE, 0u);
}

TEST(LinuxFloppyGeometry, EachMediumGetsItsRateGapsAndSize)
{
    struct Row {
        MediaType type;
        uint8_t deviceType;
        unsigned size, sect, track, rate, gap, fmtGap;
    };
    const Row rows[] = {
        {kMedia720K, DeviceType::Floppy144M, 1440, 9, 80, 2, 0x2A, 0x50},
        {kMedia720K, DeviceType::Floppy12M, 1440, 9, 80, 1, 0x2A, 0x50},
        {kMedia12M, DeviceType::Floppy12M, 2400, 15, 80, 0, 0x1B, 0x54},
        {kMedia144M, DeviceType::Floppy144M, 2880, 18, 80, 0, 0x1B, 0x6C},
        {kMedia168M, DeviceType::Floppy144M, 3360, 21, 80, 0, 0x1C, 0x0C},
        {kMedia172M, DeviceType::Floppy144M, 3444, 21, 82, 0, 0x1C, 0x0C},
    };
    for (const Row& r : rows) {
        const floppy_struct g = FloppyGeometryOf(GeometryOf(r.type)->ToParams(), r.deviceType, nullptr);
        SCOPED_TRACE(GetMediaTypeName(r.type));
        EXPECT_EQ(g.size, r.size);
        EXPECT_EQ(g.sect, r.sect);
        EXPECT_EQ(g.head, 2u);
        EXPECT_EQ(g.track, r.track);
        EXPECT_EQ(g.stretch, 0u);
        EXPECT_EQ(g.rate, r.rate);
        EXPECT_EQ(g.gap, r.gap);
        EXPECT_EQ(g.fmt_gap, r.fmtGap);
    }
}

TEST(LinuxFloppyGeometry, InstalledTableGivesTwentyOneSectorTracksItsGaps)
{
    const DeviceParams dmf = GeometryOf(kMedia172M)->ToParams();
    const floppy_struct g = FloppyGeometryOf(dmf, DeviceType::Floppy144M, &kDmfParameterTable);
    EXPECT_EQ(g.gap, 0x1B);
    EXPECT_EQ(g.fmt_gap, 0x13);
    EXPECT_EQ(g.spec1, 0xDF);
    // The table is for 21-sector tracks only.
    const floppy_struct hd = FloppyGeometryOf(GeometryOf(kMedia144M)->ToParams(), DeviceType::Floppy144M,
                                              &kDmfParameterTable);
    EXPECT_EQ(hd.fmt_gap, 0x6C);
}

// What the user is told when the driver numbered the sectors itself: sector 1 moves on by
// (sectors + 5) / 6 places from head to head and twice that plus 3 from cylinder to
// cylinder; tight format gaps get an interleave of 2.
TEST(LinuxFloppyGeometry, DriverOwnFormatOrderFollowsTheMedium)
{
    const floppy_struct hd = FloppyGeometryOf(GeometryOf(kMedia144M)->ToParams(), DeviceType::Floppy144M, nullptr);
    const DriverLayout hdLayout = KernelFormatLayout(hd);
    EXPECT_EQ(hdLayout.interleave, 1);
    EXPECT_EQ(hdLayout.headShift, 3);
    EXPECT_EQ(hdLayout.cylinderShift, 9);
    const floppy_struct dmf =
        FloppyGeometryOf(GeometryOf(kMedia172M)->ToParams(), DeviceType::Floppy144M, &kDmfParameterTable);
    const DriverLayout dmfLayout = KernelFormatLayout(dmf);
    EXPECT_EQ(dmfLayout.interleave, 2);
    EXPECT_EQ(dmfLayout.headShift, 4);
    EXPECT_EQ(dmfLayout.cylinderShift, 11);
    const floppy_struct dd = FloppyGeometryOf(GeometryOf(kMedia720K)->ToParams(), DeviceType::Floppy144M, nullptr);
    EXPECT_EQ(KernelFormatLayout(dd).headShift, 2);
    EXPECT_EQ(KernelFormatLayout(dd).interleave, 1);
}

TEST(LinuxFloppyGeometry, FortyCylinderDisketteInA12MDriveIsDoubleStepped)
{
    DeviceParams p = GeometryOf(kMedia720K)->ToParams();
    p.setU16(DeviceParams::Cylinders, 40);
    p.setU16(DeviceParams::TotalSectors16, 720);
    const floppy_struct g = FloppyGeometryOf(p, DeviceType::Floppy12M, nullptr);
    EXPECT_EQ(g.stretch, unsigned{FD_STRETCH});
    EXPECT_EQ(g.size, 720u);
    EXPECT_EQ(g.rate, 1);
}

TEST(LinuxFloppyGeometry, MissingCylinderCountComesFromTheTotal)
{
    DeviceParams p = GeometryOf(kMedia144M)->ToParams();
    p.setU16(DeviceParams::Cylinders, 0);
    EXPECT_EQ(FloppyGeometryOf(p, DeviceType::Floppy144M, nullptr).track, 80u);
}

TEST(LinuxFloppyDriveType, CmosTypeGivesTheDeviceType)
{
    EXPECT_EQ(DeviceTypeOfFloppyDrive(1, ""), DeviceType::Floppy360K);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(2, ""), DeviceType::Floppy12M);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(3, ""), DeviceType::Floppy720K);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(4, ""), DeviceType::Floppy144M);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(5, ""), DeviceType::Floppy288M);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(6, ""), DeviceType::Floppy288M);
    // Without a CMOS type the native format's name tells.
    EXPECT_EQ(DeviceTypeOfFloppyDrive(0, "H1440"), DeviceType::Floppy144M);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(0, "h1200"), DeviceType::Floppy12M);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(0, "D720"), DeviceType::Floppy720K);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(0, "(null)"), std::nullopt);
    EXPECT_EQ(DeviceTypeOfFloppyDrive(0, ""), std::nullopt);
}

TEST(LinuxFloppyErrors, ControllerStatusMapsLikeTheBios)
{
    struct Row {
        FdcStatus status;
        DiskError error;
    };
    const Row rows[] = {
        {{0x40, ST1_WP, 0}, Err::WriteProtect},
        {{0x40, ST1_CRC, ST2_CRC}, Err::BadCrc},
        {{0x40, ST1_CRC, 0}, Err::BadCrc},
        {{0x40, ST1_MAM, 0}, Err::AddressMarkNotFound},
        {{0x40, 0, ST2_MAM}, Err::AddressMarkNotFound},
        {{0x40, ST1_ND, 0}, Err::SectorNotFound},
        {{0x40, ST1_EOC, 0}, Err::SectorNotFound},
        {{0x40, 0, ST2_WC}, Err::SectorNotFound},
        {{0x40, ST1_OR, 0}, Err::AccessDenied},
        {{0x40 | ST0_ECE, 0, 0}, Err::EndOfDisk},
        {{0x40 | ST0_NR, 0, 0}, Err::NotReady},
        {{0xC0, 0, 0}, Err::NotReady},
        {{0x80, 0, 0}, Err::UnknownError},
    };
    for (const Row& r : rows) {
        DriverFailure f = Failure(FloppyOp::Read, EIO);
        f.fdc = r.status;
        EXPECT_EQ(DiskErrorOfDriverFailure(f), r.error)
            << std::hex << int{r.status.st0} << " " << int{r.status.st1} << " " << int{r.status.st2};
    }
    EXPECT_EQ(BiosStatusOfFdc(FdcStatus{0x00, 0, 0}), 0);  // normal termination
    EXPECT_EQ(BiosStatusOfFdc(FdcStatus{0x01, 0, 0}), 0);  // drive bits alone are no failure
}

TEST(LinuxFloppyErrors, DriverErrnoMapsOntoDiskErrors)
{
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Read, EIO)), Err::BadCrc);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Verify, EIO)), Err::BadCrc);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Write, EIO)), Err::SectorNotFound);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Format, EIO)), Err::SectorNotFound);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Write, EROFS)), Err::WriteProtect);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Control, EBUSY)), Err::DriveLocked);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Control, EACCES)), Err::AccessDenied);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Read, ENXIO)), Err::NotReady);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Read, 0)), Err::EndOfDisk);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Control, EINVAL)), Err::InvalidFunction);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Read, EILSEQ)), Err::UnknownError);
    EXPECT_EQ(DiskErrorOfDriverFailure(Failure(FloppyOp::Control, EIO)), Err::UnknownError);
}

TEST(LinuxFloppyErrors, DriveStateDecidesBeforeTheErrno)
{
    DriverFailure protectedWrite = Failure(FloppyOp::Write, EIO);
    protectedWrite.writable = false;
    EXPECT_EQ(DiskErrorOfDriverFailure(protectedWrite), Err::WriteProtect);
    DriverFailure protectedRead = Failure(FloppyOp::Read, EIO);
    protectedRead.writable = false;
    EXPECT_EQ(DiskErrorOfDriverFailure(protectedRead), Err::BadCrc);
    DriverFailure gone = Failure(FloppyOp::Read, EIO);
    gone.diskPresent = false;
    EXPECT_EQ(DiskErrorOfDriverFailure(gone), Err::NotReady);
    DriverFailure swapped = Failure(FloppyOp::Write, EIO);
    swapped.mediumChanged = true;
    EXPECT_EQ(DiskErrorOfDriverFailure(swapped), Err::InvalidDiskChange);
}

TEST(LinuxFloppyErrors, BiosCallersGetTheStatusOfEachError)
{
    for (DiskError e : {Err::WriteProtect, Err::NotReady, Err::BadCrc, Err::SectorNotFound, Err::EndOfDisk,
                        Err::InvalidDiskChange, Err::AddressMarkNotFound, Err::UnrecognizedMedia})
        EXPECT_EQ(DiskErrorFromBiosStatus(BiosStatusOfDiskError(e)), e) << CodeOf(e);
    EXPECT_EQ(BiosStatusOfDiskError(Err::None), 0);
}

TEST(LinuxFloppyOpen, PermissionFailureNamesTheCauseAndTheGroup)
{
    const std::string detail = FloppyOpenFailureDetail("/dev/fd0", EACCES, "floppy");
    EXPECT_EQ(detail, "/dev/fd0: permission denied: reading and writing diskettes needs read and write "
                      "permission on the device (membership of its group \"floppy\")");
    EXPECT_EQ(FloppyOpenFailureDetail("/dev/fd1", ENXIO, ""), "/dev/fd1: no floppy drive is connected at this unit");
    EXPECT_EQ(FloppyOpenFailureDetail("/dev/fd0", EBUSY, ""), "/dev/fd0: in use by another program, or mounted");
}

TEST(LinuxFloppyOpen, OnlyFloppyBlockDevicesAreBound)
{
    EXPECT_FALSE(LinuxFloppyBinding('A', "/dev/null").has_value());
    EXPECT_FALSE(LinuxFloppyBinding('A', "/nonexistent/fd0").has_value());
}
