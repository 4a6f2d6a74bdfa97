// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/files/imdfile.h"

#include <algorithm>
#include <array>
#include <ctime>

#include "res/strings.h"

namespace vokta {
namespace {

constexpr uint8_t kCommentEnd = 0x1A;
constexpr uint8_t kCylinderMapFlag = 0x80;
constexpr uint8_t kHeadMapFlag = 0x40;
constexpr uint8_t kVariableSizes = 0xFF;
constexpr uint8_t kMaxSizeCode = 6;
// A compressed sector record of two bytes stands for up to 8 KB: without a bound, a small
// hostile file would expand to gigabytes. A 2.88M diskette holds 3 MB; this leaves room for
// tracks of overlapping long sectors.
constexpr size_t kMaxSectorData = 16u << 20;

// Data record types: 0 = no data; odd = full data, even = compressed (one fill byte);
// (type - 1) / 2 gives 0 normal, 1 deleted, 2 data error, 3 deleted with data error.
constexpr uint8_t kNoData = 0;
constexpr uint8_t kLastRecordType = 8;

std::optional<DataRate> RateOfMode(uint8_t mode)
{
    switch (mode) {
    case 0: case 3: return DataRate::k500;
    case 1: case 4: return DataRate::k300;
    case 2: case 5: return DataRate::k250;
    default: return std::nullopt;
    }
}

uint8_t ModeOfRate(DataRate rate)
{
    switch (rate) {
    case DataRate::k500: case DataRate::k1000: return 3;
    case DataRate::k300: return 4;
    case DataRate::k250: return 5;
    }
    return 3;
}

class Reader {
public:
    explicit Reader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool Take(size_t n, std::span<const uint8_t>& out)
    {
        if (bytes_.size() - at_ < n)
            return false;
        out = bytes_.subspan(at_, n);
        at_ += n;
        return true;
    }
    bool Byte(uint8_t& out)
    {
        std::span<const uint8_t> one;
        if (!Take(1, one))
            return false;
        out = one[0];
        return true;
    }
    bool AtEnd() const { return at_ == bytes_.size(); }
    size_t offset() const { return at_; }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

std::string At(Str text, size_t offset)
{
    return FormatString(text, static_cast<long>(offset));
}

}  // namespace

std::string ImdStampNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm local {};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%d/%m/%Y %H:%M:%S", &local);
    return text;
}

bool LooksLikeImd(std::span<const uint8_t> file)
{
    return file.size() >= 4 && std::equal(file.begin(), file.begin() + 4, "IMD ");
}

ImdReadResult ReadImd(std::span<const uint8_t> file, MediumDensity density)
{
    ImdReadResult result;
    if (!LooksLikeImd(file)) {
        result.error = LoadString(Str::NotAnImageDiskFile);
        return result;
    }
    const auto end = std::find(file.begin(), file.end(), kCommentEnd);
    if (end == file.end()) {
        result.error = LoadString(Str::ImageDiskWithoutEndMark);
        return result;
    }
    result.comment.assign(file.begin(), end);
    Reader in(file.subspan(static_cast<size_t>(end - file.begin()) + 1));

    struct ParsedTrack {
        uint8_t cylinder;
        uint8_t head;
        Track track;
    };
    std::vector<ParsedTrack> tracks;
    size_t sectorData = 0;
    uint16_t cylinders = EmulatedMedium::kDisketteTracks;
    bool anyHighRate = false;
    while (!in.AtEnd()) {
        const size_t start = in.offset();
        uint8_t mode = 0, cylinder = 0, headByte = 0, count = 0, sizeCode = 0;
        if (!in.Byte(mode) || !in.Byte(cylinder) || !in.Byte(headByte) || !in.Byte(count) ||
            !in.Byte(sizeCode)) {
            result.error = At(Str::ImageDiskTruncatedTrackHeader, start);
            return result;
        }
        const std::optional<DataRate> rate = RateOfMode(mode);
        const uint8_t head = headByte & 0x0F;
        if (!rate || head > 1 || (headByte & 0x30) != 0) {
            result.error = At(Str::ImageDiskInvalidTrackHeader, start);
            return result;
        }
        if (sizeCode > kMaxSizeCode && sizeCode != kVariableSizes) {
            result.error = At(Str::ImageDiskInvalidSizeCode, start);
            return result;
        }
        std::span<const uint8_t> numbers, cylinderMap, headMap, sizeTable;
        if (!in.Take(count, numbers) ||
            ((headByte & kCylinderMapFlag) && !in.Take(count, cylinderMap)) ||
            ((headByte & kHeadMapFlag) && !in.Take(count, headMap)) ||
            (sizeCode == kVariableSizes && !in.Take(size_t{count} * 2, sizeTable))) {
            result.error = At(Str::ImageDiskTruncatedSectorMaps, start);
            return result;
        }
        ParsedTrack parsed{cylinder, head, Track{*rate, {}}};
        for (uint8_t i = 0; i < count; ++i) {
            SectorRecord s;
            s.cylinder = cylinderMap.empty() ? cylinder : cylinderMap[i];
            s.head = headMap.empty() ? head : headMap[i];
            s.number = numbers[i];
            size_t bytes = size_t{128} << std::min(sizeCode, kMaxSizeCode);
            if (sizeCode == kVariableSizes) {
                bytes = GetU16(sizeTable, size_t{i} * 2);
                s.sizeCode = 0;
                while (s.sizeCode < kMaxSizeCode && s.size() < bytes)
                    ++s.sizeCode;
                if (s.size() != bytes) {
                    result.error = At(Str::ImageDiskInvalidSectorSize, start);
                    return result;
                }
            } else {
                s.sizeCode = sizeCode;
            }
            sectorData += bytes;
            if (sectorData > kMaxSectorData) {
                result.error = At(Str::ImageDiskTooMuchData, in.offset());
                return result;
            }
            uint8_t type = 0;
            if (!in.Byte(type) || type > kLastRecordType) {
                result.error = At(Str::ImageDiskInvalidDataRecord, in.offset());
                return result;
            }
            if (type == kNoData) {
                s.data.assign(bytes, 0);
                s.dataError = true;  // the address field was there, the data could not be read
            } else {
                const uint8_t kind = static_cast<uint8_t>((type - 1) / 2);
                const bool compressed = (type % 2) == 0;
                std::span<const uint8_t> data;
                if (!in.Take(compressed ? 1 : bytes, data)) {
                    result.error = At(Str::ImageDiskTruncatedSectorData, in.offset());
                    return result;
                }
                if (compressed)
                    s.data.assign(bytes, data[0]);
                else
                    s.data.assign(data.begin(), data.end());
                s.deleted = (kind & 1) != 0;
                s.dataError = (kind & 2) != 0;
            }
            parsed.track.sectors.push_back(std::move(s));
        }
        if (parsed.track.rate == DataRate::k500)
            anyHighRate = true;
        // A record without sectors is an unformatted track, which every cylinder has until
        // formatted: it must not widen the diskette, or a save would not give this one back.
        if (count != 0)
            cylinders = std::max<uint16_t>(cylinders, static_cast<uint16_t>(cylinder + 1));
        tracks.push_back(std::move(parsed));
    }

    if (!tracks.empty())
        density = anyHighRate ? MediumDensity::High : MediumDensity::Double;
    EmulatedMedium medium(density, cylinders, 2);
    for (ParsedTrack& t : tracks)
        if (medium.HasTrack(t.cylinder, t.head))  // an unformatted one past the last is as it is
            medium.track(t.cylinder, t.head) = std::move(t.track);
    result.medium = std::move(medium);
    return result;
}

std::vector<uint8_t> WriteImd(const EmulatedMedium& medium, const std::string& stamp,
                              const std::string& comment)
{
    std::vector<uint8_t> out;
    const std::string header = "IMD 1.18: " + stamp + "\r\n" + comment;
    out.insert(out.end(), header.begin(), header.end());
    out.push_back(kCommentEnd);

    for (uint16_t c = 0; c < medium.cylinders; ++c) {
        for (uint8_t h = 0; h < medium.heads; ++h) {
            const Track& track = medium.track(c, h);
            if (!track.formatted())
                continue;
            const auto& sectors = track.sectors;
            const bool cylinderMap = std::any_of(sectors.begin(), sectors.end(),
                                                 [&](const SectorRecord& s) { return s.cylinder != c; });
            const bool headMap = std::any_of(sectors.begin(), sectors.end(),
                                             [&](const SectorRecord& s) { return s.head != h; });
            const bool uniform = std::all_of(sectors.begin(), sectors.end(), [&](const SectorRecord& s) {
                return s.sizeCode == sectors.front().sizeCode;
            });
            out.push_back(ModeOfRate(track.rate));
            out.push_back(static_cast<uint8_t>(c));
            out.push_back(static_cast<uint8_t>(h | (cylinderMap ? kCylinderMapFlag : 0) |
                                               (headMap ? kHeadMapFlag : 0)));
            out.push_back(static_cast<uint8_t>(sectors.size()));
            out.push_back(uniform ? sectors.front().sizeCode : kVariableSizes);
            for (const SectorRecord& s : sectors)
                out.push_back(s.number);
            if (cylinderMap)
                for (const SectorRecord& s : sectors)
                    out.push_back(s.cylinder);
            if (headMap)
                for (const SectorRecord& s : sectors)
                    out.push_back(s.head);
            if (!uniform)
                for (const SectorRecord& s : sectors) {
                    out.push_back(static_cast<uint8_t>(s.size()));
                    out.push_back(static_cast<uint8_t>(s.size() >> 8));
                }
            for (const SectorRecord& s : sectors) {
                const bool dataError = s.dataError || medium.IsDefective(c, h, s.number);
                const uint8_t kind = static_cast<uint8_t>((s.deleted ? 1 : 0) | (dataError ? 2 : 0));
                std::vector<uint8_t> data = s.data;
                data.resize(s.size(), 0);
                const bool same = std::all_of(data.begin(), data.end(), [&](uint8_t b) { return b == data[0]; });
                out.push_back(static_cast<uint8_t>(1 + 2 * kind + (same ? 1 : 0)));
                if (same)
                    out.push_back(data[0]);
                else
                    out.insert(out.end(), data.begin(), data.end());
            }
        }
    }
    return out;
}

}  // namespace vokta
