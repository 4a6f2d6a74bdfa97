// SPDX-License-Identifier: GPL-3.0-or-later
// The boot-sector check over any 512 bytes, and the builder over any device parameters:
// the check only ever names its nine tests, and what the builder makes passes them but
// for what the parameters themselves lack (a size, an accepted media byte).
#include <bit>
#include <string>

#include "boot/bootbuilder.h"
#include "drive/media.h"
#include "fuzzinput.h"

using namespace vokta;
using namespace vokta::fuzz;

namespace {

void CheckTheCheck(std::span<const uint8_t> sector)
{
    const BootCheckResult r = ValidateBootSector(sector);
    Require(!IsRunFailure(r), "the check of bytes in memory reports a run failure");
    Require((r & ~BootCheck::AllTests) == 0, "the check sets a bit that is no test");
    const size_t lines = BootCheckLines(r).size();
    Require(lines == (r == 0 ? 1u : static_cast<size_t>(std::popcount(r))), "one line per failed test");

    const BootCheckReport report = CheckBootSectorBytes(sector);
    Require((report.result & BootCheck::AllTests) == r, "weighing the fields changes no test's answer");
    Require(((report.result & BootCheck::Implausible) != 0) == (report.fields != 0), "the field bit tells the fields");
    Require((report.fields & ~0x003Fu) == 0, "a field is weighed that has no line");
    const size_t fieldLines = BootCheckLines(report).size() - (r == 0 ? 0u : lines);
    Require(report.result == 0 || fieldLines == static_cast<size_t>(std::popcount(report.fields)),
            "one line per implausible field");
}

uint16_t TakeU16(Bytes& bytes)
{
    const uint8_t low = bytes.Take();
    return static_cast<uint16_t>(low | bytes.Take() << 8);
}

// The parameters detection would report for a medium with this BPB, the cylinders (and
// the rest) from the bytes behind the sector.
void CheckTheBuilder(std::span<const uint8_t> input)
{
    BootSector old;
    std::copy_n(input.begin(), std::min(input.size(), old.bytes.size()), old.bytes.begin());
    DeviceParams params;
    std::copy_n(old.bytes.begin() + Bpb::kInBootSector, Bpb::kSize, params.bytes.begin() + DeviceParams::kBpbOffset);
    Bytes extra(input.subspan(std::min(input.size(), old.bytes.size())));
    params.setU16(DeviceParams::Cylinders, TakeU16(extra));
    const auto mediaType = static_cast<int32_t>(extra.Take() % (kMediaUnknown + 1));
    const LocalTime now{1970 + extra.Take(), 1 + extra.Take() % 12, 1 + extra.Take() % 31, extra.Take() % 7,
                        extra.Take() % 24, extra.Take() % 60, extra.Take() % 60};
    const std::span<const uint8_t> rest = extra.Rest();
    const std::string label(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(rest.size(), 40)));

    const BootSector built = BuildBootSector(params, mediaType, label, now);
    const uint64_t total = uint64_t{params.cylinders()} * params.heads() * params.sectorsPerTrack();
    const uint32_t stated = built.u16(BootSector::TotalSectors16) != 0 ? built.u16(BootSector::TotalSectors16)
                                                                      : built.u32(BootSector::TotalSectors32);
    if (total <= UINT32_MAX)
        Require(stated == total, "the built sector states the medium's size");
    else
        Require(stated != 0, "a medium too large to state is not stated as none");

    const BootCheckResult r = ValidateBootSector(built.span());
    const bool mediaAccepted = IsAcceptedMediaDescriptor(built.u8(BootSector::MediaDescriptor));
    const BootCheckResult expected =
        (stated == 0 ? BootCheck::BadTotalSectors : 0) | (mediaAccepted ? 0 : BootCheck::BadMedia);
    Require(r == expected, "the built sector fails a test its parameters do not explain");
    Require(built.text(BootSector::VolumeLabel, BootSector::kLabelSize) == VolumeLabelField(label),
            "the label field is the label's");

    const std::optional<FatLayout> layout = FatLayout::FromBootSector(built.span());
    if (!layout)
        return;
    const uint32_t sectors = SystemAreaSectors(*layout);
    Require(sectors >= 1, "the system area holds the first data sector");
    if (sectors > 4096)
        return;
    std::vector<uint8_t> area(size_t{sectors} * 512, 0xCC);
    const uint8_t media = built.u8(BootSector::MediaDescriptor);
    FillSystemArea(area, *layout, media, label, now);
    Require(area[0] == media, "the first FAT begins with the media byte");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    CheckTheCheck(input);
    CheckTheBuilder(input);
    return 0;
}
