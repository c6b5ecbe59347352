// Played match sequences: the same seed gives the same match, and what the
// truth says happened is what the frames show.

#include "match.h"
#include "footage_fixture.h"
#include "synth.h"

#include "hud/cash/vocab.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <map>

namespace {

using Match = FootageTest;

const hud::WeaponEntry* weaponNamed(const std::string& name) {
    for (const hud::WeaponEntry& e : hud::weaponTable())
        if (e.name == name)
            return &e;
    return nullptr;
}

// What a frame shows, as text to compare.
std::string describe(const synth::FrameContent& f) {
    std::string s = QJsonDocument(synth::truthJson(f)).toJson().toStdString();
    for (const synth::FeedRowContent& r : f.feed->rows)
        s += r.killer + ">" + r.victim + " " + r.icon + " " + std::to_string(r.distance) +
             (r.headshot ? "h" : "") + ";";
    s += "scroll " + std::to_string(f.feed->scroll);
    if (f.plate)
        s += " plate " + f.plate->name + " " + std::to_string(f.plate->magazine) + "/" +
             std::to_string(f.plate->reserve);
    s += f.down ? " down" : "";
    return s;
}

bool showsRowOf(const synth::FrameContent& f, const synth::MatchEvent& e, const std::string& player) {
    for (const synth::FeedRowContent& r : f.feed->rows) {
        const bool mine = e.kind == synth::MatchEventKind::Kill
                              ? r.killerWho == synth::FeedWho::Me && r.killer == player
                              : r.victimWho == synth::FeedWho::Me && r.victim == player;
        if (mine && r.distance == e.distance && r.icon == e.icon && r.headshot == e.headshot)
            return true;
    }
    return false;
}

TEST_F(Match, SameSeedSameMatchOtherSeedAnother) {
    const synth::MatchSequence a(42), b(42), c(43);
    ASSERT_EQ(a.frameCount(), b.frameCount());
    EXPECT_EQ(QJsonDocument(a.truthJson()).toJson(), QJsonDocument(b.truthJson()).toJson());
    EXPECT_NE(QJsonDocument(a.truthJson()).toJson(), QJsonDocument(c.truthJson()).toJson());
    // Random access and the frame source agree.
    synth::MatchSequence played(42);
    synth::FrameContent f;
    std::int64_t t = -1;
    int n = 0;
    while (played.next(f, t)) {
        EXPECT_EQ(t, synth::MatchSequence::frameTime(n));
        if (n % 37 == 0) {
            EXPECT_EQ(describe(f), describe(a.frame(n))) << "frame " << n;
        }
        ++n;
    }
    EXPECT_EQ(n, a.frameCount());
}

// Over many seeds: every event is shown the way the readers will meet it.
TEST_F(Match, TruthAgreesWithTheFrames) {
    int kills = 0, deaths = 0, downs = 0, ups = 0;
    for (std::uint32_t seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        const synth::MatchSequence m(seed);
        const int n = m.frameCount();
        EXPECT_GE(n, 600);
        EXPECT_LE(n, 1200);
        std::vector<synth::FrameContent> frames;
        for (int i = 0; i < n; ++i)
            frames.push_back(m.frame(i));
        const synth::FrameContent& look = m.look();
        for (const synth::FrameContent& f : frames) {
            ASSERT_TRUE(f.feed && f.cash);
            EXPECT_EQ(f.width, look.width);
            EXPECT_EQ(f.sceneSeed, look.sceneSeed);
            EXPECT_LE(f.feed->rows.size(), 7u);
            EXPECT_LE(f.cash->lines.size(), 4u);
            EXPECT_FALSE(f.down && f.plate) << "the plate shows while down";
        }
        // A balance jump shows its change.
        for (int i = 1; i < n; ++i) {
            const std::int64_t d = frames[static_cast<std::size_t>(i)].cash->balance -
                                   frames[static_cast<std::size_t>(i) - 1].cash->balance;
            if (d != 0) {
                ASSERT_TRUE(frames[static_cast<std::size_t>(i)].cash->change.has_value()) << "frame " << i;
                EXPECT_NE(*frames[static_cast<std::size_t>(i)].cash->change, 0);
            }
            EXPECT_GE(frames[static_cast<std::size_t>(i)].cash->balance, 0);
        }

        bool down = false;
        std::int64_t lastDeath = -100000;
        for (const synth::MatchEvent& e : m.events()) {
            const int first = static_cast<int>((e.time + synth::kMatchFrameMs - 1) / synth::kMatchFrameMs);
            ASSERT_LT(first, n);
            const synth::FrameContent& at = frames[static_cast<std::size_t>(first)];
            switch (e.kind) {
            case synth::MatchEventKind::Kill: {
                ++kills;
                // The row stays for several frames, and the item in hand is
                // the weapon named, of the row's icon class.
                for (int i = first; i < std::min(n, first + 15); ++i)
                    EXPECT_TRUE(showsRowOf(frames[static_cast<std::size_t>(i)], e, m.playerName()))
                        << "kill at " << e.time << ", frame " << i;
                // The plate of the last frame before the row came.
                const synth::FrameContent& before =
                    frames[static_cast<std::size_t>(e.time / synth::kMatchFrameMs)];
                ASSERT_TRUE(before.plate.has_value());
                EXPECT_EQ(before.plate->name, e.weapon);
                const hud::WeaponEntry* w = weaponNamed(e.weapon);
                ASSERT_NE(w, nullptr);
                EXPECT_EQ(w->weaponClass, e.icon);
                EXPECT_FALSE(at.down);
                EXPECT_GE(e.distance, 0);
                break;
            }
            case synth::MatchEventKind::Death:
                ++deaths;
                for (int i = first; i < std::min(n, first + 15); ++i)
                    EXPECT_TRUE(showsRowOf(frames[static_cast<std::size_t>(i)], e, m.playerName()))
                        << "death at " << e.time;
                EXPECT_FALSE(at.plate.has_value());
                EXPECT_FALSE(down && at.down) << "the damage log outlives the death";
                down = false;
                lastDeath = e.time;
                break;
            case synth::MatchEventKind::Down:
                ++downs;
                EXPECT_FALSE(down) << "down twice";
                EXPECT_GT(e.time, lastDeath);
                down = true;
                EXPECT_TRUE(at.down);
                EXPECT_FALSE(at.plate.has_value());
                break;
            case synth::MatchEventKind::Up: {
                ++ups;
                EXPECT_TRUE(down) << "up without down";
                down = false;
                EXPECT_FALSE(at.down);
                // The plate is back within a second.
                const int back = std::min(n - 1, first + 1000 / synth::kMatchFrameMs);
                EXPECT_TRUE(frames[static_cast<std::size_t>(back)].plate.has_value());
                break;
            }
            }
        }
        // Every row marked as an event in the frame truth belongs to one.
        const QJsonObject truth = m.frameTruth(n / 2);
        for (const QJsonValue& r : truth.value("rows").toArray()) {
            if (r.toObject().contains("event")) {
                EXPECT_LT(r.toObject().value("event").toInt(), static_cast<int>(m.events().size()));
            }
        }
    }
    // The twelve matches hold every kind of event.
    EXPECT_GT(kills, 20);
    EXPECT_GT(deaths, 5);
    EXPECT_GT(downs, 5);
    EXPECT_GT(ups, 2);
}

// Rows arrive at the top, push the older ones down and leave after about 7 s.
TEST_F(Match, FeedRowsScrollAndLeave) {
    const synth::MatchSequence m(7);
    std::vector<synth::FeedRowContent> previous;
    int arrivals = 0;
    // Frames each row was on screen, by its text.
    std::map<std::string, std::pair<int, int>> shown;
    for (int i = 0; i < m.frameCount(); ++i) {
        const synth::FrameContent f = m.frame(i);
        const auto& rows = f.feed->rows;
        auto same = [](const synth::FeedRowContent& a, const synth::FeedRowContent& b) {
            return a.killer == b.killer && a.victim == b.victim && a.distance == b.distance &&
                   a.icon == b.icon;
        };
        if (!rows.empty() && (previous.empty() || !same(rows[0], previous[0]))) {
            ++arrivals;
            // Everything that was on screen and stays moved down one place.
            for (std::size_t k = 1; k < rows.size() && k - 1 < previous.size(); ++k)
                EXPECT_TRUE(same(rows[k], previous[k - 1])) << "frame " << i;
            EXPECT_GT(f.feed->scroll, 0.0);
        }
        for (const synth::FeedRowContent& r : rows) {
            const std::string key = r.killer + ">" + r.victim + std::to_string(r.distance) + r.icon;
            auto it = shown.emplace(key, std::make_pair(i, i)).first;
            it->second.second = i;
        }
        previous = rows;
    }
    EXPECT_GT(arrivals, 10);
    int full = 0;
    for (const auto& [key, span] : shown) {
        const int ms = (span.second - span.first + 1) * synth::kMatchFrameMs;
        EXPECT_LE(ms, synth::kFeedRowLifeMs) << key;
        full += ms >= synth::kFeedRowLifeMs - synth::kMatchFrameMs;
    }
    EXPECT_GT(full, 5);
}

// Painting only the captured areas gives the picture of the whole frame
// there: the same up to the painter's rounding (a level) before
// recompression, which may grow a rounding into a few levels of a block.
TEST_F(Match, CapturePartsMatchTheWholeFrame) {
    synth::MatchOptions o;
    o.variation.anyResolution = false; // 1920x1080
    const synth::MatchSequence m(3, o);
    synth::FrameContent f = m.frame(m.frameCount() / 2);
    for (const int quality : {0, 80}) {
        f.degradation.jpegQuality = quality;
        f.degradation.blurSigma = 0.5;
        const QImage whole = synth::renderFrame(f);
        const QImage parts = synth::renderCaptureParts(f);
        ASSERT_EQ(whole.size(), parts.size());
        for (const QRect& r :
             {synth::feedRegion(f.width, f.height), synth::plateRegion(f.width, f.height),
              synth::damageLogRegion(f.width, f.height), synth::hudWindow(f.width, f.height)}) {
            long long sum = 0;
            int most = 0;
            for (int y = r.top(); y <= r.bottom(); ++y)
                for (int x = r.left(); x <= r.right(); ++x) {
                    const QRgb a = whole.pixel(x, y), b = parts.pixel(x, y);
                    const int d = std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                            std::abs(qBlue(a) - qBlue(b))});
                    most = std::max(most, d);
                    sum += d;
                }
            const double mean = static_cast<double>(sum) / (static_cast<double>(r.width()) * r.height());
            SCOPED_TRACE(quality);
            EXPECT_LE(most, quality ? 40 : 1) << r.x() << "," << r.y();
            EXPECT_LT(mean, quality ? 0.5 : 0.1) << r.x() << "," << r.y();
        }
        // Outside the captured areas nothing is painted.
        EXPECT_EQ(parts.pixel(f.width / 2, f.height / 4), qRgb(0, 0, 0));
    }
}

} // namespace
