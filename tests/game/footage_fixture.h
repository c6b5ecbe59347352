#pragma once

// What every test on painted footage needs first: a GUI application for the
// painter's fonts, the glyphs, the HUD model and the kill-feed data.

#include "feedrun.h"
#include "hudio.h"
#include "synth.h"

#include "hud/core/model.h"
#include "hud/feed/killdata.h"

#include <QString>

#include <memory>
#include <string>

#include <gtest/gtest.h>

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

    static inline std::shared_ptr<const hud::Model> model_;
    static inline std::shared_ptr<const hud::KillData> killData_;
};
