// Rows grouped into buffers a reader keeps against rows grouped afresh: the
// same lines, the same members in the same order, the same geometry, pass
// after pass on one set of buffers (the kill feed's steady stream).

#include "hud/core/image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace hud;

namespace {

bool sameBlob(const Blob& a, const Blob& b) {
    return a.x0 == b.x0 && a.y0 == b.y0 && a.x1 == b.x1 && a.y1 == b.y1 && a.area == b.area;
}

void expectSameGrouping(const std::vector<Blob>& blobs, RowGroups& lines, int round) {
    std::vector<RowGeometry> geometry;
    const std::vector<std::vector<Blob>> rows = groupRows(blobs, &geometry);
    groupRows(blobs, lines);
    ASSERT_EQ(lines.count, rows.size()) << "round " << round;
    ASSERT_EQ(lines.geometry.size(), geometry.size()) << "round " << round;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        EXPECT_EQ(lines.geometry[k].top, geometry[k].top) << "round " << round << " line " << k;
        EXPECT_EQ(lines.geometry[k].bottom, geometry[k].bottom) << "round " << round << " line " << k;
        EXPECT_EQ(lines.geometry[k].height, geometry[k].height) << "round " << round << " line " << k;
        const std::vector<Blob>& got = lines.lines[k];
        ASSERT_EQ(got.size(), rows[k].size()) << "round " << round << " line " << k;
        for (std::size_t j = 0; j < got.size(); ++j)
            EXPECT_TRUE(sameBlob(got[j], rows[k][j])) << "round " << round << " line " << k << " blob " << j;
    }
}

// Feed-like rows of letters, icon pieces and marks, at pitches from far
// apart to overlapping (so that lines merge), with equal x0 and equal
// centres among them (the ties a stable order must keep), and noise.
std::vector<Blob> randomBlobs(std::mt19937& rng) {
    std::vector<Blob> out;
    std::uniform_int_distribution<int> pitch(14, 60);
    const int lines = static_cast<int>(rng() % 9);
    int y = static_cast<int>(rng() % 20);
    for (int l = 0; l < lines; ++l) {
        const int cap = 12 + static_cast<int>(rng() % 14);
        int x = static_cast<int>(rng() % 30);
        const int count = 3 + static_cast<int>(rng() % 40);
        for (int k = 0; k < count; ++k) {
            Blob b;
            const int h =
                k % 7 == 3 ? 3 + static_cast<int>(rng() % 6) : cap - 4 + static_cast<int>(rng() % 12);
            const int w = 2 + static_cast<int>(rng() % (k % 9 == 0 ? 70 : 20));
            b.x0 = rng() % 5 == 0 ? x - static_cast<int>(rng() % 12) : x;
            b.y0 = y + static_cast<int>(rng() % 6) - 3 + (h < 10 ? cap : 0);
            b.x1 = b.x0 + w - 1;
            b.y1 = b.y0 + h - 1;
            b.area = 1 + static_cast<int>(rng() % static_cast<unsigned>(w * h));
            out.push_back(b);
            x += rng() % 4 == 0 ? 0 : w + static_cast<int>(rng() % 12);
        }
        y += pitch(rng);
    }
    std::shuffle(out.begin(), out.end(), rng);
    return out;
}

TEST(RowGroups, ReusedBuffersGroupAsFreshOnesPassAfterPass) {
    std::mt19937 rng(11);
    RowGroups lines; // one set of buffers, as the reader keeps them
    for (int round = 0; round < 400; ++round)
        expectSameGrouping(randomBlobs(rng), lines, round);
}

TEST(RowGroups, NothingAndOnlyMarks) {
    RowGroups lines;
    expectSameGrouping({}, lines, 0);
    Blob mark;
    mark.x0 = 4;
    mark.x1 = 6;
    mark.y0 = 10;
    mark.y1 = 12;
    mark.area = 5;
    expectSameGrouping({mark, mark}, lines, 1);
    EXPECT_EQ(lines.count, 0u);
}

} // namespace
