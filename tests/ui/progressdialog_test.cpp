// SPDX-License-Identifier: GPL-3.0-or-later
// The progress dialog on its own: its controls, Abort and Escape, the window manager's
// close, the seconds and the pictures, and the main window's title while minimised.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "ui/progressdialog.h"
#include "ui/uitext.h"

using namespace vokta;

namespace {

class ProgressDialogTest : public testing::Test {
protected:
    ProgressDialogTest()
    {
        mainWindow.setWindowTitle("Vokta");
        mainWindow.resize(400, 300);
        mainWindow.show();
    }

    QString Text(int id) { return FindControl<QLabel>(&dialog, id)->text(); }
    QPushButton& AbortButton() { return *FindControl<QPushButton>(&dialog, ProgressControl::Abort); }

    QWidget mainWindow;
    QWidget* page = new QWidget(&mainWindow);
    ProgressDialog dialog{page, &mainWindow};
};

QImage Picture(const QLabel& label)
{
    return label.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
}

}  // namespace

TEST_F(ProgressDialogTest, CarriesTheTemplatesControlsAndTexts)
{
    EXPECT_EQ(dialog.windowTitle(), "Wait ...");
    EXPECT_EQ(dialog.parentWidget(), page);
    EXPECT_EQ(Text(ProgressControl::UpperLine), "");
    EXPECT_EQ(Text(ProgressControl::LowerLine), "");
    EXPECT_EQ(Text(ProgressControl::Seconds), "0");
    EXPECT_EQ(AbortButton().text(), "&Abort");
    EXPECT_NE(FindControl<PercentBar>(&dialog, ProgressControl::Bar), nullptr);
    EXPECT_NE(FindControl<QLabel>(&dialog, ProgressControl::Icon), nullptr);
    bool labelled = false;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labelled |= label->text() == "Elapsed Time =";
    EXPECT_TRUE(labelled);
    EXPECT_EQ(dialog.Bar().Text().text, "0%");

    // The bar spans the dialog's width below the texts, the button under it in the middle.
    const QRect bar = dialog.Bar().geometry();
    const QRect button = AbortButton().geometry();
    EXPECT_GT(bar.width(), dialog.width() * 8 / 10);
    EXPECT_GT(button.top(), bar.bottom());
    EXPECT_NEAR(button.center().x(), dialog.width() / 2, dialog.width() / 20);
    EXPECT_GT(bar.top(), FindControl<QLabel>(&dialog, ProgressControl::Seconds)->geometry().bottom());
}

TEST_F(ProgressDialogTest, AbortTurnsIntoADisabledWaitAndLetsEscapeEndTheDialog)
{
    int presses = 0;
    QObject::connect(&dialog, &ProgressDialog::AbortPressed, [&] { ++presses; });
    dialog.open();
    ASSERT_TRUE(dialog.isVisible());

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible()) << "Escape before Abort ended the dialog";
    EXPECT_FALSE(dialog.AbortRequested());

    QTest::mouseClick(&AbortButton(), Qt::LeftButton);
    EXPECT_EQ(presses, 1);
    EXPECT_TRUE(dialog.AbortRequested());
    EXPECT_EQ(AbortButton().text(), "Wait ...");
    EXPECT_FALSE(AbortButton().isEnabled());
    EXPECT_TRUE(dialog.isVisible()) << "the dialog waits for the worker";

    QTest::keyClick(&dialog, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST_F(ProgressDialogTest, TheWindowManagersCloseIsIgnoredBeforeAndAfterAbort)
{
    dialog.open();
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
    QTest::mouseClick(&AbortButton(), Qt::LeftButton);
    EXPECT_FALSE(dialog.close());
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(ProgressDialogTest, TheWorkersCloseEndsTheDialogAndGivesTheMainWindowItsTitleBack)
{
    dialog.open();
    dialog.setWindowTitle("Read Disk");
    dialog.SetRange(80);
    dialog.showMinimized();
    dialog.SetProgressPos(40);
    ASSERT_EQ(mainWindow.windowTitle(), " 50% Read Disk");
    dialog.RequestClose();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(mainWindow.windowTitle(), "Vokta");
}

TEST_F(ProgressDialogTest, ACloseBeforeTheDialogShowsEndsItAsSoonAsItRuns)
{
    dialog.SetUpperLine("Reading");
    dialog.RequestClose();
    // Should the dialog not end by itself, this ends it with a result that tells.
    QTimer::singleShot(5000, &dialog, [this] { dialog.done(42); });
    EXPECT_EQ(dialog.exec(), QDialog::Rejected);
}

TEST_F(ProgressDialogTest, MinimisingTakesTheMainWindowAlongAndPutsThePercentInItsTitle)
{
    dialog.open();
    dialog.setWindowTitle("Read Disk");
    dialog.SetRange(80);
    EXPECT_EQ(dialog.SetProgressPos(10), 0);
    EXPECT_EQ(mainWindow.windowTitle(), "Vokta");

    dialog.showMinimized();
    EXPECT_TRUE(mainWindow.isMinimized());
    EXPECT_EQ(dialog.SetProgressPos(20), 10);
    EXPECT_EQ(mainWindow.windowTitle(), " 25% Read Disk");
    dialog.SetProgressPos(21);
    EXPECT_EQ(mainWindow.windowTitle(), " 26% Read Disk");

    dialog.showNormal();
    EXPECT_FALSE(mainWindow.isMinimized());
    // The saved title comes back at the next position.
    EXPECT_EQ(mainWindow.windowTitle(), " 26% Read Disk");
    EXPECT_EQ(dialog.SetProgressPos(22), 21);
    EXPECT_EQ(mainWindow.windowTitle(), "Vokta");
}

TEST(MinimisedTitle, LeavesOutAnOlderPercentPrefix)
{
    EXPECT_EQ(MinimisedOwnerTitle(7, " 42% Read Disk"), " 07% Read Disk");
    EXPECT_EQ(MinimisedOwnerTitle(100, "Format"), " 100% Format");
    EXPECT_EQ(MinimisedOwnerTitle(0, ""), " 00% ");
    EXPECT_EQ(MinimisedOwnerTitle(5, QString(100, QLatin1Char('x'))).size(), 5 + 80);
}

TEST_F(ProgressDialogTest, SecondsCountEveryFourthBeatWithAPhaseSharedByEveryDialog)
{
    ASSERT_EQ(ProgressDialog::AnimationPhase(), 0) << "each case runs in a process of its own";
    auto& icon = *FindControl<QLabel>(&dialog, ProgressControl::Icon);
    for (int beat = 0; beat < 3; ++beat) {
        dialog.Tick();
        EXPECT_EQ(Picture(icon), AnimationIcon(beat).toImage().convertToFormat(QImage::Format_ARGB32));
    }
    EXPECT_EQ(Text(ProgressControl::Seconds), "0");
    dialog.Tick();
    EXPECT_EQ(Text(ProgressControl::Seconds), "01 Sec");
    EXPECT_EQ(dialog.ElapsedSeconds(), 1);
    dialog.Tick();
    dialog.Tick();
    EXPECT_EQ(ProgressDialog::AnimationPhase(), 2);

    // The next dialog goes on from phase 2: its first second comes after two beats.
    ProgressDialog next(page, &mainWindow);
    auto& nextIcon = *FindControl<QLabel>(&next, ProgressControl::Icon);
    next.Tick();
    EXPECT_EQ(Picture(nextIcon), AnimationIcon(2).toImage().convertToFormat(QImage::Format_ARGB32));
    next.Tick();
    EXPECT_EQ(FindControl<QLabel>(&next, ProgressControl::Seconds)->text(), "01 Sec");

    for (int beat = 4; beat < 120 * 4; ++beat)
        next.Tick();
    EXPECT_EQ(FindControl<QLabel>(&next, ProgressControl::Seconds)->text(), "120 Sec");
}

TEST(AnimationIcons, FourDifferentPictures)
{
    for (int a = 0; a < kAnimationPhases; ++a)
        for (int b = a + 1; b < kAnimationPhases; ++b)
            EXPECT_NE(AnimationIcon(a).toImage(), AnimationIcon(b).toImage()) << a << " and " << b;
}
