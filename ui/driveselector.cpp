#include "ui/driveselector.h"

#include <QSignalBlocker>

namespace vokta {

void FillDriveSelector(QComboBox& selector, const Shell& shell, bool noHardDisks)
{
    const DriveTableQuery query(*shell.drives, MachineDrives(shell.machineDrives));
    const DriveSelectorFill fill =
        FillDriveSelector(query, shell.settings.DriveList(), noHardDisks, shell.currentDriveText);
    // A refill is no choice of the user's: it must not become the drive chosen last.
    const QSignalBlocker quiet(selector);
    selector.clear();
    for (const std::string& entry : fill.entries)
        selector.addItem(QString::fromStdString(entry));
    selector.setCurrentIndex(fill.selected ? static_cast<int>(*fill.selected) : -1);
}

}  // namespace vokta
