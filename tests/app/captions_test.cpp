// SPDX-License-Identifier: GPL-3.0-or-later
// Every caption, title and label the program shows is whole, in English and in Italian:
// each window is at least as wide as its title in a bold title-bar font with room for its
// icon and frame buttons, each one-line label is as wide as its text, and each window
// carries only the frame buttons it needs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <memory>

#include "app/aboutbox.h"
#include "app/drivesdialog.h"
#include "app/helpwindow.h"
#include "app/pages/volumelabeldialog.h"
#include "ui/progressdialog.h"
#include "ui/qthost.h"
#include "steps/session.h"
#include "ui/pagetesting.h"
#include "res/languagemodule.h"

using namespace vokta;

namespace {

struct Language {
    const char* name;
    const char* module;  // nullptr: the program's own English texts
};
const Language kLanguages[] = {{"English", nullptr}, {"Italian", VOKTA_BINARY_DIR "/lib/libvoktaita.so"}};

// The captions of the program's message boxes.
constexpr Str kCaptions[] = {Str::Message,   Str::FatalError,   Str::Error,       Str::DuplicateError,
                             Str::Warning,   Str::ErrorMessage, Str::FormatError, Str::RepairError};

// The least a title bar needs: the title in bold, and a square of one line for the icon,
// for each frame button and for the frame.
int LeastTitleBarWidth(const QString& title, int frameButtons)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    return metrics.horizontalAdvance(title) + (frameButtons + 2) * metrics.height();
}

// Failures name the window and the text that does not fit.
void ExpectWhole(QWidget& window, int frameButtons, const std::string& what)
{
    ASSERT_TRUE(window.isVisible()) << what;
    const QString title = window.windowTitle();
    EXPECT_GE(window.width(), LeastTitleBarWidth(title, frameButtons)) << what << ": title " << title.toStdString();
    for (const QLabel* label : window.findChildren<QLabel*>()) {
        if (label->text().isEmpty() || label->wordWrap() || !label->isVisible())
            continue;
        // A mnemonic's "&" takes no room.
        const QString shown = QString(label->text()).remove('&');
        EXPECT_LE(label->fontMetrics().horizontalAdvance(shown), label->contentsRect().width())
            << what << ": label " << label->text().toStdString();
    }
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint) << what;
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint) << what;
    EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), frameButtons == 2) << what;
}

class CaptionsTest : public testing::TestWithParam<Language> {
protected:
    void SetUp() override
    {
        const StringTable* module = GetParam().module ? LoadLanguageModule(GetParam().module) : nullptr;
        ASSERT_EQ(module == nullptr, GetParam().module == nullptr) << "the language module did not load";
        SetResourceModule(module);
    }
    void TearDown() override { SetResourceModule(nullptr); }
};

}  // namespace

TEST_P(CaptionsTest, MessageBoxesShowTheirWholeCaption)
{
    QWidget owner;
    for (Str caption : kCaptions) {
        const std::string text = LoadString(caption);
        bool looked = false;
        test::WhenModal<QMessageBox>([&](QMessageBox& box) {
            looked = true;
            ExpectWhole(box, 1, text);
            box.button(QMessageBox::Ok)->click();
        });
        // The shortest text leaves the title to decide the box's width.
        AskInMessageBox(owner, "OK.", text, Buttons::Ok, Icon::None);
        EXPECT_TRUE(looked) << text;
    }
}

TEST_P(CaptionsTest, TheProgressDialogShowsItsTitlesAndLinesWhole)
{
    QWidget mainWindow;
    ProgressDialog dialog(&mainWindow, &mainWindow);
    dialog.open();
    ExpectWhole(dialog, 2, "progress dialog");
    for (Str operation : {Str::Reading, Str::Duplicating, Str::Comparing, Str::Formatting, Str::Verifying,
                          Str::Repairing}) {
        const std::string title = OperationTitle(LoadString(operation), 'A', "NO NAME");
        dialog.setWindowTitle(QString::fromStdString(title));
        dialog.SetUpperLine(UiText(MediaLine(2)));
        dialog.SetLowerLine(UiText(LoadString(Str::WritingSystemArea)));
        ExpectWhole(dialog, 2, title);
    }
    // Two minutes on.
    for (int beat = 0; beat < 4 * 120; ++beat)
        dialog.Tick();
    ExpectWhole(dialog, 2, "progress dialog after 120 s");
    dialog.RequestClose();
}

TEST_P(CaptionsTest, DialogsShowTheirWholeTitle)
{
    DriveTable noDrives;
    test::BoxAnswerer answerer;  // the volume label of a drive that is not there
    std::vector<std::pair<std::unique_ptr<QWidget>, std::string>> windows;
    windows.emplace_back(std::make_unique<VolumeLabelDialog>("A:", noDrives), "volume label");
    windows.emplace_back(std::make_unique<DrivesDialog>(std::vector<DriveOption>{}), "drives");
    windows.emplace_back(std::make_unique<AboutBox>(nullptr), "about");
    windows.emplace_back(std::make_unique<HelpWindow>(nullptr), "help");
    for (auto& [window, what] : windows) {
        window->show();
        ExpectWhole(*window, 1, what);
        window->close();
    }
}

// The version lines of the About box are in the chosen language too.
TEST(ItalianAboutBox, HasNoEnglishVersionLine)
{
    const auto lines = [](const StringTable* module) {
        SetResourceModule(module);
        AboutBox about(nullptr);
        QStringList texts;
        for (int id : {1039, 1043, 1067, 1069})
            texts << FindControl<QLabel>(&about, id)->text();
        SetResourceModule(nullptr);
        return texts;
    };
    const QStringList english = lines(nullptr);
    const QStringList italian = lines(LoadLanguageModule(kLanguages[1].module));
    for (qsizetype i = 0; i < english.size(); ++i)
        EXPECT_NE(italian[i], english[i]) << english[i].toStdString();
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, CaptionsTest, testing::ValuesIn(kLanguages),
                         [](const testing::TestParamInfo<Language>& param) { return param.param.name; });
