// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/drivebindings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/backend/files/virtualdrive.h"
#include "res/strings.h"

namespace vokta {

std::vector<DriveOption> ReadDriveBindings(QSettings& store)
{
    std::vector<DriveOption> bindings;
    store.beginGroup(kDrivesGroup);
    for (const QString& letter : store.childKeys()) {
        std::string error;
        const std::string text = letter.toStdString() + ":=" + store.value(letter).toString().toStdString();
        if (const std::optional<DriveOption> option = ParseDriveOption(text, error))
            ReplaceBinding(bindings, *option);
    }
    store.endGroup();
    return bindings;
}

void WriteDriveBindings(QSettings& store, const std::vector<DriveOption>& bindings)
{
    store.beginGroup(kDrivesGroup);
    store.remove(QString());
    for (const DriveOption& option : bindings)
        store.setValue(QString(QChar(NormalizeDriveLetter(option.letter))),
                       QString::fromStdString(DriveOptionValue(option)));
    store.endGroup();
}

void BindDrives(DriveTable& table, const std::vector<DriveOption>& stored, const std::vector<DriveOption>& commandLine)
{
    table = DriveTable();
    std::vector<DriveOption> options = stored;
    options.insert(options.end(), commandLine.begin(), commandLine.end());
    PopulateSystemDrives(table, options);
}

void ReplaceBinding(std::vector<DriveOption>& bindings, const DriveOption& option)
{
    DriveOption bound = option;
    bound.letter = NormalizeDriveLetter(option.letter);
    std::erase_if(bindings, [&](const DriveOption& b) { return NormalizeDriveLetter(b.letter) == bound.letter; });
    const auto at = std::find_if(bindings.begin(), bindings.end(),
                                 [&](const DriveOption& b) { return NormalizeDriveLetter(b.letter) > bound.letter; });
    bindings.insert(at, std::move(bound));
}

BindingTarget CheckBindingTarget(const DriveOption& option)
{
    struct stat st {};
    if (stat(option.path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return {TargetState::Missing, {}};
        return {TargetState::Refused, option.path + ": " + std::strerror(errno)};
    }
    if (S_ISDIR(st.st_mode))
        return {TargetState::Refused, option.path + ": " + LoadString(Str::IsADirectory)};
    if (MachineDisketteDrive(option.letter, option.path))
        return {TargetState::Usable, {}};
    if (const std::optional<Str> notADiskette = NotADisketteFile(st.st_mode))
        return {TargetState::Refused, option.path + ": " + LoadString(*notADiskette)};
    return {TargetState::Usable, {}};
}

bool CreateEmptyDisketteFile(const std::string& path, std::string& reason)
{
    // Never over a file that appeared meanwhile: that one may be somebody's diskette.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        reason = FormatString(Str::CannotCreateDisketteFile, path, std::string(std::strerror(errno)));
        return false;
    }
    close(fd);
    return true;
}

}  // namespace vokta
