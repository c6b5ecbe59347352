#include "lang.h"

#include "module-data.h"
#include "obs-ref.h"

#include <obs-module.h>

namespace Lang {

namespace {

const Table kTable = {{
    {"en", "en-US", "English"},
    {"de", "de-DE", "Deutsch"},
    {"fr", "fr-FR", "Français"},
    {"es", "es-ES", "Español"},
    {"it", "it-IT", "Italiano"},
    {"pt-BR", "pt-BR", "Português (Brasil)"},
    {"pl", "pl-PL", "Polski"},
    {"tr", "tr-TR", "Türkçe"},
    {"ru", "ru-RU", "Русский"},
    {"uk", "uk-UA", "Українська"},
    {"ja", "ja-JP", "日本語"},
    {"ko", "ko-KR", "한국어"},
    {"zh-CN", "zh-CN", "简体中文"},
    {"zh-TW", "zh-TW", "繁體中文"},
}};

constexpr size_t kEnglish = 0;
constexpr size_t kPortugueseBrazil = 5;
constexpr size_t kChineseSimplified = 12;
constexpr size_t kChineseTraditional = 13;

// Chosen at load, read from any thread until unload.
const LanguageEntry* g_current = &kTable[kEnglish];
OBSTextLookupAutoRelease g_texts;

QString languagePart(const QString& tag) {
    return tag.section(QLatin1Char('-'), 0, 0);
}

} // namespace

const Table& table() {
    return kTable;
}

const LanguageEntry& resolve(const QString& locale) {
    const QString wanted = locale.toLower();
    for (const LanguageEntry& row : kTable) {
        if (QString::fromLatin1(row.locale).toLower() == wanted) {
            return row;
        }
    }
    if (wanted.startsWith(QLatin1String("zh"))) {
        bool traditional = wanted.contains(QLatin1String("tw")) || wanted.contains(QLatin1String("hk")) ||
                           wanted.contains(QLatin1String("hant"));
        return kTable[traditional ? kChineseTraditional : kChineseSimplified];
    }
    if (wanted.startsWith(QLatin1String("pt"))) {
        return kTable[kPortugueseBrazil];
    }
    const QString language = languagePart(wanted);
    for (const LanguageEntry& row : kTable) {
        if (languagePart(QString::fromLatin1(row.code).toLower()) == language) {
            return row;
        }
    }
    return kTable[kEnglish];
}

const LanguageEntry& choose(const QString& lang, const QString& obsLocale) {
    for (const LanguageEntry& row : kTable) {
        if (lang == QLatin1String(row.code)) {
            return row;
        }
    }
    return resolve(obsLocale.isEmpty() ? QStringLiteral("en-US") : obsLocale);
}

void applyWith(const QString& lang, const QString& obsLocale, const Loader& load) {
    const LanguageEntry& row = choose(lang, obsLocale);
    g_current = &row;
    release();
    g_texts = load ? load(row.locale) : nullptr;
}

void apply(const QString& lang) {
    const char* obsLocale = obs_get_locale();
    applyWith(lang, obsLocale ? QString::fromUtf8(obsLocale) : QString(),
              [](const char* locale) { return obs_module_load_locale(plugin::module(), "en-US", locale); });
}

QString textIn(lookup_t* texts, const char* key) {
    const char* value = nullptr;
    if (texts && key && text_lookup_getstr(texts, key, &value) && value) {
        return QString::fromUtf8(value);
    }
    return QString::fromUtf8(key);
}

QString text(const char* key) {
    return textIn(g_texts, key);
}

QString code() {
    return QString::fromLatin1(g_current->code);
}

QLocale qlocale() {
    return QLocale(QString::fromLatin1(g_current->locale).replace(QLatin1Char('-'), QLatin1Char('_')));
}

void release() {
    g_texts = nullptr;
}

} // namespace Lang
