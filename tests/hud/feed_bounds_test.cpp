// The kill feed's shortcuts against the plain computations they replace:
// rank selection by counted keys, the shares divided four at a time, and
// figure classification that passes over templates by coarse bounds. Each
// must give the plain result bit for bit.

#include "hud/feed/feed.h"
#include "hud/feed/row-pixels.h"
#include "hud/feed/select.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace hud;

namespace {

float plainRank(std::vector<float> v, std::size_t k) {
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

bool sameBits(float a, float b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(FeedSelect, RanksByCountedKeysAreThoseOfNthElement) {
    std::mt19937 rng(12);
    detail::RankScratch scratch;
    for (int round = 0; round < 300; ++round) {
        const std::size_t n = 1 + rng() % 3000;
        std::vector<float> values(n);
        std::vector<std::uint16_t> keys(n);
        const bool shares = round % 2 == 1;
        for (std::size_t i = 0; i < n; ++i) {
            if (shares) {
                // Byte ratios as the names give them, far below -1 included,
                // and many exact repeats.
                const int r = static_cast<int>(rng() % 256);
                const int b = static_cast<int>(rng() % 256);
                values[i] = r <= 1 ? 0.0f : static_cast<float>(r - b) / static_cast<float>(r);
                keys[i] = detail::shareKey(values[i]);
            } else {
                const std::uint8_t px[3] = {static_cast<std::uint8_t>(rng()),
                                            static_cast<std::uint8_t>(rng()),
                                            static_cast<std::uint8_t>(rng())};
                // A bright narrow range in some rounds, so that one key holds most values.
                const int lift = round % 3 == 0 ? 200 : 0;
                values[i] = static_cast<float>(std::min(255, px[2] % 56 + lift)) * 0.299f +
                            static_cast<float>(std::min(255, px[1] % 56 + lift)) * 0.587f +
                            static_cast<float>(std::min(255, px[0] % 56 + lift)) * 0.114f;
                keys[i] = detail::lumaKey(values[i]);
            }
        }
        const std::size_t ranks[4] = {0, n / 2, std::min(n - 1, n * 9 / 10), n - 1};
        float found[4];
        detail::selectRanks(values.data(), keys.data(), n, shares ? detail::kShareKeys : detail::kLumaKeys,
                            ranks, found, 4, scratch);
        for (int q = 0; q < 4; ++q)
            ASSERT_TRUE(sameBits(found[q], plainRank(values, ranks[q])))
                << "round " << round << " rank " << ranks[q] << " of " << n;
    }
}

TEST(FeedSelect, KeysNeverFallAsTheValueRises) {
    float previous = -300.0f;
    for (float v = -300.0f; v <= 2.0f; v += 0.0009765625f) {
        EXPECT_LE(detail::shareKey(previous), detail::shareKey(v));
        EXPECT_LT(detail::shareKey(v), detail::kShareKeys);
        previous = v;
    }
    for (float v = 0.0f; v <= 256.0f; v += 0.0625f) {
        EXPECT_LE(detail::lumaKey(v - 0.0625f), detail::lumaKey(v));
        EXPECT_LT(detail::lumaKey(v), detail::kLumaKeys);
    }
}

TEST(FeedSelect, SharesFourAtATimeAreTheScalarQuotients) {
    // Every red and blue against a few greens, in a count that leaves a tail.
    std::vector<std::uint8_t> b, g, r;
    for (int red = 0; red < 256; ++red)
        for (int blue = 0; blue < 256; ++blue) {
            r.push_back(static_cast<std::uint8_t>(red));
            b.push_back(static_cast<std::uint8_t>(blue));
            g.push_back(static_cast<std::uint8_t>((red * 7 + blue * 13) % 256));
        }
    r.push_back(1);
    b.push_back(0);
    g.push_back(0);
    const std::size_t n = r.size();
    std::vector<float> warm(n), sat(n);
    detail::nameShares(b.data(), g.data(), r.data(), n, warm.data(), sat.data());
    for (std::size_t i = 0; i < n; ++i) {
        const int mx = std::max<int>(r[i], std::max(g[i], b[i]));
        const int mn = std::min<int>(r[i], std::min(g[i], b[i]));
        const float w = r[i] <= 1 ? 0.0f : static_cast<float>(r[i] - b[i]) / static_cast<float>(r[i]);
        const float s = mx == 0 ? 0.0f : static_cast<float>(mx - mn) / static_cast<float>(mx);
        ASSERT_TRUE(sameBits(warm[i], w)) << int(r[i]) << " " << int(b[i]);
        ASSERT_TRUE(sameBits(sat[i], s)) << int(r[i]) << " " << int(g[i]) << " " << int(b[i]);
    }
}

TEST(FeedSelect, TheBufferlessSortKeepsTheStableOrder) {
    std::mt19937 rng(3);
    for (int round = 0; round < 200; ++round) {
        // Few distinct keys, so that ties are many; sizes either side of
        // the insertion limit.
        std::vector<std::pair<int, int>> items(static_cast<std::size_t>(rng() % 90));
        for (std::size_t i = 0; i < items.size(); ++i)
            items[i] = {static_cast<int>(rng() % 6), static_cast<int>(i)};
        auto plain = items;
        auto byKey = [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
            return a.first < b.first;
        };
        std::stable_sort(plain.begin(), plain.end(), byKey);
        detail::stableSort(items.begin(), items.end(), byKey);
        ASSERT_EQ(items, plain) << "round " << round;
    }
}

std::shared_ptr<const KillData> shippedKillData() {
    std::string error;
    auto data = loadKillData(std::string(CORVEX_SOURCE_DIR) + "/data/hud/killfeed.bin", &error);
    EXPECT_TRUE(data) << error;
    return data;
}

void expectSameClass(const GlyphClass& a, const GlyphClass& b, int round) {
    EXPECT_EQ(a.character, b.character) << "round " << round;
    EXPECT_TRUE(sameBits(a.score, b.score)) << "round " << round << ": " << a.score << " " << b.score;
    EXPECT_TRUE(sameBits(a.second, b.second)) << "round " << round << ": " << a.second << " " << b.second;
}

TEST(FeedFigureBounds, TheBoundsNeverPassOverTheBestOrTheSecond) {
    const auto data = shippedKillData();
    ASSERT_TRUE(data);
    ASSERT_FALSE(data->digitBounds.empty());
    const std::string_view digits = "0123456789";
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    std::vector<float> cell(kGlyphCellLength);
    for (int round = 0; round < 600; ++round) {
        // A template of a random figure blended with another and with noise,
        // from nearly clean to nothing but noise; now and then a template
        // itself, whose score ties at 1.
        const char c = digits[rng() % digits.size()];
        const char d = digits[rng() % digits.size()];
        const detail::TemplateList* a = data->digits.find(c);
        const detail::TemplateList* other = data->digits.find(d);
        ASSERT_TRUE(a && other && !a->empty() && !other->empty());
        const detail::Template& ta = (*a)[rng() % a->size()];
        const detail::Template& tb = (*other)[rng() % other->size()];
        const float mix = static_cast<float>(rng() % 60) / 100.0f;
        const float level = round % 10 == 0 ? 0.0f : static_cast<float>(rng() % 100) / 100.0f;
        for (int i = 0; i < kGlyphCellLength; ++i)
            cell[static_cast<std::size_t>(i)] = (1.0f - mix) * ta[static_cast<std::size_t>(i)] +
                                                mix * tb[static_cast<std::size_t>(i)] +
                                                level * 0.05f * noise(rng);
        if (round % 10 != 0)
            normalizeVector(cell.data(), cell.size());
        expectSameClass(classifyFigureCell(cell.data(), data->digits, data.get()),
                        classifyGlyph(cell.data(), data->digits, digits), round);
    }
}

TEST(FeedFigureBounds, SetsWithoutFittingBoundsAreScoredInFull) {
    const auto shipped = shippedKillData();
    ASSERT_TRUE(shipped);
    const std::string_view digits = "0123456789";
    std::vector<float> cell((*shipped->digits.find('7'))[0]);
    for (std::size_t i = 0; i < cell.size(); i += 7)
        cell[i] += 0.02f;
    normalizeVector(cell.data(), cell.size());

    // Built in memory: no bounds at all.
    KillData bare = *shipped;
    bare.digitBounds.clear();
    expectSameClass(classifyFigureCell(cell.data(), bare.digits, &bare),
                    classifyGlyph(cell.data(), bare.digits, digits), 0);

    // A template added after loading makes the bounds of its figure stale:
    // the added one, the cell itself, must still win.
    KillData grown = *shipped;
    grown.digits.byChar[static_cast<signed char>('3')].push_back(cell);
    const GlyphClass g = classifyFigureCell(cell.data(), grown.digits, &grown);
    EXPECT_EQ(g.character, '3');
    expectSameClass(g, classifyGlyph(cell.data(), grown.digits, digits), 1);

    // Templates other than the kill data's own are scored in full too.
    expectSameClass(classifyFigureCell(cell.data(), bare.digits, shipped.get()),
                    classifyGlyph(cell.data(), bare.digits, digits), 2);
}

TEST(FeedIconSums, RowSumsRunFromTheRightEnd) {
    KillIcon icon;
    icon.width = 3;
    icon.height = 2;
    icon.pixels = {1.0f, 2.0f, 3.0f, -1.0f, 0.5f, 0.25f};
    makeRowSums(icon);
    const std::vector<float> expected = {6.0f, 3.0f, 1.0f, -0.25f, -0.5f, -1.0f};
    EXPECT_EQ(icon.rowSums, expected);
    icon.pixels.resize(2); // damaged: no sums rather than a read past the end
    makeRowSums(icon);
    EXPECT_TRUE(icon.rowSums.empty());
    EXPECT_TRUE(icon.topSums.empty());
}

TEST(FeedIconSums, TopSumsAddTheLargestPixelsFirst) {
    KillIcon icon;
    icon.width = 3;
    icon.height = 2;
    icon.pixels = {1.0f, 2.0f, 3.0f, -1.0f, 0.5f, 0.25f};
    makeRowSums(icon);
    const std::vector<double> expected = {0.0, 3.0, 5.0, 6.0, 6.5, 6.75, 5.75};
    EXPECT_EQ(icon.topSums, expected);
    // Every shipped icon gets them, one more than its pixels, from 0.
    const auto data = shippedKillData();
    ASSERT_TRUE(data);
    for (const KillIcon& ic : data->icons) {
        ASSERT_EQ(ic.topSums.size(), static_cast<std::size_t>(ic.width) * ic.height + 1) << ic.name;
        EXPECT_EQ(ic.topSums.front(), 0.0) << ic.name;
        // The pixels are centred: all of them add up to about nothing.
        EXPECT_NEAR(ic.topSums.back(), 0.0, 1e-3) << ic.name;
    }
}

} // namespace

// The near-white count takes four pixels a step: every length (the tail
// included) and every threshold edge must count as the pixel-by-pixel test.
TEST(FeedNearWhite, CountsAreThoseOfThePixelByPixelTest) {
    std::mt19937 rng(31);
    const int looks[][2] = {{215, 255}, {175, 40}, {0, 0}, {255, 255}, {1, 254}};
    for (int round = 0; round < 400; ++round) {
        const int n = static_cast<int>(rng() % 70);
        std::vector<std::uint8_t> px(4 * static_cast<std::size_t>(n) + 16);
        for (std::uint8_t& v : px) {
            // Values around the floors and spreads in use, and the extremes.
            const int pick = static_cast<int>(rng() % 4);
            v = static_cast<std::uint8_t>(pick == 0 ? 170 + rng() % 50 : pick == 1 ? 255 - rng() % 3 : rng());
        }
        for (const auto& look : looks) {
            int expected = 0;
            for (int x = 0; x < n; ++x) {
                const std::uint8_t* p = px.data() + 4 * x;
                const int lo = std::min({p[0], p[1], p[2]});
                const int hi = std::max({p[0], p[1], p[2]});
                expected += lo >= look[0] && hi - lo <= look[1] ? 1 : 0;
            }
            EXPECT_EQ(detail::countNearWhite(px.data(), n, look[0], look[1]), expected)
                << "round " << round << " n " << n << " floor " << look[0] << " spread " << look[1];
        }
    }
}

// The column counts summed stretch by stretch are those of counting each
// column under the union of the boxes over it: overlapping and nested boxes,
// boxes reaching out of the frame and ranges wider than it.
TEST(FeedColumnCounts, StretchesCountAsColumnByColumn) {
    std::mt19937 rng(53);
    const int w = 90;
    const int h = 40;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(w) * h * 4, 0);
    FramePlanes planes;
    planes.frame.width = w;
    planes.frame.height = h;
    planes.frame.pixels = pixels.data();
    planes.frame.stride = 4 * w;
    planes.mask.resize(static_cast<std::size_t>(w) * h);
    std::vector<int> counts;
    for (int round = 0; round < 150; ++round) {
        for (std::uint8_t& m : planes.mask)
            m = static_cast<std::uint8_t>(rng() % 3 == 0);
        std::vector<Blob> boxes(rng() % 9);
        for (Blob& b : boxes) {
            b.x0 = static_cast<int>(rng() % (w + 20)) - 10;
            b.x1 = b.x0 + static_cast<int>(rng() % 30);
            b.y0 = static_cast<int>(rng() % (h + 10)) - 5;
            b.y1 = b.y0 + static_cast<int>(rng() % 20) - 2; // now and then empty
        }
        const int x0 = static_cast<int>(rng() % (w + 20)) - 15;
        const int x1 = x0 + static_cast<int>(rng() % 120);
        detail::maskColumnCounts(planes, boxes, x0, x1, counts);
        ASSERT_EQ(counts.size(), static_cast<std::size_t>(x1 - x0 + 1));
        for (int x = x0; x <= x1; ++x) {
            int expected = 0;
            for (int y = 0; y < h && x >= 0 && x < w; ++y) {
                bool covered = false;
                for (const Blob& b : boxes)
                    covered = covered || (b.y0 <= b.y1 && b.x0 <= x && x <= b.x1 && b.y0 <= y && y <= b.y1);
                expected += covered ? planes.mask[static_cast<std::size_t>(y) * w + x] : 0;
            }
            ASSERT_EQ(counts[static_cast<std::size_t>(x - x0)], expected) << "round " << round << " x " << x;
        }
    }
}

// The near-white mask takes sixteen pixels a step: every length and every
// threshold edge marks as the pixel-by-pixel test.
TEST(FeedNearWhite, MarksAreThoseOfThePixelByPixelTest) {
    std::mt19937 rng(37);
    for (int round = 0; round < 300; ++round) {
        const int n = static_cast<int>(rng() % 70);
        std::vector<std::uint8_t> px(4 * static_cast<std::size_t>(n) + 16);
        for (std::uint8_t& v : px) {
            const int pick = static_cast<int>(rng() % 4);
            v = static_cast<std::uint8_t>(pick == 0   ? 140 + rng() % 30
                                          : pick == 1 ? 200 + rng() % 56
                                                      : rng());
        }
        std::vector<std::uint8_t> marks(static_cast<std::size_t>(n) + 1, 7);
        detail::markNearWhite(px.data(), n, 150, 60, marks.data());
        for (int x = 0; x < n; ++x) {
            const std::uint8_t* p = px.data() + 4 * x;
            const int lo = std::min({p[0], p[1], p[2]});
            const int hi = std::max({p[0], p[1], p[2]});
            ASSERT_EQ(marks[static_cast<std::size_t>(x)], lo >= 150 && hi - lo <= 60 ? 1 : 0)
                << "round " << round << " x " << x;
        }
        EXPECT_EQ(marks[static_cast<std::size_t>(n)], 7) << "written past the end";
    }
}
