// The painter's typesetting and randomness: the model and the test footage
// depend on both staying exactly as the game draws its HUD.

#include "synth.h"

#include <gtest/gtest.h>

#include <QJsonArray>

namespace {

class Typesetting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "corvex_game_tests";
        static char* argv[] = {name, nullptr};
        synth::ensureGuiApp(argc, argv);
        ASSERT_TRUE(synth::Glyphs::instance().ok());
    }
};

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
    synth::FrameSpec f;
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
    synth::FrameSpec fa, fb;
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
    synth::FrameSpec f;
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

} // namespace
