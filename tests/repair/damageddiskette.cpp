#include "repair/damageddiskette.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <random>

#include "drive/backend/imdfile.h"
#include "drive/diskdrive.h"
#include "fat/fatdisk.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"

namespace vokta::test {

namespace {

std::string Quote(const std::string& s)
{
    return "'" + s + "'";
}

std::vector<uint8_t> RandomBytes(size_t size, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(rng());
    return bytes;
}

}  // namespace

std::vector<uint16_t> ChainOf(const std::vector<uint8_t>& image, const std::string& name11)
{
    FatDisk disk(kMedia144M, image);
    uint16_t cluster = 0;
    for (size_t i = 0; i < 224 && cluster == 0; ++i) {
        std::span<const uint8_t> entry = disk.RootEntry(i);
        if (entry[0] == 0)
            break;
        if (std::equal(name11.begin(), name11.end(), entry.begin()))
            cluster = static_cast<uint16_t>(entry[26] | entry[27] << 8);
    }
    std::vector<uint16_t> chain;
    // A chain longer than the diskette's clusters can only be a loop.
    while (cluster >= 2 && cluster < 0xFF7 && chain.size() < 2848) {
        chain.push_back(cluster);
        cluster = disk.Entry(cluster);
    }
    return chain;
}

void PrintTo(const TrackTransfer& t, std::ostream* os)
{
    *os << "{" << t.first << ", " << t.count << (t.failed ? ", failed}" : "}");
}

void DamagedDiskette::SetUp()
{
    if (!RequireTools({"mkfs.fat", "mcopy"}))
        return;
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    std::fill(job.trackBuffer->begin(), job.trackBuffer->end(), kStaleByte);
    job.inputs->driveText = "A:";
    job.sounds.jobCompleted = kSound;
}

void DamagedDiskette::Make(const std::string& label)
{
    const std::string name = label.empty() ? "" : " -n " + Quote(label);
    ASSERT_EQ(Shell("mkfs.fat -C -i 1D0C0144 --invariant" + name + " " + Quote(made) + " 1440 >/dev/null 2>&1"), 0);
    files = {{"FIRST.BIN", RandomBytes(2000, 1), 2},
             {"BIG.BIN", RandomBytes(60000, 2), 6},
             {"NOTE.TXT", RandomBytes(700, 3), 124}};
    for (const SourceFile& file : files) {
        const std::string source = dir.File(file.name);
        WriteFile(source, file.bytes);
        std::string out;
        ASSERT_EQ(Shell("mcopy -i " + Quote(made) + " " + Quote(source) + " ::" + file.name + " 2>&1", &out), 0) << out;
    }
    before = ReadFile(made);
    for (const SourceFile& file : files) {
        std::string name11 = file.name.substr(0, file.name.find('.'));
        name11.resize(8, ' ');
        name11 += file.name.substr(file.name.find('.') + 1);
        const std::vector<uint16_t> chain = ChainOf(before, name11);
        ASSERT_FALSE(chain.empty()) << file.name;
        ASSERT_EQ(chain.front(), file.firstCluster) << file.name << " is not where the cases expect it";
    }
}

void DamagedDiskette::MarkBad(const std::vector<uint16_t>& clusters)
{
    FatDisk disk(kMedia144M, before);
    for (uint16_t c : clusters)
        disk.SetEntry(c, 0xFF7);
    before = disk.bytes;
    WriteFile(made, before);
}

void DamagedDiskette::Weaken(uint32_t sector)
{
    auto reads = std::make_shared<int>(0);
    faultHook = [sector, reads](const DiskRequest& r) -> std::optional<InjectedFault> {
        if (r.controlCode != Control::DosIoctl || r.minor() != Minor::ReadTrack || r.block.size() < TrackIoBlock::kSize)
            return std::nullopt;
        const uint32_t first = (uint32_t{TrackIoBlock::Cylinder(r.block)} * 2 + TrackIoBlock::Head(r.block)) * kSpt +
                               TrackIoBlock::FirstSector(r.block);
        if (sector < first || sector >= first + TrackIoBlock::Count(r.block) || ++*reads == 1)
            return std::nullopt;
        return InjectedFault{false, Err::BadCrc};
    };
}

void DamagedDiskette::EditBootSector(const std::function<void(std::span<uint8_t>)>& edit)
{
    edit(std::span(before).first(512));
    WriteFile(made, before);
}

OperationOutcome DamagedDiskette::Run()
{
    WriteImageDiskFile(damaged, kMedia144M, before, lostSector);
    if (beforeBinding)
        beforeBinding();
    std::shared_ptr<RecordingService> recorder = BindRecordedFile(table, 'A', damaged, DriveKind::Floppy35HD);
    if (!recorder) {
        ADD_FAILURE() << "the damaged diskette file is refused";
        return outcome;
    }
    recorder->faultHook = faultHook;
    job.drives = table;
    outcome = RepairWorker(job, host);
    log = recorder->log;
    // The diskette file is saved when its last user lets it go.
    recorder.reset();
    table.Unbind('A');

    const ImdReadResult read = ReadImd(ReadFile(damaged), MediumDensity::High);
    if (!read.medium) {
        ADD_FAILURE() << "the repaired diskette file cannot be read: " << read.error;
        return outcome;
    }
    afterMedium = *read.medium;
    ReadBack();
    return outcome;
}

OperationOutcome DamagedDiskette::RunInEmulatedDrive(const std::function<void(EmulatedMedium&)>& defects)
{
    emulated = std::make_unique<EmulatedSetup>('A', DriveKind::Floppy35HD);
    WriteImageDiskFile(damaged, kMedia144M, before, lostSector);
    EmulatedMedium medium = *ReadImd(ReadFile(damaged), MediumDensity::High).medium;
    defects(medium);
    emulated->drive->Insert(std::move(medium));
    emulated->recorder->faultHook = faultHook;
    job.drives = emulated->table;
    outcome = RepairWorker(job, host);
    log = emulated->recorder->log;
    afterMedium = *emulated->drive->medium();
    ReadBack();
    return outcome;
}

void DamagedDiskette::ReadBack()
{
    after = afterMedium->ToImage(kMedia144M);
    WriteFile(repaired, after);
}

std::span<const uint8_t> DamagedDiskette::Before(uint32_t sector) const
{
    return std::span(before).subspan(size_t{sector} * 512, 512);
}

std::span<const uint8_t> DamagedDiskette::After(uint32_t sector) const
{
    return std::span(after).subspan(size_t{sector} * 512, 512);
}

std::vector<uint32_t> DamagedDiskette::ChangedSectors() const
{
    std::vector<uint32_t> changed;
    if (after.size() != before.size())
        return {~0u};
    for (uint32_t s = 0; s < before.size() / 512; ++s)
        if (!std::ranges::equal(Before(s), After(s)))
            changed.push_back(s);
    return changed;
}

std::vector<TrackTransfer> DamagedDiskette::Transfers(uint8_t minor) const
{
    std::vector<TrackTransfer> transfers;
    for (const LoggedRequest& r : log)
        if (r.isIoctl(minor) && r.block.size() >= TrackIoBlock::kSize) {
            const uint32_t first = (uint32_t{TrackIoBlock::Cylinder(r.block)} * 2 + TrackIoBlock::Head(r.block)) * kSpt +
                                   TrackIoBlock::FirstSector(r.block);
            transfers.push_back({first, TrackIoBlock::Count(r.block), !r.accepted || (r.out.flags & 1) != 0});
        }
    return transfers;
}

std::vector<std::pair<int, int>> DamagedDiskette::FormattedTracks() const
{
    std::vector<std::pair<int, int>> tracks;
    for (const LoggedRequest& r : log)
        if (r.isIoctl(Minor::FormatTrack) && (r.block[0] & 1) == 0 && r.accepted && !(r.out.flags & 1))
            tracks.emplace_back(TrackBlock::Cylinder(r.block), TrackBlock::Head(r.block));
    return tracks;
}

const SourceFile& DamagedDiskette::File(const std::string& name) const
{
    const auto found = std::ranges::find(files, name, &SourceFile::name);
    EXPECT_NE(found, files.end()) << name;
    return *found;
}

}  // namespace vokta::test
