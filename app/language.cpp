// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>

namespace vokta {

LanguageSelection::LanguageSelection(const char* italianModule) : italianModule_(italianModule)
{
    // "qt_it" gathers Qt's catalogues of Italian texts, "qtbase_it" among them.
    qtItalianLoaded_ = qtItalian_.load(QStringLiteral("qt_it"), QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}

LanguageSelection::~LanguageSelection()
{
    UseQtItalian(false);
}

void LanguageSelection::Select(int language)
{
    const StringTable* module = language == kItalianLanguage ? FindLanguageModule(italianModule_) : nullptr;
    SetResourceModule(module);
    UseQtItalian(module != nullptr);
}

void LanguageSelection::UseQtItalian(bool italian)
{
    if (italian == qtItalianInstalled_ || !qtItalianLoaded_)
        return;
    qtItalianInstalled_ = italian ? QCoreApplication::installTranslator(&qtItalian_)
                                  : !QCoreApplication::removeTranslator(&qtItalian_);
}

}  // namespace vokta
