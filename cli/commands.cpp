#include <cctype>

#include "cli/cli.h"
#include "drive/diskdrive.h"

namespace vokta::cli {

const std::vector<Command>& Commands()
{
    static const std::vector<Command> commands = {
        {"drives", "", "list the drives and what each one drives", DrivesCommand},
        {"media", "L:", "detect the media in a drive", MediaCommand},
        {"boot", "check|recreate L:", "check the boot sector, or write a predefined good one", BootCommand},
        {"read", "L: IMAGE", "Read Disk, then save the memory image to IMAGE", ReadCommand},
        {"write", "IMAGE L: [--no-verify] [--multi]",
         "load IMAGE, then Write Disk (--multi: several diskettes in a row; Enter finishes)", WriteCommand},
        {"compare", "IMAGE L:", "load IMAGE, then Compare", CompareCommand},
    };
    return commands;
}

int UsageError(Context& context, const std::string& command, const std::string& message)
{
    std::fprintf(context.err, "vokta-cli: %s\n", message.c_str());
    for (const Command& c : Commands())
        if (command == c.name)
            std::fprintf(context.err, "usage: vokta-cli [options] %s %s\n", c.name, c.usage);
    std::fprintf(context.err, "Try 'vokta-cli --help'.\n");
    return kExitUsage;
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
    if (!args.empty())
        return UsageError(context, "drives", "drives takes no arguments");
    for (const DriveBinding& d : context.drives.Drives())
        std::fprintf(context.out, "%c:  %s\n", d.letter, d.path.c_str());
    return 0;
}

int MediaCommand(Context& context, const Arguments& args)
{
    if (args.size() != 1 || !DriveLetterArgument(args[0]))
        return UsageError(context, "media", "media needs one drive, such as A:");
    DiskDrive drive(*DriveLetterArgument(args[0]), context.drives);
    if (drive.lastError == Err::None && !drive.SelectMedia(kMediaUnknown, false) && drive.lastError == Err::None)
        drive.lastError = Err::UnrecognizedMedia;
    if (drive.lastError != Err::None) {
        std::string text = drive.GetErrorText();
        if (!drive.openFailureDetail.empty())
            text += " (" + drive.openFailureDetail + ")";
        context.prompter.Ask(text, "Error", Buttons::Ok, Icon::Error);
        std::fprintf(context.out, "%s\n", std::string(GetMediaTypeName(kMediaUnknown)).c_str());
        return 2;
    }
    std::fprintf(context.out, "%s\n", std::string(GetMediaTypeName(drive.mediaType)).c_str());
    return 0;
}

}  // namespace vokta::cli
