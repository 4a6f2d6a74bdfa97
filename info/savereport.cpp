#include <cerrno>
#include <cstring>
#include <cstdio>

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
    std::FILE* file = std::fopen(path.c_str(), "wb");
    bool written = file != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    int error = errno;
    if (file != nullptr && std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written)
        boxes.MessageBox(path + ": " + std::strerror(error), LoadString(Str::Error), Buttons::Ok, Icon::Error);
    return written;
}

}  // namespace vokta
