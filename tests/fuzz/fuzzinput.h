// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What every fuzz target shares: the entry point that libFuzzer calls (and the replay
// driver calls in the ordinary build), a check that stops the run loudly, and a
// diskette in an emulated drive made from the fuzzer's bytes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "drive/backend/emulated/emulateddrive.h"
#include "drive/drivetable.h"
#include "drive/media.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace vokta::fuzz {

// A broken promise is a crash, so that libFuzzer keeps the input and the replay fails.
[[noreturn]] void Broken(const char* what);
inline void Require(bool holds, const char* what)
{
    if (!holds)
        Broken(what);
}

// The fuzzer's bytes, read front to back; what runs out reads as zeros.
class Bytes {
public:
    explicit Bytes(std::span<const uint8_t> data) : data_(data) {}
    uint8_t Take()
    {
        return at_ < data_.size() ? data_[at_++] : 0;
    }
    std::span<const uint8_t> Rest() const { return data_.subspan(std::min(at_, data_.size())); }

private:
    std::span<const uint8_t> data_;
    size_t at_ = 0;
};

// A diskette whose image starts with the fuzzer's bytes and is zero after them, in an
// emulated drive bound to A: of a private drive table. The input is a 4-byte header
// (media, a defect's cylinder, its head and sector, a seed for what is done to it) and
// then the image: the seed corpus holds tool-made diskettes cut short behind their
// directories.
struct FuzzDiskette {
    static constexpr size_t kHeader = 4;

    explicit FuzzDiskette(std::span<const uint8_t> input);
    ~FuzzDiskette();
    FuzzDiskette(const FuzzDiskette&) = delete;
    FuzzDiskette& operator=(const FuzzDiskette&) = delete;

    MediaType type;
    std::vector<uint8_t> start;  // the image's first bytes as inserted; zeros follow
    uint8_t seed = 0;
    std::shared_ptr<EmulatedDrive> drive;
    DriveTable table;

    // Logical sector 0 as it is now.
    std::vector<uint8_t> BootSectorNow() const;
};

}  // namespace vokta::fuzz
