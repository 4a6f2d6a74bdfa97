// SPDX-License-Identifier: GPL-3.0-or-later
// A USB disk of the SCSI transparent command set under the USB floppy drive: READ FORMAT
// CAPACITIES, which it does not know, answered from READ CAPACITY, and FORMAT UNIT kept
// from it; a UFI drive on the same path is left alone.
#include <gtest/gtest.h>

#include "drive/backend/usbfloppy/transparentscsi.h"
#include "drive/backend/usbfloppy/usbfloppy.h"

using namespace vokta;

namespace {

ScsiOutcome CheckCondition(const Ufi::Sense& sense)
{
    const auto encoded = Ufi::EncodeSense(sense);
    return {0, kScsiCheckCondition, {encoded.begin(), encoded.end()}, 0};
}

// A removable disk that knows READ CAPACITY; a UFI drive also knows READ FORMAT CAPACITIES.
class FakeDisk final : public ScsiTransport {
public:
    std::optional<uint32_t> blocks = 2880;  // nullopt: no medium
    bool speaksUfi = false;
    std::vector<uint8_t> ops;

    ScsiOutcome Run(std::span<const uint8_t> cdb, ScsiDirection, std::span<uint8_t> data, unsigned) override
    {
        ops.push_back(cdb[0]);
        if (cdb[0] == Ufi::Op::Inquiry)
            data[1] = 0x80;  // removable medium, direct access
        if (cdb[0] == Ufi::Op::ReadFormatCapacities) {
            if (!speaksUfi)
                return CheckCondition({Ufi::SenseKey::IllegalRequest, 0x20, 0});
            const auto list = Ufi::EncodeCapacityList({Ufi::DescriptorType::Formatted, {1440, 512}, {{1440, 512}}});
            std::copy_n(list.begin(), std::min(list.size(), data.size()), data.begin());
        }
        if (cdb[0] == Ufi::Op::ReadCapacity) {
            if (!blocks)
                return CheckCondition({Ufi::SenseKey::NotReady, 0x3A, 0});
            const uint32_t last = *blocks - 1;
            const uint8_t answer[8] = {uint8_t(last >> 24), uint8_t(last >> 16), uint8_t(last >> 8), uint8_t(last), 0, 0, 2, 0};
            std::copy_n(answer, 8, data.begin());
        }
        return {};
    }
    int Hold(bool) override { return 0; }
    bool HeldElsewhere() const override { return false; }
};

std::optional<Ufi::CapacityList> CapacitiesThrough(ScsiTransport& path)
{
    std::array<uint8_t, Ufi::kCapacityListLength> data{};
    if (!path.Run(Ufi::ReadFormatCapacities(), ScsiDirection::In, data, 1000).good())
        return std::nullopt;
    return Ufi::ParseCapacityList(data);
}

}  // namespace

TEST(TransparentScsi, TheMediumInTheDiskIsItsOnlyCapacityAndNoFormatReachesIt)
{
    auto disk = std::make_unique<FakeDisk>();
    FakeDisk& seen = *disk;
    TransparentScsiTransport path(std::move(disk));
    const std::optional<Ufi::CapacityList> list = CapacitiesThrough(path);
    ASSERT_TRUE(list);
    EXPECT_TRUE(path.Transparent());
    EXPECT_EQ(list->current, Ufi::DescriptorType::Formatted);
    EXPECT_EQ(list->currentCapacity, (Ufi::Capacity{2880, 512}));
    EXPECT_TRUE(list->formattable.empty());

    std::array<uint8_t, Ufi::kFormatParameterLength> parameters = Ufi::FormatParameters(0, 2880, 512);
    const ScsiOutcome format = path.Run(Ufi::FormatUnit(0), ScsiDirection::Out, parameters, 1000);
    EXPECT_EQ(Ufi::ParseSense(format.sense), (Ufi::Sense{Ufi::SenseKey::IllegalRequest, 0x20, 0}));
    EXPECT_EQ(std::count(seen.ops.begin(), seen.ops.end(), Ufi::Op::FormatUnit), 0);

    // An empty drive: no medium, at the capacity of a 1.44M drive.
    seen.blocks.reset();
    const std::optional<Ufi::CapacityList> empty = CapacitiesThrough(path);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->current, Ufi::DescriptorType::NoMedium);
    EXPECT_EQ(DeviceTypeOfCapacities({empty->currentCapacity}), DeviceType::Floppy144M);
}

TEST(TransparentScsi, AUsbFloppyDriveOpensOnItAndAUfiDriveIsLeftAlone)
{
    EXPECT_TRUE(UsbFloppyDrive::Attach(std::make_unique<TransparentScsiTransport>(std::make_unique<FakeDisk>()),
                                       "/dev/sdz", 2)
                    .service);

    auto ufi = std::make_unique<FakeDisk>();
    ufi->speaksUfi = true;
    FakeDisk& seen = *ufi;
    TransparentScsiTransport path(std::move(ufi));
    const std::optional<Ufi::CapacityList> list = CapacitiesThrough(path);
    ASSERT_TRUE(list);
    EXPECT_FALSE(path.Transparent());
    EXPECT_EQ(list->formattable, (std::vector<Ufi::Capacity>{{1440, 512}}));
    std::array<uint8_t, Ufi::kFormatParameterLength> parameters = Ufi::FormatParameters(0, 1440, 512);
    EXPECT_TRUE(path.Run(Ufi::FormatUnit(0), ScsiDirection::Out, parameters, 1000).good());
    EXPECT_EQ(seen.ops, (std::vector<uint8_t>{Ufi::Op::ReadFormatCapacities, Ufi::Op::FormatUnit}));
}
