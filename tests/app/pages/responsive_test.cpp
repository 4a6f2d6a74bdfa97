// SPDX-License-Identifier: GPL-3.0-or-later
// The window's event loop keeps running while disk work goes on: each page's work on a
// diskette whose every request takes a while, with a 10 ms timer recording the longest
// time the loop did not come round.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/pages/bootpage.h"
#include "app/pages/volumelabeldialog.h"
#include "ui/pagetesting.h"
#include "app/pages/infopage.h"
#include "ui/pagerun.h"
#include "support/requiretools.h"
#include "support/testdrives.h"

using namespace vokta;
using namespace vokta::test;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kRequestDelay = std::chrono::milliseconds(15);
constexpr auto kSlowDriveQuery = std::chrono::milliseconds(300);
constexpr auto kLongestAllowedBlock = std::chrono::milliseconds(100);

// The longest gap between the ticks of a 10 ms timer while it runs.
class LoopGapMeter {
public:
    LoopGapMeter()
    {
        timer_.setInterval(10);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            longest_ = std::max(longest_, now - last_);
            last_ = now;
        });
        Restart();
        timer_.start();
    }
    // Measures afresh from now on.
    void Restart()
    {
        last_ = Clock::now();
        longest_ = {};
    }
    // The gap still open counts too: work done at once inside a click leaves no tick after it.
    std::chrono::milliseconds Longest() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(std::max(longest_, Clock::now() - last_));
    }

private:
    QTimer timer_;
    Clock::time_point last_;
    Clock::duration longest_{};
};

struct ResponsiveTest : ::testing::Test {
    TempDir dir;
    DriveTable table;
    vokta::Shell shell;
    std::shared_ptr<RecordingService> recorder;

    // A 1.44M diskette made by mkfs.fat, bound to A: behind a drive that sleeps on each request.
    bool BindSlowDiskette()
    {
        if (!RequireTools({"mkfs.fat"}))
            return false;
        const std::string path = dir.File("a.img");
        EXPECT_EQ(test::Shell("mkfs.fat -C -n SLOW '" + path + "' 1440 >/dev/null"), 0);
        recorder = BindRecordedFile(table, 'A', path, DriveKind::Floppy35HD);
        EXPECT_NE(recorder, nullptr);
        if (!recorder)
            return false;
        recorder->faultHook = [](const DiskRequest&) -> std::optional<InjectedFault> {
            std::this_thread::sleep_for(kRequestDelay);
            return std::nullopt;
        };
        UseTestDrives(shell, table, dir);
        return true;
    }
};

// Starts a piece of work from the window's thread; `done` says when it has ended.
struct Work {
    const char* name;
    std::function<std::function<bool()>(ResponsiveTest&, std::vector<std::unique_ptr<QWidget>>&, LoopGapMeter&)>
        start;
};

std::function<bool()> GetInfo(ResponsiveTest& test, std::vector<std::unique_ptr<QWidget>>& windows, LoopGapMeter& meter)
{
    auto page = std::make_unique<InfoPage>(test.shell);
    page->SetSoundPlayer([](const std::string&) {});
    page->show();
    WaitForDriveSelectors(page.get());
    auto* button = FindControl<QPushButton>(page.get(), InfoControl::GetInfo);
    auto* report = FindControl<QListWidget>(page.get(), InfoControl::Report);
    meter.Restart();
    button->click();
    windows.push_back(std::move(page));
    return [button, report] { return button->isEnabled() && report->count() > 0; };
}

std::function<bool()> CheckBoot(ResponsiveTest& test, std::vector<std::unique_ptr<QWidget>>& windows, LoopGapMeter& meter)
{
    auto page = std::make_unique<BootPage>(test.shell);
    page->SetSoundPlayer([](const std::string&) {});
    page->show();
    WaitForDriveSelectors(page.get());
    auto* button = FindControl<QPushButton>(page.get(), BootControl::Check);
    auto* results = FindControl<QListWidget>(page.get(), BootControl::Results);
    meter.Restart();
    button->click();
    windows.push_back(std::move(page));
    return [button, results] { return button->isEnabled() && results->count() > 0; };
}

std::function<bool()> ReadAndWriteLabel(ResponsiveTest& test, std::vector<std::unique_ptr<QWidget>>& windows, LoopGapMeter& meter)
{
    auto dialog = std::make_unique<VolumeLabelDialog>("A:", test.table);
    auto* edit = FindControl<QLineEdit>(dialog.get(), VolumeLabelControl::Label);
    auto* change = FindControl<QPushButton>(dialog.get(), VolumeLabelControl::Change);
    VolumeLabelDialog* shown = dialog.get();
    meter.Restart();
    dialog->show();
    windows.push_back(std::move(dialog));
    auto written = std::make_shared<bool>(false);
    return [shown, edit, change, written] {
        if (!*written && edit->text() == "SLOW" && change->isEnabled()) {
            *written = true;
            edit->setText("FAST");
            change->click();
        }
        return *written && shown->result() == QDialog::Accepted;
    };
}

// A worker that closes its dialog and only then takes its time to end.
std::function<bool()> SlowEndingWorker(ResponsiveTest&, std::vector<std::unique_ptr<QWidget>>& windows, LoopGapMeter& meter)
{
    auto page = std::make_unique<QWidget>();
    auto* result = new QLineEdit(page.get());
    page->show();
    QWidget* owner = page.get();
    windows.push_back(std::move(page));
    auto ended = std::make_shared<bool>(false);
    meter.Restart();
    QTimer::singleShot(0, owner, [owner, result, ended] {
        RunOperationOnPage(
            *owner, owner, *result,
            [](OperationHost& host) {
                host.Close();
                std::this_thread::sleep_for(std::chrono::milliseconds(600));
                return OperationOutcome{kResultDone};
            },
            {}, {}, {});
        *ended = true;
    });
    return [ended] { return *ended; };
}

// A page made and shown while asking the diskette's drive for its kind takes long.
std::function<bool()> FillSelector(ResponsiveTest& test, std::vector<std::unique_ptr<QWidget>>& windows, LoopGapMeter& meter)
{
    test.recorder->faultHook = [](const DiskRequest&) -> std::optional<InjectedFault> {
        std::this_thread::sleep_for(kSlowDriveQuery);
        return std::nullopt;
    };
    meter.Restart();
    auto page = std::make_unique<InfoPage>(test.shell);
    page->show();
    auto* selector = FindControl<QComboBox>(page.get(), InfoControl::Drive);
    auto* button = FindControl<QPushButton>(page.get(), InfoControl::GetInfo);
    windows.push_back(std::move(page));
    return [selector, button] {
        return !selector->property(kDriveSelectorFilling).toBool() && selector->currentText().startsWith("A:")
               && button->isEnabled();
    };
}

const Work kWorks[] = {
    {"Get Info", GetInfo},
    {"Boot Check", CheckBoot},
    {"Volume label read and write", ReadAndWriteLabel},
    {"Worker ending after its dialog", SlowEndingWorker},
    {"Drive selector filled from a slow drive", FillSelector},
};

}  // namespace

TEST_F(ResponsiveTest, TheEventLoopIsNeverBlockedLongWhileDiskWorkRuns)
{
    if (!BindSlowDiskette())
        return;
    for (const Work& work : kWorks) {
        SCOPED_TRACE(work.name);
        std::vector<std::unique_ptr<QWidget>> windows;
        BoxAnswerer boxes;
        LoopGapMeter meter;
        const std::function<bool()> done = work.start(*this, windows, meter);
        EXPECT_TRUE(QTest::qWaitFor(done, 60000));
        std::printf("longest event-loop block during %s: %lld ms\n", work.name,
                    static_cast<long long>(meter.Longest().count()));
        EXPECT_LT(meter.Longest(), kLongestAllowedBlock);
        EXPECT_TRUE(boxes.texts.empty()) << boxes.texts.front();
    }
}
