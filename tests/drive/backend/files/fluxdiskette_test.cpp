// SPDX-License-Identifier: GPL-3.0-or-later
// SCP and HFE files bound as diskettes: a format lands the same layout an ImageDisk file
// gets, an image goes in and out unchanged, and a sector that one revolution of several
// reads good is good.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/files/imdfile.h"
#include "drive/backend/files/virtualdrive.h"
#include "fluxfile/scpfile.h"
#include "mfm/encode.h"
#include "support/clirun.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

constexpr const char* kFluxExtensions[] = {"scp", "hfe"};

std::optional<EmulatedMedium> Decoded(const std::string& path, DriveKind kind)
{
    const std::vector<uint8_t> bytes = ReadFile(path);
    FluxMediumRead read = path.ends_with(".scp") ? ReadScpMedium(bytes, MediumDensity::High)
                                                 : ReadHfeMedium(bytes, kind, MediumDensity::High);
    EXPECT_EQ(read.error, "") << path;
    return std::move(read.medium);
}

// Each track's address fields in physical order, "C.H.R.N" each.
std::vector<std::string> Layout(const EmulatedMedium& medium)
{
    std::vector<std::string> tracks;
    for (uint16_t c = 0; c < medium.cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            std::string line;
            for (const SectorRecord& s : medium.track(c, h).sectors)
                line += std::to_string(s.cylinder) + "." + std::to_string(s.head) + "." + std::to_string(s.number) +
                        "." + std::to_string(s.sizeCode) + (s.dataError ? "!" : "") + (s.deleted ? "d" : "") + " ";
            tracks.push_back(line);
        }
    return tracks;
}

// A 1.44M diskette made by mkfs.fat, with files mcopy put on it.
std::vector<uint8_t> MtoolsDiskette(const TempDir& dir)
{
    WriteFile(dir.File("one.bin"), RandomBytes(70000, 3));
    WriteFile(dir.File("two.txt"), RandomBytes(1300, 4));
    EXPECT_EQ(Shell("cd " + ShellQuoted(dir.path()) +
                    " && mkfs.fat -C -i 12345678 fat.img 1440 >/dev/null"
                    " && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img one.bin two.txt ::"),
              0);
    return ReadFile(dir.File("fat.img"));
}

}  // namespace

TEST(FluxDiskette, FormatLandsTheLayoutAnImageDiskFileGets)
{
    if (!RequireTools({"mkfs.fat"}))
        return;
    const struct {
        const char* media;
        const char* type;
        DriveKind kind;
    } media[] = {
        {"720k", "1.44m", DriveKind::Floppy35HD}, {"1.2m", "1.2m", DriveKind::Floppy525HD},
        {"1.44m", "1.44m", DriveKind::Floppy35HD}, {"1.68m", "1.44m", DriveKind::Floppy35HD},
        {"1.72m", "1.44m", DriveKind::Floppy35HD},
    };
    for (const auto& m : media)
        for (const char* layout : {"--standard", "--optimized"}) {
            TempDir dir;
            const std::string format = std::string(" -y format A: --no-verify --media ") + m.media + " " + layout;
            WriteFile(dir.File("x.imd"), {});
            const CliRun imd = RunCli(VOKTA_CLI, std::string("--drive A:=x.imd,type=") + m.type + format, dir);
            ASSERT_EQ(imd.status, 0) << imd.err;
            const ImdReadResult expected = ReadImd(ReadFile(dir.File("x.imd")), MediumDensity::High);
            ASSERT_TRUE(expected.medium);
            for (const char* extension : kFluxExtensions) {
                SCOPED_TRACE(std::string(m.media) + " " + layout + " ." + extension);
                const std::string file = std::string("x.") + extension;
                WriteFile(dir.File(file), {});
                const CliRun run = RunCli(VOKTA_CLI, "--drive A:=" + file + ",type=" + m.type + format, dir);
                ASSERT_EQ(run.status, 0) << run.err;
                const std::optional<EmulatedMedium> saved = Decoded(dir.File(file), m.kind);
                ASSERT_TRUE(saved);
                EXPECT_EQ(Layout(*saved), Layout(*expected.medium));
            }
        }
}

TEST(FluxDiskette, ImageGoesInAndComesOutUnchanged)
{
    if (!RequireTools({"mkfs.fat", "mcopy", "fsck.fat"}))
        return;
    for (const char* extension : kFluxExtensions) {
        SCOPED_TRACE(extension);
        TempDir dir;
        const std::vector<uint8_t> image = MtoolsDiskette(dir);
        const std::string drive = std::string("--drive A:=x.") + extension + " -y ";
        WriteFile(dir.File(std::string("x.") + extension), {});
        const struct {
            const char* command;
            const char* said;
        } steps[] = {
            {"write fat.img A:", "OK."},
            {"read A: back.img", "OK."},
            {"compare fat.img A:", "OK."},
            {"info A:", "Detected Media = 1.44M"},
            {"boot check A:", "OK."},
        };
        for (const auto& step : steps) {
            const CliRun run = RunCli(VOKTA_CLI, drive + step.command, dir);
            EXPECT_EQ(run.status, 0) << step.command << "\n" << run.err;
            EXPECT_NE(run.out.find(step.said), std::string::npos) << step.command << "\n" << run.out;
        }
        EXPECT_EQ(ReadFile(dir.File("back.img")), image);
        EXPECT_EQ(Shell("fsck.fat -n " + ShellQuoted(dir.File("back.img")) + " >/dev/null"), 0);
    }
}

TEST(FluxDiskette, ASectorOneRevolutionReadsGoodIsGood)
{
    if (!RequireTools({"mkfs.fat", "mcopy"}))
        return;
    // The sector holding the start of one.bin, on cylinder 0 head 1, in each revolution.
    const struct {
        std::vector<bool> goodRevolutions;
        int status;
    } cases[] = {
        {{false, false, true}, 0},
        {{true, false, false}, 0},
        {{false, false, false}, 3},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::vector<uint8_t> image = MtoolsDiskette(dir);
        const EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, image);
        ScpImage scp;
        const double tickHz = 1e9 / scp.TickNanoseconds();
        for (uint16_t cylinder = 0; cylinder < 80; ++cylinder)
            for (uint8_t head = 0; head < 2; ++head) {
                const Track& track = medium.track(cylinder, head);
                Track damaged = track;
                damaged.sectors[14].dataError = true;
                const mfm::Recording recording = RecordingOf(track.rate, DriveKind::Floppy35HD);
                mfm::TrackFlux flux{tickHz, {}};
                for (const bool good : c.goodRevolutions) {
                    const bool hit = cylinder == 0 && head == 1 && !good;
                    const mfm::EncodedTrack encoded = EncodeMediumTrack(hit ? damaged : track, DriveKind::Floppy35HD);
                    ASSERT_TRUE(encoded.ok());
                    mfm::AppendRevolution(flux, encoded.cells, recording);
                }
                FluxTrack out{static_cast<uint8_t>(cylinder), head, {}};
                for (mfm::Revolution& r : flux.revolutions)
                    out.revolutions.push_back({static_cast<uint32_t>(r.indexTicks), std::move(r.intervals)});
                scp.tracks.push_back(std::move(out));
            }
        const FluxFileWrite file = WriteScp(scp);
        ASSERT_EQ(file.error, "");
        WriteFile(dir.File("x.scp"), file.bytes);
        const CliRun run = RunCli(VOKTA_CLI, "--drive A:=x.scp -y --on-error ignore read A: back.img", dir);
        EXPECT_EQ(run.status, c.status) << run.err << run.out;
        if (c.status == 0) {
            EXPECT_EQ(ReadFile(dir.File("back.img")), image);
        }
    }
}

// What sector images cannot hold survives a save and a load: sectors recorded with data
// errors or deleted-data marks, a track of another cylinder's address fields, a crowded
// track, an unformatted track between formatted ones.
TEST(FluxDiskette, TracksKeepWhatRawImagesLose)
{
    EmulatedMedium medium = EmulatedMedium::FromImage(kMedia144M, RandomBytes(1474560, 7));
    medium.track(0, 0).sectors[3].dataError = true;
    medium.track(0, 1).sectors[17].deleted = true;
    medium.track(2, 0).sectors.clear();
    for (SectorRecord& s : medium.track(5, 1).sectors)
        s.cylinder = 6;
    Track& crowded = medium.track(7, 0);
    for (uint8_t r = 19; r <= 21; ++r)
        crowded.sectors.push_back({7, 0, r, 2, RandomBytes(512, r), false, false});
    const struct {
        const char* name;
        FluxFileWrite (*write)(const EmulatedMedium&, DriveKind);
    } formats[] = {{"x.scp", WriteScpMedium}, {"x.hfe", WriteHfeMedium}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        TempDir dir;
        const FluxFileWrite file = f.write(medium, DriveKind::Floppy35HD);
        ASSERT_EQ(file.error, "");
        WriteFile(dir.File(f.name), file.bytes);
        const std::optional<EmulatedMedium> loaded = Decoded(dir.File(f.name), DriveKind::Floppy35HD);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(Layout(*loaded), Layout(medium));
        for (uint16_t c = 0; c < 80; ++c)
            for (uint8_t h = 0; h < 2; ++h)
                for (size_t i = 0; i < medium.track(c, h).sectors.size(); ++i) {
                    const SectorRecord& want = medium.track(c, h).sectors[i];
                    const SectorRecord& got = loaded->track(c, h).sectors[i];
                    EXPECT_EQ(got.data, want.data) << c << "/" << int{h} << "/" << int{want.number};
                    EXPECT_EQ(got.deleted, want.deleted) << c << "/" << int{h} << "/" << int{want.number};
                }
    }
}

TEST(FluxDiskette, AMalformedFileIsRefusedAndKept)
{
    std::vector<uint8_t> shortScp(16, 0);
    std::copy_n("SCP", 3, shortScp.begin());
    shortScp[5] = 3;  // revolutions
    std::vector<uint8_t> badHfe(512, 0);
    std::copy_n("HXCPICFE", 8, badHfe.begin());
    badHfe[9] = 80;  // cylinders
    badHfe[10] = 2;  // sides
    badHfe[12] = 250;   // kbit/s
    badHfe[18] = 0xFF;  // the track list at block 255, past the end
    const struct {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* told;
    } cases[] = {
        {"x.scp", shortScp, "the SCP track table runs past the end of the file"},
        {"x.scp", RandomBytes(1474560, 5), "not an SCP flux file"},
        {"x.hfe", badHfe, "the HFE track list runs past the end of the file"},
        {"x.hfe", RandomBytes(4000, 6), "not an HFE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        TempDir dir;
        WriteFile(dir.File(c.file), c.bytes);
        for (const char* command : {"info A:", "format A: --media 1.44m"}) {
            const CliRun run = RunCli(VOKTA_CLI, std::string("--drive A:=") + c.file + " -y " + command, dir);
            EXPECT_EQ(run.status, 2) << command << "\n" << run.out;
            EXPECT_NE(run.err.find(c.told), std::string::npos) << command << "\n" << run.err;
            EXPECT_EQ(ReadFile(dir.File(c.file)), c.bytes);
        }
    }
}

// A damaged boot sector may begin with a flux file's signature: a raw image of a standard
// size is still the diskette it holds.
TEST(FluxDiskette, ARawImageBeginningWithAFluxSignatureStaysRaw)
{
    for (const std::string signature : {"SCP", "HXCPICFE"}) {
        SCOPED_TRACE(signature);
        TempDir dir;
        std::vector<uint8_t> image = RandomBytes(1474560, 8);
        std::copy(signature.begin(), signature.end(), image.begin());
        WriteFile(dir.File("x.img"), image);
        DriveOpenResult opened = VirtualDrive::Open(dir.File("x.img"), DriveKind::Floppy35HD, 1);
        ASSERT_NE(opened.service, nullptr) << opened.detail;
        const auto* drive = static_cast<VirtualDrive*>(opened.service.get());
        ASSERT_NE(drive->medium(), nullptr);
        EXPECT_EQ(drive->medium()->ToImage(kMedia144M), image);
    }
}

// A 5¼" drive turning at 360 rpm reads double-density diskettes at 300 kbit/s, close to
// the 250 of 3½" drives: the tracks decode at the rate they were recorded at.
TEST(FluxDiskette, TracksDecodeAtTheirOwnRate)
{
    const struct {
        MediaType media;
        DataRate rate;
        DriveKind kind;
    } cases[] = {
        {kMedia720K, DataRate::k300, DriveKind::Floppy525HD},
        {kMedia720K, DataRate::k250, DriveKind::Floppy35HD},
        {kMedia12M, DataRate::k500, DriveKind::Floppy525HD},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.rate));
        EmulatedMedium medium = EmulatedMedium::FromImage(c.media, RandomBytes(ImageSizeOf(c.media), 9));
        for (uint16_t cylinder = 0; cylinder < 80; ++cylinder)
            for (uint8_t head = 0; head < 2; ++head)
                medium.track(cylinder, head).rate = c.rate;
        const FluxFileWrite file = WriteScpMedium(medium, c.kind);
        ASSERT_EQ(file.error, "");
        const FluxMediumRead read = ReadScpMedium(file.bytes, MediumDensity::High);
        ASSERT_TRUE(read.medium) << read.error;
        for (uint16_t cylinder = 0; cylinder < 80; ++cylinder)
            for (uint8_t head = 0; head < 2; ++head)
                ASSERT_EQ(read.medium->track(cylinder, head).rate, c.rate) << cylinder << "/" << int{head};
        EXPECT_EQ(read.medium->ToImage(c.media), medium.ToImage(c.media));
    }
}
