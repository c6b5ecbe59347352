// Digits that soft, small or bright-backed footage renders far from their
// templates: a thin "1" over a bright world, a long balance upscaled from
// 720 lines, a reward figure on a soft line. Frames whose balance read right
// but uncertain, or whose figure was dropped, read
// exactly and certainly once the soft digits' templates have had their look;
// at the far ends of the range around the look the same frames may stay
// uncertain, but a wrong balance is never certain and no figure is made up.

#include "footage_fixture.h"
#include "hudio.h"
#include "synth.h"

#include "hud/cash/pass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* what;
    int width, height;
    double k;
    std::uint32_t scene;
    bool bright;
    int jpeg;
    double blur;
    double sourceScale;
    std::int64_t balance;
    std::int64_t change; // 0: none shown
    std::vector<PaintedLine> lines;
    int figureLine; // the line whose figure was dropped; -1: the balance was uncertain
    synth::Look look;
};

class SoftDigits : public FootageTest {};

// Frames of the evaluation's own footage: the figures at the game's exact
// look, the balances at looks drawn from the range around it.
const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"PURCHASE REFUNDED +$87 at 720p",
         1280,
         720,
         0.8974834658768112,
         1881848380u,
         false,
         88,
         0,
         1.0,
         9069,
         -99,
         {{"CONTROL ZONE ENTERED", 7036, 0, false},
          {"ROTORS DESTROYED", 120, 0, false},
          {"PURCHASE REFUNDED", 87, 0, false},
          {"PURCHASE REFUNDED", 37197, 0, false}},
         2,
         {}},
        {"HOT ZONE ENTERED +$1 at 2160p",
         3840,
         2160,
         0.8073488059084795,
         1781091778u,
         false,
         0,
         0,
         1.0,
         4697,
         0,
         {{"HOT ZONE ENTERED", 1, 0, false}},
         0,
         {}},
        {"$3,158 over a bright world at 1440p, its 1 thinned, letters spaced",
         2560,
         1440,
         0.9631507468691354,
         3755696461u,
         true,
         87,
         0,
         1.0,
         3158,
         -464002,
         {},
         -1,
         {0.08177683872543179, 0.41406073469597215, 1.1797088678577619, 0.5674621924478821,
          0.6554531782746724, 0.7085822669113278, 0.7226884141708502}},
        {"$877,440 upscaled from 720p",
         1280,
         720,
         0.8100727021589457,
         1631180547u,
         false,
         66,
         0,
         1.0462355123001759,
         877440,
         -130,
         {},
         -1,
         {0.015701751022499332, 0.34490147068449545, 1.151348696991362, 0.44887064710884106,
          0.42641324069085573, 0.6484686832900652, 0.4823280767937407}},
        {"$70,751 at 2160p, tight panel",
         3840,
         2160,
         0.9804991221784575,
         1267323170u,
         false,
         82,
         0,
         1.0,
         70751,
         4727,
         {{"HOT ZONE PRESENCE", 0, 419, false}, {"CONTROL ZONE PRESENCE", 9, 0, false}},
         -1,
         {0.035758982051959265, 0.3066445043387667, 1.0225704167682126, 0.7452771732713924,
          0.7124201868527043, 0.7003377970116131, 0.919798481061818}},
    };
    return all;
}

} // namespace

TEST_F(SoftDigits, SoftDigitsReadExactlyAndCertainly) {
    for (const Case& c : cases()) {
        const hud::HudReading r = read(cashFrame(c, c.look));
        ASSERT_TRUE(r.found) << c.what;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectNoneMadeUp(c.lines, r, c.what);
        if (c.figureLine < 0) {
            EXPECT_TRUE(r.balanceCertain) << c.what << ": " << r.reason;
            EXPECT_GE(r.balanceMargin, synth::engineOptions().minMargin) << c.what;
            continue;
        }
        const PaintedLine& painted = c.lines[static_cast<std::size_t>(c.figureLine)];
        const auto line = std::find_if(r.lines.begin(), r.lines.end(),
                                       [&](const hud::HudLine& l) { return l.text == painted.text; });
        ASSERT_NE(line, r.lines.end()) << c.what;
        EXPECT_TRUE(line->hasFigure) << c.what;
        EXPECT_EQ(line->figure, painted.figure) << c.what;
    }
}

TEST_F(SoftDigits, AtTheRangesEndsNothingWrongIsCertainOrMadeUp) {
    for (const Case& c : cases()) {
        int end = 0;
        for (const synth::FrameContent& f : rangeEnds(cashFrame(c, c.look))) {
            const std::string where = std::string(c.what) + ", end " + std::to_string(end++);
            const hud::HudReading r = read(f);
            if (r.balanceCertain) {
                EXPECT_EQ(r.balance, c.balance) << where;
            }
            expectNoneMadeUp(c.lines, r, where);
        }
    }
}
