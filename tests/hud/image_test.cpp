#include "hud/core/image.h"

#include "hud/core/helper.h"

#include "hud/cash/money-strip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <cstdint>
#include <limits>
#include <random>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

using hud::Blob;
using hud::Plane;

namespace {

Plane plane(int w, int h, float fill = 0.0f) {
    Plane p;
    p.resize(w, h);
    std::fill(p.pixels.begin(), p.pixels.end(), fill);
    return p;
}

float& at(Plane& p, int x, int y) {
    return p.pixels[static_cast<std::size_t>(y * p.width + x)];
}

Plane randomPlane(int w, int h, unsigned seed) {
    std::mt19937 gen(seed);
    Plane p = plane(w, h);
    for (float& v : p.pixels)
        v = static_cast<float>(gen() % 256) * 0.587f + static_cast<float>(gen() % 256) * 0.114f;
    return p;
}

// The clipped-window minimum or maximum, straight from its definition.
Plane bruteMorph(const Plane& in, int size, bool isMax) {
    const int r = size / 2;
    Plane out = plane(in.width, in.height);
    for (int y = 0; y < in.height; ++y)
        for (int x = 0; x < in.width; ++x) {
            float v = in.at(x, y);
            for (int yy = std::max(y - r, 0); yy <= std::min(y + r, in.height - 1); ++yy)
                for (int xx = std::max(x - r, 0); xx <= std::min(x + r, in.width - 1); ++xx)
                    v = isMax ? std::max(v, in.at(xx, yy)) : std::min(v, in.at(xx, yy));
            at(out, x, y) = v;
        }
    return out;
}

// The 3x3 mean through an integral image of doubles, as the smoothing is defined.
Plane integralMean(const Plane& in) {
    const int w = in.width;
    const int h = in.height;
    std::vector<double> s(static_cast<std::size_t>((w + 1) * (h + 1)), 0.0);
    auto S = [&](int y, int x) -> double& { return s[static_cast<std::size_t>(y * (w + 1) + x)]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            S(y + 1, x + 1) = in.at(x, y) + S(y, x + 1) + S(y + 1, x) - S(y, x);
    Plane out = plane(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int r0 = std::max(y - 1, 0), r1 = std::min(y + 2, h);
            const int c0 = std::max(x - 1, 0), c1 = std::min(x + 2, w);
            at(out, x, y) =
                static_cast<float>((S(r1, c1) - S(r0, c1) - S(r1, c0) + S(r0, c0)) / ((c1 - c0) * (r1 - r0)));
        }
    return out;
}

std::vector<std::uint8_t> maskOf(int w, int h, const std::vector<std::pair<int, int>>& on) {
    std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h), 0);
    for (auto [x, y] : on)
        m[static_cast<std::size_t>(y * w + x)] = 1;
    return m;
}

Blob blob(int x0, int y0, int x1, int y1) {
    Blob b;
    b.x0 = x0;
    b.y0 = y0;
    b.x1 = x1;
    b.y1 = y1;
    b.area = b.width() * b.height();
    return b;
}

} // namespace

TEST(HudImage, InvalidFramesGiveEmptyPlanes) {
    std::vector<std::uint8_t> px(64, 200);
    hud::FramePlanes planes;
    const hud::FrameView bad[] = {
        {0, 0, px.data(), 0},   {4, 4, nullptr, 16},       {4, 4, px.data(), 15},
        {-3, 4, px.data(), 16}, {100000, 1, px.data(), 0}, {20000, 20000, px.data(), 80000},
    };
    for (const hud::FrameView& f : bad) {
        EXPECT_FALSE(f.valid());
        hud::prepareFrame(f, planes);
        EXPECT_TRUE(planes.smooth.empty());
        EXPECT_TRUE(planes.ink.empty());
        EXPECT_TRUE(planes.mask.empty());
    }
    const hud::FrameView one{1, 1, px.data(), 4};
    hud::prepareFrame(one, planes);
    ASSERT_EQ(planes.ink.pixels.size(), 1u);
    EXPECT_EQ(planes.mask[0], 0);
}

TEST(HudImage, LumaHonoursStrideAndChannelOrder) {
    // Two rows of two pixels with eight bytes of padding per row.
    std::vector<std::uint8_t> px(2 * 16, 0xEE);
    auto set = [&](int x, int y, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
        std::uint8_t* p = px.data() + y * 16 + x * 4;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    };
    set(0, 0, 0, 0, 255);
    set(1, 0, 0, 255, 0);
    set(0, 1, 255, 0, 0);
    set(1, 1, 10, 20, 30);
    const Plane y = hud::toLuma({2, 2, px.data(), 16});
    ASSERT_EQ(y.pixels.size(), 4u);
    EXPECT_FLOAT_EQ(y.at(0, 0), 255 * 0.299f);
    EXPECT_FLOAT_EQ(y.at(1, 0), 255 * 0.587f);
    EXPECT_FLOAT_EQ(y.at(0, 1), 255 * 0.114f);
    EXPECT_EQ(y.at(1, 1), 30.0f * 0.299f + 20.0f * 0.587f + 10.0f * 0.114f);
}

TEST(HudImage, ResizedPlanesReadZeroPastTheOldSizeAndReshapedOnesKeepTheirs) {
    Plane p;
    p.resize(3, 2);
    std::fill(p.pixels.begin(), p.pixels.end(), 7.0f);
    p.resize(2, 2); // shrinking keeps the first four
    p.resize(4, 3); // growing clears only what is new
    ASSERT_EQ(p.pixels.size(), 12u);
    for (std::size_t i = 0; i < p.pixels.size(); ++i)
        EXPECT_EQ(p.pixels[i], i < 4 ? 7.0f : 0.0f) << i;
    p.reshape(2, 1);
    p.reshape(3, 1);
    EXPECT_EQ(p.pixels[2], 7.0f) << "reshape leaves the buffer's values alone";
    p.reshape(0, 5);
    EXPECT_TRUE(p.empty());
    EXPECT_TRUE(p.pixels.empty());
}

TEST(HudImage, BuildersWriteEveryPixelOfReusedPlanes) {
    // Builders size their output without clearing it: any pixel one of them
    // skipped would keep the poison left in these planes.
    const float poison = std::numeric_limits<float>::quiet_NaN();
    auto poisoned = [&](int w, int h) {
        Plane p;
        p.resize(w, h);
        std::fill(p.pixels.begin(), p.pixels.end(), poison);
        return p;
    };
    std::mt19937 gen(5);
    for (auto [w, h] : {std::pair{31, 17}, std::pair{300, 9}, std::pair{4, 40}, std::pair{1, 1}}) {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
        for (auto& b : px)
            b = static_cast<std::uint8_t>(gen());
        const hud::FrameView frame{w, h, px.data(), w * 4};
        const Plane luma = hud::toLuma(frame);
        const Plane smooth = hud::boxMean3(luma);
        const Plane hat = hud::topHat(smooth, 9);

        Plane out = poisoned(w + 5, h + 3);
        hud::toLuma(frame, out);
        EXPECT_EQ(out.pixels, luma.pixels) << w << "x" << h;
        std::vector<float> plain(3, poison);
        hud::toLuma(frame, plain);
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), luma.pixels.begin(), luma.pixels.end()));

        std::vector<double> sums(4, poison);
        out = poisoned(w, h + 1);
        hud::boxMean3(luma, out, sums);
        EXPECT_EQ(out.pixels, smooth.pixels) << w << "x" << h;

        Plane tmpA = poisoned(w * 2, h);
        Plane tmpB = poisoned(w, h * 2);
        out = poisoned(w, h);
        hud::topHat(smooth, 9, out, tmpA, tmpB);
        EXPECT_EQ(out.pixels, hat.pixels) << w << "x" << h;

        const Plane ramp = hud::contrastRamp(hat);
        out = poisoned(w + 1, h);
        hud::contrastRamp(hat, out);
        EXPECT_EQ(out.pixels, ramp.pixels) << w << "x" << h;

        hud::FramePlanes fresh;
        hud::prepareFrame(frame, fresh);
        hud::FramePlanes reused;
        for (Plane* q :
             {&reused.smooth, &reused.ink, &reused.scratch.luma, &reused.scratch.tmpA, &reused.scratch.tmpB})
            *q = poisoned(w + 9, h + 9);
        hud::prepareFrame(frame, reused);
        EXPECT_EQ(reused.smooth.pixels, fresh.smooth.pixels) << w << "x" << h;
        EXPECT_EQ(reused.ink.pixels, fresh.ink.pixels) << w << "x" << h;
        EXPECT_EQ(reused.mask, fresh.mask) << w << "x" << h;
    }
    std::vector<float> none(2, 1.0f);
    hud::toLuma(hud::FrameView{}, none);
    EXPECT_TRUE(none.empty());
}

TEST(HudImage, UniformFrameHasNoInk) {
    std::vector<std::uint8_t> px(40 * 30 * 4, 180);
    hud::FramePlanes planes;
    hud::prepareFrame({40, 30, px.data(), 160}, planes);
    ASSERT_EQ(planes.ink.pixels.size(), 1200u);
    EXPECT_TRUE(
        std::all_of(planes.ink.pixels.begin(), planes.ink.pixels.end(), [](float v) { return v == 0; }));
    EXPECT_TRUE(std::all_of(planes.mask.begin(), planes.mask.end(), [](std::uint8_t v) { return v == 0; }));
    EXPECT_FALSE(planes.textBlobsReady);
}

TEST(HudImage, BrightStrokeOnDarkIsInk) {
    // A 3-pixel-wide vertical stroke, luma 230 on 40: narrower than the
    // top-hat window, so it survives as ink and mask.
    const int w = 30, h = 30;
    std::vector<std::uint8_t> px(w * h * 4, 40);
    for (int y = 5; y < 25; ++y)
        for (int x = 14; x < 17; ++x)
            std::fill_n(px.data() + (y * w + x) * 4, 3, 230);
    hud::FramePlanes planes;
    hud::prepareFrame({w, h, px.data(), w * 4}, planes);
    EXPECT_EQ(planes.mask[15 * w + 15], 1);
    EXPECT_FLOAT_EQ(planes.ink.at(15, 15), 1.0f);
    EXPECT_EQ(planes.mask[15 * w + 5], 0);
    EXPECT_EQ(planes.ink.at(5, 15), 0.0f);
}

TEST(HudImage, PreparedPlanesFollowTheirDefinitionOnEveryPixel) {
    // Random text-like frames whose widths are not multiples of the vector
    // widths: every pixel of the ramp and the mask equals the plain formula
    // over the public builders, the last pixels of each block included.
    std::mt19937 gen(5);
    for (auto [w, h] : {std::pair{37, 23}, {64, 9}, {15, 40}}) {
        std::vector<std::uint8_t> px(static_cast<std::size_t>(w * h * 4));
        for (std::size_t i = 0; i < px.size(); i += 4) {
            const auto v = static_cast<std::uint8_t>(gen() % 3 == 0 ? 150 + gen() % 106 : gen() % 90);
            px[i] = px[i + 1] = px[i + 2] = v;
        }
        const hud::FrameView frame{w, h, px.data(), w * 4};
        hud::FramePlanes planes;
        hud::prepareFrame(frame, planes);
        const Plane smooth = hud::boxMean3(hud::toLuma(frame));
        const Plane opened = hud::dilate(hud::erode(smooth, 9), 9);
        ASSERT_EQ(planes.ink.pixels.size(), smooth.pixels.size());
        ASSERT_EQ(planes.mask.size(), smooth.pixels.size());
        int set = 0;
        for (std::size_t i = 0; i < smooth.pixels.size(); ++i) {
            const float th = smooth.pixels[i] - opened.pixels[i];
            const float ink = std::min(std::max((th - 14.0f) / 46.0f, 0.0f), 1.0f);
            const bool mask = th > 34.0f && smooth.pixels[i] > 95.0f;
            ASSERT_EQ(planes.ink.pixels[i], ink) << w << "x" << h << " pixel " << i;
            ASSERT_EQ(planes.mask[i], mask ? 1 : 0) << w << "x" << h << " pixel " << i;
            set += mask;
        }
        EXPECT_GT(set, 0);
    }
}

TEST(HudImage, PreparedPlanesEqualTheWholePlaneStagesAtAnySize) {
    // The preparation works a few rows at a time; at every size, both
    // parities of height, frames narrower or shorter than the window, rows
    // with padding and buffers left from a larger frame, its planes equal
    // those of the public whole-plane builders bit for bit; so do they with
    // the lower rows prepared on a helper thread, the seam's neighbourhoods
    // included.
    std::mt19937 gen(11);
    hud::FramePlanes planes; // reused, so each frame meets the last one's buffers
    const std::pair<int, int> sizes[] = {
        {907, 475}, {1, 1},   {2, 3},   {3, 2},  {4, 1},   {1, 4},   {1, 37},   {37, 1},  {5, 5},
        {9, 9},     {10, 11}, {17, 8},  {8, 17}, {33, 20}, {64, 65}, {260, 7},  {7, 260}, {16, 12},
        {19, 10},   {20, 9},  {27, 14}, {28, 3}, {907, 2}, {16, 64}, {33, 131}, {2, 70},  {64, 66}};
    hud::HelperThread two;
    for (auto [w, h] : sizes) {
        const int stride = w * 4 + 12;
        std::vector<std::uint8_t> px(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                std::uint8_t* p = px.data() + y * stride + x * 4;
                const bool text = (x / 3 + y / 5) % 4 == 0 && gen() % 4 != 0;
                for (int c = 0; c < 3; ++c)
                    p[c] = static_cast<std::uint8_t>(text ? 170 + gen() % 86 : gen() % 110);
            }
        const hud::FrameView frame{w, h, px.data(), stride};
        const Plane smooth = hud::boxMean3(hud::toLuma(frame));
        const Plane opened = hud::dilate(hud::erode(smooth, 9), 9);
        for (hud::HelperThread* helper : {static_cast<hud::HelperThread*>(nullptr), &two}) {
            hud::prepareFrame(frame, planes, helper);
            ASSERT_EQ(planes.smooth.width, w);
            ASSERT_EQ(planes.smooth.height, h);
            ASSERT_EQ(planes.ink.pixels.size(), smooth.pixels.size());
            ASSERT_EQ(planes.mask.size(), smooth.pixels.size());
            for (std::size_t i = 0; i < smooth.pixels.size(); ++i) {
                const float th = smooth.pixels[i] - opened.pixels[i];
                ASSERT_EQ(planes.smooth.pixels[i], smooth.pixels[i]) << w << "x" << h << " pixel " << i;
                ASSERT_EQ(planes.ink.pixels[i], std::min(std::max((th - 14.0f) / 46.0f, 0.0f), 1.0f))
                    << w << "x" << h << " pixel " << i;
                ASSERT_EQ(planes.mask[i], (th > 34.0f && smooth.pixels[i] > 95.0f) ? 1 : 0)
                    << w << "x" << h << " pixel " << i;
            }
        }
    }
}

TEST(HudImage, BoxMeanRoundsAsTheDivisionDoesNearHalfwayMeans) {
    // Windows whose mean lies a few units of a double's last place from
    // halfway between two floats, where a product with the reciprocal 1/9
    // rounds to the other float: the mean is still the divided one, in
    // every lane of a vector step, of both halves of a double step and of
    // the single steps after them.
    // The second window's mean is exactly halfway (1 + 2^-24), a tie the
    // division breaks to even.
    const float windows[][3] = {{0x1.c09c1p+2f, 0x1.4p-23f, 0x1p-50f}, {9.0f, 0x1.2p-21f, 0.0f}};
    for (const auto& [a, b, c] : windows) {
        const double sum = static_cast<double>(a) + b + c;
        const float divided = static_cast<float>(sum / 9.0);
        if (c != 0.0f) {
            ASSERT_NE(divided, static_cast<float>(sum * (1.0 / 9.0))); // the case is a real one
        }
        for (int column : {2, 3, 4, 5, 7, 9, 12, 16, 17, 18, 20, 22}) {
            Plane p = plane(25, 3);
            at(p, column, 0) = a;
            at(p, column, 1) = b;
            at(p, column, 2) = c;
            const Plane m = hud::boxMean3(p);
            for (int x = column - 1; x <= column + 1; ++x)
                EXPECT_EQ(m.at(x, 1), divided) << a << " " << column << " " << x;
        }
    }
}

TEST(HudImage, BoxMeanShrinksAtTheBorders) {
    Plane p = plane(6, 6);
    at(p, 0, 0) = 36.0f;
    at(p, 3, 0) = 36.0f;
    at(p, 3, 3) = 36.0f;
    const Plane m = hud::boxMean3(p);
    EXPECT_FLOAT_EQ(m.at(0, 0), 9.0f); // corner: a 2x2 window
    EXPECT_FLOAT_EQ(m.at(3, 0), 6.0f); // top edge: 3x2
    EXPECT_FLOAT_EQ(m.at(3, 4), 4.0f); // inside: 3x3
    EXPECT_FLOAT_EQ(hud::boxMean3(plane(1, 1, 7.0f)).at(0, 0), 7.0f);
    EXPECT_FLOAT_EQ(hud::boxMean3(plane(1, 3, 3.0f)).at(0, 1), 3.0f);
    EXPECT_TRUE(hud::boxMean3(Plane{}).empty());
}

TEST(HudImage, BoxMeanMatchesTheIntegralImage) {
    for (auto [w, h] : {std::pair{1, 1}, {2, 7}, {9, 1}, {33, 17}}) {
        const Plane p = randomPlane(w, h, static_cast<unsigned>(w * 31 + h));
        EXPECT_EQ(hud::boxMean3(p).pixels, integralMean(p).pixels) << w << "x" << h;
    }
}

TEST(HudImage, MorphologyMatchesTheClippedWindow) {
    // Planes wider than one strip of the small-window pass (256 columns),
    // strips inside the plane and a last strip narrower than the window,
    // check the strip seams.
    for (auto [w, h] : {std::pair{1, 1}, {1, 12}, {12, 1}, {7, 5}, {40, 23}, {800, 5}, {515, 9}, {259, 6}}) {
        const Plane p = randomPlane(w, h, static_cast<unsigned>(w + 100 * h));
        for (int size : {0, 1, 2, 3, 9, 10, 31, 1000}) {
            EXPECT_EQ(hud::erode(p, size).pixels, bruteMorph(p, size, false).pixels)
                << w << "x" << h << " " << size;
            EXPECT_EQ(hud::dilate(p, size).pixels, bruteMorph(p, size, true).pixels)
                << w << "x" << h << " " << size;
        }
    }
    EXPECT_TRUE(hud::erode(Plane{}, 9).empty());

    // In place, and with scratch left over from a plane of another size.
    Plane scratch = randomPlane(3, 50, 1);
    for (int size : {3, 9, 31}) {
        Plane p = randomPlane(40, 23, static_cast<unsigned>(size));
        const Plane want = bruteMorph(p, size, false);
        hud::erode(p, size, p, scratch);
        EXPECT_EQ(p.pixels, want.pixels) << size;
    }
}

// The returning form keeps its working planes from call to call: after a
// larger plane, a smaller one must read as with fresh working planes.
TEST(HudImage, TopHatAfterOtherSizesEqualsAFreshOne) {
    for (auto [w, h, size] : {std::tuple{120, 90, 9}, {40, 12, 9}, {300, 20, 15}, {7, 5, 9}, {64, 64, 3}}) {
        const Plane in = randomPlane(w, h, static_cast<unsigned>(w + h));
        Plane want;
        Plane a;
        Plane b;
        hud::topHat(in, size, want, a, b);
        const Plane got = hud::topHat(in, size);
        ASSERT_EQ(got.width, want.width);
        ASSERT_EQ(got.height, want.height);
        EXPECT_EQ(got.pixels, want.pixels) << w << "x" << h << " " << size;
    }
}

TEST(HudImage, TopHatKeepsNarrowStrokesAndDropsBackground) {
    Plane p = plane(20, 20, 50.0f);
    for (int y = 0; y < 20; ++y)
        at(p, 10, y) = 150.0f;
    const Plane t = hud::topHat(p, 9);
    EXPECT_FLOAT_EQ(t.at(10, 10), 100.0f);
    EXPECT_FLOAT_EQ(t.at(3, 10), 0.0f);
    const Plane r = hud::contrastRamp(t);
    EXPECT_FLOAT_EQ(r.at(10, 10), 1.0f);
    EXPECT_FLOAT_EQ(r.at(3, 10), 0.0f);
    Plane mid = plane(1, 1, 37.0f);
    EXPECT_FLOAT_EQ(hud::contrastRamp(mid).at(0, 0), 0.5f);
}

TEST(HudImage, LabellingConnectsEightNeighbours) {
    EXPECT_EQ(hud::labelComponents(maskOf(5, 5, {{1, 1}, {2, 2}}), 5, 5).size(), 1u);
    EXPECT_EQ(hud::labelComponents(maskOf(5, 5, {{3, 1}, {2, 2}}), 5, 5).size(), 1u);
    EXPECT_EQ(hud::labelComponents(maskOf(5, 5, {{1, 1}, {3, 1}}), 5, 5).size(), 2u);
    EXPECT_TRUE(hud::labelComponents({}, 0, 0).empty());
    EXPECT_TRUE(hud::labelComponents(maskOf(3, 3, {{1, 1}}), 4, 4).empty()); // mask too short

    // A U whose arms get separate labels first and meet at the bottom, and a
    // dot between the arms that starts later in raster order.
    const auto blobs = hud::labelComponents(
        maskOf(
            12, 6,
            {{1, 0}, {1, 1}, {1, 2}, {1, 3}, {2, 3}, {3, 3}, {4, 3}, {5, 3}, {5, 2}, {5, 1}, {8, 0}, {3, 1}}),
        12, 6);
    ASSERT_EQ(blobs.size(), 3u);
    EXPECT_EQ(blobs[0].x0, 1);
    EXPECT_EQ(blobs[0].x1, 5);
    EXPECT_EQ(blobs[0].y0, 0);
    EXPECT_EQ(blobs[0].y1, 3);
    EXPECT_EQ(blobs[0].area, 10);
    EXPECT_EQ(blobs[1].x0, 8);
    EXPECT_EQ(blobs[2].x0, 3);
    EXPECT_FALSE(blobs[0].inverted);
}

TEST(HudImage, LabellingWithReusedScratchEqualsFresh) {
    // A dense mask first leaves labels all over the scratch; sparser masks,
    // of the same size and of others, must not see them.
    std::mt19937 gen(8);
    auto randomMask = [&](int w, int h, unsigned oneIn) {
        std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h));
        for (auto& v : m)
            v = gen() % oneIn == 0;
        return m;
    };
    hud::LabelScratch scratch;
    std::vector<Blob> got;
    for (auto [w, h, oneIn] :
         {std::tuple{50, 30, 1u}, {50, 30, 3u}, {30, 50, 4u}, {20, 10, 2u}, {50, 30, 5u}}) {
        const std::vector<std::uint8_t> m = randomMask(w, h, oneIn);
        hud::labelComponents(m, w, h, got, scratch);
        const std::vector<Blob> want = hud::labelComponents(m, w, h);
        ASSERT_EQ(got.size(), want.size()) << w << "x" << h;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].x0, want[i].x0);
            EXPECT_EQ(got[i].y0, want[i].y0);
            EXPECT_EQ(got[i].x1, want[i].x1);
            EXPECT_EQ(got[i].y1, want[i].y1);
            EXPECT_EQ(got[i].area, want[i].area);
        }
    }
}

namespace {

// Components by flood fill from each first pixel in raster order.
std::vector<Blob> floodBlobs(const std::vector<std::uint8_t>& m, int w, int h) {
    std::vector<Blob> out;
    std::vector<int> seen(m.size(), -1);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (!m[static_cast<std::size_t>(y * w + x)] || seen[static_cast<std::size_t>(y * w + x)] >= 0)
                continue;
            Blob ref = blob(x, y, x, y);
            ref.area = 0;
            std::vector<std::pair<int, int>> stack{{x, y}};
            seen[static_cast<std::size_t>(y * w + x)] = 1;
            while (!stack.empty()) {
                auto [cx, cy] = stack.back();
                stack.pop_back();
                ++ref.area;
                ref.x0 = std::min(ref.x0, cx);
                ref.x1 = std::max(ref.x1, cx);
                ref.y0 = std::min(ref.y0, cy);
                ref.y1 = std::max(ref.y1, cy);
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int nx = cx + dx, ny = cy + dy;
                        if (nx < 0 || ny < 0 || nx >= w || ny >= h)
                            continue;
                        const auto i = static_cast<std::size_t>(ny * w + nx);
                        if (m[i] && seen[i] < 0) {
                            seen[i] = 1;
                            stack.push_back({nx, ny});
                        }
                    }
            }
            out.push_back(ref);
        }
    return out;
}

void expectSameBlobs(const std::vector<Blob>& got, const std::vector<Blob>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(std::tie(got[i].x0, got[i].y0, got[i].x1, got[i].y1, got[i].area),
                  std::tie(want[i].x0, want[i].y0, want[i].x1, want[i].y1, want[i].area))
            << "blob " << i;
}

} // namespace

TEST(HudImage, LabellingCountsAndBoxesMatchABruteFlood) {
    const int w = 61, h = 37;
    std::mt19937 gen(7);
    std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h));
    for (auto& v : m)
        v = gen() % 3 == 0;
    const auto blobs = hud::labelComponents(m, w, h);
    expectSameBlobs(blobs, floodBlobs(m, w, h));
    EXPECT_FALSE(blobs.empty());
}

TEST(HudImage, LabellingLongRunsAndAnyNonZeroByteMatchABruteFlood) {
    // Runs longer than a machine word, spans that touch only diagonally or
    // several runs of the row above, widths off a multiple of eight, and set
    // bytes other than 1 (a set pixel is any non-zero byte).
    std::mt19937 gen(11);
    hud::LabelScratch scratch;
    std::vector<Blob> got;
    for (auto [w, h, runLength, value] : {std::tuple{67, 41, 20u, 1},
                                          {64, 30, 3u, 255},
                                          {9, 50, 12u, 7},
                                          {131, 23, 40u, 1},
                                          {1, 17, 4u, 1},
                                          {33, 1, 5u, 2}}) {
        std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h));
        for (std::size_t i = 0; i < m.size();) {
            const std::size_t len = 1 + gen() % runLength;
            const bool set = gen() % 2 == 0;
            for (std::size_t k = 0; k < len && i < m.size(); ++k, ++i)
                m[i] = set ? static_cast<std::uint8_t>(value) : 0;
        }
        hud::labelComponents(m, w, h, got, scratch);
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        expectSameBlobs(got, floodBlobs(m, w, h));
    }
}

TEST(HudImage, LabellingSparseMasksMatchABruteFlood) {
    // Long stretches of background, stepped over in blocks: a lone pixel at
    // every column (each place within a block and the ragged row end), and
    // scattered specks with wide gaps between them.
    for (const int w : {95, 48, 31, 17}) {
        const int h = w + 2;
        std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h), 0);
        for (int y = 0; y < w; ++y)
            m[static_cast<std::size_t>(y * w + y)] = 1;
        SCOPED_TRACE(testing::Message() << "diagonal " << w);
        expectSameBlobs(hud::labelComponents(m, w, h), floodBlobs(m, w, h));
    }
    std::mt19937 gen(23);
    for (const int w : {907, 129, 64}) {
        const int h = 29;
        std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h), 0);
        for (auto& v : m)
            v = gen() % 70 == 0 ? 1 : 0;
        SCOPED_TRACE(testing::Message() << "specks " << w);
        expectSameBlobs(hud::labelComponents(m, w, h), floodBlobs(m, w, h));
    }
}

TEST(HudImage, LabellingRunsAcrossAndAtWordEdges) {
    // Runs that end on the last pixel of a 64-pixel word, start on the first
    // of the next, span several words, or reach the row's end at a width of
    // whole words and just past it; rows above join them diagonally.
    for (const int w : {64, 128, 129, 191, 200}) {
        const int h = 4;
        std::vector<std::uint8_t> m(static_cast<std::size_t>(w * h), 0);
        auto set = [&](int x0, int x1, int y) {
            for (int x = x0; x <= std::min(x1, w - 1); ++x)
                m[static_cast<std::size_t>(y * w + x)] = 1;
        };
        set(60, 63, 0);
        set(64, 66, 1); // diagonal to the run above
        set(w - 5, w - 1, 0);
        set(0, w - 1, 3);
        set(127, 128, 2);
        SCOPED_TRACE(testing::Message() << w);
        const std::vector<Blob> want = floodBlobs(m, w, h);
        expectSameBlobs(hud::labelComponents(m, w, h), want);
        // The same mask as values over a level, found a word at a time.
        Plane p;
        p.resize(w, h);
        for (std::size_t i = 0; i < m.size(); ++i)
            p.pixels[i] = m[i] ? 200.0f : 10.0f;
        std::vector<Blob> got;
        hud::LabelScratch scratch;
        hud::labelAbove(p, 185.0f, got, scratch);
        expectSameBlobs(got, want);
    }
}

TEST(HudImage, LabellingAboveALevelEqualsLabellingItsMask) {
    // The same blobs in the same order as the mask maskAbove gives, with
    // values at the level, NaN and infinities among them, at widths on and
    // off whole words, and with a scratch reused across sizes.
    std::mt19937 gen(31);
    hud::LabelScratch scratch;
    std::vector<Blob> got;
    std::vector<Blob> want;
    for (auto [w, h] : {std::pair{907, 31}, {64, 9}, {65, 12}, {1, 20}, {130, 1}, {7, 7}}) {
        Plane p;
        p.resize(w, h);
        for (float& v : p.pixels) {
            const unsigned r = gen() % 40;
            v = r < 2    ? std::numeric_limits<float>::quiet_NaN()
                : r < 3  ? std::numeric_limits<float>::infinity()
                : r < 4  ? -std::numeric_limits<float>::infinity()
                : r < 10 ? 185.0f
                         : 170.0f + static_cast<float>(gen() % 30);
        }
        std::vector<std::uint8_t> mask(p.pixels.size());
        hud::maskAbove(p.pixels.data(), p.pixels.size(), 185.0f, mask.data());
        hud::labelAbove(p, 185.0f, got, scratch);
        hud::LabelScratch fresh;
        hud::labelComponents(mask, w, h, want, fresh);
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        expectSameBlobs(got, want);
        expectSameBlobs(got, floodBlobs(mask, w, h));
    }
    hud::labelAbove(Plane{}, 0.0f, got, scratch);
    EXPECT_TRUE(got.empty());
}

TEST(HudImage, RowsGroupMarksAndFuse) {
    std::vector<hud::RowGeometry> geo;
    // Row at y 50..69 (given first) and row at y 10..29; a comma under the
    // upper row's baseline, one too far below to belong anywhere, and two
    // overlapping blobs that fuse.
    const std::vector<Blob> blobs = {
        blob(10, 50, 15, 69), blob(20, 50, 25, 69), blob(10, 10, 15, 29),
        blob(30, 10, 36, 29), blob(17, 30, 18, 35), // centre 32.5 <= 29 + 0.45 * 20
        blob(40, 40, 41, 43),                       // centre 41.5: neither row
        blob(32, 12, 37, 28),                       // overlaps (30..36) by 4 > 0.5 * 6
    };
    const auto rows = hud::groupRows(blobs, &geo);
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(geo.size(), 2u);
    EXPECT_DOUBLE_EQ(geo[0].top, 10.0);
    EXPECT_DOUBLE_EQ(geo[0].bottom, 29.0);
    EXPECT_DOUBLE_EQ(geo[0].height, 20.0);
    ASSERT_EQ(rows[0].size(), 3u);
    EXPECT_EQ(rows[0][0].x0, 10);
    EXPECT_EQ(rows[0][1].x0, 17); // the comma, in x order
    EXPECT_EQ(rows[0][2].x0, 30);
    EXPECT_EQ(rows[0][2].x1, 37);
    EXPECT_EQ(rows[0][2].y0, 10);
    EXPECT_EQ(rows[0][2].area, 7 * 20 + 6 * 17);
    EXPECT_EQ(rows[1].size(), 2u);
    EXPECT_TRUE(hud::groupRows({}).empty());
}

TEST(HudImage, RowsWithCloseBandsMerge) {
    // Y does not overlap the first row's founding blob enough to join it, so
    // it founds a second row; both rows' measured bands then agree and merge.
    const std::vector<Blob> blobs = {blob(0, 0, 5, 20), blob(10, 10, 15, 40), blob(20, 12, 25, 42),
                                     blob(30, 14, 35, 45)};
    std::vector<hud::RowGeometry> geo;
    const auto rows = hud::groupRows(blobs, &geo);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].size(), 4u);
    EXPECT_DOUBLE_EQ(geo[0].top, 12.0);
    EXPECT_DOUBLE_EQ(geo[0].bottom, 42.0);
}

TEST(HudImage, BilinearSamplingReadsZeroOutside) {
    Plane p = plane(2, 2);
    at(p, 0, 0) = 1.0f;
    at(p, 1, 0) = 2.0f;
    at(p, 0, 1) = 3.0f;
    at(p, 1, 1) = 4.0f;
    EXPECT_FLOAT_EQ(hud::sampleBilinear(p, 0.5, 0.5), 2.5f);
    EXPECT_FLOAT_EQ(hud::sampleBilinear(p, 1.0, 1.0), 4.0f);
    EXPECT_FLOAT_EQ(hud::sampleBilinear(p, 1.5, 0.0), 1.0f); // half of 2, half outside
    EXPECT_FLOAT_EQ(hud::sampleBilinear(p, -0.5, 0.0), 0.5f);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (double v : {nan, 1e300, -1e300, -1.0, 2.0, std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(hud::sampleBilinear(p, v, 0.5), 0.0f) << v;
        EXPECT_EQ(hud::sampleBilinear(p, 0.5, v), 0.0f) << v;
    }
    EXPECT_EQ(hud::sampleBilinear(Plane{}, 0, 0), 0.0f);
}

TEST(HudImage, MoneyCellEqualsItsPointSamples) {
    const Plane p = randomPlane(60, 50, 3);
    float cell[hud::kMoneyCellLength];
    // Inside, across the left border, and mostly outside at the bottom right.
    for (auto [cx, top] : {std::pair{30.3, 12.0}, {2.7, 5.0}, {58.0, 45.5}}) {
        const double h = 20.0, bottom = top + h - 1;
        hud::sampleMoneyCell(p, cx, top, bottom, h, cell);
        for (int i = 0; i < 36; ++i)
            for (int j = 0; j < 20; ++j) {
                const float want = hud::sampleBilinear(p, (cx - 0.45 * h) + j * (0.9 * h / 20),
                                                       (top - 0.3 * h) + i * ((bottom - top + 0.6 * h) / 36));
                ASSERT_EQ(cell[i * 20 + j], want) << cx << " " << i << "," << j;
            }
    }
    hud::sampleMoneyCell(Plane{}, 0, 0, 10, 10, cell);
    EXPECT_TRUE(std::all_of(cell, cell + 720, [](float v) { return v == 0; }));
}

// Enlarged, shrunk, and over each border of the plane: every sample is the
// bilinear one at its centre, the rows inside read from their blended
// neighbours as much as those at the edges.
TEST(HudImage, GlyphCellEqualsItsPointSamples) {
    const Plane p = randomPlane(90, 70, 4);
    float cell[hud::kGlyphCellLength];
    struct Case {
        Blob box;
        double top, bottom;
    };
    for (const Case& c : {Case{blob(30, 20, 41, 34), 20.0, 34.0}, Case{blob(10, 10, 70, 60), 10.0, 60.0},
                          Case{blob(40, 30, 44, 36), 31.0, 36.0}, Case{blob(-1, 2, 8, 14), 2.0, 14.0},
                          Case{blob(80, 55, 89, 69), 55.0, 69.0}, Case{blob(20, 0, 30, 12), 0.0, 12.0}}) {
        const double lh = c.bottom - c.top + 1.0;
        hud::sampleGlyphCell(p, c.box, c.top, c.bottom, lh, cell);
        const double ya = std::round(c.top - 0.35 * lh);
        const double span = std::round(c.bottom + 0.35 * lh) - ya + 1;
        const int xa = c.box.x0 - 1;
        const int bw = c.box.x1 + 1 - xa + 1;
        const int cols = static_cast<int>(std::min(std::max(std::round(32.0 / span * bw), 1.0), 32.0));
        const int offset = (32 - cols) / 2;
        for (int i = 0; i < 32; ++i)
            for (int j = 0; j < 32; ++j) {
                float want = 0.0f;
                if (j >= offset && j < offset + cols)
                    want = hud::sampleBilinear(
                        p, (j - offset + 0.5) * (static_cast<double>(bw) / cols) + xa - 0.5,
                        (i + 0.5) * (span / 32) + ya - 0.5);
                ASSERT_EQ(cell[i * 32 + j], want) << c.box.x0 << " " << i << "," << j;
            }
    }
}

TEST(HudImage, MaskAboveMarksExactlyTheValuesOverTheLevel) {
    std::mt19937 gen(21);
    for (std::size_t n :
         {std::size_t{0}, std::size_t{5}, std::size_t{16}, std::size_t{37}, std::size_t{71}}) {
        std::vector<float> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<float>(gen() % 7) + 182.0f; // 185 itself among them
        if (n > 3)
            v[3] = std::numeric_limits<float>::quiet_NaN();
        if (n > 20)
            v[20] = std::numeric_limits<float>::infinity();
        if (n > 50) {
            v[41] = -std::numeric_limits<float>::infinity();
            v[50] = std::numeric_limits<float>::quiet_NaN();
        }
        std::vector<std::uint8_t> got(n + 1, 7);
        hud::maskAbove(v.data(), n, 185.0f, got.data());
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_EQ(got[i], v[i] > 185.0f ? 1 : 0) << n << " " << i;
        EXPECT_EQ(got[n], 7); // nothing written past the end
    }
}

TEST(HudImage, GlyphCellKeepsTheBlobsAspect) {
    const Plane p = plane(200, 60, 1.0f);
    float cell[hud::kGlyphCellLength];
    auto columnsUsed = [&]() {
        int used = 0;
        for (int j = 0; j < 32; ++j)
            used += cell[16 * 32 + j] != 0.0f;
        return used;
    };
    hud::sampleGlyphCell(p, blob(10, 20, 80, 39), 20, 39, 20, cell); // far wider than tall
    EXPECT_EQ(columnsUsed(), 32);
    hud::sampleGlyphCell(p, blob(50, 20, 50, 39), 20, 39, 20, cell); // one pixel wide
    EXPECT_GE(columnsUsed(), 1);
    EXPECT_LE(columnsUsed(), 5);
    EXPECT_EQ(cell[16 * 32], 0.0f); // centred, so the first column stays empty
    const double nan = std::numeric_limits<double>::quiet_NaN();
    hud::sampleGlyphCell(p, blob(50, 20, 60, 39), nan, 39, 20, cell);
    EXPECT_EQ(columnsUsed(), 0);
    hud::sampleGlyphCell(p, blob(50, 20, 60, 39), 40, 10, 20, cell); // bottom above top
    EXPECT_EQ(columnsUsed(), 0);
    hud::sampleGlyphCell(p, Blob{-5, 1000000, 1000000, 2000000, 0, false}, 1e9, 2e9, 1e9, cell);
}

TEST(HudImage, NormalisedVectorsCorrelate) {
    std::vector<float> flat(720, 3.0f);
    hud::normalizeVector(flat.data(), flat.size());
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](float v) { return v == 0; }));

    std::vector<float> a(720), b(720);
    for (int i = 0; i < 720; ++i) {
        a[static_cast<std::size_t>(i)] = static_cast<float>(i % 17);
        b[static_cast<std::size_t>(i)] = 5.0f - 2.0f * static_cast<float>(i % 17);
    }
    hud::normalizeVector(a.data(), a.size());
    hud::normalizeVector(b.data(), b.size());
    EXPECT_NEAR(hud::dot(a.data(), a.data(), 720), 1.0f, 1e-5);
    EXPECT_NEAR(hud::dot(a.data(), b.data(), 720), -1.0f, 1e-5);
    EXPECT_EQ(hud::dot(a.data(), flat.data(), 720), 0.0f);
    hud::normalizeVector(nullptr, 0);
    const float odd[3] = {1, 2, 3};
    EXPECT_FLOAT_EQ(hud::dot(odd, odd, 3), 14.0f);
}

TEST(HudImage, NormalisingMatchesItsDefinition) {
    std::mt19937 gen(11);
    for (std::size_t n : {std::size_t{5}, std::size_t{720}, std::size_t{723}, std::size_t{1024}}) {
        std::vector<float> v(n);
        for (float& x : v)
            x = static_cast<float>(gen() % 1000) / 997.0f;
        std::vector<double> want(n);
        double sum = 0.0;
        for (float x : v)
            sum += x;
        const double mean = sum / static_cast<double>(n);
        double sq = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            const float c = static_cast<float>(static_cast<double>(v[i]) - mean);
            sq += static_cast<double>(c) * c;
            want[i] = c;
        }
        for (double& w : want)
            w /= std::sqrt(sq);
        hud::normalizeVector(v.data(), n);
        for (std::size_t i = 0; i < n; ++i)
            ASSERT_NEAR(v[i], want[i], 1e-7) << n << " " << i;
    }
}

// Every vector path must give the plain loops' floats: four interleaved
// double sums, the centred floats' squares, and the reciprocal's products.
TEST(HudImage, NormalisingEqualsThePlainLoopsBitForBit) {
    std::mt19937 gen(17);
    for (std::size_t n :
         {std::size_t{1}, std::size_t{6}, std::size_t{9}, std::size_t{720}, std::size_t{723}}) {
        for (int kind = 0; kind < 3; ++kind) {
            std::vector<float> v(n);
            for (float& x : v)
                x = kind == 2 ? 3.5f : static_cast<float>(gen() % 100000) / (kind == 0 ? 391.0f : 7.0f);
            std::vector<float> want = v;
            double part[4] = {};
            std::size_t i = 0;
            for (; i + 4 <= n; i += 4)
                for (std::size_t k = 0; k < 4; ++k)
                    part[k] += static_cast<double>(want[i + k]);
            for (; i < n; ++i)
                part[0] += static_cast<double>(want[i]);
            const double mean = ((part[0] + part[1]) + (part[2] + part[3])) / static_cast<double>(n);
            // The tail past the last whole four goes into the first sum.
            const std::size_t body = n & ~std::size_t{3};
            double sq[4] = {};
            for (i = 0; i < n; ++i) {
                want[i] = static_cast<float>(static_cast<double>(want[i]) - mean);
                sq[i < body ? i % 4 : 0] += static_cast<double>(want[i]) * static_cast<double>(want[i]);
            }
            const double norm = std::sqrt((sq[0] + sq[1]) + (sq[2] + sq[3]));
            if (norm > 1e-6)
                for (float& x : want)
                    x = static_cast<float>(static_cast<double>(x) * (1.0 / norm));
            hud::normalizeVector(v.data(), n);
            for (i = 0; i < n; ++i)
                ASSERT_EQ(v[i], want[i]) << n << " " << kind << " " << i;
        }
    }
}

TEST(HudImage, BlockedDotsEqualSingleDotsBitForBit) {
    std::mt19937 gen(5);
    auto fill = [&](std::vector<float>& v) {
        for (float& x : v)
            x = static_cast<float>(static_cast<int>(gen() % 2001) - 1000) / 1777.0f;
    };
    // 28: an odd number of whole blocks before the tail; 180: a coarse form.
    for (std::size_t n : {std::size_t{3}, std::size_t{8}, std::size_t{13}, std::size_t{28}, std::size_t{180},
                          std::size_t{720}, std::size_t{1024}}) {
        std::vector<float> a(n);
        fill(a);
        std::vector<std::vector<float>> b(9, std::vector<float>(n));
        std::vector<const float*> ptrs;
        for (auto& v : b) {
            fill(v);
            ptrs.push_back(v.data());
        }
        for (std::size_t count = 1; count <= b.size(); ++count) {
            std::vector<float> out(count, -9.0f);
            hud::dotMany(a.data(), ptrs.data(), count, n, out.data());
            for (std::size_t k = 0; k < count; ++k)
                ASSERT_EQ(out[k], hud::dot(a.data(), b[k].data(), n)) << n << " " << count << " " << k;
        }
    }
}

// The vector paths must add in dot()'s documented order: eight partial sums
// over the blocks of eight, folded in pairs, then the tail in order.
TEST(HudImage, DotsAddInTheirDefinedOrder) {
    std::mt19937 gen(9);
    for (std::size_t n : {std::size_t{0}, std::size_t{7}, std::size_t{8}, std::size_t{21}, std::size_t{720},
                          std::size_t{1024}}) {
        std::vector<float> a(n);
        std::vector<float> b(n);
        for (std::size_t i = 0; i < n; ++i) {
            a[i] = static_cast<float>(static_cast<int>(gen() % 2001) - 1000) / 1777.0f;
            b[i] = static_cast<float>(static_cast<int>(gen() % 2001) - 1000) / 1313.0f;
        }
        float part[8] = {};
        std::size_t i = 0;
        for (; i + 8 <= n; i += 8)
            for (std::size_t k = 0; k < 8; ++k)
                part[k] += a[i + k] * b[i + k];
        float want =
            ((part[0] + part[1]) + (part[2] + part[3])) + ((part[4] + part[5]) + (part[6] + part[7]));
        for (; i < n; ++i)
            want += a[i] * b[i];
        EXPECT_EQ(hud::dot(a.data(), b.data(), n), want) << n;
    }
}

TEST(HudImage, GroupedNormalisationEqualsSingleBitForBit) {
    std::mt19937 gen(11);
    for (std::size_t n : {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{13}, std::size_t{720},
                          std::size_t{1024}}) {
        for (std::size_t count = 0; count <= 9; ++count) {
            std::vector<std::vector<float>> want(count, std::vector<float>(n));
            for (std::size_t k = 0; k < count; ++k)
                for (float& x : want[k])
                    // One vector constant: it must stay all zeros beside the others.
                    x = k == 2 ? 0.25f : static_cast<float>(gen() % 100000) / 391.0f;
            std::vector<std::vector<float>> got = want;
            std::vector<float*> ptrs;
            for (auto& v : got)
                ptrs.push_back(v.data());
            for (auto& v : want)
                hud::normalizeVector(v.data(), n);
            hud::normalizeVectors(ptrs.data(), count, n);
            for (std::size_t k = 0; k < count; ++k)
                for (std::size_t i = 0; i < n; ++i)
                    ASSERT_EQ(got[k][i], want[k][i]) << n << " " << count << " " << k << " " << i;
        }
    }
    hud::normalizeVectors(nullptr, 3, 10);
}

TEST(HudImage, BatchGlyphClassesEqualSingleOnes) {
    std::mt19937 gen(12);
    auto random = [&](std::size_t n) {
        std::vector<float> v(n);
        for (float& x : v)
            x = static_cast<float>(static_cast<int>(gen() % 2001) - 1000) / 1000.0f;
        hud::normalizeVector(v.data(), n);
        return v;
    };
    hud::detail::Templates glyphs;
    glyphs.cellLength = 1024;
    glyphs.byChar['A'] = {random(1024), random(1024), random(1024)};
    glyphs.byChar['B'] = {random(1024)};
    glyphs.byChar['C'] = {std::vector<float>(10, 1.0f), random(1024)}; // the short one is passed over
    glyphs.byChar['D'] = {std::vector<float>(10, 1.0f)};
    glyphs.byChar['E'] = {glyphs.byChar['B'][0]}; // ties with B: the earlier of the charset wins
    std::vector<std::vector<float>> cells;
    for (int k = 0; k < 9; ++k)
        cells.push_back(random(1024));
    cells.push_back(glyphs.byChar['A'][1]);
    cells.push_back(glyphs.byChar['B'][0]);
    std::vector<const float*> ptrs;
    for (const auto& c : cells)
        ptrs.push_back(c.data());
    // On a helper thread a call hands its later cells to the waiting
    // thread; the classes are the same.
    struct Batch {
        const std::vector<const float*>* ptrs;
        std::size_t count;
        const hud::detail::Templates* glyphs;
        std::string_view charset;
        std::vector<hud::GlyphClass> got;
        static void run(void* context) {
            Batch& b = *static_cast<Batch*>(context);
            hud::classifyGlyphs(b.ptrs->data(), b.count, *b.glyphs, b.charset, b.got.data());
        }
    };
    hud::HelperThread helper;
    for (std::string_view charset : {"ABCDEQ", "EDCBA", "Q", ""}) {
        for (std::size_t count = 0; count <= cells.size(); ++count) {
            std::vector<hud::GlyphClass> got(count);
            hud::classifyGlyphs(ptrs.data(), count, glyphs, charset, got.data());
            Batch onHelper{&ptrs, count, &glyphs, charset, std::vector<hud::GlyphClass>(count)};
            helper.post(&Batch::run, &onHelper);
            helper.wait();
            for (std::size_t k = 0; k < count; ++k) {
                const hud::GlyphClass want = hud::classifyGlyph(ptrs[k], glyphs, charset);
                ASSERT_EQ(got[k].character, want.character) << charset << " " << count << " " << k;
                ASSERT_EQ(got[k].score, want.score) << charset << " " << count << " " << k;
                ASSERT_EQ(got[k].second, want.second) << charset << " " << count << " " << k;
                ASSERT_EQ(onHelper.got[k].character, want.character) << charset << " " << count << " " << k;
                ASSERT_EQ(onHelper.got[k].score, want.score) << charset << " " << count << " " << k;
                ASSERT_EQ(onHelper.got[k].second, want.second) << charset << " " << count << " " << k;
            }
        }
    }
}

TEST(HudImage, SideTasksRunOnceOnWhicheverThreadTakesThem) {
    // A side task runs exactly once: on the waiting thread when that takes
    // it, on the posting thread when it is not waiting, inside another side
    // task, or without a helper task at all; its error reaches the waiter.
    struct Side {
        std::atomic<int> runs{0};
        std::atomic<bool> elsewhere{false};
        std::thread::id poster;
        bool fail = false;
        static void run(void* context) {
            Side& s = *static_cast<Side*>(context);
            s.runs.fetch_add(1);
            s.elsewhere = std::this_thread::get_id() != s.poster;
            if (s.fail)
                throw std::runtime_error("side");
        }
    };
    struct Task {
        Side side;
        Side inner;
        bool await = false; // hold the side task until the waiter takes it
        std::atomic<bool> posted{false};
        static void run(void* context) {
            Task& t = *static_cast<Task*>(context);
            t.side.poster = t.inner.poster = std::this_thread::get_id();
            hud::SideTask side(&Side::run, &t.side);
            hud::SideTask inner(&Side::run, &t.inner); // the slot is taken: runs here
            t.posted = true;
            for (int spins = 0; t.await && t.side.runs == 0 && spins < 1000000; ++spins)
                std::this_thread::yield();
            inner.finish();
            side.finish();
        }
    };
    hud::HelperThread helper;
    for (const bool await : {true, false}) {
        for (const bool fail : {false, true}) {
            Task t;
            t.await = await;
            t.side.fail = fail;
            helper.post(&Task::run, &t);
            if (!await) // the caller is busy until the task has posted
                while (!t.posted)
                    std::this_thread::yield();
            if (fail) {
                EXPECT_THROW(helper.wait(), std::runtime_error);
            } else {
                helper.wait();
            }
            EXPECT_EQ(t.side.runs, 1) << await << fail;
            EXPECT_EQ(t.inner.runs, 1) << await << fail;
            EXPECT_FALSE(t.inner.elsewhere) << await << fail;
        }
    }
    Side alone;
    alone.poster = std::this_thread::get_id();
    {
        hud::SideTask side(&Side::run, &alone);
        EXPECT_EQ(alone.runs, 0);
    }
    EXPECT_EQ(alone.runs, 1);
    EXPECT_FALSE(alone.elsewhere);
}

namespace {

// Every pixel's luma as the plain products and sums give it.
void expectPlainLuma(const hud::FrameView& f) {
    const Plane luma = hud::toLuma(f);
    ASSERT_EQ(luma.width, f.width);
    for (int y = 0; y < f.height; ++y)
        for (int x = 0; x < f.width; ++x) {
            const std::uint8_t* px = hud::framePixel(f, x, y);
            const float want = static_cast<float>(px[2]) * 0.299f + static_cast<float>(px[1]) * 0.587f +
                               static_cast<float>(px[0]) * 0.114f;
            ASSERT_EQ(luma.at(x, y), want) << f.width << " " << x << "," << y;
        }
}

} // namespace

TEST(HudImage, LumaOfEveryPixelWhateverTheWidth) {
    std::mt19937 gen(9);
    for (int w : {1, 3, 4, 5, 11}) {
        const int stride = w * 4 + 12;
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * 3);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(gen());
        expectPlainLuma({w, 3, bytes.data(), stride});
    }
}

// The vector path takes each channel at its byte's place rather than
// shifted down: every value of every channel, with the alpha byte set, must
// come out as the plain products and sums give it.
TEST(HudImage, LumaOfEveryChannelValue) {
    constexpr int w = 256 + 5;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w) * 4 * 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = bytes.data() + (static_cast<std::size_t>(y) * w + x) * 4;
            p[0] = static_cast<std::uint8_t>(y == 0 ? x : 255 - x);
            p[1] = static_cast<std::uint8_t>(y == 0 ? 255 - x : x * 7);
            p[2] = static_cast<std::uint8_t>(y == 0 ? x * 7 : x);
            p[3] = static_cast<std::uint8_t>(0xFF - y);
        }
    expectPlainLuma({w, 2, bytes.data(), w * 4});
}

TEST(HudImage, TemplateScoresAndGlyphClasses) {
    std::vector<float> cell(1024, 0.0f);
    cell[0] = 1.0f;
    hud::detail::Templates glyphs;
    glyphs.cellLength = 1024;
    auto tmpl = [](float first) {
        std::vector<float> t(1024, 0.0f);
        t[0] = first;
        return t;
    };
    EXPECT_EQ(hud::classifyGlyph(cell.data(), glyphs, "ABC").character, '?');
    EXPECT_EQ(hud::classifyGlyph(cell.data(), glyphs, "ABC").score, -2.0f);
    EXPECT_EQ(hud::classifyGlyph(cell.data(), glyphs, "ABC").second, -2.0f);

    glyphs.byChar['A'] = {tmpl(0.2f), tmpl(0.7f)};
    glyphs.byChar['B'] = {tmpl(0.9f)};
    glyphs.byChar['C'] = {tmpl(0.7f)};
    glyphs.byChar['D'] = {std::vector<float>(10, 1.0f)}; // too short to compare
    EXPECT_FLOAT_EQ(hud::bestTemplateScore(cell.data(), glyphs.byChar['A'], 1024), 0.7f);
    EXPECT_EQ(hud::bestTemplateScore(cell.data(), glyphs.byChar['D'], 1024), -2.0f);
    EXPECT_EQ(hud::bestTemplateScore(cell.data(), {}, 1024), -2.0f);

    hud::GlyphClass g = hud::classifyGlyph(cell.data(), glyphs, "ABCDQ");
    EXPECT_EQ(g.character, 'B');
    EXPECT_FLOAT_EQ(g.score, 0.9f);
    EXPECT_FLOAT_EQ(g.second, 0.7f);
    g = hud::classifyGlyph(cell.data(), glyphs, "CA"); // equal scores: the earlier wins
    EXPECT_EQ(g.character, 'C');
    EXPECT_FLOAT_EQ(g.second, 0.7f);
}

TEST(HudImage, MedianOfIntegers) {
    EXPECT_EQ(hud::medianInt({}), 0.0);
    EXPECT_EQ(hud::medianInt({5}), 5.0);
    EXPECT_EQ(hud::medianInt({9, 1, 5}), 5.0);
    EXPECT_EQ(hud::medianInt({4, 1, 2, 9}), 3.0);
    EXPECT_EQ(hud::medianInt({1, 2}), 1.5);
}

// The money cell's 2 x 2 form taken from the strip, bit for bit against its
// arithmetic written out plainly on the sampled cell: a block's sum is
// (top left + below left) + (top right + below right), halved; the squared
// deviations from the blocks' means go to one running sum per row of an
// eight-row band (the last band's four rows to four more), a group of four
// columns at a time, then into a fixed order. Cells inside the plane, at
// its edges and past them (sampled, then coarsened as any cell).
TEST(HudImage, StripCoarseFormsEqualTheSampledCellsBitForBit) {
    const Plane p = randomPlane(140, 70, 23);
    const hud::detail::Templates none;
    const hud::PairTable pairs;
    constexpr int columns = hud::kMoneyCellColumns;
    constexpr int rows = hud::kMoneyCellRows;
    for (const auto& [top, h] : {std::pair<double, double>{20.0, 18.0}, {-3.5, 27.0}, {40.25, 31.0}}) {
        hud::MoneyRowContext ctx(p, top, top + h - 1, h, none, pairs);
        for (double cx : {61.7, 3.1, 130.2, 62.7, 20.35, 88.0, -30.0}) {
            float cell[hud::kMoneyCellLength];
            hud::sampleLineCell(ctx, cx, cell);
            float got[columns / 2 * rows / 2];
            const float gotRest = hud::moneyread::sampleLineCoarse(ctx, cx, got);
            float want[columns / 2 * rows / 2];
            const bool inside = cx - 0.45 * h > -1.0 && cx + 0.45 * h - 0.9 * h / columns < p.width;
            float wantRest = 0.0f;
            if (!inside) {
                wantRest = hud::coarsenMoneyCell(cell, want);
            } else {
                float bands[8] = {};
                float last[4] = {};
                for (int j = 0; j < columns; j += 4)
                    for (int i = 0; i < rows; i += 2)
                        for (int k = j; k < j + 4; k += 2) {
                            auto v = [&](int r, int c) { return cell[r * columns + c]; };
                            const float sum = (v(i, k) + v(i + 1, k)) + (v(i, k + 1) + v(i + 1, k + 1));
                            want[(i / 2) * (columns / 2) + k / 2] = sum * 0.5f;
                            for (int r = i; r < i + 2; ++r) {
                                const float d = v(r, k) - sum * 0.25f;
                                const float e = v(r, k + 1) - sum * 0.25f;
                                float& acc = r < rows - 4 ? bands[r % 8] : last[r % 4];
                                acc = acc + (d * d + e * e);
                            }
                        }
                wantRest = std::sqrt((((bands[0] + bands[1]) + (bands[2] + bands[3])) +
                                      ((bands[4] + bands[5]) + (bands[6] + bands[7]))) +
                                     ((last[0] + last[1]) + (last[2] + last[3])));
            }
            ASSERT_EQ(std::memcmp(&gotRest, &wantRest, sizeof gotRest), 0) << top << " " << cx;
            ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << top << " " << cx;
        }
    }
}
