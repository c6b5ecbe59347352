// The kill-feed, plate and damage-log readers on painted frames, through the
// engine's captures: what the player's rows, the plate and the damage log
// read as at the game's resolutions.

#include "feedrun.h"
#include "footage_fixture.h"
#include "hudio.h"
#include "match.h"
#include "synth.h"

#include "hud/feed/feed.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"
#include "hud/reports.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

class FeedFrames : public FootageTest {
protected:
    static synth::FrameContent frame(int w, int h, std::uint32_t scene) {
        synth::FrameContent f;
        f.width = w;
        f.height = h;
        f.sceneSeed = scene;
        return f;
    }

    static hud::FeedRead readFeed(const synth::FrameContent& f) {
        const QImage cap = synth::captureFeedRegion(synth::renderFrame(f));
        const hud::FrameView v = synth::frameView(cap);
        return hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
    }

    // The range's widest end: letters spaced, the tallest icon and the widest
    // gap from the killer's name to it.
    static synth::Look widestLook() {
        synth::Look widest;
        widest.letterSpacing = 0.1;
        widest.iconHeight = 1.3;
        widest.nameIconGap = 0.8;
        return widest;
    }

    static hud::PlateRead readPlate(const synth::FrameContent& f) {
        const QImage cap = synth::capturePlateRegion(synth::renderFrame(f));
        const hud::FrameView v = synth::frameView(cap);
        return hud::readPlate(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
    }
};

using W = synth::FeedWho;
using Side = hud::PlayerSide;

TEST_F(FeedFrames, RowsReadWhoKilledWhomWithIconDistanceAndHeadshot) {
    synth::FrameContent f = frame(1920, 1080, 11);
    // Letters spaced wide apart; the game's exact look fuses more (see the
    // evaluation's exact-look figures).
    f.look = synth::spacedLook();
    synth::KillFeed feed;
    feed.rows = {
        feedRow("CORVEX_ME", W::Me, "NORDWIND", W::Enemy, "sniper", 1234, true),
        feedRow("KESTREL", W::Enemy, "CORVEX_ME", W::Me, "shotgun", 7),
        feedRow("CORVEX_ME", W::Me, "CORVEX_ME", W::Me, "grenade", 12),
        feedRow("AXOLOTL", W::Team, "B4SILISK", W::Enemy, "rifle", 85),
        feedRow("MORROW", W::Squad, "TALLGRASS", W::Enemy, "pistol", 340),
        feedRow("CORVEX_ME", W::Me, "HOLLOWAY", W::Enemy, "rifle", -1),
    };
    f.feed = feed;
    const hud::FeedRead r = readFeed(f);
    ASSERT_EQ(r.rows.size(), 6u) << r.note;
    EXPECT_TRUE(r.note.empty());
    for (std::size_t i = 1; i < r.rows.size(); ++i)
        EXPECT_GT(r.rows[i].y, r.rows[i - 1].y);

    const hud::FeedRow& kill = r.rows[0];
    EXPECT_EQ(kill.side, Side::Killer) << kill.text;
    EXPECT_TRUE(kill.hasDistance);
    EXPECT_EQ(kill.distance, 1234);
    EXPECT_EQ(kill.icon, "sniper");
    EXPECT_TRUE(kill.headshot);

    EXPECT_EQ(r.rows[1].side, Side::Victim) << r.rows[1].text;
    EXPECT_EQ(r.rows[1].distance, 7);
    EXPECT_EQ(r.rows[1].icon, "shotgun");
    EXPECT_FALSE(r.rows[1].headshot);

    EXPECT_EQ(r.rows[2].side, Side::Both) << r.rows[2].text;
    EXPECT_EQ(r.rows[2].distance, 12);

    EXPECT_EQ(r.rows[3].side, Side::Neither) << r.rows[3].text;
    EXPECT_TRUE(r.rows[3].killer.tm);
    EXPECT_EQ(r.rows[3].distance, 85);

    EXPECT_EQ(r.rows[4].side, Side::Neither) << r.rows[4].text;
    EXPECT_TRUE(r.rows[4].squadKiller);
    EXPECT_FALSE(r.rows[4].squadVictim);
    EXPECT_EQ(r.rows[4].distance, 340);

    // Without a bracket nothing is decided, whatever the colours say.
    EXPECT_FALSE(r.rows[5].hasBracket());
    EXPECT_EQ(r.rows[5].side, Side::Neither);
}

TEST_F(FeedFrames, TheOrangeMarkerOnBothSidesIsASelfKill) {
    // A name whose underscore falls below the letters loses its end to the
    // icon on the killer side, so the two names no longer look alike; the
    // markers still say whose they are. The team's blue marker on both
    // sides says nothing about the player.
    struct Look {
        int width, height, jpeg;
        double blur;
    };
    const Look looks[] = {{1920, 1080, 0, 0.0}, {2560, 1440, 50, 1.05}, {3840, 2160, 95, 1.6}};
    std::uint32_t scene = 41;
    for (const Look& look : looks) {
        synth::FrameContent f = frame(look.width, look.height, scene++);
        f.look = synth::spacedLook(); // letters spaced wide apart
        f.degradation.jpegQuality = look.jpeg;
        f.degradation.blurSigma = look.blur;
        synth::KillFeed feed;
        feed.rows = {
            feedRow("MEULPU_7", W::Me, "MEULPU_7", W::Me, "grenade", 3),
            feedRow("CORVEX_ME", W::Me, "CORVEX_ME", W::Me, "explosion", 0),
            feedRow("AXOLOTL_7", W::Team, "AXOLOTL_7", W::Team, "grenade", 4),
            feedRow("MEULPU_7", W::Me, "RAVEN_22", W::Enemy, "rifle", 85),
            feedRow("NORDWIND", W::Team, "NORDWIND", W::Team, "explosion", 12),
        };
        f.feed = feed;
        const hud::FeedRead r = readFeed(f);
        ASSERT_EQ(r.rows.size(), 5u) << look.height << " " << r.note;
        // Open: with the game's slim ribbed icons, heavy blur at 1440 and
        // 2160 lines costs these rows a name; only "not me" may be read then,
        // never a wrong side.
        if (look.blur > 1.0) {
            for (int i : {0, 1, 3})
                EXPECT_TRUE(r.rows[static_cast<std::size_t>(i)].side == Side::Neither ||
                            r.rows[static_cast<std::size_t>(i)].side == (i == 3 ? Side::Killer : Side::Both))
                    << look.height << " " << r.rows[static_cast<std::size_t>(i)].text;
            EXPECT_EQ(r.rows[2].side, Side::Neither) << look.height << " " << r.rows[2].text;
            EXPECT_EQ(r.rows[4].side, Side::Neither) << look.height << " " << r.rows[4].text;
            continue;
        }
        EXPECT_EQ(r.rows[0].side, Side::Both) << look.height << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[1].side, Side::Both) << look.height << " " << r.rows[1].text;
        EXPECT_EQ(r.rows[2].side, Side::Neither) << look.height << " " << r.rows[2].text;
        EXPECT_EQ(r.rows[3].side, Side::Killer) << look.height << " " << r.rows[3].text;
        EXPECT_EQ(r.rows[4].side, Side::Neither) << look.height << " " << r.rows[4].text;
    }
}

TEST_F(FeedFrames, DistancesOfOneToFourDigitsAtEveryResolution) {
    const int sizes[][2] = {{1920, 1080}, {2560, 1440}, {3840, 2160}};
    const int distances[] = {3, 47, 508, 1999};
    for (const auto& size : sizes) {
        synth::FrameContent f = frame(size[0], size[1], 5);
        f.look = synth::spacedLook(); // letters spaced wide apart
        synth::KillFeed feed;
        for (int d : distances)
            feed.rows.push_back(feedRow("CORVEX_ME", W::Me, "VIPER_07", W::Enemy, "rifle", d));
        f.feed = feed;
        const hud::FeedRead r = readFeed(f);
        ASSERT_EQ(r.rows.size(), 4u) << size[1];
        for (std::size_t i = 0; i < 4; ++i) {
            EXPECT_TRUE(r.rows[i].hasDistance) << size[1] << " " << distances[i] << " " << r.rows[i].text;
            EXPECT_EQ(r.rows[i].distance, distances[i]) << size[1];
            EXPECT_EQ(r.rows[i].side, Side::Killer) << size[1] << " " << r.rows[i].text;
        }
    }
}

TEST_F(FeedFrames, AnEmptyFeedHasNoRows) {
    const hud::FeedRead r = readFeed(frame(1920, 1080, 3));
    EXPECT_TRUE(r.rows.empty());
    EXPECT_EQ(r.note, "no feed rows");
}

TEST_F(FeedFrames, PlateReadsUpToTheSlashAndMatchesHyphenatedNames) {
    const char* names[] = {"M4", "PP-19 Vityaz", "KH-2002", "M249 SAW", "Deagle"};
    for (const char* name : names) {
        synth::FrameContent f = frame(1920, 1080, 21);
        synth::Plate plate;
        plate.name = name;
        f.plate = plate;
        const hud::PlateRead r = readPlate(f);
        EXPECT_TRUE(r.found) << name;
        EXPECT_EQ(r.name, name) << r.read;
        EXPECT_TRUE(r.weapon) << name;
        EXPECT_EQ(r.read.find('/'), std::string::npos) << r.read;
    }
    synth::FrameContent f = frame(2560, 1440, 22);
    synth::Plate gadget;
    gadget.name = "Defibrillator";
    gadget.weapon = false;
    f.plate = gadget;
    const hud::PlateRead r = readPlate(f);
    EXPECT_EQ(r.name, "Defibrillator") << r.read;
    EXPECT_FALSE(r.weapon);
}

TEST_F(FeedFrames, DamageLogIsFoundLockedAndFollowed) {
    synth::FrameContent f = frame(1920, 1080, 31);
    f.down = true;
    const QImage cap = synth::captureDamageLogRegion(synth::renderFrame(f));
    hud::DownDetector d;
    d.killData = killData_;
    const hud::FrameView v = synth::frameView(cap);
    const hud::DownRead first = hud::readDownScore(d, v.pixels, v.width, v.height, v.stride, true);
    EXPECT_TRUE(first.found) << first.score;
    ASSERT_GE(d.lockedVariant, 0);

    // The same header three pixels to the right: followed from the lock.
    QImage shifted(cap.size(), cap.format());
    shifted.fill(Qt::black);
    for (int y = 0; y < cap.height(); ++y)
        for (int x = 3; x < cap.width(); ++x)
            shifted.setPixel(x, y, cap.pixel(x - 3, y));
    const hud::FrameView s = synth::frameView(shifted);
    const hud::DownRead moved = hud::readDownScore(d, s.pixels, s.width, s.height, s.stride, false);
    EXPECT_TRUE(moved.found) << moved.score;
    EXPECT_NEAR(moved.x, first.x + 3, 0.5);

    // Without the damage log nothing matches, even with a full scan.
    f.down = false;
    const QImage none = synth::captureDamageLogRegion(synth::renderFrame(f));
    hud::DownDetector fresh;
    fresh.killData = killData_;
    const hud::FrameView n = synth::frameView(none);
    EXPECT_FALSE(hud::readDownScore(fresh, n.pixels, n.width, n.height, n.stride, true).found);
}

} // namespace

TEST_F(FeedFrames, KillerNamesHalfACapBeforeTheIconReadAtTheGamesOwnLook) {
    // The game sets the icon half a cap after the killer's name; under blur
    // and recompression the name joins the icon's ink, and the player's own
    // kills were lost with it.
    struct Case {
        int width, height, jpeg;
        double blur;
    };
    const Case cases[] = {
        {1920, 1080, 0, 0.0}, {1920, 1080, 70, 0.5}, {2560, 1440, 85, 0.6}, {3840, 2160, 90, 0.8}};
    std::uint32_t scene = 61;
    for (const Case& c : cases) {
        synth::FrameContent f = frame(c.width, c.height, scene++);
        f.degradation.jpegQuality = c.jpeg;
        f.degradation.blurSigma = c.blur;
        synth::KillFeed feed;
        feed.rows = {
            feedRow("CORVEX_ME", W::Me, "NORDWIND", W::Enemy, "rifle", 85),
            feedRow("CORVEX_ME", W::Me, "HOLLOWAY", W::Enemy, "shotgun", 12, true),
            feedRow("KESTREL", W::Enemy, "CORVEX_ME", W::Me, "sniper", 340),
        };
        f.feed = feed;
        const hud::FeedRead r = readFeed(f);
        ASSERT_EQ(r.rows.size(), 3u) << c.height << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << c.height << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 85) << c.height;
        EXPECT_EQ(r.rows[1].side, Side::Killer) << c.height << " " << r.rows[1].text;
        EXPECT_EQ(r.rows[2].side, Side::Victim) << c.height << " " << r.rows[2].text;
    }
}

TEST_F(FeedFrames, AMachineGunOfThinStrokesStillStandsBeforeTheDistance) {
    // At 1080 lines the machine gun is mostly thin strokes, too few of them
    // white or light grey for the icon before the bracket; without it the
    // bracket, and with it the player's death, were lost. The game's own
    // look, then the range's ends.
    synth::FrameContent f = frame(1920, 1080, 1806197092u);
    f.hudScale = 1.040840530881683;
    f.degradation.sourceScale = 0.7585474358149125;
    f.degradation.jpegQuality = 95;
    synth::KillFeed feed;
    feed.rows = {feedRow("C68MRHX5QEW5", W::Enemy, "GPA", W::Me, "lmg", 59)};
    f.feed = feed;
    synth::Look small;
    small.iconHeight = 1.0;
    small.nameIconGap = 0.4;
    small.iconBracketGap = 0.4;
    synth::Look large;
    large.letterSpacing = 0.1;
    large.iconHeight = 1.3;
    large.nameIconGap = 0.8;
    const synth::Look looks[] = {synth::Look{}, small, large};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        ASSERT_EQ(r.rows.size(), 1u) << look.iconHeight << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Victim) << look.iconHeight << " " << r.rows[0].text;
        EXPECT_TRUE(r.rows[0].hasDistance) << look.iconHeight;
        EXPECT_EQ(r.rows[0].distance, 59) << look.iconHeight;
    }
}

TEST_F(FeedFrames, AThinRifleOnALightSceneLeavesThePlayersNameBeforeIt) {
    // A light scene behind the top row: the rifle's long barrel, too dim for
    // the icon test, read as a word, and the player's name before it was
    // taken for part of the icon. Footage from the range around the game's
    // look (a played match), then the same row at the game's own look.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(13, options);
    synth::FrameContent f = match.frame(628);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().distance, 814);
    for (int exact = 0; exact < 2; ++exact) {
        if (exact)
            f.look = synth::Look{};
        const hud::FeedRead r = readFeed(f);
        ASSERT_FALSE(r.rows.empty()) << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << exact << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 814) << exact;
        EXPECT_GE(r.rows[0].killer.n, 4) << exact;
    }
}

TEST_F(FeedFrames, RowsReachingTheCapturesRightEdgeReadWhole) {
    // Two twelve-letter names of the widest letters carry the victim's name
    // and marker almost to the right edge of the capture (907 columns), and
    // with the range's widest spacing, icons and gaps nearer still: the rows
    // read as painted.
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    const synth::Look looks[] = {synth::Look{}, widest};
    const int heights[] = {1080, 1440, 2160};
    std::uint32_t scene = 91;
    for (const synth::Look& look : looks)
        for (int h : heights) {
            synth::FrameContent f = frame(h * 16 / 9, h, scene++);
            f.look = look;
            synth::KillFeed feed;
            feed.rows = {
                feedRow("WWMWWMWWMWWM", W::Enemy, "MWWMWWMWWMWW", W::Me, "sniper", 1234, true),
                feedRow("MWWMWWMWWMWW", W::Me, "NORDWIND_WMW", W::Enemy, "rifle", 85),
            };
            f.feed = feed;
            const hud::FeedRead r = readFeed(f);
            const std::string at = std::to_string(h) + " icon " + std::to_string(look.iconHeight);
            ASSERT_EQ(r.rows.size(), 2u) << at << " " << r.note;
            EXPECT_GT(r.rows[0].x1, 870) << at; // the case this test is about
            EXPECT_EQ(r.rows[0].side, Side::Victim) << at << " " << r.rows[0].text;
            EXPECT_EQ(r.rows[0].distance, 1234) << at;
            EXPECT_EQ(r.rows[1].side, Side::Killer) << at << " " << r.rows[1].text;
            EXPECT_EQ(r.rows[1].distance, 85) << at;
            if (look.iconHeight > 1.2)
                continue; // there the victim's marker and the sniper go unfound, whole width or not
            EXPECT_TRUE(r.rows[0].victim.sh) << at << " " << r.rows[0].text;
            EXPECT_EQ(r.rows[0].icon, "sniper") << at;
            EXPECT_TRUE(r.rows[0].headshot) << at;
            EXPECT_EQ(r.rows[1].icon, "rifle") << at;
        }
}

TEST_F(FeedFrames, ACaptureReadsTheSameWhateverLiesBesideTheFeed) {
    // A wider capture with bright columns to the right of the rows (a crop
    // set wider, a light scene) must not change how the rows read.
    synth::FrameContent f = frame(3840, 2160, 7);
    synth::KillFeed feed;
    feed.rows = {feedRow("CORVEX_ME", W::Me, "KESTREL", W::Enemy, "shotgun", 12, true),
                 feedRow("AXOLOTL", W::Team, "CORVEX_ME", W::Me, "pistol", 340)};
    f.feed = feed;
    const QImage cap = synth::captureFeedRegion(synth::renderFrame(f));
    QImage wider(cap.width() + 700, cap.height(), QImage::Format_RGB32);
    wider.fill(QColor(250, 250, 250));
    for (int y = 0; y < cap.height(); ++y)
        std::copy_n(reinterpret_cast<const QRgb*>(cap.constScanLine(y)), cap.width(),
                    reinterpret_cast<QRgb*>(wider.scanLine(y)));
    const hud::FrameView a = synth::frameView(cap);
    const hud::FrameView b = synth::frameView(wider);
    const hud::FeedRead ra = hud::readFeedRows(*model_, *killData_, a.pixels, a.width, a.height, a.stride);
    const hud::FeedRead rb = hud::readFeedRows(*model_, *killData_, b.pixels, b.width, b.height, b.stride);
    ASSERT_EQ(ra.rows.size(), 2u) << ra.note;
    ASSERT_EQ(rb.rows.size(), ra.rows.size()) << rb.note;
    for (std::size_t i = 0; i < ra.rows.size(); ++i) {
        EXPECT_EQ(rb.rows[i].text, ra.rows[i].text) << i;
        EXPECT_EQ(rb.rows[i].icon, ra.rows[i].icon) << i;
        EXPECT_EQ(rb.rows[i].headshot, ra.rows[i].headshot) << i;
    }
    EXPECT_EQ(ra.rows[0].side, Side::Killer) << ra.rows[0].text;
    EXPECT_EQ(ra.rows[1].side, Side::Victim) << ra.rows[1].text;
}

TEST_F(FeedFrames, ABlurredKWithItsTopBrokenOffStillStartsThePlayersName) {
    // A played match at 1080 lines, blurred and recompressed: the player's
    // name starts with a "K" whose upper arm breaks off as a small piece,
    // and the rifle before the bracket breaks into letter-sized pieces, so
    // only the name's own letters can find it. The game's own look, then
    // the range's narrowest and widest.
    const synth::MatchSequence match(31);
    synth::FrameContent f = match.frame(32);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    const synth::FeedRowContent& painted = f.feed->rows.front();
    ASSERT_EQ(painted.killerWho, W::Me);
    ASSERT_EQ(painted.killer[0], 'K');
    synth::Look small;
    small.iconHeight = 1.0;
    small.nameIconGap = 0.4;
    small.iconBracketGap = 0.4;
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    const synth::Look looks[] = {f.look, small, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, painted.distance) << at;
        EXPECT_GE(r.rows[0].killer.n, 4) << at;
        EXPECT_TRUE(r.rows[0].killer.sh) << at;
    }
}

TEST_F(FeedFrames, AOneScaledUpAndBlurredStillReadsInTheDistance) {
    // A played match from the range around the game's look (HUD scale 1.18,
    // the stream rescaled by 1.05): the "1" of "162" grew wider than the
    // first reading allows a "1", and the player's kill was lost with its
    // distance. Then the same row at the game's own look and at the range's
    // widest spacing, icons and gaps.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(19, options);
    synth::FrameContent f = match.frame(540);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().distance, 162);
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    const synth::Look looks[] = {f.look, synth::Look{}, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "spacing " + std::to_string(look.letterSpacing);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_TRUE(r.rows[0].hasDistance) << at;
        EXPECT_EQ(r.rows[0].distance, 162) << at;
        EXPECT_EQ(r.rows[0].icon, "rifle") << at;
    }
}

TEST_F(FeedFrames, AOneBesideShortNamesStillReadsInTheDistance) {
    // A played match at the game's own look: the player's three-letter name
    // and the victim's low digits measure the row's cap a pixel under the
    // height of the figures, the "1" of "41" is then a pixel wider than the
    // first reading allows, and "41" read as a doubtful "49". The row stayed
    // without its distance for all its six seconds on screen.
    const synth::MatchSequence match(40, synth::MatchOptions{});
    for (int index : {572, 600}) {
        const synth::FrameContent f = match.frame(index);
        const std::string at = "frame " + std::to_string(index);
        ASSERT_TRUE(f.feed && !f.feed->rows.empty()) << at;
        ASSERT_EQ(f.feed->rows.front().killerWho, W::Me) << at;
        ASSERT_EQ(f.feed->rows.front().distance, 41) << at;
        const hud::FeedRead r = readFeed(f);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_TRUE(r.rows[0].hasDistance) << at;
        EXPECT_EQ(r.rows[0].distance, 41) << at;
        // The rows below keep the distances they read.
        ASSERT_EQ(r.rows.size(), f.feed->rows.size()) << at;
        for (std::size_t i = 1; i < r.rows.size(); ++i)
            EXPECT_EQ(r.rows[i].distance, f.feed->rows[i].distance) << at << " row " << i;
    }
}

TEST_F(FeedFrames, PlayedRowsThatLostTheirSides) {
    // The game's own look on a light scene: the machine gun's thin strokes
    // left too little white before the bracket once its box, as tall as a
    // letter, was taken for one, and the player's death read as no row for
    // three seconds.
    {
        const synth::MatchSequence match(65, synth::MatchOptions{});
        const synth::FrameContent f = match.frame(700);
        ASSERT_TRUE(f.feed && !f.feed->rows.empty());
        ASSERT_EQ(f.feed->rows.front().victimWho, W::Me);
        ASSERT_EQ(f.feed->rows.front().icon, "lmg");
        const hud::FeedRead r = readFeed(f);
        ASSERT_FALSE(r.rows.empty()) << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Victim) << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 28) << r.rows[0].text;
    }
    // The game's own look, half the row over a light green shape: the rifle
    // broke into strokes and flat bars too grey for an icon's white, was
    // taken for a name, and the player's name before it was lost.
    {
        const synth::MatchSequence match(56, synth::MatchOptions{});
        const synth::FrameContent f = match.frame(168);
        ASSERT_TRUE(f.feed && !f.feed->rows.empty());
        ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
        ASSERT_EQ(f.feed->rows.front().distance, 79);
        const hud::FeedRead r = readFeed(f);
        ASSERT_FALSE(r.rows.empty()) << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << r.rows[0].text;
        EXPECT_EQ(r.rows[0].icon, "rifle") << r.rows[0].text;
    }
    // From the range around the look: the player's self-kill with a short
    // name ("H_2"), one side of which fused into two pieces, read as a kill.
    {
        synth::MatchOptions options;
        options.variation.lookRange = true;
        const synth::MatchSequence match(84, options);
        const synth::FrameContent f = match.frame(964);
        ASSERT_TRUE(f.feed);
        const auto self = std::find_if(f.feed->rows.begin(), f.feed->rows.end(), [](const auto& row) {
            return row.killerWho == W::Me && row.victimWho == W::Me;
        });
        ASSERT_NE(self, f.feed->rows.end());
        const std::size_t index = static_cast<std::size_t>(self - f.feed->rows.begin());
        const hud::FeedRead r = readFeed(f);
        ASSERT_EQ(r.rows.size(), f.feed->rows.size()) << r.note;
        EXPECT_EQ(r.rows[index].side, Side::Both) << r.rows[index].text;
        EXPECT_EQ(r.rows[index].distance, 1) << r.rows[index].text;
    }
}

TEST_F(FeedFrames, ThePlayerKillingAShortSquadNameIsFriendlyFire) {
    // A played match from the range around the game's look: the player
    // killed a squad mate with a four-letter name, whose letters fused into
    // two pieces, and the row counted as the player's kill. The game's own
    // look, then the range's widest end with the squad colour drained.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(32, options);
    synth::FrameContent f = match.frame(200);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().victimWho, W::Squad);
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    widest.squadDrain = 1.0;
    const synth::Look looks[] = {f.look, synth::Look{}, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_TRUE(r.rows[0].squadVictim) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 66) << at;
    }
}

TEST_F(FeedFrames, ADigitBrokenInTwoInsideThePlayersNameDoesNotEndIt) {
    // A played match from the range around the game's look, blurred at 1339
    // lines: the "4" of "REX459" breaks into a top piece and a foot that
    // joins another line, and the machine gun into slivers, so only the
    // name's own letters can find it; the name ended at the top piece. The
    // match's look, then the game's own and the range's widest.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(45, options);
    synth::FrameContent f = match.frame(180);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killer, "REX459");
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    const synth::Look looks[] = {f.look, synth::Look{}, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 45) << at;
        EXPECT_GE(r.rows[0].killer.n, 3) << at;
    }
}

TEST_F(FeedFrames, ATeammatesNameReadBrighterIsNotThePlayers) {
    // A played match from the range around the game's look: a teammate's
    // short name, beside the blue marker, read a little brighter than the
    // enemy's and was taken for the player's kill. The match's look, then
    // the game's own and the range's widest.
    // Then an enemy's name read brighter than the teammate's it faces.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    struct Case {
        std::uint32_t seed;
        int frame, row, distance;
        W killerWho;
    };
    const Case cases[] = {{43, 40, 0, 108, W::Team}, {48, 168, 1, 162, W::Enemy}};
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    for (const Case& c : cases) {
        const synth::MatchSequence match(c.seed, options);
        synth::FrameContent f = match.frame(c.frame);
        const std::size_t row = static_cast<std::size_t>(c.row);
        ASSERT_TRUE(f.feed && f.feed->rows.size() > row) << c.seed;
        ASSERT_EQ(f.feed->rows[row].killerWho, c.killerWho) << c.seed;
        ASSERT_EQ(f.feed->rows[row].distance, c.distance) << c.seed;
        const synth::Look looks[] = {f.look, synth::Look{}, widest};
        for (const synth::Look& look : looks) {
            f.look = look;
            const hud::FeedRead r = readFeed(f);
            const std::string at = std::to_string(c.seed) + " icon " + std::to_string(look.iconHeight);
            ASSERT_GT(r.rows.size(), row) << at << " " << r.note;
            EXPECT_EQ(r.rows[row].side, Side::Neither) << at << " " << r.rows[row].text;
            EXPECT_EQ(r.rows[row].distance, c.distance) << at;
        }
    }
}

TEST_F(FeedFrames, ABlurredPistolInPiecesTheSizeOfLettersStillEndsThePlayersName) {
    // A played match from the range around the game's look, blurred at 1440
    // lines: the pistol breaks into three pieces the size of letters, none a
    // sliver and none white enough for the icon test, and the player's name
    // before it was not taken. Its grey still marks it as an icon. The
    // match's look, then the game's own and the range's widest.
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(70, options);
    synth::FrameContent f = match.frame(490);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().icon, "pistol");
    ASSERT_EQ(f.feed->rows.front().distance, 3);
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    const synth::Look looks[] = {f.look, synth::Look{}, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 3) << at;
        EXPECT_GE(r.rows[0].killer.n, 5) << at;
    }
}

TEST_F(FeedFrames, AnUnderscoreTooThinToBeAPieceStillJoinsTheName) {
    // A played match from the range around the game's look, at 1080 lines:
    // the underscore of the player's "H_2" is thinner than any piece the row
    // keeps, "H" and "2" stood apart as single pieces, were taken for the
    // icon, and the player's kill was never reported. The match's look, then
    // the game's own and the range's widest (the name's gap to the icon as
    // wide as the underscore's).
    synth::MatchOptions options;
    options.variation.lookRange = true;
    const synth::MatchSequence match(85, options);
    synth::FrameContent f = match.frame(108);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killer, "H_2");
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().distance, 1);
    for (const synth::Look& look : {f.look, synth::Look{}, widestLook()}) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].distance, 1) << at;
        // The icon's pieces after the name stay out of it.
        EXPECT_EQ(r.rows[0].killer.n, 2) << at << " " << r.rows[0].text;
        EXPECT_EQ(r.rows[0].icon, "shotgun") << at << " " << r.rows[0].text;
    }
}

TEST_F(FeedFrames, ASquadMatesLettersAreNotMarkers) {
    // A played match at the game's own look, 2160 lines: each letter of the
    // squad mate's name the player killed passed for an orange marker, the
    // name was lost and the friendly fire counted as the player's kill. Then
    // the range's ends, the squad colour drained at the widest.
    const synth::MatchSequence match(45);
    synth::FrameContent f = match.frame(490);
    ASSERT_TRUE(f.feed && !f.feed->rows.empty());
    ASSERT_EQ(f.feed->rows.front().killerWho, W::Me);
    ASSERT_EQ(f.feed->rows.front().victimWho, W::Squad);
    synth::Look small;
    small.iconHeight = 1.0;
    small.nameIconGap = 0.4;
    small.iconBracketGap = 0.4;
    synth::Look widest;
    widest.letterSpacing = 0.1;
    widest.iconHeight = 1.3;
    widest.nameIconGap = 0.8;
    widest.squadDrain = 1.0;
    const synth::Look looks[] = {f.look, small, widest};
    for (const synth::Look& look : looks) {
        f.look = look;
        const hud::FeedRead r = readFeed(f);
        const std::string at = "icon " + std::to_string(look.iconHeight);
        ASSERT_FALSE(r.rows.empty()) << at << " " << r.note;
        EXPECT_EQ(r.rows[0].side, Side::Killer) << at << " " << r.rows[0].text;
        EXPECT_TRUE(r.rows[0].squadVictim) << at << " " << r.rows[0].text;
        EXPECT_GE(r.rows[0].victim.n, 8) << at;
        EXPECT_FALSE(r.rows[0].victim.sh) << at;
        EXPECT_EQ(r.rows[0].distance, 25) << at;
    }
}
