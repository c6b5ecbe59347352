#include "hud/feed/feed.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace hud;

namespace {

struct Rgb {
    std::uint8_t r, g, b;
};

constexpr Rgb kBackground{30, 30, 30};
constexpr Rgb kMine{205, 205, 205};    // the player's own name
constexpr Rgb kOthers{170, 170, 170};  // everyone else's
constexpr Rgb kFigures{220, 220, 220}; // dim enough that the mask keeps to the strokes
constexpr Rgb kIconWhite{245, 245, 245};
constexpr Rgb kOrange{235, 150, 30};
constexpr Rgb kTeamBlue{70, 140, 235};
constexpr Rgb kSquad{210, 185, 90};

constexpr int kCap = 24;
constexpr int kLetterWidth = 13;
constexpr int kStroke = 3;

// A BGRA capture painted with rectangles; every shape is built from strokes
// thinner than the reader's top-hat window, as text is.
struct Canvas {
    int width;
    int height;
    int stride;
    std::vector<std::uint8_t> px;

    Canvas(int w, int h, Rgb bg = kBackground) : width(w), height(h), stride(w * 4 + 8) {
        px.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), 0);
        rect(0, 0, w - 1, h - 1, bg);
    }
    void rect(int x0, int y0, int x1, int y1, Rgb c) {
        for (int y = std::max(y0, 0); y <= std::min(y1, height - 1); ++y)
            for (int x = std::max(x0, 0); x <= std::min(x1, width - 1); ++x) {
                std::uint8_t* p = &px[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x) * 4];
                p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 255;
            }
    }
    // A hollow box: a letter "O", or an icon outline when `stroke` is wider.
    void ring(int x0, int y0, int w, int h, Rgb c, int stroke = kStroke) {
        rect(x0, y0, x0 + w - 1, y0 + stroke - 1, c);
        rect(x0, y0 + h - stroke, x0 + w - 1, y0 + h - 1, c);
        rect(x0, y0, x0 + stroke - 1, y0 + h - 1, c);
        rect(x0 + w - stroke, y0, x0 + w - 1, y0 + h - 1, c);
    }
    // A name of `n` letters from x; returns the x after it.
    int name(int x, int top, int n, Rgb c, int letterHeight = kCap) {
        for (int i = 0; i < n; ++i, x += kLetterWidth + 5)
            ring(x, top, kLetterWidth, letterHeight, c);
        return x - 5;
    }
    void five(int x, int top, Rgb c) {
        const int r = x + kLetterWidth - 1;
        const int mid = top + kCap / 2 - 1;
        rect(x, top, r, top + 2, c);
        rect(x, top, x + 2, mid + 2, c);
        rect(x, mid, r, mid + 2, c);
        rect(r - 2, mid, r, top + kCap - 1, c);
        rect(x, top + kCap - 3, r, top + kCap - 1, c);
    }
    void lowerM(int x, int top, Rgb c) {
        const int y0 = top + kCap - 17;
        rect(x, y0, x + 19, y0 + 2, c);
        for (int leg : {0, 8, 17})
            rect(x + leg, y0, x + leg + 2, top + kCap - 1, c);
    }
    // "[" or "]": a bar with serifs at both ends, 1.35 cap tall.
    void bracket(int x, int top, bool opening, Rgb c) {
        const int y0 = top - 4;
        const int y1 = top + kCap + 3;
        const int bar = opening ? x : x + 4;
        rect(bar, y0, bar + 2, y1, c);
        rect(x, y0, x + 6, y0 + 2, c);
        rect(x, y1 - 2, x + 6, y1, c);
    }

    FeedRead read(const KillData& data, const Model& model = Model{}) const {
        return readFeedRows(model, data, px.data(), width, height, stride);
    }
};

// Icon shapes as the data file stores them: 255 where the icon is white.
std::vector<std::uint8_t> ringBytes(int w, int h, int stroke) {
    std::vector<std::uint8_t> b(static_cast<std::size_t>(w * h), 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            if (x < stroke || y < stroke || x >= w - stroke || y >= h - stroke)
                b[static_cast<std::size_t>(y * w + x)] = 255;
    return b;
}

KillIcon icon(const std::string& key, int w, int h, int stroke) {
    KillIcon i;
    i.name = key;
    i.key = key;
    i.width = static_cast<std::uint32_t>(w);
    i.height = static_cast<std::uint32_t>(h);
    for (std::uint8_t v : ringBytes(w, h, stroke))
        i.pixels.push_back(v / 255.0f);
    normalizeTemplate(i.pixels);
    return i;
}

constexpr int kRifleW = 70, kRifleH = 26, kRifleStroke = 4;
constexpr int kSkullW = 22, kSkullH = 24, kSkullStroke = 4;

// The geometry of one painted row "[marker] NAME  icons  [figures m]  NAME".
struct RowLayout {
    int left = 10; // the killer's marker; the name starts 27 further
    int top = 40;
    int killerLetters = 5;
    int victimLetters = 5;
    bool marker = true;
    bool rifle = true;
    bool skull = true;
    // A weapon as the text mask sees a solid silhouette: nothing of its body,
    // two letter-sized fragments of its thin parts, in this colour.
    bool fragments = false;
    Rgb fragmentColour = kIconWhite;
    std::string figures = "05"; // of '0' and '5'; empty: no bracket at all
    Rgb killer = kMine;
    Rgb victim = kOthers;
    bool victimMarker = false; // a team marker after the victim

    // Filled in by paint.
    std::vector<Blob> digitBoxes;
};

void paintRow(Canvas& c, RowLayout& row) {
    const int top = row.top;
    int x = row.left;
    if (row.marker)
        c.rect(x, top + 2, x + 18, top + 20, kOrange);
    x = c.name(row.left + 27, top, row.killerLetters, row.killer) + 16;
    if (row.rifle) {
        c.ring(x, top - 1, kRifleW, kRifleH, kIconWhite, kRifleStroke);
        x += kRifleW + 9;
    }
    if (row.fragments) {
        c.rect(x, top - 1, x + 29, top + 24, kIconWhite);
        c.ring(x + 34, top + 4, 10, 16, row.fragmentColour);
        c.ring(x + 48, top + 4, 10, 16, row.fragmentColour);
        x += 58;
    }
    if (row.skull) {
        c.ring(x, top, kSkullW, kSkullH, kIconWhite, kSkullStroke);
        x += kSkullW;
    }
    x += 10;
    if (!row.figures.empty()) {
        c.bracket(x, top, true, kFigures);
        x += 11;
        row.digitBoxes.clear();
        for (char d : row.figures) {
            if (d == '0')
                c.ring(x, top, kLetterWidth, kCap, kFigures);
            else
                c.five(x, top, kFigures);
            row.digitBoxes.push_back(Blob{x, top, x + kLetterWidth - 1, top + kCap - 1, 0, false});
            x += kLetterWidth + 4;
        }
        c.lowerM(x, top, kFigures);
        x += 24;
        c.bracket(x, top, false, kFigures);
        x += 7;
    }
    x = c.name(x + 12, top, row.victimLetters, row.victim);
    if (row.victimMarker)
        c.rect(x + 9, top + 2, x + 27, top + 20, kTeamBlue);
}

std::vector<float> cellOf(const Canvas& c, const Blob& box, double top, double bottom) {
    FramePlanes planes;
    FrameView f;
    f.width = c.width;
    f.height = c.height;
    f.pixels = c.px.data();
    f.stride = c.stride;
    prepareFrame(f, planes);
    std::vector<float> cell(kGlyphCellLength);
    figureCell(planes, box, top, bottom, cell.data());
    return cell;
}

// A template that correlates with `cell` exactly `score`: the cell mixed
// with a centred unit vector orthogonal to it.
std::vector<float> templateScoring(const std::vector<float>& cell, float score) {
    std::mt19937 gen(7);
    std::normal_distribution<double> noise;
    std::vector<double> u(cell.size());
    double mean = 0.0;
    for (double& v : u)
        mean += (v = noise(gen));
    mean /= static_cast<double>(u.size());
    double along = 0.0;
    for (std::size_t i = 0; i < u.size(); ++i)
        along += (u[i] -= mean) * cell[i];
    double norm = 0.0;
    for (std::size_t i = 0; i < u.size(); ++i)
        norm += (u[i] -= along * cell[i]) * u[i];
    norm = std::sqrt(norm);
    std::vector<float> t(cell.size());
    const double rest = std::sqrt(1.0 - static_cast<double>(score) * score);
    for (std::size_t i = 0; i < t.size(); ++i)
        t[i] = static_cast<float>(score * cell[i] + rest * u[i] / norm);
    return t;
}

// Kill data with the two icons and digit templates cut from the painted
// figures themselves, so that they read back at `score`.
KillData dataFor(const Canvas& c, const RowLayout& row, float score = 1.0f) {
    KillData d;
    d.icons.push_back(icon("rifle", kRifleW, kRifleH, kRifleStroke));
    d.icons.push_back(icon("skull", kSkullW, kSkullH, kSkullStroke));
    d.digitLength = kGlyphCellLength;
    d.digits.cellLength = kGlyphCellLength;
    const double top = row.top;
    const double bottom = row.top + kCap - 1;
    for (std::size_t i = 0; i < row.figures.size(); ++i) {
        auto& list = d.digits.byChar[static_cast<signed char>(row.figures[i])];
        if (list.empty())
            list.push_back(templateScoring(cellOf(c, row.digitBoxes[i], top, bottom), score));
    }
    return d;
}

} // namespace

TEST(FeedRows, NothingToReadIsNoFeedRows) {
    const KillData data;
    Canvas dark(400, 200);
    FeedRead read = dark.read(data);
    EXPECT_TRUE(read.rows.empty());
    EXPECT_EQ(read.note, "no feed rows");

    // Nor is a scene's grain.
    std::mt19937 gen(3);
    for (std::uint8_t& v : dark.px)
        v = static_cast<std::uint8_t>(static_cast<int>(v) + static_cast<int>(gen() % 9) - 4);
    EXPECT_EQ(dark.read(data).note, "no feed rows");

    // Nor is what cannot be an image at all.
    const Model model;
    EXPECT_EQ(readFeedRows(model, data, nullptr, 100, 100, 400).note, "no feed rows");
    EXPECT_EQ(readFeedRows(model, data, dark.px.data(), 100, 100, 399).note, "no feed rows");
    EXPECT_EQ(readFeedRows(model, data, dark.px.data(), 0, 100, 400).note, "no feed rows");
    EXPECT_EQ(readFeedRows(model, data, dark.px.data(), -5, -5, 400).note, "no feed rows");
}

TEST(FeedRows, LinesNeedFourLettersOfTextSize) {
    const KillData data;
    {
        // Three letters and two long icons: not a row.
        Canvas c(500, 120);
        int x = c.name(20, 40, 3, kOthers) + 16;
        c.ring(x, 39, 60, 26, kIconWhite);
        c.ring(x + 70, 39, 60, 26, kIconWhite);
        EXPECT_TRUE(c.read(data).rows.empty());
        c.name(x + 140, 40, 1, kOthers); // a fourth letter makes it one
        EXPECT_EQ(c.read(data).rows.size(), 1u);
    }
    for (int height : {30, 31}) {
        Canvas c(500, 120);
        c.name(20, 40, 8, kOthers, height);
        const FeedRead read = c.read(data);
        if (height == 30) {
            ASSERT_EQ(read.rows.size(), 1u);
            EXPECT_EQ(read.rows[0].cap, 30.0);
        } else {
            EXPECT_TRUE(read.rows.empty()) << "letters 31 high";
        }
    }
}

TEST(FeedRows, RowsAreAtLeastFourCapsWide) {
    const KillData data;
    // Four letters 12 wide, spread so that the row spans 3.9 or 4 caps.
    for (int span : {93, 96}) {
        Canvas c(300, 120);
        for (int i = 0; i < 4; ++i) {
            const int x = 20 + i * (span - 11) / 3;
            c.ring(x, 40, 12, kCap, kOthers);
        }
        const FeedRead read = c.read(data);
        if (span == 93) {
            EXPECT_TRUE(read.rows.empty());
        } else {
            ASSERT_EQ(read.rows.size(), 1u);
            EXPECT_EQ(read.rows[0].x1 - read.rows[0].x0, 96);
        }
    }
}

TEST(FeedRows, ReadsAFullRow) {
    Canvas c(480, 240);
    RowLayout first;
    first.figures = "5";
    paintRow(c, first);
    RowLayout second;
    second.top = 40 + 48;
    second.figures = "50";
    second.marker = false;
    second.killer = kOthers;
    second.rifle = false;
    second.victimLetters = 4; // names of one shape and brightness would be the player's on both sides
    paintRow(c, second);
    RowLayout third;
    third.top = 40 + 96;
    third.figures = "";
    paintRow(c, third);

    KillData data = dataFor(c, second);
    const FeedRead read = c.read(data);
    ASSERT_EQ(read.rows.size(), 3u);
    EXPECT_TRUE(read.note.empty());
    EXPECT_EQ(read.rows[0].y, 40);
    EXPECT_EQ(read.rows[1].y, 88);
    EXPECT_EQ(read.rows[2].y, 136);

    const FeedRow& mine = read.rows[0];
    EXPECT_EQ(mine.x0, 37);
    EXPECT_EQ(mine.bottom, 63);
    EXPECT_EQ(mine.cap, 24.0);
    ASSERT_TRUE(mine.hasBracket());
    ASSERT_TRUE(mine.hasDistance);
    EXPECT_EQ(mine.distance, 5);
    EXPECT_GT(mine.distanceConfidence, 0.99f);
    ASSERT_EQ(mine.glyphs.size(), 1u);
    EXPECT_EQ(mine.glyphs[0].first, first.digitBoxes[0].x0);
    EXPECT_EQ(mine.glyphs[0].second, first.digitBoxes[0].x1);
    EXPECT_EQ(mine.mX1 - mine.mX0, 19);
    EXPECT_EQ(mine.figuresTop, 40.0);
    EXPECT_EQ(mine.figuresBottom, 63.0);
    EXPECT_EQ(mine.killer.n, 5);
    EXPECT_EQ(mine.victim.n, 5);
    EXPECT_FLOAT_EQ(mine.killer.v, 205.0f);
    EXPECT_FLOAT_EQ(mine.victim.v, 170.0f);
    EXPECT_TRUE(mine.killer.sh);
    EXPECT_FALSE(mine.victim.sh || mine.victim.tm || mine.killer.tm);
    EXPECT_GT(mine.alike, 0.99f);
    EXPECT_EQ(mine.side, PlayerSide::Killer);
    EXPECT_FLOAT_EQ(mine.confidence, 0.9f);
    EXPECT_TRUE(mine.bright);
    EXPECT_EQ(mine.icon, "rifle");
    EXPECT_GT(mine.iconScore, 0.99f);
    EXPECT_TRUE(mine.headshot);
    EXPECT_EQ(mine.signature.size(), static_cast<std::size_t>(kRowSignatureLength));
    EXPECT_EQ(mine.text, "L n5 v205 w0.00 s0.00 SH | R n5 v170 w0.00 s0.00 | alike 1.00 | cap 24 dist 5");

    // Nobody marked, nobody brighter: not the player's row. A skull alone
    // is a headshot without a weapon.
    const FeedRow& others = read.rows[1];
    EXPECT_TRUE(others.hasDistance);
    EXPECT_EQ(others.distance, 50);
    ASSERT_EQ(others.glyphs.size(), 2u);
    EXPECT_EQ(others.side, PlayerSide::Neither);
    EXPECT_TRUE(others.headshot);
    EXPECT_TRUE(others.icon.empty());

    // Without a bracket the sides stay undecided whatever the colours.
    const FeedRow& plain = read.rows[2];
    EXPECT_FALSE(plain.hasBracket());
    EXPECT_EQ(plain.side, PlayerSide::Neither);
    EXPECT_EQ(plain.killer.n, 5);
    EXPECT_TRUE(plain.killer.sh);
    EXPECT_TRUE(plain.icon.empty());
    EXPECT_FALSE(plain.headshot);
}

TEST(FeedRows, WhiteFragmentsBeforeTheBracketAreAnIcon) {
    for (Rgb colour : {kIconWhite, kOthers}) {
        Canvas c(480, 120);
        RowLayout row;
        row.rifle = false;
        row.skull = false;
        row.fragments = true;
        row.fragmentColour = colour;
        row.figures = "5";
        paintRow(c, row);
        const FeedRead read = c.read(dataFor(c, row));
        ASSERT_EQ(read.rows.size(), 1u);
        const FeedRow& r = read.rows[0];
        ASSERT_TRUE(r.hasDistance);
        if (colour.r == kIconWhite.r) {
            // Letter-sized, but icon white: the zone reaches back to the
            // name, and the player's name with its marker makes the kill.
            EXPECT_EQ(r.killer.n, 5);
            EXPECT_EQ(r.side, PlayerSide::Killer);
        } else {
            // Grey like a name: a word the name cannot reach past.
            EXPECT_EQ(r.killer.n, 0);
            EXPECT_EQ(r.side, PlayerSide::Neither);
        }
    }
}

TEST(FeedRows, FiguresThatCannotBeADistanceAreRejected) {
    // "05" is read, bracket and all, but a distance has no leading zero.
    {
        Canvas c(480, 120);
        RowLayout row;
        row.figures = "05";
        paintRow(c, row);
        const FeedRead read = c.read(dataFor(c, row));
        ASSERT_EQ(read.rows.size(), 1u);
        EXPECT_TRUE(read.rows[0].hasBracket());
        EXPECT_EQ(read.rows[0].glyphs.size(), 2u);
        EXPECT_FALSE(read.rows[0].hasDistance);
        EXPECT_EQ(read.rows[0].side, PlayerSide::Killer); // the sides do not depend on the figures
    }
    // A figure read at 0.69 is too weak; at 0.71 it stands.
    for (float score : {0.69f, 0.71f}) {
        Canvas c(480, 120);
        RowLayout row;
        row.figures = "5";
        paintRow(c, row);
        const FeedRead read = c.read(dataFor(c, row, score));
        ASSERT_EQ(read.rows.size(), 1u);
        EXPECT_EQ(read.rows[0].hasDistance, score > 0.7f) << score;
        if (read.rows[0].hasDistance) {
            EXPECT_NEAR(read.rows[0].distanceConfidence, 0.71f, 1e-4f);
        }
    }
}

TEST(FeedRows, FiguresComeFromTheKillDataFirst) {
    Canvas c(480, 120);
    RowLayout row;
    row.figures = "5";
    paintRow(c, row);
    KillData data = dataFor(c, row);
    Model model;
    model.glyphs = data.digits;
    data.digits = detail::Templates{};
    // Only the model has templates: they are used.
    ASSERT_EQ(c.read(data, model).rows.size(), 1u);
    EXPECT_EQ(c.read(data, model).rows[0].distance, 5);
    // Both have some: the kill data's win, here a "0" only.
    data.digits.cellLength = kGlyphCellLength;
    data.digits.byChar['0'] = model.glyphs.byChar['5'];
    const FeedRead read = c.read(data, model);
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_TRUE(read.rows[0].hasBracket());
    EXPECT_EQ(read.rows[0].hasDistance, true);
    EXPECT_EQ(read.rows[0].distance, 0);
}

namespace {

SideStats name(int n, float v, float w = 0.05f, float s = 0.05f, bool sh = false) {
    SideStats st;
    st.n = n;
    st.v = v;
    st.w = w;
    st.s = s;
    st.sh = sh;
    return st;
}

FeedRow sides(SideStats killer, SideStats victim, float alike = 0.0f, bool bracket = true) {
    FeedRow row;
    row.killer = killer;
    row.victim = victim;
    row.alike = alike;
    classifySides(row, bracket);
    return row;
}

} // namespace

TEST(FeedSides, TheRulesForThePlayersOwnName) {
    // No bracket: nothing but the squad flags.
    FeedRow row = sides(name(5, 205, 0.05f, 0.05f, true), name(5, 170, 0.35f), 0.0f, false);
    EXPECT_EQ(row.side, PlayerSide::Neither);
    EXPECT_FALSE(row.squadKiller);
    EXPECT_TRUE(row.squadVictim);

    // Marked and white: the killer.
    row = sides(name(5, 205, 0.05f, 0.05f, true), name(5, 170));
    EXPECT_EQ(row.side, PlayerSide::Killer);
    EXPECT_FLOAT_EQ(row.confidence, 0.9f);
    // ... unless the other side is a white name 12 levels brighter.
    row = sides(name(5, 180, 0.05f, 0.05f, true), name(5, 192));
    EXPECT_EQ(row.side, PlayerSide::Neither);
    EXPECT_FLOAT_EQ(row.confidence, 0.0f);
    // A two-letter name is never white, so it cannot object.
    row = sides(name(5, 180, 0.05f, 0.05f, true), name(2, 192));
    EXPECT_EQ(row.side, PlayerSide::Killer);

    // The same white name on both sides: the player killed themself.
    row = sides(name(6, 200), name(6, 200), 0.93f);
    EXPECT_EQ(row.side, PlayerSide::Both);
    EXPECT_FLOAT_EQ(row.confidence, 0.9f);
    EXPECT_EQ(sides(name(6, 200), name(6, 200), 0.85f).side, PlayerSide::Neither); // shapes differ

    // Unmarked: the clearly brighter white name.
    EXPECT_EQ(sides(name(5, 170), name(5, 205)).side, PlayerSide::Victim);
    EXPECT_EQ(sides(name(5, 205), name(5, 170)).side, PlayerSide::Killer);
    // A squad killer (warm letters) and a dim victim: no decision.
    EXPECT_EQ(sides(name(5, 140, 0.35f, 0.4f), name(5, 155)).side, PlayerSide::Neither);
    // Nothing is decided when a name is brighter than the game draws names.
    EXPECT_EQ(sides(name(5, 215), name(5, 170)).side, PlayerSide::Neither);

    // Facing a short name, a marked name must be brighter (160, not 145).
    EXPECT_EQ(sides(name(2, 170), name(4, 170, 0.05f, 0.05f, true)).side, PlayerSide::Victim);
    EXPECT_EQ(sides(name(2, 150), name(4, 150, 0.05f, 0.05f, true)).side, PlayerSide::Neither);
    EXPECT_EQ(sides(name(3, 150), name(4, 150, 0.05f, 0.05f, true)).side, PlayerSide::Victim);
    // Both marked, one name short: the long one if white at 168, at 0.6.
    row = sides(name(2, 170, 0.05f, 0.05f, true), name(4, 170, 0.05f, 0.05f, true));
    EXPECT_EQ(row.side, PlayerSide::Victim);
    EXPECT_FLOAT_EQ(row.confidence, 0.6f);
    EXPECT_EQ(sides(name(2, 170, 0.05f, 0.05f, true), name(4, 165, 0.05f, 0.05f, true)).side,
              PlayerSide::Neither);

    // A two-letter name is never squad, whatever its warmth.
    row = sides(name(2, 170, 0.5f), name(2, 170, 0.5f), 0.0f, false);
    EXPECT_FALSE(row.squadKiller);
    EXPECT_FALSE(row.squadVictim);
}

TEST(FeedSides, MarkersOnBothSides) {
    auto marked = [](int n, float v) { return name(n, v, 0.05f, 0.05f, true); };
    auto team = [](int n, float v) {
        SideStats st = name(n, v);
        st.tm = true;
        return st;
    };
    // The player's marker beside both names: a self-kill, however unlike the
    // names look (one lost its end to the icon) and however bright.
    FeedRow row = sides(marked(6, 200), marked(8, 205), 0.2f);
    EXPECT_EQ(row.side, PlayerSide::Both);
    EXPECT_FLOAT_EQ(row.confidence, 0.9f);
    EXPECT_EQ(sides(marked(3, 150), marked(3, 150)).side, PlayerSide::Both);
    EXPECT_EQ(sides(marked(5, 215), marked(5, 215)).side, PlayerSide::Both);
    // A short own name fused into two pieces: still a self-kill while both
    // names are the player's equal white, at 0.6.
    row = sides(marked(3, 204), marked(2, 204));
    EXPECT_EQ(row.side, PlayerSide::Both);
    EXPECT_FLOAT_EQ(row.confidence, 0.6f);
    EXPECT_EQ(sides(marked(2, 200), marked(4, 206)).side, PlayerSide::Both);
    // Not at the others' grey, nor with one name clearly dimmer.
    EXPECT_NE(sides(marked(3, 175), marked(2, 175)).side, PlayerSide::Both);
    EXPECT_EQ(sides(marked(4, 205), marked(2, 185)).side, PlayerSide::Killer);
    // A teammate who killed themself: alike white names, each beside the
    // team's marker, are not the player's.
    EXPECT_EQ(sides(team(6, 200), team(6, 200), 0.95f).side, PlayerSide::Neither);
    EXPECT_EQ(sides(team(6, 170), name(6, 170), 0.95f).side, PlayerSide::Neither);
    EXPECT_EQ(sides(name(6, 170), name(6, 170), 0.95f).side, PlayerSide::Both);
}

TEST(FeedTuningValues, DefaultsWhenTheEnvironmentIsSilent) {
    // The values are read once per process, on first use; a test cannot
    // change them afterwards, so only the defaults are checked, and only
    // when the run does not set them.
    if (std::getenv("KF_TH") || std::getenv("KF_G") || std::getenv("KF_DEBUG"))
        GTEST_SKIP() << "kill-feed tuning set in the environment";
    const FeedTuning& t = feedTuning();
    EXPECT_EQ(t.topHat, 34.0);
    EXPECT_EQ(t.luma, 95.0);
    EXPECT_FALSE(t.debug);
    EXPECT_EQ(&feedTuning(), &t);
}

TEST(FeedRows, RowTextIsCut) {
    FeedRow row;
    row.killer = name(5, 1e30f, 1e30f, 1e30f, true);
    row.victim = row.killer;
    row.alike = 1e30f;
    row.cap = 1e300;
    row.hasDistance = true;
    row.distance = -2147483647 - 1;
    const std::string text = rowText(row);
    EXPECT_EQ(text.size(), 319u);
    EXPECT_EQ(text.substr(0, 8), "L n5 v10");
}

TEST(FeedRows, MarkersAndSquadColours) {
    Canvas c(520, 120);
    RowLayout row;
    row.marker = false;
    row.killer = kSquad;
    row.victimMarker = true;
    row.figures = "5";
    paintRow(c, row);
    const FeedRead read = c.read(dataFor(c, row));
    ASSERT_EQ(read.rows.size(), 1u);
    const FeedRow& r = read.rows[0];
    EXPECT_TRUE(r.squadKiller);
    EXPECT_FALSE(r.squadVictim);
    EXPECT_NEAR(r.killer.w, (210.0f - 90.0f) / 210.0f, 1e-5f);
    EXPECT_NEAR(r.killer.s, (210.0f - 90.0f) / 210.0f, 1e-5f);
    EXPECT_FALSE(r.killer.sh || r.killer.tm); // squad letters are not markers
    EXPECT_TRUE(r.victim.tm);
    EXPECT_FALSE(r.victim.sh);
    EXPECT_EQ(r.victim.n, 5);
    EXPECT_EQ(r.side, PlayerSide::Neither);
    EXPECT_NE(r.text.find("| R n5 v170 w0.00 s0.00 TM |"), std::string::npos) << r.text;
}

TEST(FeedRows, TheSignatureFollowsTheRowNotItsPlace) {
    std::vector<float> signatures[2];
    for (int k = 0; k < 2; ++k) {
        Canvas c(520, 140);
        RowLayout row;
        row.left = 10 + 7 * k;
        row.top = 40 + 11 * k;
        paintRow(c, row);
        const FeedRead read = c.read(dataFor(c, row));
        ASSERT_EQ(read.rows.size(), 1u);
        EXPECT_EQ(read.rows[0].x0, 37 + 7 * k);
        signatures[k] = read.rows[0].signature;
    }
    ASSERT_EQ(signatures[0].size(), static_cast<std::size_t>(kRowSignatureLength));
    double norm = 0.0;
    for (int i = 0; i < kRowSignatureLength; ++i) {
        EXPECT_FLOAT_EQ(signatures[0][i], signatures[1][i]) << i;
        norm += signatures[0][i] * signatures[0][i];
    }
    EXPECT_NEAR(norm, 1.0, 1e-4);
}

TEST(FeedRows, AnIconTooLikeAnotherIsNotNamed) {
    Canvas c(480, 120);
    RowLayout row;
    row.figures = "5";
    paintRow(c, row);
    KillData data = dataFor(c, row);
    KillIcon twin = data.icons[0];
    twin.key = twin.name = "carbine";
    data.icons.push_back(twin);
    const FeedRead read = c.read(data);
    ASSERT_EQ(read.rows.size(), 1u);
    EXPECT_TRUE(read.rows[0].icon.empty());
    EXPECT_TRUE(read.rows[0].headshot);
    // A variant of the same key is no rival: rifle_2 reads as rifle.
    data.icons.back().key = "rifle";
    EXPECT_EQ(c.read(data).rows.at(0).icon, "rifle");
}

TEST(FeedFigures, TouchingFiguresAreCutAtTheValley) {
    Canvas c(200, 100);
    const int top = 40;
    const int bottom = top + kCap - 1;
    c.five(60, top, kFigures);
    c.ring(60 + kLetterWidth + 3, top, kLetterWidth, kCap, kFigures);
    c.lowerM(60 + 2 * kLetterWidth + 7, top, kFigures);
    const Blob five{60, top, 60 + kLetterWidth - 1, bottom, 0, false};
    const Blob zero{60 + kLetterWidth + 3, top, 60 + 2 * kLetterWidth + 2, bottom, 0, false};
    detail::Templates digits;
    digits.cellLength = kGlyphCellLength;
    digits.byChar['5'] = {cellOf(c, five, top, bottom)};
    digits.byChar['0'] = {cellOf(c, zero, top, bottom)};
    // A bridge two pixels thin joins the figures into one run of ink.
    c.rect(60 + kLetterWidth, top + 10, 60 + kLetterWidth + 2, top + 11, kFigures);

    FramePlanes planes;
    RowCtx ctx;
    ctx.frame.width = c.width;
    ctx.frame.height = c.height;
    ctx.frame.pixels = c.px.data();
    ctx.frame.stride = c.stride;
    prepareFrame(ctx.frame, planes);
    ctx.planes = &planes;
    ctx.top = top;
    ctx.bottom = bottom;
    ctx.cap = kCap;
    const Figures f = readFigures(ctx, 50, 120, top, bottom, digits);
    ASSERT_TRUE(f.found);
    EXPECT_EQ(f.text, "50m");
    ASSERT_EQ(f.glyphs.size(), 2u);
    EXPECT_EQ(f.glyphs[0].first, 60);
    EXPECT_EQ(f.glyphs[1].second, zero.x1);
    EXPECT_GT(f.lowest, 0.8f);
    EXPECT_EQ(f.mX0, 60 + 2 * kLetterWidth + 7);

    // Too far apart for one number: the "5" alone, with ink left unread.
    Canvas apart(200, 100);
    apart.five(60, top, kFigures);
    apart.ring(60 + kLetterWidth + 10, top, kLetterWidth, kCap, kFigures);
    apart.lowerM(60 + 2 * kLetterWidth + 14, top, kFigures);
    ctx.frame.pixels = apart.px.data();
    prepareFrame(ctx.frame, planes);
    const Figures g = readFigures(ctx, 50, 120, top, bottom, digits);
    EXPECT_FALSE(g.found && g.text == "50m") << g.text;
    EXPECT_EQ(g.mX0, -1);
}

TEST(FeedRows, AnyPictureReadsWithoutHarm) {
    // Random shapes in random colours make lines, brackets, markers and
    // icons of every size; random data makes odd icons and templates. The
    // reading must stay inside the image whatever it finds.
    std::mt19937 gen(17);
    auto pick = [&gen](int lo, int hi) {
        return lo + static_cast<int>(gen() % static_cast<unsigned>(hi - lo + 1));
    };
    KillData data;
    for (int i = 0; i < 6; ++i) {
        KillIcon ic;
        ic.key = ic.name = i % 3 == 0 ? "skull" : "icon" + std::to_string(i);
        ic.width = static_cast<std::uint32_t>(pick(1, 90));
        ic.height = static_cast<std::uint32_t>(pick(1, 40));
        for (std::uint32_t k = 0; k < ic.width * ic.height; ++k)
            ic.pixels.push_back(static_cast<float>(gen() % 256) / 255.0f);
        normalizeTemplate(ic.pixels);
        data.icons.push_back(ic);
    }
    data.digits.cellLength = kGlyphCellLength;
    for (char ch : std::string("0123456789m")) {
        std::vector<float> t(kGlyphCellLength);
        for (float& v : t)
            v = static_cast<float>(gen() % 1000);
        normalizeVector(t.data(), t.size());
        data.digits.byChar[static_cast<signed char>(ch)] = {t};
    }
    for (int round = 0; round < 40; ++round) {
        const int w = round < 3 ? 1 + round * 7 : pick(20, 420);
        const int h = round < 3 ? 300 : pick(40, 200);
        Canvas c(w, h, Rgb{static_cast<std::uint8_t>(pick(0, 60)), 30, 30});
        auto colour = [&]() {
            return Rgb{static_cast<std::uint8_t>(pick(80, 255)), static_cast<std::uint8_t>(pick(80, 255)),
                       static_cast<std::uint8_t>(pick(80, 255))};
        };
        // Lines of letter-like rings with brackets, icons and markers among
        // them, then clutter over everything.
        for (int line = pick(0, 4); line > 0; --line) {
            const int cap = pick(10, 32);
            const int top = pick(-5, h - cap);
            for (int x = pick(-5, 40); x < w;) {
                const int kind = pick(0, 9);
                const Rgb ink = kind < 6 ? Rgb{200, 200, 200} : colour();
                if (kind < 6) {
                    const int lw = pick(cap * 4 / 10, cap);
                    c.ring(x, top + pick(-1, 1), lw, cap + pick(-1, 1), ink, pick(2, 4));
                    x += lw + pick(1, 14);
                } else if (kind == 6) {
                    // An icon, then "[", figures, "m" and "]" at this cap.
                    c.rect(x, top, x + pick(10, 60), top + cap, kIconWhite);
                    x += pick(14, 70);
                    c.rect(x, top - 4, x + 2, top + cap + 4, ink);
                    c.rect(x, top - 4, x + 6, top - 2, ink);
                    c.rect(x, top + cap + 2, x + 6, top + cap + 4, ink);
                    x += pick(8, 12);
                    for (int d = pick(1, 3); d > 0; --d, x += cap / 2 + pick(2, 5))
                        c.ring(x, top, cap / 2 + pick(-1, 2), cap, ink, pick(2, 3));
                    c.rect(x, top + cap / 3, x + cap * 8 / 10, top + cap / 3 + 2, ink);
                    for (int leg = 0; leg < 3; ++leg)
                        c.rect(x + leg * cap * 4 / 10, top + cap / 3, x + leg * cap * 4 / 10 + 2,
                               top + cap - 1, ink);
                    x += cap + pick(2, 5);
                    c.rect(x + 4, top - 4, x + 6, top + cap + 4, ink);
                    c.rect(x, top - 4, x + 6, top - 2, ink);
                    c.rect(x, top + cap + 2, x + 6, top + cap + 4, ink);
                    x += pick(8, 20);
                } else if (kind == 7) {
                    c.rect(x, top, x + pick(10, 80), top + pick(cap / 2, cap + 6), kIconWhite);
                    x += pick(20, 90);
                } else {
                    c.rect(x, top + 2, x + cap * 8 / 10, top + 2 + cap * 8 / 10,
                           pick(0, 1) ? kOrange : kTeamBlue);
                    x += cap + pick(2, 10);
                }
            }
        }
        for (int k = 0; k < 8; ++k) {
            const int x = pick(-10, w), y = pick(-10, h);
            if (k % 3 == 0)
                c.rect(x, y, x + pick(0, 30), y + pick(0, 40), colour());
            else
                c.ring(x, y, pick(4, 60), pick(6, 40), colour(), pick(1, 4));
        }
        const FeedRead read = c.read(data);
        EXPECT_EQ(read.rows.empty(), read.note == "no feed rows");
        for (const FeedRow& r : read.rows) {
            EXPECT_LE(r.x0, r.x1);
            EXPECT_LE(r.text.size(), 319u);
            EXPECT_EQ(r.signature.size(), static_cast<std::size_t>(kRowSignatureLength));
        }
    }
}

TEST(FeedSides, AShortSquadNameBesideTheTeamsMarkerIsStillTheSquads) {
    // A four-letter squad name fused into two pieces: with the team's marker
    // beside it, its warmth still marks the row as friendly fire; without
    // the marker two warm pieces say nothing, and a drained warmth needs the
    // marker too.
    SideStats warmPair = name(2, 182, 0.33f, 0.33f);
    warmPair.tm = true;
    FeedRow row = sides(name(5, 204, 0.0f, 0.04f, true), warmPair);
    EXPECT_EQ(row.side, PlayerSide::Killer);
    EXPECT_TRUE(row.squadVictim);
    EXPECT_FALSE(row.squadKiller);
    warmPair.tm = false;
    EXPECT_FALSE(sides(name(5, 204, 0.0f, 0.04f, true), warmPair).squadVictim);
    // One fused piece, or the drained squad colour, beside the marker.
    SideStats fused = name(1, 183, 0.34f, 0.34f);
    fused.tm = true;
    EXPECT_TRUE(sides(name(5, 204, 0.0f, 0.04f, true), fused).squadVictim);
    SideStats drained = name(4, 188, 0.22f, 0.22f);
    EXPECT_FALSE(sides(name(5, 204, 0.0f, 0.04f, true), drained).squadVictim);
    drained.tm = true;
    EXPECT_TRUE(sides(name(5, 204, 0.0f, 0.04f, true), drained).squadVictim);
    // A grey teammate's short name beside the marker is not the squad's.
    SideStats greyPair = name(2, 170, 0.02f, 0.03f);
    greyPair.tm = true;
    EXPECT_FALSE(sides(name(5, 204, 0.0f, 0.04f, true), greyPair).squadVictim);
}

TEST(FeedSides, ANameBesideTheTeamsMarkerIsNeverThePlayersByBrightness) {
    // A teammate's grey name read brighter than an enemy's: the blue marker
    // beside it says it is not the player's, on either side.
    SideStats teammate = name(4, 162, 0.02f, 0.06f);
    teammate.tm = true;
    EXPECT_EQ(sides(teammate, name(7, 151)).side, PlayerSide::Neither);
    EXPECT_EQ(sides(name(7, 151), teammate).side, PlayerSide::Neither);
    // Facing a teammate's marked name, an enemy's grey read brighter is not
    // the player's; the player's own brightness still is.
    SideStats dimTeammate = name(4, 138, 0.02f, 0.03f);
    dimTeammate.tm = true;
    EXPECT_EQ(sides(name(7, 149), dimTeammate).side, PlayerSide::Neither);
    EXPECT_EQ(sides(dimTeammate, name(7, 149)).side, PlayerSide::Neither);
    EXPECT_EQ(sides(name(7, 175), dimTeammate).side, PlayerSide::Killer);
    EXPECT_EQ(sides(dimTeammate, name(7, 175)).side, PlayerSide::Victim);
    // Without the marker the brighter name is still the player's.
    teammate.tm = false;
    EXPECT_EQ(sides(teammate, name(7, 151)).side, PlayerSide::Killer);
    EXPECT_EQ(sides(name(7, 151), teammate).side, PlayerSide::Victim);
}
