// SPDX-License-Identifier: GPL-3.0-or-later
// vokta-cli on a drive of an emulated Greaseweazle, bound by the path of its serial line:
// every density in both layouts formats exactly, and what a diskette holds goes through
// read, write, compare, the report, the boot check, the label and the repair intact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drive/backend/files/fluxmedium.h"
#include "drive/backend/files/imdfile.h"
#include "support/clirun.h"
#include "support/fluxdiskettes.h"
#include "support/greaseweazleemulator.h"
#include "support/requiretools.h"
#include "support/tempdir.h"

using namespace vokta;
using namespace vokta::test;

namespace {

struct Density {
    const char* media;
    const char* name;
    const char* type;
    DriveKind kind;
    unsigned kib;
};
constexpr Density kDensities[] = {
    {"720k", "720K", "1.44m", DriveKind::Floppy35HD, 720},
    {"1.2m", "1.2M", "1.2m", DriveKind::Floppy525HD, 1200},
    {"1.44m", "1.44M", "1.44m", DriveKind::Floppy35HD, 1440},
    {"1.68m", "1.68M", "1.44m", DriveKind::Floppy35HD, 1680},
    {"1.72m", "1.72M", "1.44m", DriveKind::Floppy35HD, 1720},
};

// A diskette fresh from the box: no track holds a transition.
FluxDiskette Blank(DriveKind kind)
{
    return FluxDisketteOf(EmulatedMedium(MediumDensity::High), kind);
}

// The emulated diskette decoded: each track's address fields in physical order.
std::vector<std::string> Layout(const FluxDiskette& diskette)
{
    std::vector<std::string> tracks;
    for (uint16_t c = 0; c < diskette.cylinders; ++c)
        for (uint8_t h = 0; h < diskette.heads; ++h) {
            mfm::TrackFlux flux{72e6, {{diskette.track(c, h), diskette.revolutionTicks},
                                       {diskette.track(c, h), diskette.revolutionTicks}}};
            DataRate rate = DataRate::k500;
            const std::optional<Track> track = DecodeFluxTrack(flux, {static_cast<uint8_t>(c), h, 2}, rate);
            std::string line;
            for (const SectorRecord& s : track ? track->sectors : std::vector<SectorRecord>{})
                line += std::to_string(s.cylinder) + "." + std::to_string(s.head) + "." + std::to_string(s.number) +
                        (s.dataError ? "!" : "") + " ";
            tracks.push_back(line);
        }
    return tracks;
}

std::vector<std::string> Layout(const EmulatedMedium& medium, uint16_t cylinders)
{
    std::vector<std::string> tracks;
    for (uint16_t c = 0; c < cylinders; ++c)
        for (uint8_t h = 0; h < medium.heads; ++h) {
            std::string line;
            for (const SectorRecord& s : c < medium.cylinders ? medium.track(c, h).sectors : std::vector<SectorRecord>{})
                line += std::to_string(s.cylinder) + "." + std::to_string(s.head) + "." + std::to_string(s.number) +
                        (s.dataError ? "!" : "") + " ";
            tracks.push_back(line);
        }
    return tracks;
}

}  // namespace

TEST(GreaseweazleCli, EveryDensityAndLayoutFormatsExactlyAndKeepsWhatItHolds)
{
    if (!RequireTools({"mcopy", "fsck.fat"}))
        return;
    for (const Density& d : kDensities)
        for (const char* layout : {"--standard", "--optimized"}) {
            SCOPED_TRACE(std::string(d.media) + " " + layout);
            TempDir dir;
            GreaseweazleEmulator device;
            device.Insert(Blank(d.kind));
            const std::string drive = "--drive A:=" + device.path() + ",type=" + d.type + " -y ";
            const std::string format = std::string("format A: --media ") + d.media + " " + layout;

            const CliRun formatted = RunCli(VOKTA_CLI, drive + format + " --label FLUXY", dir);
            ASSERT_EQ(formatted.status, 0) << formatted.out << formatted.err;
            // The same format on an ImageDisk file lays out the same sectors.
            WriteFile(dir.File("x.imd"), {});
            ASSERT_EQ(RunCli(VOKTA_CLI, std::string("--drive A:=x.imd,type=") + d.type + " -y " + format, dir).status, 0);
            const ImdReadResult expected = ReadImd(ReadFile(dir.File("x.imd")), MediumDensity::High);
            ASSERT_TRUE(expected.medium);
            EXPECT_EQ(Layout(*device.diskette()), Layout(*expected.medium, 84));

            ASSERT_EQ(RunCli(VOKTA_CLI, drive + "read A: blank.img", dir).status, 0);
            WriteFile(dir.File("one.bin"), RandomBytes(d.kib * 300, d.kib));
            WriteFile(dir.File("two.txt"), RandomBytes(1300, 7));
            ASSERT_EQ(Shell("cd " + ShellQuoted(dir.path()) + " && cp blank.img fat.img" +
                            " && MTOOLS_SKIP_CHECK=1 mcopy -i fat.img one.bin two.txt ::"),
                      0);
            const struct {
                std::string command;
                int status;
                const char* said;
            } steps[] = {
                {"write fat.img A:", 0, "OK."},
                {"compare fat.img A:", 0, "OK."},
                {"compare blank.img A:", 4, "Differences found !"},
                {"read A: back.img", 0, "OK."},
                {"info A:", 0, "FLUXY"},
                {"boot check A:", 0, "OK."},
                {"repair A:", 0, "OK."},
                {"label A: RENAMED", 0, "OK."},
                {"media A:", 0, d.name},
            };
            for (const auto& step : steps) {
                const CliRun run = RunCli(VOKTA_CLI, drive + step.command, dir);
                EXPECT_EQ(run.status, step.status) << step.command << "\n" << run.out << run.err;
                EXPECT_NE(run.out.find(step.said), std::string::npos) << step.command << "\n" << run.out;
            }
            EXPECT_EQ(ReadFile(dir.File("back.img")), ReadFile(dir.File("fat.img")));
            EXPECT_EQ(Shell("fsck.fat -n " + ShellQuoted(dir.File("back.img")) + " >/dev/null"), 0);
        }
}
