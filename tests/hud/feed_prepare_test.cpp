// The kill feed's streaming preparation against the frame preparation it
// replaces: every plane the feed reads must come out bit for bit the same,
// whatever the frame's size, content, stride or history of sizes.

#include "hud/feed/prepare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Capture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> pixels;

    hud::FrameView view() const {
        hud::FrameView v;
        v.width = width;
        v.height = height;
        v.stride = stride;
        v.pixels = pixels.data();
        return v;
    }
};

// A dark scene with bright text-sized strokes and a few light areas, so that
// the mask has both set and clear pixels and the opening meets every border.
Capture paint(int width, int height, int padding, std::uint32_t seed) {
    Capture c;
    c.width = width;
    c.height = height;
    c.stride = 4 * width + padding;
    c.pixels.assign(static_cast<std::size_t>(c.stride) * static_cast<std::size_t>(height), 7);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(0, 60);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = c.pixels.data() + static_cast<std::size_t>(y) * c.stride + 4 * x;
            const bool stroke = (x / 3 + y / 5) % 7 == 0 && (y / 12) % 2 == 0;
            const bool light = x > width / 2 && y > height / 2 && (x + y) % 97 < 40;
            for (int k = 0; k < 3; ++k)
                px[k] = static_cast<std::uint8_t>(stroke  ? 200 + noise(rng) / 2
                                                  : light ? 150 + noise(rng)
                                                          : noise(rng));
            px[3] = 255;
        }
    return c;
}

void expectSamePlanes(const Capture& c, hud::FramePlanes& streamed, hud::FeedPrepScratch& scratch) {
    hud::FramePlanes reference;
    hud::prepareFrame(c.view(), reference);
    hud::prepareFeedPlanes(c.view(), streamed, scratch);
    const std::string at = std::to_string(c.width) + "x" + std::to_string(c.height);
    ASSERT_EQ(streamed.smooth.width, reference.smooth.width) << at;
    ASSERT_EQ(streamed.ink.height, reference.ink.height) << at;
    ASSERT_EQ(streamed.mask.size(), reference.mask.size()) << at;
    EXPECT_EQ(streamed.mask, reference.mask) << at;
    EXPECT_EQ(0, std::memcmp(streamed.ink.pixels.data(), reference.ink.pixels.data(),
                             reference.ink.pixels.size() * sizeof(float)))
        << at;
    EXPECT_EQ(0, std::memcmp(streamed.smooth.pixels.data(), reference.smooth.pixels.data(),
                             reference.smooth.pixels.size() * sizeof(float)))
        << at;
    if (c.width >= 100) { // the strokes are text to the mask, the scene is not
        EXPECT_GT(std::count(reference.mask.begin(), reference.mask.end(), 1), c.width) << at;
    }
    EXPECT_FALSE(streamed.maskBlobsReady);
    EXPECT_FALSE(streamed.textBlobsReady);
}

TEST(FeedPrepare, MatchesTheFramePreparationBitForBit) {
    // The engine's feed capture, widths off the vector width, frames just
    // large enough for the streaming sweep and below it, and one buffer set
    // reused across all of them as a stream of changing sizes would.
    const int sizes[][2] = {{907, 475}, {453, 237}, {333, 101}, {18, 18}, {19, 40}, {17, 17}, {5, 3}, {1, 1}};
    hud::FramePlanes streamed;
    hud::FeedPrepScratch scratch;
    std::uint32_t seed = 3;
    for (const auto& size : sizes)
        expectSamePlanes(paint(size[0], size[1], size[0] % 3 == 0 ? 8 : 0, seed++), streamed, scratch);
}

TEST(FeedPrepare, AnInvalidFrameLeavesNoPlanes) {
    hud::FramePlanes planes;
    hud::FeedPrepScratch scratch;
    hud::prepareFeedPlanes(paint(64, 64, 0, 1).view(), planes, scratch);
    ASSERT_FALSE(planes.mask.empty());
    hud::FrameView none;
    none.width = 64;
    none.height = 64;
    none.stride = 256;
    hud::prepareFeedPlanes(none, planes, scratch);
    EXPECT_TRUE(planes.mask.empty());
    EXPECT_TRUE(planes.ink.empty());
    EXPECT_TRUE(planes.smooth.empty());
}

} // namespace
