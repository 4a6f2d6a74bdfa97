// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/replacementfile.h"
#include "info/inforeport.h"
#include "res/codepage.h"
#include "res/strings.h"

namespace vokta {

std::string SavedReport(const std::string& driveText, const std::vector<std::string>& lines)
{
    constexpr std::string_view kLineEnd = "\r\n";
    std::string text = LoadString(Str::InfoReportHeading);
    text += kLineEnd;
    text += LoadString(Str::InfoDrive) + " " + driveText.substr(0, 2);
    text += kLineEnd;
    for (const std::string& line : lines) {
        text += line;
        text += kLineEnd;
    }
    return Utf8ToWindows1252(text);
}

bool SaveReportFile(const std::string& path, const std::string& bytes, MessageBoxHost& boxes)
{
    std::string reason;
    if (SaveWholeFile(path, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), reason))
        return true;
    boxes.MessageBox(reason, LoadString(Str::Error), Buttons::Ok, Icon::Error);
    return false;
}

}  // namespace vokta
