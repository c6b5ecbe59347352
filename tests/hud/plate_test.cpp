#include "hud/plate/down.h"
#include "hud/plate/plate.h"

#include "hud/core/image.h"
#include "hud/cash/vocab.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

// A grey 32-bit capture with a little padding at the end of each row.
struct Capture {
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> bytes;

    Capture(int w, int h, int centre, int spread, unsigned seed)
        : width(w), height(h), stride(w * 4 + 8), bytes(static_cast<std::size_t>(stride * h), 255) {
        std::mt19937 gen(seed);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                set(x, y, centre - spread + static_cast<int>(gen() % static_cast<unsigned>(2 * spread + 1)));
    }
    void set(int x, int y, int grey) {
        if (x < 0 || y < 0 || x >= width || y >= height)
            return;
        std::uint8_t* p = bytes.data() + y * stride + x * 4;
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(grey);
    }
};

// ---------------------------------------------------------------------------
// Damage-log header

constexpr int kHeaderW = 68;
constexpr int kHeaderH = 14;

// A dark band with bright text-like strokes.
std::vector<std::uint8_t> headerImage() {
    std::vector<std::uint8_t> img(kHeaderW * kHeaderH, 60);
    std::mt19937 gen(11);
    for (int x = 3; x < kHeaderW - 3; x += 3) {
        const int top = 3 + static_cast<int>(gen() % 3);
        const int bottom = 10 - static_cast<int>(gen() % 3);
        for (int y = top; gen() % 4 != 0 && y <= bottom; ++y)
            img[y * kHeaderW + x] = img[y * kHeaderW + x + 1] = 235;
    }
    return img;
}

// Kill-feed data whose 1.00998 variant is the header image itself (68 x 14,
// resampled one to one); `variant` receives its index.
hud::DownDetector detectorFor(int* variant = nullptr) {
    hud::KillDataSource s;
    s.icons.push_back({"rifle", 1, 1, {255}});
    s.damageLogImageWidth = kHeaderW;
    s.damageLogImageHeight = kHeaderH;
    s.damageLogPixels = headerImage();
    const float scale = 0.8f * 1.06f * 1.06f * 1.06f * 1.06f;
    s.damageLogWidth = static_cast<float>(kHeaderW) / (scale * 562.5f);
    const auto bytes = hud::serializeKillData(s);
    hud::DownDetector d;
    d.killData = hud::parseKillData(bytes.data(), bytes.size());
    for (std::size_t i = 0; variant && d.killData && i < d.killData->damageLog.size(); ++i)
        if (d.killData->damageLog[i].width == kHeaderW && d.killData->damageLog[i].height == kHeaderH)
            *variant = static_cast<int>(i);
    return d;
}

// The damage-log area at its usual size: noise, and the header at (x, y)
// unless x is negative.
Capture downArea(int x, int y, unsigned seed = 3, int width = 146, int height = 79) {
    Capture c(width, height, 80, 25, seed);
    const auto img = headerImage();
    for (int yy = 0; x >= 0 && yy < kHeaderH; ++yy)
        for (int xx = 0; xx < kHeaderW; ++xx)
            c.set(x + xx, y + yy, img[yy * kHeaderW + xx]);
    return c;
}

hud::DownRead read(hud::DownDetector& d, const Capture& c, bool fullScan) {
    return hud::readDownScore(d, c.bytes.data(), c.width, c.height, c.stride, fullScan);
}

} // namespace

TEST(DownScore, FullScanFindsTheHeaderLocksItAndFollowsSmallMoves) {
    int variant = -1;
    hud::DownDetector d = detectorFor(&variant);
    ASSERT_TRUE(d.killData);
    ASSERT_GE(variant, 0);

    // Far from where the header usually stands: only a full scan finds it.
    const Capture at = downArea(10, 9);
    EXPECT_FALSE(read(d, at, false).found);
    EXPECT_LT(d.lockedVariant, 0);
    const hud::DownRead full = read(d, at, true);
    EXPECT_TRUE(full.found) << full.score;
    EXPECT_EQ(full.x, 10.0f);
    EXPECT_EQ(full.y, 9.0f);
    EXPECT_EQ(d.lockedVariant, variant);

    // Moved by 3 pixels each way: followed by the locked search alone.
    const hud::DownRead moved = read(d, downArea(13, 12, 4), false);
    EXPECT_TRUE(moved.found) << moved.score;
    EXPECT_EQ(moved.x, 13.0f);
    EXPECT_EQ(moved.y, 12.0f);
    EXPECT_EQ(d.lockedX, 13);
    EXPECT_EQ(d.lockedY, 12);

    // Gone: nothing found; the lock stays where the header was last seen.
    EXPECT_FALSE(read(d, downArea(-1, 0, 5), false).found);
    EXPECT_EQ(d.lockedVariant, variant);
    EXPECT_EQ(d.lockedX, 13);

    // Without a lock, the usual place (52, 38) is searched 5 pixels around.
    hud::DownDetector fresh = detectorFor();
    const hud::DownRead usual = read(fresh, downArea(52 + 4, 38 - 3), false);
    EXPECT_TRUE(usual.found) << usual.score;
    EXPECT_EQ(usual.x, 56.0f);
    EXPECT_EQ(usual.y, 35.0f);
}

TEST(DownScore, FlatSmallOrBadAreasNeverMatch) {
    hud::DownDetector d = detectorFor();
    ASSERT_TRUE(d.killData);
    // Uniform, and faint noise (variance under 2.25 once blurred).
    for (int spread : {0, 2}) {
        const Capture flat(146, 79, 120, spread, 9);
        const hud::DownRead r = read(d, flat, true);
        EXPECT_FALSE(r.found);
        EXPECT_EQ(r.score, 0.0f);
    }
    EXPECT_LT(d.lockedVariant, 0);

    // A 70 x 20 area holds only the variants up to 70 pixels wide.
    const hud::DownRead small = read(d, downArea(1, 3, 1, 70, 20), true);
    EXPECT_TRUE(small.found) << small.score;
    EXPECT_EQ(small.x, 1.0f);

    const Capture area = downArea(52, 38);
    EXPECT_FALSE(hud::readDownScore(d, area.bytes.data(), 15, 79, area.stride, true).found);
    EXPECT_FALSE(hud::readDownScore(d, area.bytes.data(), 146, 11, area.stride, true).found);
    EXPECT_FALSE(hud::readDownScore(d, area.bytes.data(), 146, 79, 100, true).found);
    EXPECT_FALSE(hud::readDownScore(d, nullptr, 146, 79, area.stride, true).found);
    hud::DownDetector empty;
    EXPECT_FALSE(read(empty, area, true).found);
    // A lock that no longer fits the data is dropped, not followed.
    d.lockedVariant = 99;
    d.lockedX = 1 << 30;
    EXPECT_TRUE(read(d, area, false).found);
    EXPECT_LT(d.lockedVariant, 8);
}

// ---------------------------------------------------------------------------
// Weapon plate

namespace {

using hud::detail::PlateGlyphScores;

// Glyph scores reading `text` at `score`, with the letters of `rival` at the
// same positions at `other`.
std::vector<PlateGlyphScores> scoresFor(const std::string& text, float score, const std::string& rival = "",
                                        float other = -2.0f) {
    PlateGlyphScores none;
    none.fill(-2.0f);
    std::vector<PlateGlyphScores> out(text.size(), none);
    for (std::size_t k = 0; k < text.size(); ++k) {
        out[k][hud::detail::kPlateCharset.find(text[k])] = score;
        if (k < rival.size() && rival[k] != text[k])
            out[k][hud::detail::kPlateCharset.find(rival[k])] = other;
    }
    return out;
}

std::string nameOf(const hud::detail::PlateMatch& m) {
    return m.entry < 0 ? std::string() : hud::weaponTable()[static_cast<std::size_t>(m.entry)].name;
}

} // namespace

TEST(PlateMatch, ShortKeysNeedAStrongerReadAndEveryKeyALead) {
    hud::detail::PlateMatch m = hud::detail::matchPlate(scoresFor("SKS", 0.75f), {3});
    EXPECT_EQ(nameOf(m), "SKS");
    EXPECT_FALSE(m.accepted); // under the 0.78 of a three-letter key
    m = hud::detail::matchPlate(scoresFor("SKS", 0.79f, "FAL", 0.71f), {3});
    EXPECT_EQ(nameOf(m), "SKS");
    EXPECT_FLOAT_EQ(m.second, 0.71f);
    EXPECT_TRUE(m.accepted);
    EXPECT_FALSE(hud::detail::matchPlate(scoresFor("SKS", 0.79f, "FAL", 0.72f), {3}).accepted);

    // Longer keys need 0.7, from their weakest glyph.
    EXPECT_TRUE(hud::detail::matchPlate(scoresFor("M500", 0.70f), {4}).accepted);
    std::vector<PlateGlyphScores> weak = scoresFor("M500", 0.95f);
    weak[2][hud::detail::kPlateCharset.find('0')] = 0.69f;
    m = hud::detail::matchPlate(weak, {4});
    EXPECT_FLOAT_EQ(m.score, 0.69f);
    EXPECT_FALSE(m.accepted);
}

TEST(PlateMatch, WordCountsMustFitTheName) {
    EXPECT_EQ(nameOf(hud::detail::matchPlate(scoresFor("M249SAW", 0.9f), {4, 3})), "M249 SAW");
    // A hyphen may or may not leave a word gap: two or three words, not one or four.
    EXPECT_EQ(nameOf(hud::detail::matchPlate(scoresFor("PP19VITYAZ", 0.9f), {4, 6})), "PP-19 Vityaz");
    EXPECT_EQ(nameOf(hud::detail::matchPlate(scoresFor("PP19VITYAZ", 0.9f), {2, 2, 6})), "PP-19 Vityaz");
    for (const std::vector<int>& words : {std::vector<int>{10}, std::vector<int>{2, 2, 3, 3}}) {
        const hud::detail::PlateMatch m = hud::detail::matchPlate(scoresFor("PP19VITYAZ", 0.9f), words);
        EXPECT_NE(nameOf(m), "PP-19 Vityaz");
        EXPECT_FALSE(m.accepted);
    }
    // Leading words alone may make the name.
    EXPECT_EQ(nameOf(hud::detail::matchPlate(scoresFor("M4XYZ", 0.9f), {2, 3})), "M4");
    // Nothing of a fitting length: nothing scored; word lengths past the glyphs are not read.
    const hud::detail::PlateMatch none = hud::detail::matchPlate(scoresFor("Q", 0.9f), {1, 40});
    EXPECT_EQ(none.entry, -1);
    EXPECT_EQ(none.score, -2.0f);
}

TEST(PlateMatch, ANameIsNotBlockedByItsOwnLeadingWords) {
    // "URAL" reads the first word of "URAL DEFENDER" at least as well as the
    // whole name does; the whole line names the longer entry.
    hud::detail::PlateMatch m = hud::detail::matchPlate(scoresFor("URALDEFENDER", 0.9f), {4, 8});
    EXPECT_EQ(nameOf(m), "Ural Defender");
    EXPECT_TRUE(m.accepted);
    m = hud::detail::matchPlate(scoresFor("URALDEFENDERM249", 0.9f), {4, 8, 4});
    EXPECT_EQ(nameOf(m), "Ural Defender [M249]");
    EXPECT_TRUE(m.accepted);
    m = hud::detail::matchPlate(scoresFor("KODIAKM249", 0.85f), {6, 4});
    EXPECT_EQ(nameOf(m), "Kodiak [M249]");
    EXPECT_TRUE(m.accepted);
    EXPECT_FLOAT_EQ(m.score, 0.85f);

    // The longer name's score is its weakest glyph, and it must clear the
    // threshold on its own; read too weakly it stays the shorter name's rival.
    std::vector<PlateGlyphScores> weak = scoresFor("URALDEFENDER", 0.9f);
    weak[8][hud::detail::kPlateCharset.find('N')] = 0.86f;
    m = hud::detail::matchPlate(weak, {4, 8});
    EXPECT_EQ(nameOf(m), "Ural Defender");
    EXPECT_FLOAT_EQ(m.score, 0.86f);
    EXPECT_TRUE(m.accepted);
    weak[8][hud::detail::kPlateCharset.find('N')] = 0.65f;
    m = hud::detail::matchPlate(weak, {4, 8});
    EXPECT_EQ(nameOf(m), "URAL");
    EXPECT_FLOAT_EQ(m.second, 0.65f);
    EXPECT_TRUE(m.accepted);
}

TEST(PlateGlyphs, WordsStopAtTheSlash) {
    constexpr int w = 200;
    std::vector<std::uint8_t> mask(w * 40, 0);
    std::vector<hud::Blob> line;
    // A solid box, or a three-pixel diagonal stroke between its corners.
    auto add = [&](int x0, int y0, int x1, int y1, int diagonal) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int along = diagonal > 0 ? (y - y0) : (y1 - y); // a backslash or a slash
                const int centre = x0 + along * (x1 - x0) / (y1 - y0);
                if (diagonal == 0 || (x >= centre && x < centre + 3))
                    mask[static_cast<std::size_t>(y * w + x)] = 1;
            }
        hud::Blob b;
        b.x0 = x0, b.y0 = y0, b.x1 = x1, b.y1 = y1, b.area = (x1 - x0 + 1) * (y1 - y0 + 1);
        line.push_back(b);
    };
    add(10, 10, 21, 29, 0);   // letter
    add(25, 10, 34, 29, 0);   // letter 4 apart; as wide as a slash but solid
    add(40, 18, 45, 21, 0);   // hyphen: too short, skipped
    add(49, 10, 60, 29, 0);   // 15 after the last glyph: a new word
    add(64, 10, 73, 29, 1);   // a backslash is a glyph
    add(77, 2, 80, 38, 0);    // too tall to be a glyph
    add(90, 10, 101, 29, 0);  // a new word
    add(114, 9, 123, 29, -1); // the slash ends the walk
    add(130, 10, 141, 29, 0); // ammunition
    std::vector<hud::Blob> glyphs;
    std::vector<int> words;
    hud::detail::plateGlyphs(mask, w, line, 20.0, glyphs, words);
    EXPECT_EQ(words, (std::vector<int>{2, 2, 1}));
    ASSERT_EQ(glyphs.size(), 5u);
    EXPECT_EQ(glyphs[2].x0, 49);
    EXPECT_EQ(glyphs[4].x0, 90);
}

TEST(PlateGlyphs, BracketsArePassedOver) {
    constexpr int w = 200;
    std::vector<std::uint8_t> mask(w * 40, 0);
    std::vector<hud::Blob> line;
    auto add = [&](int x0, int y0, int x1, int y1) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                mask[static_cast<std::size_t>(y * w + x)] = 1;
        hud::Blob b;
        b.x0 = x0, b.y0 = y0, b.x1 = x1, b.y1 = y1, b.area = (x1 - x0 + 1) * (y1 - y0 + 1);
        line.push_back(b);
    };
    // Cap 20: "AB [CD]" with brackets 1.35 cap high and 0.3 cap wide.
    add(10, 10, 21, 29);
    add(25, 10, 36, 29);
    add(46, 7, 51, 33); // [
    add(55, 10, 66, 29);
    add(70, 10, 81, 29);
    add(85, 7, 90, 33);    // ]
    add(94, 8, 98, 31);    // 1.2 cap high, but a quarter cap wide: passed over as well
    add(110, 7, 123, 32);  // as tall but 0.7 cap wide: a letter run into something, kept
    add(127, 11, 131, 29); // an I of cap height is a glyph
    std::vector<hud::Blob> glyphs;
    std::vector<int> words;
    hud::detail::plateGlyphs(mask, w, line, 20.0, glyphs, words);
    EXPECT_EQ(words, (std::vector<int>{2, 2, 2}));
    ASSERT_EQ(glyphs.size(), 6u);
    EXPECT_EQ(glyphs[2].x0, 55);
    EXPECT_EQ(glyphs[4].x0, 110);
}

namespace {

// A blocky 5 x 7 font, 3 pixels to the dot: caps 21 pixels high, about the
// plate's size in its 2160-line capture.
constexpr int kDot = 3;

const char* glyphRows(char c) {
    switch (c) {
    case 'A':
        return ".###.#...##...######...##...##...#";
    case 'K':
        return "#...##..#.#.#..##...#.#..#..#.#...#";
    case 'S':
        return ".###.#...##.....###.....##...#.###.";
    case 'W':
        return "#...##...##...##.#.##.#.###.###...#";
    case '0':
        return ".###.#...##..###.#.###..##...#.###.";
    case '3':
        return "####.....#....#.###.....#....#####.";
    case '/':
        return "....#...#....#...#...#....#...#....";
    default:
        return "";
    }
}

// Draws `text` ending at x = right - 1: letters a dot apart, words five.
// Brackets are two dots wide and reach a dot above the capitals and one below.
void drawText(Capture& c, const std::string& text, int right, int top) {
    int x = right + kDot;
    for (char ch : text)
        x -= (ch == ' ' ? 4 : 6) * kDot;
    for (char ch : text) {
        if (ch == '[' || ch == ']') {
            for (int row = -1; row <= 7; ++row)
                for (int col = 0; col < 2; ++col)
                    if (row == -1 || row == 7 || col == (ch == '[' ? 0 : 1))
                        for (int d = 0; d < kDot * kDot; ++d)
                            c.set(x + col * kDot + d % kDot, top + row * kDot + d / kDot, 235);
            x += 6 * kDot;
            continue;
        }
        const std::string rows = glyphRows(ch);
        for (std::size_t i = 0; i < rows.size(); ++i)
            for (int d = 0; rows[i] == '#' && d < kDot * kDot; ++d)
                c.set(x + static_cast<int>(i % 5) * kDot + d % kDot,
                      top + static_cast<int>(i / 5) * kDot + d / kDot, 235);
        x += (ch == ' ' ? 4 : 6) * kDot;
    }
}

// One character drawn alone, sampled and normalised as the reader samples a glyph.
hud::detail::Template glyphTemplate(char ch) {
    Capture c(60, 60, 60, 4, static_cast<unsigned>(ch));
    drawText(c, std::string(1, ch), 40, 20);
    hud::FramePlanes planes;
    prepareFrame(hud::FrameView{c.width, c.height, c.bytes.data(), c.stride}, planes);
    std::vector<hud::Blob> blobs = hud::labelComponents(planes.mask, c.width, c.height);
    std::sort(blobs.begin(), blobs.end(),
              [](const hud::Blob& a, const hud::Blob& b) { return a.area > b.area; });
    hud::detail::Template t(hud::kGlyphCellLength);
    hud::sampleGlyphCell(planes.ink, blobs.at(0), blobs[0].y0, blobs[0].y1, blobs[0].height(), t.data());
    hud::normalizeVector(t.data(), t.size());
    return t;
}

// Letters from the HUD model, digits from the distance templates: the reader
// takes the better of both.
struct PlateSetup {
    hud::Model model;
    hud::KillData killData;
    PlateSetup() {
        model.glyphs.cellLength = hud::kGlyphCellLength;
        for (char ch : std::string("AKSW"))
            model.glyphs.byChar[static_cast<signed char>(ch)] = {glyphTemplate(ch)};
        killData.digitLength = killData.digits.cellLength = hud::kGlyphCellLength;
        for (char ch : std::string("03"))
            killData.digits.byChar[static_cast<signed char>(ch)] = {glyphTemplate(ch)};
    }
    // A 972 x 99 plate capture, the line ending `right`, cap top at 39.
    hud::PlateRead read(const std::string& text, int right = 972 - 50) const {
        Capture c(972, 99, 60, 4, 21);
        drawText(c, text, right, 39);
        return hud::readPlate(model, killData, c.bytes.data(), c.width, c.height, c.stride);
    }
};

} // namespace

TEST(PlateRead, ReadsUpToTheSlashAndMatchesTheTable) {
    const PlateSetup setup;
    hud::PlateRead r = setup.read("SKS / 30 30");
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.read, "SKS");
    EXPECT_EQ(r.name, "SKS");
    EXPECT_TRUE(r.weapon);
    EXPECT_EQ(r.weaponClass, "hunting");
    EXPECT_GE(r.score, 0.78f);

    // Read, but no entry of the table: the letters stay, the name is empty.
    r = setup.read("KAW / 30 30");
    EXPECT_EQ(r.read, "KAW");
    EXPECT_TRUE(r.name.empty());
    EXPECT_LT(r.score, 0.78f);

    // Brackets around a mounted weapon's name are no glyphs of it.
    r = setup.read("SKS [AW] / 30 30");
    EXPECT_EQ(r.read, "SKS AW");

    // 100 pixels too far left: not the plate.
    r = setup.read("SKS / 30 30", 972 - 150);
    EXPECT_FALSE(r.found);
    EXPECT_EQ(r.score, -2.0f);

    // Without templates the line is found, but nothing is read or matched.
    const Capture c(972, 99, 60, 4, 21);
    EXPECT_FALSE(hud::readPlate(setup.model, setup.killData, c.bytes.data(), 972, 99, 16).found);
    Capture plate = c;
    drawText(plate, "SKS / 30", 972 - 50, 39);
    r = hud::readPlate(hud::Model{}, hud::KillData{}, plate.bytes.data(), plate.width, plate.height,
                       plate.stride);
    EXPECT_TRUE(r.found);
    EXPECT_EQ(r.read, "???");
    EXPECT_EQ(r.score, -2.0f);
}
