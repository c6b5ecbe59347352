// Painted feed rows read twice: with the kill data as loaded, whose bounds
// and row sums let the reader pass over templates and icons, and with a copy
// stripped of them, which scores everything. The readings must not differ
// in anything, at the game's look and at the ends of the range around it.

#include "footage_fixture.h"

#include "hud/feed/feed.h"

#include <cstring>

namespace {

class FeedBoundsFrames : public FootageTest {};

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(FeedBoundsFrames, ThePassedOverTemplatesAndIconsChangeNoReading) {
    auto stripped = std::make_shared<hud::KillData>(*killData_);
    stripped->digitBounds.clear();
    for (hud::KillIcon& icon : stripped->icons) {
        icon.rowSums.clear();
        icon.topSums.clear();
    }

    using W = synth::FeedWho;
    synth::KillFeed feed;
    feed.rows = {
        feedRow("CORVEX_ME", W::Me, "NORDWIND", W::Enemy, "sniper", 1234, true),
        feedRow("KESTREL", W::Enemy, "CORVEX_ME", W::Me, "shotgun", 7, false),
        feedRow("CORVEX_ME", W::Me, "CORVEX_ME", W::Me, "grenade", 12, false),
        feedRow("AXOLOTL", W::Team, "B4SILISK", W::Enemy, "boltgun", 85, false),
        feedRow("MORROW", W::Squad, "TALLGRASS", W::Enemy, "pistol", 340, true),
        feedRow("VIPER_07", W::Enemy, "HOLLOWAY", W::Team, "lmg", 1, false),
        feedRow("CORVEX_ME", W::Me, "AXO", W::Enemy, "rifle", 908, false),
    };

    struct Case {
        int width, height;
        double letterSpacing, iconHeight, nameGap, blur;
        int jpeg;
    };
    const Case cases[] = {
        {1920, 1080, 0.0, 1.1, 0.5, 0.0, 0},  // the game's own look
        {3840, 2160, 0.0, 1.1, 0.5, 1.6, 50}, // the benchmark's blurred stream
        {2560, 1440, 0.1, 1.3, 0.8, 0.0, 95}, // the range's wide end
        {1920, 1080, 0.0, 1.0, 0.4, 0.8, 60}, // its narrow end, blurred
    };
    int rowsCompared = 0;
    for (const Case& c : cases) {
        synth::FrameContent f;
        f.width = c.width;
        f.height = c.height;
        f.sceneSeed = 21;
        f.feed = feed;
        f.look.letterSpacing = c.letterSpacing;
        f.look.iconHeight = c.iconHeight;
        f.look.nameIconGap = c.nameGap;
        f.degradation.blurSigma = c.blur;
        f.degradation.jpegQuality = c.jpeg;
        const QImage cap = synth::captureFeedRegion(synth::renderFrame(f));
        const hud::FrameView v = synth::frameView(cap);
        const hud::FeedRead fast =
            hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
        const hud::FeedRead full =
            hud::readFeedRows(*model_, *stripped, v.pixels, v.width, v.height, v.stride);
        ASSERT_EQ(fast.rows.size(), full.rows.size()) << c.width << "x" << c.height;
        EXPECT_GE(fast.rows.size(), 5u) << c.width << "x" << c.height;
        for (std::size_t i = 0; i < fast.rows.size(); ++i) {
            const hud::FeedRow& a = fast.rows[i];
            const hud::FeedRow& b = full.rows[i];
            SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " row " +
                         std::to_string(i));
            EXPECT_EQ(a.text, b.text);
            EXPECT_EQ(a.side, b.side);
            EXPECT_EQ(a.hasDistance, b.hasDistance);
            EXPECT_EQ(a.distance, b.distance);
            EXPECT_TRUE(sameBits(a.distanceConfidence, b.distanceConfidence));
            EXPECT_EQ(a.glyphs, b.glyphs);
            EXPECT_EQ(a.icon, b.icon);
            EXPECT_TRUE(sameBits(a.iconScore, b.iconScore));
            EXPECT_EQ(a.headshot, b.headshot);
            ++rowsCompared;
        }
    }
    EXPECT_GE(rowsCompared, 20);
}

} // namespace
