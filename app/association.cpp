// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/association.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace vokta {
namespace {

constexpr const char* kDimMimeType = "application/x-vokta-dim";
constexpr const char* kMimePackage = "vokta-dim.xml";
constexpr const char* kDesktopEntry = "vokta-dimfile.desktop";
constexpr int kUpdateTimeoutMs = 20000;

QString DataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    return xdg.isEmpty() ? QDir::homePath() + "/.local/share" : xdg;
}

QByteArray MimePackage()
{
    return QByteArrayLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
               "  <mime-type type=\"") +
           kDimMimeType +
           QByteArrayLiteral(
               "\">\n"
               "    <comment>Vokta diskette Image</comment>\n"
               "    <icon name=\"vokta\"/>\n"
               "    <glob pattern=\"*.dim\"/>\n"
               "  </mime-type>\n"
               "</mime-info>\n");
}

// The program's path as one argument of a desktop entry's Exec key: quoted, with the
// characters that are special inside the quotes escaped, then escaped once more as the
// key's string value requires; a '%' would start a field code.
QString ExecArgument(const QString& path)
{
    QString quoted;
    for (const QChar c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += '\\';
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    quoted = '"' + quoted + '"';
    return quoted.replace('\\', "\\\\");
}

QByteArray DesktopEntry(const QString& executable)
{
    return (QStringLiteral("[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Vokta diskette Image\n"
                           "Comment=Execute Vokta\n"
                           "Icon=vokta\n"
                           "Exec=") +
            ExecArgument(executable) +
            QStringLiteral(" %f\n"
                           "MimeType=") +
            kDimMimeType +
            QStringLiteral(";\n"
                           "NoDisplay=true\n"
                           "Terminal=false\n"))
        .toUtf8();
}

// Writes the file unless it already holds exactly that; true when it was written.
bool WriteIfChanged(const QString& path, const QByteArray& content)
{
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && file.readAll() == content)
        return false;
    file.close();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(content) == content.size();
}

// The desktop's caches are rebuilt by its own tools when they are installed.
void RunIfPresent(const QString& tool, const QString& folder)
{
    const QString path = QStandardPaths::findExecutable(tool);
    if (path.isEmpty())
        return;
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(path, {folder});
    if (!process.waitForFinished(kUpdateTimeoutMs))
        process.kill();
}

}  // namespace

void WriteDimAssociation(const QString& executable)
{
    const QString data = DataHome();
    const QString mime = data + "/mime";
    const QString applications = data + "/applications";
    // Rebuilding the caches costs a moment: only when what they are built from changed.
    if (WriteIfChanged(mime + "/packages/" + kMimePackage, MimePackage()))
        RunIfPresent("update-mime-database", mime);
    if (WriteIfChanged(applications + "/" + kDesktopEntry, DesktopEntry(executable)))
        RunIfPresent("update-desktop-database", applications);
}

}  // namespace vokta
