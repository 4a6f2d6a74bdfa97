// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>

#include "cli/cli.h"
#include "cli/json.h"
#include "drive/diskdrive.h"
#include "drives/drivelist.h"
#include "res/strings.h"

namespace vokta::cli {

const std::vector<Command>& Commands()
{
    using enum OperandKind;
    static const std::vector<Command> commands = {
        {"drives",
         {},
         {
             {"--hard-disks", {}, "list the fixed disks too"},
             {"--show-subst", {}, "list a fixed disk whose description repeats an earlier one (SUBST drives)"},
             {"--paths", {}, "after each entry, a tab and the device, diskette file or folder behind the letter"},
         },
         "list the drives a drive selector offers, one entry per line",
         DrivesCommand},
        {"media", {{"L:", Drive}}, {}, "detect the media in a drive", MediaCommand},
        {"boot", {{"check|recreate", OneOf}, {"L:", Drive}}, {},
         "check the boot sector, or write a predefined good one", BootCommand},
        {"read",
         {{"L:", Drive}, {"IMAGE"}},
         {{"--force", {}, "replace IMAGE when it exists"}},
         "Read Disk, then save the memory image to IMAGE",
         ReadCommand},
        {"write",
         {{"IMAGE"}, {"L:", Drive}},
         {
             {"--no-verify", {}, "do not read each cylinder back after writing it"},
             {"--multi", {}, "write several diskettes in a row; Enter finishes"},
         },
         "load IMAGE, then Write Disk",
         WriteCommand},
        {"compare", {{"IMAGE"}, {"L:", Drive}}, {}, "load IMAGE, then Compare", CompareCommand},
        {"format",
         {{"L:", Drive}},
         {
             {"--media", Operand{kMediaWords, OneOf}, "the media to format; auto (the default) detects it"},
             {"--standard", {}, "the standard sector layout"},
             {"--optimized", {}, "the optimized sector layout (the default)"},
             {"--quick", {}, "rewrite the boot sector and the system area only"},
             {"--full", {}, "format every track (the default)"},
             {"--label", Operand{"TEXT", Label}, "the volume label, at most 11 characters (default: none)"},
             {"--no-verify", {}, "do not verify the tracks after formatting"},
             {"--multi", {}, "format several diskettes in a row; Enter finishes"},
         },
         "format the diskette in a drive",
         FormatCommand,
         {{"--standard", "--optimized"}, {"--quick", "--full"}}},
        {"label", {{"L:", Drive}, {"TEXT", Label, true}}, {},
         "show the volume label, or set it to TEXT (\"\" removes it)", LabelCommand},
        {"info", {{"L:", Drive}}, {{"--save", Operand{"FILE"}, "also save the report to FILE, as the Info page saves it"}},
         "list the information of the diskette in a drive", InfoCommand},
        {"repair",
         {{"L:", Drive}},
         {
             {"--boot", Operand{"write|stop", OneOf}, "at a bad boot sector: write a good one, or stop (default)"},
             {"--system", Operand{"format|checker|stop", OneOf},
              "at an unreadable system area: reformat its track; end, then run the FAT checker (fsck.fat -n -v, its "
              "report on stdout; the result stays \"Aborted !\" whatever it finds); or stop (default)"},
             {"--data", Operand{"format|track|cylinder|stop", OneOf},
              "at an unreadable data track: reformat it, mark the track or its cylinder BAD, or stop (default)"},
         },
         "repair the diskette in a drive",
         RepairCommand},
        {"rescue",
         {{"L:", Drive}, {"IMAGE"}},
         {
             {"--map", Operand{"FILE"}, "the rescue map, a ddrescue map file (default: IMAGE.map); with IMAGE,\n"
                                         "it resumes an earlier rescue, reading only what is missing"},
             {"--passes", Operand{"N", Count, false, 1, 99},
              "passes over the diskette: whole tracks first, then sector by sector (default 3)"},
             {"--retries", Operand{"N", Count, false, 0, 99},
              "further reads of a failing sector in each later pass, the head moved\n"
              "away and back before each (default 3)"},
             {"--revolutions", Operand{"N", Count, false, 0, 20},
              "revolutions a flux interface reads over a failing sector (default: its own)"},
         },
         "read every readable sector into IMAGE, keeping a map of what was read",
         RescueCommand},
    };
    return commands;
}

std::optional<char> DriveLetterArgument(const std::string& argument)
{
    if (argument.empty() || argument.size() > 2 || !std::isalpha(static_cast<unsigned char>(argument[0])))
        return std::nullopt;
    if (argument.size() == 2 && argument[1] != ':')
        return std::nullopt;
    return NormalizeDriveLetter(argument[0]);
}

namespace {

std::string_view KindWord(SystemDriveType type)
{
    switch (type) {
    case SystemDriveType::Removable: return "removable";
    case SystemDriveType::Fixed: return "fixed";
    case SystemDriveType::Remote: return "network";
    case SystemDriveType::CdRom: return "optical";
    case SystemDriveType::RamDisk: return "ramdisk";
    case SystemDriveType::Unknown:
    case SystemDriveType::NoRoot: break;
    }
    return "unknown";
}

SystemDriveType TypeOf(const SystemDriveQuery& query, char letter)
{
    for (const SystemDrive& drive : query.Drives())
        if (drive.letter == letter)
            return drive.type;
    return SystemDriveType::Unknown;
}

// A drive entry's parts: "A:  FLOPPY 3½ 1.44M" is letter A and its description.
std::string DriveJson(const SystemDriveQuery& query, const std::string& entry, const std::string& path)
{
    const std::string description = entry.size() > 4 ? entry.substr(4) : std::string();
    JsonWriter json;
    json.BeginObject()
        .Key("letter").String(entry.substr(0, 1))
        .Key("kind").String(KindWord(TypeOf(query, entry[0])))
        .Key("description").String(description)
        .Key("path").String(path)
        .Key("entry").String(entry)
        .EndObject();
    return json.text();
}

std::string MediaJson(const DiskDrive& drive)
{
    const DeviceParams& p = drive.params;
    JsonWriter json;
    json.BeginObject()
        .Key("type").String(MediaWord(drive.mediaType))
        .Key("name").String(GetMediaTypeName(drive.mediaType))
        .Key("cylinders").Number(p.cylinders())
        .Key("heads").Number(p.heads())
        .Key("sectorsPerTrack").Number(p.sectorsPerTrack())
        .Key("totalSectors").Number(p.totalSectors())
        .EndObject();
    return json.text();
}

// Why the diskette file bound to `letter` is not there, in words; nothing when it is, or
// when the letter drives no file.
std::optional<std::string> MissingDisketteFile(const DriveTable& drives, char letter)
{
    const DriveBinding* binding = drives.Find(letter);
    struct stat st {};
    if (!binding || binding->path.empty() || stat(binding->path.c_str(), &st) == 0 || errno != ENOENT)
        return std::nullopt;
    const std::string& path = binding->path;
    std::string target(4096, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0)
        return FormatString(Str::DisketteFileMissing, path);
    target.resize(static_cast<size_t>(length));
    return FormatString(Str::DisketteFileLinkBroken, path, target);
}

}  // namespace

int RunCommand(Context& context, const Command& command, const Arguments& args)
{
    for (size_t i = 0; i < command.operands.size() && i < args.operands.size(); ++i) {
        if (command.operands[i].kind != OperandKind::Drive)
            continue;
        if (const std::optional<std::string> missing = MissingDisketteFile(context.drives, args.Drive(i))) {
            context.prompter.Ask(*missing, LoadString(Str::Error), Buttons::Ok, Icon::Error);
            return Finish(context, {kResultFailed});
        }
    }
    return command.run(context, args);
}

int DrivesCommand(Context& context, const Arguments& args)
{
    const DriveTableQuery query(context.drives, MachineDrives({}));
    const DriveListSettings settings{.hideSubstDrives = !args.Has("--show-subst"),
                                     .enableHardDisks = args.Has("--hard-disks")};
    const bool paths = args.Has("--paths");
    std::string drives;
    for (const std::string& entry : ListDrives(query, DriveSelectorMask(settings, false))) {
        const std::string path = query.Path(entry[0]);
        context.Print(paths && !path.empty() ? entry + "\t" + path : entry);
        drives.append(drives.empty() ? "" : ",").append(DriveJson(query, entry, path));
    }
    context.AddField("drives", "[" + drives + "]");
    return Finish(context, {kResultDone});
}

int MediaCommand(Context& context, const Arguments& args)
{
    DiskDrive drive(args.Drive(0), context.drives);
    if (std::string reason; !DetectMediaSayingWhy(drive, reason)) {
        context.prompter.Ask(reason, LoadString(Str::Error), Buttons::Ok, Icon::Error);
        context.AddField("error", JsonString(TerminalText(reason)));
        return Finish(context, {kResultFailed});
    }
    context.Print(std::string(GetMediaTypeName(drive.mediaType)));
    context.AddField("media", MediaJson(drive));
    return Finish(context, {kResultDone});
}

}  // namespace vokta::cli
