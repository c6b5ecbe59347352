#include "hud/cash/lines.h"
#include "hud/cash/pass.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace hud;

namespace {

Blob box(int x0, int y0, int x1, int y1) {
    return Blob{x0, y0, x1, y1, (x1 - x0 + 1) * (y1 - y0 + 1), false};
}

detail::Template cellOf(const Plane& p, const Blob& b, double top, double bottom, double lh) {
    detail::Template t(kGlyphCellLength);
    sampleGlyphCell(p, b, top, bottom, lh, t.data());
    normalizeVector(t.data(), t.size());
    return t;
}

// An ink plane with a filled glyph at x 10..18, a hollow one (a ring two
// pixels thick) at 20..28 and another filled one at 40..48, all 15 tall.
// The templates are cut from the plane itself, so they read it perfectly.
struct GlyphPlane {
    FramePlanes planes;
    detail::Templates glyphs;

    GlyphPlane() {
        Plane& p = planes.ink2;
        p.width = 60;
        p.height = 30;
        p.pixels.assign(60 * 30, 0.0f);
        auto fill = [&p](int x0, int y0, int x1, int y1) {
            for (int y = y0; y <= y1; ++y)
                for (int x = x0; x <= x1; ++x)
                    p.pixels[static_cast<size_t>(y * 60 + x)] = 1.0f;
        };
        fill(10, 5, 18, 19);
        fill(20, 5, 21, 19), fill(27, 5, 28, 19), fill(20, 5, 28, 6), fill(20, 18, 28, 19);
        fill(40, 5, 48, 19);
        planes.textBlobsReady = true;
        glyphs.cellLength = kGlyphCellLength;
        glyphs.byChar['K'] = {cellOf(p, box(10, 5, 18, 19), 5, 19, 15)};
        glyphs.byChar['H'] = {cellOf(p, box(20, 5, 28, 19), 5, 19, 15)};
        glyphs.byChar['0'] = glyphs.byChar['H'];
    }
};

GlyphRead glyph(char letter, float letterScore, char digit, float digitScore, float digitSecond = -2.0f) {
    return GlyphRead{Blob{}, letter, letterScore, -2.0f, digit, digitScore, digitSecond};
}

GlyphWord letters(const std::string& s) {
    GlyphWord w;
    for (char c : s)
        w.push_back(glyph(c, 0.9f, '8', 0.3f));
    return w;
}

// "S" then digits: the "$" of a figure read as a letter.
GlyphWord dollarDigits(const std::string& digits, float score = 0.9f, float second = 0.5f) {
    GlyphWord w{glyph('S', 0.8f, '5', 0.6f)};
    for (char c : digits)
        w.push_back(glyph('O', 0.4f, c, score, second));
    return w;
}

GlyphWord xpWord(const std::string& digits) {
    GlyphWord w;
    for (char c : digits)
        w.push_back(glyph('O', 0.5f, c, 0.9f));
    w.push_back(glyph('X', 0.9f, '8', 0.2f));
    w.push_back(glyph('P', 0.9f, '9', 0.2f));
    return w;
}

HudLine textOf(const std::vector<GlyphWord>& words) {
    HudLine line;
    readLineText(words, words.size(), line);
    return line;
}

} // namespace

TEST(Lines, FusedGlyphsSplitAndWordsForm) {
    GlyphPlane g;
    const Blob fused = box(10, 5, 28, 19); // 19 wide at line height 15; column 19 is empty
    const std::vector<Blob> split =
        splitFusedGlyphs(g.planes, {fused, box(40, 5, 48, 19)}, 5, 19, 15, g.glyphs, "KH");
    ASSERT_EQ(split.size(), 3u);
    EXPECT_EQ(split[0].x1, 18); // the cut column belongs to neither part
    EXPECT_EQ(split[1].x0, 20);
    EXPECT_EQ(split[2].x0, 40);

    // A wide glyph that reads well whole stays whole, as does everything
    // without a usable line height or plane.
    detail::Templates withWide = g.glyphs;
    withWide.byChar['M'] = {cellOf(g.planes.ink2, fused, 5, 19, 15)};
    EXPECT_EQ(splitFusedGlyphs(g.planes, {fused}, 5, 19, 15, withWide, "KHM").size(), 1u);
    EXPECT_EQ(splitFusedGlyphs(g.planes, {fused}, 5, 19, std::nan(""), g.glyphs, "KH").size(), 1u);
    EXPECT_EQ(splitFusedGlyphs(FramePlanes{}, {fused}, 5, 19, 15, g.glyphs, "KH").size(), 1u);

    // Blank of 1 after the split K: same word; blank of 11 before the last
    // glyph: a new word. A small mark and an empty box are no glyphs.
    const std::vector<Blob> row = {fused, box(30, 17, 31, 19), box(40, 5, 48, 19), box(50, 5, 58, 19)};
    const std::vector<GlyphWord> words = readGlyphWords(g.planes, row, 5, 19, 15, g.glyphs);
    ASSERT_EQ(words.size(), 2u);
    ASSERT_EQ(words[0].size(), 2u);
    ASSERT_EQ(words[1].size(), 1u);
    EXPECT_EQ(words[0][0].letter, 'K');
    EXPECT_NEAR(words[0][0].letterScore, 1.0f, 1e-3f);
    EXPECT_EQ(words[0][1].letter, 'H');
    EXPECT_EQ(words[0][1].digit, '0');
    EXPECT_EQ(words[1][0].box.x0, 40);
    EXPECT_TRUE(readGlyphWords(g.planes, row, 5, 19, 15, detail::Templates{}).empty());
}

TEST(Lines, GlyphWordsClassEachPartAsItsOwnCell) {
    // Whether a part's classes come from the split's scoring (a blob kept
    // whole or cut) or from a fresh pass, they are those of classifying the
    // part's own cell by letters and by digits apart, bit for bit. Extra
    // templates, some close to the glyphs and some noise, give the bounded
    // searches something to pass over.
    GlyphPlane g;
    std::mt19937 gen(5);
    std::normal_distribution<float> noise(0.0f, 1.0f);
    const detail::Template k = g.glyphs.byChar['K'][0];
    const detail::Template h = g.glyphs.byChar['H'][0];
    auto near = [&](const detail::Template& base, float amount) {
        detail::Template t = base;
        for (float& v : t)
            v += amount * noise(gen);
        normalizeVector(t.data(), t.size());
        return t;
    };
    g.glyphs.byChar['K'].push_back(near(k, 0.3f));
    g.glyphs.byChar['X'] = {near(k, 0.5f), near(h, 2.0f)};
    g.glyphs.byChar['B'] = {near(h, 0.4f)};
    g.glyphs.byChar['8'] = {near(h, 0.2f), near(k, 0.9f)};
    g.glyphs.byChar['1'] = {near(k, 0.6f)};
    g.glyphs.byChar['7'] = {near(k, 5.0f)};
    const std::vector<Blob> row = {box(10, 5, 28, 19), box(40, 5, 48, 19)};
    const std::vector<GlyphWord> words = readGlyphWords(g.planes, row, 5, 19, 15, g.glyphs);
    std::size_t parts = 0;
    for (const GlyphWord& word : words)
        for (const GlyphRead& r : word) {
            ++parts;
            const detail::Template cell = cellOf(g.planes.ink2, r.box, 5, 19, 15);
            const GlyphClass letter = classifyGlyph(cell.data(), g.glyphs, kLineLetters);
            const GlyphClass digit = classifyGlyph(cell.data(), g.glyphs, kLineDigits);
            SCOPED_TRACE(testing::Message() << "part at " << r.box.x0);
            EXPECT_EQ(r.letter, letter.character);
            EXPECT_EQ(r.letterScore, letter.score);
            EXPECT_EQ(r.letterSecond, letter.second);
            EXPECT_EQ(r.digit, digit.character);
            EXPECT_EQ(r.digitScore, digit.score);
            EXPECT_EQ(r.digitSecond, digit.second);
        }
    EXPECT_EQ(parts, 3u);
}

TEST(Lines, RunsOfFusedLettersAreCutBeforePairsAreSplit) {
    // K, H, K, H (line height 15) joined by faint bridges into one blob 2.6
    // line heights wide: one cut into two halves of two letters each reads
    // no better than the whole, so the run is cut until its pieces are at
    // most two letters, and those pieces are then split as pairs.
    GlyphPlane g;
    FramePlanes planes;
    Plane& p = planes.ink2;
    p.width = 50;
    p.height = 30;
    p.pixels.assign(50 * 30, 0.0f);
    auto fill = [&p](int x0, int y0, int x1, int y1, float v) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                p.pixels[static_cast<size_t>(y * 50 + x)] = v;
    };
    for (int left : {2, 22}) {
        fill(left, 5, left + 8, 19, 1.0f);                                                // K
        fill(left + 10, 5, left + 11, 19, 1.0f), fill(left + 17, 5, left + 18, 19, 1.0f); // H sides
        fill(left + 10, 5, left + 18, 6, 1.0f), fill(left + 10, 18, left + 18, 19, 1.0f); // H ring
    }
    for (int bridge : {11, 21, 31})
        fill(bridge, 12, bridge, 12, 0.2f);
    planes.textBlobsReady = true;
    const Blob run = box(2, 5, 40, 19);
    const std::vector<Blob> parts = splitFusedGlyphs(planes, {run}, 5, 19, 15, g.glyphs, "KH");
    ASSERT_EQ(parts.size(), 4u);
    const int starts[] = {2, 12, 22, 32};
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(parts[k].x0, starts[k]);
        EXPECT_EQ(parts[k].x1, starts[k] + 8);
    }
    const std::vector<GlyphWord> words = readGlyphWords(planes, {run}, 5, 19, 15, g.glyphs);
    ASSERT_EQ(words.size(), 1u);
    std::string read;
    for (const GlyphRead& r : words[0])
        read += r.letter;
    EXPECT_EQ(read, "KHKH");

    // At most 1.9 line heights, a blob is left to the pair split alone.
    const Blob pair = box(2, 5, 28, 19); // K, H and most of the next K
    EXPECT_LE(splitFusedGlyphs(planes, {pair}, 5, 19, 15, g.glyphs, "KH").size(), 2u);
}

TEST(Lines, LooksNumeric) {
    const GlyphRead digit = glyph('A', 0.6f, '2', 0.57f); // within 0.04 of the letter
    const GlyphRead letter = glyph('A', 0.9f, '4', 0.5f);
    const GlyphRead oLike = glyph('O', 0.9f, '0', 0.1f);
    EXPECT_TRUE(looksNumeric({digit, digit, oLike, letter}));
    EXPECT_FALSE(looksNumeric({digit, letter, oLike, letter}));
    EXPECT_FALSE(looksNumeric({glyph('A', 0.6f, '2', 0.55f)}));
    EXPECT_FALSE(looksNumeric({}));
}

TEST(Lines, FigureFromLetterS) {
    HudLine line;
    EXPECT_TRUE(figureFromLetterS({letters("KILL"), dollarDigits("250")}, 1, line));
    EXPECT_EQ(line.figure, 250);
    EXPECT_FLOAT_EQ(line.figureConfidence, 0.7f);
    EXPECT_FLOAT_EQ(line.figureMargin, 0.0f);
    HudLine split; // the amount may run over two words
    EXPECT_TRUE(figureFromLetterS({dollarDigits("1"), {glyph('O', 0.1f, '5', 0.71f, 0.6f)}}, 0, split));
    EXPECT_EQ(split.figure, 15);

    const std::vector<std::vector<GlyphWord>> rejected = {
        {dollarDigits("251")},
        {dollarDigits("05")},
        {dollarDigits("5")},
        {dollarDigits("1234560")},
        {dollarDigits("250", 0.69f)},
        {dollarDigits("250", 0.9f, 0.88f)},
        {letters("KILL")},
        {{}},
        {{glyph('S', 0.8f, '5', 0.6f), glyph('O', 0.4f, '?', 0.9f, 0.1f), glyph('O', 0.4f, '0', 0.9f)}},
    };
    for (size_t i = 0; i < rejected.size(); ++i) {
        HudLine none;
        EXPECT_FALSE(figureFromLetterS(rejected[i], 0, none) || none.hasFigure) << i;
    }
    EXPECT_FALSE(figureFromLetterS({dollarDigits("250")}, 1, line));
}

TEST(Lines, LineTextRules) {
    // Experience amounts leave the text; too long an amount or one without
    // digit readings stays an (unknown) word.
    HudLine xp = textOf({letters("KILL"), xpWord("50")});
    EXPECT_TRUE(xp.hasXp);
    EXPECT_EQ(xp.xp, 50);
    EXPECT_EQ(xp.raw, "KILL");
    EXPECT_EQ(xp.text, "KILL");
    EXPECT_TRUE(textOf({xpWord("50")}).raw.empty());
    EXPECT_EQ(textOf({xpWord("10"), xpWord("25")}).xp, 25);
    EXPECT_EQ(textOf({xpWord("123456")}).raw, "OOOOOOXP");
    EXPECT_FALSE(textOf({xpWord("123456")}).hasXp);
    GlyphWord unreadable = xpWord("5");
    unreadable[0].digit = '?';
    EXPECT_FALSE(textOf({unreadable}).hasXp);
    // A glyph the letters explain clearly better than a digit (two fused
    // "1"s read as an "H", as a digit a poor "0") is no digit of an amount;
    // a digit that reads about as well as its letter still is one.
    GlyphWord fused = xpWord("40");
    fused[1].letter = 'H';
    fused[1].letterScore = 0.84f;
    fused[1].digitScore = 0.72f;
    EXPECT_FALSE(textOf({letters("KILL"), fused}).hasXp);
    GlyphWord close = xpWord("85");
    close[0].letter = 'B';
    close[0].letterScore = 0.93f;
    EXPECT_EQ(textOf({letters("KILL"), close}).xp, 85);

    struct Case {
        std::vector<std::string> words;
        std::string text;
        bool known;
    };
    const Case cases[] = {
        {{"KILI"}, "KILL", true},                           // a phrase from a confusable misreading
        {{"KILL", "CONFIRMEO"}, "KILL CONFIRMED", true},    //
        {{"HEADS", "HOT"}, "HEADSHOT", true},               // few words snap, but all of it is the phrase
        {{"KILL", "XQZWVJ"}, "KILL", true},                 // the snapped words alone are a phrase
        {{"DOUBLE", "KILL"}, "DOUBLE KILL", true},          // event words outside the phrases
        {{"DOUBLE", "KILL", "XQZW"}, "DOUBLE KILL", false}, // mostly event words
        {{"DOUBLE", "XQZWVJKL"}, "", false},                // too little vocabulary
        {{"K", "I"}, "", false},                            // single letters are no words
        // "ZONE" fused with the "P" after it and the rest half lost: the
        // longer phrase stands as near as the shorter one, so neither.
        {{"OONTROL", "ZONEP", "GE"}, "", false},
        {{"GONTROL", "ZONEENTERHI"}, "CONTROL ZONE ENTERED", true}, // no other phrase near
    };
    for (const Case& c : cases) {
        std::vector<GlyphWord> words;
        std::string raw;
        for (const std::string& w : c.words) {
            words.push_back(letters(w));
            raw += (raw.empty() || w.size() < 2 ? "" : " ") + (w.size() < 2 ? "" : w);
        }
        const HudLine line = textOf(words);
        EXPECT_EQ(line.text, c.text) << raw;
        EXPECT_EQ(line.known, c.known) << raw;
        EXPECT_EQ(line.raw, raw);
    }
    HudLine first; // only the text words given take part
    readLineText({letters("KILL"), letters("HEADSHOT")}, 1, first);
    EXPECT_EQ(first.text, "KILL");
}

TEST(Lines, RowsAreSelectedBelowTheMoneyLine) {
    // Money line bottom 60, H 27: reward text about 18 tall, from y0 84.3 on.
    const std::vector<Blob> blobs = {
        box(600, 100, 610, 117), box(612, 101, 622, 117),
        box(630, 100, 640, 118), box(642, 115, 644, 118), // comma-sized mark
        box(300, 100, 310, 117),                          // too far left
        box(600, 70, 610, 87),   box(615, 70, 625, 87),   // too close to the money line
        box(600, 140, 610, 157), box(615, 143, 625, 154), // one text-height blob only
    };
    const std::vector<RewardRow> rows = selectRewardRows(blobs, 907, 60.0, 27.0);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].top, 100);
    EXPECT_EQ(rows[0].bottom, 117);
    EXPECT_EQ(rows[0].lh, 18);
    EXPECT_EQ(rows[0].textHeight.size(), 3u);
    EXPECT_EQ(rows[0].blobs.size(), 4u);
    for (double h : {0.0, -27.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_TRUE(selectRewardRows(blobs, 907, 60.0, h).empty()) << h;
}

namespace {

// A grey 32-bit frame (blue, green, red, unused) to draw on.
struct TestFrame {
    int width;
    int height;
    std::vector<std::uint8_t> bytes;

    TestFrame(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w * h * 4), 40) {}
    void paint(int x0, int y0, int x1, int y1, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                std::uint8_t* p = &bytes[static_cast<size_t>((y * width + x) * 4)];
                p[0] = b, p[1] = g, p[2] = r;
            }
    }
    FrameView view() const { return FrameView{width, height, bytes.data(), width * 4}; }
};

// "KILL" in three made-up shapes 18 tall with strokes 3 wide.
void drawKill(TestFrame& f, int x, int y, std::uint8_t v) {
    auto bar = [&](int x0, int y0, int x1, int y1) { f.paint(x0, y0, x1, y1, v, v, v); };
    bar(x, y, x + 2, y + 17); // K: a stem with a bar from its middle
    bar(x + 3, y + 7, x + 12, y + 9);
    bar(x + 18, y, x + 20, y + 17); // I
    for (int l = x + 26; l <= x + 41; l += 15) {
        bar(l, y, l + 2, y + 17);
        bar(l + 3, y + 15, l + 9, y + 17);
    }
}

} // namespace

TEST(Lines, BrightAndPanelTextReadAlike) {
    TestFrame frame(300, 160);
    drawKill(frame, 150, 40, 235);                  // bright text
    frame.paint(140, 70, 219, 99, 222, 222, 215);   // light panel, 30 tall
    drawKill(frame, 148, 76, 35);                   // dark text on it
    frame.paint(150, 115, 152, 132, 235, 235, 235); // two single letters
    frame.paint(180, 115, 182, 132, 235, 235, 235);
    FramePlanes planes;
    prepareFrame(frame.view(), planes);
    findTextBlobs(planes);

    // Nothing bright is taken from inside the panel; its dark strokes are.
    int inverted = 0;
    for (const Blob& b : planes.textBlobs) {
        inverted += b.inverted ? 1 : 0;
        EXPECT_TRUE(b.inverted || b.y1 < 68 || b.y0 > 101) << b.x0 << "," << b.y0;
    }
    EXPECT_EQ(inverted, 4);
    EXPECT_GT(planes.ink2.at(149, 84), 0.9f);
    EXPECT_LT(planes.ink.at(149, 84), 0.1f);
    const size_t count = planes.textBlobs.size();
    findTextBlobs(planes);
    EXPECT_EQ(planes.textBlobs.size(), count) << "computed once per frame";

    // Templates taken from the bright word serve the panel word too.
    const std::vector<RewardRow> rows = selectRewardRows(planes.textBlobs, frame.width, 10.0, 27.0);
    ASSERT_GE(rows.size(), 2u);
    ASSERT_EQ(rows[0].textHeight.size(), 4u);
    Model model;
    model.glyphs.cellLength = kGlyphCellLength;
    for (size_t i = 0; i < 3; ++i)
        model.glyphs.byChar[static_cast<signed char>("KIL"[i])] = {
            cellOf(planes.ink2, rows[0].textHeight[i], rows[0].top, rows[0].bottom, rows[0].lh)};

    const std::vector<HudLine> lines = readRewardLines(model, planes, 10.0, 27.0, 0.72f, 0.03f);
    ASSERT_EQ(lines.size(), 2u) << "the line of single letters is not kept";
    for (const HudLine& line : lines) {
        EXPECT_EQ(line.text, "KILL");
        EXPECT_EQ(line.raw, "KILL");
        EXPECT_TRUE(line.known);
        EXPECT_FALSE(line.hasFigure || line.hasXp);
    }
    EXPECT_LT(lines[0].top, lines[1].top);
    EXPECT_NEAR(lines[0].left, 150, 1);
    EXPECT_NEAR(lines[0].right, 200, 1);
    EXPECT_NEAR(lines[1].left, 148, 1);
}

TEST(Lines, TextBlobsAreTheSameAfterTheMoneyLineSearch) {
    TestFrame frame(300, 160);
    drawKill(frame, 150, 40, 235);
    frame.paint(140, 70, 219, 99, 222, 222, 215);
    drawKill(frame, 148, 76, 35);
    FramePlanes fresh;
    prepareFrame(frame.view(), fresh);
    findTextBlobs(fresh);

    // The search labels the same mask; its blobs stand in for a second
    // labelling, and a new frame must not inherit them.
    FramePlanes searched;
    MoneyLine line;
    prepareFrame(frame.view(), searched);
    findMoneyLine(searched, line);
    findTextBlobs(searched);
    auto same = [](const std::vector<Blob>& a, const std::vector<Blob>& b) {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (a[i].x0 != b[i].x0 || a[i].y0 != b[i].y0 || a[i].x1 != b[i].x1 || a[i].y1 != b[i].y1 ||
                a[i].area != b[i].area || a[i].inverted != b[i].inverted)
                return false;
        return true;
    };
    EXPECT_TRUE(same(searched.textBlobs, fresh.textBlobs));

    TestFrame other(300, 160);
    drawKill(other, 40, 100, 235);
    FramePlanes otherFresh;
    prepareFrame(other.view(), otherFresh);
    findTextBlobs(otherFresh);
    prepareFrame(other.view(), searched);
    findTextBlobs(searched);
    ASSERT_FALSE(otherFresh.textBlobs.empty());
    EXPECT_TRUE(same(searched.textBlobs, otherFresh.textBlobs));
}

TEST(Lines, OddInputsReadAsNoLines) {
    Model empty;
    FramePlanes nothing;
    EXPECT_TRUE(readRewardLines(empty, nothing, 40.0, 27.0, 0.72f, 0.03f).empty());

    TestFrame frame(120, 80);
    drawKill(frame, 20, 40, 235);
    for (double h : {0.0, 1e300, std::nan("")}) {
        FramePlanes planes;
        prepareFrame(frame.view(), planes);
        EXPECT_TRUE(readRewardLines(empty, planes, -1e300, h, 0.72f, 0.03f).empty()) << h;
    }
    // Planes whose sizes disagree are not trusted.
    FramePlanes broken;
    prepareFrame(frame.view(), broken);
    broken.ink.pixels.resize(10);
    EXPECT_TRUE(readRewardLines(empty, broken, 10.0, 27.0, 0.72f, 0.03f).empty());

    // Any blobs at all, inside the plane or far outside it.
    GlyphPlane g;
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pos(-200, 200);
    std::uniform_int_distribution<int> size(-3, 80);
    for (int round = 0; round < 200; ++round) {
        std::vector<Blob> blobs = {box(-5000, -5000, 5000, 5000)};
        for (int i = 0; i < 6; ++i) {
            const int x0 = pos(rng);
            const int y0 = pos(rng) / 4;
            blobs.push_back(box(x0, y0, x0 + size(rng), y0 + size(rng) / 3));
        }
        const double top = pos(rng) / 8.0;
        const double lh = 1.0 + (round % 40);
        EXPECT_GE(splitFusedGlyphs(g.planes, blobs, top, top + lh - 1, lh, g.glyphs, kLineCharset).size(),
                  7u);
        for (const GlyphWord& word : readGlyphWords(g.planes, blobs, top, top + lh - 1, lh, g.glyphs))
            EXPECT_FALSE(word.empty());
    }
}

namespace {

// Glyphs of one line at their places: cap 20 tall, each glyph 10 wide.
GlyphWord placed(GlyphWord word, int x0) {
    for (GlyphRead& g : word) {
        g.box = box(x0, 100, x0 + 9, 119);
        x0 += 12;
    }
    return word;
}

GlyphWord digitsOnly(const std::string& digits) {
    GlyphWord w = xpWord(digits);
    w.resize(digits.size());
    return w;
}

} // namespace

TEST(Lines, ExperienceAmountSplitByANarrowDigitIsWhole) {
    // "HEADSHOT  529XP" with the blank after "52" as wide as a word space:
    // the digits before the amount belong to it when closer than a cap.
    const GlyphWord phrase = placed(letters("HEADSHOT"), 0);
    HudLine split = textOf({phrase, placed(digitsOnly("52"), 130), placed(xpWord("9"), 158)});
    EXPECT_EQ(split.text, "HEADSHOT");
    EXPECT_TRUE(split.hasXp);
    EXPECT_EQ(split.xp, 529);

    // Digits a cap or more before the amount stand apart from it.
    HudLine apart = textOf({phrase, placed(digitsOnly("52"), 130), placed(xpWord("9"), 170)});
    EXPECT_EQ(apart.xp, 9);

    // Letters before the amount are never its digits, however close.
    HudLine word = textOf({phrase, placed(xpWord("25"), 104)});
    EXPECT_EQ(word.text, "HEADSHOT");
    EXPECT_EQ(word.xp, 25);

    // A piece of a digit within its columns is no digit of its own.
    GlyphWord broken = placed(xpWord("7052"), 130);
    broken[1].box.x0 = broken[0].box.x0 + 4;
    broken[1].box.x1 = broken[0].box.x1;
    EXPECT_FALSE(textOf({phrase, broken}).hasXp);

    // No more than five digits in all.
    HudLine longer = textOf({phrase, placed(digitsOnly("1234"), 130), placed(xpWord("56"), 182)});
    EXPECT_EQ(longer.xp, 56);
}

TEST(Lines, UnsnappedWordsBeforeOrAfterAPhraseCompleteALongerOne) {
    // "KILL" alone is a phrase, but the misread word after it is "CONFIRMED".
    EXPECT_EQ(textOf({letters("KILL"), letters("GONHRMED")}).text, "KILL CONFIRMED");
    EXPECT_EQ(textOf({letters("SUPPUEDPLAYER"), letters("ASSIST")}).text, "SUPPLIED PLAYER ASSIST");
    // Letters that are no phrase's leave the phrase read as it was.
    EXPECT_EQ(textOf({letters("KILL"), letters("WXYV")}).text, "KILL");
}

namespace {

// Two phrases of the same width from blocky letters: "LL" and "IIII".
Model shapeModel() {
    Model m;
    m.phraseShapes.bands = 2;
    m.phraseShapes.columnsPerCap = 4;
    m.phraseShapes.letters['I'] = {1, {1.0f, 1.0f}};
    m.phraseShapes.letters['L'] = {3, {1.0f, 1.0f, 0.0f, 1.0f, 0.0f, 1.0f}};
    m.phraseShapes.phrases.push_back({"IIII", {0.0f, 0.5f, 1.0f, 1.5f}});
    m.phraseShapes.phrases.push_back({"LL", {0.0f, 1.0f}});
    return m;
}

// Bright "LL" at a cap of 12 pixels (three per shape column), its cap top
// at y 10 and its ink ending just left of x 80, on a dark plane.
FramePlanes shapePlanes(bool withText) {
    FramePlanes planes;
    const int w = 120;
    const int h = 40;
    for (Plane* p : {&planes.smooth, &planes.ink, &planes.ink2}) {
        p->width = w;
        p->height = h;
        p->pixels.assign(static_cast<size_t>(w * h), 0.0f);
    }
    for (float& v : planes.smooth.pixels)
        v = 50.0f;
    if (withText)
        for (int left : {59, 71}) {
            for (int y = 10; y < 22; ++y)
                for (int x = left; x < left + 3; ++x)
                    planes.smooth.pixels[static_cast<size_t>(y * w + x)] = 230.0f;
            for (int y = 16; y < 22; ++y)
                for (int x = left + 3; x < left + 9; ++x)
                    planes.smooth.pixels[static_cast<size_t>(y * w + x)] = 230.0f;
        }
    return planes;
}

} // namespace

TEST(RewardLineShapes, FitsThePhraseWhoseInkTheRowShows) {
    const Model m = shapeModel();
    const FramePlanes planes = shapePlanes(true);
    const PhraseFit fit = fitPhraseShape(m, planes, 10, 12.0, 78.0, 82.0);
    ASSERT_NE(fit.phrase, nullptr);
    EXPECT_EQ(fit.phrase->text, "LL");
    EXPECT_GT(fit.score, 0.9);
    EXPECT_LT(fit.runnerUp, fit.score - 0.2);
    EXPECT_EQ(fit.right, 79);
    EXPECT_NEAR(fit.left, 59, 1);
}

TEST(RewardLineShapes, RefusesWithoutShapesContrastOrRoom) {
    const Model m = shapeModel();
    // A flat row holds no text at all.
    EXPECT_EQ(fitPhraseShape(m, shapePlanes(false), 10, 12.0, 78.0, 82.0).phrase, nullptr);
    // A model from before the shapes were stored.
    EXPECT_EQ(fitPhraseShape(Model{}, shapePlanes(true), 10, 12.0, 78.0, 82.0).phrase, nullptr);
    // Caps too small to compare, nonsense ranges and planes of other sizes.
    EXPECT_EQ(fitPhraseShape(m, shapePlanes(true), 10, 2.0, 78.0, 82.0).phrase, nullptr);
    EXPECT_EQ(fitPhraseShape(m, shapePlanes(true), 10, 12.0, 82.0, 78.0).phrase, nullptr);
    EXPECT_EQ(
        fitPhraseShape(m, shapePlanes(true), 10, std::numeric_limits<double>::quiet_NaN(), 78.0, 82.0).phrase,
        nullptr);
    FramePlanes odd = shapePlanes(true);
    odd.ink2.width = 60;
    EXPECT_EQ(fitPhraseShape(m, odd, 10, 12.0, 78.0, 82.0).phrase, nullptr);
    // A band at the frame's edge, where no phrase fits whole, is no crash.
    const PhraseFit edge = fitPhraseShape(m, shapePlanes(true), 38, 12.0, 2.0, 118.0);
    EXPECT_TRUE(edge.phrase == nullptr || edge.score <= 1.0);
}

TEST(RewardLineShapes, ChosenPhrasesOnlyAndJudgedOverOneWindow) {
    Model m = shapeModel();
    m.phraseShapes.phrases.push_back({"L", {0.0f}});
    const FramePlanes planes = shapePlanes(true);
    // Only the phrases asked for compete; with one there is no runner-up.
    const PhraseFit only = fitPhraseShape(m, planes, 10, 12.0, 78.0, 82.0, {"IIII"});
    ASSERT_NE(only.phrase, nullptr);
    EXPECT_EQ(only.phrase->text, "IIII");
    EXPECT_EQ(only.second, nullptr);
    EXPECT_DOUBLE_EQ(only.runnerUp, -1.0);
    // "L" is the end of "LL": judged over the longer phrase's window it must
    // explain a whole letter it lacks, and "LL" leads clearly.
    const PhraseFit common = fitPhraseShape(m, planes, 10, 12.0, 78.0, 82.0, {"LL", "L"}, true);
    ASSERT_NE(common.phrase, nullptr);
    EXPECT_EQ(common.phrase->text, "LL");
    ASSERT_NE(common.second, nullptr);
    EXPECT_EQ(common.second->text, "L");
    EXPECT_GT(common.score, 0.9);
    EXPECT_LT(common.runnerUp, common.score - 0.2);
    EXPECT_EQ(common.right, 79);
    // Phrases the model does not hold leave nothing to fit.
    EXPECT_EQ(fitPhraseShape(m, planes, 10, 12.0, 78.0, 82.0, {"KILL"}).phrase, nullptr);
}

TEST(Lines, MoneyLineMeasuredOffTakesTheLayoutsHeight) {
    // HUD scale 1: money height 27, digits from row 43.2 down to 70.2.
    double bottom = -1.0;
    double height = -1.0;
    // Blur took two to three rows off each side of the digits' mask.
    ASSERT_TRUE(moneyBandByLayout(66.0, 20.0, bottom, height));
    EXPECT_NEAR(height, 27.0, 0.5);
    EXPECT_NEAR(bottom, 69.2, 0.5);
    // Scale 1.3 measured a third short.
    ASSERT_TRUE(moneyBandByLayout(85.0, 24.0, bottom, height));
    EXPECT_NEAR(height, 35.1, 0.6);

    // Scale 0.86 measured a sixth tall.
    ASSERT_TRUE(moneyBandByLayout(62.0, 27.0, bottom, height));
    EXPECT_NEAR(height, 23.2, 0.5);
    EXPECT_NEAR(bottom, 60.4, 0.5);

    // Measured right, or within a soft edge of it: the measured line stands.
    for (const auto& [b, h] : {std::pair{69.0, 27.0}, {68.0, 25.0}, {91.0, 35.0}, {56.0, 22.0}}) {
        bottom = -1.0;
        height = -1.0;
        EXPECT_FALSE(moneyBandByLayout(b, h, bottom, height)) << b << " " << h;
        EXPECT_EQ(bottom, -1.0);
        EXPECT_EQ(height, -1.0);
    }
    // A line far down the capture or right at its top is no balance the
    // layout can give.
    EXPECT_FALSE(moneyBandByLayout(200.0, 20.0, bottom, height));
    EXPECT_FALSE(moneyBandByLayout(30.0, 20.0, bottom, height));
    for (double h : {0.0, -20.0, std::nan(""), std::numeric_limits<double>::infinity()})
        EXPECT_FALSE(moneyBandByLayout(66.0, h, bottom, height)) << h;
    EXPECT_FALSE(moneyBandByLayout(std::nan(""), 20.0, bottom, height));
    EXPECT_FALSE(moneyBandByLayout(-1e300, 20.0, bottom, height));
}
