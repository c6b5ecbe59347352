#pragma once

#include "../locale_support.h"
#include "plugin/lang.h"

#include <QString>

// Switches the module language as a load of OBS would, from the shipped files.
inline void useLanguage(const char* code) {
    Lang::applyWith(QString::fromLatin1(code), QStringLiteral("en-US"),
                    [](const char* locale) { return loadLocale(localeDir(), locale); });
}
