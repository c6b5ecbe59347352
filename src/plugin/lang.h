#pragma once

#include <util/text-lookup.h>

#include <QLocale>
#include <QString>

#include <array>
#include <functional>

// One language the module speaks: `code` is what the `lang` setting stores and
// the service receives, `locale` names the locale file, `name` is the
// language's own name for the menu (UTF-8).
struct LanguageEntry {
    const char* code;
    const char* locale;
    const char* name;
};

// The module's own language, chosen once at load from the `lang` setting and
// independent of the OBS interface language.
namespace Lang {

using Table = std::array<LanguageEntry, 14>;

const Table& table();

// The row for an OBS locale such as "de-AT" or "zh-Hant-HK".
const LanguageEntry& resolve(const QString& locale);

// The row `lang` selects: an exact code, or, for "auto" and anything unknown,
// the row of the OBS locale.
const LanguageEntry& choose(const QString& lang, const QString& obsLocale);

// Chooses the language and loads its texts from the module's locale files,
// English underneath so that a missing translation shows the English text.
void apply(const QString& lang);

// The same with the OBS locale and the text loading given by the caller.
// `load` returns a lookup for the given locale file name (or null).
using Loader = std::function<lookup_t*(const char* locale)>;
void applyWith(const QString& lang, const QString& obsLocale, const Loader& load);

// The text of `key` in the chosen language, or the key itself.
QString text(const char* key);
// The same lookup in any libobs text table (null allowed).
QString textIn(lookup_t* texts, const char* key);
QString code();
QLocale qlocale();

void release();

} // namespace Lang
