// The committed kill-feed data: what it holds, and that its distance
// templates recognise the figures the painter draws where the reader samples
// them.

#include "feedrun.h"
#include "footage_fixture.h"
#include "hudio.h"
#include "synth.h"

#include "hud/feed/feed.h"
#include "hud/core/image.h"
#include "hud/feed/killdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {

using KillfeedData = FootageTest;

TEST_F(KillfeedData, HoldsEveryIconTheHeaderAndEveryFigure) {
    std::set<std::string> stored;
    for (const hud::KillIcon& icon : killData_->icons) {
        stored.insert(icon.name);
        EXPECT_GT(icon.ink, 0.1f) << icon.name;
        // Drawn at the 2160-line feed cap of 24 pixels: about a cap tall.
        EXPECT_GE(icon.height, 20u) << icon.name;
        EXPECT_LE(icon.height, 36u) << icon.name;
    }
    for (const std::string& name : synth::iconNames())
        for (int v = 0; v <= synth::iconVariantCount(name); ++v)
            EXPECT_EQ(stored.count(synth::iconVariantName(name, v)), 1u) << name << " " << v;
    EXPECT_EQ(stored.count("rifle_2"), 1u);
    EXPECT_EQ(stored.count("skull_small"), 1u);

    EXPECT_FLOAT_EQ(killData_->damageLogWidth, 0.12f);
    EXPECT_EQ(killData_->damageLog.size(), 8u);

    ASSERT_EQ(killData_->digitLength, 1024u);
    for (const char c : std::string("0123456789m")) {
        const hud::detail::TemplateList* list = killData_->digits.find(c);
        ASSERT_NE(list, nullptr) << c;
        EXPECT_GE(list->size(), 8u) << c;
        for (const hud::detail::Template& t : *list) {
            ASSERT_EQ(t.size(), 1024u);
            // Used as stored against normalised cells: zero mean, unit length.
            double sum = 0, squares = 0;
            for (float v : t) {
                sum += v;
                squares += static_cast<double>(v) * v;
            }
            EXPECT_NEAR(sum, 0.0, 1e-3) << c;
            EXPECT_NEAR(squares, 1.0, 1e-3) << c;
        }
    }
}

// Every figure of painted rows, sampled at its true box in the band the
// reader measures, is recognised: at the three resolutions the feed reader
// runs at, sharp and recompressed.
TEST_F(KillfeedData, TemplatesRecogniseThePaintedFigures) {
    int cells = 0, right = 0;
    std::uint32_t scene = 3;
    for (const int h : {1080, 1440, 2160})
        for (const int quality : {0, 70}) {
            synth::FrameContent f;
            f.height = h;
            f.width = h * 16 / 9;
            f.sceneSeed = ++scene;
            f.degradation.jpegQuality = quality;
            f.degradation.blurSigma = quality ? 0.4 : 0.0;
            synth::KillFeed feed;
            for (const int d : {4567, 890, 56, 7, 4321})
                feed.rows.push_back(synth::FeedRowContent{"VIPER12", synth::FeedWho::Me, "GHOST",
                                                          synth::FeedWho::Enemy, "rifle", false, d});
            f.feed = feed;
            const synth::RegionCapture capture = synth::feedCapture(f.width, f.height);
            ASSERT_TRUE(capture.valid);
            const QImage image = capture.capture(synth::renderFrame(f)).convertToFormat(QImage::Format_RGB32);
            hud::FramePlanes planes;
            hud::prepareFrame(synth::frameView(image), planes);
            const int W = image.width(), H = image.height();
            for (const synth::FeedLayout::Row& row : synth::layoutFeed(f).rows) {
                const QRectF open = capture.toCapture(row.openBracket),
                             close = capture.toCapture(row.closeBracket);
                // The band: median top and bottom of the figure components.
                std::vector<int> tops, bottoms;
                for (const hud::Blob& b : hud::labelComponents(planes.mask, W, H))
                    if (b.x0 > open.right() && b.x1 < close.left() && b.y0 > open.top() - 2 &&
                        b.y1 < open.bottom() + 2 && b.height() >= 0.8 * 24 && b.height() <= 1.2 * 24) {
                        tops.push_back(b.y0);
                        bottoms.push_back(b.y1);
                    }
                ASSERT_FALSE(tops.empty());
                const double top = hud::medianInt(tops), bottom = hud::medianInt(bottoms);
                const double band = bottom - top + 1;
                for (const auto& [c, frameBox] : row.figures) {
                    const QRectF box = capture.toCapture(frameBox);
                    hud::Blob piece{W, H, -1, -1, 0, false};
                    for (int y = static_cast<int>(std::floor(top - 0.1 * band));
                         y <= static_cast<int>(std::floor(bottom + 0.1 * band)); ++y)
                        for (int x = static_cast<int>(std::lround(box.left()));
                             x < static_cast<int>(std::lround(box.right())); ++x)
                            if (planes.mask[static_cast<std::size_t>(y) * static_cast<std::size_t>(W) +
                                            static_cast<std::size_t>(x)]) {
                                piece.x0 = std::min(piece.x0, x);
                                piece.x1 = std::max(piece.x1, x);
                                piece.y0 = std::min(piece.y0, y);
                                piece.y1 = std::max(piece.y1, y);
                                ++piece.area;
                            }
                    ASSERT_GE(piece.area, 4) << c;
                    float cell[hud::kGlyphCellLength];
                    hud::figureCell(planes, piece, top, bottom, cell);
                    const hud::GlyphClass g = hud::classifyGlyph(cell, killData_->digits, "0123456789m");
                    ++cells;
                    right += g.character == c;
                    EXPECT_EQ(g.character, c) << h << "p q" << quality << " score " << g.score;
                    EXPECT_GE(g.score, 0.8f) << c << " at " << h << "p q" << quality;
                }
            }
        }
    EXPECT_EQ(cells, 6 * (4 + 3 + 2 + 1 + 4 + 5));
    EXPECT_EQ(right, cells);
}

} // namespace
