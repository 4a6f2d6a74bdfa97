// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What the page tests share: message boxes answered as they open, a step run on a dialog
// once it is the modal window, controls by id, the Tab key's order, the tool tip a hover shows, and
// pictures of windows saved into build/gui-shots.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QHelpEvent>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <functional>
#include <string>
#include <vector>

#include "ui/driveselector.h"
#include "ui/shell.h"
#include "ui/uitext.h"
#include "support/tempdir.h"

namespace vokta::test {

// The shell of a page test: the test's drive table, no floppy drive of the machine's own,
// and mtools that take our diskette files without checking their geometry.
inline void UseTestDrives(vokta::Shell& shell, DriveTable& table, const TempDir& dir)
{
    setenv("MTOOLS_SKIP_CHECK", "1", 1);
    shell.drives = &table;
    shell.machineDrives = {dir.File("none"), dir.File("none"), dir.File("none"), false};
}

// Answers every message box that opens: Yes where it asks, else OK, and keeps its text.
class BoxAnswerer {
public:
    BoxAnswerer()
    {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            texts.push_back(box->text().toStdString());
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            (yes ? yes : box->button(QMessageBox::Ok))->click();
        });
        timer_.start();
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

// Runs `step` once on the dialog of type T when it is the modal window and `ready` says so.
template <typename T>
void WhenModal(std::function<void(T&)> step, std::function<bool(T&)> ready = [](T&) { return true; })
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, step, ready] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog && ready(*dialog)) {
            timer->stop();
            timer->deleteLater();
            step(*dialog);
        }
    });
    timer->start();
}

// The control under `root` that carries `id`; a failure of the test when none does.
template <typename T = QWidget>
T* ControlOf(QWidget* root, int id)
{
    T* control = FindControl<T>(root, id);
    EXPECT_NE(control, nullptr) << "control " << id;
    return control;
}

// The ids of the controls the Tab key visits from `first` on, in order.
inline std::vector<int> TabOrder(QWidget* first)
{
    std::vector<int> visited;
    for (QWidget* w = first; visited.size() < 40; w = w->nextInFocusChain()) {
        if (ControlId(w) != 0 && (w->focusPolicy() & Qt::TabFocus))
            visited.push_back(ControlId(w));
        if (w->nextInFocusChain() == first)
            break;
    }
    return visited;
}

// A click where the user clicks: on whichever child of `window` lies under `at`.
inline void ClickAt(QWidget& window, QPoint at)
{
    QWidget* under = window.childAt(at);
    QWidget* target = under ? under : &window;
    QTest::mouseClick(target, Qt::LeftButton, {}, target->mapFrom(&window, at));
}

// The tip a hover over `control` shows, as the application's event filters decide; empty
// when none shows.
inline QString ToolTipOf(QWidget* control)
{
    QToolTip::hideText();
    QHelpEvent hover(QEvent::ToolTip, QPoint(1, 1), control->mapToGlobal(QPoint(1, 1)));
    QApplication::sendEvent(control, &hover);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// Waits until every drive selector under `page` has its entries in, as a page's selector
// is filled off the window's thread once the page is made and each time it is shown.
inline void WaitForDriveSelectors(QWidget* page)
{
    const auto filled = [page] {
        for (const QComboBox* selector : page->findChildren<QComboBox*>())
            if (selector->property(kDriveSelectorFilling).toBool())
                return false;
        return true;
    };
    EXPECT_TRUE(QTest::qWaitFor(filled, 60000)) << "a drive selector was never filled";
}

// Chooses the drive selector's entry of `letter` as the user does.
inline void ChooseDriveEntry(QComboBox& selector, char letter)
{
    const int index = selector.findText(QString("%1:").arg(letter), Qt::MatchStartsWith);
    ASSERT_GE(index, 0) << "no drive " << letter;
    selector.setCurrentIndex(index);
    emit selector.activated(index);
}

// Saves a picture of `window` into the build folder's gui-shots/, to be looked at.
inline void Shoot(QWidget& window, const char* name)
{
    const QString folder = QStringLiteral(VOKTA_BINARY_DIR "/gui-shots");
    QDir().mkpath(folder);
    EXPECT_TRUE(window.grab().save(folder + "/" + name));
}

}  // namespace vokta::test
