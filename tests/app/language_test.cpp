// SPDX-License-Identifier: GPL-3.0-or-later
// Qt's own texts follow the chosen language: the buttons of a message box and of a file
// dialog are Italian when Italian is chosen, and English again when it is left.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>

#include "app/language.h"
#include "res/strings.h"

using namespace vokta;

namespace {

constexpr const char* kItalianModule = VOKTA_BINARY_DIR "/lib/libvoktaita.so";

QStringList ButtonTexts(QMessageBox::StandardButtons buttons)
{
    QMessageBox box(QMessageBox::Warning, "", "", buttons);
    QStringList texts;
    for (QMessageBox::StandardButton button :
         {QMessageBox::Abort, QMessageBox::Retry, QMessageBox::Ignore, QMessageBox::Yes, QMessageBox::No,
          QMessageBox::Ok, QMessageBox::Cancel})
        if (buttons & button)
            texts << box.button(button)->text().remove('&');
    return texts;
}

QStringList FileDialogButtons()
{
    QFileDialog dialog(nullptr, "", "/");
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList texts;
    for (QPushButton* button : dialog.findChild<QDialogButtonBox*>()->findChildren<QPushButton*>())
        texts << button->text().remove('&');
    return texts;
}

struct QtTexts : ::testing::Test {
    // Qt's Italian texts come in a package of their own (qt6-translations-l10n).
    void SetUp() override
    {
        const QString catalogue = QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qt_it.qm";
        if (QFile::exists(catalogue))
            return;
        if (qgetenv("VOKTA_REQUIRE_TOOLS") == "1")
            GTEST_FAIL() << catalogue.toStdString() << " is not installed, and VOKTA_REQUIRE_TOOLS=1 requires it";
        GTEST_SKIP() << catalogue.toStdString() << " is not installed";
    }
    void TearDown() override { SetResourceModule(nullptr); }
};

}  // namespace

TEST_F(QtTexts, FollowTheChosenLanguage)
{
    const QMessageBox::StandardButtons questions =
        QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore | QMessageBox::Yes | QMessageBox::No;
    const QStringList english = {"Abort", "Retry", "Ignore", "Yes", "No"};
    const QStringList italian = {"Interrompi", "Riprova", "Ignora", "Sì", "No"};
    ASSERT_EQ(ButtonTexts(questions), english);
    const QStringList englishFiles = FileDialogButtons();
    {
        LanguageSelection language(kItalianModule);
        language.Select(kItalianLanguage);
        EXPECT_EQ(ButtonTexts(questions), italian);
        EXPECT_EQ(ButtonTexts(QMessageBox::Ok | QMessageBox::Cancel), (QStringList{"OK", "Annulla"}));
        const QStringList italianFiles = FileDialogButtons();
        EXPECT_TRUE(italianFiles.contains("Annulla")) << italianFiles.join(",").toStdString();

        language.Select(0);
        EXPECT_EQ(ButtonTexts(questions), english);
        EXPECT_EQ(FileDialogButtons(), englishFiles);

        language.Select(kItalianLanguage);
        EXPECT_EQ(ButtonTexts(questions), italian);
    }
    // Leaving the program's language leaves Qt's texts as Qt has them.
    EXPECT_EQ(ButtonTexts(questions), english);
}

// Italian Qt texts only with the Italian module: a window never mixes the two languages.
TEST_F(QtTexts, StayEnglishWithoutTheItalianModule)
{
    LanguageSelection language("libvokta-no-such-module.so");
    language.Select(kItalianLanguage);
    EXPECT_EQ(ButtonTexts(QMessageBox::Retry | QMessageBox::Ignore), (QStringList{"Retry", "Ignore"}));
    EXPECT_EQ(LoadString(Str::Failed), "Failed !");
}
