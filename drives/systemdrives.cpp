// SPDX-License-Identifier: GPL-3.0-or-later
#include "drives/systemdrives.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drive/backend/files/virtualdrive.h"
#include "drives/sysfs.h"
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
    if (std::optional<DriveBinding> machine = MachineDisketteDrive(option.letter, option.path, option.kind))
        return *machine;
    return VirtualDriveBinding(option.letter, option.path, option.kind);
}

namespace {

namespace fs = std::filesystem;

// A two-digit hexadecimal attribute of a USB interface ("08"); -1 when there is none.
long HexAttribute(const fs::path& file)
{
    const std::string text = SysfsAttribute(file);
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 16);
    return text.empty() || *end != 0 ? -1 : value;
}

constexpr long kMassStorageClass = 0x08;
constexpr long kUfiSubclass = 0x04;

}  // namespace

bool IsRemovableScsiDisk(const std::string& blockDevices, const std::string& name)
{
    return name.starts_with("sd") && SysfsAttribute(fs::path(blockDevices) / name / "removable") == "1";
}

bool IsUsbFloppyDevice(const std::string& blockDevices, const std::string& name)
{
    if (!IsRemovableScsiDisk(blockDevices, name))
        return false;
    const fs::path device = fs::path(blockDevices) / name;
    std::error_code error;
    // The disk sits below its SCSI host, which sits below the USB interface it came from.
    for (fs::path at = fs::canonical(device, error); !error && at.has_relative_path(); at = at.parent_path()) {
        const long interfaceClass = HexAttribute(at / "bInterfaceClass");
        if (interfaceClass >= 0)
            return interfaceClass == kMassStorageClass && HexAttribute(at / "bInterfaceSubClass") == kUfiSubclass;
    }
    return false;
}

std::vector<DisketteDevice> FindDisketteDevices(const DisketteDeviceSources& sources,
                                                const std::vector<std::string>& fluxDevices)
{
    using Driver = DisketteDevice::Driver;
    std::vector<DisketteDevice> found;
    const fs::path block(sources.blockDevices);
    std::error_code error;
    for (const char letter : {'A', 'B'}) {
        const std::string name = std::string("fd") + static_cast<char>('0' + (letter - 'A'));
        if (fs::exists(block / name, error))
            found.push_back({letter, sources.deviceFolder + "/" + name, Driver::KernelFloppy});
    }
    std::vector<std::string> usb;
    for (const fs::directory_entry& entry : fs::directory_iterator(block, error))
        if (IsUsbFloppyDevice(sources.blockDevices, entry.path().filename().string()))
            usb.push_back(entry.path().filename().string());
    // In the kernel's own order of naming: sdz comes before sdaa.
    std::sort(usb.begin(), usb.end(), [](const std::string& a, const std::string& b) {
        return std::pair(a.size(), a) < std::pair(b.size(), b);
    });
    const auto taken = [&](char letter) {
        return std::any_of(found.begin(), found.end(), [&](const DisketteDevice& d) { return d.letter == letter; });
    };
    std::vector<std::pair<std::string, Driver>> rest;
    for (const std::string& name : usb)
        rest.emplace_back(sources.deviceFolder + "/" + name, Driver::UsbFloppy);
    for (const std::string& device : fluxDevices)
        rest.emplace_back(device, Driver::Greaseweazle);
    char letter = 'A';
    for (auto& [device, driver] : rest) {
        while (letter <= 'B' && taken(letter))
            ++letter;
        if (letter > 'B')
            break;
        found.push_back({letter++, std::move(device), driver});
    }
    std::sort(found.begin(), found.end(),
              [](const DisketteDevice& a, const DisketteDevice& b) { return a.letter < b.letter; });
    return found;
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
