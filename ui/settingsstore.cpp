// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/settingsstore.h"

#include <limits>

#include "res/languagemodule.h"

namespace vokta {
namespace {

// The stored value as a 32-bit integer; the default when it is missing or no such integer.
int ReadInteger(QSettings& store, const char* name, int fallback)
{
    const QVariant value = store.value(name);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max())
        return fallback;
    return static_cast<int>(number);
}

bool ReadSwitch(QSettings& store, const char* name, bool fallback)
{
    return ReadInteger(store, name, fallback ? 1 : 0) != 0;
}

std::string ReadText(QSettings& store, const char* name, const std::string& fallback)
{
    const QVariant stored = store.value(name);
    return stored.isValid() ? stored.toString().toStdString() : fallback;
}

void WriteSwitch(QSettings& store, const char* name, bool value)
{
    store.setValue(name, value ? 1 : 0);
}

// Opens the group for one read or write and closes it again.
class OptionsGroup {
public:
    explicit OptionsGroup(QSettings& store) : store_(store) { store_.beginGroup(kOptionsGroup); }
    ~OptionsGroup() { store_.endGroup(); }
    OptionsGroup(const OptionsGroup&) = delete;
    OptionsGroup& operator=(const OptionsGroup&) = delete;

private:
    QSettings& store_;
};

}  // namespace

int ReadLanguage(QSettings& store)
{
    OptionsGroup group(store);
    // The first start speaks the locale's language; a stored choice always wins.
    return ReadInteger(store, "Language", ItalianLocale() ? 1 : 0);
}

void ReadOptions(QSettings& store, Settings& settings)
{
    OptionsGroup group(store);
    const Settings defaults;
    settings.enableMultiWriteFormat = ReadSwitch(store, "EnableMultiWriteFormat", defaults.enableMultiWriteFormat);
    settings.hideSubstDrives = ReadSwitch(store, "HideSubstDrives", defaults.hideSubstDrives);
    settings.enableTopMostAtEnd = ReadSwitch(store, "EnableTopMostAtEnd", defaults.enableTopMostAtEnd);
    settings.enableToolTips = ReadSwitch(store, "EnableToolTips", defaults.enableToolTips);
    settings.enableHardDisks = ReadSwitch(store, "EnableHardDisks", defaults.enableHardDisks);
    settings.verifyAfterWrite = ReadSwitch(store, "VerifyAfterWrite", defaults.verifyAfterWrite);
    settings.verifyAfterFormat = ReadSwitch(store, "VerifyAfterFormat", defaults.verifyAfterFormat);
    settings.errorSoundPath = ReadText(store, "Error Sound Path", defaults.errorSoundPath);
    settings.jobCompletedSoundPath = ReadText(store, "Job Completed Sound Path", defaults.jobCompletedSoundPath);
}

void WriteOptions(QSettings& store, const Settings& settings)
{
    OptionsGroup group(store);
    WriteSwitch(store, "VerifyAfterWrite", settings.verifyAfterWrite);
    WriteSwitch(store, "VerifyAfterFormat", settings.verifyAfterFormat);
    WriteSwitch(store, "HideSubstDrives", settings.hideSubstDrives);
    WriteSwitch(store, "EnableMultiWriteFormat", settings.enableMultiWriteFormat);
    WriteSwitch(store, "EnableTopMostAtEnd", settings.enableTopMostAtEnd);
    WriteSwitch(store, "EnableToolTips", settings.enableToolTips);
    WriteSwitch(store, "EnableHardDisks", settings.enableHardDisks);
    store.setValue("Error Sound Path", QString::fromStdString(settings.errorSoundPath));
    store.setValue("Job Completed Sound Path", QString::fromStdString(settings.jobCompletedSoundPath));
    store.setValue("Language", settings.language);
}

}  // namespace vokta
