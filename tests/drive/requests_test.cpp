// SPDX-License-Identifier: GPL-3.0-or-later
// The request layer: register images, the lock state machine, sticky errors.
#include <gtest/gtest.h>

#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

std::vector<LoggedRequest> LockRequests(const RecordingService& d)
{
    std::vector<LoggedRequest> out;
    for (const LoggedRequest& r : d.log)
        if (r.controlCode == Control::DosIoctl &&
            (r.minor() == 0x4A || r.minor() == 0x4B || r.minor() == 0x6A || r.minor() == 0x6B))
            out.push_back(r);
    return out;
}

}  // namespace

TEST(DriveObject, ConstructionTakesALevelZeroLockAndDestructionReleasesIt)
{
    EmulatedSetup setup('a', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    {
        auto drive = setup.Open('a');
        EXPECT_EQ(drive->driveNumber, 1);
        EXPECT_EQ(drive->PendingError(), Err::None);
        EXPECT_EQ(drive->mediaType, kMediaUnknown);
        EXPECT_EQ(setup.drive->lockState(), LockState::Level0);
    }
    EXPECT_EQ(setup.drive->lockState(), LockState::Unlocked);
}

TEST(DriveObject, PhysicalLockCodesForAAndLogicalForC)
{
    EmulatedSetup a('A', DriveKind::Floppy35HD);
    a.drive->Insert(PatternDiskette(kMedia144M));
    {
        auto drive = a.Open('A');
        EXPECT_TRUE(drive->SetLockState(LockState::Format));
    }
    std::vector<LoggedRequest> locks = LockRequests(*a.recorder);
    ASSERT_EQ(locks.size(), 4u);  // lock 0, lock 4, then unlock twice
    EXPECT_EQ(locks[0].minor(), 0x4B);
    EXPECT_EQ(locks[0].in.ebx, 0u) << "physical lock of A: is unit 0";
    EXPECT_EQ(locks[0].in.edx, 0u);
    EXPECT_EQ(locks[1].in.edx, 4u);
    EXPECT_EQ(locks[2].minor(), 0x6B);
    EXPECT_EQ(locks[3].minor(), 0x6B);
    for (const LoggedRequest& r : a.recorder->Requests(0x70))
        EXPECT_EQ(r.in.ebx, 1u) << "get-lock-state names A: as drive 1";

    EmulatedSetup c('C', DriveKind::FixedDisk);
    EmulatedMedium disk(MediumDensity::High, 100, 4);
    c.drive->Insert(std::move(disk));
    { auto drive = c.Open('C'); }
    locks = LockRequests(*c.recorder);
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[0].minor(), 0x4A);
    EXPECT_EQ(locks[0].in.ebx, 3u);
    EXPECT_EQ(locks[1].minor(), 0x6A);
    EXPECT_EQ(locks[1].in.ebx, 3u);
}

TEST(DriveObject, LockStateMachineSendsOnlyWhatTheTransitionNeeds)
{
    EmulatedSetup setup('B', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open('B');
    setup.recorder->log.clear();

    EXPECT_TRUE(drive->SetLockState(LockState::QueryOnly));
    EXPECT_TRUE(drive->SetLockState(LockState::Level0));
    EXPECT_TRUE(LockRequests(*setup.recorder).empty()) << "query only, and the current state";
    EXPECT_EQ(setup.recorder->log.size(), 2u);

    EXPECT_TRUE(drive->SetLockState(LockState::Format));
    EXPECT_EQ(setup.drive->lockState(), LockState::Format);
    EXPECT_TRUE(drive->SetLockState(LockState::Level0));
    EXPECT_EQ(setup.drive->lockState(), LockState::Level0);
    EXPECT_TRUE(drive->SetLockState(LockState::Unlocked));
    EXPECT_TRUE(drive->SetLockState(LockState::Format));
    EXPECT_EQ(setup.drive->lockState(), LockState::Format);
    const auto locks = LockRequests(*setup.recorder);
    ASSERT_EQ(locks.size(), 5u);
    EXPECT_EQ(locks[0].in.ebx, 1u) << "unit 1 is B:";
    EXPECT_EQ(locks[3].in.edx, 0u);
    EXPECT_EQ(locks[4].in.edx, 4u);
}

TEST(DriveObject, LockHeldByAnotherProgramGivesDriveIsLocked)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    setup.drive->lockedElsewhere = true;
    auto drive = setup.Open();
    EXPECT_EQ(drive->PendingError(), Err::DriveLocked);
    EXPECT_EQ(drive->GetErrorText(), "Drive is Locked !");
}

TEST(DriveObject, UnknownLetterIsAnInvalidDrive)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    DiskDrive drive('Q', setup.table);
    EXPECT_EQ(drive.PendingError(), Err::InvalidDrive);
    EXPECT_EQ(DiskDrive::QueryDeviceType("Q:\\", setup.table), -1);
    EXPECT_EQ(DiskDrive::QueryDeviceType("a:\\", setup.table), 7);
}

TEST(DriveObject, ErrorsAreStickyUntilRead)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    setup.recorder->FailNext([](const DiskRequest& r) { return r.minor() == Minor::ReadTrack; }, 1, Err::BadCrc);
    std::vector<uint8_t> buffer(512);
    EXPECT_FALSE(drive->ReadSectors(0, 1, buffer));
    EXPECT_EQ(drive->PendingError(), Err::BadCrc);

    const size_t before = setup.recorder->log.size();
    EXPECT_FALSE(drive->ReadSectors(0, 1, buffer)) << "blocked while the error is pending";
    EXPECT_EQ(setup.recorder->log.size(), before) << "nothing sent";
    DeviceParams p = drive->params;
    EXPECT_FALSE(drive->GenericIoctl(Minor::SetDeviceParams, p.span())) << "accepted, but the error is still pending";

    EXPECT_EQ(drive->GetErrorText(), "Bad CRC !");
    EXPECT_EQ(drive->PendingError(), Err::None);
    EXPECT_EQ(drive->GetErrorText(), "");
    EXPECT_EQ(DiskErrorText(Err::None), "");
    EXPECT_EQ(DiskErrorText(static_cast<DiskError>(31)), "Error number = 31");
    EXPECT_TRUE(drive->ReadSectors(0, 1, buffer));
}

TEST(DriveObject, ARefusedRequestIsInvalidFunction)
{
    EmulatedSetup setup('A', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open();
    ASSERT_TRUE(drive->SelectMedia(kMedia144M, false));
    setup.recorder->faultHook = [](const DiskRequest&) { return InjectedFault{true, 0}; };
    EXPECT_FALSE(drive->VerifyTrack(0, 0));
    EXPECT_EQ(drive->PendingError(), Err::InvalidFunction);
}

TEST(DriveObject, BiosRequestsOnlyForTheDisketteDrives)
{
    EmulatedSetup setup('C', DriveKind::FixedDisk);
    setup.drive->Insert(EmulatedMedium(MediumDensity::High, 100, 4));
    auto drive = setup.Open('C');
    const size_t before = setup.recorder->log.size();
    EXPECT_FALSE(drive->Int13(Bios::Reset, 0, 0, 0, 0));
    EXPECT_EQ(drive->PendingError(), Err::InvalidDrive);
    EXPECT_EQ(setup.recorder->log.size(), before);
}

TEST(DriveObject, BiosRegisterImageAndStatusMapping)
{
    EmulatedSetup setup('B', DriveKind::Floppy35HD);
    setup.drive->Insert(PatternDiskette(kMedia144M));
    auto drive = setup.Open('B');
    setup.recorder->FailNext([](const DiskRequest& r) { return r.controlCode == Control::Int13; }, 1, 0x80);
    EXPECT_FALSE(drive->Int13(Bios::FormatTrack, 1, 79, 1, 21));
    EXPECT_EQ(drive->PendingError(), Err::NotReady);
    const LoggedRequest& r = setup.recorder->log.back();
    EXPECT_EQ(r.controlCode, 4u);
    EXPECT_EQ(r.in.eax, 0x0515u);
    EXPECT_EQ(r.in.ecx, 0x4F01u);
    EXPECT_EQ(r.in.edx, 0x0101u) << "DH = head, DL = BIOS unit 1 for B:";
    EXPECT_EQ(r.block.size(), 256u) << "the address fields travel with the request";
    (void)drive->TakeError();
    setup.recorder->FailNext([](const DiskRequest& q) { return q.controlCode == Control::Int13; }, 1, 0x00);
    EXPECT_FALSE(drive->Int13(Bios::Reset, 0, 0, 0, 0));
    EXPECT_EQ(drive->PendingError(), Err::UnknownError) << "carry with status 0";
}
