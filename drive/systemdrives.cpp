#include "drive/systemdrives.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>

#include "drive/backend/linuxfloppy.h"
#include "drive/backend/virtualdrive.h"
#include "res/strings.h"

namespace vokta {
namespace {

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

void MakeDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0755);
    mkdir(path.c_str(), 0755);
}

}  // namespace

std::optional<DriveOption> ParseDriveOption(const std::string& text, std::string& error)
{
    if (text.size() < 4 || !std::isalpha(static_cast<unsigned char>(text[0])) || text[1] != ':' || text[2] != '=') {
        error = FormatString(Str::DriveBindingSyntax, text);
        return std::nullopt;
    }
    DriveOption option;
    option.letter = NormalizeDriveLetter(text[0]);
    option.path = text.substr(3);
    const size_t type = option.path.rfind(",type=");
    if (type != std::string::npos) {
        const std::string name = option.path.substr(type + 6);
        std::optional<DriveKind> kind = DriveKindOfTypeName(name);
        if (!kind) {
            error = FormatString(Str::UnknownDriveType, name);
            return std::nullopt;
        }
        option.kind = *kind;
        option.path.erase(type);
    }
    if (option.path.empty()) {
        error = FormatString(Str::DriveBindingWithoutFile, text);
        return std::nullopt;
    }
    return option;
}

DriveBinding BindingFor(const DriveOption& option)
{
    if (std::optional<DriveBinding> floppy = LinuxFloppyBinding(option.letter, option.path))
        return *floppy;
    return VirtualDriveBinding(option.letter, option.path, option.kind);
}

std::string DefaultDisketteFile()
{
    std::string data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::string(home) + "/.local/share";
    else
        data = "/tmp";
    return data + "/vokta/diskette-a.img";
}

void PopulateSystemDrives(DriveTable& table, const std::vector<DriveOption>& options)
{
    bool anyFloppy = false;
    for (char letter : {'A', 'B'}) {
        const std::string device = std::string("/dev/fd") + static_cast<char>('0' + (letter - 'A'));
        if (!Exists(device))
            continue;
        if (std::optional<DriveBinding> floppy = LinuxFloppyBinding(letter, device)) {
            table.Bind(std::move(*floppy));
            anyFloppy = true;
        }
    }
    for (const DriveOption& option : options)
        table.Bind(BindingFor(option));
    if (anyFloppy || table.Find('A'))
        return;
    const std::string file = DefaultDisketteFile();
    if (!Exists(file)) {
        MakeDirectories(file.substr(0, file.find_last_of('/')));
        const int fd = open(file.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            close(fd);
    }
    table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
}

}  // namespace vokta
