// SPDX-License-Identifier: GPL-3.0-or-later
// Operations run from a page under the real progress dialog, with workers written for
// the cases: the result field, the follow-up, Abort, a worker that will not stop, message
// boxes, and the main window at the end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "ui/pagetesting.h"
#include "drive/lostwork.h"
#include "ui/pagerun.h"
#include "res/strings.h"
#include "ui/uitext.h"

using namespace vokta;
using vokta::test::Shoot;

namespace {

// What the user does while the modal loops run: each step is tried every few
// milliseconds until it says it is done, then the next one.
class UserScript {
public:
    explicit UserScript(std::vector<std::function<bool()>> steps) : steps_(std::move(steps))
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (next_ < steps_.size() && steps_[next_]())
                ++next_;
        });
        timer_.start();
    }
    bool Done() const { return next_ == steps_.size(); }

private:
    std::vector<std::function<bool()>> steps_;
    size_t next_ = 0;
    QTimer timer_;
};

ProgressDialog* RunningDialog()
{
    return qobject_cast<ProgressDialog*>(QApplication::activeModalWidget());
}

QString Line(ProgressDialog& dialog, int id)
{
    return FindControl<QLabel>(&dialog, id)->text();
}

// The sounds the host played, and on which thread.
struct SoundRecorder {
    std::mutex mutex;
    std::vector<std::string> played;
    std::vector<std::thread::id> threads;
    SoundPlayer Player()
    {
        return [this](const std::string& sound) {
            const std::lock_guard lock(mutex);
            played.push_back(sound);
            threads.push_back(std::this_thread::get_id());
        };
    }
};

class PageRunTest : public testing::Test {
protected:
    PageRunTest()
    {
        mainWindow.setWindowTitle("Vokta");
        mainWindow.resize(480, 360);
        resultField->setReadOnly(true);
        resultField->setText("Failed !");
        mainWindow.show();
    }

    OperationOutcome Run(Worker worker, PageRunFlags flags = {}, PageFollowUp followUp = {})
    {
        return RunOperationOnPage(*page, &mainWindow, *resultField, std::move(worker), flags, followUp,
                                  sounds.Player());
    }

    QWidget mainWindow;
    QWidget* page = new QWidget(&mainWindow);
    QLineEdit* resultField = new QLineEdit(page);
    SoundRecorder sounds;
};

// A worker that keeps going until Abort: it closes the dialog and counts as aborted.
OperationOutcome UntilAbort(OperationHost& host)
{
    host.SetTitle("Compare");
    host.SetRange(80);
    for (int cylinder = 0; !host.AbortRequested(); cylinder = (cylinder + 1) % 80) {
        host.SetProgressPos(cylinder);
        host.Rest(2);
    }
    host.Close();
    return {kResultAborted, FollowUp::None};
}

}  // namespace

TEST_F(PageRunTest, ADoneOperationShowsItsTextsThenOkAfterTheFollowUp)
{
    std::promise<void> looked;
    auto lookedAt = looked.get_future();
    const Worker worker = [&](OperationHost& host) {
        host.SetTitle("Read Disk");
        host.SetUpperLine("Reading Drive A: 1.44M");
        host.SetBarColours(BarColour::Cyan, BarColour::Black);
        host.SetRange(80);
        for (int cylinder = 1; cylinder <= 40; ++cylinder) {
            host.SetLowerLine("Cylinder " + std::to_string(cylinder));
            host.SetProgressPos(cylinder);
        }
        lookedAt.wait();
        host.PlaySound("SystemDefault");
        host.Close();
        return OperationOutcome{kResultDone, FollowUp::ImageRead};
    };
    QString fieldWhileRunning, fieldAtFollowUp;
    std::optional<OperationOutcome> followedUp;
    UserScript user({[&] {
        ProgressDialog* dialog = RunningDialog();
        // The lower line comes before the position: both have to have arrived.
        if (!dialog || Line(*dialog, ProgressControl::LowerLine) != "Cylinder 40" || dialog->Bar().Position() != 40)
            return false;
        fieldWhileRunning = resultField->text();
        EXPECT_EQ(dialog->windowTitle(), "Read Disk");
        EXPECT_EQ(Line(*dialog, ProgressControl::UpperLine), "Reading Drive A: 1.44M");
        EXPECT_EQ(dialog->Bar().Text().text, "50%");
        EXPECT_EQ(dialog->Bar().FillColour(), QColor(0, 255, 255));
        EXPECT_EQ(dialog->Bar().TextColour(), QColor(0, 0, 0));
        for (int beat = 0; beat < 4 * 12; ++beat)
            dialog->Tick();
        Shoot(*dialog, "progress-running.png");
        looked.set_value();
        return true;
    }});
    const OperationOutcome outcome = Run(worker, {}, [&](const OperationOutcome& ended) {
        followedUp = ended;
        fieldAtFollowUp = resultField->text();
    });

    EXPECT_TRUE(user.Done());
    EXPECT_EQ(outcome.result, kResultDone);
    EXPECT_EQ(outcome.followUp, FollowUp::ImageRead);
    ASSERT_TRUE(followedUp.has_value());
    EXPECT_EQ(followedUp->followUp, FollowUp::ImageRead);
    EXPECT_EQ(fieldWhileRunning, "?");
    EXPECT_EQ(fieldAtFollowUp, "?");
    EXPECT_EQ(resultField->text(), "OK.");
    ASSERT_EQ(sounds.played, std::vector<std::string>{"SystemDefault"});
    EXPECT_NE(sounds.threads[0], std::this_thread::get_id()) << "a sound is played on the worker's thread";
    EXPECT_EQ(mainWindow.windowTitle(), "Vokta");
}

TEST_F(PageRunTest, ReadDiskKeepsTheOldResultWhileItRuns)
{
    QString fieldWhileRunning;
    UserScript user({[&] {
        ProgressDialog* dialog = RunningDialog();
        if (!dialog)
            return false;
        fieldWhileRunning = resultField->text();
        QTest::mouseClick(FindControl<QPushButton>(dialog, ProgressControl::Abort), Qt::LeftButton);
        return true;
    }});
    PageRunFlags flags;
    flags.questionMarkFirst = false;
    EXPECT_EQ(Run(UntilAbort, flags).result, kResultAborted);
    EXPECT_EQ(fieldWhileRunning, "Failed !");
    EXPECT_EQ(resultField->text(), "Aborted !");
}

TEST_F(PageRunTest, AbortEndsTheOperationAsAbortedAtTheWorkersNextPoll)
{
    std::promise<void> looked;
    auto lookedAt = looked.get_future();
    const Worker worker = [&](OperationHost& host) {
        host.SetTitle("Write Disk");
        host.SetUpperLine("Writing Drive A: 1.44M");
        host.SetLowerLine("Cylinder 12");
        host.SetRange(80);
        host.SetProgressPos(12);
        while (!host.AbortRequested())
            host.Rest(2);
        lookedAt.wait();
        host.Close();
        return OperationOutcome{kResultAborted, FollowUp::None};
    };
    UserScript user({[&] {
                         ProgressDialog* dialog = RunningDialog();
                         if (!dialog || dialog->Bar().Position() != 12)
                             return false;
                         QTest::mouseClick(FindControl<QPushButton>(dialog, ProgressControl::Abort), Qt::LeftButton);
                         return true;
                     },
                     [&] {
                         ProgressDialog* dialog = RunningDialog();
                         auto* abort = FindControl<QPushButton>(dialog, ProgressControl::Abort);
                         EXPECT_EQ(abort->text(), "Wait ...");
                         EXPECT_FALSE(abort->isEnabled());
                         EXPECT_TRUE(dialog->isVisible()) << "the dialog waits for the worker's close";
                         Shoot(*dialog, "progress-aborted.png");
                         looked.set_value();
                         return true;
                     }});
    const OperationOutcome outcome = Run(worker);
    EXPECT_TRUE(user.Done());
    EXPECT_EQ(outcome.result, kResultAborted);
    EXPECT_EQ(resultField->text(), "Aborted !");
}

// The user gives up on a worker that does not poll: Abort, then Escape. The page waits
// out its grace, shows "Failed !" and goes on; the worker, still calling its host, then
// outlives the page and the main window and reaches neither.
TEST(AbandonedWorker, IsFailedAndLaterReachesNeitherDialogNorPage)
{
    auto mainWindow = std::make_unique<QWidget>();
    auto* page = new QWidget(mainWindow.get());
    auto* resultField = new QLineEdit(page);
    mainWindow->show();

    std::atomic<bool> released{false};
    std::promise<std::vector<Answer>> ended;
    auto answers = ended.get_future();
    std::atomic<int> polls{0};
    const Worker stubborn = [&](OperationHost& host) {
        host.SetRange(80);
        while (!released) {
            host.SetProgressPos(polls++ % 80);
            host.Rest(1);
        }
        // The page and its windows are gone by now.
        std::vector<Answer> late;
        host.SetLowerLine("Cylinder 79");
        host.SetProgressPos(79);
        late.push_back(host.MessageBox("Retry ?", "Duplicate Disk Error", Buttons::AbortRetryIgnore, Icon::Error));
        late.push_back(host.MessageBox("Go on ?", "Warning", Buttons::YesNo, Icon::Warning));
        host.PlaySound("SystemExclamation");
        late.push_back(host.AbortRequested() ? Answer::Abort : Answer::Ignore);
        host.Close();
        ended.set_value(late);
        return OperationOutcome{kResultDone, FollowUp::None};
    };
    UserScript user({[&] {
                         ProgressDialog* dialog = RunningDialog();
                         if (!dialog || polls < 20)
                             return false;
                         QTest::mouseClick(FindControl<QPushButton>(dialog, ProgressControl::Abort), Qt::LeftButton);
                         return true;
                     },
                     [&] {
                         QTest::keyClick(RunningDialog(), Qt::Key_Escape);
                         return true;
                     }});
    SoundRecorder sounds;
    PageRunFlags flags;
    flags.grace = std::chrono::milliseconds(100);
    bool followedUp = false;
    const OperationOutcome outcome = RunOperationOnPage(
        *page, mainWindow.get(), *resultField, stubborn, flags,
        [&](const OperationOutcome&) { followedUp = true; }, sounds.Player());
    EXPECT_EQ(outcome.result, kResultFailed);
    EXPECT_TRUE(followedUp);
    EXPECT_EQ(resultField->text(), "Failed !");

    mainWindow.reset();
    released = true;
    ASSERT_EQ(answers.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(answers.get(), (std::vector<Answer>{Answer::Abort, Answer::No, Answer::Abort}));
    // Anything the worker left queued for this thread runs now, and must touch nothing.
    QCoreApplication::processEvents();
    EXPECT_TRUE(sounds.played.empty());
}

// Calls of a worker made around the moment the user ends the dialog must not wait for
// the user-interface thread, which is then waiting for the worker: the worker ends
// within the page's grace and its own result stands.
TEST_F(PageRunTest, CallsAfterTheDialogEndedDoNotWaitForTheUserInterface)
{
    std::atomic<bool> escaped{false};
    const Worker worker = [&](OperationHost& host) {
        while (!escaped)
            host.SetLowerLine("Cylinder 1");
        for (int cylinder = 0; cylinder < 50; ++cylinder) {
            host.SetLowerLine("Cylinder " + std::to_string(cylinder));
            host.SetProgressPos(cylinder);
        }
        host.Close();
        return OperationOutcome{kResultAborted, FollowUp::None};
    };
    UserScript user({[&] {
        ProgressDialog* dialog = RunningDialog();
        if (!dialog)
            return false;
        QTest::mouseClick(FindControl<QPushButton>(dialog, ProgressControl::Abort), Qt::LeftButton);
        QTest::keyClick(dialog, Qt::Key_Escape);
        escaped = true;
        return true;
    }});
    EXPECT_EQ(Run(worker).result, kResultAborted);
    EXPECT_EQ(resultField->text(), "Aborted !");
}

TEST_F(PageRunTest, MessageBoxesOfTheWorkerAreOwnedByThePageAndAnswered)
{
    const Worker worker = [&](OperationHost& host) {
        const Answer first = host.MessageBox("Error reading Cylinder 5", "Duplicate Disk Error",
                                             Buttons::AbortRetryIgnore, Icon::Error);
        const Answer second = host.MessageBox("Write protect the diskette ?", "Warning", Buttons::YesNo, Icon::Warning);
        const Answer third = host.MessageBox("Done", "Message", Buttons::Ok, Icon::Information);
        host.Close();
        const bool expected = first == Answer::Retry && second == Answer::No && third == Answer::Ok;
        return OperationOutcome{expected ? kResultDone : kResultFailed, FollowUp::None};
    };
    const auto clickIn = [&](const char* text, const char* caption, QMessageBox::Icon icon,
                             QMessageBox::StandardButton button) {
        return [=, this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box->text() != text)
                return false;
            EXPECT_EQ(box->windowTitle(), caption);
            EXPECT_EQ(box->icon(), icon);
            EXPECT_EQ(box->parentWidget(), page);
            QTest::mouseClick(box->button(button), Qt::LeftButton);
            return true;
        };
    };
    UserScript user({clickIn("Error reading Cylinder 5", "Duplicate Disk Error", QMessageBox::Critical, QMessageBox::Retry),
                     clickIn("Write protect the diskette ?", "Warning", QMessageBox::Warning, QMessageBox::No),
                     clickIn("Done", "Message", QMessageBox::Information, QMessageBox::Ok)});
    EXPECT_EQ(Run(worker).result, kResultDone);
    EXPECT_TRUE(user.Done());
}

TEST_F(PageRunTest, AWorkerThatClosesAtOnceIsNotLost)
{
    const Worker worker = [](OperationHost& host) {
        host.SetUpperLine("Nothing to do");
        host.Close();
        return OperationOutcome{kResultDone, FollowUp::None};
    };
    EXPECT_EQ(Run(worker).result, kResultDone);
    EXPECT_EQ(resultField->text(), "OK.");
}

TEST_F(PageRunTest, TheMainWindowComesBackAtTheEndOnlyWhenAskedTo)
{
    const Worker quick = [](OperationHost& host) {
        host.Close();
        return OperationOutcome{kResultDone, FollowUp::None};
    };
    PageRunFlags flags;
    mainWindow.showMinimized();
    flags.bringToFrontAtEnd = false;
    Run(quick, flags);
    EXPECT_TRUE(mainWindow.isMinimized());

    flags.bringToFrontAtEnd = true;
    Run(quick, flags);
    EXPECT_FALSE(mainWindow.isMinimized());
    EXPECT_TRUE(mainWindow.isVisible());
}

// Once its dialog has ended the host answers from any thread without the user-interface
// thread, which here does not run its loop at all.
TEST(CutHost, AnswersAtOnceAndHarmlessly)
{
    QWidget page;
    ProgressDialog dialog(&page, &page);
    SoundRecorder sounds;
    QtHost host(&dialog, page, sounds.Player(), std::make_shared<RunLink>());
    dialog.open();
    QTest::mouseClick(FindControl<QPushButton>(&dialog, ProgressControl::Abort), Qt::LeftButton);
    EXPECT_TRUE(host.AbortRequested());
    QTest::keyClick(&dialog, Qt::Key_Escape);
    ASSERT_TRUE(host.Cut());

    std::thread worker([&] {
        EXPECT_EQ(host.MessageBox("Retry ?", "Format Error", Buttons::RetryCancel, Icon::Error), Answer::Cancel);
        EXPECT_EQ(host.MessageBox("Sure ?", "Warning", Buttons::YesNoCancel, Icon::Question), Answer::Cancel);
        host.SetUpperLine("late");
        EXPECT_EQ(host.SetProgressPos(3), 0);
        host.PlaySound("SystemDefault");
        host.Close();
    });
    worker.join();
    QCoreApplication::processEvents();
    EXPECT_EQ(Line(dialog, ProgressControl::UpperLine), "");
    EXPECT_TRUE(sounds.played.empty());
}

// What ends an operation beside its worker's result: an exception leaving the worker, and
// changes drive objects could not make last, each told in a message box over the page.
TEST_F(PageRunTest, AThrowingWorkerFailsWithAMessageAndLostWorkIsToldUnderTheTitle)
{
    struct Case {
        const char* name;
        Worker worker;
        int result;
        std::vector<std::string> boxTexts;
        std::string caption;
    };
    const std::vector<Case> cases = {
        {"throws before closing",
         [](OperationHost& host) -> OperationOutcome {
             host.SetTitle("Compare");
             throw std::runtime_error("bad_alloc");
         },
         kResultFailed, {FormatString(Str::WorkerStopped, "bad_alloc")}, LoadString(Str::FatalError)},
        {"records lost work",
         [](OperationHost& host) {
             host.SetTitle("Repair A:");
             RecordLostWork("Changes to drive A: were lost");
             host.Close();
             return OperationOutcome{kResultDone, FollowUp::None};
         },
         kResultDone, {"Changes to drive A: were lost"}, "Repair A:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeLostWork();
        std::vector<std::pair<std::string, std::string>> boxes;
        QTimer answerer;
        answerer.setInterval(5);
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                boxes.emplace_back(box->text().toStdString(), box->windowTitle().toStdString());
                box->button(QMessageBox::Ok)->click();
            }
        });
        answerer.start();
        EXPECT_EQ(Run(c.worker).result, c.result);
        ASSERT_EQ(boxes.size(), c.boxTexts.size());
        for (size_t i = 0; i < boxes.size(); ++i) {
            EXPECT_EQ(boxes[i].first, c.boxTexts[i]);
            EXPECT_EQ(boxes[i].second, c.caption);
        }
        EXPECT_EQ(resultField->text(), UiText(ResultText(c.result)));
        EXPECT_TRUE(TakeLostWork().empty()) << "told once";
    }
}
