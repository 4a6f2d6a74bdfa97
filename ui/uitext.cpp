// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/uitext.h"

#include <QStringList>

namespace vokta {

QString QtFileFilter(const QString& tableFilter)
{
    const QStringList parts = tableFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) {
        QString description = parts[i];
        // Qt reads the patterns from the description's last parentheses, separated by blanks.
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
            description.truncate(description.lastIndexOf(QLatin1Char('(')));
        QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& pattern : patterns)
            if (pattern == QLatin1String("*.*"))
                pattern = QStringLiteral("*");
        filters << description.trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

QWidget* FindControl(QWidget* root, int id)
{
    if (ControlId(root) == id)
        return root;
    for (QWidget* child : root->findChildren<QWidget*>())
        if (ControlId(child) == id)
            return child;
    return nullptr;
}

}  // namespace vokta
