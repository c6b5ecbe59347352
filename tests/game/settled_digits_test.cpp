// Digits that soft, small or bright-backed footage leaves tied between two
// characters ("3" and "8", "5" and "6"): frames of the game's own look whose
// balance or reward figure the templates and tie-breakers could not decide,
// read exactly once the tie is settled; and the same frames at the far ends
// of the range around the look, where a tie may stay unsettled but a wrong
// balance is never certain and no figure is made up.

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
    int settledLine; // the line whose figure was tied; -1: the balance was
};

class SettledDigits : public FootageTest {};

// Frames of the evaluation's own footage at the game's exact look.
const std::vector<Case>& cases() {
    static const std::vector<Case> all = {
        {"KILL +$18 with a tied digit, small HUD at 720p",
         1280,
         720,
         0.8972893675718466,
         543338879u,
         false,
         64,
         0.2955396067172699,
         1.0,
         898,
         0,
         {{"SUPPLIED PLAYER ASSIST", 2, 0, false},
          {"REVIVED TEAMMATE", 749, 0, false},
          {"KILL", 18, 0, false}},
         2},
        {"$38 over a bright world at 1080p, its 8 thinned toward a 3",
         1920,
         1080,
         1.2529981508242076,
         4023550367u,
         true,
         94,
         0.6619066722510821,
         1.100151826947379,
         38,
         0,
         {{"HOT ZONE ENTERED", 0, 776, false}},
         -1},
        {"long balance over a bright world at 1080p",
         1920,
         1080,
         0.8977498487966942,
         2556092983u,
         true,
         66,
         0.5347490820221441,
         1.0,
         55078703,
         0,
         {},
         -1},
        {"$3,158 beside a change over a bright world at 1440p",
         2560,
         1440,
         0.9631507468691354,
         3755696461u,
         true,
         76,
         0.41673099741748965,
         1.0,
         3158,
         -464002,
         {},
         -1},
    };
    return all;
}

} // namespace

TEST_F(SettledDigits, TiesAreSettledAtTheGamesLook) {
    for (const Case& c : cases()) {
        const hud::HudReading r = read(cashFrame(c));
        ASSERT_TRUE(r.found) << c.what;
        EXPECT_TRUE(r.balanceCertain) << c.what << ": " << r.reason;
        EXPECT_EQ(r.balance, c.balance) << c.what;
        expectNoneMadeUp(c.lines, r, c.what);
        if (c.settledLine < 0)
            continue;
        const PaintedLine& painted = c.lines[static_cast<std::size_t>(c.settledLine)];
        const auto line = std::find_if(r.lines.begin(), r.lines.end(),
                                       [&](const hud::HudLine& l) { return l.text == painted.text; });
        ASSERT_NE(line, r.lines.end()) << c.what;
        EXPECT_TRUE(line->hasFigure) << c.what;
        EXPECT_EQ(line->figure, painted.figure) << c.what;
        EXPECT_GE(line->figureMargin, synth::engineOptions().minMargin) << c.what;
    }
}

TEST_F(SettledDigits, AtTheRangesEndsNothingWrongIsCertain) {
    for (const Case& c : cases()) {
        int end = 0;
        for (const synth::FrameContent& f : rangeEnds(cashFrame(c))) {
            const std::string where = std::string(c.what) + ", end " + std::to_string(end++);
            const hud::HudReading r = read(f);
            if (r.balanceCertain) {
                EXPECT_EQ(r.balance, c.balance) << where;
            }
            expectNoneMadeUp(c.lines, r, where);
        }
    }
}
