// SPDX-License-Identifier: GPL-3.0-or-later
// The Italian language module as the program meets it: a shared library found by name,
// whose every text stands in for the English one without breaking what the code does
// with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "res/codepage.h"
#include "res/languagemodule.h"
#include "res/strings.h"

using namespace vokta;

namespace {

constexpr DialogTextEntry kEnglishDialogTexts[] = {
#include "res/dialogtexts_en.inc"
};

size_t Count(std::string_view text, char c)
{
    return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// The blanks and line ends a text begins and ends with: other texts are joined to it there.
std::string_view LeadingSpace(std::string_view text)
{
    return text.substr(0, std::min(text.find_first_not_of(" \n"), text.size()));
}

std::string_view TrailingSpace(std::string_view text)
{
    const size_t last = text.find_last_not_of(" \n");
    return last == std::string_view::npos ? text : text.substr(last + 1);
}

// Each '%' with the character after it: what a text that is never formatted has to keep
// of its percent signs.
std::vector<std::string_view> PercentPairs(std::string_view text)
{
    std::vector<std::string_view> pairs;
    for (size_t at = text.find('%'); at != std::string_view::npos; at = text.find('%', at + 2))
        pairs.push_back(text.substr(at, 2));
    return pairs;
}

bool RepresentableInWindows1252(const std::string& text)
{
    return Windows1252ToUtf8(Utf8ToWindows1252(text)) == text;
}

// A text shaped as the English one is: the same conversions, mnemonics, line structure and
// outer blanks, and characters that the 1252 code page can hold.
void ExpectShapedLike(std::string_view english, std::string_view italian, const std::string& where)
{
    SCOPED_TRACE(where + ": \"" + std::string(italian) + "\"");
    if (!english.empty()) {
        EXPECT_FALSE(italian.empty());
    }
    if (SameConversions(english, english)) {
        EXPECT_TRUE(SameConversions(english, italian));
    } else {
        EXPECT_EQ(PercentPairs(italian), PercentPairs(english));
    }
    EXPECT_EQ(Count(italian, '&'), Count(english, '&'));
    EXPECT_EQ(Count(italian, '\n'), Count(english, '\n'));
    EXPECT_EQ(LeadingSpace(italian), LeadingSpace(english));
    EXPECT_EQ(TrailingSpace(italian), TrailingSpace(english));
    EXPECT_TRUE(IsValidUtf8(italian));
    EXPECT_TRUE(RepresentableInWindows1252(std::string(italian)));
}

std::vector<std::string_view> Split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (size_t from = 0;;) {
        const size_t at = text.find(separator, from);
        parts.push_back(text.substr(from, at - from));
        if (at == std::string_view::npos)
            return parts;
        from = at + 1;
    }
}

// The module as the system's loader finds it, by name (the test's run path holds it).
struct ItalianTables : ::testing::Test {
    const StringTable* italian = LoadLanguageModule(kItalianModuleName);
    void SetUp() override { ASSERT_NE(italian, nullptr); }
};

struct ItalianInstalled : ItalianTables {
    void SetUp() override
    {
        ItalianTables::SetUp();
        SetResourceModule(italian);
    }
    void TearDown() override { SetResourceModule(nullptr); }
};

}  // namespace

TEST_F(ItalianTables, LoadsByNameOnceForTheProcess)
{
    EXPECT_EQ(LoadLanguageModule(kItalianModuleName), italian);
}

TEST(LanguageModule, AMissingLibraryOrOneWithoutTheEntryIsNoModule)
{
    EXPECT_EQ(LoadLanguageModule("libvoktaxyz.so"), nullptr);
    EXPECT_EQ(LoadLanguageModule("libm.so.6"), nullptr);
}

TEST_F(ItalianTables, EveryStringIsTranslatedInTheShapeOfTheEnglish)
{
    for (Str id : kAllStringIds) {
        const std::string where = "string " + std::to_string(static_cast<uint32_t>(id));
        const std::string_view english = EnglishStrings().Find(id);
        const std::string_view text = italian->Find(id);
        ExpectShapedLike(english, text, where);
    }
}

TEST_F(ItalianTables, EveryDialogTextIsTranslatedInTheShapeOfTheEnglish)
{
    for (const DialogTextEntry& e : kEnglishDialogTexts) {
        const std::string where =
            "dialog " + std::to_string(static_cast<int>(e.dialog)) + " control " + std::to_string(e.control);
        const char* text = italian->FindDialogText(e.dialog, e.control);
        ASSERT_NE(text, nullptr) << where;
        ExpectShapedLike(e.text, text, where);
    }
}

TEST_F(ItalianTables, NoTwoTextsOfADialogMarkTheSameLetter)
{
    std::map<std::pair<Dialog, char>, uint16_t> marked;
    for (const DialogTextEntry& e : kEnglishDialogTexts) {
        const char* found = italian->FindDialogText(e.dialog, e.control);
        const std::string_view text = found ? found : "";
        const size_t at = text.find('&');
        if (at == std::string_view::npos)
            continue;
        ASSERT_LT(at + 1, text.size()) << text;
        const char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(text[at + 1])));
        const auto [where, fresh] = marked.try_emplace({e.dialog, letter}, e.control);
        EXPECT_TRUE(fresh) << "controls " << where->second << " and " << e.control << " both mark '" << letter << "'";
    }
}

TEST_F(ItalianTables, TheReportKeepsItsLayout)
{
    // The heading lines frame the report at the English width; a value line keeps its "=".
    for (Str heading : {Str::InfoLogicalLayoutHeading, Str::InfoPhysicalLayoutHeading, Str::InfoReportHeading}) {
        const std::string_view english = EnglishStrings().Find(heading);
        const std::string_view text = italian->Find(heading);
        EXPECT_EQ(Utf8ToWindows1252(text).size(), english.size()) << text;
        EXPECT_TRUE(text.starts_with("-----") && text.ends_with("-----")) << text;
    }
    for (uint32_t number = 10; number <= 31; ++number) {
        const auto id = static_cast<Str>(number);
        const std::string_view english = EnglishStrings().Find(id);
        const std::string_view text = italian->Find(id);
        EXPECT_EQ(Count(text, '='), Count(english, '=')) << text;
        EXPECT_EQ(text.ends_with("="), english.ends_with("=")) << text;
    }
}

TEST_F(ItalianTables, FileFiltersKeepTheirPatterns)
{
    for (Str filter : {Str::ImageFileFilter, Str::RawImageFilter, Str::ImageDiskFilter, Str::SoundFileFilter,
                       Str::ReportFileFilter}) {
        const std::vector<std::string_view> english = Split(EnglishStrings().Find(filter), '|');
        const std::vector<std::string_view> text = Split(italian->Find(filter), '|');
        ASSERT_EQ(text.size(), english.size()) << italian->Find(filter);
        for (size_t i = 0; i < english.size(); ++i) {
            // Descriptions and patterns alternate; a description names its pattern too.
            if (i % 2 == 1) {
                EXPECT_EQ(text[i], english[i]);
            } else if (!english[i].empty()) {
                EXPECT_NE(text[i].find(english[i + 1]), std::string_view::npos) << text[i];
            }
        }
    }
}

TEST_F(ItalianInstalled, TextsComeFromTheModuleUntilEnglishIsSetAgain)
{
    EXPECT_EQ(LoadString(Str::WriteProtect), "Disco protetto da scrittura !");
    EXPECT_EQ(FormatString(Str::VerifyingTrack, 3, 80), "Verifica traccia 3 di 80 ...");
    EXPECT_EQ(FormatString(Str::InfoMediaDescriptor, 0xF0), "Codice descrittore del supporto = f0h");
    EXPECT_EQ(FormatString(Str::TitlePercent, 7), " 07% ");
    EXPECT_EQ(FormatString(Str::ChangesLost, "A:", "disco pieno"), "Le modifiche al drive A: sono andate perse: disco pieno");
    EXPECT_EQ(LoadDialogText(Dialog::Options, kCaption), "Opzioni");
    EXPECT_EQ(LoadDialogText(Dialog::Progress, 1034), "&Interrompi");
    EXPECT_EQ(LoadDialogText(Dialog::About, 1043), "");

    SetResourceModule(nullptr);
    EXPECT_EQ(LoadString(Str::WriteProtect), "Write protect Disk !");
    EXPECT_EQ(FormatString(Str::VerifyingTrack, 3, 80), "Verifying Track 3 of 80 ...");
    EXPECT_EQ(LoadDialogText(Dialog::Options, kCaption), "Options");
}

// The module is looked for beside the program first (a build tree, then an installation
// under any prefix), then where the build installs it, then by the loader.
TEST(LanguageModule, IsLookedForBesideTheProgramThenInstalledThenByTheLoader)
{
    const std::vector<std::string> places = LanguageModulePlaces("/opt/v/bin/vokta-cli", "libvoktaita.so");
    ASSERT_EQ(places.size(), 4u);
    EXPECT_EQ(places[0], "/opt/v/bin/../lib/libvoktaita.so");
    EXPECT_TRUE(places[1].starts_with("/opt/v/bin/../")) << places[1];
    EXPECT_TRUE(places[1].ends_with("/vokta/libvoktaita.so")) << places[1];
    EXPECT_TRUE(places[2].starts_with("/")) << places[2];
    EXPECT_TRUE(places[2].ends_with("/vokta/libvoktaita.so")) << places[2];
    EXPECT_EQ(places[3], "libvoktaita.so");

    EXPECT_EQ(LanguageModulePlaces("", "libvoktaita.so").size(), 2u);
    EXPECT_EQ(LanguageModulePlaces("/opt/v/bin/vokta", "/x/libvoktaita.so"),
              std::vector<std::string>{"/x/libvoktaita.so"});
}

TEST(LanguageModule, TheBuildTreesModuleIsFoundFromATestProgramBesideIt)
{
    // The test programs live one folder below the build tree's root, as the programs do.
    EXPECT_NE(FindLanguageModule(), nullptr);
    EXPECT_EQ(FindLanguageModule("libvokta-no-such-module.so"), nullptr);
}

TEST(LanguageModule, TheLocaleDecidesAsSetlocaleReadsIt)
{
    struct Case {
        const char* lcAll;
        const char* lcMessages;
        const char* lang;
        bool italian;
    };
    const Case cases[] = {
        {nullptr, nullptr, nullptr, false},
        {nullptr, nullptr, "it", true},
        {nullptr, nullptr, "it_IT.UTF-8", true},
        {nullptr, nullptr, "it_CH", true},
        {nullptr, nullptr, "it_IT@euro", true},
        {nullptr, nullptr, "en_US.UTF-8", false},
        {nullptr, nullptr, "C", false},
        {nullptr, nullptr, "ita", false},
        {nullptr, nullptr, "fr_IT", false},
        {"", "", "it_IT", true},                 // empty is as unset
        {nullptr, "it_IT.UTF-8", "en_GB", true},  // LC_MESSAGES before LANG
        {nullptr, "C", "it_IT", false},
        {"it_IT.UTF-8", "en_US", "en_US", true},  // LC_ALL before both
        {"C.UTF-8", "it_IT", "it_IT", false},
    };
    const auto shown = [](const char* value) { return value ? value : "-"; };
    for (const Case& c : cases)
        EXPECT_EQ(ItalianLocale(c.lcAll, c.lcMessages, c.lang), c.italian)
            << shown(c.lcAll) << " " << shown(c.lcMessages) << " " << shown(c.lang);
}
