#include "dock/tournament-panel.h"

#include <gtest/gtest.h>

namespace {

TEST(TeamCode, PastedCodesAndInviteLinks) {
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("  ab12c ")), QStringLiteral("AB12C"));
    EXPECT_EQ(
        TournamentPanel::cleanTeamCode(QStringLiteral("https://cups.example/t/join/xy7k9?ref=discord#top")),
        QStringLiteral("XY7K9"));
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("https://cups.example/join/q1w2/extra")),
              QStringLiteral("Q1W2"));
    EXPECT_EQ(TournamentPanel::cleanTeamCode(QStringLiteral("code#frag")), QStringLiteral("CODE"));
    EXPECT_TRUE(TournamentPanel::cleanTeamCode(QStringLiteral("https://cups.example/join/?x=1")).isEmpty());
    EXPECT_TRUE(TournamentPanel::cleanTeamCode(QStringLiteral("   ")).isEmpty());
}

TEST(TeamTag, TwoToFiveCapitalsOrDigits) {
    EXPECT_TRUE(TournamentPanel::validTag(QStringLiteral("AB")));
    EXPECT_TRUE(TournamentPanel::validTag(QStringLiteral("A1B2C")));
    EXPECT_FALSE(TournamentPanel::validTag(QStringLiteral("A")));
    EXPECT_FALSE(TournamentPanel::validTag(QStringLiteral("ABCDEF")));
    EXPECT_FALSE(TournamentPanel::validTag(QStringLiteral("ab")));
    EXPECT_FALSE(TournamentPanel::validTag(QStringLiteral("A B")));
    EXPECT_FALSE(TournamentPanel::validTag(QStringLiteral("ÄB")));
}

} // namespace
