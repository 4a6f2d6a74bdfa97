// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace vokta {

// What a writer of a flux file gives back: the file's bytes, or why it cannot be written.
struct FluxFileWrite {
    std::vector<uint8_t> bytes;
    std::string error;
};

// Flux files come from other programs and other machines: every field is read after a
// bounds check (FileHas), so a hostile offset or count is a refusal, never a read past
// the end.
inline bool FileHas(std::span<const uint8_t> file, uint64_t at, uint64_t count)
{
    return at <= file.size() && count <= file.size() - at;
}

template <typename T>
T LittleEndianAt(std::span<const uint8_t> file, size_t at)
{
    T value = 0;
    for (size_t i = sizeof(T); i-- > 0;)
        value = static_cast<T>((value << 8) | file[at + i]);
    return value;
}

template <typename T>
void StoreLittleEndian(std::vector<uint8_t>& out, size_t at, T value)
{
    for (size_t i = 0; i < sizeof(T); ++i)
        out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

template <typename T>
void AppendLittleEndian(std::vector<uint8_t>& out, T value)
{
    out.resize(out.size() + sizeof(T));
    StoreLittleEndian(out, out.size() - sizeof(T), value);
}

// A stretch of a file [begin, end) and the track it belongs to; the file's own header
// and tables belong to kFileItself.
struct FileExtent {
    static constexpr long kFileItself = -1;
    uint64_t begin = 0;
    uint64_t end = 0;
    long track = kFileItself;
};

// The track whose data shares bytes with other data, or nothing when no two extents
// overlap. A reader checks this before it decodes anything: tracks pointing into each
// other's data would let a small file expand into gigabytes.
std::optional<long> OverlappingTrack(std::vector<FileExtent> extents);

}  // namespace vokta
