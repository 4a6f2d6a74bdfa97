// Every caption, title and label the program shows is whole, in English and in Italian:
// each window is at least as wide as its title in a bold title-bar font with room for its
// icon and frame buttons, each one-line label is as wide as its text, and each window
// carries only the frame buttons it needs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <map>
#include <ostream>
#include <memory>

#include "app/aboutbox.h"
#include "app/drivesdialog.h"
#include "app/helpwindow.h"
#include "format/volumelabeldialog.h"
#include "ops/progressdialog.h"
#include "ops/qthost.h"
#include "ops/session.h"
#include "pagetesting.h"
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

// A label's text as it shows: a single "&" marks the mnemonic and takes no room.
QString Shown(const QLabel& label)
{
    QString shown;
    const QString text = label.text();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && label.textFormat() != Qt::RichText && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
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
        EXPECT_LE(label->fontMetrics().horizontalAdvance(Shown(*label)), label->contentsRect().width())
            << what << ": label " << label->text().toStdString();
    }
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint) << what;
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint) << what;
    EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), frameButtons == 2) << what;
}

void PrintTo(const Language& language, std::ostream* out)
{
    *out << language.name;
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

// Only the program's name, its version and "&OK" read the same in both languages.
TEST(ItalianAboutBox, HasNoEnglishLine)
{
    const auto texts = [](const StringTable* module) {
        SetResourceModule(module);
        AboutBox about(nullptr);
        std::map<int, QString> byId;
        for (const QLabel* label : about.findChildren<QLabel*>())
            byId[ControlId(label)] += label->text();
        byId[1068] = FindControl<QPlainTextEdit>(&about, 1068)->toPlainText();
        byId[-1] = about.windowTitle();
        SetResourceModule(nullptr);
        return byId;
    };
    const auto english = texts(nullptr);
    const StringTable* italianModule = LoadLanguageModule(kLanguages[1].module);
    ASSERT_NE(italianModule, nullptr);
    const auto italian = texts(italianModule);
    ASSERT_EQ(italian.size(), english.size());
    for (const auto& [id, text] : italian) {
        if (id == 1064 || id == 1066 || text.isEmpty())
            continue;
        EXPECT_NE(text, english.at(id)) << "control " << id << ": " << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(BothLanguages, CaptionsTest, testing::ValuesIn(kLanguages),
                         [](const testing::TestParamInfo<Language>& param) { return param.param.name; });
