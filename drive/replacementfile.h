// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vokta {

// A new file beside the one it replaces, which takes its place whole or not at all: it is
// written and synced without a name where the file system allows (a killed process leaves
// nothing behind), named only for the rename over the old file, and the folder is synced
// after it. Room for it is taken first, so a full disk refuses before anything changes.
class ReplacementFile {
public:
    ReplacementFile() = default;
    ~ReplacementFile() { Discard(); }
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;

    // Takes the new file beside `target`, with `room` bytes reserved; one taken already is
    // kept (a save tried again rewrites it). 0 or the errno of the failure.
    int Reserve(const std::string& target, off_t room);
    int fd() const { return fd_; }

    enum class Outcome {
        Replaced,  // `target` is now the new file; `error` tells a folder that could not be synced
        Failed,    // `target` is as it was; `error` says why; the new file stays for another try
        Rewrite,   // this system cannot name a file made without one: reserve and write again
    };
    Outcome Replace(const std::string& target, int& error);
    void Discard();

private:
    int Name(const std::string& target);

    int fd_ = -1;
    std::string path_;  // empty while the file has no name
    bool anonymous_ = true;  // until the file system says it cannot
};

// The folder that holds `path`.
std::string FolderOf(const std::string& path);

// From the start of the file, whatever was there before.
bool WriteAllAt0(int fd, std::span<const uint8_t> bytes);

// Why nothing can be saved into `path` (a named pipe, a socket, a device, a folder), in
// words; nothing for a regular file or no file. Asked before any work whose end is a save.
std::optional<std::string> SaveTargetRefusal(const std::string& path);

// Makes `bytes` the whole content of the file at `path` (a link's target is replaced, the
// link kept) through a replacement file: on any failure the old file stays as it was. False
// with the cause in words, the file named, in `reason`.
bool SaveWholeFile(const std::string& path, std::span<const uint8_t> bytes, std::string& reason);

}  // namespace vokta
