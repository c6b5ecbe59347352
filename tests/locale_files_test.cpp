#include "locale_support.h"

#include "plugin/lang.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <gtest/gtest.h>

namespace {

QString path(const char* locale) {
    return QDir(localeDir()).filePath(QString::fromLatin1(locale) + ".ini");
}

QString value(lookup_t* lookup, const QString& key) {
    const char* out = nullptr;
    if (!lookup || !text_lookup_getstr(lookup, key.toUtf8().constData(), &out) || !out) {
        return {};
    }
    return QString::fromUtf8(out);
}

QStringList placeholders(const QString& text) {
    static const QRegularExpression re(QStringLiteral("%(\\d+)"));
    QStringList found;
    auto it = re.globalMatch(text);
    while (it.hasNext()) {
        found << it.next().captured(0);
    }
    found.sort();
    return found;
}

TEST(LocaleFiles, EnglishHasEveryKeyOnceWithText) {
    const QStringList keys = iniKeys(path("en-US"));
    ASSERT_GT(keys.size(), 250);
    QSet<QString> seen;
    lookup_t* english = text_lookup_create(path("en-US").toUtf8().constData());
    ASSERT_NE(english, nullptr);
    for (const QString& key : keys) {
        // libobs compares keys without case: two spellings would shadow each other.
        EXPECT_FALSE(seen.contains(key.toLower())) << "duplicate key " << key.toStdString();
        seen.insert(key.toLower());
        EXPECT_FALSE(value(english, key).isEmpty()) << key.toStdString();
    }
    for (const char* key : {"CorvexTournament", "Dock.Title", "Lang.Restart", "Common.Yes", "Phase.live"}) {
        EXPECT_TRUE(seen.contains(QString::fromLatin1(key).toLower())) << key;
    }
    text_lookup_destroy(english);
}

// Each translation is checked on its own (not over English), so a key it
// forgot cannot hide behind the English fallback.
TEST(LocaleFiles, EveryTranslationIsCompleteAndKeepsPlaceholders) {
    const QStringList keys = iniKeys(path("en-US"));
    lookup_t* english = text_lookup_create(path("en-US").toUtf8().constData());
    ASSERT_NE(english, nullptr);
    for (const LanguageEntry& row : Lang::table()) {
        SCOPED_TRACE(row.locale);
        ASSERT_TRUE(QFile::exists(path(row.locale)));
        lookup_t* own = text_lookup_create(path(row.locale).toUtf8().constData());
        ASSERT_NE(own, nullptr);
        EXPECT_EQ(iniKeys(path(row.locale)).size(), keys.size());
        int same = 0;
        for (const QString& key : keys) {
            const QString translated = value(own, key);
            const QString source = value(english, key);
            EXPECT_FALSE(translated.isEmpty()) << "missing " << key.toStdString();
            EXPECT_EQ(placeholders(translated), placeholders(source)) << key.toStdString();
            EXPECT_FALSE(translated.contains(QLatin1Char('"'))) << key.toStdString();
            same += translated == source ? 1 : 0;
        }
        if (qstrcmp(row.locale, "en-US") != 0) {
            // Names and codes may stay as they are; whole screens of English may not.
            EXPECT_LT(same, keys.size() / 12) << same << " texts left in English";
        }
        text_lookup_destroy(own);
    }
    text_lookup_destroy(english);
}

// The date pattern is given to Qt as it is: a stray quote or a word left
// unquoted shows up in the dock as garbage.
TEST(LocaleFiles, DateTimePatternsFormatCleanly) {
    const QDateTime when(QDate(2026, 7, 5), QTime(20, 5));
    for (const LanguageEntry& row : Lang::table()) {
        lookup_t* own = text_lookup_create(path(row.locale).toUtf8().constData());
        ASSERT_NE(own, nullptr);
        const QString pattern = value(own, QStringLiteral("Common.DateTime"));
        const QLocale locale(QString::fromLatin1(row.locale).replace(QLatin1Char('-'), QLatin1Char('_')));
        const QString shown = locale.toString(when, pattern);
        EXPECT_TRUE(shown.contains(QLatin1String("20")) && shown.contains(QLatin1String("05")))
            << row.locale << ": " << shown.toStdString();
        EXPECT_FALSE(shown.contains(QLatin1Char('\''))) << row.locale << ": " << shown.toStdString();
        text_lookup_destroy(own);
    }
}

} // namespace
