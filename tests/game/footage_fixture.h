#pragma once

// What every test on painted footage needs first: a GUI application for the
// painter's fonts, the glyphs and the HUD model.

#include "hudio.h"
#include "synth.h"

#include "hud/core/model.h"

#include <QString>

#include <memory>

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
    }

    static inline std::shared_ptr<const hud::Model> model_;
};
