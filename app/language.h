// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTranslator>

#include "res/languagemodule.h"

namespace vokta {

// The "Language" setting's value for Italian; any other is English.
constexpr int kItalianLanguage = 1;

// The language of everything the program shows: its own texts from the resource module,
// and Qt's own (message-box buttons, file dialogs) from Qt's translations, which follow
// the module so that a window never mixes two languages.
class LanguageSelection {
public:
    explicit LanguageSelection(const char* italianModule = kItalianModuleName);
    ~LanguageSelection();
    LanguageSelection(const LanguageSelection&) = delete;
    LanguageSelection& operator=(const LanguageSelection&) = delete;

    // Italian when `language` asks for it and its module loads; English otherwise.
    void Select(int language);

private:
    void UseQtItalian(bool italian);

    const char* italianModule_;
    QTranslator qtItalian_;
    bool qtItalianLoaded_ = false;
    bool qtItalianInstalled_ = false;
};

}  // namespace vokta
