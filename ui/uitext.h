// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Texts of the current resource module for widgets, and the numeric control ids that
// every control carries (its tool tip is the string with that id).

#include <QString>
#include <QWidget>

#include "res/strings.h"

namespace vokta {

inline QString UiText(Str id)
{
    return QString::fromStdString(LoadString(id));
}

// `control` is a control id of the dialog, or one of its Unnumbered keys.
inline QString UiText(Dialog dialog, int control)
{
    return QString::fromStdString(LoadDialogText(dialog, static_cast<uint16_t>(control)));
}

inline QString UiText(const std::string& text)
{
    return QString::fromStdString(text);
}

// A file dialog's filter as the string table writes it, "Text (*.a)|*.a|All (*.*)|*.*||",
// in Qt's form, "Text (*.a);;All (*)". "*.*" matches every name there, and so it does here.
QString QtFileFilter(const QString& tableFilter);

constexpr const char* kControlIdProperty = "voktaControlId";

inline void SetControlId(QWidget* control, int id)
{
    control->setProperty(kControlIdProperty, id);
}

// `control` carrying `id`, so that a page builds a control in one expression.
template <typename Control>
Control* WithControlId(Control* control, int id)
{
    SetControlId(control, id);
    return control;
}

// 0 when the widget carries no id.
inline int ControlId(const QWidget* control)
{
    return control->property(kControlIdProperty).toInt();
}

// A control that only shows a text (an image's label, a result) takes no part in the
// tool-tip rule, even where a string happens to carry its id.
constexpr const char* kNoToolTipProperty = "voktaNoToolTip";

inline void SetNoToolTip(QWidget* control)
{
    control->setProperty(kNoToolTipProperty, true);
}

inline bool HasNoToolTip(const QWidget* control)
{
    return control->property(kNoToolTipProperty).toBool();
}

// The first widget under `root` (or root itself) carrying that id; nullptr when none does.
QWidget* FindControl(QWidget* root, int id);

template <typename T>
T* FindControl(QWidget* root, int id)
{
    return qobject_cast<T*>(FindControl(root, id));
}

}  // namespace vokta
