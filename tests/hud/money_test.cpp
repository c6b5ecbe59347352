#include "hud/cash/money.h"
#include "hud/cash/pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

using hud::Blob;
using hud::Candidate;
using hud::Plane;

namespace {

constexpr double kH = 27.0;
constexpr double kTop = 40.0;
constexpr double kBottom = kTop + kH - 1.0;

// Stand-in glyphs: each character a fixed random pattern of 3x3-pixel blocks,
// 16 pixels wide and H tall, so that different characters barely correlate.
void paintGlyph(Plane& p, char c, double cx) {
    std::mt19937 gen(static_cast<unsigned>(static_cast<unsigned char>(c)) * 7919u);
    const int x0 = static_cast<int>(std::lround(cx)) - 8;
    for (int by = 0; by < 9; ++by)
        for (int bx = 0; bx < 5; ++bx) {
            const float v = gen() % 2 ? 1.0f : 0.0f;
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 3; ++x) {
                    const int px = x0 + bx * 3 + x + 1, py = static_cast<int>(kTop) + by * 3 + y;
                    if (px >= 0 && px < p.width && py >= 0 && py < p.height)
                        p.pixels[static_cast<std::size_t>(py * p.width + px)] = v;
                }
        }
}

// Centres of a figure's characters laid out right to left with the money
// font's advances and group gaps, as the game sets them.
std::vector<std::pair<char, double>> layout(const std::string& text, double lastCentre) {
    const hud::WidthTable& w = hud::moneyWidths();
    std::vector<std::pair<char, double>> out;
    double x = lastCentre;
    int digits = 0;
    char prev = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        if (*it == ',')
            continue;
        if (prev) {
            const bool digit = *it >= '0' && *it <= '9';
            x -= (w.of(*it) + w.of(prev)) / 2 * kH + (digit && digits % 3 == 0 ? 0.49 * kH : 0.0);
        }
        out.push_back({*it, x});
        digits += *it >= '0' && *it <= '9';
        prev = *it;
    }
    return out;
}

Plane blank() {
    Plane p;
    p.resize(700, 120);
    return p;
}

Plane paintFigure(const std::string& text, double lastCentre) {
    Plane p = blank();
    for (auto [c, x] : layout(text, lastCentre))
        paintGlyph(p, c, x);
    return p;
}

// One template per character, sampled where it stands on its own.
hud::detail::Templates templatesFor(const std::string& chars) {
    hud::detail::Templates t;
    t.cellLength = 720;
    for (char c : chars) {
        Plane p = blank();
        paintGlyph(p, c, 100.0);
        std::vector<float> cell(720);
        hud::sampleMoneyCell(p, 100.0, kTop, kBottom, kH, cell.data());
        hud::normalizeVector(cell.data(), 720);
        t.byChar[static_cast<signed char>(c)].push_back(cell);
    }
    return t;
}

// A pair record that scores -bias whatever the cell.
hud::PairParams constantPair(float score) {
    return {std::vector<float>(720, 0.0f), -score};
}

Candidate cand(char c, float score, double x = 100.0) {
    Candidate k;
    k.character = c;
    k.score = score;
    k.x = x;
    return k;
}

} // namespace

TEST(HudMoney, FormatsThousands) {
    EXPECT_EQ(hud::formatThousands(0), "0");
    EXPECT_EQ(hud::formatThousands(999), "999");
    EXPECT_EQ(hud::formatThousands(1000), "1,000");
    EXPECT_EQ(hud::formatThousands(1234567), "1,234,567");
    EXPECT_EQ(hud::formatThousands(-250), "250");
    EXPECT_EQ(hud::formatThousands(INT64_MIN), "9,223,372,036,854,775,808");
    EXPECT_EQ(hud::moneyText(-1250), "-$1,250");
    EXPECT_EQ(hud::moneyText(250), "$250");
}

TEST(HudMoney, DecideUsesPairsOnlyForCloseCalls) {
    const Plane p = blank();
    const hud::detail::Templates none;
    hud::PairTable pairs;
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, none, pairs);

    Candidate one[] = {cand('$', -2.0f)};
    hud::Decision d = hud::decide(ctx, one, 1);
    EXPECT_EQ(d.chosen.character, '$');
    EXPECT_FLOAT_EQ(d.margin, 1.0f);

    // Sorted by score; equal scores keep set order. No pairs: plain margin.
    Candidate c[] = {cand('1', 0.5f), cand('3', 0.9f), cand('8', 0.9f)};
    d = hud::decide(ctx, c, 3);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    EXPECT_EQ(c[1].character, '8');

    pairs[hud::PairKey{'3', '8'}] = constantPair(2.5f);
    Candidate clear[] = {cand('3', 0.95f), cand('8', 0.8f)};
    d = hud::decide(ctx, clear, 2);
    EXPECT_NEAR(d.margin, 0.15f, 1e-6); // not a close call

    Candidate close[] = {cand('3', 0.90f), cand('8', 0.85f)};
    d = hud::decide(ctx, close, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.1f);

    pairs[hud::PairKey{'3', '8'}] = constantPair(1.0f);
    Candidate unsure[] = {cand('3', 0.90f), cand('8', 0.85f)};
    d = hud::decide(ctx, unsure, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);

    // No record for the pair: the score difference stands.
    Candidate other[] = {cand('5', 0.90f), cand('6', 0.85f)};
    d = hud::decide(ctx, other, 2);
    EXPECT_NEAR(d.margin, 0.05f, 1e-6);
}

TEST(HudMoney, BalanceDecisionsNeedTheTieBreakersBacking) {
    const Plane p = blank();
    const hud::detail::Templates none;
    hud::PairTable pairs;
    hud::MoneyRowContext plain(p, kTop, kBottom, kH, none, pairs);
    hud::MoneyRowContext strict(p, kTop, kBottom, kH, none, pairs);
    strict.confirmBelow = 0.2f;

    // Templates 0.1 apart, the tie-breaker leaning the other way: certain
    // for the reward figures' reader, uncertain for the balance.
    pairs[hud::PairKey{'3', '8'}] = constantPair(-0.2f);
    Candidate apart[] = {cand('3', 0.92f), cand('8', 0.82f)};
    hud::Decision d = hud::decide(plain, apart, 2);
    EXPECT_NEAR(d.margin, 0.1f, 1e-6);
    Candidate apart2[] = {cand('3', 0.92f), cand('8', 0.82f)};
    d = hud::decide(strict, apart2, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    // Backed by it, or apart by more than the bound, the margin stands.
    pairs[hud::PairKey{'3', '8'}] = constantPair(0.3f);
    Candidate backed[] = {cand('3', 0.92f), cand('8', 0.82f)};
    EXPECT_NEAR(hud::decide(strict, backed, 2).margin, 0.1f, 1e-6);
    pairs[hud::PairKey{'3', '8'}] = constantPair(-3.0f);
    Candidate far[] = {cand('3', 0.95f), cand('8', 0.70f)};
    EXPECT_NEAR(hud::decide(strict, far, 2).margin, 0.25f, 1e-6);

    // A close call leaning the same way at both positions: kept with a small
    // margin for the first, the second chosen but uncertain for the second.
    pairs[hud::PairKey{'3', '8'}] = constantPair(1.5f);
    Candidate lean[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    d = hud::decide(strict, lean, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.05f);
    Candidate leanPlain[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    EXPECT_FLOAT_EQ(hud::decide(plain, leanPlain, 2).margin, 0.0f);
    pairs[hud::PairKey{'3', '8'}] = constantPair(0.5f);
    Candidate weak[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    EXPECT_FLOAT_EQ(hud::decide(strict, weak, 2).margin, 0.0f);
    pairs[hud::PairKey{'3', '8'}] = constantPair(-1.5f);
    Candidate against[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    d = hud::decide(strict, against, 2);
    EXPECT_EQ(d.chosen.character, '8');
    EXPECT_DOUBLE_EQ(d.chosen.x, 102.0);
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    Candidate againstPlain[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    EXPECT_EQ(hud::decide(plain, againstPlain, 2).chosen.character, '3');
}

TEST(HudMoney, PairsStoredTheOtherWayRoundAreNegated) {
    const Plane p = blank();
    const hud::detail::Templates none;
    hud::PairTable pairs;
    pairs[hud::PairKey{'8', '3'}] = constantPair(2.5f);
    std::vector<float> cell(720, 0.0f);
    hud::PairScore s = hud::pairScore(pairs, cell.data(), '3', '8');
    EXPECT_TRUE(s.found);
    EXPECT_FLOAT_EQ(s.score, -2.5f);
    s = hud::pairScore(pairs, cell.data(), '8', '3');
    EXPECT_FLOAT_EQ(s.score, 2.5f);
    EXPECT_FALSE(hud::pairScore(pairs, cell.data(), '3', '5').found);

    // Strongly for the second at both places: the second is chosen.
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, none, pairs);
    Candidate c[] = {cand('3', 0.90f, 100), cand('8', 0.86f, 103)};
    const hud::Decision d = hud::decide(ctx, c, 2);
    EXPECT_EQ(d.chosen.character, '8');
    EXPECT_DOUBLE_EQ(d.chosen.x, 103.0);
    EXPECT_FLOAT_EQ(d.margin, 0.1f);

    // Weights of another length are never used.
    pairs.clear();
    pairs[hud::PairKey{'3', '8'}] = {std::vector<float>(719, 0.0f), -5.0f};
    EXPECT_FALSE(hud::pairScore(pairs, cell.data(), '3', '8').found);

    // A real dot product: weights equal to the cell.
    cell.assign(720, 0.5f);
    pairs[hud::PairKey{'1', '7'}] = {std::vector<float>(720, 0.5f), 100.0f};
    EXPECT_FLOAT_EQ(hud::pairScore(pairs, cell.data(), '1', '7').score, 720 * 0.25f - 100.0f);
}

TEST(HudMoney, ReadsFiguresRightToLeftUntilTheDollar) {
    const hud::detail::Templates t = templatesFor("0123456789$-");
    const hud::PairTable pairs;
    for (const std::string text : {"$1,234", "$999", "$7", "$1,234,567", "$908,070,605"}) {
        const auto placed = layout(text, 600.0);
        const Plane p = paintFigure(text, 600.0);
        hud::MoneyRowContext ctx(p, kTop, kBottom, kH, t, pairs);
        const hud::MoneyReading r = hud::readMoney(ctx, 601.0, hud::moneyWidths(), 0.49, 9, 2);
        std::string digits;
        for (char c : text)
            if (c >= '0' && c <= '9')
                digits += c;
        ASSERT_TRUE(r.ok) << text;
        EXPECT_EQ(r.digits, digits);
        EXPECT_EQ(r.value, std::stoll(digits));
        EXPECT_GT(r.minScore, 0.8f) << text;
        EXPECT_GT(r.minMargin, 0.15f) << text;
        EXPECT_NEAR(r.firstX, 600.0, 0.6);
        EXPECT_NEAR(r.dollarX, placed.back().second, 0.6) << text;
    }
}

TEST(HudMoney, NineDigitsAtMostThenOnlyTheDollar) {
    const hud::PairTable pairs;
    // Ten digits: the tenth position is offered only the "$", which ends
    // the figure whatever it scores.
    {
        const hud::detail::Templates t = templatesFor("0123456789$");
        const Plane p = paintFigure("$1234567890", 600.0);
        hud::MoneyRowContext ctx(p, kTop, kBottom, kH, t, pairs);
        const hud::MoneyReading r = hud::readMoney(ctx, 600.0, hud::moneyWidths(), 0.49, 9, 2);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.digits, "234567890");
        EXPECT_LT(r.minScore, 0.5f);
    }
    // Without "$" templates a nine-digit figure still ends, with score -2;
    // a shorter one fails where no digit reads.
    const hud::detail::Templates noDollar = templatesFor("0123456789");
    {
        const Plane p = paintFigure("$123,456,789", 600.0);
        hud::MoneyRowContext ctx(p, kTop, kBottom, kH, noDollar, pairs);
        const hud::MoneyReading r = hud::readMoney(ctx, 600.0, hud::moneyWidths(), 0.49, 9, 2);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.value, 123456789);
        EXPECT_EQ(r.minScore, -2.0f);
    }
    {
        const Plane p = paintFigure("$4,560", 600.0);
        hud::MoneyRowContext ctx(p, kTop, kBottom, kH, noDollar, pairs);
        EXPECT_FALSE(hud::readMoney(ctx, 600.0, hud::moneyWidths(), 0.49, 9, 2).ok);
    }
    // Nothing to read at all: the first position takes a digit at -2, the
    // next fails.
    {
        const Plane p = blank();
        const hud::detail::Templates none;
        hud::MoneyRowContext ctx(p, kTop, kBottom, kH, none, pairs);
        const hud::MoneyReading r = hud::readMoney(ctx, 600.0, hud::moneyWidths(), 0.49, 9, 2);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.digits, "0");
    }
}

TEST(HudMoney, BestPositionFindsTheOffset) {
    const hud::detail::Templates t = templatesFor("5");
    const hud::PairTable pairs;
    Plane p = blank();
    paintGlyph(p, '5', 302.0);
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, t, pairs);
    Candidate c = hud::bestPosition(ctx, 300.0, '5', 3);
    EXPECT_DOUBLE_EQ(c.x, 302.0);
    EXPECT_GT(c.score, 0.99f);
    c = hud::bestPosition(ctx, 300.0, '5', 1); // out of reach
    EXPECT_LT(c.score, 0.9f);
    c = hud::bestPosition(ctx, 300.0, '7', 3); // no templates
    EXPECT_EQ(c.score, -2.0f);
    EXPECT_DOUBLE_EQ(c.x, 300.0);
}

namespace {

struct Frame {
    int w, h;
    std::vector<std::uint8_t> px;
    Frame(int width, int height, std::uint8_t grey)
        : w(width), h(height), px(static_cast<std::size_t>(w * h * 4), grey) {}
    void set(int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        std::uint8_t* p = px.data() + (y * w + x) * 4;
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    void fill(int x0, int y0, int x1, int y1, std::uint8_t v) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                set(x, y, v, v, v);
    }
    hud::FrameView view() const { return {w, h, px.data(), w * 4}; }
};

hud::MoneyLine lineAt(double top, double height) {
    hud::MoneyLine l;
    l.top = top;
    l.height = height;
    l.bottom = top + height - 1;
    return l;
}

} // namespace

TEST(HudMoney, ArrowColourCountsStronglyColouredPixels) {
    const hud::MoneyLine line = lineAt(10, 20); // rows 6..32
    auto arrowWith = [&](int red, int green) {
        Frame f(60, 40, 30);
        int n = 0;
        for (int y = 6; y < 33 && n < red + green; ++y)
            for (int x = 12; x < 40 && n < red + green; ++x, ++n)
                n < red ? f.set(x, y, 215, 45, 35) : f.set(x, y, 70, 200, 90);
        return hud::arrowColour(f.view(), line, 10.0, 40.0);
    };
    EXPECT_EQ(arrowWith(0, 0), 0);
    EXPECT_EQ(arrowWith(7, 0), 0);
    EXPECT_EQ(arrowWith(8, 0), -1);
    EXPECT_EQ(arrowWith(0, 8), 1);
    EXPECT_EQ(arrowWith(30, 10), 0);  // red not three times green
    EXPECT_EQ(arrowWith(31, 10), -1); // now it is
    EXPECT_EQ(arrowWith(3, 20), 1);

    Frame f(60, 40, 30);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x)
            f.set(x, y, 215, 45, 35);
    EXPECT_EQ(hud::arrowColour(f.view(), line, 10.0, 14.9), 0); // columns 12..13 only
    EXPECT_EQ(hud::arrowColour(f.view(), line, 10.0, 15.0), -1);
    EXPECT_EQ(hud::arrowColour(f.view(), line, -1e300, 1e300), -1);
    EXPECT_EQ(hud::arrowColour(f.view(), line, std::nan(""), 30.0), -1);
    EXPECT_EQ(hud::arrowColour(hud::FrameView{}, line, 10.0, 40.0), 0);
    EXPECT_EQ(hud::arrowColour(f.view(), lineAt(100, 20), 10.0, 40.0), 0); // no rows inside
}

namespace {

// Planes whose mask holds the given boxes.
hud::FramePlanes maskPlanes(int w, int h, const std::vector<Blob>& boxes) {
    hud::FramePlanes planes;
    planes.smooth.resize(w, h);
    planes.mask.assign(static_cast<std::size_t>(w * h), 0);
    for (const Blob& b : boxes)
        for (int y = b.y0; y <= b.y1; ++y)
            for (int x = b.x0; x <= b.x1; ++x)
                planes.mask[static_cast<std::size_t>(y * w + x)] = 1;
    return planes;
}

Blob box(int x0, int y0, int x1, int y1) {
    Blob b;
    b.x0 = x0;
    b.y0 = y0;
    b.x1 = x1;
    b.y1 = y1;
    return b;
}

bool found(const std::vector<Blob>& boxes, hud::MoneyLine* out = nullptr) {
    hud::FramePlanes planes = maskPlanes(300, 200, boxes);
    hud::MoneyLine line;
    const bool ok = hud::findMoneyLine(planes, line);
    if (out)
        *out = line;
    return ok;
}

} // namespace

TEST(HudSearch, MoneyLineCandidatesAndRows) {
    EXPECT_FALSE(found({}));
    EXPECT_FALSE(found({box(100, 40, 110, 66)})); // one digit is not a line
    EXPECT_TRUE(found({box(100, 40, 110, 66), box(120, 40, 130, 66)}));
    // Height 17 is too short, 18 is enough.
    EXPECT_FALSE(found({box(100, 40, 110, 56), box(120, 40, 130, 56)}));
    EXPECT_TRUE(found({box(100, 40, 110, 57), box(120, 40, 130, 57)}));
    // The top must lie between 20 and 115.
    EXPECT_FALSE(found({box(100, 19, 110, 45), box(120, 19, 130, 45)}));
    EXPECT_TRUE(found({box(100, 20, 110, 46), box(120, 20, 130, 46)}));
    EXPECT_TRUE(found({box(100, 115, 110, 141), box(120, 115, 130, 141)}));
    EXPECT_FALSE(found({box(100, 116, 110, 142), box(120, 116, 130, 142)}));
    // Width 2 is a stroke, not a digit; wider than four heights is a bar.
    EXPECT_FALSE(found({box(100, 40, 101, 66), box(120, 40, 121, 66)}));
    EXPECT_FALSE(found({box(10, 40, 122, 66), box(130, 40, 242, 66)}));

    // Two rows of two: the one reaching further right wins.
    hud::MoneyLine line;
    ASSERT_TRUE(
        found({box(100, 30, 110, 56), box(120, 30, 130, 56), box(100, 80, 110, 106), box(150, 80, 160, 106)},
              &line));
    EXPECT_DOUBLE_EQ(line.top, 80.0);
    // More blobs beat reaching further.
    ASSERT_TRUE(found({box(10, 30, 20, 56), box(30, 30, 40, 56), box(50, 30, 60, 56), box(100, 80, 110, 106),
                       box(250, 80, 260, 106)},
                      &line));
    EXPECT_DOUBLE_EQ(line.top, 30.0);
}

TEST(HudSearch, MoneyLineMeasuresTheDigitsNotTheTallerMarks) {
    // A "$" taller than the digits and a fused pair as wide as two digits.
    hud::MoneyLine line;
    ASSERT_TRUE(found({box(50, 36, 62, 70), box(70, 40, 82, 66), box(90, 40, 102, 66), box(110, 40, 122, 66),
                       box(130, 41, 155, 67)},
                      &line));
    EXPECT_DOUBLE_EQ(line.top, 40.0);
    EXPECT_DOUBLE_EQ(line.bottom, 66.0);
    EXPECT_DOUBLE_EQ(line.height, 27.0);
    EXPECT_EQ(line.rowBlobs.size(), 5u);
    ASSERT_EQ(line.charBlobs.size(), 4u); // the "$" is 35 tall, 8 more than the tolerance
    EXPECT_EQ(line.charBlobs.front().x0, 70);
    EXPECT_EQ(line.charBlobs.back().x0, 130);
}

namespace {

// A w x h plane of values spread over 0..1.
Plane noisePlane(unsigned seed, int w, int h) {
    std::mt19937 gen(seed);
    Plane p;
    p.resize(w, h);
    for (float& v : p.pixels)
        v = static_cast<float>(gen() % 1000) / 999.0f;
    return p;
}

} // namespace

TEST(HudMoney, LineCellsMatchDirectSampling) {
    const Plane p = noisePlane(4, 90, 70);
    const hud::detail::Templates none;
    const hud::PairTable pairs;
    // Lines inside, across the top and across the bottom; the cells walk
    // left, jump right and run off both sides, so the strip grows both ways.
    for (double top : {20.0, -8.0, 55.0}) {
        const double h = 18.0, bottom = top + h - 1;
        hud::MoneyRowContext ctx(p, top, bottom, h, none, pairs);
        float got[hud::kMoneyCellLength];
        float want[hud::kMoneyCellLength];
        for (double cx : {45.3, 30.0, 12.7, 60.5, 2.0, -5.5, 88.9, 95.0, -40.0, 130.0}) {
            hud::sampleLineCell(ctx, cx, got);
            hud::sampleMoneyCell(p, cx, top, bottom, h, want);
            for (int i = 0; i < hud::kMoneyCellLength; ++i)
                ASSERT_NEAR(got[i], want[i], 1e-6) << top << " " << cx << " " << i;
        }
    }
    Plane empty;
    hud::MoneyRowContext nothing(empty, 0, 10, 10, none, pairs);
    float cell[hud::kMoneyCellLength];
    hud::sampleLineCell(nothing, 5.0, cell);
    EXPECT_TRUE(std::all_of(cell, cell + hud::kMoneyCellLength, [](float v) { return v == 0; }));
    hud::MoneyRowContext odd(p, 20, 37, 18, none, pairs);
    hud::sampleLineCell(odd, std::numeric_limits<double>::quiet_NaN(), cell);
    EXPECT_TRUE(std::all_of(cell, cell + hud::kMoneyCellLength, [](float v) { return v == 0; }));
}

// The line cells bit for bit against their arithmetic written out plainly:
// each strip value blends two plane rows, each cell value two strip
// columns, both in float; columns and rows off the plane read 0. Wide and
// narrow lines, cells inside, straddling either side and wholly off it.
TEST(HudMoney, LineCellsAreTheirBlendsBitForBit) {
    const Plane p = noisePlane(12, 123, 61);
    const hud::detail::Templates none;
    const hud::PairTable pairs;
    auto strip = [&](int x, double y) {
        if (x < 0 || x >= p.width || !(y > -1.0 && y < static_cast<double>(p.height)))
            return 0.0f;
        const int iy = static_cast<int>(std::floor(y));
        const float fy = static_cast<float>(y - iy);
        const float gy = 1.0f - fy;
        const bool r0 = iy >= 0;
        const bool r1 = iy + 1 < p.height;
        if (r0 && r1)
            return gy * p.at(x, iy) + fy * p.at(x, iy + 1);
        return r0 ? gy * p.at(x, iy) : fy * p.at(x, iy + 1);
    };
    for (const auto& [top, h] : {std::pair<double, double>{20.0, 18.0}, {-6.5, 27.0}, {48.25, 13.0}}) {
        const double bottom = top + h - 1;
        hud::MoneyRowContext ctx(p, top, bottom, h, none, pairs);
        const double stepY = (bottom - top + 0.6 * h) / hud::kMoneyCellRows;
        const double stepX = 0.9 * h / hud::kMoneyCellColumns;
        for (double cx : {61.7, 3.1, -4.0, 119.6, 130.2, 62.7, 0.5, 200.0}) {
            float got[hud::kMoneyCellLength];
            hud::sampleLineCell(ctx, cx, got);
            for (int j = 0; j < hud::kMoneyCellColumns; ++j) {
                const double x = cx - 0.45 * h + j * stepX;
                const bool live = x > -1.0 && x < static_cast<double>(p.width);
                const int ix = live ? static_cast<int>(std::floor(x)) : 0;
                const float fx = live ? static_cast<float>(x - ix) : 0.0f;
                for (int i = 0; i < hud::kMoneyCellRows; ++i) {
                    const double y = top - 0.3 * h + i * stepY;
                    const float want = live ? (1.0f - fx) * strip(ix, y) + fx * strip(ix + 1, y) : 0.0f;
                    const float at = got[i * hud::kMoneyCellColumns + j];
                    ASSERT_EQ(std::memcmp(&at, &want, sizeof at), 0)
                        << top << " " << cx << " " << i << " " << j << ": " << at << " " << want;
                }
            }
        }
    }
}

TEST(HudMoney, BestPositionIsTheBestOfItsOffsets) {
    const hud::detail::Templates t = templatesFor("58");
    const hud::PairTable pairs;
    Plane p = blank();
    paintGlyph(p, '5', 297.0);
    paintGlyph(p, '8', 318.0);
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, t, pairs);
    for (char c : {'5', '8'})
        for (int radius = 0; radius <= 9; ++radius) {
            const double x = 300.25;
            Candidate want;
            want.x = x;
            for (int d = -radius; d <= radius; ++d) {
                const float s = hud::scoreAt(ctx, x + d, c);
                if (s > want.score) {
                    want.score = s;
                    want.x = x + d;
                }
            }
            const Candidate got = hud::bestPosition(ctx, x, c, radius);
            EXPECT_EQ(got.score, want.score) << c << " " << radius;
            EXPECT_EQ(got.x, want.x) << c << " " << radius;
        }
}

TEST(HudMoney, SearchedBestEqualsEveryOffsetScored) {
    // The search bounds cells before it normalises them: on glyphs, on ink
    // too faint and flat to bound that way and on a blank plane, the best
    // score over ten characters at their own centres equals the best of
    // every character scored at every offset.
    const std::string digits = "0123456789";
    // Several templates a character, from glyphs set a little apart, so
    // that templates compete within a character as well.
    hud::detail::Templates t = templatesFor(digits);
    for (char c : digits)
        for (double shift : {0.4, 1.3, -0.7}) {
            Plane p = blank();
            paintGlyph(p, c, 100.0 + shift);
            paintGlyph(p, digits[static_cast<std::size_t>((c - '0' + 3) % 10)], 100.0 + shift + 14.0);
            std::vector<float> cell(720);
            hud::sampleMoneyCell(p, 100.0, kTop, kBottom, kH, cell.data());
            hud::normalizeVector(cell.data(), 720);
            t.byChar[static_cast<signed char>(c)].push_back(cell);
        }
    const hud::PairTable pairs;
    Plane glyphs = paintFigure("5,808", 400.0);
    std::mt19937 gen(8);
    Plane noise = blank();
    for (float& v : noise.pixels)
        v = static_cast<float>(gen() % 1000) / 999.0f;
    Plane faint = glyphs;
    for (float& v : faint.pixels)
        v = 0.5f + 1e-5f * v;
    Plane flat = blank();
    std::fill(flat.pixels.begin(), flat.pixels.end(), 0.25f);
    const hud::WidthTable& widths = hud::moneyWidths();
    for (const Plane* p : {&glyphs, &noise, &faint, &flat}) {
        hud::MoneyRowContext ctx(*p, kTop, kBottom, kH, t, pairs);
        for (double last : {400.0, 381.6, 357.2}) {
            double centres[10];
            for (int i = 0; i < 10; ++i)
                centres[i] =
                    last - (widths.of('8') + widths.of(digits[static_cast<std::size_t>(i)])) / 2 * kH;
            for (int radius : {0, 3, 5}) {
                float want = hud::kNoScore;
                for (int i = 0; i < 10; ++i)
                    for (int d = -radius; d <= radius; ++d)
                        want = std::max(
                            want, hud::scoreAt(ctx, centres[i] + d, digits[static_cast<std::size_t>(i)]));
                EXPECT_EQ(hud::bestScoreAround(ctx, centres, digits.data(), 10, radius, hud::kNoScore), want)
                    << (p == &glyphs  ? "glyphs"
                        : p == &faint ? "faint"
                                      : "flat")
                    << " " << last << " " << radius;
            }
        }
    }
}

namespace {

// A frame of the capture's size with bright bars standing in for the money
// line's digits, the last one ending `rightGap` pixels from the right edge.
// The smoothing widens each bar's mask by a pixel all round, so the bars are
// drawn 25 pixels tall for a 27-pixel line.
Frame barFrame(double rightGap, std::uint8_t ink = 235, std::uint8_t background = 60) {
    Frame f(907, 200, background);
    const int x1 = 907 - 1 - static_cast<int>(std::lround(rightGap)) - 1;
    for (int k = 0; k < 4; ++k)
        f.fill(x1 - 4 - 24 * k, 44, x1 - 24 * k, 68, ink);
    return f;
}

hud::Model emptyModel() {
    hud::Model m;
    m.money.cellLength = 720;
    return m;
}

} // namespace

TEST(HudSearch, ReadHudChecksTheRightMargin) {
    const hud::Model model = emptyModel();
    hud::HudReadOptions options;

    // Ends 2.15 H from the edge: at the margin, but nothing reads there.
    Frame f = barFrame(2.15 * 27);
    hud::HudReading r = hud::readHud(model, f.view(), options);
    EXPECT_TRUE(r.found);
    EXPECT_FLOAT_EQ(r.lineHeight, 27.0f);
    EXPECT_EQ(r.reason, "balance unreadable");
    EXPECT_TRUE(r.balanceText.empty());

    // 2.8 H away is off the margin (0.65 H > 0.6 H).
    f = barFrame(2.8 * 27);
    r = hud::readHud(model, f.view(), options);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.reason, "balance not at the HUD's right margin");
    options.allowOffMargin = false;
    r = hud::readHud(model, f.view(), options);
    EXPECT_EQ(r.reason, "balance not at the HUD's right margin");
    EXPECT_EQ(hud::hudSizePercent(r.lineHeight), 100);
}

TEST(HudSearch, FaintHudNeedsTheSecondSearch) {
    // Bars 30 grey levels above the background: a top-hat between 24 and 34.
    Frame f = barFrame(2.15 * 27, 130, 100);
    const hud::Model model = emptyModel();
    hud::HudReadOptions options;
    options.retryLowContrast = false;
    hud::FramePlanes planes;
    hud::HudReading r = hud::readHud(model, f.view(), options, planes);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.reason, "no money line");
    options.retryLowContrast = true;
    r = hud::readHud(model, f.view(), options, planes);
    EXPECT_TRUE(r.found);
    // The strict mask is the frame's mask again afterwards.
    EXPECT_TRUE(std::all_of(planes.mask.begin(), planes.mask.end(), [](std::uint8_t v) { return v == 0; }));
}

TEST(HudSearch, AnyFrameGivesAnAnswer) {
    const hud::Model model = emptyModel();
    const hud::HudReadOptions options;
    std::vector<std::uint8_t> px(907 * 475 * 4 + 64);
    std::mt19937 gen(11);
    for (auto& b : px)
        b = static_cast<std::uint8_t>(gen());
    const hud::FrameView frames[] = {
        {0, 0, nullptr, 0},          {1, 1, px.data(), 4},        {907, 475, nullptr, 3628},
        {907, 475, px.data(), 3628}, {300, 200, px.data(), 3628}, {907, 475, px.data(), 100},
        {3, 907, px.data(), 12},     {907, 3, px.data(), 3628},
    };
    for (const hud::FrameView& f : frames) {
        const hud::HudReading r = hud::readHud(model, f, options);
        EXPECT_FALSE(r.reason.empty());
        if (!f.valid()) {
            EXPECT_FALSE(r.found);
            EXPECT_EQ(r.reason, "no money line");
        }
    }
}

TEST(HudMoney, TiesLeftByThePairsGoToTheSettlers) {
    const Plane p = blank();
    const hud::detail::Templates none;
    hud::PairTable pairs, settlers;
    pairs[hud::PairKey{'3', '8'}] = constantPair(-0.5f); // never confident: a tie
    hud::MoneyRowContext figure(p, kTop, kBottom, kH, none, pairs);
    figure.settlers = &settlers;
    hud::MoneyRowContext balance(p, kTop, kBottom, kH, none, pairs);
    balance.confirmBelow = 0.2f;
    balance.settlers = &settlers;

    // No record for the pair: the tie stays.
    Candidate c0[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    hud::Decision d = hud::decide(figure, c0, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    EXPECT_FALSE(d.settled);

    // For the second at both places: chosen with the small settled margin.
    settlers[hud::PairKey{'8', '3'}] = constantPair(2.0f);
    Candidate c1[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    d = hud::decide(figure, c1, 2);
    EXPECT_EQ(d.chosen.character, '8');
    EXPECT_DOUBLE_EQ(d.chosen.x, 102.0);
    EXPECT_NEAR(d.margin, 0.04f, 1e-6);
    EXPECT_TRUE(d.settled);
    // A figure, tried from several places, asks for more than the balance.
    settlers[hud::PairKey{'8', '3'}] = constantPair(1.2f);
    Candidate c2[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    EXPECT_FALSE(hud::decide(figure, c2, 2).settled);
    Candidate c3[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    d = hud::decide(balance, c3, 2);
    EXPECT_EQ(d.chosen.character, '8');
    EXPECT_TRUE(d.settled);

    // Tie-breakers leaning the other way, a candidate that scores too low,
    // or a tie with the "$": no settling.
    pairs[hud::PairKey{'3', '8'}] = constantPair(0.5f);
    Candidate c4[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    EXPECT_FALSE(hud::decide(balance, c4, 2).settled);
    pairs[hud::PairKey{'3', '8'}] = constantPair(-0.5f);
    Candidate c5[] = {cand('3', 0.70f, 100), cand('8', 0.70f, 102)};
    EXPECT_FALSE(hud::decide(balance, c5, 2).settled);
    pairs[hud::PairKey{'$', '8'}] = constantPair(0.0f);
    settlers[hud::PairKey{'8', '$'}] = constantPair(5.0f);
    Candidate c6[] = {cand('$', 0.90f, 100), cand('8', 0.90f, 102)};
    d = hud::decide(balance, c6, 2);
    EXPECT_EQ(d.chosen.character, '$');
    EXPECT_FALSE(d.settled);

    // A call the pairs settled is not asked again.
    settlers[hud::PairKey{'8', '3'}] = constantPair(5.0f);
    pairs[hud::PairKey{'3', '8'}] = constantPair(2.5f);
    Candidate c7[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    d = hud::decide(figure, c7, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.1f);
    EXPECT_FALSE(d.settled);
}

TEST(HudMoney, SettlersMustAgreeAtBothPlaces) {
    // A settler that speaks for "8" where a glyph stands and against it on
    // blank ground: the tie between a candidate there and one on the blank
    // ground stays unsettled, both on the glyph it is settled.
    Plane p = blank();
    paintGlyph(p, '8', 100.0);
    std::vector<float> cell(720);
    hud::sampleMoneyCell(p, 100.0, kTop, kBottom, kH, cell.data());
    hud::normalizeVector(cell.data(), 720);
    hud::PairTable pairs, settlers;
    hud::PairParams rec;
    rec.weights = cell;
    for (float& w : rec.weights)
        w *= 6.0f;
    rec.bias = 3.0f; // about +3 on the glyph, -3 on blank ground
    settlers[hud::PairKey{'8', '3'}] = rec;
    const hud::detail::Templates none;
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, none, pairs);
    ctx.settlers = &settlers;

    hud::Decision d;
    d.chosen = cand('3', 0.9f, 100);
    EXPECT_FALSE(hud::settleTie(ctx, cand('3', 0.9f, 100), cand('8', 0.9f, 600), 1.0f, d));
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    EXPECT_TRUE(hud::settleTie(ctx, cand('3', 0.9f, 101), cand('8', 0.9f, 100), 1.0f, d));
    EXPECT_EQ(d.chosen.character, '8');
    EXPECT_DOUBLE_EQ(d.chosen.x, 100.0);
    // Not far enough for what is asked, or asked for nothing: no change.
    hud::Decision e;
    EXPECT_FALSE(hud::settleTie(ctx, cand('3', 0.9f, 101), cand('8', 0.9f, 100), 10.0f, e));
    EXPECT_FALSE(hud::settleTie(ctx, cand('3', 0.9f, 101), cand('8', 0.9f, 100), 0.0f, e));
    ctx.settlers = nullptr;
    EXPECT_FALSE(hud::settleTie(ctx, cand('3', 0.9f, 101), cand('8', 0.9f, 100), 1.0f, e));
}

TEST(HudMoney, BalanceCallsAskTheSettlersAndEveryPlaceACandidateStands) {
    const Plane blankGround = blank();
    const hud::detail::Templates none;
    hud::PairTable pairs, settlers;
    hud::MoneyRowContext balance(blankGround, kTop, kBottom, kH, none, pairs);
    balance.confirmBelow = 0.2f;
    balance.settlers = &settlers;

    // A close call the tie-breaker leans for at both places is kept only
    // with the settling classifier behind it.
    pairs[hud::PairKey{'3', '8'}] = constantPair(1.5f);
    settlers[hud::PairKey{'3', '8'}] = constantPair(0.2f);
    Candidate lean[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    hud::Decision d = hud::decide(balance, lean, 2);
    EXPECT_EQ(d.chosen.character, '3');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    settlers[hud::PairKey{'3', '8'}] = constantPair(0.8f);
    Candidate backed[] = {cand('3', 0.90f, 100), cand('8', 0.88f, 102)};
    EXPECT_FLOAT_EQ(hud::decide(balance, backed, 2).margin, 0.05f);

    // A tie whose settling classifier only just passes its bound stays open
    // for the balance.
    pairs[hud::PairKey{'3', '8'}] = constantPair(-0.5f);
    settlers[hud::PairKey{'3', '8'}] = constantPair(-1.05f); // for the "8"
    Candidate barely[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    d = hud::decide(balance, barely, 2);
    EXPECT_FALSE(d.settled);
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    settlers[hud::PairKey{'3', '8'}] = constantPair(-1.3f);
    Candidate past[] = {cand('3', 0.90f, 100), cand('8', 0.90f, 102)};
    d = hud::decide(balance, past, 2);
    EXPECT_TRUE(d.settled);
    EXPECT_EQ(d.chosen.character, '8');

    // A first digit's search scores only the two best; a third left
    // unscored behind a second within the margin is asked about too.
    pairs.clear();
    settlers.clear();
    settlers[hud::PairKey{'0', '9'}] = constantPair(1.0f); // present, not about these
    pairs[hud::PairKey{'6', '1'}] = constantPair(3.0f);
    pairs[hud::PairKey{'6', '8'}] = constantPair(-1.0f);
    Candidate unscored[] = {cand('6', 0.86f, 100), cand('1', 0.84f, 100), cand('8', hud::kNoScore, 100)};
    EXPECT_FLOAT_EQ(hud::decide(balance, unscored, 3).margin, 0.0f);
    pairs[hud::PairKey{'6', '8'}] = constantPair(1.0f);
    Candidate unscoredBacked[] = {cand('6', 0.86f, 100), cand('1', 0.84f, 100),
                                  cand('8', hud::kNoScore, 100)};
    EXPECT_FLOAT_EQ(hud::decide(balance, unscoredBacked, 3).margin, 0.1f);

    // A tie-breaker sure of the first where it stands but for the second
    // where the second stands: uncertain.
    Plane p = blank();
    paintGlyph(p, '8', 200.0);
    std::vector<float> cell(720);
    hud::sampleMoneyCell(p, 200.0, kTop, kBottom, kH, cell.data());
    hud::normalizeVector(cell.data(), 720);
    hud::PairParams rec;
    rec.weights = cell;
    for (float& w : rec.weights)
        w *= -6.0f;
    rec.bias = -3.0f; // about -3 on the "8", +3 on blank ground
    hud::PairTable placed;
    placed[hud::PairKey{'1', '8'}] = rec;
    hud::PairTable noSettlers;
    noSettlers[hud::PairKey{'0', '9'}] = constantPair(1.0f); // present, not about these
    hud::MoneyRowContext ctx(p, kTop, kBottom, kH, none, placed);
    ctx.confirmBelow = 0.2f;
    ctx.settlers = &noSettlers;
    Candidate apart[] = {cand('1', 0.85f, 150), cand('8', 0.83f, 200)};
    d = hud::decide(ctx, apart, 2);
    EXPECT_EQ(d.chosen.character, '1');
    EXPECT_FLOAT_EQ(d.margin, 0.0f);
    // Both found on blank ground: the tie-breaker's word stands.
    Candidate together[] = {cand('1', 0.85f, 150), cand('8', 0.83f, 151)};
    EXPECT_FLOAT_EQ(hud::decide(ctx, together, 2).margin, 0.1f);
}

namespace {

bool foundBroken(const std::vector<Blob>& boxes, hud::MoneyLine* out = nullptr) {
    hud::FramePlanes planes = maskPlanes(300, 200, boxes);
    hud::MoneyLine line;
    if (hud::findMoneyLine(planes, line))
        return false; // for frames the first search finds nothing in
    std::vector<Blob> blobs = hud::labelComponents(planes.mask, 300, 200);
    const bool ok = hud::findBrokenMoneyLine(blobs, line);
    if (out)
        *out = line;
    return ok;
}

} // namespace

TEST(HudSearch, DigitsBrokenIntoStackedPiecesStillMakeALine) {
    // Two digits, each in two pieces one pixel apart, none of them 18 high.
    hud::MoneyLine line;
    ASSERT_TRUE(foundBroken(
        {box(100, 40, 110, 50), box(101, 52, 110, 62), box(120, 40, 130, 52), box(120, 54, 129, 62)}, &line));
    EXPECT_DOUBLE_EQ(line.top, 40.0);
    EXPECT_DOUBLE_EQ(line.bottom, 62.0);
    EXPECT_EQ(line.charBlobs.size(), 2u);
    // Three pieces of one column join too.
    EXPECT_TRUE(foundBroken({box(100, 40, 110, 46), box(100, 48, 110, 54), box(100, 56, 110, 62),
                             box(120, 40, 130, 50), box(120, 52, 130, 62)}));
    // Pieces too far apart or side by side are not one digit.
    EXPECT_FALSE(foundBroken(
        {box(100, 40, 110, 50), box(100, 54, 110, 62), box(120, 40, 130, 50), box(120, 54, 130, 62)}));
    EXPECT_FALSE(foundBroken(
        {box(100, 40, 110, 50), box(115, 45, 125, 61), box(130, 40, 140, 50), box(145, 45, 155, 61)}));
    // Joining stops short of more than a digit's height.
    ASSERT_TRUE(foundBroken({box(100, 40, 110, 56), box(100, 58, 110, 74), box(100, 76, 110, 92),
                             box(120, 40, 130, 56), box(120, 58, 130, 74), box(120, 76, 130, 92)},
                            &line));
    EXPECT_DOUBLE_EQ(line.height, 35.0);
    // Specks below a piece's height are left out.
    EXPECT_FALSE(foundBroken(
        {box(100, 40, 110, 42), box(100, 44, 110, 57), box(120, 40, 130, 42), box(120, 44, 130, 57)}));
}
