// SPDX-License-Identifier: GPL-3.0-or-later
#include <cctype>

#include "cli/cli.h"
#include "drive/diskdrive.h"
#include "drives/drivelist.h"

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
        {"read", {{"L:", Drive}, {"IMAGE"}}, {}, "Read Disk, then save the memory image to IMAGE", ReadCommand},
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

int DrivesCommand(Context& context, const Arguments& args)
{
    const DriveTableQuery query(context.drives, MachineDrives({}));
    const DriveListSettings settings{.hideSubstDrives = !args.Has("--show-subst"),
                                     .enableHardDisks = args.Has("--hard-disks")};
    const bool paths = args.Has("--paths");
    for (const std::string& entry : ListDrives(query, DriveSelectorMask(settings, false))) {
        const std::string path = paths ? query.Path(entry[0]) : std::string();
        std::fprintf(context.out, "%s%s%s\n", entry.c_str(), path.empty() ? "" : "\t", path.c_str());
    }
    return 0;
}

int MediaCommand(Context& context, const Arguments& args)
{
    DiskDrive drive(args.Drive(0), context.drives);
    if (std::string reason; !DetectMediaSayingWhy(drive, reason)) {
        context.prompter.Ask(reason, "Error", Buttons::Ok, Icon::Error);
        std::fprintf(context.out, "%s\n", std::string(GetMediaTypeName(kMediaUnknown)).c_str());
        return 2;
    }
    std::fprintf(context.out, "%s\n", std::string(GetMediaTypeName(drive.mediaType)).c_str());
    return 0;
}

}  // namespace vokta::cli
