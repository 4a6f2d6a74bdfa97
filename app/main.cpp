// SPDX-License-Identifier: GPL-3.0-or-later
#include <QApplication>
#include <QFileInfo>

#include "app/programicon.h"
#include "ui/settingsstore.h"
#include "app/startup.h"

int main(int argc, char** argv)
{
    using namespace vokta;
    QApplication application(argc, argv);
    // The settings' name is the executable's base name.
    QApplication::setApplicationName(QFileInfo(QString::fromLocal8Bit(argv[0])).completeBaseName());
    QApplication::setWindowIcon(ProgramIcon());

    QSettings store(QSettings::NativeFormat, QSettings::UserScope, kSettingsOrganisation,
                    QApplication::applicationName());
    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();
    const StartupInputs inputs{arguments, QApplication::applicationFilePath(), &store, &DriveTable::System()};
    return RunStartup(inputs);
}
