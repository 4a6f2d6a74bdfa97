// SPDX-License-Identifier: GPL-3.0-or-later
#include "fluxfile/hfefile.h"

#include <algorithm>

#include "res/strings.h"

namespace vokta {
namespace {

constexpr size_t kBlock = 512;
constexpr size_t kHalfBlock = 256;  // of one side
constexpr size_t kTrackListEntry = 4;
// Both sides' length is one 16-bit field. At most 255 tracks of 128 blocks each: the
// 16-bit block offsets always reach.
constexpr size_t kMaxSideBytes = 32767;
constexpr char kSignature[] = "HXCPICFE";
constexpr char kVersion3Signature[] = "HXCHFEV3";
constexpr size_t kSignatureSize = 8;
// The MFM cells of a 55h byte, 0001 0001: what other writers pad with too.
constexpr uint8_t kFillerCells = 0x11;

enum HeaderField : size_t {
    kRevision = 8,
    kTracks = 9,
    kSides = 10,
    kEncoding = 11,
    kBitRate = 12,
    kRpm = 14,
    kInterfaceMode = 16,
    kUnused = 17,
    kTrackListBlock = 18,
    kWriteAllowed = 20,
    kSingleStep = 21,
    kTrack0Side0Alternate = 22,
    kTrack0Side0Encoding = 23,
    kTrack0Side1Alternate = 24,
    kTrack0Side1Encoding = 25,
};

// The file keeps the first cell in the lowest bit; BitCells keep it in the highest.
constexpr uint8_t Reversed(uint8_t b)
{
    uint8_t r = 0;
    for (int i = 0; i < 8; ++i)
        r = static_cast<uint8_t>(r | (((b >> i) & 1) << (7 - i)));
    return r;
}

// Where byte i of a side lies, from the track's first block.
constexpr size_t SideByteOffset(size_t side, size_t i)
{
    return (i / kHalfBlock) * kBlock + side * kHalfBlock + i % kHalfBlock;
}

size_t BlocksFor(size_t sideBytes)
{
    return (sideBytes + kHalfBlock - 1) / kHalfBlock;
}

}  // namespace

bool LooksLikeHfe(std::span<const uint8_t> file)
{
    return file.size() >= kBlock && std::equal(kSignature, kSignature + kSignatureSize, file.begin());
}

HfeReadResult ReadHfe(std::span<const uint8_t> file)
{
    HfeReadResult result;
    if (!LooksLikeHfe(file)) {
        const bool version3 = file.size() >= kSignatureSize &&
                              std::equal(kVersion3Signature, kVersion3Signature + kSignatureSize, file.begin());
        result.error = LoadString(version3 ? Str::HfeVersion3 : Str::HfeNotHfe);
        return result;
    }
    if (file[kRevision] != 0) {
        result.error = FormatString(Str::HfeRevision, static_cast<long>(file[kRevision]));
        return result;
    }
    const size_t tracks = file[kTracks];
    const size_t sides = file[kSides];
    if (tracks == 0 || sides < 1 || sides > 2) {
        result.error = FormatString(Str::HfeGeometry, static_cast<long>(tracks), static_cast<long>(sides));
        return result;
    }
    HfeImage image;
    image.sides = static_cast<uint8_t>(sides);
    image.encoding = file[kEncoding];
    image.bitRateKbps = LittleEndianAt<uint16_t>(file, kBitRate);
    image.rpm = LittleEndianAt<uint16_t>(file, kRpm);
    image.interfaceMode = file[kInterfaceMode];
    image.unused = file[kUnused];
    image.writeAllowed = file[kWriteAllowed];
    image.singleStep = file[kSingleStep];
    image.track0Alternate = {file[kTrack0Side0Alternate], file[kTrack0Side1Alternate]};
    image.track0Encoding = {file[kTrack0Side0Encoding], file[kTrack0Side1Encoding]};
    if (image.bitRateKbps == 0) {
        result.error = LoadString(Str::HfeBitRate);
        return result;
    }
    const size_t list = LittleEndianAt<uint16_t>(file, kTrackListBlock) * kBlock;
    if (list < kBlock || !FileHas(file, list, tracks * kTrackListEntry)) {
        result.error = LoadString(Str::HfeTrackListOutside);
        return result;
    }

    struct Place {
        size_t at;
        size_t sideBytes;
    };
    std::vector<Place> places;
    std::vector<FileExtent> extents{{0, kBlock, FileExtent::kFileItself},
                                    {list, list + tracks * kTrackListEntry, FileExtent::kFileItself}};
    for (size_t c = 0; c < tracks; ++c) {
        const size_t entry = list + c * kTrackListEntry;
        const Place place{LittleEndianAt<uint16_t>(file, entry) * kBlock,
                          LittleEndianAt<uint16_t>(file, entry + 2) / 2u};
        for (size_t side = 0; side < sides && place.sideBytes > 0; ++side)
            if (!FileHas(file, place.at + SideByteOffset(side, place.sideBytes - 1), 1)) {
                result.error = FormatString(Str::HfeTrackOutside, static_cast<long>(c));
                return result;
            }
        const size_t end = std::min(place.at + BlocksFor(place.sideBytes) * kBlock, file.size());
        extents.push_back({place.at, end, static_cast<long>(c)});
        places.push_back(place);
    }
    if (const std::optional<long> track = OverlappingTrack(std::move(extents))) {
        result.error = FormatString(Str::HfeOverlap, *track);
        return result;
    }

    for (const Place& place : places) {
        HfeCylinder& cylinder = image.cylinders.emplace_back();
        for (size_t side = 0; side < sides; ++side) {
            BitCells& cells = cylinder.sides[side];
            cells.bytes.resize(place.sideBytes);
            for (size_t i = 0; i < place.sideBytes; ++i)
                cells.bytes[i] = Reversed(file[place.at + SideByteOffset(side, i)]);
            cells.bits = place.sideBytes * 8;
        }
    }
    result.image = std::move(image);
    return result;
}

namespace {

// Byte i of a side's cells as the file keeps it; past its cells, the filler.
uint8_t FileByte(const BitCells& cells, size_t i)
{
    if (i * 8 >= cells.bits)
        return Reversed(kFillerCells);
    const uint8_t given = i < cells.bytes.size() ? cells.bytes[i] : kFillerCells;
    const size_t used = std::min<size_t>(cells.bits - i * 8, 8);
    const uint8_t kept = static_cast<uint8_t>(0xFF00u >> used);
    return Reversed(static_cast<uint8_t>((given & kept) | (kFillerCells & ~kept)));
}

size_t SideBytes(const BitCells& cells)
{
    return (cells.bits + 7) / 8;
}

}  // namespace

FluxFileWrite WriteHfe(const HfeImage& image)
{
    FluxFileWrite result;
    const size_t tracks = image.cylinders.size();
    if (tracks == 0 || tracks > 255 || image.sides < 1 || image.sides > 2) {
        result.error = FormatString(Str::HfeGeometry, static_cast<long>(tracks), static_cast<long>(image.sides));
        return result;
    }
    if (image.bitRateKbps == 0) {
        result.error = LoadString(Str::HfeBitRate);
        return result;
    }
    const size_t listBlocks = (tracks * kTrackListEntry + kBlock - 1) / kBlock;
    std::vector<size_t> sideBytes;
    size_t blocks = 1 + listBlocks;
    for (size_t c = 0; c < tracks; ++c) {
        const HfeCylinder& cylinder = image.cylinders[c];
        if (image.sides == 1 && cylinder.sides[1].bits != 0) {
            result.error = FormatString(Str::HfeSecondSide, static_cast<long>(c));
            return result;
        }
        const size_t bytes = std::max(SideBytes(cylinder.sides[0]), SideBytes(cylinder.sides[1]));
        if (bytes > kMaxSideBytes) {
            result.error = FormatString(Str::HfeTrackTooLong, static_cast<long>(c), static_cast<long>(bytes));
            return result;
        }
        sideBytes.push_back(bytes);
        blocks += BlocksFor(bytes);
    }

    std::vector<uint8_t>& out = result.bytes;
    out.assign(blocks * kBlock, 0xFF);
    std::copy_n(kSignature, kSignatureSize, out.begin());
    out[kRevision] = 0;
    out[kTracks] = static_cast<uint8_t>(tracks);
    out[kSides] = image.sides;
    out[kEncoding] = image.encoding;
    StoreLittleEndian(out, kBitRate, image.bitRateKbps);
    StoreLittleEndian(out, kRpm, image.rpm);
    out[kInterfaceMode] = image.interfaceMode;
    out[kUnused] = image.unused;
    StoreLittleEndian(out, kTrackListBlock, uint16_t{1});
    out[kWriteAllowed] = image.writeAllowed;
    out[kSingleStep] = image.singleStep;
    out[kTrack0Side0Alternate] = image.track0Alternate[0];
    out[kTrack0Side0Encoding] = image.track0Encoding[0];
    out[kTrack0Side1Alternate] = image.track0Alternate[1];
    out[kTrack0Side1Encoding] = image.track0Encoding[1];

    size_t block = 1 + listBlocks;
    for (size_t c = 0; c < tracks; ++c) {
        const size_t entry = kBlock + c * kTrackListEntry;
        StoreLittleEndian(out, entry, static_cast<uint16_t>(block));
        StoreLittleEndian(out, entry + 2, static_cast<uint16_t>(sideBytes[c] * 2));
        for (size_t side = 0; side < 2; ++side) {
            const BitCells& cells = image.cylinders[c].sides[side];
            for (size_t i = 0; i < BlocksFor(sideBytes[c]) * kHalfBlock; ++i)
                out[block * kBlock + SideByteOffset(side, i)] = FileByte(cells, i);
        }
        block += BlocksFor(sideBytes[c]);
    }
    return result;
}

}  // namespace vokta
