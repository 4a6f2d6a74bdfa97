// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive/backend/usbfloppy/transparentscsi.h"

#include <algorithm>

namespace vokta {

namespace {

constexpr Ufi::Sense kUnknownCommand{Ufi::SenseKey::IllegalRequest, 0x20, 0x00};
constexpr Ufi::Sense kNoMedium{Ufi::SenseKey::NotReady, 0x3A, 0x00};
constexpr size_t kReadCapacityLength = 8;
// What an empty drive is taken for: the one kind of drive that comes with this path.
constexpr Ufi::Capacity kLargestCapacity{2880, 512};

std::optional<Ufi::Sense> SenseOf(const ScsiOutcome& outcome)
{
    if (outcome.error != 0 || outcome.status != kScsiCheckCondition)
        return std::nullopt;
    return Ufi::ParseSense(outcome.sense);
}

uint32_t BigEndian32(std::span<const uint8_t> bytes, size_t at)
{
    return static_cast<uint32_t>(bytes[at]) << 24 | static_cast<uint32_t>(bytes[at + 1]) << 16 |
           static_cast<uint32_t>(bytes[at + 2]) << 8 | bytes[at + 3];
}

ScsiOutcome Refused(const Ufi::Sense& sense)
{
    const auto encoded = Ufi::EncodeSense(sense);
    return {0, kScsiCheckCondition, {encoded.begin(), encoded.end()}, 0};
}

}  // namespace

ScsiOutcome TransparentScsiTransport::Run(std::span<const uint8_t> cdb, ScsiDirection direction,
                                          std::span<uint8_t> data, unsigned timeoutMs)
{
    if (transparent_ && !cdb.empty() && cdb[0] == Ufi::Op::FormatUnit)
        return Refused(kUnknownCommand);
    ScsiOutcome outcome = disk_->Run(cdb, direction, data, timeoutMs);
    if (cdb.empty() || cdb[0] != Ufi::Op::ReadFormatCapacities || SenseOf(outcome) != kUnknownCommand)
        return outcome;
    transparent_ = true;
    return CapacityListFromReadCapacity(data, timeoutMs);
}

ScsiOutcome TransparentScsiTransport::CapacityListFromReadCapacity(std::span<uint8_t> data, unsigned timeoutMs)
{
    Ufi::Cdb readCapacity{};
    readCapacity[0] = Ufi::Op::ReadCapacity;
    std::array<uint8_t, kReadCapacityLength> answer{};
    ScsiOutcome outcome = disk_->Run(readCapacity, ScsiDirection::In, answer, timeoutMs);
    Ufi::CapacityList list;
    if (outcome.good() && outcome.residual == 0)
        list = {Ufi::DescriptorType::Formatted, {BigEndian32(answer, 0) + 1, BigEndian32(answer, 4)}, {}};
    else if (SenseOf(outcome) == kNoMedium)
        list = {Ufi::DescriptorType::NoMedium, kLargestCapacity, {}};
    else
        return outcome;
    const std::vector<uint8_t> encoded = Ufi::EncodeCapacityList(list);
    const size_t moved = std::min(encoded.size(), data.size());
    std::copy_n(encoded.begin(), moved, data.begin());
    return {0, kScsiGood, {}, data.size() - moved};
}

}  // namespace vokta
