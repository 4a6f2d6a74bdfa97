// SPDX-License-Identifier: GPL-3.0-or-later
#include "fat/damageddiskette.h"

#include <algorithm>
#include <cstdlib>
#include <ostream>
#include <random>

#include "drive/backend/files/imdfile.h"
#include "drive/diskdrive.h"
#include "fat/fatdisk.h"
#include "support/imagediskfile.h"
#include "support/requiretools.h"

namespace vokta::test {

namespace {

uint16_t LastClusterOf(const FatDisk& disk)
{
    return static_cast<uint16_t>((GeometryOf(disk.type)->totalSectors - disk.firstDataSector) / disk.sectorsPerCluster + 1);
}

}  // namespace

std::vector<uint16_t> ChainOf(const std::vector<uint8_t>& image, const std::string& name11, MediaType type)
{
    FatDisk disk(type, image);
    uint16_t cluster = 0;
    for (size_t i = 0; i < GeometryOf(type)->rootEntries && cluster == 0; ++i) {
        std::span<const uint8_t> entry = disk.RootEntry(i);
        if (entry[0] == 0)
            break;
        if (std::equal(name11.begin(), name11.end(), entry.begin()))
            cluster = static_cast<uint16_t>(entry[26] | entry[27] << 8);
    }
    std::vector<uint16_t> chain;
    // A chain longer than the diskette's clusters can only be a loop.
    while (cluster >= 2 && cluster < 0xFF7 && chain.size() < LastClusterOf(disk)) {
        chain.push_back(cluster);
        cluster = disk.Entry(cluster);
    }
    return chain;
}

std::vector<uint16_t> BadClusters(const std::vector<uint8_t>& image, unsigned copy, MediaType type)
{
    const FatDisk disk(type, image);
    std::vector<uint16_t> bad;
    for (uint16_t c = 2; c <= LastClusterOf(disk); ++c)
        if (disk.Entry(c, copy) == 0xFF7)
            bad.push_back(c);
    return bad;
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
    const MediaGeometry g = *GeometryOf(type);
    std::string make = "mkfs.fat -C -i 1D0C0144 --invariant" + (label.empty() ? "" : " -n " + ShellQuoted(label)) + " " +
                       ShellQuoted(made) + " " + std::to_string(g.totalSectors / 2);
    if (type == kMedia172M)
        make = "mformat -i " + ShellQuoted(made) + " -C -t 82 -h 2 -s 21 -N 1D0C0172" +
               (label.empty() ? "" : " -v " + ShellQuoted(label)) + " ::";
    ASSERT_EQ(Shell(make + " >/dev/null 2>&1"), 0) << make;
    files = {{"FIRST.BIN", RandomBytes(2000, 1)}, {"BIG.BIN", RandomBytes(60000, 2)}, {"NOTE.TXT", RandomBytes(700, 3)}};
    for (const SourceFile& file : files) {
        const std::string source = dir.File(file.name);
        WriteFile(source, file.bytes);
        std::string out;
        ASSERT_EQ(Shell("mcopy -i " + ShellQuoted(made) + " " + ShellQuoted(source) + " ::" + file.name + " 2>&1", &out), 0) << out;
    }
    before = ReadFile(made);
    const size_t clusterBytes = size_t{g.sectorsPerCluster} * 512;
    uint16_t next = 2;
    for (const SourceFile& file : files) {
        std::string name11 = file.name.substr(0, file.name.find('.'));
        name11.resize(8, ' ');
        name11 += file.name.substr(file.name.find('.') + 1);
        const std::vector<uint16_t> chain = ChainOf(before, name11, type);
        ASSERT_FALSE(chain.empty()) << file.name;
        ASSERT_EQ(chain.front(), next) << file.name << " is not where the cases expect it";
        next = static_cast<uint16_t>(next + (file.bytes.size() + clusterBytes - 1) / clusterBytes);
    }
}

void DamagedDiskette::MarkBad(const std::vector<uint16_t>& clusters)
{
    FatDisk disk(type, before);
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
        return InjectedFault{false, CodeOf(Err::BadCrc)};
    };
}

void DamagedDiskette::EditBootSector(const std::function<void(std::span<uint8_t>)>& edit)
{
    edit(std::span(before).first(512));
    WriteFile(made, before);
}

OperationOutcome DamagedDiskette::Run()
{
    WriteImageDiskFile(damaged, type, before, lostSector);
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
    WriteImageDiskFile(damaged, type, before, lostSector);
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
    after = afterMedium->ToImage(type);
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
    for (const LoggedRequest& r : log) {
        if (!r.accepted || (r.out.flags & 1))
            continue;
        // 21-sector tracks are formatted through the BIOS, the others through the IOCTL.
        if (r.isIoctl(Minor::FormatTrack) && (r.block[0] & 1) == 0)
            tracks.emplace_back(TrackBlock::Cylinder(r.block), TrackBlock::Head(r.block));
        else if (r.isBios(Bios::FormatTrack))
            tracks.emplace_back((r.in.ecx >> 8) & 0xFF, (r.in.edx >> 8) & 0xFF);
    }
    return tracks;
}

const SourceFile& DamagedDiskette::File(const std::string& name) const
{
    const auto found = std::ranges::find(files, name, &SourceFile::name);
    EXPECT_NE(found, files.end()) << name;
    return *found;
}

}  // namespace vokta::test
