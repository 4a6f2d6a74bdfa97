#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli.h"

namespace {

using namespace vokta;
using namespace vokta::cli;

void PrintHelp(std::FILE* out)
{
    std::fprintf(out,
                 "usage: vokta-cli [--drive L:=PATH[,type=720k|1.2m|1.44m]]... [--assume-yes]\n"
                 "                 [--on-error abort|retry|ignore] [--lang en|it] COMMAND ...\n"
                 "\n"
                 "Diskette utility: duplicate, format, check and repair diskettes in real floppy\n"
                 "drives (/dev/fd0, /dev/fd1) or in diskette files (raw .img/.ima/.dim, ImageDisk .imd).\n"
                 "\n"
                 "Options:\n"
                 "  --drive L:=PATH[,type=T]  bind drive letter L: to a device or diskette file\n"
                 "                            (T: the drive's kind, 720k, 1.2m or 1.44m)\n"
                 "  --assume-yes              answer Yes/OK to questions when no terminal can\n"
                 "  --on-error abort|retry|ignore  answer disk-error questions so\n"
                 "  --lang en|it              language of the texts\n"
                 "  --help, --version\n"
                 "\n"
                 "Commands:\n");
    for (const Command& c : Commands())
        std::fprintf(out, "  %s %s\n      %s\n", c.name, c.usage, c.summary);
}

std::optional<Answer> OnErrorAnswer(const std::string& value)
{
    if (value == "abort")
        return Answer::Abort;
    if (value == "retry")
        return Answer::Retry;
    if (value == "ignore")
        return Answer::Ignore;
    return std::nullopt;
}

int Usage(const std::string& message)
{
    std::fprintf(stderr, "vokta-cli: %s\nTry 'vokta-cli --help'.\n", message.c_str());
    return kExitUsage;
}

}  // namespace

int main(int argc, char** argv)
{
    GlobalOptions options;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc)
                return false;
            out = argv[++i];
            return true;
        };
        std::string v;
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("vokta-cli %s\n", VOKTA_VERSION);
            return 0;
        }
        if (arg == "--assume-yes" || arg == "-y") {
            options.assumeYes = true;
        } else if (arg == "--drive") {
            std::string error;
            if (!value(v))
                return Usage("--drive needs L:=PATH");
            std::optional<DriveOption> option = ParseDriveOption(v, error);
            if (!option)
                return Usage(error);
            options.drives.push_back(*option);
        } else if (arg == "--on-error") {
            if (!value(v) || !OnErrorAnswer(v))
                return Usage("--on-error takes abort, retry or ignore");
            options.onError = OnErrorAnswer(v);
        } else if (arg == "--lang") {
            if (!value(v) || (v != "en" && v != "it"))
                return Usage("--lang takes en or it");
            options.language = v;
        } else {
            return Usage("unknown option " + arg);
        }
    }
    if (i >= argc)
        return Usage("no command given");

    const std::string name = argv[i++];
    const Arguments args(argv + i, argv + argc);
    DriveTable& drives = DriveTable::System();
    PopulateSystemDrives(drives, options.drives);
    Prompter prompter(options, stdin, stderr, isatty(STDIN_FILENO) && isatty(STDERR_FILENO));
    Context context{options, drives, stdout, stderr, prompter};
    for (const Command& c : Commands())
        if (name == c.name)
            return c.run(context, args);
    return Usage("unknown command " + name);
}
