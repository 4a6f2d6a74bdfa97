// SPDX-License-Identifier: GPL-3.0-or-later
// Finding Greaseweazles among the system's serial devices, and saying why one does not open.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "drive/backend/greaseweazle/greaseweazle.h"
#include "res/strings.h"

namespace vokta::gw {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kAcmPrefix = "ttyACM";

std::string FirstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// A USB id as sysfs writes it ("4d69"); nullopt for anything else.
std::optional<uint16_t> UsbId(const std::string& text)
{
    if (text.size() != 4 || !std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return std::nullopt;
    return static_cast<uint16_t>(std::stoul(text, nullptr, 16));
}

// The number after "ttyACM"; -1 for names that have none.
long AcmNumber(const std::string& name)
{
    if (name.size() <= kAcmPrefix.size() || name.compare(0, kAcmPrefix.size(), kAcmPrefix) != 0)
        return -1;
    const std::string digits = name.substr(kAcmPrefix.size());
    if (digits.size() > 6 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return -1;
    return std::stol(digits);
}

}  // namespace

std::vector<GreaseweazlePort> FindGreaseweazles(const fs::path& sysfs, const std::string& devices)
{
    std::vector<std::pair<long, GreaseweazlePort>> found;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(sysfs / "class" / "tty", error)) {
        const std::string name = entry.path().filename().string();
        const long number = AcmNumber(name);
        if (number < 0)
            continue;
        // The tty's device is the USB interface; the USB device, with its ids, holds it.
        const fs::path interface = fs::canonical(entry.path() / "device", error);
        if (error)
            continue;
        const fs::path usb = interface.parent_path();
        const std::optional<uint16_t> vendor = UsbId(FirstLine(usb / "idVendor"));
        const std::optional<uint16_t> product = UsbId(FirstLine(usb / "idProduct"));
        if (vendor != kUsbVendor || (product != kUsbProduct && product != kUsbProductOld))
            continue;
        found.push_back({number, {devices + "/" + name, *product, FirstLine(usb / "serial")}});
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<GreaseweazlePort> ports;
    for (auto& [number, port] : found)
        ports.push_back(std::move(port));
    return ports;
}

std::string GreaseweazleOpenFailure(const std::string& path, int error, const std::string& group)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return path + ": " +
               (group.empty() ? LoadString(Str::GwPermissionDenied) : FormatString(Str::GwPermissionDeniedGroup, group));
    case ENOENT: return path + ": " + LoadString(Str::NoSuchDevice);
    case ENXIO:
    case ENODEV: return path + ": " + LoadString(Str::GwGone);
    case EBUSY: return path + ": " + LoadString(Str::DeviceInUse);
    case ENOTTY: return path + ": " + LoadString(Str::GwNotAGreaseweazle);
    default: return path + ": " + std::strerror(error);
    }
}

}  // namespace vokta::gw
