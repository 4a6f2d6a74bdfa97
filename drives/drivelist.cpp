// SPDX-License-Identifier: GPL-3.0-or-later
#include "drives/drivelist.h"

#include <algorithm>
#include <cctype>

#include "drive/diskdrive.h"
#include "res/strings.h"

namespace vokta {

namespace {

// The room for a remote name after "X:  ", and what marks a shortened one.
constexpr size_t kRemoteNameLength = kDriveEntryLength - 4;
constexpr std::string_view kShortenedMark = "...";

bool IsContinuationByte(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

size_t CharacterCount(std::string_view text)
{
    return static_cast<size_t>(std::count_if(text.begin(), text.end(), [](char c) { return !IsContinuationByte(c); }));
}

// The first `count` characters of a UTF-8 text.
std::string FirstCharacters(std::string_view text, size_t count)
{
    size_t end = 0;
    for (size_t seen = 0; end < text.size(); ++end) {
        if (!IsContinuationByte(text[end]) && seen++ == count)
            break;
    }
    return std::string(text.substr(0, end));
}

// A remote name that fits its entry: a longer one keeps its beginning, where the
// server stands, and ends in "...".
std::string FittedRemoteName(const std::string& name)
{
    if (CharacterCount(name) <= kRemoteNameLength)
        return name;
    return FirstCharacters(name, kRemoteNameLength - kShortenedMark.size()) + std::string(kShortenedMark);
}

std::string RemovableDescription(int deviceType)
{
    switch (deviceType) {
    case 0: return LoadString(Str::DriveFloppy360K);
    case 1: return LoadString(Str::DriveFloppy1200K);
    case 2: return LoadString(Str::DriveFloppy720K);
    case 5: return LoadString(Str::DriveRemovableHardDisk);
    case 6: return LoadString(Str::DriveTape);
    case 7: return LoadString(Str::DriveFloppy1440K);
    case 8: return LoadString(Str::DriveRemovableOptical);
    case 9: return LoadString(Str::DriveFloppy2880K);
    default: return {};
    }
}

std::string Description(const SystemDriveQuery& query, const SystemDrive& drive)
{
    switch (drive.type) {
    case SystemDriveType::Removable: return RemovableDescription(query.DeviceType(drive.letter));
    case SystemDriveType::Fixed: return query.VolumeLabel(drive.letter).value_or("");
    case SystemDriveType::Remote: {
        const std::optional<std::string> name = query.RemoteName(drive.letter);
        return name ? FittedRemoteName(*name) : LoadString(Str::DriveNetwork);
    }
    case SystemDriveType::CdRom: return LoadString(Str::DriveCdRom);
    case SystemDriveType::RamDisk: return LoadString(Str::DriveRamDisk);
    default: return LoadString(Str::DriveUnknown);
    }
}

// A SUBST drive shows the description of the fixed disk it was made on, and a second
// unlabelled disk the same empty one: the first drive with a description is the one shown.
bool RepeatsAListedDescription(const std::vector<std::string>& entries, const std::string& entry)
{
    const std::string_view description = std::string_view(entry).substr(3);
    return std::any_of(entries.begin(), entries.end(), [&](const std::string& listed) {
        return listed.size() >= 3 && std::string_view(listed).substr(3) == description;
    });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size()
           && std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
                  return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
              });
}

}  // namespace

DriveTableQuery::DriveTableQuery(const DriveTable& table, std::vector<MachineDrive> machine) : table_(table)
{
    char letter = 'C';
    for (MachineDrive& drive : machine) {
        while (letter <= 'Z' && table.Find(letter))
            ++letter;
        if (letter > 'Z')
            break;
        machine_.emplace_back(letter++, std::move(drive));
    }
}

std::vector<SystemDrive> DriveTableQuery::Drives() const
{
    std::vector<SystemDrive> drives;
    for (const DriveBinding& binding : table_.Drives())
        drives.push_back({binding.letter, binding.type});
    for (const auto& [letter, drive] : machine_)
        drives.push_back({letter, drive.type});
    std::sort(drives.begin(), drives.end(), [](const SystemDrive& a, const SystemDrive& b) { return a.letter < b.letter; });
    return drives;
}

int DriveTableQuery::DeviceType(char letter) const
{
    if (!table_.Find(letter))
        return -1;
    return DiskDrive::QueryDeviceType(std::string{letter, ':', '\\'}, table_);
}

std::optional<std::string> DriveTableQuery::VolumeLabel(char letter) const
{
    const MachineDrive* drive = Machine(letter);
    return drive ? drive->label : std::nullopt;
}

std::optional<std::string> DriveTableQuery::RemoteName(char letter) const
{
    const MachineDrive* drive = Machine(letter);
    return drive ? drive->remoteName : std::nullopt;
}

std::string DriveTableQuery::Path(char letter) const
{
    if (const DriveBinding* binding = table_.Find(letter))
        return binding->path;
    const MachineDrive* drive = Machine(letter);
    if (!drive)
        return {};
    return drive->type == SystemDriveType::Remote ? drive->name : "/dev/" + drive->name;
}

const MachineDrive* DriveTableQuery::Machine(char letter) const
{
    for (const auto& [at, drive] : machine_)
        if (at == letter)
            return &drive;
    return nullptr;
}

std::vector<std::string> ListDrives(const SystemDriveQuery& query, uint32_t mask)
{
    std::vector<std::string> entries;
    for (const SystemDrive& drive : query.Drives()) {
        if ((mask & DriveTypeBit(drive.type)) == 0)
            continue;
        std::string entry{drive.letter, ':'};
        if ((mask & kDescribeDrives) == 0) {
            entries.push_back(std::move(entry));
            continue;
        }
        entry = FirstCharacters(entry + "  " + Description(query, drive), kDriveEntryLength);
        if (drive.type == SystemDriveType::Fixed && (mask & kListAllFixedDisks) == 0
            && RepeatsAListedDescription(entries, entry))
            continue;
        entries.push_back(std::move(entry));
    }
    return entries;
}

uint32_t DriveSelectorMask(const DriveListSettings& settings, bool noHardDisks)
{
    uint32_t mask = DriveTypeBit(SystemDriveType::Removable) | kDescribeDrives;
    if (settings.enableHardDisks && !noHardDisks)
        mask |= DriveTypeBit(SystemDriveType::Fixed);
    if (!settings.hideSubstDrives)
        mask |= kListAllFixedDisks;
    return mask;
}

std::optional<size_t> SelectedDriveEntry(const std::vector<std::string>& entries, const std::string& currentDriveText)
{
    if (entries.empty())
        return std::nullopt;
    if (!currentDriveText.empty())
        for (size_t i = 0; i < entries.size(); ++i)
            if (StartsWithIgnoringCase(entries[i], currentDriveText))
                return i;
    return 0;
}

DriveSelectorFill FillDriveSelector(const SystemDriveQuery& query, const DriveListSettings& settings,
                                    bool noHardDisks, const std::string& currentDriveText)
{
    DriveSelectorFill fill;
    fill.entries = ListDrives(query, DriveSelectorMask(settings, noHardDisks));
    fill.selected = SelectedDriveEntry(fill.entries, currentDriveText);
    return fill;
}

}  // namespace vokta
