// Source identity against a real libobs core (no video, no front end).

#include "plugin/obs-compat.h"

#include <obs-module.h>
#include <obs-nix-platform.h>

#include <gtest/gtest.h>

// After Qt and libobs: Xlib defines macros (Bool, Status) that clash with them.
#include <X11/Xlib.h>

namespace {

obs_source_info testSourceInfo() {
    obs_source_info info = {};
    info.id = "corvex_test_source";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_VIDEO;
    info.get_name = [](void*) { return "Corvex test source"; };
    info.create = [](obs_data_t*, obs_source_t*) -> void* { return reinterpret_cast<void*>(1); };
    info.destroy = [](void*) {};
    return info;
}

class ObsCore : public ::testing::Test {
protected:
    // libobs on Linux needs an X display even without video.
    static void SetUpTestSuite() {
        display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr) << "no X display: run under Xvfb";
        obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
        obs_set_nix_platform_display(display);
        ASSERT_TRUE(obs_startup("en-US", nullptr, nullptr));
        obs_source_info info = testSourceInfo();
        obs_register_source(&info);
    }
    static void TearDownTestSuite() {
        compat::releaseSourceIds();
        if (obs_initialized()) {
            obs_shutdown();
        }
        if (display) {
            XCloseDisplay(display);
        }
    }
    void SetUp() override { ASSERT_TRUE(obs_initialized()); }
    static inline Display* display = nullptr;
};

TEST_F(ObsCore, SourceIdsFollowRenamesAndDieWithTheSource) {
    obs_source_t* a = obs_source_create("corvex_test_source", "Game A", nullptr, nullptr);
    obs_source_t* b = obs_source_create("corvex_test_source", "Game B", nullptr, nullptr);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);

    const QString idA = compat::sourceUuid(a);
    const QString idB = compat::sourceUuid(b);
    EXPECT_FALSE(idA.isEmpty());
    EXPECT_NE(idA, idB);
    EXPECT_EQ(compat::sourceUuid(a), idA); // stable

    obs_source_set_name(a, "Renamed");
    obs_source_t* found = compat::sourceByUuid(idA);
    EXPECT_EQ(found, a);
    obs_source_release(found);
    EXPECT_EQ(compat::sourceUuid(a), idA);

    obs_source_remove(b);
    obs_source_release(b);
    EXPECT_EQ(compat::sourceByUuid(idB), nullptr);
    EXPECT_EQ(compat::sourceByUuid(QString()), nullptr);
    EXPECT_EQ(compat::sourceByUuid(QStringLiteral("no-such-id")), nullptr);
    EXPECT_TRUE(compat::sourceUuid(nullptr).isEmpty());

    obs_source_remove(a);
    obs_source_release(a);
}

} // namespace
