// SPDX-License-Identifier: GPL-3.0-or-later
// The USB floppy drive: its command blocks, what it makes of the drive's answers, and the
// operations on it, against the UFI emulator.
#include <gtest/gtest.h>

#include "drive/backend/usbfloppy/usbfloppy.h"
#include "format/format.h"
#include "res/strings.h"
#include <sys/stat.h>

#include <cerrno>

#include "drive/backend/linuxfloppy/linuxfloppy.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/unprivileged.h"
#include "support/testdrives.h"
#include "support/ufiemulator.h"

using namespace vokta;
using namespace vokta::test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const Ufi::Cdb& cdb)
{
    return Bytes(cdb.begin(), cdb.end());
}

struct UsbDrive : ::testing::Test {
    std::shared_ptr<UfiEmulator> a = std::make_shared<UfiEmulator>();
    DriveTable table;
    ScriptedHost host;

    UsbDrive() { BindUsbFloppy(table, 'A', a); }
    std::unique_ptr<DiskDrive> Open() { return std::make_unique<DiskDrive>('A', table); }
    size_t Sent(uint8_t op) const { return a->Commands(op).size(); }
};

}  // namespace

// Each command block byte for byte, as the UFI command set lays them out.
TEST(UfiCommands, BlocksAreByteExact)
{
    EXPECT_EQ(B(Ufi::TestUnitReady()), Bytes(12, 0));
    EXPECT_EQ(B(Ufi::RequestSense()), (Bytes{0x03, 0, 0, 0, 18, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::Inquiry()), (Bytes{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::ReadFormatCapacities()), (Bytes{0x23, 0, 0, 0, 0, 0, 0, 0, 252, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::ModeSense10()), (Bytes{0x5A, 0, 0x3F, 0, 0, 0, 0, 0, 192, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::Read10(0x01020304, 18)), (Bytes{0x28, 0, 1, 2, 3, 4, 0, 0, 18, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::Write10(2862, 18)), (Bytes{0x2A, 0, 0, 0, 0x0B, 0x2E, 0, 0, 18, 0, 0, 0}));
    EXPECT_EQ(B(Ufi::Verify(36, 0x0102)), (Bytes{0x2F, 0, 0, 0, 0, 36, 0, 1, 2, 0, 0, 0}));
    // Format data, defect list format 7, track 79, the interleave the drive's own, 12 bytes of list.
    EXPECT_EQ(B(Ufi::FormatUnit(79)), (Bytes{0x04, 0x17, 79, 0, 0, 0, 0, 0, 12, 0, 0, 0}));
}

TEST(UfiCommands, FormatParameterListCarriesHeadAndDescriptor)
{
    const auto head0 = Ufi::FormatParameters(0, 2880, 512);
    const auto head1 = Ufi::FormatParameters(1, 1232, 1024);
    // Format options valid, certification off, single track, side; one 8-byte descriptor.
    EXPECT_EQ(Bytes(head0.begin(), head0.end()), (Bytes{0, 0xB0, 0, 8, 0, 0, 0x0B, 0x40, 0, 0, 0x02, 0x00}));
    EXPECT_EQ(Bytes(head1.begin(), head1.end()), (Bytes{0, 0xB1, 0, 8, 0, 0, 0x04, 0xD0, 0, 0, 0x04, 0x00}));
}

TEST(UfiCommands, CapacityListsTellTheMedium)
{
    // 1.44M formatted, with 1.44M and 720K formattable (header, current, two descriptors).
    const Bytes hd{0, 0, 0, 24, 0, 0, 0x0B, 0x40, 0x02, 0, 2, 0, 0, 0, 0x0B, 0x40, 0, 0, 2, 0, 0, 0, 0x05, 0xA0, 0, 0, 2, 0};
    const auto list = Ufi::ParseCapacityList(hd);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->current, Ufi::DescriptorType::Formatted);
    EXPECT_EQ(list->currentCapacity, (Ufi::Capacity{2880, 512}));
    EXPECT_EQ(list->formattable, (std::vector<Ufi::Capacity>{{2880, 512}, {1440, 512}}));

    const Bytes dd{0, 0, 0, 8, 0, 0, 0x05, 0xA0, 0x02, 0, 2, 0};
    EXPECT_EQ(Ufi::ParseCapacityList(dd)->currentCapacity, (Ufi::Capacity{1440, 512}));
    Bytes blank = dd;
    blank[8] = 0x01;
    EXPECT_EQ(Ufi::ParseCapacityList(blank)->current, Ufi::DescriptorType::Unformatted);
    blank[8] = 0x03;
    EXPECT_EQ(Ufi::ParseCapacityList(blank)->current, Ufi::DescriptorType::NoMedium);

    // Not a capacity list: too short, a length that is no whole descriptor, no descriptor code.
    EXPECT_FALSE(Ufi::ParseCapacityList(Bytes(dd.begin(), dd.begin() + 11)));
    Bytes odd = dd;
    odd[3] = 7;
    EXPECT_FALSE(Ufi::ParseCapacityList(odd));
    Bytes noCode = dd;
    noCode[8] = 0;
    EXPECT_FALSE(Ufi::ParseCapacityList(noCode));

    EXPECT_EQ(Ufi::EncodeCapacityList(*list), hd);
    EXPECT_EQ(Ufi::WriteProtectedInModeHeader(Bytes{0, 6, 0x94, 0x80}), true);
    EXPECT_EQ(Ufi::WriteProtectedInModeHeader(Bytes{0, 6, 0x94, 0x00}), false);
}

// Every condition of the UFI sense table, and what a DOS caller is told of it.
TEST(UfiCommands, EverySenseCodeHasItsDiskError)
{
    struct Row {
        uint8_t key, asc, ascq;
        DiskError error;
    };
    const Row rows[] = {
        {0x0, 0x00, 0x00, Err::None},           {0x1, 0x17, 0x01, Err::None},
        {0x1, 0x18, 0x00, Err::None},           {0x2, 0x04, 0x01, Err::NotReady},
        {0x2, 0x04, 0x02, Err::NotReady},       {0x2, 0x04, 0x04, Err::NotReady},
        {0x2, 0x04, 0xFF, Err::NotReady},       {0x2, 0x06, 0x00, Err::EndOfDisk},
        {0x2, 0x08, 0x00, Err::NotReady},       {0x2, 0x08, 0x01, Err::NotReady},
        {0x2, 0x08, 0x80, Err::NotReady},       {0x2, 0x3A, 0x00, Err::NotReady},
        {0x2, 0x54, 0x00, Err::NotReady},       {0x2, 0x80, 0x00, Err::NotReady},
        {0x2, 0xFF, 0xFF, Err::NotReady},       {0x3, 0x02, 0x00, Err::EndOfDisk},
        {0x3, 0x03, 0x00, Err::WriteFault},     {0x3, 0x10, 0x00, Err::BadCrc},
        {0x3, 0x11, 0x00, Err::BadCrc},         {0x3, 0x12, 0x00, Err::AddressMarkNotFound},
        {0x3, 0x13, 0x00, Err::AddressMarkNotFound}, {0x3, 0x14, 0x00, Err::SectorNotFound},
        {0x3, 0x30, 0x01, Err::UnrecognizedMedia},   {0x3, 0x31, 0x01, Err::SectorNotFound},
        {0x4, 0x40, 0x05, Err::NotReady},       {0x5, 0x1A, 0x00, Err::InvalidFunction},
        {0x5, 0x20, 0x00, Err::InvalidFunction}, {0x5, 0x21, 0x00, Err::EndOfDisk},
        {0x5, 0x24, 0x00, Err::InvalidFunction}, {0x5, 0x25, 0x00, Err::BadUnit},
        {0x5, 0x26, 0x00, Err::UnrecognizedMedia}, {0x5, 0x26, 0x01, Err::UnrecognizedMedia},
        {0x5, 0x26, 0x02, Err::UnrecognizedMedia}, {0x5, 0x39, 0x00, Err::InvalidFunction},
        {0x6, 0x28, 0x00, Err::InvalidDiskChange}, {0x6, 0x29, 0x00, Err::InvalidDiskChange},
        {0x6, 0x2F, 0x00, Err::InvalidDiskChange}, {0x7, 0x27, 0x00, Err::WriteProtect},
        {0xB, 0x4E, 0x00, Err::UnknownError},
    };
    for (const Row& r : rows) {
        const auto sense = Ufi::ParseSense(Ufi::EncodeSense({r.key, r.asc, r.ascq}));
        ASSERT_TRUE(sense);
        EXPECT_EQ(Ufi::DiskErrorOfSense(*sense), r.error)
            << std::hex << int{r.key} << "/" << int{r.asc} << "/" << int{r.ascq};
    }
    EXPECT_FALSE(Ufi::ParseSense(Bytes(18, 0)));  // no fixed-format sense data
}

TEST(UfiCommands, DeviceTypeFollowsTheLargestCapacity)
{
    EXPECT_EQ(DeviceTypeOfCapacities({{2880, 512}, {1440, 512}}), DeviceType::Floppy144M);
    EXPECT_EQ(DeviceTypeOfCapacities({{1440, 512}}), DeviceType::Floppy720K);
    EXPECT_EQ(DeviceTypeOfCapacities({{2400, 512}, {1440, 512}}), DeviceType::Floppy12M);
    EXPECT_EQ(DeviceTypeOfCapacities({{1232, 1024}}), DeviceType::Floppy12M);
}

TEST_F(UsbDrive, DetectsMediaFromTheDrivesAnswers)
{
    // A drive without a diskette tells its largest capacity: a 1.44M drive.
    EXPECT_EQ(DiskDrive::QueryDeviceType("A:\\", table), DeviceType::Floppy144M);
    a->Insert(PatternDiskette(kMedia720K));
    a->medium()->density = MediumDensity::Double;
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->mediaType, kMedia720K);
    drive.reset();

    // A 1.44M diskette whose boot sector says nothing: the probes find it, and the 1.72M
    // one asks the drive nothing at a geometry that is not the diskette's.
    a->Insert(EmulatedMedium::Formatted(kMedia144M));
    a->ClearLog();
    drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->mediaType, kMedia144M);
    ASSERT_EQ(Sent(Ufi::Op::Verify), 1u);
    EXPECT_EQ(B(a->Commands(Ufi::Op::Verify)[0].cdb), B(Ufi::Verify(0, 18)));
    drive.reset();

    // An unformatted diskette is there, and nothing can be read from it.
    a->Insert(EmulatedMedium(MediumDensity::High));
    drive = Open();
    EXPECT_TRUE(drive->IsDriveReady());
    EXPECT_FALSE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
}

TEST_F(UsbDrive, ReadinessChangeAndProtectionComeFromTheDrive)
{
    auto drive = Open();
    EXPECT_FALSE(drive->IsDriveReady());
    EXPECT_FALSE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->PendingError(), Err::NotReady);

    a->Insert(PatternDiskette(kMedia144M));
    (void)drive->TakeError();
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    std::vector<uint8_t> sector(512);
    ASSERT_TRUE(drive->ReadSectors(100, 1, sector));
    const std::vector<uint8_t> pattern = PatternImage(kMedia144M);
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), pattern.begin() + 100 * 512));

    // Another diskette, protected: the drive says so at the next command, which fails; the
    // drive object then learns the diskette again and writes nothing to it.
    a->Insert(PatternDiskette(kMedia144M));
    a->medium()->writeProtected = true;
    const size_t learnt = Sent(Ufi::Op::ReadFormatCapacities);
    EXPECT_FALSE(drive->ReadSectors(100, 1, sector));
    EXPECT_EQ(drive->GetErrorText(), DiskErrorText(Err::InvalidDiskChange));
    EXPECT_TRUE(drive->ReadSectors(100, 1, sector));
    EXPECT_EQ(Sent(Ufi::Op::ReadFormatCapacities), learnt + 1);
    EXPECT_TRUE(drive->IsWriteProtected());
    EXPECT_EQ(Sent(Ufi::Op::Write10), 0u);
    EXPECT_FALSE(drive->WriteSectors(100, 1, sector));
    EXPECT_EQ(drive->PendingError(), Err::WriteProtect);

    // A 720K diskette whose change the drive told someone else: the next wait for a
    // diskette learns it all the same.
    a->Insert(PatternDiskette(kMedia720K), false);
    a->medium()->density = MediumDensity::Double;
    (void)drive->TakeError();
    ASSERT_TRUE(drive->IsDriveReady());
    ASSERT_TRUE(drive->SelectMedia(kMediaUnknown, false));
    EXPECT_EQ(drive->mediaType, kMedia720K);
    ASSERT_TRUE(drive->ReadSectors(1000, 1, sector));
    EXPECT_TRUE(std::equal(sector.begin(), sector.end(), PatternImage(kMedia720K).begin() + 1000 * 512));
}

TEST_F(UsbDrive, OneCommandPerTrackAndTheDrivesFaultsAsDosErrors)
{
    a->Insert(PatternDiskette(kMedia144M));
    a->medium()->defects.insert({40, 1, 7});
    auto drive = Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    std::vector<uint8_t> all(2880 * 512);
    a->ClearLog();
    EXPECT_FALSE(drive->ReadSectors(0, 2880, all));
    EXPECT_EQ(drive->PendingError(), Err::BadCrc);
    const auto reads = a->Commands(Ufi::Op::Read10);
    ASSERT_GT(reads.size(), 81u);
    // Track after track up to cylinder 40, head 1, which is tried again before it is given up.
    for (size_t i = 0; i < reads.size(); ++i)
        ASSERT_EQ(B(reads[i].cdb), B(Ufi::Read10(static_cast<uint32_t>(std::min<size_t>(i, 81) * 18), 18))) << i;

    // A path that leaves the sense data with the drive, and a drive without VERIFY.
    a->autoSense = false;
    a->lacksVerify = true;
    (void)drive->TakeError();
    EXPECT_FALSE(drive->VerifyTrack(40, 1));
    EXPECT_EQ(drive->TakeError(), Err::BadCrc);
    EXPECT_TRUE(drive->VerifyTrack(40, 0));
    EXPECT_EQ(Sent(Ufi::Op::Verify), 1u);  // refused once, then the tracks are read instead
    EXPECT_GE(Sent(Ufi::Op::RequestSense), 2u);

    // A BIOS format whose address fields name no sector size is refused without a command.
    for (size_t i = 0; i < 18; ++i)
        drive->formatIdList[4 * i + 3] = 0xFF;
    (void)drive->TakeError();
    EXPECT_FALSE(drive->Int13(Bios::FormatTrack, 0, 5, 1, 18));
    EXPECT_EQ(drive->PendingError(), Err::UnrecognizedMedia);
    EXPECT_EQ(Sent(Ufi::Op::FormatUnit), 0u);
}

TEST_F(UsbDrive, AResetIsPassedAndAFailureIsNeverASuccess)
{
    a->Insert(PatternDiskette(kMedia144M));
    a->Reset();
    auto drive = Open();
    ASSERT_EQ(drive->PendingError(), Err::None);
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    std::vector<uint8_t> track(18 * 512);
    // A drive that fails a read yet reports no sense: the read failed all the same.
    a->failNext = Ufi::Sense{};
    EXPECT_FALSE(drive->ReadSectors(0, 18, track));
    EXPECT_EQ(drive->PendingError(), Err::UnknownError);
    EXPECT_FALSE(a->failNext);
}

// The device path: what is no SCSI device, is not there, or may not be used, said in words.
TEST(UsbDeviceOpen, SaysWhyADeviceCannotBeUsed)
{
    DriveOpenResult opened = UsbFloppyDrive::Open("/dev/null", 1);
    EXPECT_FALSE(opened.service);
    EXPECT_EQ(opened.error, Err::InvalidDrive);
    EXPECT_EQ(opened.detail, "/dev/null: " + LoadString(Str::NotAFloppyDrive));
    opened = UsbFloppyDrive::Open("/dev/vokta-no-sdq", 1);
    EXPECT_EQ(opened.error, Err::InvalidDrive);
    EXPECT_EQ(opened.detail, "/dev/vokta-no-sdq: " + LoadString(Str::NoSuchDevice));

    TempDir dir;
    const std::string device = dir.File("sdq");
    WriteFile(device, {});
    ASSERT_EQ(chmod(device.c_str(), 0600), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::optional<std::string> detail = RunAsNobody([&] { return UsbFloppyDrive::Open(device, 1).detail; });
    ASSERT_TRUE(detail);
    EXPECT_EQ(*detail, FloppyOpenFailureDetail(device, EACCES, "root"));
}

TEST_F(UsbDrive, AVolumeHeldElsewhereIsLocked)
{
    a->Insert(PatternDiskette(kMedia144M));
    a->heldElsewhere = true;
    EXPECT_EQ(Open()->PendingError(), Err::DriveLocked);
    a->heldElsewhere = false;
    EXPECT_EQ(Open()->PendingError(), Err::None);
}

struct UsbFormat : UsbDrive {
    std::shared_ptr<FormatInputs> inputs = std::make_shared<FormatInputs>();
    UsbFormat()
    {
        inputs->driveText = "A:  FLOPPY";
        inputs->label = "USBDISK";
    }
    int Run(int32_t media)
    {
        inputs->media = media;
        FormatJob job;
        job.inputs = inputs;
        job.drives = table;
        return FormatWorker(std::move(job), host).result;
    }
};

TEST_F(UsbFormat, FullFormatWithVerifyOneTrackPerCommand)
{
    a->Insert(EmulatedMedium(MediumDensity::High));
    ASSERT_EQ(Run(kMedia144M), kResultDone) << ::testing::PrintToString(host.BoxTexts());
    const auto formats = a->Commands(Ufi::Op::FormatUnit);
    ASSERT_EQ(formats.size(), 160u);
    for (size_t i = 0; i < formats.size(); ++i) {
        const auto list = Ufi::FormatParameters(static_cast<uint8_t>(i % 2), 2880, 512);
        ASSERT_EQ(B(formats[i].cdb), B(Ufi::FormatUnit(static_cast<uint8_t>(i / 2)))) << i;
        ASSERT_EQ(formats[i].sent, Bytes(list.begin(), list.end())) << i;
    }
    EXPECT_EQ(a->Commands(Ufi::Op::Verify).size(), 160u);
    // The drive numbered the sectors itself, and the user is told so.
    EXPECT_TRUE(host.Shown(HostEvent::Box, FormatString(Str::LayoutChosenByDrive, LoadString(Str::OptimizedLayoutWord))));
    const std::vector<uint8_t> image = a->medium()->ToImage(kMedia144M);
    EXPECT_EQ(std::string(image.begin() + 43, image.begin() + 54), "USBDISK    ");
    EXPECT_EQ(image[21], 0xF0);
}

// Media the drive cannot format are refused before anything is written, naming what it can.
TEST_F(UsbFormat, MediaTheDriveCannotTakeAreRefusedBeforeAnyWrite)
{
    struct Case {
        MediumDensity density;
        MediaType ask;
        std::string asked, offered;
    };
    const Case cases[] = {
        {MediumDensity::High, kMedia172M, "1.72M (DMF)", "1.44M (DS HD)"},
        {MediumDensity::High, kMedia168M, "1.68M (MS DMF)", "1.44M (DS HD)"},
        {MediumDensity::High, kMedia12M, "1.2M (2S HD)", "1.44M (DS HD)"},
        {MediumDensity::Double, kMedia144M, "1.44M (DS HD)", "720K (DS DD)"},
    };
    for (const Case& c : cases) {
        a->Insert(PatternDiskette(c.density == MediumDensity::High ? kMedia144M : kMedia720K));
        a->medium()->density = c.density;
        const std::vector<uint8_t> before = a->medium()->ToImage(kMedia144M);
        a->ClearLog();
        host.events.clear();
        EXPECT_EQ(Run(c.ask), kResultFailed) << c.asked;
        EXPECT_EQ(Sent(Ufi::Op::FormatUnit) + Sent(Ufi::Op::Write10), 0u) << c.asked;
        EXPECT_EQ(a->medium()->ToImage(kMedia144M), before);
        ASSERT_EQ(host.BoxTexts().size(), 1u) << c.asked;
        EXPECT_EQ(host.BoxTexts()[0], DiskErrorText(Err::UnrecognizedMedia) + "\n\n" +
                                          FormatString(Str::DriveCannotFormatMedia, c.asked, c.offered));
    }

    // A drive that lists nothing to format says so, rather than naming a capacity it cannot format.
    UfiDriveModel readOnly;
    readOnly.formats = false;
    a = std::make_shared<UfiEmulator>(readOnly);
    BindUsbFloppy(table, 'A', a);
    a->Insert(PatternDiskette(kMedia144M));
    host.events.clear();
    EXPECT_EQ(Run(kMedia144M), kResultFailed);
    EXPECT_EQ(Sent(Ufi::Op::FormatUnit) + Sent(Ufi::Op::Write10), 0u);
    EXPECT_EQ(host.BoxTexts(), std::vector<std::string>{DiskErrorText(Err::UnrecognizedMedia) + "\n\n" +
                                                        LoadString(Str::DriveFormatsNoDiskette)});
}

TEST_F(UsbFormat, AThreeModeDriveFormatsTheOneTwoMegabyteDiskette)
{
    a = std::make_shared<UfiEmulator>(UfiDriveModel::ThreeMode());
    BindUsbFloppy(table, 'A', a);
    a->Insert(EmulatedMedium(MediumDensity::High));
    inputs->verify = false;
    ASSERT_EQ(Run(kMedia12M), kResultDone) << ::testing::PrintToString(host.BoxTexts());
    const auto list = Ufi::FormatParameters(1, 2400, 512);
    EXPECT_EQ(a->Commands(Ufi::Op::FormatUnit).back().sent, Bytes(list.begin(), list.end()));
    EXPECT_EQ(a->medium()->ToImage(kMedia12M)[21], 0xF9);
}
