// SPDX-License-Identifier: GPL-3.0-or-later
// Diskettes that mkfs.fat and mformat made, recorded as flux in the emulated Greaseweazle:
// what the device reads decodes to the image, and what it writes lands on the diskette.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/greaseweazle/greaseweazle.h"
#include "mfm/encode.h"
#include "support/fluxdiskettes.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::gw;
using namespace vokta::test;

namespace {

struct Made {
    const char* what;
    const char* make;  // makes fat.img in the current folder
    MediaType type;
    DriveKind drive;
    uint32_t revolutionTicks;  // 300 rpm, or 360 for 1.2M media in a 5¼" drive
};

const Made kDiskettes[] = {
    {"720K by mkfs.fat", "mkfs.fat -C -i 1234abcd fat.img 720", kMedia720K, DriveKind::Floppy35HD, 14'400'000},
    {"1.2M by mformat", "mformat -C -f 1200 -N 1234abcd -i fat.img ::", kMedia12M, DriveKind::Floppy525HD,
     12'000'000},
    {"1.44M by mkfs.fat", "mkfs.fat -C -i 1234abcd fat.img 1440", kMedia144M, DriveKind::Floppy35HD,
     14'400'000},
    {"1.72M by mformat", "mformat -C -t 82 -h 2 -s 21 -N 1234abcd -i fat.img ::", kMedia172M,
     DriveKind::Floppy35HD, 14'400'000},
};

// The image, with a file on it so that the data area is not all zeros.
std::vector<uint8_t> Make(const TempDir& dir, const Made& made)
{
    WriteFile(dir.File("data.bin"), RandomBytes(40'000, 11));
    EXPECT_EQ(Shell("cd " + ShellQuoted(dir.path()) + " && " + made.make +
                    " >/dev/null && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img data.bin ::"),
              0);
    return ReadFile(dir.File("fat.img"));
}

// Two turns of the track under the head, decoded as the system decodes flux.
std::optional<Track> ReadTrack(GreaseweazleDevice& device, uint16_t cylinder, uint8_t head)
{
    FluxRead read;
    if (!device.Seek(cylinder) || !device.Head(head) || !device.ReadFlux({2, 0}, read))
        return std::nullopt;
    mfm::TrackFlux flux{static_cast<double>(kGreaseweazleHz), {}};
    for (Revolution& r : CutRevolutions(read))
        flux.revolutions.push_back({std::move(r.intervals), r.ticks});
    DataRate rate = DataRate::k500;
    return DecodeFluxTrack(flux, {static_cast<uint8_t>(cylinder), head, 2}, rate);
}

TEST(EmulatedDiskette, WhatOtherToolsMadeReadsAndWritesThroughTheDevice)
{
    if (!RequireTools({"mkfs.fat", "mformat", "mcopy", "mdir", "fsck.fat"}))
        return;
    for (const Made& made : kDiskettes) {
        SCOPED_TRACE(made.what);
        TempDir dir;
        const std::vector<uint8_t> image = Make(dir, made);
        EmulatedMedium medium = EmulatedMedium::FromImage(made.type, image);
        const FluxDiskette diskette = FluxDisketteOf(medium, made.drive);
        EXPECT_EQ(diskette.revolutionTicks, made.revolutionTicks);
        const MediaGeometry geometry = *GeometryOf(made.type);
        for (uint16_t c = 0; c < diskette.cylinders; ++c) {
            uint64_t sum = 0;
            for (const uint32_t interval : diskette.track(c, 1))
                sum += interval;
            EXPECT_EQ(sum == 0, c >= geometry.cylinders) << "cylinder " << c;
            EXPECT_LE(sum, diskette.revolutionTicks);
        }
        // Back from the flux alone.
        EXPECT_TRUE(MediumOf(diskette, medium.density).ToImage(made.type) == image);

        GreaseweazleEmulator emulator;
        emulator.Insert(diskette);
        GreaseweazleDevice::Opened opened = GreaseweazleDevice::Open(emulator.path(), {3'000, 0});
        ASSERT_TRUE(opened.device);
        GreaseweazleDevice& device = *opened.device;
        ASSERT_TRUE(device.SetBusType(BusType::IbmPc) && device.Select(0) && device.Motor(0, true));
        // The first and the last track as the device reads them.
        const uint16_t last = static_cast<uint16_t>(geometry.cylinders - 1);
        for (const auto& [cylinder, head] : {std::pair<uint16_t, uint8_t>{0, 0}, {last, 1}}) {
            const std::optional<Track> read = ReadTrack(device, cylinder, head);
            ASSERT_TRUE(read.has_value());
            const Track& recorded = medium.track(cylinder, head);
            ASSERT_EQ(read->sectors.size(), recorded.sectors.size());
            for (size_t i = 0; i < recorded.sectors.size(); ++i) {
                EXPECT_EQ(read->sectors[i].number, recorded.sectors[i].number);
                EXPECT_FALSE(read->sectors[i].dataError);
                EXPECT_TRUE(read->sectors[i].data == recorded.sectors[i].data) << "sector " << i;
            }
        }
        // A track rewritten through the device, with a new file in the root directory.
        const auto rootSector = static_cast<uint16_t>((image[14] | image[15] << 8) + image[16] * (image[22] | image[23] << 8));
        const auto cylinder = static_cast<uint16_t>(rootSector / (geometry.sectorsPerTrack * 2));
        const auto head = static_cast<uint8_t>(rootSector / geometry.sectorsPerTrack % 2);
        SectorRecord* root = medium.Find(cylinder, head, static_cast<uint8_t>(rootSector % geometry.sectorsPerTrack + 1));
        ASSERT_NE(root, nullptr);
        size_t free = 0;
        while (root->data[free] != 0)
            free += 32;
        const std::string entry = "FLUX    TXT\x20";
        std::copy(entry.begin(), entry.end(), root->data.begin() + static_cast<std::ptrdiff_t>(free));
        const mfm::EncodedTrack encoded = EncodeMediumTrack(medium.track(cylinder, head), made.drive);
        ASSERT_TRUE(encoded.ok());
        const mfm::TrackFlux flux = mfm::CellsToFlux(encoded.cells, RecordingOf(medium.track(cylinder, head).rate, made.drive),
                                                     kGreaseweazleHz, 1);
        ASSERT_TRUE(device.Seek(cylinder) && device.Head(head));
        ASSERT_TRUE(device.WriteFlux(flux.revolutions.front().intervals, {true, true}));
        WriteFile(dir.File("landed.img"), MediumOf(*emulator.diskette(), medium.density).ToImage(made.type));
        EXPECT_TRUE(ReadFile(dir.File("landed.img")) == medium.ToImage(made.type));
        std::string before;
        std::string after;
        EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + ShellQuoted(dir.File("fat.img")) + " ::", &before), 0);
        EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mdir -b -i " + ShellQuoted(dir.File("landed.img")) + " ::", &after), 0);
        EXPECT_EQ(after, before + "::/FLUX.TXT\n");
        EXPECT_EQ(Shell("fsck.fat -n " + ShellQuoted(dir.File("landed.img")) + " >/dev/null"), 0);
    }
}

}  // namespace
