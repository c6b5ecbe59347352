// The engine's pass rules without OBS: regions and rates, the HUD tracker,
// the combat trackers' frame-size rule and the log texts.

#include "engine/event-text.h"
#include "engine/hud-tracker.h"
#include "engine/reader-log.h"
#include "engine/regions.h"
#include "engine/trackers.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdint>

#include <gtest/gtest.h>

namespace {

using reading::AuxReader;

hud::HudReading balanceRead(std::int64_t balance, float conf = 0.95f) {
    hud::HudReading r;
    r.found = true;
    r.lineHeight = 27.0f;
    r.balanceCertain = true;
    r.balance = balance;
    r.balanceConfidence = conf;
    return r;
}

hud::HudLine line(const std::string& text, int top, std::int64_t figure = -1) {
    hud::HudLine l;
    l.text = text;
    l.top = top;
    if (figure >= 0) {
        l.hasFigure = true;
        l.figure = figure;
    }
    return l;
}

std::vector<GameEvent> ofKind(const std::vector<GameEvent>& all, EventKind kind) {
    std::vector<GameEvent> out;
    for (const GameEvent& e : all)
        if (e.kind == kind)
            out.push_back(e);
    return out;
}

TEST(Regions, HudAndAuxiliaryRegionsFollowTheCroppedPicture) {
    reading::Geometry g{1920, 1080, {}};
    reading::Region r;
    ASSERT_TRUE(reading::hudRegion(g, r));
    EXPECT_DOUBLE_EQ(r.w, 0.42 * 1080);
    EXPECT_DOUBLE_EQ(r.x, 1920 - 0.42 * 1080);
    EXPECT_DOUBLE_EQ(r.h, 0.22 * 1080);

    // A crop moves every region by its left and top and scales by its height.
    reading::Geometry cropped{2000, 1200, {40, 60, 40, 60}};
    ASSERT_TRUE(reading::hudRegion(cropped, r));
    EXPECT_DOUBLE_EQ(r.x, 40 + 1920 - 0.42 * 1080);
    EXPECT_DOUBLE_EQ(r.y, 60);
    ASSERT_TRUE(reading::auxRegion(AuxReader::Feed, cropped, r));
    EXPECT_DOUBLE_EQ(r.x, 40);
    EXPECT_DOUBLE_EQ(r.y, 60 + 0.44 * 1080);
    EXPECT_EQ(reading::auxOutputWidth(AuxReader::Feed, r, cropped),
              static_cast<int>(std::lround(0.42 * 2160)));
    ASSERT_TRUE(reading::auxRegion(AuxReader::Plate, cropped, r));
    EXPECT_DOUBLE_EQ(r.x + r.w, 40 + 1920 - 0.01 * 1080);

    // A picture narrower than the HUD is wide: the HUD takes all of it, a
    // right-anchored region is cut at the left edge.
    reading::Geometry narrow{400, 1200, {}};
    ASSERT_TRUE(reading::hudRegion(narrow, r));
    EXPECT_DOUBLE_EQ(r.x, 0);
    EXPECT_DOUBLE_EQ(r.w, 400);
    ASSERT_TRUE(reading::auxRegion(AuxReader::Plate, narrow, r));
    EXPECT_DOUBLE_EQ(r.x, 0);
    EXPECT_DOUBLE_EQ(r.w, 400 - 0.01 * 1200);

    // Too small, or cropped away: nothing is read.
    EXPECT_FALSE(reading::hudRegion({319, 1080, {}}, r));
    EXPECT_FALSE(reading::hudRegion({1920, 1080, {0, 0, 1700, 0}}, r));
    EXPECT_FALSE(reading::hudRegion({1920, 1080, {0, 900, 0, 0}}, r));
    EXPECT_FALSE(reading::hudRegion({0, 0, {}}, r));
    // Kill feed and plate need 1000 lines; the damage log does not.
    EXPECT_FALSE(reading::auxRegion(AuxReader::Feed, {1280, 720, {}}, r));
    EXPECT_FALSE(reading::auxRegion(AuxReader::Plate, {1280, 720, {}}, r));
    EXPECT_TRUE(reading::auxRegion(AuxReader::Down, {1280, 720, {}}, r));
}

TEST(Regions, ReadersRunAtTheirRatesSlowedByTheDivisor) {
    reading::AuxSchedule s;
    const reading::Geometry g{1920, 1080, {}};
    std::int64_t t = 1'000'000;
    reading::AuxDue d = s.due(t, g, false);
    EXPECT_TRUE(d.feed && d.down && d.plate && d.fullScan);
    d = s.due(t + 329, g, false);
    EXPECT_FALSE(d.any());
    d = s.due(t + 330, g, false);
    EXPECT_TRUE(d.feed && d.down);
    EXPECT_FALSE(d.plate || d.fullScan);
    d = s.due(t + 1000, g, true); // a locked damage log needs no full scan
    EXPECT_TRUE(d.plate);
    EXPECT_FALSE(d.fullScan);
    d = s.due(t + 2000, g, false);
    EXPECT_TRUE(d.fullScan);

    // Slow passes: the average follows at 0.1 a pass and picks 2, then 4.
    // The first, cold pass does not count.
    EXPECT_FALSE(s.notePassTime(500));
    EXPECT_EQ(s.divisor(), 1);
    EXPECT_FALSE(s.notePassTime(20));
    EXPECT_EQ(s.divisor(), 1);
    EXPECT_TRUE(s.notePassTime(20 + 10 * 10)); // 0.9*20 + 0.1*120 = 30
    EXPECT_EQ(s.divisor(), 2);
    for (int i = 0; i < 40; ++i)
        s.notePassTime(80);
    EXPECT_EQ(s.divisor(), 4);
    t += 10'000;
    s.due(t, g, true);
    EXPECT_FALSE(s.due(t + 330 * 3, g, true).feed);
    EXPECT_TRUE(s.due(t + 330 * 4, g, true).feed);
    // Below 1000 lines only the damage log runs.
    reading::AuxSchedule low;
    d = low.due(t, {1280, 720, {}}, false);
    EXPECT_TRUE(d.down);
    EXPECT_FALSE(d.feed || d.plate);
}

TEST(HudTracker, ABalanceCountsOnceRepeatedOver300MsAndBeatsWhileShown) {
    reading::HudTracker h;
    std::int64_t lid = 1;
    std::vector<GameEvent> out;
    const std::int64_t t0 = 5'000'000;
    h.onRead(t0, balanceRead(1200, 0.97f), lid, out);
    h.onRead(t0 + 250, balanceRead(1200, 0.91f), lid, out);
    EXPECT_TRUE(out.empty()); // twice, but only 250 ms apart
    h.onRead(t0 + 300, balanceRead(1200, 0.93f), lid, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, EventKind::Balance);
    EXPECT_EQ(out[0].t, t0); // the time of the first read
    EXPECT_EQ(out[0].value, 1200);
    EXPECT_FLOAT_EQ(out[0].conf, 0.91f);
    EXPECT_FALSE(out[0].heartbeat);

    // Kept on screen: a heartbeat every 10 s.
    out.clear();
    std::int64_t t = t0 + 300;
    for (; t <= t0 + 300 + 20'000; t += 200)
        h.onRead(t, balanceRead(1200), lid, out);
    EXPECT_EQ(ofKind(out, EventKind::Balance).size(), 2u);
    for (const GameEvent& e : out)
        EXPECT_TRUE(e.heartbeat);

    // Gone: heartbeats stop once the last confirmation is 3 s old.
    out.clear();
    hud::HudReading none;
    for (std::int64_t u = t; u < t + 30'000; u += 200)
        h.onRead(u, none, lid, out);
    EXPECT_TRUE(out.empty());
    EXPECT_LT(h.ratio, 0.01);

    // A different value after the gap must repeat again before it counts.
    h.onRead(t + 31'000, balanceRead(900), lid, out);
    EXPECT_TRUE(out.empty());
    h.onRead(t + 31'400, balanceRead(900), lid, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].value, 900);
}

TEST(HudTracker, AChangeOfZeroIsReportedOnceThenOnlyWhenItChanges) {
    reading::HudTracker h;
    std::int64_t lid = 1;
    std::vector<GameEvent> out;
    auto changeRead = [](std::int64_t v) {
        hud::HudReading r;
        r.changeCertain = true;
        r.change = v;
        r.changeConfidence = 0.9f;
        return r;
    };
    for (int i = 0; i < 10; ++i)
        h.onRead(1000 + i * 200, changeRead(0), lid, out);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].kind, EventKind::MatchChange);
    EXPECT_EQ(out[0].value, 0);
    for (int i = 0; i < 3; ++i)
        h.onRead(4000 + i * 200, changeRead(-250), lid, out);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[1].value, -250);
}

TEST(HudTracker, RewardLinesKeepTheirIdAndAreReportedOnce) {
    reading::HudTracker h;
    std::int64_t lid = 700;
    std::vector<GameEvent> out;
    auto pass = [&](std::int64_t t, std::vector<hud::HudLine> lines) {
        hud::HudReading r;
        r.lines = std::move(lines);
        h.onRead(t, r, lid, out);
    };
    // A figure read twice alike confirms the line; a third read adds nothing.
    pass(0, {line("KILL", 100, 100)});
    pass(200, {line("KILL", 104, 100)});
    pass(400, {line("KILL", 108, 100)});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].text, "KILL");
    EXPECT_TRUE(out[0].hasAmount);
    EXPECT_EQ(out[0].amount, 100);
    EXPECT_EQ(out[0].lineId, 700);
    EXPECT_EQ(out[0].t, 0);
    EXPECT_EQ(lid, 701);

    // A line whose figure flips never confirms it, and is reported by its
    // text alone when it fades.
    out.clear();
    pass(10'000, {line("ASSIST", 200, 50)});
    pass(10'200, {line("ASSIST", 200, 80)});
    pass(10'400, {line("ASSIST", 200, 50)});
    EXPECT_TRUE(out.empty());
    pass(14'000, {});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].text, "ASSIST");
    EXPECT_FALSE(out[0].hasAmount);
    EXPECT_EQ(out[0].lineId, 701);
    EXPECT_TRUE(h.lines.empty());
}

TEST(HudTracker, LinesMatchWithin22PixelsAndTextsWithinTwoEdits) {
    reading::HudTracker h;
    std::int64_t lid = 1;
    std::vector<GameEvent> out;
    hud::HudReading r;
    r.lines = {line("KILL", 100)};
    h.onRead(0, r, lid, out);
    r.lines = {line("KILL", 122)};
    h.onRead(100, r, lid, out);
    EXPECT_EQ(h.lines.size(), 1u); // 22 pixels: the same line
    r.lines = {line("KILL", 122), line("KILL", 145)};
    h.onRead(200, r, lid, out);
    EXPECT_EQ(h.lines.size(), 2u); // 23 pixels: a new one
    r.lines = {line("KILL", 145)};
    r.lines = {line("HEADSHOT", 145)};
    h.onRead(300, r, lid, out);
    EXPECT_EQ(h.lines.size(), 3u); // another text at the same place
    r.lines = {line("KILI", 145)};
    h.onRead(400, r, lid, out);
    EXPECT_EQ(h.lines.size(), 3u); // a misread letter stays on its line

    EXPECT_EQ(reading::editDistance("KILL", "KILL"), 0);
    EXPECT_EQ(reading::editDistance("KILL", "SKILL"), 1);
    EXPECT_EQ(reading::editDistance("HEADSHOT", "HEADSH0T"), 1);
    EXPECT_EQ(reading::editDistance("", "ABC"), 3);

    reading::TrackedLine t;
    t.textVotes = {{"KIL", 2}, {"KILL", 2}, {"KILX", 2}, {"AAAA", 1}};
    EXPECT_EQ(t.bestText(), "KILL"); // equal votes: longer, then byte order
}

TEST(HudTracker, LinesMovingUpAPitchWhenTheTopOneLeavesAreNotReportedAgain) {
    reading::HudTracker h;
    std::int64_t lid = 1;
    std::vector<GameEvent> out;
    auto pass = [&](std::int64_t t, std::vector<hud::HudLine> lines) {
        hud::HudReading r;
        r.found = true;
        r.lineHeight = 27.0f;
        r.lines = std::move(lines);
        h.onRead(t, r, lid, out);
    };
    for (int i = 0; i < 3; ++i)
        pass(i * 200, {line("HOT ZONE PRESENCE", 100, 50), line("KILL CONFIRMED", 138, 100)});
    ASSERT_EQ(out.size(), 2u);
    // The top line leaves; the other moves up 38 pixels in one step.
    for (int i = 3; i < 30; ++i)
        pass(i * 200, {line("KILL CONFIRMED", 100, 100)});
    EXPECT_EQ(out.size(), 2u);
    // Another line at that distance with another figure is a new reward.
    pass(6000, {line("KILL CONFIRMED", 100, 100), line("KILL CONFIRMED", 138, 250)});
    pass(6200, {line("KILL CONFIRMED", 100, 100), line("KILL CONFIRMED", 138, 250)});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].amount, 250);
}

TEST(Trackers, BelowTheLinesThePlateNeedsADownEndsWhenTheLogGoes) {
    reading::Trackers t;
    std::vector<hud::CombatEvent> out;
    const reading::Geometry low{1280, 720, {}};
    auto down = [&](std::int64_t now, bool found) {
        t.due(now, low);
        hud::DownRead r;
        r.found = found;
        r.score = found ? 0.9f : 0.1f;
        t.onDown(now, r, out);
    };
    std::int64_t now = 0;
    for (int i = 0; i < 5; ++i, now += 330)
        down(now, true);
    for (int i = 0; i < 10; ++i, now += 330)
        down(now, false);
    // A second down 10 s later, long before the minute a pending up waits.
    for (int i = 0; i < 5; ++i, now += 330)
        down(now, true);
    int downs = 0;
    for (const hud::CombatEvent& e : out)
        downs += e.kind == hud::CombatEvent::Down ? 1 : 0;
    EXPECT_EQ(downs, 2);
}

TEST(EventText, MoneyEventsAndStatusLines) {
    EXPECT_EQ(reading::moneyText(0), "$0");
    EXPECT_EQ(reading::moneyText(999), "$999");
    EXPECT_EQ(reading::moneyText(1000), "$1,000");
    EXPECT_EQ(reading::moneyText(-1234567), "-$1,234,567");
    EXPECT_EQ(reading::moneyText(INT64_MIN), "-$9,223,372,036,854,775,808");

    GameEvent e;
    e.kind = EventKind::Balance;
    e.value = 12345;
    e.conf = 0.973f;
    EXPECT_EQ(reading::eventText(e), "balance $12,345 (c0.97)");
    e.heartbeat = true;
    EXPECT_EQ(reading::eventText(e), "");
    e.kind = EventKind::MatchChange;
    e.value = -250;
    EXPECT_EQ(reading::eventText(e), "match change -$250");
    e = {};
    e.kind = EventKind::FeedLine;
    e.text = "KILL";
    e.hasAmount = true;
    e.amount = 100;
    e.lineId = 7;
    EXPECT_EQ(reading::eventText(e), "line [KILL +$100] id 7");
    e.text.clear();
    EXPECT_EQ(reading::eventText(e), "line [+$100] id 7");
    e.hasAmount = false;
    e.hasXp = true;
    e.xp = 50;
    e.text = "ASSIST";
    EXPECT_EQ(reading::eventText(e), "line [ASSIST 50XP] id 7");
    e = {};
    e.kind = EventKind::Kill;
    e.dist = 42;
    e.weapon = "M4";
    e.wtype = "rifle";
    e.headshot = true;
    e.conf = 0.5f;
    EXPECT_EQ(reading::eventText(e), "kill 42 m weapon M4 (rifle) headshot c0.50");
    e.kind = EventKind::Up;
    EXPECT_EQ(reading::eventText(e), "up (revived)");

    GameEvent s;
    s.kind = EventKind::Status;
    s.hud = true;
    s.src = "Game Capture";
    s.resWidth = 1920;
    s.resHeight = 1080;
    s.type = "game_capture";
    s.locked = true;
    s.changed = true;
    s.fps = 4.96;
    s.okRate = 0.876;
    EXPECT_EQ(reading::statusText(s),
              "hud=1 src='Game Capture' 1920x1080 game_capture exe=- on_stream=0 locked=1 "
              "CHANGED fps=5.0 ok=0.88 streaming=0");
    // A long name is written whole.
    s.src = std::string(1000, 'x');
    EXPECT_NE(reading::statusText(s).find(s.src + "'"), std::string::npos);
}

TEST(ReaderLog, LinesCarryTheTimeAndATagPaddedToSix) {
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
    const QString read = ReaderLog::formatLine(QStringLiteral("READ"), QStringLiteral("bal -"));
    EXPECT_TRUE(stamp.match(read).hasMatch()) << read.toStdString();
    EXPECT_TRUE(read.endsWith(QStringLiteral(" READ   bal -\n")));
    EXPECT_TRUE(ReaderLog::formatLine(QStringLiteral("SOURCE"), QStringLiteral("x")).endsWith(" SOURCE x\n"));
    EXPECT_TRUE(
        ReaderLog::formatLine(QStringLiteral("SAMPLES"), QStringLiteral("x")).endsWith(" SAMPLES x\n"));
}

} // namespace
