// Reward lines painted at the game's own look, each of a kind the first
// reading of a row gets wrong: a word whose letters fuse into one run, small
// frames whose strokes the mask breaks apart, an experience amount split by
// a narrow digit, a figure that did not read where it stands, a short word's
// light panel at a small HUD scale.

#include "footage_fixture.h"

#include "hud/cash/pass.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

struct Case {
    const char* what;
    int width, height;
    double k;
    std::uint32_t scene;
    int jpeg;
    double blur;
    bool bright;
    std::int64_t balance;
    std::int64_t change; // 0: none shown
    std::vector<PaintedLine> lines;
    double sourceScale = 1.0;
};

class RewardLines : public FootageTest {
protected:
    // A case's frame read at each of the far ends of the look's range, named.
    static std::vector<std::pair<const char*, hud::HudReading>> readRangeEnds(const Case& c) {
        static const char* const names[] = {"wide letters", "tight letters", "smallest frame",
                                            "largest frame"};
        std::vector<std::pair<const char*, hud::HudReading>> out;
        const std::vector<synth::FrameContent> frames = rangeEnds(cashFrame(c));
        for (std::size_t i = 0; i < frames.size() && i < std::size(names); ++i)
            out.emplace_back(names[i], read(frames[i]));
        return out;
    }

    // Painted line `line` of `c` read whole at the game's look; at the
    // range's ends, whatever is read there is the painted line's.
    static void expectLineWhole(const Case& c, std::size_t line);

    // Every phrase read is a painted line's.
    static void expectPhrasesPainted(const Case& c, const hud::HudReading& r, const std::string& where) {
        for (const hud::HudLine& l : r.lines)
            EXPECT_TRUE(l.text.empty() || std::any_of(c.lines.begin(), c.lines.end(),
                                                      [&](const PaintedLine& p) { return l.text == p.text; }))
                << where << ": " << l.text << ", raw " << l.raw;
    }

    // Every phrase read is the one painted where it stands, and so is every
    // figure or amount read with it.
    static void expectReadInPlace(const Case& c, const synth::FrameContent& f, const hud::HudReading& r,
                                  const std::string& where) {
        const synth::HudLayout layout = synth::layoutCashHud(f);
        const double sc = synth::captureScale(f.width, f.height);
        for (const hud::HudLine& l : r.lines) {
            const PaintedLine* painted = nullptr;
            for (std::size_t i = 0; i < c.lines.size() && i < layout.lines.size(); ++i)
                if (std::abs(l.top - layout.lines[i].phraseTop * sc) <= 0.5 * layout.lines[i].cap * sc)
                    painted = &c.lines[i];
            ASSERT_NE(painted, nullptr) << where << ": a line read at " << l.top << " where none is";
            EXPECT_TRUE(l.text.empty() || l.text == painted->text)
                << where << ": " << l.text << " read for " << painted->text << ", raw " << l.raw;
            EXPECT_TRUE(!l.hasFigure || l.figure == painted->figure)
                << where << ": figure " << l.figure << " read for " << painted->text;
            EXPECT_TRUE(!l.hasXp || l.xp == painted->xp)
                << where << ": amount " << l.xp << " read for " << painted->text;
        }
    }

    static void expectLines(const Case& c, const hud::HudReading& r) {
        ASSERT_EQ(r.lines.size(), c.lines.size()) << c.what;
        for (std::size_t i = 0; i < c.lines.size(); ++i) {
            const PaintedLine& p = c.lines[i];
            const hud::HudLine& l = r.lines[i];
            EXPECT_EQ(l.text, p.text) << c.what << ", raw " << l.raw;
            EXPECT_TRUE(l.known) << c.what;
            EXPECT_EQ(l.hasFigure, p.figure != 0) << c.what << " " << p.text;
            if (p.figure != 0) {
                EXPECT_EQ(l.figure, p.figure) << c.what << " " << p.text;
            }
            EXPECT_EQ(l.hasXp, p.xp != 0) << c.what << " " << p.text;
            if (p.xp != 0) {
                EXPECT_EQ(l.xp, p.xp) << c.what << " " << p.text;
            }
        }
    }
};

// Frames of the evaluation's own footage at the game's exact look, each once
// misread by the first reading of its rows.
const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"whole first word fused into one run at 1080p",
         1920,
         1080,
         1.137842316337014,
         2140919934u,
         82,
         0.0,
         false,
         25748,
         -5964,
         {{"REVIVED TEAMMATE", 0, 73}}},
        {"REVENGE KILL read as KILL",
         2560,
         1440,
         1.0431167365654266,
         2823624811u,
         68,
         0.67716017528564,
         false,
         39121160,
         0,
         {{"REVENGE KILL", 980, 0}}},
        {"experience amount split after its first digits",
         1920,
         1080,
         0.896325130435569,
         340220039u,
         72,
         0.47510311949196926,
         false,
         74713,
         440,
         {{"SUPPLIED PLAYER ASSIST", 0, 569}}},
        {"720p lines whose strokes the mask breaks apart",
         1280,
         720,
         1.1900204417315503,
         2499115287u,
         87,
         0.4846489903972313,
         false,
         86360774,
         0,
         {{"REVENGE KILL", 9839, 0},
          {"VEHICLE DESTROYED", 5312, 0},
          {"KILL CONFIRMED", 292, 0},
          {"HEADSHOT", 0, 529}}},
        {"720p figure on a bright world read again from its last digit",
         1280,
         720,
         1.2771574260461578,
         78815059u,
         71,
         0.6754241698619504,
         true,
         746,
         0,
         {{"ROTORS DESTROYED", 36, 0}}},
        {"KILL on a panel narrower than the usual panel",
         1920,
         1080,
         0.9040160104378765,
         3458571600u,
         66,
         0.0,
         false,
         2421,
         0,
         {{"KILL", 2, 0}, {"ROTORS DESTROYED", 3, 0}, {"KILL", 927, 0, true}}},
    };
    return all;
}

} // namespace

TEST_F(RewardLines, MisreadKindsReadExactlyAtTheGamesLook) {
    for (const Case& c : cases()) {
        const synth::FrameContent f = cashFrame(c);
        const hud::HudReading r = read(f);
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

TEST_F(RewardLines, CleanLinesReadTheSameWithoutTheFurtherAttempts) {
    // The same lines drawn clean and large: the first reading gets them, and
    // the further attempts must leave such a reading as it is.
    for (const Case& c : cases()) {
        Case clean = c;
        clean.width = 2560;
        clean.height = 1440;
        clean.k = 1.0;
        clean.jpeg = 0;
        clean.blur = 0.0;
        clean.bright = false;
        clean.scene = 11;
        const hud::HudReading r = read(cashFrame(clean));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        expectLines(clean, r);
    }
}

TEST_F(RewardLines, SameFramesAtTheFarEndsOfTheLooksRange) {
    // The game's exact look is not known to the pixel: the letters up to a
    // tenth of a cap further apart, panels padded from 0.3 to 0.5 caps.
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const synth::Look& look : {wide, tight})
        for (const Case& c : cases()) {
            const hud::HudReading r = read(cashFrame(c, look));
            ASSERT_TRUE(r.balanceCertain) << c.what;
            expectLines(c, r);
        }
}

TEST_F(RewardLines, ExperienceDigitsOfCloseCallsReadInTheFiguresFont) {
    // 2160p frames whose experience amounts the glyph templates read one
    // digit off, each a 5 taken for a 6: the figure templates, the amount's
    // own font, settle those close calls.
    const std::vector<Case> frames = {
        {"853XP",
         3840,
         2160,
         0.856698578853299,
         3956477770u,
         62,
         0.46134420624338024,
         false,
         587,
         0,
         {{"REVENGE KILL", 0, 853}}},
        {"645XP among figures",
         3840,
         2160,
         1.2902965488066576,
         4173738344u,
         74,
         0.0,
         false,
         40,
         0,
         {{"CONTROL ZONE ENTERED", 291, 0},
          {"REVENGE KILL", 96, 0},
          {"REVENGE KILL", 0, 645},
          {"HOT ZONE PRESENCE", 1, 0}}},
        {"85XP above figures",
         3840,
         2160,
         0.9726699579244314,
         2305917331u,
         81,
         0.0,
         false,
         707,
         -71,
         {{"CONTROL ZONE PRESENCE", 0, 85},
          {"KILL CONFIRMED", 77, 0},
          {"KILL CONFIRMED", 741, 0},
          {"REVIVED TEAMMATE", 31, 0}}},
    };
    for (const Case& c : frames) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

TEST_F(RewardLines, ExperienceDigitsTheMaskLostAreFoundOnTheFiguresAdvances) {
    // Blurred frames where a digit of the amount never became a blob: the
    // first, or one in the middle with the digit before it left beyond a
    // word space.
    const std::vector<Case> frames = {
        {"308XP, its 3 and 0 lost",
         2560,
         1440,
         1.0428509512641764,
         648527224u,
         61,
         0.5242088634580055,
         false,
         535771105,
         -28,
         {{"CONTROL ZONE PRESENCE", 0, 308}}},
        {"688XP, its middle 8 lost",
         1920,
         1080,
         1.282764961503796,
         940537086u,
         0,
         0.6810737581176076,
         false,
         8653902,
         256638,
         {{"CONTROL ZONE ENTERED", 0, 93}, {"ROTORS DESTROYED", 0, 791}, {"CONTROL ZONE PRESENCE", 0, 688}},
         1.057673398946613},
        {"450XP, its 4 lost",
         2560,
         1440,
         1.0154517409263981,
         306112859u,
         90,
         0.5753168790213148,
         false,
         74,
         -510,
         {{"HOT ZONE PRESENCE", 8657, 0}, {"HOT ZONE PRESENCE", 0, 450}, {"ROTORS DESTROYED", 7265, 0}},
         1.064445814495244},
    };
    for (const Case& c : frames) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

namespace {

// Dark words on light panels that the first reading of their rows left
// empty: bold strokes wider than the frame's top-hat keeps, a panel joined
// by bright scene at one edge, a panel running into a bright patch of the
// world so that no panel-sized light area stands out at all.
const std::vector<Case>& panelCases() {
    static const std::vector<Case> all = {
        {"ASSIST whose bold strokes the top-hat keeps too little of",
         1920,
         1080,
         0.9842727425921465,
         2254606426u,
         69,
         0.5626028073738827,
         false,
         4298576,
         20897,
         {{"ASSIST", 0, 342, true}},
         0.9054118076314377},
        {"ASSIST on a panel joined by bright scene at its top",
         1920,
         1080,
         0.9221507493379096,
         2097465163u,
         72,
         0.2444534853637721,
         false,
         6637340,
         75,
         {{"ASSIST", 2, 0, true}, {"CONTROL ZONE ENTERED", 0, 429}}},
        {"ASSIST on a panel running into a bright patch of the world",
         2560,
         1440,
         0.9294538331935579,
         3454135846u,
         72,
         0.34977967291546896,
         true,
         704227459,
         -542122,
         {{"SUPPLIED PLAYER ASSIST", 2, 0}, {"ASSIST", 0, 9, true}}},
        {"KILL on a panel at 2160p and HUD scale 0.82",
         3840,
         2160,
         0.8177069839813229,
         1684582902u,
         68,
         0.5304631321904143,
         false,
         17600441,
         -5130,
         {{"ROTORS DESTROYED", 549, 0}, {"KILL", 0, 122, true}}},
        {"ASSIST on a panel at 2160p and HUD scale 0.81",
         3840,
         2160,
         0.8143694454575827,
         2647082360u,
         89,
         0.5864742283647442,
         false,
         8750,
         -300236,
         {{"ASSIST", 533, 0, true}, {"HOT ZONE PRESENCE", 865, 0}}},
    };
    return all;
}

} // namespace

TEST_F(RewardLines, PanelWordsTheFirstReadingLeftEmptyReadOnThePanelsOwnLevels) {
    for (const Case& c : panelCases()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

TEST_F(RewardLines, PanelWordsAtTheFarEndsOfTheLooksRange) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const synth::Look& look : {wide, tight})
        for (const Case& c : panelCases()) {
            const hud::HudReading r = read(cashFrame(c, look));
            ASSERT_TRUE(r.balanceCertain) << c.what;
            expectLines(c, r);
        }
}

TEST_F(RewardLines, FigureOverABrightPatchReadOnItsOwnWindowsLevels) {
    // The world behind the figure nearly as bright as its digits: the
    // frame's top-hat leaves too little of them for the figure templates.
    std::vector<Case> frames = {
        {"HEADSHOT +$457 on a bright patch at 1440p",
         2560,
         1440,
         0.9137046090437281,
         1552781363u,
         85,
         0.0,
         true,
         98021438,
         -57137,
         {{"HEADSHOT", 457, 0, true}}},
    };
    for (const Case& c : frames) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
    synth::Look spaced;
    spaced.letterSpacing = 0.1;
    synth::Look tight;
    tight.panelPad = 0.3;
    for (const synth::Look& look : {spaced, tight})
        for (const Case& c : frames) {
            const hud::HudReading r = read(cashFrame(c, look));
            ASSERT_TRUE(r.balanceCertain) << c.what;
            expectLines(c, r);
        }
}

TEST_F(RewardLines, SoftSmallPhrasesReadByTheirShape) {
    // 720p at HUD scale 0.8: caps of about five pixels in the source, tripled
    // in the capture; too few letters survive for the words to snap, and the
    // phrase is taken from the shape of its ink.
    const std::vector<Case> frames = {
        {"720p lines at HUD scale 0.82",
         1280,
         720,
         0.8168098941984594,
         875088339u,
         0,
         0.0,
         false,
         991592,
         0,
         {{"SUPPLIED PLAYER ASSIST", 6, 0}, {"PURCHASE REFUNDED", 0, 127}, {"KILL CONFIRMED", 40, 0}}},
    };
    for (const Case& c : frames) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
    // A line whose figure stays unread still gets its phrase; the figure is
    // left out rather than guessed.
    const Case lone{"720p HOT ZONE ENTERED at HUD scale 0.83",
                    1280,
                    720,
                    0.8275640665571486,
                    1708025462u,
                    75,
                    0.0,
                    false,
                    71,
                    0,
                    {{"HOT ZONE ENTERED", 2913, 0}}};
    const hud::HudReading r = read(cashFrame(lone));
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].text, "HOT ZONE ENTERED") << r.lines[0].raw;
    EXPECT_TRUE(r.lines[0].known);
    EXPECT_TRUE(!r.lines[0].hasFigure || r.lines[0].figure == 2913);

    // The phrase shapes are set at the font's own spacing; letters a tenth
    // of a cap further apart must still fit, and what is read stays right.
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const synth::Look& look : {wide, tight})
        for (const Case& c : {frames[0], lone}) {
            const hud::HudReading rr = read(cashFrame(c, look));
            ASSERT_EQ(rr.lines.size(), c.lines.size()) << c.what;
            for (std::size_t i = 0; i < c.lines.size(); ++i) {
                EXPECT_EQ(rr.lines[i].text, c.lines[i].text) << c.what << " spacing " << look.letterSpacing;
                EXPECT_TRUE(!rr.lines[i].hasFigure || rr.lines[i].figure == c.lines[i].figure) << c.what;
                EXPECT_TRUE(!rr.lines[i].hasXp || rr.lines[i].xp == c.lines[i].xp) << c.what;
            }
        }
}

TEST_F(RewardLines, ShapeReadingRefusesRowsWithoutAPhrase) {
    // The same small, soft frames with no reward lines at all, over the
    // scenes of the cases above: no phrase is made up from the world.
    for (std::uint32_t scene : {875088339u, 1708025462u, 2871438262u, 11u}) {
        Case empty{"no lines", 1280, 720, 0.82, scene, 75, 0.4, false, 59359, 0, {}};
        const hud::HudReading r = read(cashFrame(empty));
        ASSERT_TRUE(r.found);
        EXPECT_TRUE(r.lines.empty()) << "scene " << scene << ": " << r.lines.front().text;
    }
}

namespace {

// A 720p frame of the evaluation at the exact look whose second line's
// amount the glyph reading lost: its "XP" stands where a figure would end.
Case amountAtTheFiguresPlace() {
    return {"amount read from where its XP ends",
            1280,
            720,
            1.2351622315006747,
            1910629965u,
            93,
            0.0,
            false,
            707574061,
            11158,
            {{"REVIVED TEAMMATE", 7, 0}, {"REVIVED TEAMMATE", 0, 889}, {"REVENGE KILL", 0, 354}},
            1.1091182302285079};
}

// Every amount or figure read must be the painted one: a missing one is a
// miss, a wrong one misleads.
void expectNoWrongAmount(const Case& c, const hud::HudReading& r, const char* look) {
    for (const hud::HudLine& l : r.lines) {
        if (!l.hasXp && !l.hasFigure)
            continue;
        bool painted = false;
        for (const PaintedLine& p : c.lines)
            painted = painted || (l.hasXp && p.xp == l.xp) || (l.hasFigure && p.figure == l.figure);
        EXPECT_TRUE(painted) << look << ": " << l.text << " xp " << l.xp << " figure " << l.figure;
    }
}

} // namespace

TEST_F(RewardLines, ExperienceAmountReadWhereItsLettersEnd) {
    const Case c = amountAtTheFiguresPlace();
    const hud::HudReading r = read(cashFrame(c));
    ASSERT_TRUE(r.balanceCertain);
    EXPECT_EQ(r.balance, c.balance);
    ASSERT_GE(r.lines.size(), 2u);
    const hud::HudLine& l = r.lines[1];
    EXPECT_EQ(l.text, "REVIVED TEAMMATE") << l.raw;
    EXPECT_FALSE(l.hasFigure);
    ASSERT_TRUE(l.hasXp);
    EXPECT_EQ(l.xp, 889);
    expectNoWrongAmount(c, r, "exact look");
}

TEST_F(RewardLines, ExperienceAmountAtTheFarEndsOfTheLooksRangeIsNeverWrong) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    const Case c = amountAtTheFiguresPlace();
    for (const synth::Look& look : {wide, tight}) {
        const hud::HudReading r = read(cashFrame(c, look));
        ASSERT_TRUE(r.balanceCertain);
        EXPECT_EQ(r.balance, c.balance);
        expectNoWrongAmount(c, r, look.letterSpacing > 0.0 ? "wide" : "tight");
    }
    // The same lines at the range's smallest frame and HUD scale, soft and
    // heavily compressed.
    Case small = c;
    small.k = 0.8;
    small.jpeg = 50;
    small.blur = 0.8;
    small.sourceScale = 0.9;
    const hud::HudReading r = read(cashFrame(small, wide));
    expectNoWrongAmount(small, r, "smallest");
}

namespace {

// Frames of the evaluation at the game's exact look, each once misread.
Case killThenAGarbledWord() {
    // The second word's letters come out as "GONHRMMI": "KILL" alone is a
    // phrase too, but the phrase must end where the amount leaves it room.
    return {"KILL CONFIRMED read as KILL and a word of no phrase",
            3840,
            2160,
            1.1140906315261943,
            3638466824u,
            93,
            0.617667166802383,
            false,
            4,
            0,
            {{"KILL CONFIRMED", 0, 806}}};
}

Case softRevengeKill() {
    return {"720p REVENGE KILL at HUD scale 0.84, its letters past snapping",
            1280,
            720,
            0.840305498715961,
            3239497443u,
            80,
            0.0,
            false,
            4888129,
            68916,
            {{"REVENGE KILL", 0, 69}}};
}

Case softKillConfirmed() {
    return {"720p lines at HUD scale 0.81",
            1280,
            720,
            0.807937206992573,
            987637660u,
            80,
            0.0,
            false,
            19989,
            -8,
            {{"ASSIST", 0, 37},
             {"KILL CONFIRMED", 0, 586},
             {"PURCHASE REFUNDED", 96, 0},
             {"REVIVED TEAMMATE", 1581, 0}},
            1.3679361918978215};
}

Case amountReadAsZero() {
    // The amount's digits blur into one blob the glyph reader takes for "0".
    return {"400XP read as 0XP",
            1920,
            1080,
            0.894906404470244,
            1870766549u,
            87,
            0.6146835456265072,
            false,
            60692,
            0,
            {{"HEADSHOT", 391, 0}, {"HOT ZONE ENTERED", 2045, 0}, {"VEHICLE DESTROYED", 0, 400}},
            1.405284861050269};
}

Case figuresOfLinesReadByShape() {
    // The first and last lines read as nothing: their phrases come from
    // their shapes, and their figures only after that.
    return {"720p figures read once the phrase came by shape",
            1280,
            720,
            0.9237790126257986,
            1405618061u,
            60,
            0.39281734330785656,
            false,
            4,
            830,
            {{"HOT ZONE ENTERED", 95, 0}, {"KILL CONFIRMED", 0, 814}, {"SUPPLIED PLAYER ASSIST", 121, 0}},
            1.1306192089827052};
}

// 720p rows too soft for any letter or digit to read, or for their shape
// to lead clearly, whose run of ink is as long as the leading phrase and
// parts into as many words: the phrase is read without its figure.
const std::vector<Case>& phrasesByTheirInk() {
    static const std::vector<Case> all = {
        {"720p HOT ZONE PRESENCE, the frame scaled up",
         1280,
         720,
         0.9274509875167491,
         3706896516u,
         0,
         0.0,
         false,
         453406,
         0,
         {{"HOT ZONE PRESENCE", 779, 0}, {"ASSIST", 0, 293}},
         0.8096683093065575},
        {"720p CONTROL ZONE PRESENCE under three soft lines",
         1280,
         720,
         0.8292044823364106,
         3732965319u,
         93,
         0.0,
         false,
         548,
         -565357,
         {{"REVENGE KILL", 1, 0},
          {"ROTORS DESTROYED", 0, 42},
          {"HOT ZONE PRESENCE", 8800, 0},
          {"CONTROL ZONE PRESENCE", 65800, 0}},
         1.1571384366553068},
    };
    return all;
}

// A 720p line over a pale patch of the world: the band's one level takes
// the patch for ink and no row is found, but its strokes' local contrast
// shows it.
Case lineOverAPalePatch() {
    return {"720p HOT ZONE PRESENCE over a pale patch",
            1280,
            720,
            0.8793140456253192,
            3436069548u,
            77,
            0.693156528894294,
            false,
            100947,
            0,
            {{"HOT ZONE PRESENCE", 28576, 0}}};
}

// Whatever is read stands for a painted line: its text when it has one, its
// figure (unless `figures` is off) or amount when it has one. A line
// missed, or a part left out, is no error here; a wrong phrase or amount is.
void expectNothingMadeUp(const Case& c, const hud::HudReading& r, const char* look, bool figures = true) {
    for (const hud::HudLine& l : r.lines) {
        bool painted = false;
        for (const PaintedLine& p : c.lines) {
            const bool text = l.text.empty() || l.text == p.text;
            const bool figure = !figures || !l.hasFigure || l.figure == p.figure;
            const bool xp = !l.hasXp || l.xp == p.xp;
            painted = painted || (text && figure && xp);
        }
        EXPECT_TRUE(painted) << c.what << " (" << look << "): \"" << l.text << "\" figure " << l.figure
                             << " xp " << l.xp << ", raw " << l.raw;
        EXPECT_FALSE(l.hasXp && l.xp <= 0) << c.what << " (" << look << ")";
    }
}

} // namespace

TEST_F(RewardLines, PhraseWithALeftOverWordIsTheLongerOneItsShapeShows) {
    const Case c = killThenAGarbledWord();
    const hud::HudReading r = read(cashFrame(c));
    ASSERT_TRUE(r.balanceCertain);
    expectLines(c, r);
}

TEST_F(RewardLines, SoftSmallLinesReadAsNoPhraseGetOneByShape) {
    const Case revenge = softRevengeKill();
    const hud::HudReading r = read(cashFrame(revenge));
    ASSERT_TRUE(r.balanceCertain);
    expectLines(revenge, r);

    const Case four = softKillConfirmed();
    const hud::HudReading all = read(cashFrame(four));
    ASSERT_TRUE(all.balanceCertain);
    ASSERT_GE(all.lines.size(), 2u);
    EXPECT_EQ(all.lines[1].text, "KILL CONFIRMED") << all.lines[1].raw;
    EXPECT_TRUE(all.lines[1].hasXp);
    EXPECT_EQ(all.lines[1].xp, 586);
}

TEST_F(RewardLines, FiguresOfLinesReadByShapeAreReadToo) {
    const Case c = figuresOfLinesReadByShape();
    const hud::HudReading r = read(cashFrame(c));
    ASSERT_TRUE(r.balanceCertain);
    ASSERT_EQ(r.lines.size(), 3u);
    for (std::size_t i : {0u, 2u}) {
        EXPECT_EQ(r.lines[i].text, c.lines[i].text) << r.lines[i].raw;
        ASSERT_TRUE(r.lines[i].hasFigure) << c.lines[i].text;
        EXPECT_EQ(r.lines[i].figure, c.lines[i].figure);
        EXPECT_FALSE(r.lines[i].hasXp);
    }
    expectNothingMadeUp(c, r, "exact look");
}

TEST_F(RewardLines, SoftRowsTellTheirPhraseByTheLengthAndWordsOfTheirInk) {
    for (const Case& c : phrasesByTheirInk()) {
        const synth::FrameContent f = cashFrame(c);
        const hud::HudReading r = read(f);
        ASSERT_TRUE(r.balanceCertain) << c.what;
        for (const PaintedLine& p : c.lines)
            EXPECT_TRUE(std::any_of(r.lines.begin(), r.lines.end(),
                                    [&](const hud::HudLine& l) { return l.text == p.text; }))
                << c.what << ": " << p.text;
        expectReadInPlace(c, f, r, c.what);
    }
}

TEST_F(RewardLines, RowOverAPalePatchIsFoundOnItsStrokesLocalContrast) {
    const Case c = lineOverAPalePatch();
    const synth::FrameContent f = cashFrame(c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain);
    ASSERT_EQ(r.lines.size(), 1u);
    EXPECT_EQ(r.lines[0].text, "HOT ZONE PRESENCE") << r.lines[0].raw;
    expectReadInPlace(c, f, r, c.what);
}

TEST_F(RewardLines, AnAmountOfNothingIsNoReading) {
    const Case c = amountReadAsZero();
    const hud::HudReading r = read(cashFrame(c));
    ASSERT_TRUE(r.balanceCertain);
    ASSERT_EQ(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[2].text, "VEHICLE DESTROYED") << r.lines[2].raw;
    EXPECT_TRUE(!r.lines[2].hasXp || r.lines[2].xp == 400) << r.lines[2].xp;
    expectNothingMadeUp(c, r, "exact look");
}

TEST_F(RewardLines, ShapeChoicesAtTheFarEndsOfTheLooksRangeMakeNothingUp) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const Case& c : {killThenAGarbledWord(), amountReadAsZero(), figuresOfLinesReadByShape()})
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(c, read(cashFrame(c, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
    // At 720p and wide spacing the amount's glyphs are too small to tell
    // "XP" from digits, and the figure reader once took "69XP" for a cash
    // figure: the letters right of its digits now keep it from that. Likewise
    // at the range's smallest frame and HUD scale, soft and compressed.
    Case small = softRevengeKill();
    for (const synth::Look& look : {wide, tight})
        expectNothingMadeUp(small, read(cashFrame(small, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
    small.k = 0.8;
    small.jpeg = 50;
    small.blur = 0.8;
    small.sourceScale = 0.9;
    for (const synth::Look& look : {wide, tight})
        expectNothingMadeUp(small, read(cashFrame(small, look)), "smallest");
}

namespace {

// Frames of the evaluation at the game's exact look whose experience amount
// the figure reader once took for a cash figure: "622XP" came out as +$281.
std::vector<Case> amountsOnceReadAsFigures() {
    return {{"1080p KILL CONFIRMED 622XP once read as +$281",
             1920,
             1080,
             0.8443818045219191,
             1063760363u,
             0,
             0.6048902059004744,
             false,
             9,
             -988907,
             {{"KILL", 41, 0},
              {"REVENGE KILL", 61, 0},
              {"CONTROL ZONE PRESENCE", 5023, 0},
              {"KILL CONFIRMED", 0, 622}}},
            {"1080p KILL CONFIRMED 160XP once read as +$81",
             1920,
             1080,
             0.8002044111098374,
             3809882518u,
             72,
             0.677348757566784,
             false,
             6896,
             3,
             {{"HOT ZONE ENTERED", 26, 0}, {"KILL CONFIRMED", 0, 160}}}};
}

// Amounts whose "X" and "P" the glyph reader found while their digits read
// as letters ("EZZ XP") and the figure's measured place missed them.
std::vector<Case> amountsLeftOfTheirLetters() {
    return {{"720p ASSIST 624XP, its digits read as letters",
             1280,
             720,
             1.0967354547222712,
             1166242628u,
             94,
             0.3215434776256745,
             false,
             330432,
             -34022,
             {{"ASSIST", 0, 624}}},
            {"720p REVIVED TEAMMATE 418XP at HUD scale 1.24",
             1280,
             720,
             1.2442259560497706,
             1117769357u,
             0,
             0.0,
             false,
             4353,
             0,
             {{"ASSIST", 0, 839, true}, {"REVIVED TEAMMATE", 0, 418}, {"HOT ZONE ENTERED", 4791, 0}},
             0.9924743430944544},
            {"1080p REVIVED TEAMMATE 818XP under two cash lines",
             1920,
             1080,
             0.9827073358497392,
             3617629250u,
             82,
             0.552179388509222,
             false,
             5633292,
             445720,
             {{"REVIVED TEAMMATE", 6802, 0}, {"REVIVED TEAMMATE", 98207, 0}, {"REVIVED TEAMMATE", 0, 818}},
             1.0832366571169276}};
}

} // namespace

TEST_F(RewardLines, AnAmountIsNeverReadAsACashFigure) {
    for (const Case& c : amountsOnceReadAsFigures()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
    // Scaled down as a stream scales it, the amount's letters fuse with its
    // digits; its two lines must still read as amounts, never as figures.
    Case scaled = {"720p ASSIST 37XP once read as +$788",
                   1280,
                   720,
                   0.807937206992573,
                   987637660u,
                   80,
                   0.0,
                   false,
                   19989,
                   -8,
                   {{"ASSIST", 0, 37},
                    {"KILL CONFIRMED", 0, 586},
                    {"PURCHASE REFUNDED", 96, 0},
                    {"REVIVED TEAMMATE", 1581, 0}},
                   1.3679361918978215};
    const hud::HudReading r = read(cashFrame(scaled));
    ASSERT_GE(r.lines.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(r.lines[i].text, scaled.lines[i].text) << r.lines[i].raw;
        EXPECT_FALSE(r.lines[i].hasFigure) << r.lines[i].figure;
        EXPECT_TRUE(r.lines[i].hasXp);
        EXPECT_EQ(r.lines[i].xp, scaled.lines[i].xp);
    }
    expectNothingMadeUp(scaled, r, "exact look");
}

TEST_F(RewardLines, AmountReadLeftOfTheLettersTheGlyphsFound) {
    for (const Case& c : amountsLeftOfTheirLetters()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

TEST_F(RewardLines, AmountsAtTheFarEndsOfTheLooksRangeAreNeverFiguresOrWrong) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    std::vector<Case> all = amountsOnceReadAsFigures();
    for (const Case& c : amountsLeftOfTheirLetters())
        all.push_back(c);
    for (const Case& c : all) {
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(c, read(cashFrame(c, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
        // The range's smallest HUD scale, soft and heavily compressed.
        Case small = c;
        small.k = 0.8;
        small.jpeg = 50;
        small.blur = 0.8;
        small.sourceScale = 0.9;
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(small, read(cashFrame(small, look)), "smallest");
    }
}

namespace {

// Frames of the evaluation at the game's exact look whose phrase came out as
// the shorter phrase inside it: letters at its start lost ("ENGE KILL") or
// its one word misread ("KAL"), and the place the figure leaves the phrase
// measured a little left of where it ends.
std::vector<Case> phrasesOnceReadShort() {
    return {{"1440p REVENGE KILL once read as KILL",
             2560,
             1440,
             0.9064132982892888,
             1477692538u,
             92,
             0.0,
             false,
             324500617,
             0,
             {{"REVENGE KILL", 52749, 0}, {"CONTROL ZONE ENTERED", 0, 675}, {"REVENGE KILL", 7833, 0}}},
            {"1440p KILL CONFIRMED once read as KILL and a word of no phrase",
             2560,
             1440,
             0.9334910987176123,
             4255920332u,
             87,
             0.0,
             false,
             843,
             0,
             {{"REVIVED TEAMMATE", 8797, 0},
              {"KILL CONFIRMED", 911, 0},
              {"ASSIST", 240, 0},
              {"ROTORS DESTROYED", 2, 0}}},
            {"720p KILL CONFIRMED once read as KILL from KAL",
             1280,
             720,
             0.9170226362833138,
             3825585589u,
             68,
             0.0,
             true,
             51383,
             0,
             {{"KILL CONFIRMED", 61, 0}, {"CONTROL ZONE ENTERED", 0, 212}}}};
}

} // namespace

TEST_F(RewardLines, PhrasesOnceReadShortAreTheWholePhrase) {
    for (const Case& c : phrasesOnceReadShort()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
}

TEST_F(RewardLines, ShortPhrasesThatAreWholeStayAtTheFarEndsOfTheLooksRange) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const Case& c : phrasesOnceReadShort())
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(c, read(cashFrame(c, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
    // "KILL" painted alone where "KILL CONFIRMED" stood: the one-word phrase
    // must not grow into a longer one, at the exact look or the range's ends.
    Case alone = phrasesOnceReadShort()[2];
    alone.lines = {{"KILL", 61, 0}, {"CONTROL ZONE ENTERED", 0, 212}};
    expectNothingMadeUp(alone, read(cashFrame(alone)), "exact look");
    for (const synth::Look& look : {wide, tight})
        expectNothingMadeUp(alone, read(cashFrame(alone, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
}

namespace {

// Frames of the evaluation at the game's exact look whose figure, spelled
// at the end of the words, lost its last digit ("+$808" read as +$80).
std::vector<Case> figuresOnceShortOfADigit() {
    return {{"720p +$808 once read as +$80",
             1280,
             720,
             1.2072875094681892,
             640412511u,
             65,
             0.0,
             false,
             5500,
             0,
             {{"HOT ZONE ENTERED", 6, 0}, {"HOT ZONE ENTERED", 808, 0}, {"ROTORS DESTROYED", 27293, 0}}},
            {"1080p +$78 over a bright world once read as +$7",
             1920,
             1080,
             1.1330622718701835,
             3581140740u,
             64,
             0.6956742437914829,
             true,
             56820034,
             -5,
             {{"HOT ZONE PRESENCE", 78, 0}}}};
}

} // namespace

TEST_F(RewardLines, FiguresSpelledShortOfTheirPlaceAreReadWhereTheyEnd) {
    for (const Case& c : figuresOnceShortOfADigit()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectLines(c, r);
    }
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const Case& c : figuresOnceShortOfADigit())
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(c, read(cashFrame(c, look)), look.letterSpacing > 0.0 ? "wide" : "tight");
}

namespace {

// Frames of the evaluation whose money line the mask gives clearly off its
// height: blurred 720p frames keep only the core of the balance, a quarter
// short, and lines sized from it are sought at too small a text height and
// the wrong figure place. The lines named in `read` must read exactly, and
// none may read wrongly.
struct ShortMoneyLineCase {
    Case frame;
    std::vector<std::size_t> read;
};

const std::vector<ShortMoneyLineCase>& moneyLineMeasuredShort() {
    static const std::vector<ShortMoneyLineCase> all = {
        {{"720p soft figure lines under a short money line",
          1280,
          720,
          1.0345304044494112,
          114460129u,
          95,
          0.6892435347290546,
          false,
          561470,
          0,
          {{"HOT ZONE PRESENCE", 0, 545},
           {"VEHICLE DESTROYED", 0, 364},
           {"VEHICLE DESTROYED", 40992, 0},
           {"REVENGE KILL", 86, 0}}},
         {2, 3}},
        {{"720p soft line at a large HUD scale, the frame rescaled",
          1280,
          720,
          1.2378501619164275,
          4106804337u,
          65,
          0.6330850381484143,
          false,
          81,
          0,
          {{"CONTROL ZONE ENTERED", 7, 0}, {"PURCHASE REFUNDED", 0, 881}, {"CONTROL ZONE PRESENCE", 0, 17}},
          1.0664615776584343},
         {0}},
        {{"720p soft figure the first reading found without its words",
          1280,
          720,
          1.111075631785842,
          3757671879u,
          0,
          0.5849659113326342,
          false,
          84199174,
          0,
          {{"HOT ZONE ENTERED", 0, 986},
           {"CONTROL ZONE ENTERED", 56875, 0},
           {"CONTROL ZONE PRESENCE", 2729, 0},
           {"VEHICLE DESTROYED", 21, 0}},
          0.778856439991237},
         {3}},
        {{"720p soft words read at a short money line, their figures not",
          1280,
          720,
          0.98439292350405,
          2780879904u,
          65,
          0.6305915218179111,
          false,
          2475031,
          51,
          {{"ASSIST", 207, 0, true}, {"ROTORS DESTROYED", 27, 0}, {"REVIVED TEAMMATE", 41, 0}}},
         {1, 2}},
        {{"1080p money line measured tall, the frame rescaled",
          1920,
          1080,
          0.800282143167615,
          3295131865u,
          80,
          0.0,
          false,
          25576582,
          0,
          {{"KILL", 864, 0}, {"HOT ZONE PRESENCE", 8262, 0}, {"HOT ZONE ENTERED", 59296, 0}},
          1.108658161115275},
         {0, 1, 2}},
    };
    return all;
}

void expectLinesRead(const ShortMoneyLineCase& c, const hud::HudReading& r) {
    for (std::size_t i : c.read) {
        const PaintedLine& p = c.frame.lines[i];
        const bool found = std::any_of(r.lines.begin(), r.lines.end(), [&p](const hud::HudLine& l) {
            return l.text == p.text && l.known && l.hasFigure == (p.figure != 0) && l.figure == p.figure &&
                   l.hasXp == (p.xp != 0) && l.xp == p.xp;
        });
        EXPECT_TRUE(found) << c.frame.what << ": " << p.text;
    }
}

} // namespace

TEST_F(RewardLines, SoftLinesUnderAShortMoneyLineReadAtTheLayoutsHeight) {
    for (const ShortMoneyLineCase& c : moneyLineMeasuredShort()) {
        const hud::HudReading r = read(cashFrame(c.frame));
        ASSERT_TRUE(r.balanceCertain) << c.frame.what;
        EXPECT_EQ(r.balance, c.frame.balance) << c.frame.what;
        expectLinesRead(c, r);
        expectNothingMadeUp(c.frame, r, "exact look");
    }
}

TEST_F(RewardLines, SoftLinesUnderAShortMoneyLineAtTheFarEndsOfTheLooksRange) {
    const synth::Look wide = wideLook();
    const synth::Look tight = tightLook();
    for (const ShortMoneyLineCase& c : moneyLineMeasuredShort())
        for (const synth::Look& look : {wide, tight})
            expectNothingMadeUp(c.frame, read(cashFrame(c.frame, look)),
                                look.letterSpacing > 0.0 ? "wide" : "tight");
}

TEST_F(RewardLines, NoLinesMadeUpUnderAShortMoneyLine) {
    // The same soft frames with no reward line shown: reading again at the
    // layout's height finds nothing either.
    for (const ShortMoneyLineCase& c : moneyLineMeasuredShort()) {
        Case bare = c.frame;
        bare.lines.clear();
        const hud::HudReading r = read(cashFrame(bare));
        EXPECT_TRUE(r.lines.empty()) << c.frame.what << ": " << r.lines.size() << " lines, the first \""
                                     << (r.lines.empty() ? std::string() : r.lines.front().text) << "\"";
    }
}

namespace {

// Frames of the evaluation at the game's exact look whose "ZONE" fused with
// the "P" after it ("CONTROL ZONEP GE"): too few letters of the longer
// phrase were read for it to be chosen from them, and the shorter zone
// phrase, the only one left to choose, was taken.
std::vector<Case> longerPhraseWithFusedWords() {
    return {{"1440p CONTROL ZONE PRESENCE once read as CONTROL ZONE ENTERED",
             2560,
             1440,
             1.076237764861553,
             3790282572u,
             95,
             0.0,
             false,
             2505835,
             367180,
             {{"PURCHASE REFUNDED", 462, 0}, {"CONTROL ZONE PRESENCE", 0, 356}, {"KILL", 7, 0, true}}},
            {"1080p CONTROL ZONE PRESENCE once read as CONTROL ZONE ENTERED",
             1920,
             1080,
             1.1141522349263397,
             2792781196u,
             76,
             0.0,
             false,
             959,
             -35846,
             {{"CONTROL ZONE PRESENCE", 0, 820},
              {"SUPPLIED PLAYER ASSIST", 8655, 0},
              {"ROTORS DESTROYED", 82071, 0},
              {"REVENGE KILL", 14, 0}}}};
}

} // namespace

TEST_F(RewardLines, LongerPhraseWhoseWordsFusedIsNotTheShorterOne) {
    for (const Case& c : longerPhraseWithFusedWords()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        expectLines(c, r);
        for (const auto& [end, e] : readRangeEnds(c)) {
            expectNothingMadeUp(c, e, end);
            for (const hud::HudLine& l : e.lines)
                EXPECT_NE(l.text, "CONTROL ZONE ENTERED") << c.what << " (" << end << ")";
        }
    }
}

namespace {

// Frames of the evaluation at the game's exact look whose zone phrase lost
// its first word to the glyphs ("ZOME PRESEMCE", "CEMT ZONE ENTEREC") and
// was snapped to the zone phrase with the short first word.
std::vector<Case> zonePhrasesWithTheFirstWordLost() {
    return {{"720p CONTROL ZONE PRESENCE once read as HOT ZONE PRESENCE",
             1280,
             720,
             1.2716225540398363,
             2406537221u,
             63,
             0.6626446993159405,
             false,
             3459,
             449,
             {{"HOT ZONE PRESENCE", 8255, 0}, {"CONTROL ZONE PRESENCE", 76, 0}}},
            {"720p CONTROL ZONE ENTERED once read as HOT ZONE ENTERED",
             1280,
             720,
             0.8338545062232564,
             3870462590u,
             91,
             0.0,
             false,
             1947,
             0,
             {{"ASSIST", 4742, 0}, {"ASSIST", 109, 0}, {"CONTROL ZONE ENTERED", 7, 0}}}};
}

} // namespace

TEST_F(RewardLines, ZonePhraseWhoseFirstWordWasLostIsTheOneItsShapeShows) {
    for (const Case& c : zonePhrasesWithTheFirstWordLost()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        expectLines(c, r);
        // At the wide letters the first frame's "+$76" once read as 7: a
        // figure short of a digit is none.
        for (const auto& [end, e] : readRangeEnds(c))
            expectNothingMadeUp(c, e, end);
    }
    // A HOT zone line painted where the CONTROL one stood keeps its short
    // first word: the shape must not grow it into the longer phrase.
    Case hot = zonePhrasesWithTheFirstWordLost()[0];
    hot.lines = {{"HOT ZONE PRESENCE", 8255, 0}, {"HOT ZONE PRESENCE", 76, 0}};
    expectNothingMadeUp(hot, read(cashFrame(hot)), "exact look");
    for (const auto& [end, e] : readRangeEnds(hot))
        expectNothingMadeUp(hot, e, end);
}

namespace {

// Frames of the evaluation at the game's exact look whose amounts the
// glyph reading lost; their "X" stood a few pixels off where the figure's
// measured place and the row's band put it. Each line of them reads.
std::vector<Case> amountsWithLettersFoundOnTheInk() {
    return {{"1080p 817XP under two figures",
             1920,
             1080,
             0.9585137624453084,
             456541924u,
             92,
             0.0,
             false,
             40883,
             -7892,
             {{"KILL", 4078, 0, true},
              {"ROTORS DESTROYED", 63150, 0},
              {"REVENGE KILL", 0, 817},
              {"VEHICLE DESTROYED", 0, 267}}},
            {"720p 154XP, its first digit the narrow 1",
             1280,
             720,
             1.1221071039383128,
             2642669945u,
             83,
             0.20542138666412424,
             true,
             828480715,
             0,
             {{"VEHICLE DESTROYED", 0, 154}, {"REVIVED TEAMMATE", 11, 0}, {"REVENGE KILL", 0, 198}}},
            {"1080p soft 237XP at HUD scale 0.8",
             1920,
             1080,
             0.8010936621264974,
             327135660u,
             84,
             0.6062927648784873,
             false,
             357,
             0,
             {{"KILL CONFIRMED", 0, 540},
              {"HEADSHOT", 0, 989},
              {"REVIVED TEAMMATE", 0, 237},
              {"KILL CONFIRMED", 525, 0}}},
            {"1440p 781XP among figures",
             2560,
             1440,
             0.8432080770111483,
             3489011927u,
             81,
             0.0,
             false,
             433269768,
             9934,
             {{"SUPPLIED PLAYER ASSIST", 74, 0},
              {"PURCHASE REFUNDED", 45, 0},
              {"REVIVED TEAMMATE", 0, 781},
              {"VEHICLE DESTROYED", 479, 0}}},
            {"720p soft lines with a one-digit 3XP",
             1280,
             720,
             1.166050606422733,
             352435122u,
             71,
             0.5277895178424854,
             false,
             545,
             -39108,
             {{"PURCHASE REFUNDED", 0, 259},
              {"HOT ZONE PRESENCE", 5429, 0},
              {"ROTORS DESTROYED", 0, 3},
              {"VEHICLE DESTROYED", 0, 320}},
             1.3417001650221478}};
}

} // namespace

TEST_F(RewardLines, ExperienceAmountsReadLeftOfTheLettersFoundOnTheInk) {
    for (const Case& c : amountsWithLettersFoundOnTheInk()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        expectLines(c, r);
        // The amounts read at the range's tight letters and largest frame
        // too. At the wide letters "817XP" once read as the figure
        // +$1,160,817; no figure there may be one not painted. At the
        // smallest frame soft figures still read as others ("45" as 48).
        for (const auto& [end, e] : readRangeEnds(c)) {
            expectNothingMadeUp(c, e, end, std::string_view(end) != "smallest frame");
            if (std::string_view(end) != "tight letters" && std::string_view(end) != "largest frame")
                continue;
            for (std::size_t i = 0; i < c.lines.size(); ++i) {
                if (c.lines[i].xp == 0)
                    continue;
                const auto l = std::find_if(e.lines.begin(), e.lines.end(), [&](const hud::HudLine& h) {
                    return h.text == c.lines[i].text && h.hasXp;
                });
                ASSERT_NE(l, e.lines.end()) << c.what << " (" << end << "): " << c.lines[i].text;
                EXPECT_EQ(l->xp, c.lines[i].xp) << c.what << " (" << end << ")";
            }
        }
        // The same frame with no line shown reads none.
        Case none = c;
        none.lines.clear();
        const hud::HudReading empty = read(cashFrame(none));
        EXPECT_TRUE(empty.lines.empty()) << c.what << ": " << empty.lines.front().text;
    }
}

TEST_F(RewardLines, FaintTextOverAPalePatchReadOnItsLocalContrast) {
    // A 720p frame of the evaluation's footage, white text over a pale patch
    // of the world: no one level of the row's band keeps the letters there
    // and those over the dark scene beside them, and the row read as
    // nothing.
    const Case phrase = {"HOT ZONE PRESENCE over a pale patch at 720p",
                         1280,
                         720,
                         0.9518120687634943,
                         414735232u,
                         80,
                         0.0,
                         true,
                         94400019,
                         305359,
                         {{"HOT ZONE PRESENCE", 0, 368}},
                         1.215345605716367};
    // The phrase's letters read on the strokes' own contrast; the amount's
    // digits over the patch are too faint to be taken, and none is made up.
    const hud::HudReading p = read(cashFrame(phrase));
    ASSERT_TRUE(p.balanceCertain) << phrase.what;
    EXPECT_EQ(p.balance, phrase.balance);
    ASSERT_EQ(p.lines.size(), 1u) << phrase.what;
    EXPECT_EQ(p.lines[0].text, "HOT ZONE PRESENCE") << phrase.what << ", raw " << p.lines[0].raw;
    EXPECT_TRUE(p.lines[0].known);
    expectNoneMadeUp(phrase.lines, p, phrase.what);
    // At the range's ends the phrase is read wherever a line is (the
    // largest frame reads the amount as well), and nothing is made up.
    for (const auto& [end, e] : readRangeEnds(phrase)) {
        expectNoneMadeUp(phrase.lines, e, std::string(phrase.what) + " (" + end + ")");
        if (std::string_view(end) != "smallest frame") {
            ASSERT_EQ(e.lines.size(), 1u) << end;
        }
        for (const hud::HudLine& l : e.lines)
            EXPECT_EQ(l.text, "HOT ZONE PRESENCE") << end << ", raw " << l.raw;
    }
}

TEST_F(RewardLines, FaintPhraseLeavesItsAmountToTheLinePlaceSearch) {
    // A 720p frame whose first row the faint strokes' ink reads as its
    // phrase alone: the search of the game's line places, which reads the
    // phrase with its amount, must still read that place.
    const Case c = {"REVENGE KILL 964XP at 720p",
                    1280,
                    720,
                    1.0353662733323574,
                    83760329u,
                    85,
                    0.0,
                    false,
                    3753308,
                    -359796,
                    {{"REVENGE KILL", 0, 964}, {"HEADSHOT", 6811}},
                    0.9805481632850382};
    const hud::HudReading r = read(cashFrame(c));
    ASSERT_TRUE(r.balanceCertain) << c.what;
    EXPECT_EQ(r.balance, c.balance) << c.what;
    expectLines(c, r);
}

TEST_F(RewardLines, RowsReadAsNothingTakeTheShapesLeaderTheirLettersName) {
    // Soft 720p frames of the evaluation's footage whose rows read as no
    // phrase: the shapes of HOT ZONE PRESENCE and HOT ZONE ENTERED fit them
    // nearly as well, and the letters read at the rows settle it.
    const std::vector<Case> frames = {
        {"four soft 720p lines",
         1280,
         720,
         0.9371796129906107,
         2691090498u,
         67,
         0.6313046225217978,
         false,
         687,
         -11,
         {{"HOT ZONE PRESENCE", 77345, 0},
          {"ROTORS DESTROYED", 93052, 0},
          {"CONTROL ZONE PRESENCE", 442, 0},
          {"HOT ZONE PRESENCE", 0, 94}}},
        {"two soft 720p lines over a bright world",
         1280,
         720,
         0.8224682625617704,
         3739503890u,
         74,
         0.5970201582130946,
         true,
         62,
         0,
         {{"ASSIST", 14201, 0}, {"HOT ZONE PRESENCE", 33, 0}}},
    };
    // Every phrase read is a painted line's, at the exact look and at the
    // range's ends; at the exact look figures too soft to read are left
    // out, none guessed (the amounts' own tests cover the range's ends).
    auto count = [](const hud::HudReading& r, std::string_view text) {
        return std::count_if(r.lines.begin(), r.lines.end(),
                             [&](const hud::HudLine& l) { return l.text == text; });
    };
    // Both HOT ZONE PRESENCE lines of the four, and the one of the two; so
    // too at the range's ends but the smallest frame, which keeps too little
    // of the letters.
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const Case& c = frames[i];
        const std::ptrdiff_t painted = i == 0 ? 2 : 1;
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectPhrasesPainted(c, r, c.what);
        expectNoneMadeUp(c.lines, r, c.what);
        EXPECT_EQ(count(r, "HOT ZONE PRESENCE"), painted) << c.what;
        for (const auto& [end, e] : readRangeEnds(c)) {
            expectPhrasesPainted(c, e, std::string(c.what) + " (" + end + ")");
            if (std::string_view(end) != "smallest frame") {
                EXPECT_EQ(count(e, "HOT ZONE PRESENCE"), painted) << c.what << " (" << end << ")";
            }
        }
    }
}

TEST_F(RewardLines, RowsWithNeitherPhraseNorFigureReadTakeThePhraseEndingAtTheFiguresBlank) {
    // Soft 720p frames of the evaluation's footage where neither the words
    // nor the figure or amount of a line read: fitted anywhere a phrase can
    // end, HOT ZONE PRESENCE comes near HOT ZONE ENTERED and ASSIST near
    // KILL or HEADSHOT, shifted by a letter. The blank before the figure
    // pins where the phrase ends.
    struct Pinned {
        Case c;
        std::size_t line; // the painted line whose phrase must be read
    };
    const std::vector<Pinned> frames = {
        {{"a zone line's amount",
          1280,
          720,
          0.8375722150880525,
          1246672645u,
          0,
          0.0,
          false,
          5165798,
          0,
          {{"HOT ZONE PRESENCE", 0, 218}}},
         0},
        {{"a zone line above three",
          1280,
          720,
          0.83276857971694,
          36659625u,
          85,
          0.4469851361049213,
          false,
          24789,
          -2,
          {{"HOT ZONE PRESENCE", 67909, 0},
           {"HEADSHOT", 8, 0},
           {"KILL", 747, 0, true},
           {"SUPPLIED PLAYER ASSIST", 386, 0}}},
         0},
        {{"a one-word line's amount, scaled down",
          1280,
          720,
          0.9274509875167491,
          3706896516u,
          0,
          0.0,
          false,
          453406,
          0,
          {{"HOT ZONE PRESENCE", 779, 0}, {"ASSIST", 0, 293}},
          0.8096683093065575},
         1},
    };
    for (const Pinned& p : frames) {
        const Case& c = p.c;
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectPhrasesPainted(c, r, c.what);
        expectNoneMadeUp(c.lines, r, c.what);
        EXPECT_TRUE(std::any_of(r.lines.begin(), r.lines.end(), [&](const hud::HudLine& l) {
            return l.text == c.lines[p.line].text;
        })) << c.what;
        for (const auto& [end, e] : readRangeEnds(c)) {
            expectPhrasesPainted(c, e, std::string(c.what) + " (" + end + ")");
            expectNoneMadeUp(c.lines, e, std::string(c.what) + " (" + end + ")");
        }
    }
}

TEST_F(RewardLines, LinePlacesThatMadeNoRowGetTheirPhraseByShape) {
    // Soft 720p frames of the evaluation's footage whose lines the frame's
    // mask broke too far to make rows: read on their bands' own ink at the
    // game's line places, they give neither a phrase nor a figure, but their
    // phrases still show by shape.
    const std::vector<Case> frames = {
        {"three lines over a pale world",
         1280,
         720,
         0.930358425782899,
         2759644411u,
         76,
         0.6699649883400448,
         false,
         25115086,
         4,
         {{"ROTORS DESTROYED", 0, 456}, {"HOT ZONE ENTERED", 47, 0}, {"REVENGE KILL", 2, 0}},
         1.1538508704576076},
        {"the middle one of three scaled-down lines",
         1280,
         720,
         1.233823940623318,
         4150507998u,
         0,
         0.6188397692653369,
         false,
         4317263,
         0,
         {{"PURCHASE REFUNDED", 68427, 0}, {"PURCHASE REFUNDED", 8178, 0}, {"REVIVED TEAMMATE", 48635, 0}},
         0.7812190537674173},
    };
    // Each painted line's phrase, in order, at the exact look; at the
    // range's ends every phrase read is a painted one, and nothing made up.
    // The first frame's balance is soft enough to be left uncertain; its
    // lines are read all the same. Its ends are not checked: with the
    // letters wide its second line reads as the other zone phrase, and at
    // the smallest frame a figure is made up, both whether or not the line
    // places are read by shape.
    for (const Case& c : frames) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_EQ(r.lines.size(), c.lines.size()) << c.what;
        for (std::size_t i = 0; i < c.lines.size(); ++i)
            EXPECT_EQ(r.lines[i].text, c.lines[i].text) << c.what << ", raw " << r.lines[i].raw;
        expectNoneMadeUp(c.lines, r, c.what);
        if (&c == &frames.front())
            continue;
        for (const auto& [end, e] : readRangeEnds(c)) {
            const std::string where = std::string(c.what) + " (" + end + ")";
            expectPhrasesPainted(c, e, where);
            expectNoneMadeUp(c.lines, e, where);
        }
    }
}

TEST_F(RewardLines, OneWordPanelPhrasesAreNotTakenForEachOtherByShape) {
    // Soft 720p panel words whose shapes fit another one-word phrase: a
    // HEADSHOT panel fitted as ASSIST over part of its letters (a look from
    // the range), an ASSIST panel fitted as HEADSHOT at a blank between the
    // hollow zeros of its "700XP". Nothing is better than the other word.
    synth::Look ranged;
    ranged.letterSpacing = 0.005424998145050475;
    ranged.panelPad = 0.41302820278576896;
    ranged.iconHeight = 1.0477820733248255;
    ranged.nameIconGap = 0.5399058805807985;
    ranged.iconBracketGap = 0.5839924656331286;
    ranged.victimGap = 0.7913020324671397;
    ranged.squadDrain = 0.3776697666508667;
    const std::vector<std::pair<Case, synth::Look>> frames = {
        {{"HEADSHOT panel under REVENGE KILL",
          1280,
          720,
          0.8544995238315818,
          287682363u,
          73,
          0.0,
          false,
          912,
          0,
          {{"REVENGE KILL", 2538, 0}, {"HEADSHOT", 5000, 0, true}},
          0.9545615659184875},
         ranged},
        {{"ASSIST panel above three soft lines",
          1280,
          720,
          0.9219068793255449,
          2274465813u,
          70,
          0.5785399016901274,
          false,
          3,
          3,
          {{"ASSIST", 0, 700, true},
           {"HEADSHOT", 36366, 0, true},
           {"HEADSHOT", 0, 641},
           {"HOT ZONE PRESENCE", 106, 0}},
          0.9095740163284008},
         synth::Look{}},
    };
    for (const auto& [c, look] : frames) {
        const synth::FrameContent f = cashFrame(c, look);
        const hud::HudReading r = read(f);
        ASSERT_TRUE(r.balanceCertain) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectReadInPlace(c, f, r, c.what);
        for (const synth::FrameContent& e : rangeEnds(f))
            expectReadInPlace(c, e, read(e), std::string(c.what) + " (range end)");
    }
}

namespace {

// A painted line of a case, by its index, that a test expects read whole.
struct LineOfCase {
    Case c;
    std::size_t line;
};

// Soft 720p frames of the evaluation's footage at the game's exact look
// whose phrase one attempt at the row gave, or the shape reading, while
// another attempt, whose phrase did not read, read the figure or amount.
std::vector<LineOfCase> amountsOfAnotherAttempt() {
    return {
        {{"a zone line's amount read by two attempts",
          1280,
          720,
          0.8110599358001955,
          3479310547u,
          72,
          0.0,
          false,
          539701826,
          270447,
          {{"PURCHASE REFUNDED", 0, 825}, {"HOT ZONE ENTERED", 0, 475}}},
         1},
        {{"the last of four lines, its amount read on the band's levels and its strokes' contrast",
          1280,
          720,
          1.1432473749023246,
          2183207179u,
          85,
          0.5921273754355411,
          false,
          162856,
          0,
          {{"HEADSHOT", 0, 987},
           {"CONTROL ZONE ENTERED", 0, 772},
           {"SUPPLIED PLAYER ASSIST", 0, 456},
           {"HOT ZONE PRESENCE", 0, 630}}},
         3},
    };
}

// Frames where an attempt whose phrase did not read read a wrong figure or
// amount: one digit of a five-digit figure, or an amount's digit misread on
// one ink alone ("706XP" as 784XP, "+$86" as +$88 where another attempt
// read +$86); and one whose right figure came through a near tie of two
// digits found apart, which stays a tie and so is not joined.
std::vector<Case> wrongAmountsOfAnotherAttempt() {
    return {{"a panel's amount no reading backs, under a row whose phrase its panel tells",
             1280,
             720,
             1.1770075869419014,
             2370308432u,
             0,
             0.0,
             true,
             9510002,
             40145,
             {{"CONTROL ZONE PRESENCE", 718, 0}, {"HEADSHOT", 0, 322, true}, {"HEADSHOT", 565, 0}},
             0.993877271757929},
            {"a zone line's figure the band's own levels read only through a near tie",
             1280,
             720,
             0.8509300834819145,
             463956954u,
             86,
             0.0,
             false,
             791,
             0,
             {{"HOT ZONE PRESENCE", 1841, 0}, {"HEADSHOT", 394, 0, true}},
             0.9183456273394099},
            {"one digit of a five-digit figure",
             1280,
             720,
             0.8541584324103901,
             934510748u,
             76,
             0.0,
             false,
             7,
             0,
             {{"CONTROL ZONE ENTERED", 92053, 0}},
             0.8248050305034574},
            {"an amount's digits misread on one ink",
             1280,
             720,
             0.8541318560311788,
             727886244u,
             73,
             0.0,
             false,
             552,
             0,
             {{"PURCHASE REFUNDED", 88, 0}, {"KILL CONFIRMED", 0, 706}},
             0.8095939382996786},
            {"two attempts reading two figures",
             1280,
             720,
             0.9230147691998809,
             969296470u,
             64,
             0.4362802732158565,
             false,
             61,
             9227,
             {{"HOT ZONE ENTERED", 99352, 0},
              {"KILL", 86, 0},
              {"HOT ZONE PRESENCE", 0, 894},
              {"ASSIST", 0, 340, true}}}};
}

} // namespace

// The line read where painted line `index` stands, if one was: its phrase
// and its figure or amount, where read, are the painted ones.
const hud::HudLine* lineReadAt(const Case& c, const synth::FrameContent& f, const hud::HudReading& r,
                               std::size_t index, const std::string& where) {
    const synth::HudLayout layout = synth::layoutCashHud(f);
    const double sc = synth::captureScale(f.width, f.height);
    const PaintedLine& p = c.lines[index];
    for (const hud::HudLine& l : r.lines) {
        if (std::abs(l.top - layout.lines[index].phraseTop * sc) > 0.5 * layout.lines[index].cap * sc)
            continue;
        EXPECT_TRUE(l.text.empty() || l.text == p.text) << where << ": " << l.text << " read for " << p.text;
        EXPECT_TRUE(!l.hasFigure || l.figure == p.figure)
            << where << ": figure " << l.figure << " for " << p.text;
        EXPECT_TRUE(!l.hasXp || l.xp == p.xp) << where << ": amount " << l.xp << " for " << p.text;
        return &l;
    }
    return nullptr;
}

void RewardLines::expectLineWhole(const Case& c, std::size_t line) {
    const PaintedLine& p = c.lines[line];
    const synth::FrameContent f = cashFrame(c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain) << c.what;
    expectReadInPlace(c, f, r, c.what);
    const hud::HudLine* got = lineReadAt(c, f, r, line, c.what);
    ASSERT_NE(got, nullptr) << c.what;
    EXPECT_EQ(got->text, p.text) << c.what;
    EXPECT_EQ(got->hasFigure, p.figure != 0) << c.what;
    EXPECT_EQ(got->figure, p.figure) << c.what;
    EXPECT_EQ(got->hasXp, p.xp != 0) << c.what;
    EXPECT_EQ(got->xp, p.xp) << c.what;
    for (const synth::FrameContent& e : rangeEnds(f))
        lineReadAt(c, e, read(e), line, std::string(c.what) + " (range end)");
}

TEST_F(RewardLines, AmountsAnotherAttemptReadJoinTheirRowsPhrase) {
    for (const LineOfCase& l : amountsOfAnotherAttempt())
        expectLineWhole(l.c, l.line);
}

TEST_F(RewardLines, AmountsOfOtherAttemptsThatDisagreeOrMisplaceThePhraseAreLeftOut) {
    // Every line of these frames at the game's look; at the range's ends
    // other readings already go wrong on them.
    for (const Case& c : wrongAmountsOfAnotherAttempt()) {
        const synth::FrameContent f = cashFrame(c);
        expectReadInPlace(c, f, read(f), c.what);
    }
}

namespace {

// Soft 720p frames of the evaluation's footage at the game's exact look
// whose row read as no phrase on its first reading, nor by its shape alone:
// the letters the later attempts at the row read name the phrase the shape
// leads with.
std::vector<LineOfCase> linesTheLettersOfEveryAttemptName() {
    return {{{"a zone phrase the shape fits just short of clearly",
              1280,
              720,
              1.111075631785842,
              3757671879u,
              0,
              0.5849659113326342,
              false,
              84199174,
              0,
              {{"HOT ZONE ENTERED", 0, 986},
               {"CONTROL ZONE ENTERED", 56875, 0},
               {"CONTROL ZONE PRESENCE", 2729, 0},
               {"VEHICLE DESTROYED", 21, 0}},
              0.778856439991237},
             2},
            {{"a panel word of a soft frame",
              1280,
              720,
              0.9961675009830491,
              4070438432u,
              79,
              0.6037464001670746,
              false,
              1894330,
              0,
              {{"HOT ZONE ENTERED", 0, 126}, {"HEADSHOT", 4, 0, true}, {"PURCHASE REFUNDED", 7, 0}}},
             1},
            {{"a zone phrase under a long line",
              1280,
              720,
              1.1309485781846635,
              3028641547u,
              0,
              0.6005897214735441,
              false,
              608615551,
              620019,
              {{"SUPPLIED PLAYER ASSIST", 630, 0}, {"CONTROL ZONE PRESENCE", 7, 0}},
              0.921026659275423},
             1}};
}

} // namespace

TEST_F(RewardLines, RowsTheShapeLeavesOpenTakeThePhraseTheLettersOfEveryAttemptName) {
    for (const LineOfCase& l : linesTheLettersOfEveryAttemptName())
        expectLineWhole(l.c, l.line);
}

TEST_F(RewardLines, LineWithoutAPhraseTakesTheOneReadAtTheLayoutsMoneyHeight) {
    // A panel's "ASSIST" at 1440 lines under a money line measured short:
    // its amount reads at the measured height, its phrase only at the
    // layout's.
    const Case c{"ASSIST on a panel at 1440 lines",
                 2560,
                 1440,
                 0.8007291291959704,
                 2910016478u,
                 70,
                 0.30604173417075914,
                 false,
                 9414694,
                 0,
                 {{"ASSIST", 0, 287, true},
                  {"SUPPLIED PLAYER ASSIST", 609, 0},
                  {"KILL", 391, 0},
                  {"REVIVED TEAMMATE", 0, 969}},
                 0.878953014872903};
    const synth::FrameContent f = cashFrame(c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain) << c.what;
    expectLines(c, r);
    // At the range's ends whatever is read is the painted line's, but at the
    // smallest frame, whose panel word keeps too little to tell KILL from
    // ASSIST by shape.
    const std::vector<synth::FrameContent> ends = rangeEnds(f);
    const std::size_t smallest = 2;
    for (std::size_t i = 0; i < ends.size(); ++i)
        if (i != smallest)
            expectReadInPlace(c, ends[i], read(ends[i]), std::string(c.what) + " (range end)");
}

TEST_F(RewardLines, ZonePhraseWhoseFirstWordOnlyItsInkTellsIsRead) {
    // "CONTROL ZONE PRESENCE" read as "CO ZCNE PRESENCE": by length the
    // letters are nearer HOT ZONE PRESENCE, by their start CONTROL; the
    // shape leads with neither by much. The run of ink ending where the
    // figure puts the phrase starts where CONTROL does. At the range's ends
    // no line reads a phrase other than its own.
    const Case c{"CONTROL read as CO",
                 1280,
                 720,
                 1.0776294508910504,
                 746241542u,
                 64,
                 0.28492816699708884,
                 false,
                 787,
                 0,
                 {{"HOT ZONE PRESENCE", 0, 360},
                  {"HOT ZONE ENTERED", 889, 0},
                  {"VEHICLE DESTROYED", 16, 0},
                  {"CONTROL ZONE PRESENCE", 292, 0}}};
    const synth::FrameContent f = cashFrame(c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain) << c.what;
    expectReadInPlace(c, f, r, c.what);
    const hud::HudLine* got = lineReadAt(c, f, r, 3, c.what);
    ASSERT_NE(got, nullptr) << c.what;
    EXPECT_EQ(got->text, "CONTROL ZONE PRESENCE") << c.what;
    EXPECT_EQ(got->figure, 292) << c.what;
    for (const synth::FrameContent& e : rangeEnds(f))
        expectReadInPlace(c, e, read(e), std::string(c.what) + " (range end)");
}

TEST_F(RewardLines, PhraseFarAheadOfEveryOtherWhereItsFigurePutsItIsTaken) {
    // "CONTROL ZONE PRESENCE" of a soft 720p frame scaled up, read as "OL
    // ZON EMNCE": its shape fits less well than a clear phrase's, yet ends
    // where its figure puts it, far ahead of HOT ZONE PRESENCE and the rest.
    const Case c{
        "CONTROL ZONE PRESENCE read as OL ZON EMNCE",
        1280,
        720,
        0.892745994457592,
        81358016u,
        65,
        0.37305006440035315,
        false,
        6319392,
        0,
        {{"HOT ZONE ENTERED", 0, 530}, {"CONTROL ZONE PRESENCE", 41340, 0}, {"VEHICLE DESTROYED", 0, 182}},
        1.36565395595985};
    const synth::FrameContent f = cashFrame(c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain) << c.what;
    expectReadInPlace(c, f, r, c.what);
    const hud::HudLine* got = lineReadAt(c, f, r, 1, c.what);
    ASSERT_NE(got, nullptr) << c.what;
    EXPECT_EQ(got->text, "CONTROL ZONE PRESENCE") << c.what;
    EXPECT_EQ(got->figure, 41340) << c.what;
    for (const synth::FrameContent& e : rangeEnds(f))
        expectReadInPlace(c, e, read(e), std::string(c.what) + " (range end)");
}

namespace {

// Soft frames of the evaluation's footage at the game's exact look whose
// figure or amount read while no phrase's shape led clearly: a panel's
// width, or the length of the row's ink, tells the phrase.
std::vector<LineOfCase> phrasesTheRowsMeasureTells() {
    return {{{"a phrase whose shape leads only among those as long as its ink",
              2560,
              1440,
              0.8408800669241474,
              3321001142u,
              0,
              0.42770925335607946,
              true,
              909602206,
              -157621,
              {{"SUPPLIED PLAYER ASSIST", 0, 547}, {"ROTORS DESTROYED", 2, 0}},
              0.8597860643472011},
             1},
            {{"KILL on a panel whose shape fits a longer word",
              1280,
              720,
              0.83276857971694,
              36659625u,
              85,
              0.4469851361049213,
              false,
              24789,
              -2,
              {{"HOT ZONE PRESENCE", 67909, 0},
               {"HEADSHOT", 8, 0},
               {"KILL", 747, 0, true},
               {"SUPPLIED PLAYER ASSIST", 386, 0}}},
             2}};
}

} // namespace

TEST_F(RewardLines, PhrasesThePanelOrTheInksLengthTellAreRead) {
    for (const LineOfCase& l : phrasesTheRowsMeasureTells())
        expectLineWhole(l.c, l.line);
}

namespace {

// Soft 720p frames of the evaluation's footage at the game's exact look
// whose light panel stays short of the panels' light level: measured on its
// own levels, its width names the word: read whole where the figure reads
// too, alone where it does not (the last).
std::vector<LineOfCase> panelsShortOfThePanelLight() {
    return {
        {{"KILL on a soft panel, nothing of its row read",
          1280,
          720,
          0.9369280331560292,
          3611084467u,
          70,
          0.29135540681535554,
          false,
          7,
          -488107,
          {{"KILL CONFIRMED", 84749, 0}, {"CONTROL ZONE PRESENCE", 827, 0}, {"KILL", 41220, 0, true}},
          0.9125208447218236},
         2},
        {{"ASSIST on a soft panel, its figure a close call",
          1280,
          720,
          0.8118907543296222,
          1512037363u,
          79,
          0.0,
          false,
          10,
          0,
          {{"ASSIST", 36, 0, true}, {"REVENGE KILL", 2, 0}},
          1.4725281970030626},
         0},
        {{"HEADSHOT on a small frame scaled up, its figure unread",
          1280,
          720,
          0.9653550533604223,
          306079058u,
          89,
          0.0,
          false,
          733108161,
          -404,
          {{"HEADSHOT", 4317, 0, true}, {"HOT ZONE PRESENCE", 441, 0}, {"SUPPLIED PLAYER ASSIST", 0, 139}},
          0.7604580670163946},
         0}};
}

} // namespace

TEST_F(RewardLines, PanelsShortOfThePanelLightTellTheirWordByTheirWidth) {
    const std::vector<LineOfCase> all = panelsShortOfThePanelLight();
    for (std::size_t i = 0; i + 1 < all.size(); ++i)
        expectLineWhole(all[i].c, all[i].line);
    const LineOfCase& alone = all.back();
    const synth::FrameContent f = cashFrame(alone.c);
    const hud::HudReading r = read(f);
    ASSERT_TRUE(r.balanceCertain) << alone.c.what;
    expectReadInPlace(alone.c, f, r, alone.c.what);
    const hud::HudLine* got = lineReadAt(alone.c, f, r, alone.line, alone.c.what);
    ASSERT_NE(got, nullptr) << alone.c.what;
    EXPECT_EQ(got->text, "HEADSHOT") << alone.c.what;
    // At one end of the range the first reading misreads the figure left
    // unread here; the phrase read, there as anywhere, is the painted one.
    for (const synth::FrameContent& e : rangeEnds(f))
        expectPhrasesPainted(alone.c, read(e), std::string(alone.c.what) + " (range end)");
}

namespace {

// A frame of the evaluation's footage drawn at its own look; `whole`: the
// line is read whole, else only nothing of it is read wrong.
struct LookedLineCase {
    Case c;
    std::size_t line;
    synth::Look look;
    bool whole = true;
};

// Soft frames whose line of the first word lost or of a panel padded wider
// than the game's own once read with no phrase: the run of ink that ends
// where the figure puts the phrase tells the zone phrases' first words
// apart, and a panel's height the padding to take off its width. The third
// once read as the shorter zone phrase, a word of its letters lost while
// its ink runs a word further left; the fourth as ASSIST, the words before
// it garbled, its ink as long as the whole phrase; the last as the part
// phrase its letters kept, which no shape settles.
std::vector<LookedLineCase> phrasesTheRowsOwnMeasuresTell() {
    return {{{"CONTROL read as CO at a slightly wider spacing",
              1280,
              720,
              1.2716225540398363,
              2406537221u,
              69,
              0.5157147306150482,
              false,
              3459,
              449,
              {{"HOT ZONE PRESENCE", 8255, 0}, {"CONTROL ZONE PRESENCE", 76, 0}},
              0.9578186795663574},
             1,
             drawnLook(0.04121478928528294, 0.37743090313491656, 1.2018722948910585, 0.776504702665732,
                       0.5868362768396964, 0.40485301024698916, 0.8159487059049675)},
            {{"KILL on a panel padded wider, its letters spaced wider",
              1280,
              720,
              0.8777614328390957,
              1372854871u,
              52,
              0.2907416041669653,
              false,
              2395310,
              0,
              {{"PURCHASE REFUNDED", 718, 0},
               {"SUPPLIED PLAYER ASSIST", 26, 0},
               {"ASSIST", 0, 548, true},
               {"KILL", 8, 0, true}},
              0.9410432668462767},
             3,
             drawnLook(0.09674317054297862, 0.39596518438819095, 1.1029353521802503, 0.7717193352366599,
                       0.6169301483380928, 0.44252193046633326, 0.4238267813220419)},
            {{"CONTROL ZONE ENTERED read as IZNE ENTTRTD over a bright patch",
              1280,
              720,
              1.0614071900626898,
              2766542613u,
              62,
              0.4282358027577847,
              true,
              91,
              4029,
              {{"CONTROL ZONE ENTERED", 9, 0}, {"HOT ZONE ENTERED", 100, 0}},
              1.1190043247032815},
             0,
             synth::Look{},
             false},
            {{"SUPPLIED PLAYER ASSIST read as LJYER ASSIS, its letters spaced wider",
              1280,
              720,
              1.0407933121244604,
              2956186601u,
              64,
              0.0,
              false,
              75421737,
              -267,
              {{"KILL", 4, 0}, {"SUPPLIED PLAYER ASSIST", 9018, 0}, {"SUPPLIED PLAYER ASSIST", 1, 0}},
              1.0586695789553482},
             2,
             drawnLook(0.02625501083594022, 0.49992306417983057, 1.1104600593311407, 0.7819629099281933,
                       0.4802852181288414, 0.5948131897800891, 0.0708454722192069)},
            {{"HOT ZONE ENTERED read as HOT ZONE over a bright patch",
              1280,
              720,
              0.9578234782972237,
              1872932555u,
              91,
              0.0,
              true,
              22582275,
              0,
              {{"REVIVED TEAMMATE", 0, 249}, {"HOT ZONE ENTERED", 3, 0}, {"KILL CONFIRMED", 9005, 0}}},
             1,
             synth::Look{},
             false}};
}

} // namespace

TEST_F(RewardLines, PhrasesTheRowsOwnMeasuresTellAreRead) {
    for (const LookedLineCase& l : phrasesTheRowsOwnMeasuresTell()) {
        const PaintedLine& p = l.c.lines[l.line];
        const synth::FrameContent f = cashFrame(l.c, l.look);
        const hud::HudReading r = read(f);
        ASSERT_TRUE(r.balanceCertain) << l.c.what;
        expectReadInPlace(l.c, f, r, l.c.what);
        const hud::HudLine* got = lineReadAt(l.c, f, r, l.line, l.c.what);
        if (!l.whole)
            continue;
        ASSERT_NE(got, nullptr) << l.c.what;
        EXPECT_EQ(got->text, p.text) << l.c.what;
        EXPECT_EQ(got->figure, p.figure) << l.c.what;
        EXPECT_EQ(got->xp, p.xp) << l.c.what;
    }
}
