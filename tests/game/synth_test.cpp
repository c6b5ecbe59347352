// The painter's typesetting and randomness: the model and the test footage
// depend on both staying exactly as the game draws its HUD.

#include "footage_fixture.h"
#include "synth.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

using Typesetting = FootageTest;

TEST_F(Typesetting, MoneyCentresFollowTheAdvanceTableAndGroupGaps) {
    const double hm = 27;
    const auto g = synth::layoutFigure("$1,234", 800, 40, hm, synth::moneyAdvance, 0.49);
    ASSERT_EQ(g.size(), 6u); // $ 1 , 2 3 4
    EXPECT_EQ(g[0].c, '$');
    EXPECT_EQ(g[2].c, ',');
    EXPECT_NEAR(g[5].cx - g[4].cx, (0.918 + 0.886) / 2 * hm, 1e-9);
    EXPECT_NEAR(g[4].cx - g[3].cx, (0.886 + 0.87) / 2 * hm, 1e-9);
    // The gap before the fourth digit from the right holds the comma.
    EXPECT_NEAR(g[3].cx - g[1].cx, (0.87 + 0.608) / 2 * hm + 0.49 * hm, 1e-9);
    EXPECT_NEAR(g[2].cx, (g[1].cx + 0.608 / 2 * hm + g[3].cx - 0.87 / 2 * hm) / 2, 1e-9);
    EXPECT_NEAR(g[1].cx - g[0].cx, (0.608 + 0.95) / 2 * hm, 1e-9);
    // Nine digits carry two commas; three carry none.
    const auto big = synth::layoutFigure("$999,999,999", 800, 40, hm, synth::moneyAdvance, 0.49);
    EXPECT_EQ(std::count_if(big.begin(), big.end(), [](const synth::PlacedGlyph& p) { return p.c == ','; }),
              2);
    const auto small = synth::layoutFigure("$999", 800, 40, hm, synth::moneyAdvance, 0.49);
    EXPECT_EQ(small.size(), 4u);
}

TEST_F(Typesetting, CashHudStandsWhereTheGameDrawsIt) {
    synth::FrameContent f;
    f.width = 1920;
    f.height = 1080;
    f.hudScale = 1.0;
    synth::CashHud cash;
    cash.balance = 12345;
    cash.change = -250;
    synth::RewardLine line;
    line.text = "KILL";
    line.hasFigure = true;
    line.figure = 250;
    line.panel = true;
    cash.lines = {line};
    f.cash = cash;
    const synth::HudLayout l = synth::layoutCashHud(f);
    const double hm = 0.0125 * 1080;
    EXPECT_DOUBLE_EQ(l.unit, hm);
    EXPECT_EQ(l.change.front().c, '-');
    EXPECT_NEAR(l.change.back().cx, l.balance.front().cx - 3.15 * hm, 0.5 * hm);
    EXPECT_LT(l.change.back().cx, l.arrow.left());
    EXPECT_LT(l.arrow.right(), l.balance.front().cx);
    EXPECT_NEAR(l.arrow.width(), 0.55 * hm, 1e-9);
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_NEAR(l.lines[0].phraseTop, 1.6 * hm + hm + 1.1 * hm, 1e-9);
    EXPECT_FALSE(l.lines[0].panel.isEmpty());
    EXPECT_LT(l.lines[0].panel.width(), 0.12 * 1080);
    EXPECT_EQ(l.lines[0].letters.size(), 4u);
    // Long phrases never get a panel.
    f.cash->lines[0].text = "SUPPLIED PLAYER ASSIST";
    EXPECT_TRUE(synth::layoutCashHud(f).lines[0].panel.isEmpty());
}

TEST_F(Typesetting, SameSeedSameFramesAndTruth) {
    synth::RandomFrames a(99, 3), b(99, 3);
    synth::FrameContent fa, fb;
    std::int64_t ta = 0, tb = 0;
    while (a.next(fa, ta)) {
        ASSERT_TRUE(b.next(fb, tb));
        EXPECT_EQ(synth::truthJson(fa), synth::truthJson(fb));
    }
    EXPECT_FALSE(b.next(fb, tb));
    // A window paints the same picture as the whole frame (up to rounding
    // at anti-aliased edges), so evaluation may paint only the HUD region.
    fa.degradation = synth::Degradation();
    const QImage whole = synth::renderFrame(fa);
    const QRect w = synth::hudWindow(fa.width, fa.height);
    const QImage part = synth::renderFrame(fa, w), ref = whole.copy(w);
    ASSERT_EQ(part.size(), ref.size());
    int worst = 0;
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x) {
            const QRgb p = part.pixel(x, y), q = ref.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    EXPECT_LE(worst, 8);

    synth::Rng r(5);
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t v = r.between(-3, 3);
        ASSERT_GE(v, -3);
        ASSERT_LE(v, 3);
        const double u = r.uniform();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
    }
    EXPECT_EQ(synth::Rng(7).next(), synth::Rng(7).next());
}

TEST_F(Typesetting, TruthNamesEveryShownElement) {
    synth::FrameContent f;
    synth::CashHud cash;
    cash.balance = 1000;
    synth::RewardLine xp;
    xp.text = "HEADSHOT";
    xp.hasXp = true;
    xp.xp = 25;
    cash.lines = {xp};
    f.cash = cash;
    const QJsonObject t = synth::truthJson(f);
    EXPECT_EQ(t["balanceText"].toString(), "$1,000");
    EXPECT_FALSE(t.contains("change"));
    ASSERT_EQ(t["lines"].toArray().size(), 1);
    EXPECT_EQ(t["lines"].toArray()[0].toObject()["xp"].toInt(), 25);
    EXPECT_FALSE(t["lines"].toArray()[0].toObject().contains("figure"));
    EXPECT_EQ(synth::moneyText(-1250), "-$1,250");
    EXPECT_EQ(synth::moneyText(0), "$0");
}

// ------------------------------------------------------------ kill feed, plate, damage log

// The icon reader's score of template `t` over a silhouette `group` (both
// icon images): size overlap times the best normalised correlation of the
// white mask within 4 pixels of centred.
double iconScore(const QImage& group, const QImage& t) {
    const int gw = group.width(), gh = group.height(), tw = t.width(), th = t.height();
    const double o =
        double(std::min(gw, tw)) / std::max(gw, tw) * double(std::min(gh, th)) / std::max(gh, th);
    if (o < 0.35)
        return 0;
    std::vector<double> tv(static_cast<std::size_t>(tw * th));
    double mean = 0, norm = 0;
    for (int y = 0; y < th; ++y)
        for (int x = 0; x < tw; ++x)
            mean += tv[static_cast<std::size_t>(y * tw + x)] = qGray(t.pixel(x, y)) / 255.0;
    mean /= static_cast<double>(tv.size());
    for (double& v : tv)
        norm += (v - mean) * (v - mean);
    norm = std::sqrt(norm) + 1e-6;
    double best = -1;
    for (int dy = -4; dy <= 4; ++dy)
        for (int dx = -4; dx <= 4; ++dx) {
            const int ox = (gw - tw) / 2 + dx, oy = (gh - th) / 2 + dy;
            double sv = 0, svt = 0;
            for (int y = 0; y < th; ++y)
                for (int x = 0; x < tw; ++x) {
                    const int X = ox + x, Y = oy + y;
                    const double v = X >= 0 && Y >= 0 && X < gw && Y < gh && qGray(group.pixel(X, Y)) >= 150;
                    sv += v;
                    svt += v * (tv[static_cast<std::size_t>(y * tw + x)] - mean) / norm;
                }
            const double var = sv - sv * sv / (tw * th);
            if (var >= 1)
                best = std::max(best, svt / std::sqrt(var));
        }
    return std::sqrt(o) * best;
}

TEST_F(Typesetting, IconsAreDistinctSilhouettesOfTheirSize) {
    const double cap = 24; // the feed cap at the reference height
    std::map<std::string, QImage> images;
    for (const std::string& name : synth::iconNames())
        for (int v = 0; v <= synth::iconVariantCount(name); ++v) {
            const QImage img = synth::iconImage(name, cap, v);
            ASSERT_FALSE(img.isNull()) << name << v;
            EXPECT_EQ(img.format(), QImage::Format_Grayscale8);
            const std::string stored = synth::iconVariantName(name, v);
            ASSERT_FALSE(stored.empty());
            // The stored name gives the same picture.
            EXPECT_EQ(synth::iconImage(stored, cap), img) << stored;
            const double h = img.height() / cap, w = img.width() / cap;
            if (name == "skull") {
                EXPECT_LE(h, 1.05) << stored;
                EXPECT_LE(w, 1.0) << stored;
            } else {
                EXPECT_NEAR(h, 1.1, 0.1) << stored;
                EXPECT_GE(w, 1.2) << stored;
                EXPECT_LE(w, 3.8) << stored;
            }
            images[stored] = img;
        }
    EXPECT_EQ(images.size(), synth::iconNames().size() + 2);
    EXPECT_TRUE(images.count("rifle_2") && images.count("skull_small"));
    EXPECT_TRUE(synth::iconImage("bazooka", cap).isNull());
    EXPECT_TRUE(synth::iconImage("rifle", cap, 5).isNull());
    EXPECT_TRUE(synth::iconImage("rifle", 0).isNull());
    EXPECT_TRUE(synth::iconImage("rifle", std::nan("")).isNull());

    // Every icon wins over every other class on its own silhouette by a clear
    // margin, as the reader needs to tell them apart.
    auto key = [](const std::string& n) { return n.substr(0, n.find('_')); };
    for (const auto& [a, ia] : images) {
        const double self = iconScore(ia, ia);
        EXPECT_GT(self, 0.9) << a;
        for (const auto& [b, ib] : images) {
            if (key(a) == key(b))
                continue;
            EXPECT_LT(iconScore(ia, ib), 0.82) << a << " looks like " << b;
        }
    }
}

TEST_F(Typesetting, FeedRowsStandWhereTheGameDrawsThem) {
    synth::FrameContent f;
    f.width = 2560;
    f.height = 1440;
    synth::KillFeed feed;
    feed.rows = {feedRow("VIPER", synth::FeedWho::Me, "GHOST_7", synth::FeedWho::Enemy, "sniper", 312, true),
                 feedRow("ODIN", synth::FeedWho::Enemy, "RAVEN", synth::FeedWho::Squad, "tank", -1),
                 feedRow("viper", synth::FeedWho::Me, "VIPER", synth::FeedWho::Me, "grenade", 12345)};
    f.feed = feed;
    const synth::FeedLayout l = synth::layoutFeed(f);
    const double H = 1440, m = 0.0111 * H;
    EXPECT_DOUBLE_EQ(l.cap, m);
    ASSERT_EQ(l.rows.size(), 3u);
    for (std::size_t i = 0; i < l.rows.size(); ++i) {
        const synth::FeedLayout::Row& r = l.rows[i];
        EXPECT_NEAR(r.capTop, 0.455 * H + static_cast<double>(i) * 0.0222 * H, 1e-9);
        // Names in capitals, cap m, the band 0.3 m around the row.
        EXPECT_NEAR(r.killerName.top(), r.capTop, 0.05 * m);
        EXPECT_NEAR(r.killerName.bottom(), r.capTop + m, 0.05 * m);
        EXPECT_NEAR(r.band.left(), 0.012 * H - 0.3 * m, 1e-9);
        const double last = r.victimMarker.isNull() ? r.victimName.right() : r.victimMarker.right();
        EXPECT_NEAR(r.band.right(), last + 0.3 * m, 1e-9);
        EXPECT_LT(r.band.height(), 0.0222 * H); // bands never touch
        EXPECT_NEAR(r.icon.center().y(), r.capTop + m / 2, 1e-6);
        EXPECT_NEAR(r.icon.height(), 1.1 * m, 0.01 * m);
        // Left to right: killer, icon, skull, bracketed distance, victim.
        EXPECT_GE(r.icon.left() - r.killerName.right(), 0.5 * m);
        const double afterIcon = r.skull.isNull() ? r.icon.right() : r.skull.right();
        if (!r.openBracket.isNull()) {
            EXPECT_NEAR(r.openBracket.left() - afterIcon, 0.4 * m, 1e-6);
            EXPECT_NEAR(r.openBracket.height(), 1.35 * m, 1e-9);
            ASSERT_GE(r.figures.size(), 2u);
            EXPECT_EQ(r.figures.back().first, 'm');
            EXPECT_NEAR(r.figures.front().second.left() - r.openBracket.right(), 0.15 * m, 1e-6);
            EXPECT_NEAR(r.closeBracket.left() - r.figures.back().second.right(), 0.15 * m, 1e-6);
            EXPECT_NEAR(r.victimName.left() - r.closeBracket.right(), 0.5 * m, 1e-6);
            for (const auto& [c, box] : r.figures) {
                if (c == 'm')
                    continue;
                EXPECT_NEAR(box.height(), m, 0.05 * m);
            }
        } else {
            EXPECT_TRUE(r.figures.empty());
            EXPECT_GE(r.victimName.left() - afterIcon, 0.5 * m);
        }
    }
    const synth::FeedLayout::Row& first = l.rows[0];
    EXPECT_FALSE(first.killerMarker.isNull());
    EXPECT_NEAR(first.killerMarker.width(), 0.8 * m, 1e-9);
    EXPECT_NEAR(first.killerName.left() - first.killerMarker.right(), 0.35 * m, 1e-6);
    EXPECT_TRUE(first.victimMarker.isNull());
    EXPECT_NEAR(first.skull.left() - first.icon.right(), 0.3 * m, 1e-6);
    EXPECT_EQ(first.figures.size(), 4u); // "312" and "m"
    EXPECT_TRUE(l.rows[1].killerMarker.isNull());
    EXPECT_FALSE(l.rows[1].victimMarker.isNull()); // the squad is on the team
    EXPECT_TRUE(l.rows[1].openBracket.isNull());
    // A distance has at most four figures.
    EXPECT_EQ(l.rows[2].figures.size(), 5u);

    // Scrolling slides the rows up short of their places, the newest fading.
    f.feed->scroll = 0.25;
    const synth::FeedLayout s = synth::layoutFeed(f);
    EXPECT_NEAR(s.rows[1].capTop, l.rows[1].capTop - 0.25 * 0.0222 * H, 1e-9);
    EXPECT_DOUBLE_EQ(s.rows[0].opacity, 0.75);
    EXPECT_DOUBLE_EQ(s.rows[1].opacity, 1.0);
    // More than seven rows: the oldest have left the screen.
    f.feed->rows.assign(9, f.feed->rows[0]);
    EXPECT_EQ(synth::layoutFeed(f).rows.size(), 7u);
}

TEST_F(Typesetting, PlateAndDamageLogStandWhereTheGameDrawsThem) {
    synth::FrameContent f;
    f.width = 1920;
    f.height = 1080;
    synth::Plate plate;
    plate.name = "PP-19 Vityaz";
    plate.magazine = 30;
    plate.reserve = 120;
    f.plate = plate;
    const double H = 1080, p = 0.0102 * H;
    const synth::PlateLayout l = synth::layoutPlate(f);
    EXPECT_DOUBLE_EQ(l.cap, p);
    ASSERT_EQ(l.letters.size(), 11u); // PP-19 VITYAZ without the space
    EXPECT_EQ(l.letters.front().first, 'P');
    EXPECT_EQ(l.letters.back().first, 'Z');
    EXPECT_NEAR(l.letters.back().second.top(), 0.840 * H, 0.05 * p);
    ASSERT_FALSE(l.slash.isNull());
    EXPECT_NEAR(l.slash.left() - l.letters.back().second.right(), 0.5 * p, 1e-6);
    ASSERT_EQ(l.ammo.size(), 5u);
    EXPECT_NEAR(l.ammo.back().second.right(), 1920 - 0.0333 * H, 1e-6);
    EXPECT_NEAR(l.line.right(), 1920 - 0.0333 * H, 1e-6);
    // Gadgets carry no ammunition; the last letter ends the line.
    f.plate->name = "Defibrillator";
    f.plate->weapon = false;
    const synth::PlateLayout g = synth::layoutPlate(f);
    EXPECT_TRUE(g.slash.isNull());
    EXPECT_TRUE(g.ammo.empty());
    EXPECT_NEAR(g.letters.back().second.right(), 1920 - 0.0333 * H, 1e-6);
    // Down: the plate hides, the damage log shows.
    f.down = true;
    EXPECT_TRUE(synth::layoutPlate(f).letters.empty());
    const QRectF band = synth::damageLogHeader(f);
    EXPECT_NEAR(band.left(), 1920 - 0.187 * H, 1e-9);
    EXPECT_NEAR(band.top(), 0.667 * H, 1e-9);
    EXPECT_NEAR(band.width(), 0.12 * H, 1e-9);
    EXPECT_NEAR(band.height(), 0.025 * H, 1e-9);
    const synth::DamageLogLayout log = synth::layoutDamageLog(f);
    EXPECT_TRUE(band.contains(log.title));
    EXPECT_GE(log.rows.size(), 2u);
    EXPECT_LE(log.rows.size(), 3u);
    for (const auto& row : log.rows)
        EXPECT_GT(row.second.y(), band.bottom());

    // The painted header is the dark red band with light letters on it.
    f.flatScene = 60;
    const QImage img = synth::renderFrame(f);
    const QPoint inBand = band.topLeft().toPoint() + QPoint(3, 3);
    EXPECT_EQ(img.pixel(inBand), qRgb(150, 30, 25));
    int light = 0;
    for (int y = static_cast<int>(log.title.top()); y < log.title.bottom(); ++y)
        for (int x = static_cast<int>(log.title.left()); x < log.title.right(); ++x)
            light += qGray(img.pixel(x, y)) > 200;
    EXPECT_GT(light, 20);
}

TEST_F(Typesetting, AuxiliaryCapturesFollowTheEngineRule) {
    struct Case {
        int w, h;
        bool tall;
    };
    for (const Case c :
         {Case{1280, 720, false}, Case{1920, 1080, true}, Case{2560, 1440, true}, Case{3840, 2160, true}}) {
        const synth::RegionCapture feed = synth::feedCapture(c.w, c.h);
        const synth::RegionCapture plate = synth::plateCapture(c.w, c.h);
        const synth::RegionCapture down = synth::damageLogCapture(c.w, c.h);
        // The feed and the plate are read on frames of 1000 lines and more.
        EXPECT_EQ(feed.valid, c.tall) << c.h;
        EXPECT_EQ(plate.valid, c.tall) << c.h;
        EXPECT_EQ(synth::feedRegion(c.w, c.h).isNull(), !c.tall);
        ASSERT_TRUE(down.valid);
        EXPECT_EQ(down.width, static_cast<int>(std::lround(0.26 * c.h * 562.5 / c.h)));
        EXPECT_EQ(down.height, static_cast<int>(std::lround(down.width * 0.14 / 0.26)));
        EXPECT_NEAR(down.region.left(), c.w - 0.28 * c.h, 1e-9);
        EXPECT_TRUE(synth::damageLogRegion(c.w, c.h).contains(down.region.toAlignedRect()));
        // The header lands where the damage-log reader expects it.
        synth::FrameContent f;
        f.width = c.w;
        f.height = c.h;
        const QPointF at = down.toCapture(synth::damageLogHeader(f).topLeft());
        EXPECT_NEAR(at.x(), down.width - 93.9375, 1.0);
        EXPECT_NEAR(at.y(), 37.6875, 0.5);
        if (!c.tall)
            continue;
        EXPECT_EQ(feed.width, 907); // round(0.42 * 2160)
        EXPECT_EQ(feed.height, 410);
        EXPECT_NEAR(feed.region.top(), 0.44 * c.h, 1e-9);
        EXPECT_EQ(plate.width, 972);
        EXPECT_EQ(plate.height, static_cast<int>(std::lround(972 * 0.046 / 0.45)));
        EXPECT_NEAR(plate.region.right(), c.w - 0.01 * c.h, 1e-9);
        // Feed slots are 47.952 capture pixels apart (up to the rounding of
        // the capture's height); the plate's right edge stands 50.328 pixels
        // from the capture's.
        EXPECT_NEAR(feed.toCapture(QPointF(0, 0.0222 * c.h)).y() - feed.toCapture(QPointF(0, 0)).y(), 47.952,
                    0.05);
        EXPECT_NEAR(plate.width - plate.toCapture(QPointF(c.w - 0.0333 * c.h, 0)).x(), 50.328, 1e-6);
    }
    // A narrow frame: the left region is cut at the frame's width, the right
    // ones at its left edge.
    const synth::RegionCapture narrowFeed = synth::feedCapture(400, 1200);
    ASSERT_TRUE(narrowFeed.valid);
    EXPECT_DOUBLE_EQ(narrowFeed.region.width(), 400);
    EXPECT_EQ(narrowFeed.width, 720);
    const synth::RegionCapture narrowPlate = synth::plateCapture(400, 1200);
    ASSERT_TRUE(narrowPlate.valid);
    EXPECT_DOUBLE_EQ(narrowPlate.region.left(), 0);
    EXPECT_DOUBLE_EQ(narrowPlate.region.width(), 400);
    // Frames the engine does not read at all.
    EXPECT_FALSE(synth::damageLogCapture(319, 1000).valid);
    EXPECT_FALSE(synth::damageLogCapture(1000, 239).valid);
    EXPECT_TRUE(synth::captureFeedRegion(QImage()).isNull());

    // The captures have those sizes and show the painted frame.
    synth::FrameContent f;
    f.width = 1920;
    f.height = 1080;
    f.flatScene = 50;
    synth::Plate plate;
    plate.name = "M4";
    f.plate = plate;
    const QImage img = synth::renderFrame(f);
    const QImage feedCap = synth::captureFeedRegion(img), plateCap = synth::capturePlateRegion(img);
    EXPECT_EQ(feedCap.size(), QSize(907, 410));
    EXPECT_EQ(plateCap.size(), QSize(972, 99));
    EXPECT_EQ(synth::captureDamageLogRegion(img).size(), QSize(146, 79));
    EXPECT_TRUE(synth::captureFeedRegion(img.scaled(1280, 720)).isNull());
    int bright = 0;
    for (int y = 0; y < plateCap.height(); ++y)
        for (int x = plateCap.width() - 120; x < plateCap.width(); ++x)
            bright += qGray(plateCap.pixel(x, y)) > 200;
    EXPECT_GT(bright, 100); // "M4 / 30 120" at the right end
}

TEST_F(Typesetting, FeedPlateAndDownLeaveTheCashFramesAlone) {
    synth::Variation plain;
    synth::Variation full;
    full.feed = true;
    full.plate = true;
    full.downChance = 0.5;
    synth::RandomFrames a(77, 6, plain), b(77, 6, full);
    synth::FrameContent fa, fb;
    std::int64_t ta = 0, tb = 0;
    int feeds = 0, downs = 0;
    while (a.next(fa, ta)) {
        ASSERT_TRUE(b.next(fb, tb));
        EXPECT_FALSE(fa.feed || fa.plate || fa.down);
        ASSERT_TRUE(fb.feed && fb.plate);
        feeds += !fb.feed->rows.empty();
        downs += fb.down;
        // The same cash frame; the truth only gains the new elements.
        QJsonObject tbCash = synth::truthJson(fb);
        tbCash.remove("feed");
        tbCash.remove("plate");
        tbCash.remove("down");
        tbCash.remove("damageLog");
        EXPECT_EQ(synth::truthJson(fa), tbCash);
        // The cash HUD's corner is painted alike, pixel for pixel.
        fa.degradation = fb.degradation = synth::Degradation();
        const QRect w = synth::hudWindow(fa.width, fa.height);
        EXPECT_EQ(synth::renderFrame(fa, w), synth::renderFrame(fb, w));
    }
    EXPECT_GT(feeds, 0);
    EXPECT_GT(downs, 0);
    // An empty feed paints nothing.
    synth::FrameContent empty = fa;
    empty.feed = synth::KillFeed();
    const QRect left(0, 0, 256, fa.height);
    EXPECT_EQ(synth::renderFrame(empty, left), synth::renderFrame(fa, left));
}

TEST_F(Typesetting, TruthNamesTheFeedPlateAndDown) {
    synth::FrameContent f;
    synth::KillFeed feed;
    feed.rows = {feedRow("VIPER", synth::FeedWho::Me, "GHOST_7", synth::FeedWho::Enemy, "sniper", 312, true),
                 feedRow("ODIN", synth::FeedWho::Enemy, "VIPER", synth::FeedWho::Me, "car", -1),
                 feedRow("VIPER", synth::FeedWho::Me, "VIPER", synth::FeedWho::Me, "grenade", 3),
                 feedRow("RAVEN", synth::FeedWho::Squad, "KILO", synth::FeedWho::Enemy, "rifle", 40)};
    f.feed = feed;
    synth::Plate plate;
    plate.name = "M249 SAW";
    plate.magazine = 100;
    plate.reserve = 200;
    f.plate = plate;
    QJsonObject t = synth::truthJson(f);
    const QJsonArray rows = t["feed"].toObject()["rows"].toArray();
    ASSERT_EQ(rows.size(), 4);
    const int sides[4] = {1, 2, 3, 0};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rows[i].toObject()["side"].toInt(), sides[i]) << i;
    EXPECT_EQ(rows[0].toObject()["distance"].toInt(), 312);
    EXPECT_TRUE(rows[0].toObject()["headshot"].toBool());
    EXPECT_EQ(rows[0].toObject()["icon"].toString(), "sniper");
    EXPECT_FALSE(rows[1].toObject().contains("distance"));
    EXPECT_EQ(rows[3].toObject()["killerWho"].toString(), "squad");
    EXPECT_EQ(rows[3].toObject()["band"].toArray().size(), 4);
    const QJsonObject p = t["plate"].toObject();
    EXPECT_EQ(p["key"].toString(), "M249SAW");
    EXPECT_EQ(p["class"].toString(), "lmg");
    EXPECT_EQ(p["magazine"].toInt(), 100);
    EXPECT_FALSE(t.contains("down"));
    f.down = true;
    t = synth::truthJson(f);
    EXPECT_FALSE(t.contains("plate")); // hidden while down
    EXPECT_TRUE(t["down"].toBool());
    EXPECT_EQ(t["damageLog"].toArray().size(), 4);
}

TEST_F(Typesetting, RandomFeedContentKeepsToTheGamesRules) {
    synth::Rng rng(2024);
    int me = 0, headshots = 0, brackets = 0;
    for (int i = 0; i < 300; ++i) {
        const std::string name = synth::randomPlayerName(rng);
        ASSERT_GE(name.size(), 3u);
        ASSERT_LE(name.size(), 12u);
        for (char c : name)
            ASSERT_TRUE((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_') << name;
        const synth::FeedRowContent r = synth::randomFeedRow(rng, "VIPER");
        const auto& icons = synth::iconNames();
        EXPECT_NE(std::find(icons.begin(), icons.end(), r.icon), icons.end());
        EXPECT_NE(r.icon, "skull");
        EXPECT_LE(r.distance, 9999);
        me += r.killerWho == synth::FeedWho::Me || r.victimWho == synth::FeedWho::Me;
        if (r.killerWho == synth::FeedWho::Me) {
            EXPECT_EQ(r.killer, "VIPER");
        }
        headshots += r.headshot;
        brackets += r.distance >= 0;
        const synth::Plate p = synth::randomPlate(rng);
        EXPECT_FALSE(p.name.empty());
        EXPECT_GE(p.magazine, 0);
    }
    EXPECT_GT(me, 50);
    EXPECT_GT(headshots, 20);
    EXPECT_GT(brackets, 250);
    for (int i = 0; i < 50; ++i)
        EXPECT_LE(synth::randomKillFeed(rng).rows.size(), 7u);
}

} // namespace

TEST_F(Typesetting, TheGamesOwnLookByDefaultAndTheRangeAroundIt) {
    synth::FrameContent f;
    synth::CashHud cash;
    cash.balance = 100;
    synth::RewardLine kill;
    kill.text = "KILL";
    kill.hasFigure = true;
    kill.figure = 50;
    kill.panel = true;
    synth::RewardLine zone = kill;
    zone.text = "HOT ZONE ENTERED";
    zone.panel = false;
    cash.lines = {kill, zone};
    f.cash = cash;
    const synth::HudLayout exact = synth::layoutCashHud(f);
    ASSERT_EQ(exact.lines.size(), 2u);
    const synth::HudLayout::Line& panelLine = exact.lines[0];
    const double cap = panelLine.cap;
    // Padding 0.35 cap all round: the panel is 1.7 caps tall.
    ASSERT_FALSE(panelLine.panel.isEmpty());
    EXPECT_NEAR(panelLine.panel.height(), 1.7 * cap, 1e-9);
    EXPECT_NEAR(panelLine.letters.front().second.left() - panelLine.panel.left(), 0.35 * cap, 1e-6);
    EXPECT_NEAR(panelLine.panel.right() - panelLine.letters.back().second.right(), 0.35 * cap, 1e-6);

    // Letters at the font's own spacing: looser spacing from the range only
    // widens a word by the added room between its letters.
    f.look.letterSpacing = 0.1;
    f.look.panelPad = 0.5;
    const synth::HudLayout loose = synth::layoutCashHud(f);
    for (std::size_t w = 0; w < 3; ++w) {
        const std::string& word = exact.lines[1].words[w];
        const synth::Glyphs& g = synth::Glyphs::instance();
        const double s = cap / g.capHeight();
        const double a = g.word(word).boundingRect().width() * s;
        const double b = g.word(word, 0.1).boundingRect().width() * s;
        EXPECT_NEAR(b - a, 0.1 * cap * static_cast<double>(word.size() - 1), 1e-6) << word;
    }
    EXPECT_NEAR(loose.lines[0].panel.height(), 2.0 * cap, 1e-9);
    EXPECT_LT(loose.lines[1].wordLeft[0], exact.lines[1].wordLeft[0]);

    // Squad names in the game's gold; the range drains it.
    synth::FrameContent feedFrame;
    feedFrame.flatScene = 30;
    synth::KillFeed feed;
    feed.rows = {feedRow("ODIN", synth::FeedWho::Enemy, "HHHHHH", synth::FeedWho::Squad, "rifle", 40)};
    feedFrame.feed = feed;
    const synth::FeedLayout l = synth::layoutFeed(feedFrame);
    const QImage img = synth::renderFrame(feedFrame);
    const QRectF name = l.rows[0].victimName;
    int best = 0;
    QColor brightest;
    for (int y = static_cast<int>(name.top()); y < name.bottom(); ++y)
        for (int x = static_cast<int>(name.left()); x < name.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.red() > best) {
                best = c.red();
                brightest = c;
            }
        }
    EXPECT_NEAR(brightest.red(), 210, 3);
    EXPECT_NEAR(brightest.green(), 185, 3);
    EXPECT_NEAR(brightest.blue(), 90, 3);
    // The name-to-icon gap and the icon's height are the game's.
    EXPECT_NEAR(l.rows[0].icon.left() - l.rows[0].killerName.right(), 0.5 * l.cap, 1e-6);
    EXPECT_NEAR(l.rows[0].icon.height(), 1.1 * l.cap, 0.01 * l.cap);
}

TEST(Resampling, BilinearMatchesThePixelByPixelBlend) {
    // The resampler keeps blended source rows between output rows; every
    // output pixel must still be the plain per-pixel blend, enlarged,
    // reduced, shifted and at the same size, edges included.
    QImage image(53, 37, QImage::Format_RGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            image.setPixel(x, y,
                           qRgb(static_cast<int>(state >> 24), static_cast<int>((state >> 16) & 0xFF),
                                static_cast<int>((state >> 8) & 0xFF)));
        }
    struct Case {
        QRectF src;
        int outW, outH;
    };
    const Case cases[] = {{QRectF(0, 0, 53, 37), 53, 37},
                          {QRectF(0, 0, 53, 37), 131, 90},
                          {QRectF(3.3, 2.7, 40, 30), 17, 11},
                          {QRectF(-2, -1.5, 57, 41), 100, 77},
                          {QRectF(10.25, 5.5, 8, 30), 35, 200}};
    for (const Case& c : cases) {
        const QImage out = synth::resampleBilinear(image, c.src, c.outW, c.outH);
        ASSERT_EQ(out.width(), c.outW);
        ASSERT_EQ(out.height(), c.outH);
        const double sx = c.src.width() / c.outW, sy = c.src.height() / c.outH;
        int wrong = 0;
        for (int j = 0; j < c.outH; ++j) {
            const double y = c.src.y() + (j + 0.5) * sy - 0.5;
            const double fly = std::floor(y);
            const float fy = static_cast<float>(y - fly);
            const int ya = std::clamp(static_cast<int>(fly), 0, image.height() - 1);
            const int yb = std::clamp(static_cast<int>(fly) + 1, 0, image.height() - 1);
            for (int i = 0; i < c.outW; ++i) {
                const double x = c.src.x() + (i + 0.5) * sx - 0.5;
                const double flx = std::floor(x);
                const float tx = static_cast<float>(x - flx);
                const int xa = std::clamp(static_cast<int>(flx), 0, image.width() - 1);
                const int xb = std::clamp(static_cast<int>(flx) + 1, 0, image.width() - 1);
                auto mix = [&](int (*ch)(QRgb)) {
                    const float top = ch(image.pixel(xa, ya)) * (1 - tx) + ch(image.pixel(xb, ya)) * tx;
                    const float bot = ch(image.pixel(xa, yb)) * (1 - tx) + ch(image.pixel(xb, yb)) * tx;
                    return std::clamp(static_cast<int>(std::lround(top * (1 - fy) + bot * fy)), 0, 255);
                };
                const QRgb want = qRgb(mix(qRed), mix(qGreen), mix(qBlue));
                wrong += (out.pixel(i, j) & 0xFFFFFF) != (want & 0xFFFFFF) ? 1 : 0;
            }
        }
        EXPECT_EQ(wrong, 0) << c.outW << "x" << c.outH;
    }
}
