// SPDX-License-Identifier: GPL-3.0-or-later
// The string table's formats, a translated module over it, and the code page of the
// bytes that reach a diskette.
#include <gtest/gtest.h>

#include <iconv.h>

#include "res/codepage.h"
#include "res/strings.h"

using namespace vokta;

namespace {

// An Italian-like module: some texts translated well, some with conversions that do not
// match the English ones, as a careless translation would have them.
constexpr StringEntry kItalian[] = {
    {Str::InsertDisk, "Inserire un disco !"},
    {Str::InfoTotalSectors, "Settori totali = %d"},                   // English: %ld
    {Str::InfoCylinders, "Cilindri = %d"},                            // same
    {Str::VerifyingTrack, "Verifica della traccia %d di %d ..."},     // same
    {Str::ErrorNumber, "Errore numero = %s"},                         // English: %d
    {Str::ImageShorterThanSector, "il file è più corto di un settore (%ld byte) al 100%"},  // stray %
    {Str::FormattingTrack, "Formattazione traccia %2$d di %1$d ..."},  // positional
    {Str::MarkingTrackBad, "Traccia %5d marcata BAD ..."},            // English: %d
    {Str::ChangesLost, "Le modifiche all'unità %s sono andate perse: %s"},
    {Str::ElapsedSeconds, "%2.2d sec."},
    {Str::TitlePercent, " %2.2d%% "},
};

struct ItalianModule : ::testing::Test {
    ArrayStringTable italian{kItalian};
    void SetUp() override { SetResourceModule(&italian); }
    void TearDown() override { SetResourceModule(nullptr); }
};

// iconv's conversion, the C library's own tables: an oracle for ours.
std::string Iconv(const char* to, const char* from, std::string in)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "<no iconv>";
    std::string out(in.size() * 4 + 4, '\0');
    char* inAt = in.data();
    char* outAt = out.data();
    size_t inLeft = in.size(), outLeft = out.size();
    const size_t done = iconv(cd, &inAt, &inLeft, &outAt, &outLeft);
    iconv_close(cd);
    if (done == static_cast<size_t>(-1))
        return "<not convertible>";
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace

TEST(StringTable, FormatsOfTheEnglishTable)
{
    EXPECT_EQ(FormatString(Str::InfoCylinders, 80), "Cylinders = 80");
    // %ld takes the whole long: a 32-bit total beyond an int's range survives.
    EXPECT_EQ(FormatString(Str::InfoHiddenSectors, 4000000000L), "Hidden Sectors = 4000000000");
    EXPECT_EQ(FormatString(Str::InfoMediaDescriptor, 0xF0), "Media Descriptor Code = f0h");
    EXPECT_EQ(FormatString(Str::VerifyingTrack, 3, 80), "Verifying Track 3 of 80 ...");
    EXPECT_EQ(FormatString(Str::ErrorNumber, -1), "Error number = -1");
    EXPECT_EQ(FormatString(Str::ElapsedSeconds, 1), "01 Sec");
    EXPECT_EQ(FormatString(Str::ElapsedSeconds, 120), "120 Sec");
    EXPECT_EQ(FormatString(Str::TitlePercent, 7), " 07% ");
    EXPECT_EQ(FormatString(Str::ChangesLost, "A:", "disk full"), "Changes to drive A: were lost: disk full");
}

TEST(StringTable, ACallThatDoesNotFitItsTextShowsTheTextUnformatted)
{
    // A text where a number belongs, or one argument too few: never handed to printf.
    EXPECT_EQ(FormatString(Str::InfoCylinders, std::string("eighty")), "Cylinders = %d");
    EXPECT_EQ(FormatString(Str::VerifyingTrack, 3), "Verifying Track %d of %d ...");
}

TEST(StringTable, TheEnglishTableIsTheFallback)
{
    SetResourceModule(nullptr);
    EXPECT_EQ(LoadString(Str::InsertDisk), "Please insert a disk !");
    EXPECT_EQ(EnglishStrings().Find(Str::Ok), "OK.");
}

TEST_F(ItalianModule, TranslatedTextsAreUsed)
{
    EXPECT_EQ(LoadString(Str::InsertDisk), "Inserire un disco !");
    EXPECT_EQ(FormatString(Str::InfoCylinders, 80), "Cilindri = 80");
    EXPECT_EQ(FormatString(Str::VerifyingTrack, 3, 80), "Verifica della traccia 3 di 80 ...");
    EXPECT_EQ(FormatString(Str::ChangesLost, "A:", "disco pieno"), "Le modifiche all'unità A: sono andate perse: disco pieno");
    EXPECT_EQ(FormatString(Str::ElapsedSeconds, 5), "05 sec.");
    EXPECT_EQ(FormatString(Str::TitlePercent, 42), " 42% ");
}

TEST_F(ItalianModule, ATextMissingFromTheModuleIsEnglish)
{
    EXPECT_EQ(LoadString(Str::DriveLocked), "Drive is Locked !");
}

TEST_F(ItalianModule, ATranslationWithOtherConversionsGivesWayToEnglish)
{
    // %s where English has %d would read the number as a pointer.
    EXPECT_EQ(FormatString(Str::ErrorNumber, 31), "Error number = 31");
    // %d where English has %ld would cut the value.
    EXPECT_EQ(FormatString(Str::InfoTotalSectors, 2880), "Total Disk Sectors = 2880");
    // A width the English text does not have.
    EXPECT_EQ(FormatString(Str::MarkingTrackBad, 12), "Marking Track 12 as BAD ...");
    // Positional arguments are not ours to reorder.
    EXPECT_EQ(FormatString(Str::FormattingTrack, 3, 80), "Formatting Track 3 of 80 ...");
}

TEST_F(ItalianModule, ATranslationWithAStrayPercentGivesWayToEnglish)
{
    EXPECT_EQ(FormatString(Str::ImageShorterThanSector, 100), "the file is shorter than one sector (100 bytes)");
    // Loaded as plain text it is still the translation.
    EXPECT_EQ(LoadString(Str::ImageShorterThanSector), kItalian[5].text);
}

TEST(StringTable, SameConversionsComparesEveryPartOfAConversion)
{
    EXPECT_TRUE(SameConversions("%2.2d Sec", "%2.2d sec."));
    EXPECT_TRUE(SameConversions("Code = %xh", "Codice = %xh"));
    EXPECT_TRUE(SameConversions("100%% of %d", "%d: 100%%"));
    EXPECT_TRUE(SameConversions("no conversion", "nessuna conversione"));
    EXPECT_FALSE(SameConversions("%2.2d", "%2d"));
    EXPECT_FALSE(SameConversions("%2.2d", "%.2d"));
    EXPECT_FALSE(SameConversions("%d", "%-d"));
    EXPECT_FALSE(SameConversions("%d", "%ld"));
    EXPECT_FALSE(SameConversions("%xh", "%Xh"));
    EXPECT_FALSE(SameConversions("%d %s", "%s %d"));
    EXPECT_FALSE(SameConversions("%d", "%d %d"));
    EXPECT_FALSE(SameConversions("%d", "%d 5%"));
    EXPECT_FALSE(SameConversions("%d", "%*d"));
    EXPECT_FALSE(SameConversions("%d", "%n"));
    EXPECT_FALSE(SameConversions("%s", "%ls"));
    EXPECT_FALSE(SameConversions("%c", "%lc"));
}

TEST(CodePage, LabelCharactersBecomeTheirWindows1252Bytes)
{
    EXPECT_EQ(Utf8ToWindows1252("ÄB½"), "\xC4" "B" "\xBD");
    EXPECT_EQ(Utf8ToWindows1252("€ Š Ÿ"), "\x80 \x8A \x9F");
    EXPECT_EQ(Windows1252ToUtf8("\xC4" "B" "\xBD"), "ÄB½");
}

TEST(CodePage, WhatWindows1252CannotHoldBecomesTheReplacement)
{
    EXPECT_EQ(Utf8ToWindows1252("Ω日"), "??");
    EXPECT_EQ(Utf8ToWindows1252("🙂"), "?");
    // Malformed UTF-8: a lone continuation byte, a cut sequence, an overlong slash.
    EXPECT_EQ(Utf8ToWindows1252("a\x80z"), "a?z");
    EXPECT_EQ(Utf8ToWindows1252("a\xC3"), "a?");
    EXPECT_EQ(Utf8ToWindows1252("\xC0\xAF"), "??");
    // The five bytes without a character read as U+FFFD.
    EXPECT_EQ(Windows1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
}

TEST(CodePage, EveryByteAgreesWithIconv)
{
    for (int b = 1; b < 256; ++b) {
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D)
            continue;
        const std::string byte(1, static_cast<char>(b));
        const std::string utf8 = Iconv("UTF-8", "WINDOWS-1252", byte);
        EXPECT_EQ(Windows1252ToUtf8(byte), utf8) << std::hex << b;
        EXPECT_EQ(Utf8ToWindows1252(utf8), byte) << std::hex << b;
    }
}

TEST(CodePage, Utf8Validity)
{
    EXPECT_TRUE(IsValidUtf8("Verifica è più"));
    EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x99\x82"));
    EXPECT_FALSE(IsValidUtf8("\xBD"));              // a 1252 byte taken for UTF-8
    EXPECT_FALSE(IsValidUtf8("\xE0\x80\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}
