#include "dock/stream-checks.h"

#include "dock_fixture.h"
#include "plugin/lang.h"

#include <gtest/gtest.h>

namespace {

constexpr qint64 kNow = 1700000000000;

// Everything fine: streaming a game capture of the game, HUD seen just now.
CheckInputs allGood() {
    CheckInputs in;
    in.streaming = true;
    in.sourceChosen = true;
    in.sourceType = QStringLiteral("game_capture");
    in.captured = QStringLiteral("Game.exe");
    in.onStream = true;
    in.hudSeenAt = kNow - 1000;
    in.now = kNow;
    in.checks.hasChecks = true;
    in.checks.twitchLive = 1;
    in.checks.vodsOn = 1;
    return in;
}

CheckItem itemAt(const CheckInputs& in, int i) {
    return collectChecks(in).at(i);
}

class CheckList : public ::testing::Test {
protected:
    void SetUp() override { useLanguage(QStringLiteral("en")); }
};

TEST_F(CheckList, AllFineGivesSixOkItemsInOrderAndReady) {
    const QList<CheckItem> items = collectChecks(allGood());
    ASSERT_EQ(items.size(), 6);
    const char* titles[] = {"Check.Streaming", "Check.Capture",    "Check.Money",
                            "Check.Plugin",    "Check.TwitchLive", "Check.Vods"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(items[i].state, QStringLiteral("ok")) << i;
        EXPECT_EQ(items[i].title, Lang::text(titles[i])) << i;
        EXPECT_TRUE(items[i].detail.isEmpty()) << i;
        EXPECT_EQ(items[i].blocking, i < 4) << i;
    }
    EXPECT_TRUE(readyCheck(items).ok);
}

TEST_F(CheckList, StreamItemFromObsAndFromTheService) {
    CheckInputs in = allGood();
    in.onStream = false;
    CheckItem stream = itemAt(in, 0);
    EXPECT_EQ(stream.state, QStringLiteral("bad"));
    EXPECT_EQ(stream.title, Lang::text("Check.GameOnStream"));
    EXPECT_EQ(stream.detail, Lang::text("Check.GameOnStreamFix"));

    // Not streaming in OBS, but the service sees the channel live: either way it says so.
    in = allGood();
    in.streaming = false;
    in.checks.twitchLive = -1;
    in.stream.hasStream = true;
    in.stream.twitchLive = 1;
    stream = itemAt(in, 0);
    EXPECT_EQ(stream.state, QStringLiteral("ok"));
    EXPECT_EQ(stream.title, Lang::text("Check.StreamingTwitch"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.stream = StreamInfo{};
    in.checks.twitchLive = 1;
    EXPECT_EQ(itemAt(in, 0).title, Lang::text("Check.StreamingTwitch"));

    // A stream object that is there but not live, and nothing else.
    in.checks.twitchLive = 0;
    in.stream.hasStream = true;
    in.stream.twitchLive = 0;
    stream = itemAt(in, 0);
    EXPECT_EQ(stream.state, QStringLiteral("bad"));
    EXPECT_EQ(stream.title, Lang::text("Check.Streaming"));
    EXPECT_EQ(stream.detail, Lang::text("Check.StreamingFix"));
    EXPECT_FALSE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, CaptureItemByTypeAndTarget) {
    CheckInputs in = allGood();
    in.captured = QStringLiteral("C:\\Games\\GAME.EXE");
    EXPECT_EQ(itemAt(in, 1).state, QStringLiteral("ok"));
    in.sourceType = QStringLiteral("window_capture");
    in.captured = QStringLiteral("[game.exe]: Match");
    EXPECT_EQ(itemAt(in, 1).state, QStringLiteral("ok"));

    in.captured = QStringLiteral("notepad.exe");
    CheckItem capture = itemAt(in, 1);
    EXPECT_EQ(capture.state, QStringLiteral("bad"));
    EXPECT_TRUE(capture.detail.contains(QStringLiteral("notepad.exe")));
    EXPECT_EQ(capture.detail, Lang::text("Check.CaptureOther").arg(QStringLiteral("notepad.exe")));
    in.captured.clear();
    EXPECT_EQ(itemAt(in, 1).detail, Lang::text("Check.CapturePoint"));

    // A display capture is only advice and never blocks.
    in.sourceType = QStringLiteral("monitor_capture");
    capture = itemAt(in, 1);
    EXPECT_EQ(capture.state, QStringLiteral("warn"));
    EXPECT_EQ(capture.detail, Lang::text("Check.CaptureScreen"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);

    in.sourceChosen = false;
    capture = itemAt(in, 1);
    EXPECT_EQ(capture.state, QStringLiteral("bad"));
    EXPECT_EQ(capture.detail, Lang::text("Check.CaptureAdd"));
}

TEST_F(CheckList, MoneyNeedsTheHudSeenWithinTheLastMinute) {
    CheckInputs in = allGood();
    in.hudSeenAt = kNow - 59999;
    EXPECT_EQ(itemAt(in, 2).state, QStringLiteral("ok"));
    in.hudSeenAt = kNow - 61000;
    EXPECT_EQ(itemAt(in, 2).state, QStringLiteral("bad"));
    const ReadyVerdict verdict = readyCheck(collectChecks(in));
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.failure,
              Lang::text("Check.NotYet").arg(Lang::text("Check.Money"), Lang::text("Check.MoneyFix")));
    in.hudSeenAt = 0;
    EXPECT_EQ(itemAt(in, 2).state, QStringLiteral("bad"));
    // A sighting "in the future" (the clock was set back) proves nothing.
    in.hudSeenAt = kNow + 30000;
    EXPECT_EQ(itemAt(in, 2).state, QStringLiteral("bad"));
}

TEST_F(CheckList, PluginVersionsCompareAsNumbers) {
    CheckInputs in = allGood();
    in.plugin.minimum = QStringLiteral("0.3");
    EXPECT_EQ(itemAt(in, 3).state, QStringLiteral("ok"));
    in.plugin.minimum = QStringLiteral("0.10");
    const CheckItem plugin = itemAt(in, 3);
    EXPECT_EQ(plugin.state, QStringLiteral("bad"));
    EXPECT_EQ(plugin.detail, Lang::text("Check.PluginUpdate").arg(QStringLiteral("0.10")));
    EXPECT_FALSE(readyCheck(collectChecks(in)).ok);

    in.plugin.minimum = QStringLiteral("0.2.9");
    in.plugin.latest = QStringLiteral("0.3.1");
    EXPECT_EQ(itemAt(in, 3).state, QStringLiteral("warn"));
    EXPECT_EQ(itemAt(in, 3).detail, Lang::text("Check.PluginNewer").arg(QStringLiteral("0.3.1")));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, TwitchAdviceNeverBlocks) {
    CheckInputs in = allGood();
    in.checks = StreamChecks{};
    EXPECT_EQ(itemAt(in, 4).state, QStringLiteral("warn"));
    EXPECT_EQ(itemAt(in, 4).detail, Lang::text("Check.TwitchLater"));
    EXPECT_EQ(itemAt(in, 5).detail, Lang::text("Check.VodsLater"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
    in.checks.hasChecks = true;
    in.checks.twitchLive = 0;
    in.checks.vodsOn = 0;
    EXPECT_EQ(itemAt(in, 4).detail, Lang::text("Check.TwitchOffline"));
    EXPECT_EQ(itemAt(in, 5).detail, Lang::text("Check.VodsFix"));
    EXPECT_TRUE(readyCheck(collectChecks(in)).ok);
}

TEST_F(CheckList, TheFirstBlockingFailureIsNamed) {
    CheckInputs in = allGood();
    in.sourceChosen = false;
    in.hudSeenAt = 0;
    const ReadyVerdict verdict = readyCheck(collectChecks(in));
    EXPECT_FALSE(verdict.ok);
    EXPECT_EQ(verdict.failure,
              Lang::text("Check.NotYet").arg(Lang::text("Check.Capture"), Lang::text("Check.CaptureAdd")));
}

TEST_F(CheckList, RenderedListEscapesWhatCameFromOutside) {
    CheckInputs in = allGood();
    in.captured = QStringLiteral("<img src=x onerror=1><b>evil</b>.exe");
    const QString html = renderChecks(collectChecks(in));
    EXPECT_FALSE(html.contains(QStringLiteral("<img")));
    EXPECT_FALSE(html.contains(QStringLiteral("<b>")));
    EXPECT_TRUE(html.contains(QStringLiteral("&lt;img src=x onerror=1&gt;&lt;b&gt;evil&lt;/b&gt;.exe")));
    EXPECT_TRUE(html.startsWith(QStringLiteral("<table cellspacing='0' cellpadding='1'>")));
    EXPECT_TRUE(html.endsWith(QStringLiteral("</table>")));
    EXPECT_EQ(html.count(QStringLiteral("<tr>")), 6);
    EXPECT_TRUE(html.contains(QStringLiteral("color:#D0645A;font-weight:700;padding-right:6px'>&#10006;")));
    EXPECT_TRUE(html.contains(QStringLiteral("color:#5FB36B;font-weight:700;padding-right:6px'>&#10004;")));

    const QList<CheckItem> odd{{QStringLiteral("warn"), QString(10000, QChar(0x05D0)), QString(), false}};
    const QString rendered = renderChecks(odd);
    EXPECT_TRUE(rendered.contains(QStringLiteral("&#9888;")));
    EXPECT_TRUE(rendered.contains(QString(10000, QChar(0x05D0))));
    EXPECT_FALSE(rendered.contains(QStringLiteral("<br>")));
}

TEST_F(CheckList, TextsFollowTheModuleLanguage) {
    useLanguage(QStringLiteral("de"));
    CheckInputs in = allGood();
    in.hudSeenAt = 0;
    const ReadyVerdict verdict = readyCheck(collectChecks(in));
    EXPECT_NE(Lang::text("Check.Money"), QStringLiteral("Cash HUD read"));
    EXPECT_EQ(verdict.failure,
              Lang::text("Check.NotYet").arg(Lang::text("Check.Money"), Lang::text("Check.MoneyFix")));
    useLanguage(QStringLiteral("en"));
}

} // namespace
