// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/pages/labeledit.h"

#include "fat/labelcheck.h"
#include "ui/qthost.h"
#include "ui/uitext.h"

namespace vokta {
namespace {

// The place in the edit's text (in UTF-16 units) of the character at `position` (in
// characters) of its UTF-8 form, and that character's length there.
std::pair<qsizetype, qsizetype> SpanOfCharacter(const QString& text, size_t position)
{
    qsizetype index = 0;
    for (size_t i = 0; i < position && index < text.size(); ++i)
        index += text.at(index).isHighSurrogate() ? 2 : 1;
    const qsizetype length = index < text.size() && text.at(index).isHighSurrogate() ? 2 : 1;
    return {index, length};
}

void RemoveFirstInvalidCharacter(QLineEdit& edit, QWidget& owner)
{
    const QString text = edit.text();
    const std::optional<size_t> invalid = FirstInvalidLabelCharacter(text.toStdString());
    if (!invalid)
        return;
    AskInMessageBox(owner, LoadString(Str::InvalidLabelLetter), LoadString(Str::Error), Buttons::Ok, Icon::Error);
    const auto [index, length] = SpanOfCharacter(text, *invalid);
    edit.setSelection(static_cast<int>(index), static_cast<int>(length));
    // setText forgets the undo history, so the removed character cannot come back.
    edit.setText(QString(text).remove(index, length));
    edit.setCursorPosition(static_cast<int>(index));
}

}  // namespace

void MakeLabelEdit(QLineEdit& edit, QWidget& owner)
{
    edit.setMaxLength(static_cast<int>(kMaxLabelCharacters));
    QObject::connect(&edit, &QLineEdit::textChanged, &owner,
                     [&edit, &owner] { RemoveFirstInvalidCharacter(edit, owner); });
}

}  // namespace vokta
