// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include "ui/settings.h"

namespace vokta {

// The tool-tip rule of every window: a control's tip is the string whose id is the
// control's id, asked for at each hover and shown only while "EnableToolTips" is on.
// Installed on the application, it answers every tool-tip request of a widget with an id;
// widgets without one are left to Qt.
class ToolTipRule final : public QObject {
public:
    explicit ToolTipRule(const Settings& settings, QObject* parent = nullptr)
        : QObject(parent), settings_(settings)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const Settings& settings_;
};

}  // namespace vokta
