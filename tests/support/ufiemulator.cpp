// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ufiemulator.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/backend/usbfloppy/usbfloppy.h"

namespace vokta::test {
namespace {

using Ufi::Sense;
namespace Key = Ufi::SenseKey;

constexpr Sense kGood{};
constexpr Sense kNoMedium{Key::NotReady, 0x3A, 0};
constexpr Sense kChanged{Key::UnitAttention, 0x28, 0};
constexpr Sense kProtected{Key::DataProtect, 0x27, 0};
constexpr Sense kUnknownFormat{Key::MediumError, 0x30, 0x01};
constexpr Sense kNoIdMark{Key::MediumError, 0x12, 0};
constexpr Sense kNotFound{Key::MediumError, 0x14, 0};
constexpr Sense kUnrecovered{Key::MediumError, 0x11, 0};
constexpr Sense kFormatFailed{Key::MediumError, 0x31, 0x01};
constexpr Sense kBadOpcode{Key::IllegalRequest, 0x20, 0};
constexpr Sense kOutOfRange{Key::IllegalRequest, 0x21, 0};
constexpr Sense kBadField{Key::IllegalRequest, 0x24, 0};
constexpr Sense kBadUnit{Key::IllegalRequest, 0x25, 0};
constexpr Sense kBadParameter{Key::IllegalRequest, 0x26, 0};
constexpr Sense kBadListLength{Key::IllegalRequest, 0x1A, 0};

uint32_t U32(std::span<const uint8_t> b, size_t at)
{
    return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}

uint16_t U16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint16_t>(b[at] << 8 | b[at + 1]);
}

size_t CopyOut(std::span<const uint8_t> from, std::span<uint8_t> to, size_t allocation)
{
    const size_t n = std::min({from.size(), to.size(), allocation});
    std::copy_n(from.begin(), n, to.begin());
    return n;
}

class Connection final : public ScsiTransport {
public:
    explicit Connection(std::shared_ptr<UfiEmulator> emulator) : emulator_(std::move(emulator)) {}
    ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                    unsigned timeoutMs) override
    {
        return emulator_->Run(cdb, direction, data, timeoutMs);
    }
    int Hold(bool exclusive) override { return emulator_->Hold(exclusive); }
    bool HeldElsewhere() const override { return emulator_->HeldElsewhere(); }

private:
    std::shared_ptr<UfiEmulator> emulator_;
};

}  // namespace

UfiDriveModel UfiDriveModel::ThreeMode()
{
    UfiDriveModel model;
    model.high = {{2880, 512}, {2400, 512}, {1232, 1024}};
    return model;
}

UfiEmulator::UfiEmulator(UfiDriveModel model) : model_(std::move(model)) {}

std::unique_ptr<ScsiTransport> UfiEmulator::Connect(std::shared_ptr<UfiEmulator> emulator)
{
    return std::make_unique<Connection>(std::move(emulator));
}

void UfiEmulator::Insert(EmulatedMedium medium, bool announced)
{
    medium_ = std::move(medium);
    recorded_ = Recognize();
    if (announced)
        attention_ = kChanged;
}

std::optional<EmulatedMedium> UfiEmulator::Eject()
{
    std::optional<EmulatedMedium> out = std::move(medium_);
    medium_.reset();
    recorded_.reset();
    return out;
}

std::vector<UfiEmulator::Logged> UfiEmulator::Commands(uint8_t op) const
{
    std::vector<Logged> found;
    std::copy_if(log_.begin(), log_.end(), std::back_inserter(found), [op](const Logged& l) { return l.cdb[0] == op; });
    return found;
}

const std::vector<Ufi::Capacity>& UfiEmulator::Formattable() const
{
    return medium_ && medium_->density == MediumDensity::Double ? model_.low : model_.high;
}

std::optional<Ufi::Capacity> UfiEmulator::Recognize() const
{
    if (!medium_ || !medium_->HasTrack(0, 0))
        return std::nullopt;
    const std::vector<SectorRecord>& sectors = medium_->track(0, 0).sectors;
    if (sectors.empty())
        return std::nullopt;
    // The drive reads the formats it can write, and no other.
    for (const Ufi::Capacity& c : Formattable()) {
        const std::optional<Ufi::CapacityGeometry> g = Ufi::GeometryOfCapacity(c);
        if (g && g->sectorsPerTrack == sectors.size() && sectors.front().size() == c.blockLength)
            return c;
    }
    return std::nullopt;
}

Ufi::CapacityList UfiEmulator::Capacities() const
{
    Ufi::CapacityList list;
    if (!medium_) {
        list.current = Ufi::DescriptorType::NoMedium;
        list.currentCapacity = model_.maximum;
        return list;
    }
    if (model_.formats)
        list.formattable = Formattable();
    list.current = recorded_ ? Ufi::DescriptorType::Formatted : Ufi::DescriptorType::Unformatted;
    list.currentCapacity = recorded_ ? *recorded_ : Formattable().front();
    return list;
}

int UfiEmulator::Hold(bool exclusive)
{
    if (exclusive && heldElsewhere)
        return EBUSY;
    exclusive_ = exclusive;
    return 0;
}

ScsiOutcome UfiEmulator::Run(std::span<const uint8_t> cdb, ScsiDirection direction, std::span<uint8_t> data,
                             unsigned /*timeoutMs*/)
{
    Logged entry;
    std::copy_n(cdb.begin(), std::min(cdb.size(), entry.cdb.size()), entry.cdb.begin());
    if (direction == ScsiDirection::Out)
        entry.sent.assign(data.begin(), data.end());
    ScsiOutcome outcome;
    const bool forced = failNext && entry.cdb[0] == failOp;
    if (forced) {
        entry.answer = *failNext;
        failNext.reset();
    } else if (cdb.size() != Ufi::kCdbSize) {
        entry.answer = kBadField;
    } else {
        size_t moved = 0;
        entry.answer = Execute(entry.cdb, data, moved);
        outcome.residual = direction == ScsiDirection::None ? 0 : data.size() - std::min(moved, data.size());
    }
    if (entry.cdb[0] != Ufi::Op::RequestSense)
        last_ = entry.answer;
    if (forced || entry.answer != kGood) {
        outcome.status = kScsiCheckCondition;
        if (autoSense) {
            const auto sense = Ufi::EncodeSense(entry.answer);
            outcome.sense.assign(sense.begin(), sense.end());
            last_ = kGood;
        }
    }
    log_.push_back(std::move(entry));
    return outcome;
}

Ufi::Sense UfiEmulator::Execute(const Ufi::Cdb& cdb, std::span<uint8_t> data, size_t& moved)
{
    const uint8_t op = cdb[0];
    if (cdb[1] >> 5 != 0)
        return kBadUnit;
    // Inquiry and the sense data are answered whatever is pending; everything else first
    // reports a diskette change or a reset.
    if (op == Ufi::Op::Inquiry) {
        uint8_t answer[Ufi::kInquiryLength] = {0x00, 0x80, 0x00, 0x01, Ufi::kInquiryLength - 5};
        std::memcpy(answer + 8, "VOKTA   UFI EMULATOR    1.00", 28);
        moved = CopyOut(answer, data, cdb[4]);
        return kGood;
    }
    if (op == Ufi::Op::RequestSense) {
        const Sense reported = attention_.value_or(last_);
        attention_.reset();
        last_ = kGood;
        moved = CopyOut(Ufi::EncodeSense(reported), data, cdb[4]);
        return kGood;
    }
    if (attention_) {
        const Sense reported = *attention_;
        attention_.reset();
        return reported;
    }
    switch (op) {
    case Ufi::Op::TestUnitReady: return medium_ ? kGood : kNoMedium;
    case Ufi::Op::ReadFormatCapacities:
        moved = CopyOut(Ufi::EncodeCapacityList(Capacities()), data, U16(cdb, 7));
        return kGood;
    case Ufi::Op::ModeSense10: {
        if ((cdb[2] & 0x3F) != 0x3F || (cdb[2] >> 6) != 0)
            return kBadField;
        if (!medium_)
            return kNoMedium;
        // The parameter header alone: data length, medium type code, the write-protect bit.
        const uint8_t header[8] = {0, 6, static_cast<uint8_t>(recorded_ && recorded_->blocks == 1440 ? 0x1E : 0x94),
                                   static_cast<uint8_t>(medium_->writeProtected ? 0x80 : 0)};
        moved = CopyOut(header, data, U16(cdb, 7));
        return kGood;
    }
    case Ufi::Op::Read10:
    case Ufi::Op::Write10:
    case Ufi::Op::Verify:
        if (op == Ufi::Op::Verify && lacksVerify)
            return kBadOpcode;
        return Transfer(U32(cdb, 2), U16(cdb, 7), data, moved, op);
    case Ufi::Op::RezeroUnit:
        headCylinder_ = 0;
        return kGood;
    case Ufi::Op::Seek10: return Seek(U32(cdb, 2));
    case Ufi::Op::FormatUnit: {
        const Sense answer = Format(cdb, data);
        moved = answer == kGood ? data.size() : 0;
        return answer;
    }
    default: return kBadOpcode;
    }
}

Ufi::Sense UfiEmulator::Transfer(uint32_t lba, uint16_t blocks, std::span<uint8_t> data, size_t& moved, uint8_t op)
{
    if (!medium_)
        return kNoMedium;
    if (op == Ufi::Op::Write10 && medium_->writeProtected)
        return kProtected;
    if (!recorded_)
        return kUnknownFormat;
    if (uint64_t{lba} + blocks > recorded_->blocks)
        return kOutOfRange;
    const Ufi::CapacityGeometry g = *Ufi::GeometryOfCapacity(*recorded_);
    const size_t length = recorded_->blockLength;
    if (op != Ufi::Op::Verify && data.size() < blocks * length)
        return kBadField;
    for (uint32_t i = 0; i < blocks; ++i) {
        const uint32_t block = lba + i;
        const auto cylinder = static_cast<uint16_t>(block / (g.heads * g.sectorsPerTrack));
        const auto head = static_cast<uint8_t>(block / g.sectorsPerTrack % g.heads);
        const auto number = static_cast<uint8_t>(block % g.sectorsPerTrack + 1);
        if (!medium_->HasTrack(cylinder, head) || !medium_->track(cylinder, head).formatted())
            return kNoIdMark;
        headCylinder_ = cylinder;
        SectorRecord* s = medium_->Find(cylinder, head, number);
        if (!s || s->size() != length)
            return kNotFound;
        const std::span<uint8_t> here = op == Ufi::Op::Verify ? std::span<uint8_t>{} : data.subspan(i * length, length);
        if (op == Ufi::Op::Write10) {
            s->data.assign(here.begin(), here.end());
            s->dataError = false;
        } else if (medium_->ReadFails({cylinder, head, number}) || s->dataError) {
            return kUnrecovered;
        } else if (op == Ufi::Op::Read10) {
            std::copy_n(s->data.begin(), length, here.begin());
        }
        moved += here.size();
    }
    return kGood;
}

Ufi::Sense UfiEmulator::Seek(uint32_t lba)
{
    if (!medium_)
        return kNoMedium;
    if (!recorded_)
        return kUnknownFormat;
    if (lba >= recorded_->blocks)
        return kOutOfRange;
    const Ufi::CapacityGeometry g = *Ufi::GeometryOfCapacity(*recorded_);
    headCylinder_ = static_cast<uint16_t>(lba / (g.heads * g.sectorsPerTrack));
    return kGood;
}

Ufi::Sense UfiEmulator::Format(const Ufi::Cdb& cdb, std::span<const uint8_t> list)
{
    // Format data follows, without a complete list, in defect list format 7; twelve bytes of it.
    if ((cdb[1] & 0x1F) != 0x17)
        return kBadField;
    if (U16(cdb, 7) != Ufi::kFormatParameterLength || list.size() != Ufi::kFormatParameterLength)
        return kBadListLength;
    if (!medium_)
        return kNoMedium;
    if (medium_->writeProtected)
        return kProtected;
    // Format options valid, one track, a defect list of exactly one format descriptor.
    const uint8_t flags = list[1];
    if ((flags & 0x80) == 0 || (flags & 0x10) == 0 || U16(list, 2) != 8)
        return kBadParameter;
    const Ufi::Capacity asked{U32(list, 4), uint32_t{list[9]} << 16 | uint32_t{list[10]} << 8 | list[11]};
    const std::vector<Ufi::Capacity>& offered = Formattable();
    if (!model_.formats || std::find(offered.begin(), offered.end(), asked) == offered.end())
        return kBadParameter;
    const Ufi::CapacityGeometry g = *Ufi::GeometryOfCapacity(asked);
    const uint8_t cylinder = cdb[2];
    const auto head = static_cast<uint8_t>(flags & 1);
    if (cylinder >= g.cylinders || !medium_->HasTrack(cylinder, head))
        return kBadField;
    if (medium_->IsUnformattable(cylinder, head))
        return kFormatFailed;
    // The drive lays the sectors out itself, in order, each filled with its own byte.
    Track& track = medium_->track(cylinder, head);
    track.rate = RateForSectorsPerTrack(g.sectorsPerTrack, false);
    track.gap = 0;
    track.sectors.clear();
    const auto sizeCode = static_cast<uint8_t>(asked.blockLength == 1024 ? 3 : 2);
    for (uint16_t r = 1; r <= g.sectorsPerTrack; ++r)
        track.sectors.push_back({cylinder, head, static_cast<uint8_t>(r), sizeCode,
                                 std::vector<uint8_t>(asked.blockLength, 0xF6), false, false});
    recorded_ = asked;
    return kGood;
}

void BindUsbFloppy(DriveTable& table, char letter, const std::shared_ptr<UfiEmulator>& emulator)
{
    const auto number = static_cast<uint8_t>(NormalizeDriveLetter(letter) - '@');
    table.Bind({letter, SystemDriveType::Removable, "/dev/sdz", [emulator, number] {
                    return UsbFloppyDrive::Attach(UfiEmulator::Connect(emulator), "/dev/sdz", number);
                }});
}

}  // namespace vokta::test
