// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

namespace vokta {

// The version information of a build, as its About box shows it.
struct VersionInfo {
    QString productName;
    QString fileDescription;
    QString fileVersion;
    QString legalCopyright;
    QString legalTrademarks;
};

// This build's, in the language of the current resource module.
VersionInfo ProgramVersion();

// The About box: the program's icon, its version information, a notice and "&OK". A value
// of the version information that is empty leaves its field with the template's text.
class AboutBox final : public QDialog {
    Q_OBJECT

public:
    explicit AboutBox(QWidget* parent, const VersionInfo& version = ProgramVersion());
};

}  // namespace vokta
