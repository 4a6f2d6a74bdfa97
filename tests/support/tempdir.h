// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vokta::test {

// A fresh directory under $TMPDIR, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
bool FileExists(const std::string& path);

// A path in single quotes, for a shell command line.
std::string ShellQuoted(const std::string& path);
// `size` bytes of a seeded pseudo-random sequence: file contents that no pattern repeats.
std::vector<uint8_t> RandomBytes(size_t size, unsigned seed);

// Runs a shell command; its exit status, and its stdout in `output` when given.
int Shell(const std::string& command, std::string* output = nullptr);

}  // namespace vokta::test
