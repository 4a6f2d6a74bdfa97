// SPDX-License-Identifier: GPL-3.0-or-later
// The settings' store and the sounds: what the desktop program keeps between runs and plays.
#include <gtest/gtest.h>

#include <QSettings>
#include <QTemporaryDir>

#include "res/languagemodule.h"
#include "ui/settingsstore.h"
#include "ui/sounds.h"

using namespace vokta;

namespace {

struct SettingsStore : ::testing::Test {
    QTemporaryDir folder;
    QSettings store{folder.filePath("vokta.ini"), QSettings::IniFormat};
    // A missing or unreadable "Language" is the locale's language.
    const int localeLanguage = ItalianLocale() ? 1 : 0;
};

TEST_F(SettingsStore, AnEmptyStoreGivesTheDefaults)
{
    Settings read;
    read.enableHardDisks = true;
    read.errorSoundPath = "left over";
    ReadOptions(store, read);
    EXPECT_EQ(ReadLanguage(store), localeLanguage);
    const Settings defaults;
    EXPECT_EQ(read.enableHardDisks, defaults.enableHardDisks);
    EXPECT_EQ(read.errorSoundPath, "SystemExclamation");
    EXPECT_EQ(read.jobCompletedSoundPath, "SystemDefault");
    EXPECT_TRUE(read.enableToolTips && read.hideSubstDrives && read.enableMultiWriteFormat && read.enableTopMostAtEnd &&
                read.verifyAfterWrite && read.verifyAfterFormat);
}

TEST_F(SettingsStore, WrittenValuesReadBackAndLandInTheOptionsGroup)
{
    Settings written;
    written.language = 1;
    written.enableToolTips = false;
    written.enableHardDisks = true;
    written.verifyAfterFormat = false;
    written.jobCompletedSoundPath = "/usr/share/sounds/done é.wav";
    WriteOptions(store, written);
    store.sync();

    QSettings again(store.fileName(), QSettings::IniFormat);
    EXPECT_EQ(again.childGroups(), QStringList{"Options"});
    again.beginGroup("Options");
    EXPECT_EQ(again.childKeys().size(), 10);
    EXPECT_EQ(again.value("EnableToolTips").toString(), "0");
    again.endGroup();

    Settings read;
    ReadOptions(again, read);
    EXPECT_EQ(ReadLanguage(again), 1);
    EXPECT_FALSE(read.enableToolTips);
    EXPECT_TRUE(read.enableHardDisks);
    EXPECT_FALSE(read.verifyAfterFormat);
    EXPECT_EQ(read.jobCompletedSoundPath, "/usr/share/sounds/done é.wav");
}

TEST_F(SettingsStore, ValuesThatAreNoThirtyTwoBitIntegerFallBackToTheirDefaults)
{
    store.beginGroup("Options");
    store.setValue("Language", "Italiano");
    store.setValue("EnableHardDisks", "4294967296");
    store.setValue("EnableToolTips", "0");
    store.setValue("HideSubstDrives", "-7");
    store.endGroup();
    Settings read;
    ReadOptions(store, read);
    EXPECT_EQ(ReadLanguage(store), localeLanguage);
    EXPECT_FALSE(read.enableHardDisks);
    EXPECT_FALSE(read.enableToolTips);
    EXPECT_TRUE(read.hideSubstDrives);  // any non-zero number is on
}

TEST(Sounds, SystemSoundNamesBecomeTheDesktopsEventSounds)
{
    EXPECT_EQ(EventSoundFor("SystemExclamation"), "dialog-warning");
    EXPECT_EQ(EventSoundFor("systemdefault"), "bell");
    EXPECT_EQ(EventSoundFor("SystemHand"), "dialog-error");
    EXPECT_EQ(EventSoundFor("/usr/share/sounds/alsa/Front_Center.wav"), "");
    EXPECT_EQ(EventSoundFor(""), "");
}

TEST(Sounds, ASoundThatCannotPlayIsSkippedSilently)
{
    PlaySoundAndWait("/nonexistent/folder/nothing.wav");
    PlaySoundAndWait("");
    SUCCEED();
}

}  // namespace
