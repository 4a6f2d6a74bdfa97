// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "ui/shell.h"
#include "ops/runner.h"

namespace vokta {

// The selector's dynamic property that holds true while its entries are being gathered.
inline constexpr char kDriveSelectorFilling[] = "driveSelectorFilling";

// A page's drive selector, refilled with the drives the settings allow (no fixed disks when
// `noHardDisks`, whatever the settings) and the drive chosen last on any page reselected.
// Asking the drives may take long (a diskette file is read whole, a drive may be slow), so
// the entries are gathered on a worker from copies of the drive table and settings and put
// in on the window's thread. Until then the selector shows what it had and the page's
// `actions` that were on are off. Whatever is still under way when the filler goes shows
// nothing.
class DriveSelectorFiller {
public:
    DriveSelectorFiller(QComboBox& selector, const Shell& shell, std::vector<QWidget*> actions);
    DriveSelectorFiller(const DriveSelectorFiller&) = delete;
    DriveSelectorFiller& operator=(const DriveSelectorFiller&) = delete;
    ~DriveSelectorFiller();

    // Starts a refill; `filled`, if any, is called once the entries are in. A refill asked
    // for while one runs follows it, and only the later one's entries are put in.
    void Refill(bool noHardDisks, std::function<void()> filled = {});

private:
    struct Request {
        bool noHardDisks = false;
        std::function<void()> filled;
    };

    void Start(Request request);
    void Ended(const std::vector<std::string>& entries, const std::function<void()>& filled);
    void SetFilling(bool filling);

    QComboBox& selector_;
    const Shell& shell_;
    std::vector<QWidget*> actions_;
    std::vector<QWidget*> turnedOff_;
    struct MovedFocus {
        QWidget* action = nullptr;
        QWidget* movedTo = nullptr;
    } focus_;
    std::unique_ptr<WorkerRun> run_;
    std::optional<Request> next_;
};

}  // namespace vokta
