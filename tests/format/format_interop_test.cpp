// SPDX-License-Identifier: GPL-3.0-or-later
// Formatted diskettes judged by tools nobody here wrote: fsck.fat checks the file system,
// minfo reads the geometry and the BPB, mcopy, mdir and mlabel use the diskette as DOS
// would, and libdsk's dskscan reads the sector headers of ImageDisk files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <regex>
#include <set>

#include "format/format.h"
#include "support/clirun.h"
#include "support/libdskscan.h"
#include "support/requiretools.h"
#include "support/scriptedhost.h"
#include "support/tempdir.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;

namespace {

// The five diskettes as the finished diskette must show them, written out here rather than
// taken from our media table, which is what is being checked.
struct Media {
    const char* word;       // the --media word
    const char* driveType;  // what the --drive binding adds: the 1.2M diskette needs a 5¼" drive
    DriveKind drive;
    MediaType type;
    int cylinders, heads, sectorsPerTrack;
    int sectorsPerCluster, rootEntries, sectorsPerFat, mediaDescriptor;
    int skew, interleave;  // of the optimized layout
    const char* mkfs;      // mkfs.fat's options for a diskette of this size made by others

    int totalSectors() const { return cylinders * heads * sectorsPerTrack; }
    int firstDataSector() const { return 1 + 2 * sectorsPerFat + rootEntries / 16; }
    int dataClusters() const { return (totalSectors() - firstDataSector()) / sectorsPerCluster; }
    long clusterBytes() const { return sectorsPerCluster * 512L; }
};

const Media kMedia[] = {
    {"720k", "", DriveKind::Floppy35HD, kMedia720K, 80, 2, 9, 2, 112, 3, 0xF9, 1, 1, "-g 2/9 IMG 720"},
    {"1.2m", ",type=1.2m", DriveKind::Floppy525HD, kMedia12M, 80, 2, 15, 1, 224, 7, 0xF9, 0, 1, "-g 2/15 IMG 1200"},
    {"1.44m", "", DriveKind::Floppy35HD, kMedia144M, 80, 2, 18, 1, 224, 9, 0xF0, 3, 1, "-g 2/18 IMG 1440"},
    {"1.68m", "", DriveKind::Floppy35HD, kMedia168M, 80, 2, 21, 4, 16, 3, 0xF0, 1, 2,
     "-g 2/21 -s 4 -r 16 -M 0xF0 IMG 1680"},
    {"1.72m", "", DriveKind::Floppy35HD, kMedia172M, 82, 2, 21, 1, 224, 10, 0xF0, 1, 2, "-g 2/21 IMG 1722"},
};

// Test names and messages show the media by its word, not as bytes.
void PrintTo(const Media& m, std::ostream* os)
{
    *os << m.word;
}

std::string MediaName(const ::testing::TestParamInfo<Media>& info)
{
    return std::regex_replace(info.param.word, std::regex("\\."), "_");
}

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

// The sector numbers of a track in physical order, by the rule of the optimized layout:
// each cylinder starts `skew` numbers earlier than the one before, both heads of a
// cylinder alike, and consecutive numbers lie `interleave` slots apart.
std::vector<int> OptimizedOrder(const Media& m, int cylinder, int head)
{
    const int n = m.sectorsPerTrack;
    std::vector<int> order(n);
    int number = ((n - m.skew) * cylinder + n * head) % n + 1;
    for (int i = 0, slot = 0; i < n; ++i) {
        order[slot] = number;
        number = number % n + 1;
        slot = (slot + m.interleave) % n;
    }
    return order;
}

std::vector<int> StandardOrder(const Media& m)
{
    std::vector<int> order(m.sectorsPerTrack);
    for (int i = 0; i < m.sectorsPerTrack; ++i)
        order[i] = i + 1;
    return order;
}

// A 12-bit FAT entry read from the FAT's bytes.
int Fat12Entry(const std::vector<uint8_t>& fat, int cluster)
{
    const size_t at = static_cast<size_t>(cluster) * 3 / 2;
    const int word = fat[at] | fat[at + 1] << 8;
    return cluster % 2 ? word >> 4 : word & 0xFFF;
}

// The number in "1 457 664 bytes free" of mdir's listing; -1 when there is none.
long BytesFree(const std::string& listing)
{
    std::smatch m;
    if (!std::regex_search(listing, m, std::regex("([0-9 ]+) bytes free")))
        return -1;
    return std::stol(std::regex_replace(m[1].str(), std::regex(" "), ""));
}

// A value minfo prints as "name: value".
std::string MinfoValue(const std::string& listing, const std::string& name)
{
    std::smatch m;
    if (!std::regex_search(listing, m, std::regex("\n" + name + ": ([^\n]*)")))
        return "(missing)";
    return m[1].str();
}

struct FormatInterop : ::testing::TestWithParam<Media> {
    TempDir dir;
    const Media& m = GetParam();
    bool toolsThere = false;

    void SetUp() override
    {
        toolsThere = RequireTools({"fsck.fat", "mkfs.fat", "minfo", "mdir", "mcopy", "mlabel", "dskscan"});
        setenv("MTOOLS_SKIP_CHECK", "1", 1);
    }

    // A new diskette file: empty, an unformatted diskette.
    std::string Blank(const std::string& name)
    {
        const std::string file = dir.File(name);
        WriteFile(file, {});
        return file;
    }

    // vokta-cli format with the drive bound to `file`; the options after "format A:".
    CliRun Format(const std::string& file, const std::string& options)
    {
        return RunCli(VOKTA_CLI, "--drive A:=" + Quote(file + m.driveType) + " format A: " + options, dir);
    }

    static std::string Tool(const std::string& command, int* status = nullptr)
    {
        std::string out;
        const int rc = Shell(command + " 2>&1", &out);
        if (status)
            *status = rc;
        return out;
    }
    static std::string Mdir(const std::string& file) { return Tool("mdir -i " + Quote(file) + " ::"); }

    static void ExpectFsckClean(const std::string& file)
    {
        int status = -1;
        const std::string out = Tool("fsck.fat -n " + Quote(file), &status);
        EXPECT_EQ(status, 0) << out;
    }
};

}  // namespace

// A full, optimized format of a blank diskette: a clean FAT file system with the media
// table's geometry and BPB, that takes a file and gives it back unchanged, under the label.
TEST_P(FormatInterop, FullFormatMakesTheDisketteOtherToolsExpect)
{
    if (!toolsThere)
        return;
    const std::string img = Blank("full.img");
    const CliRun run = Format(img, "--media " + std::string(m.word) + " --full --optimized --label BACKUP");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.LastLine(), "OK.");
    EXPECT_EQ(ReadFile(img).size(), static_cast<size_t>(m.totalSectors()) * 512);
    ExpectFsckClean(img);

    const std::string info = Tool("minfo -i " + Quote(img) + " ::");
    EXPECT_EQ(MinfoValue(info, "cylinders"), std::to_string(m.cylinders)) << info;
    EXPECT_EQ(MinfoValue(info, "heads"), std::to_string(m.heads));
    EXPECT_EQ(MinfoValue(info, "sectors per track"), std::to_string(m.sectorsPerTrack));
    EXPECT_EQ(MinfoValue(info, "cluster size"), std::to_string(m.sectorsPerCluster) + " sectors");
    EXPECT_EQ(MinfoValue(info, "max available root directory slots"), std::to_string(m.rootEntries));
    EXPECT_EQ(MinfoValue(info, "sectors per fat"), std::to_string(m.sectorsPerFat));
    char descriptor[8];
    std::snprintf(descriptor, sizeof descriptor, "0x%02x", m.mediaDescriptor);
    EXPECT_EQ(MinfoValue(info, "media descriptor byte"), descriptor);
    EXPECT_EQ(MinfoValue(info, "small size"), std::to_string(m.totalSectors()) + " sectors");

    const std::string before = Mdir(img);
    EXPECT_NE(before.find("Volume in drive : is BACKUP"), std::string::npos) << before;
    EXPECT_EQ(BytesFree(before), m.dataClusters() * m.clusterBytes()) << before;

    std::vector<uint8_t> data(500 * 1024);
    std::mt19937 random(static_cast<unsigned>(m.totalSectors()));
    for (uint8_t& b : data)
        b = static_cast<uint8_t>(random());
    WriteFile(dir.File("random.bin"), data);
    int status = -1;
    std::string out = Tool("mcopy -i " + Quote(img) + " " + Quote(dir.File("random.bin")) + " ::RANDOM.BIN", &status);
    ASSERT_EQ(status, 0) << out;
    out = Tool("mcopy -n -i " + Quote(img) + " ::RANDOM.BIN " + Quote(dir.File("back.bin")), &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(ReadFile(dir.File("back.bin")), data) << "the file reads back byte for byte";
    ExpectFsckClean(img);

    const std::string after = Mdir(img);
    EXPECT_NE(after.find("RANDOM   BIN"), std::string::npos) << after;
    EXPECT_NE(after.find("Volume in drive : is BACKUP"), std::string::npos) << after;
    EXPECT_EQ(Tool("mlabel -i " + Quote(img) + " -s ::"), " Volume label is BACKUP     \n");
}

// The sector headers of every track, as libdsk reads them from ImageDisk files: the
// optimized layout by its rule, and with --standard 1, 2, 3, ... except on the 21-sector
// diskettes, which are always formatted skewed and interleaved.
TEST_P(FormatInterop, TrackLayoutsAsLibdskReadsThem)
{
    if (!toolsThere)
        return;
    for (const bool optimized : {true, false}) {
        SCOPED_TRACE(optimized ? "optimized" : "standard");
        const std::string imd = Blank(optimized ? "optimized.imd" : "standard.imd");
        const CliRun run = Format(imd, std::string("--media ") + m.word + (optimized ? " --optimized" : " --standard"));
        ASSERT_EQ(run.status, 0) << run.out << run.err;
        ASSERT_EQ(run.LastLine(), "OK.");

        const ScannedTracks tracks = ScanSectorHeaders(imd);
        ASSERT_EQ(tracks.size(), static_cast<size_t>(m.cylinders * m.heads));
        for (const auto& [track, headers] : tracks) {
            const auto [c, h] = track;
            const std::vector<int> expected =
                optimized || m.sectorsPerTrack == 21 ? OptimizedOrder(m, c, h) : StandardOrder(m);
            std::vector<ScannedSector> wanted;
            for (int number : expected)
                wanted.push_back({c, h, number, 512});
            ASSERT_EQ(headers, wanted) << "cylinder " << c << " head " << h;
        }
    }
}

// One track fails its verification: it is marked BAD (every cluster with a sector on it),
// and the diskette is otherwise the clean format's, short of exactly those clusters.
TEST_P(FormatInterop, TrackFailingVerificationIsMarkedBad)
{
    if (!toolsThere)
        return;
    constexpr int kCylinder = 40, kHead = 1;
    auto format = [&](const std::string& file, bool defective) {
        DriveTable table;
        std::shared_ptr<RecordingService> recorder = BindRecordedFile(table, 'A', file, m.drive);
        ASSERT_TRUE(recorder);
        if (defective)
            recorder->faultHook = [](const DiskRequest& r) -> std::optional<InjectedFault> {
                if (r.controlCode == Control::DosIoctl && r.minor() == Minor::VerifyTrack &&
                    TrackBlock::Cylinder(r.block) == kCylinder && TrackBlock::Head(r.block) == kHead)
                    return InjectedFault{false, Err::BadCrc};
                return std::nullopt;
            };
        FormatJob job;
        job.inputs->driveText = "A:  FLOPPY";
        job.inputs->media = m.type;
        job.inputs->label = "BACKUP";
        job.drives = table;
        ScriptedHost host;
        EXPECT_EQ(FormatWorker(std::move(job), host).result, 0);
        EXPECT_EQ(host.Shown(HostEvent::Lower, "Marking Track 40 as BAD ..."), defective);
        EXPECT_EQ(host.Count(HostEvent::Box), 0) << host.BoxTexts().front();
    };
    const std::string clean = Blank("clean.img");
    const std::string marked = Blank("marked.img");
    format(clean, false);
    format(marked, true);

    std::set<int> bad;
    const int first = (kCylinder * m.heads + kHead) * m.sectorsPerTrack;
    for (int s = first; s < first + m.sectorsPerTrack; ++s)
        bad.insert((s - m.firstDataSector()) / m.sectorsPerCluster + 2);

    const std::vector<uint8_t> image = ReadFile(marked);
    ASSERT_EQ(image.size(), static_cast<size_t>(m.totalSectors()) * 512);
    const size_t fatBytes = m.sectorsPerFat * 512;
    const std::vector<uint8_t> fat1(image.begin() + 512, image.begin() + 512 + fatBytes);
    const std::vector<uint8_t> fat2(image.begin() + 512 + fatBytes, image.begin() + 512 + 2 * fatBytes);
    EXPECT_EQ(fat1, fat2) << "both FAT copies carry the marks";
    EXPECT_EQ(Fat12Entry(fat1, 0), 0xF00 | m.mediaDescriptor);
    std::vector<int> marks;
    for (int cluster = 2; cluster < m.dataClusters() + 2; ++cluster) {
        const int entry = Fat12Entry(fat1, cluster);
        if (entry == 0xFF7)
            marks.push_back(cluster);
        else
            EXPECT_EQ(entry, 0) << "cluster " << cluster;
    }
    EXPECT_EQ(marks, std::vector<int>(bad.begin(), bad.end()));

    ExpectFsckClean(clean);
    ExpectFsckClean(marked);
    // fsck.fat counts a BAD cluster as taken; the label is the only directory entry.
    const std::string verbose = Tool("fsck.fat -n -v " + Quote(marked));
    EXPECT_NE(verbose.find(" 1 files, " + std::to_string(bad.size()) + "/" + std::to_string(m.dataClusters()) +
                           " clusters"),
              std::string::npos)
        << verbose;
    const long cleanFree = BytesFree(Mdir(clean));
    EXPECT_EQ(cleanFree, m.dataClusters() * m.clusterBytes());
    EXPECT_EQ(BytesFree(Mdir(marked)), cleanFree - static_cast<long>(bad.size()) * m.clusterBytes());
}

// A quick format of a diskette made and filled by others: no files are left, the space
// is all free again, and the new label is the one shown.
TEST_P(FormatInterop, QuickFormatEmptiesAFilledDiskette)
{
    if (!toolsThere)
        return;
    const std::string img = dir.File("filled.img");
    std::string mkfs = std::string("mkfs.fat -C -n OLDLABEL ") + m.mkfs;
    mkfs.replace(mkfs.find("IMG"), 3, Quote(img));
    int status = -1;
    std::string out = Tool(mkfs, &status);
    ASSERT_EQ(status, 0) << out;
    out = Tool("mmd -i " + Quote(img) + " ::DOCS", &status);
    ASSERT_EQ(status, 0) << out;
    for (const char* name : {"A.TXT", "DOCS/B.TXT", "DOCS/C.BIN"}) {
        WriteFile(dir.File("src"), std::vector<uint8_t>(30000, static_cast<uint8_t>(name[0])));
        out = Tool("mcopy -i " + Quote(img) + " " + Quote(dir.File("src")) + " ::" + name, &status);
        ASSERT_EQ(status, 0) << out;
    }
    ASSERT_NE(Mdir(img).find("A        TXT"), std::string::npos);

    const CliRun run = Format(img, "--quick --label NEWLABEL");
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.LastLine(), "OK.");

    ExpectFsckClean(img);
    const std::string listing = Mdir(img);
    EXPECT_NE(listing.find("No files"), std::string::npos) << listing;
    EXPECT_NE(listing.find("Volume in drive : is NEWLABEL"), std::string::npos) << listing;
    EXPECT_EQ(BytesFree(listing), m.dataClusters() * m.clusterBytes()) << listing;
    EXPECT_EQ(Tool("mlabel -i " + Quote(img) + " -s ::"), " Volume label is NEWLABEL   \n");
}

// A quick format of a blank diskette file cannot keep tracks that are not there: it is told,
// and with Yes the diskette is formatted whole, so that the file and its boot sector agree;
// with No the file is left as it was.
TEST_P(FormatInterop, QuickFormatOfABlankDisketteFormatsItWholeOrNotAtAll)
{
    if (!toolsThere)
        return;
    const std::string img = Blank("blank.img");
    const CliRun refused = Format(img, "--media " + std::string(m.word) + " --quick");
    EXPECT_EQ(refused.status, 1) << refused.out << refused.err;
    EXPECT_NE(refused.err.find("a quick format would leave its tracks unformatted"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadFile(img).size(), 0u);

    const CliRun run = RunCli(VOKTA_CLI, "--assume-yes --drive A:=" + Quote(img + m.driveType) + " format A: --media " +
                                             std::string(m.word) + " --quick",
                              dir);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::vector<uint8_t> file = ReadFile(img);
    ASSERT_EQ(file.size(), static_cast<size_t>(m.totalSectors()) * 512);
    EXPECT_EQ(GetU16(file, 19), m.totalSectors()) << "the boot sector describes the file";
    ExpectFsckClean(img);
    EXPECT_EQ(BytesFree(Mdir(img)), m.dataClusters() * m.clusterBytes()) << "no cluster marked BAD";
}

INSTANTIATE_TEST_SUITE_P(EveryMedia, FormatInterop, ::testing::ValuesIn(kMedia), MediaName);
