#include "locale_support.h"

#include "plugin/lang.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString resolved(const char* locale) {
    return QString::fromLatin1(Lang::resolve(QString::fromLatin1(locale)).locale);
}

TEST(LangResolve, MapsObsLocalesToTableRows) {
    EXPECT_EQ(resolved("en-US"), "en-US");
    EXPECT_EQ(resolved("en-GB"), "en-US");
    EXPECT_EQ(resolved("de-AT"), "de-DE");
    EXPECT_EQ(resolved("de-DE"), "de-DE");
    EXPECT_EQ(resolved("zh-Hant-HK"), "zh-TW");
    EXPECT_EQ(resolved("ZH-HK"), "zh-TW");
    EXPECT_EQ(resolved("zh-TW"), "zh-TW");
    EXPECT_EQ(resolved("zh-SG"), "zh-CN");
    EXPECT_EQ(resolved("zh-CN"), "zh-CN");
    EXPECT_EQ(resolved("pt-PT"), "pt-BR");
    EXPECT_EQ(resolved("nl-NL"), "en-US");
    EXPECT_EQ(resolved("UK-ua"), "uk-UA");
    EXPECT_EQ(resolved("es-MX"), "es-ES");
    EXPECT_EQ(resolved(""), "en-US");
    EXPECT_EQ(resolved("garbage"), "en-US");
}

TEST(LangChoose, ExactCodeWinsOtherwiseObsLocale) {
    EXPECT_STREQ(Lang::choose("pt-BR", "de-DE").locale, "pt-BR");
    EXPECT_STREQ(Lang::choose("pt", "de-DE").locale, "de-DE"); // "pt" is no code
    EXPECT_STREQ(Lang::choose("auto", "ja-JP").locale, "ja-JP");
    EXPECT_STREQ(Lang::choose("DE", "fr-FR").locale, "fr-FR"); // codes are case-sensitive
    EXPECT_STREQ(Lang::choose("", "").locale, "en-US");
    EXPECT_STREQ(Lang::choose("zh-TW", "en-US").locale, "zh-TW");
}

TEST(LangTable, HasFourteenRowsWithDistinctCodes) {
    const Lang::Table& table = Lang::table();
    ASSERT_EQ(table.size(), 14u);
    EXPECT_STREQ(table[0].code, "en");
    EXPECT_STREQ(table[5].code, "pt-BR");
    EXPECT_STREQ(table[13].name, "繁體中文");
    for (size_t i = 0; i < table.size(); ++i) {
        for (size_t j = i + 1; j < table.size(); ++j) {
            EXPECT_STRNE(table[i].code, table[j].code);
        }
    }
}

class LangApply : public ::testing::Test {
protected:
    void TearDown() override { Lang::applyWith("en", "en-US", nullptr); }
};

TEST_F(LangApply, BeforeLoadingKeysComeBackUnchanged) {
    Lang::applyWith("en", "en-US", nullptr);
    EXPECT_EQ(Lang::text("Common.Yes"), "Common.Yes");
    EXPECT_EQ(Lang::code(), "en");
    EXPECT_EQ(Lang::qlocale().name(), "en_US");
}

TEST_F(LangApply, LoadsTheChosenLanguageFromTheShippedFiles) {
    const QString dir = localeDir();
    Lang::applyWith("auto", "de-AT", [&](const char* locale) { return loadLocale(dir, locale); });
    EXPECT_EQ(Lang::code(), "de");
    EXPECT_EQ(Lang::qlocale().name(), "de_DE");
    EXPECT_FALSE(Lang::text("Common.Yes").isEmpty());
    EXPECT_NE(Lang::text("Common.Yes"), "Common.Yes");

    Lang::applyWith("pt-BR", "de-DE", [&](const char* locale) { return loadLocale(dir, locale); });
    EXPECT_EQ(Lang::code(), "pt-BR");
    EXPECT_EQ(Lang::qlocale().name(), "pt_BR");
    EXPECT_EQ(Lang::text("No.Such.Key"), "No.Such.Key");
}

TEST_F(LangApply, MissingTranslationFallsBackToEnglishThenToTheKey) {
    QTemporaryDir tmp;
    auto put = [&](const char* name, const QByteArray& text) {
        QFile f(tmp.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    };
    put("en-US.ini", "Common.Yes=\"Yes\"\nCommon.No=\"No\"\nLang.Restart=\"Restart OBS\\nto apply\"\n");
    put("fr-FR.ini", "Common.Yes=\"Oui\"\n");
    const QString dir = tmp.path();
    auto loader = [&](const char* locale) { return loadLocale(dir, locale); };

    Lang::applyWith("fr", "en-US", loader);
    EXPECT_EQ(Lang::text("Common.Yes"), "Oui");
    EXPECT_EQ(Lang::text("Common.No"), "No");
    EXPECT_EQ(Lang::text("Lang.Restart"), "Restart OBS\nto apply");
    EXPECT_EQ(Lang::text("Common.Cancel"), "Common.Cancel");

    // A language whose file is missing speaks English.
    Lang::applyWith("ko", "en-US", loader);
    EXPECT_EQ(Lang::code(), "ko");
    EXPECT_EQ(Lang::text("Common.Yes"), "Yes");

    // Without the English file nothing is loaded at all.
    QFile::remove(tmp.filePath("en-US.ini"));
    Lang::applyWith("fr", "en-US", loader);
    EXPECT_EQ(Lang::text("Common.Yes"), "Common.Yes");
}

} // namespace
