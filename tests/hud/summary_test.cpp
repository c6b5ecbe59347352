#include "hud/cash/summary.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

hud::HudLine line(const std::string& text, const std::string& raw, bool known) {
    hud::HudLine l;
    l.text = text;
    l.raw = raw;
    l.known = known;
    return l;
}

} // namespace

TEST(HudSummary, LineKeys) {
    hud::HudLine l;
    EXPECT_EQ(hud::lineKey(l), "");
    l.hasFigure = true;
    l.figure = 250;
    EXPECT_EQ(hud::lineKey(l), "+$250");
    l = line("KILL CONFIRMED", "KILL CONFIRMED", true);
    l.hasFigure = true;
    l.figure = 1250;
    EXPECT_EQ(hud::lineKey(l), "KILL CONFIRMED +$1,250");
    l = line("", "  HEADSH0T", false); // raw text stands in, trimmed
    l.hasXp = true;
    l.xp = 50;
    EXPECT_EQ(hud::lineKey(l), "HEADSH0T 50XP");
    l = line("", "", false);
    l.hasXp = true;
    l.xp = 25;
    EXPECT_EQ(hud::lineKey(l), "25XP");
}

TEST(HudSummary, EmptyReadingIsJustNoBalance) {
    EXPECT_EQ(hud::readSummary(hud::HudReading{}), "bal -");
}

TEST(HudSummary, FullReading) {
    hud::HudReading r;
    r.found = true;
    r.lineHeight = 27.0f;
    r.balanceText = "$12,345";
    r.balanceCertain = true;
    r.balanceConfidence = 0.974f;
    r.balanceMargin = 0.125f;
    r.changeText = "-$250";
    r.changeCertain = false;
    r.arrow = -1;
    hud::HudLine kill = line("KILL", "KILI", true);
    kill.hasFigure = true;
    kill.figure = 100;
    r.lines.push_back(kill);
    r.lines.push_back(line("REVENGE", "REVENGF KIXX", false));
    r.lines.push_back(line("", "", false));
    EXPECT_EQ(hud::readSummary(r), "bal $12,345 (c0.97 m0.12) | chg -$250? arrow -1 | [KILL +$100] | "
                                   "[REVENGE raw=REVENGF KIXX] | [] | hud 100%");

    r.balanceCertain = false;
    r.reason = "balance uncertain";
    r.changeText.clear();
    r.lines.clear();
    r.lineHeight = 40.0f;
    EXPECT_EQ(hud::readSummary(r), "bal $12,345? (c0.97 m0.12) | balance uncertain | hud 148%");

    hud::HudReading missing;
    missing.reason = "no money line";
    EXPECT_EQ(hud::readSummary(missing), "bal - | no money line");
}

TEST(HudSummary, NumbersIgnoreTheCLocale) {
    // A host may switch the C library to a locale with a decimal comma.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8");
    hud::HudReading r;
    r.balanceText = "$5";
    r.balanceCertain = true;
    r.balanceConfidence = 0.5f;
    r.balanceMargin = -0.25f;
    const std::string summary = hud::readSummary(r);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(summary, "bal $5 (c0.50 m-0.25)");
}

TEST(HudSummary, HudSizePercent) {
    EXPECT_EQ(hud::hudSizePercent(0.0f), 0);
    EXPECT_EQ(hud::hudSizePercent(-3.0f), 0);
    EXPECT_EQ(hud::hudSizePercent(27.0f), 100);
    EXPECT_EQ(hud::hudSizePercent(40.0f), 148);
    EXPECT_EQ(hud::hudSizePercent(21.6f), 80);
    EXPECT_EQ(hud::hudSizePercent(1e30f), 2147483647);
}
