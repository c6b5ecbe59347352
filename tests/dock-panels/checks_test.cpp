#include "dock/stream-checks.h"

#include "panel_fixture.h"
#include "plugin/lang.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 kNow = 1700000000000;

// Streaming a game capture of the game, HUD seen a second ago, channel live.
CheckInputs allGood() {
    CheckInputs in;
    in.streaming = in.sourceChosen = in.onStream = true;
    in.sourceType = QStringLiteral("game_capture");
    in.captured = QStringLiteral("Game.exe");
    in.hudSeenAt = kNow - 1000;
    in.now = kNow;
    in.checks.hasChecks = true;
    in.checks.twitchLive = in.checks.vodsOn = 1;
    return in;
}

QString states(const CheckInputs& in) {
    QString s;
    for (const CheckItem& item : collectChecks(in)) {
        s += item.state.left(1); // o, w, b
    }
    return s;
}

QString notYet(const char* title, const QString& detail) {
    return Lang::text("Check.NotYet").arg(Lang::text(title), detail);
}

class CheckList : public ::testing::Test {
protected:
    void SetUp() override { useLanguage(QStringLiteral("en")); }
};

TEST_F(CheckList, StreamFromObsOrFromTheService) {
    CheckInputs in = allGood();
    EXPECT_EQ(states(in), QStringLiteral("oooooo"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.onStream = false;
    EXPECT_EQ(readyCheck(collectChecks(in)).failure,
              notYet("Check.GameOnStream", Lang::text("Check.GameOnStreamFix")));

    // Not streaming in OBS, but the service sees the channel live: ready is allowed.
    in = allGood();
    in.streaming = false;
    in.checks.twitchLive = -1;
    in.stream.hasStream = true;
    in.stream.twitchLive = 1;
    EXPECT_EQ(collectChecks(in).at(0).title, Lang::text("Check.StreamingTwitch"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.stream.twitchLive = 0;
    EXPECT_EQ(readyCheck(collectChecks(in)).failure,
              notYet("Check.Streaming", Lang::text("Check.StreamingFix")));
}

TEST_F(CheckList, CaptureByTypeAndTarget) {
    CheckInputs in = allGood();
    in.sourceType = QStringLiteral("window_capture");
    in.captured = QStringLiteral("[GAME.EXE]: Match");
    EXPECT_EQ(collectChecks(in).at(1).state, QStringLiteral("ok"));
    in.captured = QStringLiteral("notepad.exe");
    EXPECT_EQ(readyCheck(collectChecks(in)).failure,
              notYet("Check.Capture", Lang::text("Check.CaptureOther").arg(QStringLiteral("notepad.exe"))));
    in.captured.clear();
    EXPECT_EQ(collectChecks(in).at(1).detail, Lang::text("Check.CapturePoint"));
    in.sourceChosen = false;
    EXPECT_EQ(collectChecks(in).at(1).detail, Lang::text("Check.CaptureAdd"));

    // A display capture is advice only.
    in = allGood();
    in.sourceType = QStringLiteral("monitor_capture");
    EXPECT_EQ(states(in), QStringLiteral("owoooo"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, MoneyNeedsTheHudWithinTheLastMinute) {
    CheckInputs in = allGood();
    in.hudSeenAt = kNow - 59999;
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.hudSeenAt = kNow - 61000;
    EXPECT_EQ(readyCheck(collectChecks(in)).failure, notYet("Check.Money", Lang::text("Check.MoneyFix")));
    in.hudSeenAt = 0;
    EXPECT_FALSE(readyCheck(collectChecks(in)).ok);
    in.hudSeenAt = kNow + 30000; // the clock was set back: proves nothing
    EXPECT_FALSE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, PluginVersionsCompareAsNumbers) {
    CheckInputs in = allGood();
    in.plugin.minimum = QStringLiteral("0.3");
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.plugin.minimum = QStringLiteral("0.10");
    EXPECT_EQ(readyCheck(collectChecks(in)).failure,
              notYet("Check.Plugin", Lang::text("Check.PluginUpdate").arg(QStringLiteral("0.10"))));
    in.plugin.minimum = QStringLiteral("0.2.9");
    in.plugin.latest = QStringLiteral("0.3.1");
    EXPECT_EQ(states(in), QStringLiteral("ooowoo"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, TwitchAdviceNeverBlocks) {
    CheckInputs in = allGood();
    in.checks = StreamChecks{};
    EXPECT_EQ(states(in), QStringLiteral("ooooww"));
    EXPECT_EQ(collectChecks(in).at(4).detail, Lang::text("Check.TwitchLater"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.checks.hasChecks = true;
    in.checks.twitchLive = in.checks.vodsOn = 0;
    EXPECT_EQ(collectChecks(in).at(5).detail, Lang::text("Check.VodsFix"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, RenderedListEscapesWhatCameFromOutside) {
    CheckInputs in = allGood();
    in.captured = QStringLiteral("<img src=x><b>evil</b>.exe");
    const QString html = renderChecks(collectChecks(in));
    EXPECT_FALSE(html.contains(QStringLiteral("<img")));
    EXPECT_FALSE(html.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;img src=x&gt;&lt;b&gt;evil&lt;/b&gt;.exe")));
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), 6);
    const QString rtl(10000, QChar(0x05D0));
    EXPECT_TRUE(renderChecks({{QStringLiteral("warn"), rtl, QString(), false}}).contains(rtl));
}

} // namespace

namespace {

using DockCheckInputs = PanelTest;

// What the dock hands the checks: OBS's output state, the engine's reader
// (no source yet here) and the status model.
TEST_F(DockCheckInputs, TakenFromObsTheReaderAndTheStatus) {
    setCheckInputsAdjusterForTesting({});
    output.streaming = true;
    apply(R"({"checks":{"twitch_live":true,"vods_on":false},"plugin":{"min":"0.4"}})");
    const CheckInputs in = checkInputs(*view);
    EXPECT_TRUE(in.streaming);
    EXPECT_FALSE(in.sourceChosen);
    EXPECT_TRUE(in.onStream); // not described yet: not known to be off stream
    EXPECT_EQ(in.hudSeenAt, 0);
    EXPECT_EQ(in.checks.twitchLive, 1);
    EXPECT_EQ(in.plugin.minimum, QStringLiteral("0.4"));
    EXPECT_EQ(readyCheck(collectChecks(in)).failure,
              Lang::text("Check.NotYet").arg(Lang::text("Check.Capture"), Lang::text("Check.CaptureAdd")));
}

} // namespace
