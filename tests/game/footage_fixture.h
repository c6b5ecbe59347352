#pragma once

// What every test on painted footage needs first: a GUI application for the
// painter's fonts, the glyphs, the HUD model and the kill-feed data; and
// what the cash HUD's tests share: frames built from their case tables, read
// as the engine captures them, at the far ends of the look's range.

#include "feedrun.h"
#include "hudio.h"
#include "synth.h"

#include "hud/cash/pass.h"
#include "hud/core/model.h"
#include "hud/feed/killdata.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// A reward line as painted; a figure or amount of 0 is none shown.
struct PaintedLine {
    const char* text;
    std::int64_t figure = 0;
    int xp = 0;
    bool panel = false;
};

// A frame's look drawn from the range around the game's own.
inline synth::Look drawnLook(double letterSpacing, double panelPad, double iconHeight, double nameIconGap,
                             double iconBracketGap, double victimGap, double squadDrain) {
    synth::Look l;
    l.letterSpacing = letterSpacing;
    l.panelPad = panelPad;
    l.iconHeight = iconHeight;
    l.nameIconGap = nameIconGap;
    l.iconBracketGap = iconBracketGap;
    l.victimGap = victimGap;
    l.squadDrain = squadDrain;
    return l;
}

// A row of a cash HUD case table (see FootageTest::cashFrame): a change of
// 0 is none shown.
struct CashCase {
    int width, height;
    double k;
    std::uint32_t scene;
    bool bright;
    int jpeg;
    double blur, sourceScale;
    std::int64_t balance, change;
    std::vector<PaintedLine> lines;
    synth::Look look = {};
};

class FootageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "corvex_game_tests";
        static char* argv[] = {name, nullptr};
        synth::ensureGuiApp(argc, argv);
        ASSERT_TRUE(synth::Glyphs::instance().ok()) << synth::Glyphs::instance().error().toStdString();
        QString error;
        model_ = synth::loadModelFile(synth::defaultModelPath(), &error);
        ASSERT_TRUE(model_) << error.toStdString();
        std::string message;
        killData_ = hud::loadKillData(synth::defaultKillDataPath().toStdString(), &message);
        ASSERT_TRUE(killData_) << message;
    }

    static synth::FeedRowContent feedRow(const char* killer, synth::FeedWho kw, const char* victim,
                                         synth::FeedWho vw, const char* icon, int distance,
                                         bool headshot = false) {
        synth::FeedRowContent r;
        r.killer = killer;
        r.killerWho = kw;
        r.victim = victim;
        r.victimWho = vw;
        r.icon = icon;
        r.distance = distance;
        r.headshot = headshot;
        return r;
    }

    // The cash HUD window of a painted frame, captured as the engine does.
    static hud::HudReading read(const synth::FrameContent& f) {
        const QRect window = synth::hudWindow(f.width, f.height);
        const QImage capture =
            synth::captureHudRegion(synth::renderFrame(f, window), window.topLeft(), f.width, f.height);
        return hud::readHud(*model_, synth::frameView(capture), synth::engineOptions());
    }

    // A frame of one row of a case table: every table names its frame size,
    // HUD scale `k`, scene, bright world, degradation, balance, change (0:
    // none shown) and painted lines the same way.
    template <class Case>
    static synth::FrameContent cashFrame(const Case& c, const synth::Look& look = synth::Look{}) {
        synth::FrameContent f;
        f.look = look;
        f.width = c.width;
        f.height = c.height;
        f.hudScale = c.k;
        f.sceneSeed = c.scene;
        f.brightBehindHud = c.bright;
        f.degradation.jpegQuality = c.jpeg;
        f.degradation.blurSigma = c.blur;
        f.degradation.sourceScale = c.sourceScale;
        synth::CashHud cash;
        cash.balance = c.balance;
        if (c.change != 0)
            cash.change = c.change;
        for (const PaintedLine& p : c.lines) {
            synth::RewardLine l;
            l.text = p.text;
            l.hasFigure = p.figure != 0;
            l.figure = p.figure;
            l.hasXp = p.xp != 0;
            l.xp = p.xp;
            l.panel = p.panel;
            cash.lines.push_back(l);
        }
        f.cash = cash;
        return f;
    }

    // The letters of reward phrases a tenth of a cap further apart on the
    // roomiest panel, and the font's own spacing on the narrowest panel.
    static synth::Look wideLook() {
        synth::Look l;
        l.letterSpacing = 0.1;
        l.panelPad = 0.5;
        return l;
    }
    static synth::Look tightLook() {
        synth::Look l;
        l.panelPad = 0.3;
        return l;
    }

    // A frame at the far ends of the range around the game's look: wide and
    // tight letters and panels; the smallest frame and HUD scale with a
    // stream's recompression and blur; the largest frame and HUD scale.
    static std::vector<synth::FrameContent> rangeEnds(const synth::FrameContent& f) {
        std::vector<synth::FrameContent> out(4, f);
        out[0].look.letterSpacing = wideLook().letterSpacing;
        out[0].look.panelPad = wideLook().panelPad;
        out[1].look.letterSpacing = tightLook().letterSpacing;
        out[1].look.panelPad = tightLook().panelPad;
        out[2].width = 1280;
        out[2].height = 720;
        out[2].hudScale = 0.8;
        out[2].degradation = {1.0, 0.53, 50};
        out[3].width = 3840;
        out[3].height = 2160;
        out[3].hudScale = 1.3;
        out[3].degradation = {1.1, 1.6, 50};
        return out;
    }

    // Every figure or amount read is one that was painted on a line.
    static void expectNoneMadeUp(const std::vector<PaintedLine>& painted, const hud::HudReading& r,
                                 const std::string& where) {
        for (const hud::HudLine& l : r.lines) {
            if (l.hasFigure) {
                EXPECT_TRUE(std::any_of(painted.begin(), painted.end(),
                                        [&](const PaintedLine& p) { return p.figure == l.figure; }))
                    << where << ": figure " << l.figure << " read, never painted";
            }
            if (l.hasXp) {
                EXPECT_TRUE(std::any_of(painted.begin(), painted.end(),
                                        [&](const PaintedLine& p) { return p.xp == l.xp; }))
                    << where << ": amount " << l.xp << " read, never painted";
            }
        }
    }

    static inline std::shared_ptr<const hud::Model> model_;
    static inline std::shared_ptr<const hud::KillData> killData_;
};
