#include "hud/feed/track.h"
#include "down_reads.h"

#include <gtest/gtest.h>

namespace {

using Side = hud::PlayerSide;
using hud::KillKind;

// A row of the same shape every pass unless `shape` says otherwise; distance
// -1 means none was read.
hud::FeedRow row(int y, Side side, int distance = -1, float distanceConfidence = 0.9f, int shape = 0) {
    hud::FeedRow r;
    r.y = y;
    r.x0 = 20;
    r.x1 = 400;
    r.cap = 20.0;
    r.side = side;
    // Both names found, as in every clear read.
    r.killer.n = 6;
    r.victim.n = 7;
    r.bracketX0 = r.bracketX1 = 0;
    if (distance >= 0) {
        r.hasDistance = true;
        r.distance = distance;
        r.distanceConfidence = distanceConfidence;
        r.bracketX0 = 300;
        r.bracketX1 = 360;
    }
    r.signature.assign(hud::kRowSignatureLength, 0.0f);
    r.signature[static_cast<std::size_t>(shape)] = 1.0f;
    return r;
}

// Feeds one pass and returns the events it made.
std::vector<hud::KillEvent> pass(hud::FeedTracker& tracker, std::int64_t now,
                                 std::vector<hud::FeedRow> rows) {
    hud::FeedRead read;
    read.rows = std::move(rows);
    std::vector<hud::KillEvent> events;
    hud::trackFeed(tracker, now, read, events);
    return events;
}

// The same rows at each of the times; the events of all those passes.
std::vector<hud::KillEvent> passes(hud::FeedTracker& t, std::vector<std::int64_t> times,
                                   const std::vector<hud::FeedRow>& rows) {
    std::vector<hud::KillEvent> events;
    for (std::int64_t now : times)
        for (auto& e : pass(t, now, rows))
            events.push_back(e);
    return events;
}

// A row read three times over 500 ms.
std::vector<hud::KillEvent> clearKill(hud::FeedTracker& t, std::int64_t at, const hud::FeedRow& r) {
    return passes(t, {at, at + 250, at + 500}, {r});
}

} // namespace

TEST(FeedTracker, VotesDecideOnceTheRowIsOldEnough) {
    hud::FeedTracker t;
    EXPECT_TRUE(pass(t, 0, {row(100, Side::Killer)}).empty());
    EXPECT_TRUE(pass(t, 100, {row(100, Side::Killer)}).empty());
    EXPECT_TRUE(pass(t, 200, {row(100, Side::Killer)}).empty()); // three votes, but 200 ms young
    hud::FeedRow other = row(100, Side::Neither, 50, 0.5f);      // bracketed, so it counts as a read
    auto events = pass(t, 500, {other});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KillKind::Kill);
    EXPECT_EQ(events[0].time, 0);
    EXPECT_EQ(events[0].distance, -1);
    EXPECT_FLOAT_EQ(events[0].share, 0.75f);
    EXPECT_EQ(events[0].text, "4 reads: killer 3 victim 0 self 0 other 1, 0 distances, 0 icons");
    EXPECT_TRUE(pass(t, 600, {row(100, Side::Killer)}).empty()); // judged once only
    ASSERT_EQ(t.tracks.size(), 1u);
    EXPECT_TRUE(t.tracks[0].done);

    // Reads of one row within 500 ms, judged when it is lost.
    auto eventsOf = [](std::vector<Side> sides) {
        hud::FeedTracker split;
        int i = 0;
        for (Side side : sides)
            pass(split, 40 * i++,
                 {side != Side::Neither ? row(100, side) : row(100, Side::Neither, 50, 0.5f)});
        const std::size_t made = pass(split, 3000, {}).size();
        EXPECT_TRUE(split.tracks.size() == 1u && split.tracks[0].done);
        return made;
    };
    EXPECT_EQ(eventsOf({Side::Killer, Side::Victim, Side::Killer, Side::Victim, Side::Killer}),
              0u); // 30 < 35
    EXPECT_EQ(eventsOf({Side::Killer, Side::Neither, Side::Killer, Side::Neither, Side::Killer}),
              0u); // 30 < 35
    EXPECT_EQ(eventsOf({Side::Killer, Side::Killer, Side::Killer, Side::Killer, Side::Killer, Side::Killer,
                        Side::Killer, Side::Victim, Side::Victim}),
              0u); // 2 dissenting > 7 / 4
    EXPECT_EQ(eventsOf({Side::Killer, Side::Killer, Side::Killer, Side::Killer, Side::Killer, Side::Killer,
                        Side::Killer, Side::Killer, Side::Victim, Side::Victim}),
              1u);

    // Fewer than three votes: dropped without event once lost; plain rows
    // without a side or a bracket are never tracked.
    hud::FeedTracker few;
    pass(few, 0, {row(100, Side::Killer), row(200, Side::Neither)});
    pass(few, 100, {row(100, Side::Killer)});
    EXPECT_EQ(few.tracks.size(), 1u);
    EXPECT_TRUE(pass(few, 2700, {}).empty());
    EXPECT_TRUE(few.tracks.empty());
}

TEST(FeedTracker, AnUnclearRowIsJudgedAgainWhileOnScreen) {
    // Killer 3 and not-me 2 when first old enough (30 < 35): no verdict yet;
    // the later reads say killer, so the row becomes a kill while shown (5
    // of 7), once.
    hud::FeedTracker t;
    const hud::FeedRow other = row(100, Side::Neither, 50, 0.5f);
    std::vector<hud::KillEvent> events;
    int i = 0;
    for (Side side : {Side::Killer, Side::Neither, Side::Killer, Side::Neither, Side::Killer})
        for (auto& e : pass(t, 125 * i++, {side != Side::Neither ? row(100, side) : other}))
            events.push_back(e);
    ASSERT_EQ(t.tracks.size(), 1u);
    EXPECT_TRUE(events.empty());
    EXPECT_FALSE(t.tracks[0].done);
    for (int k = 0; k < 3; ++k)
        for (auto& e : pass(t, 125 * i++, {row(100, Side::Killer)}))
            events.push_back(e);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KillKind::Kill);
    EXPECT_EQ(events[0].time, 0);
    EXPECT_EQ(events[0].text, "7 reads: killer 5 victim 0 self 0 other 2, 0 distances, 0 icons");
    EXPECT_TRUE(t.tracks[0].done);

    // A row that stays unclear until it leaves is judged once, then, without
    // an event; reads while it is shown change nothing before that.
    hud::FeedTracker split;
    i = 0;
    for (int round = 0; round < 4; ++round)
        for (Side side : {Side::Killer, Side::Victim})
            EXPECT_TRUE(pass(split, 200 * i++, {row(100, side)}).empty());
    ASSERT_EQ(split.tracks.size(), 1u);
    EXPECT_FALSE(split.tracks[0].done);
    EXPECT_TRUE(pass(split, 200 * i + 2500, {}).empty());
    ASSERT_EQ(split.tracks.size(), 1u);
    EXPECT_TRUE(split.tracks[0].done);
}

TEST(FeedTracker, RowsAreFollowedSlotBySlot) {
    hud::FeedTracker t;
    pass(t, 0, {row(100, Side::Killer)});
    pass(t, 100, {row(148, Side::Killer)}); // one slot down
    ASSERT_EQ(t.tracks.size(), 1u);
    EXPECT_EQ(t.tracks[0].reads, 2);
    pass(t, 200, {row(148 + 67, Side::Killer)}); // 1.4 slots
    EXPECT_EQ(t.tracks.size(), 2u);
    pass(t, 300, {row(100, Side::Killer)}); // upwards never continues a row
    EXPECT_EQ(t.tracks.size(), 3u);
    pass(t, 400, {row(100, Side::Killer, -1, 0.9f, 5)}); // same place, another shape
    EXPECT_EQ(t.tracks.size(), 4u);

    hud::FeedTracker d; // distances must agree; then shape does not matter
    pass(d, 0, {row(200, Side::Killer, 77)});
    pass(d, 100, {row(248, Side::Killer, 78)});
    EXPECT_EQ(d.tracks.size(), 2u);
    pass(d, 200, {row(296, Side::Killer, 78, 0.9f, 6)});
    EXPECT_EQ(d.tracks.size(), 2u);
    EXPECT_EQ(d.tracks[1].reads, 2);
}

TEST(FeedTracker, MajoritiesOfDistanceIconAndHeadshot) {
    auto judged = [](std::vector<hud::FeedRow> reads) {
        hud::FeedTracker t;
        std::int64_t now = 0;
        for (const auto& r : reads)
            pass(t, now += 100, {r});
        auto events = pass(t, now + 3000, {});
        return events.empty() ? hud::KillEvent{} : events[0];
    };
    auto r = [](int distance, const char* icon, bool headshot) {
        hud::FeedRow x = row(100, Side::Killer, distance, 0.7f); // 0.7: listed, but not used to match
        x.icon = icon;
        x.headshot = headshot;
        return x;
    };
    hud::KillEvent e = judged({r(120, "ak", true), r(120, "ak", false), r(85, "m4", true)});
    EXPECT_EQ(e.distance, 120);
    EXPECT_EQ(e.weapon, "ak");
    EXPECT_TRUE(e.headshot);
    EXPECT_EQ(e.text, "3 reads: killer 3 victim 0 self 0 other 0, 3 distances, 3 icons");
    e = judged({r(120, "ak", true), r(85, "m4", false), r(-1, "", false)});
    EXPECT_EQ(e.distance, -1);
    EXPECT_EQ(e.weapon, "");
    EXPECT_FALSE(e.headshot);
    e = judged({r(120, "", false), r(120, "", false), r(85, "", false), r(85, "", false)});
    EXPECT_EQ(e.distance, -1); // two of four is not more than half
    e = judged({r(40, "", false), r(40, "", false), r(40, "", false), r(40, "", false)});
    EXPECT_EQ(e.kind, KillKind::Kill);
    EXPECT_EQ(e.distance, 40);
}

TEST(FeedTracker, KindsAndSquadKills) {
    auto run = [](Side side, int squadReads = 3, int reads = 5) {
        hud::FeedTracker t;
        std::vector<hud::KillEvent> all;
        for (int i = 0; i < reads; ++i) {
            hud::FeedRow x = row(100, side);
            x.squadVictim = side == Side::Killer && i < squadReads;
            x.squadKiller = side != Side::Killer && i < squadReads;
            for (auto& e : pass(t, i * 100, {x}))
                all.push_back(e);
        }
        for (auto& e : pass(t, 3000, {}))
            all.push_back(e);
        return all;
    };
    EXPECT_TRUE(run(Side::Killer).empty());
    auto kills = run(Side::Killer, 2, 4); // half the reads is not the squad colour
    ASSERT_EQ(kills.size(), 1u);
    EXPECT_EQ(kills[0].kind, KillKind::Kill);
    EXPECT_FALSE(kills[0].squad);
    auto deaths = run(Side::Victim);
    ASSERT_EQ(deaths.size(), 1u);
    EXPECT_EQ(deaths[0].kind, KillKind::Death);
    EXPECT_TRUE(deaths[0].squad);
    auto selfKill = run(Side::Both, 0);
    ASSERT_EQ(selfKill.size(), 1u);
    EXPECT_EQ(selfKill[0].kind, KillKind::Death);
}

TEST(FeedTracker, TheSameEventIsReportedOnce) {
    // Re-read at the same place with another shape after the track was lost.
    hud::FeedTracker t;
    EXPECT_EQ(clearKill(t, 0, row(100, Side::Killer)).size(), 1u);
    EXPECT_TRUE(clearKill(t, 4000, row(105, Side::Killer, -1, 0.9f, 3)).empty());
    // Scrolled one slot down while unread for a second, shape changed.
    EXPECT_TRUE(clearKill(t, 5500, row(153, Side::Killer, -1, 0.9f, 7)).empty());
    // Long after, the same place is a new kill.
    EXPECT_EQ(clearKill(t, 20000, row(100, Side::Killer, -1, 0.9f, 9)).size(), 1u);

    // Two kills that show up together one slot apart are two kills.
    hud::FeedTracker pair;
    EXPECT_EQ(
        passes(pair, {0, 250, 500}, {row(100, Side::Killer), row(148, Side::Killer, -1, 0.9f, 2)}).size(),
        2u);

    // A row seen beside a reported one is another kill even when it is read
    // alone later.
    hud::FeedTracker beside;
    EXPECT_EQ(clearKill(beside, 0, row(100, Side::Killer)).size(), 1u);
    EXPECT_EQ(passes(beside, {500, 750, 1000}, {row(148, Side::Killer, -1, 0.9f, 2)}).size(), 1u);

    // A known distance identifies the event wherever the row is read again...
    hud::FeedTracker d;
    EXPECT_EQ(clearKill(d, 0, row(300, Side::Killer, 120)).size(), 1u);
    EXPECT_TRUE(clearKill(d, 3000, row(100, Side::Killer, 120)).empty());
    // One slot down after a short loss, but another distance: another kill.
    EXPECT_EQ(clearKill(d, 4000, row(148, Side::Killer, 85, 0.9f, 4)).size(), 1u);
    // ...unless two rows of that distance are on screen together.
    hud::FeedTracker two;
    EXPECT_EQ(clearKill(two, 0, row(300, Side::Killer, 120)).size(), 1u);
    EXPECT_EQ(
        passes(two, {1000, 1250, 1500}, {row(100, Side::Killer, 120), row(140, Side::Killer, 120)}).size(),
        2u);
    EXPECT_FALSE(two.tracks[0].duplicate);
    EXPECT_TRUE(two.tracks[1].duplicate);
    EXPECT_TRUE(two.tracks[2].duplicate);
}

TEST(FeedTracker, ARowJudgedWithoutItsDistanceStillTellsTheNextRowApart) {
    // A kill whose 41 read clearly only as the row slid in and as it left:
    // judged without a distance. The next kill takes the same top slot two
    // seconds after it is gone.
    auto afterA41 = [](const hud::FeedRow& next) {
        hud::FeedTracker t;
        std::vector<hud::KillEvent> events = pass(t, 0, {row(100, Side::Killer, 41)});
        std::vector<std::int64_t> times;
        for (std::int64_t now = 250; now <= 6000; now += 250)
            times.push_back(now);
        for (auto& e : passes(t, times, {row(100, Side::Killer)}))
            events.push_back(e);
        for (auto& e : pass(t, 6250, {row(100, Side::Killer, 41)}))
            events.push_back(e);
        EXPECT_EQ(events.size(), 1u);
        EXPECT_EQ(events.empty() ? 0 : events[0].distance, -1);
        return passes(t, {8250, 8500, 8750, 9000}, {next});
    };
    const std::vector<hud::KillEvent> next = afterA41(row(100, Side::Killer, 287, 0.9f, 5));
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].distance, 287);
    EXPECT_EQ(next[0].time, 8250);
    // The same row found again, with the figure it read or with none, is
    // still the kill already sent.
    EXPECT_TRUE(afterA41(row(100, Side::Killer, 41, 0.9f, 5)).empty());
    EXPECT_TRUE(afterA41(row(100, Side::Killer, -1, 0.9f, 5)).empty());
}

TEST(DownTracker, TwoHitsDownTwoMissesUp) {
    hud::DownTracker t;
    EXPECT_EQ(hud::trackDown(t, 0, downRead(0.9f)), hud::DownChange::None);
    EXPECT_EQ(hud::trackDown(t, 330, downRead(0.5f)), hud::DownChange::None); // not consecutive
    EXPECT_EQ(hud::trackDown(t, 660, downRead(0.85f)), hud::DownChange::None);
    EXPECT_EQ(hud::trackDown(t, 990, downRead(0.81f)), hud::DownChange::WentDown);
    EXPECT_TRUE(t.down);
    EXPECT_EQ(t.since, 660);

    // Within 3 s of a strong read 0.65 holds; the position must stay within 3 px.
    EXPECT_EQ(hud::trackDown(t, 1500, downRead(0.7f, 13.0f, 17.0f)), hud::DownChange::None);
    EXPECT_EQ(hud::trackDown(t, 2000, downRead(0.95f, 14.0f, 20.0f)), hud::DownChange::None); // moved: a miss
    EXPECT_EQ(t.misses, 1);
    EXPECT_EQ(hud::trackDown(t, 3900, downRead(0.66f)),
              hud::DownChange::None); // 2910 ms after the strong read
    EXPECT_EQ(t.misses, 0);
    EXPECT_EQ(hud::trackDown(t, 4100, downRead(0.79f)), hud::DownChange::None); // 3110 ms: needs 0.8 again
    EXPECT_EQ(t.misses, 1);
    EXPECT_EQ(hud::trackDown(t, 4400, downRead(0.9f)), hud::DownChange::None); // strong, refreshes
    EXPECT_EQ(hud::trackDown(t, 4700, downRead(0.6f)), hud::DownChange::None);
    EXPECT_EQ(hud::trackDown(t, 5000, downRead(0.0f)), hud::DownChange::Gone);
    EXPECT_FALSE(t.down);
    EXPECT_EQ(t.since, 5000);
}

// When the log goes, a feature of the scene may still match weakly a few
// pixels off its place, read after read; a frame of blur moves the match only
// once between strong reads.
TEST(DownTracker, WeakMatchOffThePlaceHoldsOnlyOnce) {
    auto wentDown = [&](hud::DownTracker& t) {
        EXPECT_EQ(hud::trackDown(t, 0, downRead(0.97f, 52.0f, 38.0f)), hud::DownChange::None);
        EXPECT_EQ(hud::trackDown(t, 400, downRead(0.97f, 52.0f, 38.0f)), hud::DownChange::WentDown);
    };
    {
        hud::DownTracker t;
        wentDown(t);
        EXPECT_EQ(hud::trackDown(t, 800, downRead(0.655f, 53.0f, 41.0f)), hud::DownChange::None);
        EXPECT_EQ(t.misses, 0);
        EXPECT_EQ(hud::trackDown(t, 1200, downRead(0.655f, 53.0f, 41.0f)), hud::DownChange::None);
        EXPECT_EQ(t.misses, 1);
        EXPECT_EQ(hud::trackDown(t, 1600, downRead(0.655f, 53.0f, 41.0f)), hud::DownChange::Gone);
        EXPECT_EQ(t.since, 1600);
    }
    {
        // A strong read between two blurred frames: each is one frame of blur.
        hud::DownTracker t;
        wentDown(t);
        EXPECT_EQ(hud::trackDown(t, 800, downRead(0.7f, 55.0f, 38.0f)), hud::DownChange::None);
        EXPECT_EQ(hud::trackDown(t, 1200, downRead(0.9f, 52.0f, 38.0f)), hud::DownChange::None);
        EXPECT_EQ(hud::trackDown(t, 1600, downRead(0.7f, 49.0f, 36.0f)), hud::DownChange::None);
        EXPECT_EQ(t.misses, 0);
    }
    {
        // A weak match on the header's own place keeps holding.
        hud::DownTracker t;
        wentDown(t);
        for (std::int64_t now = 800; now <= 3200; now += 400)
            EXPECT_EQ(hud::trackDown(t, now, downRead(0.7f, 53.0f, 37.0f)), hud::DownChange::None) << now;
        EXPECT_TRUE(t.down);
        EXPECT_EQ(t.misses, 0);
    }
}

TEST(FeedDetail, Texts) {
    hud::FeedRead feed;
    feed.note = "no feed rows";
    EXPECT_EQ(hud::feedDetail(feed, {}, {}),
              "killfeed 0 rows (no feed rows)\nplate line 0 read [] name []\ndown score 0.000\n");

    feed.note.clear();
    feed.rows.push_back(row(96, Side::Killer, 123));
    feed.rows[0].icon = "ak";
    feed.rows[0].headshot = true;
    feed.rows[0].squadVictim = true;
    feed.rows[0].text = "L n5";
    feed.rows.push_back(row(144, Side::Neither));
    feed.rows[1].squadKiller = true;
    feed.rows.push_back(row(192, Side::Both));
    hud::PlateRead plate;
    plate.found = true;
    plate.read = "AK 47";
    plate.name = "AK-47";
    plate.weapon = true;
    hud::DownRead down;
    down.score = 0.81259f;
    down.found = true;
    EXPECT_EQ(hud::feedDetail(feed, plate, down), "killfeed 3 rows\n"
                                                  "  y 96 x 20-400: me killer, squad victim dist 123 icon ak "
                                                  "headshot | L n5\n"
                                                  "  y 144 x 20-400: not me, squad killer dist - icon - | \n"
                                                  "  y 192 x 20-400: me both sides dist - icon - | \n"
                                                  "plate line 1 read [AK 47] name [AK-47] weapon\n"
                                                  "down score 0.813 FOUND\n");
}

TEST(FeedTracker, OneMisreadDistanceDoesNotSplitTheRow) {
    // 85 read as 58 once, with confidence: still one row, one kill at 85.
    hud::FeedTracker t;
    std::vector<hud::KillEvent> events;
    const int read[] = {85, 85, 58, 85, 85};
    for (int i = 0; i < 5; ++i)
        for (auto& e : pass(t, 250 * i, {row(100, Side::Killer, read[i])}))
            events.push_back(e);
    for (auto& e : pass(t, 5000, {}))
        events.push_back(e);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KillKind::Kill);
    EXPECT_EQ(events[0].time, 0);
    EXPECT_EQ(events[0].distance, 85);
    EXPECT_EQ(t.tracks.size(), 1u);

    // A new row of the same shape arriving at the top while the old one moves
    // down a slot keeps its own track: the old row claims its track first.
    hud::FeedTracker u;
    passes(u, {0, 250}, {row(100, Side::Killer, 85)});
    pass(u, 500, {row(100, Side::Victim, 40), row(148, Side::Killer, 85)});
    ASSERT_EQ(u.tracks.size(), 2u);
    EXPECT_EQ(u.tracks[0].killerVotes, 3);
    EXPECT_EQ(u.tracks[0].victimVotes, 0);
    EXPECT_EQ(u.tracks[1].victimVotes, 1);

    // A different shape at the same place is another row, not a misread.
    hud::FeedTracker v;
    passes(v, {0, 250}, {row(100, Side::Killer, 85)});
    pass(v, 500, {row(100, Side::Killer, 58, 0.9f, 7)});
    EXPECT_EQ(v.tracks.size(), 2u);
}

// The engine reads the feed at a quarter of its rate on a slow machine: a row
// on screen for under three seconds is then read only twice.
TEST(FeedTracker, TwoReadsCountWhenTheFeedIsReadAtAQuarterRate) {
    constexpr std::int64_t kQuarter = 1320;
    auto twoReadsAfter = [](std::vector<std::int64_t> emptyPasses, std::int64_t gap) {
        hud::FeedTracker t;
        std::vector<hud::KillEvent> events = passes(t, emptyPasses, {});
        const std::int64_t at = emptyPasses.back() + gap;
        for (auto& e : pass(t, at, {row(32, Side::Victim, 115)}))
            events.push_back(e);
        // Scrolled one slot down, then gone.
        for (auto& e : pass(t, at + gap, {row(32 + 48, Side::Victim, 115)}))
            events.push_back(e);
        for (auto& e : passes(t, {at + 2 * gap, at + 3 * gap, at + 4 * gap, at + 5 * gap}, {}))
            events.push_back(e);
        return events;
    };
    const auto slow = twoReadsAfter({0, kQuarter}, kQuarter);
    ASSERT_EQ(slow.size(), 1u);
    EXPECT_EQ(slow[0].kind, KillKind::Death);
    EXPECT_EQ(slow[0].distance, 115);
    // At the full rate two reads stay too few, and so across one long pause.
    EXPECT_TRUE(twoReadsAfter({0, 330, 660}, 330).empty());
    hud::FeedTracker paused;
    std::vector<hud::KillEvent> none = passes(paused, {0, 330}, {});
    pass(paused, 660, {row(32, Side::Victim, 115)});
    pass(paused, 2660, {row(32, Side::Victim, 115)});
    for (std::int64_t now = 2990; now < 7000; now += 330)
        for (auto& e : pass(paused, now, {}))
            none.push_back(e);
    EXPECT_TRUE(none.empty());

    // Two kills with the same weapon, eight seconds apart at different
    // distances, stay two kills at the slow rate.
    hud::FeedTracker t;
    std::vector<hud::KillEvent> events;
    std::int64_t now = 0;
    auto feed = [&](std::vector<hud::FeedRow> rows) {
        for (auto& e : pass(t, now, std::move(rows)))
            events.push_back(e);
        now += kQuarter;
    };
    feed({});
    feed({});
    for (int i = 0; i < 6; ++i)
        feed({row(32, Side::Killer, 308)});
    feed({row(32, Side::Neither), row(80, Side::Killer, 308)});
    feed({row(32, Side::Killer, 38), row(80, Side::Neither), row(128, Side::Killer, 308)});
    feed({row(80, Side::Killer, 38), row(128, Side::Neither)});
    for (int i = 0; i < 4; ++i)
        feed({});
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].distance, 308);
    EXPECT_EQ(events[1].distance, 38);
}

TEST(FeedTracker, ReadsThatLostANameDoNotOutvoteThoseThatSawThePlayer) {
    // The player's name lost in most reads (a light scene behind the top
    // row), found in the rest once the row scrolled down: the reads without
    // it say nothing about who is in the row.
    auto blind = [](int y) {
        hud::FeedRow r = row(y, Side::Neither, 814);
        r.killer.n = 0;
        return r;
    };
    hud::FeedTracker t;
    std::vector<hud::KillEvent> events;
    std::int64_t now = 0;
    for (int i = 0; i < 10; ++i, now += 330)
        for (auto& e : pass(t, now, {blind(32)}))
            events.push_back(e);
    EXPECT_TRUE(events.empty());
    for (int i = 0; i < 4; ++i, now += 330)
        for (auto& e : pass(t, now, {row(80, Side::Killer, 814)}))
            events.push_back(e);
    for (int i = 0; i < 10; ++i, now += 330)
        for (auto& e : pass(t, now, {}))
            events.push_back(e);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, KillKind::Kill);
    EXPECT_EQ(events[0].distance, 814);
    EXPECT_EQ(events[0].time, 0);

    // A row whose reads saw both names and said "not me" stays unreported
    // however many reads later see the player.
    hud::FeedTracker seen;
    std::vector<hud::KillEvent> none;
    now = 0;
    for (int i = 0; i < 10; ++i, now += 330)
        for (auto& e : pass(seen, now, {row(32, Side::Neither, 814)}))
            none.push_back(e);
    for (int i = 0; i < 4; ++i, now += 330)
        for (auto& e : pass(seen, now, {row(80, Side::Killer, 814)}))
            none.push_back(e);
    for (int i = 0; i < 10; ++i, now += 330)
        for (auto& e : pass(seen, now, {}))
            none.push_back(e);
    EXPECT_TRUE(none.empty());
}
