#include "dock/test-dialog.h"
#include "dock/tournament-panel.h"

#include <gtest/gtest.h>

namespace {

hud::HudLine line(const char* text, const char* raw, bool known) {
    hud::HudLine l;
    l.text = text;
    l.raw = raw;
    l.known = known;
    return l;
}

TEST(ReadingText, EveryPartOnItsLineAndANoteOnlyWithAReason) {
    hud::HudReading r;
    r.balanceText = "$12,345";
    r.balanceCertain = true;
    r.balanceConfidence = 0.987f;
    r.balanceMargin = 0.5f;
    r.changeText = "-$250";
    r.arrow = -1;
    hud::HudLine kill = line("KILL", "KILL", true);
    kill.hasFigure = true;
    kill.figure = 1250;
    hud::HudLine xp = line("ASSIST", "ASSIST", true);
    xp.hasXp = true;
    xp.xp = 25;
    r.lines = {kill, xp, line("REVIVE", "REV1VE", false), line("DOWN", "", false)};
    r.lineHeight = 27.0f;
    EXPECT_EQ(formatReading(r).toStdString(), "balance  $12,345  OK (conf 0.99, margin 0.50)\n"
                                              "change   -$250  -- arrow -1\n"
                                              "line     KILL +$1,250\n"
                                              "line     ASSIST  25XP\n"
                                              "line     REVIVE   (read as REV1VE)\n"
                                              "line     DOWN \n"
                                              "HUD size 100 percent of default");
    r = hud::HudReading{};
    r.reason = "balance uncertain";
    r.lineHeight = 40.5f;
    EXPECT_TRUE(formatReading(r).endsWith(
        QStringLiteral("\nnote     balance uncertain\nHUD size 150 percent of default")));
    EXPECT_FALSE(formatReading(hud::HudReading{}).contains(QStringLiteral("note")));
}

TEST(TestPicture, ShownBetween454And907Wide) {
    EXPECT_EQ(testPictureWidth(300), 454);
    EXPECT_EQ(testPictureWidth(600), 600);
    EXPECT_EQ(testPictureWidth(1200), 907);
}

TEST(TeamInput, PastedCodesAndTags) {
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("  ab12c ")), QStringLiteral("AB12C"));
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("https://x.example/t/join/xy7k9?ref=1#top")),
              QStringLiteral("XY7K9"));
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("https://x.example/join/q1w2/extra")),
              QStringLiteral("Q1W2"));
    EXPECT_TRUE(TournamentPanel::cleanTeamCode(QStringLiteral("https://x.example/join/?x=1")).isEmpty());
    EXPECT_TRUE(TournamentPanel::validTag(QStringLiteral("A1B2C")));
    for (const char* bad : {"A", "ABCDEF", "ab", "A B"}) {
        EXPECT_FALSE(TournamentPanel::validTag(QString::fromLatin1(bad))) << bad;
    }
}

} // namespace
