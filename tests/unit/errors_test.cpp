#include <gtest/gtest.h>

#include "drive/diskerror.h"
#include "res/strings.h"

using namespace vokta;

TEST(DiskErrorText, EveryCodeOfTheTableHasItsText)
{
    const std::pair<DiskError, const char*> table[] = {
        {1, "Invalid Function !"}, {2, "File not found !"},
        {5, "Access denied : disk read error or drive not ready !"}, {13, "Invalid Data !"},
        {15, "Invalid Drive !"}, {19, "Write protect Disk !"}, {21, "Drive NOT ready !"},
        {23, "Bad CRC !"}, {25, "End of Disk Reached !"}, {27, "Disk Sector NOT found !"},
        {107, "Invalid disk change !"}, {108, "Drive is Locked !"}, {112, "Disk Full !"},
        {122, "Insufficient Buffer Space !"}, {1122, "Address Mark NOT found !"},
        {1124, "Unknown Error !"}, {1785, "Unrecognized Media"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(DiskErrorText(code), text) << code;
    EXPECT_EQ(DiskErrorText(0), "");
    EXPECT_EQ(DiskErrorText(31), "Error number = 31");
    EXPECT_EQ(DiskErrorText(0xFFFFFFFE), "Error number = -2");
}

TEST(BiosStatus, MapsOntoDiskErrors)
{
    const std::pair<uint8_t, DiskError> table[] = {
        {0x02, 1122}, {0x0F, 1122}, {0x03, 19}, {0x04, 27}, {0x0A, 27}, {0x0B, 27}, {0x0D, 27},
        {0x06, 107},  {0x08, 5},    {0x09, 5},  {0x0C, 1785}, {0x10, 23}, {0x11, 23},
        {0x20, 21},   {0x80, 21},   {0x40, 25}, {0x00, 1124}, {0x01, 1124}, {0xFF, 1124},
    };
    for (const auto& [status, code] : table)
        EXPECT_EQ(DiskErrorFromBiosStatus(status), code) << int(status);
    EXPECT_EQ(DiskErrorText(DiskErrorFromBiosStatus(0x0C)), "Unrecognized Media");
}

namespace {
struct ItalianLike final : StringTable {
    std::string_view Find(Str id) const override { return id == Str::DriveNotReady ? "Drive NON pronto !" : ""; }
};
}  // namespace

TEST(StringTable, ModuleTextsOverrideEnglishAndMissingOnesFallBack)
{
    ItalianLike module;
    SetResourceModule(&module);
    EXPECT_EQ(DiskErrorText(21), "Drive NON pronto !");
    EXPECT_EQ(DiskErrorText(23), "Bad CRC !");
    SetResourceModule(nullptr);
    EXPECT_EQ(DiskErrorText(21), "Drive NOT ready !");
}
