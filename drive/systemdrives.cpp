#include "drive/systemdrives.h"

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/backend/virtualdrive.h"
#include "res/strings.h"

namespace vokta {

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

std::string DriveOptionValue(const DriveOption& option)
{
    const std::string type = TypeNameOfDriveKind(option.kind);
    return type.empty() ? option.path : option.path + ",type=" + type;
}

DriveBinding BindingFor(const DriveOption& option)
{
    if (std::optional<DriveBinding> machine = MachineDisketteDrive(option.letter, option.path))
        return *machine;
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
    std::vector<DriveBinding> machine = MachineDisketteDrives();
    const bool anyFloppy = !machine.empty();
    for (DriveBinding& binding : machine)
        table.Bind(std::move(binding));
    for (const DriveOption& option : options)
        table.Bind(BindingFor(option));
    if (anyFloppy || table.Find('A'))
        return;
    const std::string file = DefaultDisketteFile();
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path(), error);
        std::ofstream created(file, std::ios::binary);
    }
    table.Bind(VirtualDriveBinding('A', file, DriveKind::Floppy35HD));
}

}  // namespace vokta
