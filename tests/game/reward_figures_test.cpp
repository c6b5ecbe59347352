// Cash figures of reward lines whose reading once stopped a digit short of
// the figure's end: the ink of the digit left out gives the short reading
// away, and the figure is read whole or not at all.

#include "footage_fixture.h"

#include <string>
#include <vector>

namespace {

struct FigureCase {
    const char* what;
    CashCase frame;
};

// Frames of the evaluation at the game's own look; every line reads exactly.
const std::vector<FigureCase>& figuresOnceReadShort() {
    static const std::vector<FigureCase> all = {
        {"2160p +$621 once read from its 2 as +$62",
         {3840,
          2160,
          0.8553421356480642,
          803134212u,
          false,
          71,
          0.0,
          1.0,
          9,
          626,
          {{"REVIVED TEAMMATE", 621, 0}, {"ASSIST", 0, 2, true}, {"VEHICLE DESTROYED", 0, 623}}}},
        {"720p +$699 once read as +$69",
         {1280,
          720,
          0.9659767183116905,
          3915277446u,
          false,
          82,
          0.0,
          1.0,
          910159,
          264,
          {{"HEADSHOT", 4, 0}, {"KILL CONFIRMED", 699, 0}}}},
        {"2160p +$68,759 whose tie was read from a digit short of it",
         {3840,
          2160,
          0.8842809653949334,
          337248562u,
          false,
          62,
          0.0,
          1.0,
          91857928,
          0,
          {{"REVIVED TEAMMATE", 62882, 0}, {"ROTORS DESTROYED", 68759, 0}, {"VEHICLE DESTROYED", 0, 964}}}},
    };
    return all;
}

class RewardFigures : public FootageTest {};

TEST_F(RewardFigures, FiguresOnceReadShortOfADigitReadWhole) {
    for (const FigureCase& c : figuresOnceReadShort()) {
        const hud::HudReading r = read(cashFrame(c.frame));
        ASSERT_TRUE(r.balanceCertain) << c.what;
        ASSERT_EQ(r.lines.size(), c.frame.lines.size()) << c.what;
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
            const PaintedLine& p = c.frame.lines[i];
            const hud::HudLine& l = r.lines[i];
            EXPECT_EQ(l.text, p.text) << c.what << ", raw " << l.raw;
            EXPECT_EQ(l.hasFigure, p.figure != 0) << c.what << ": " << p.text;
            EXPECT_EQ(l.figure, p.figure) << c.what << ": " << p.text;
            EXPECT_EQ(l.hasXp, p.xp != 0) << c.what << ": " << p.text;
            EXPECT_EQ(l.xp, p.xp) << c.what << ": " << p.text;
        }
        // At the far ends of the look's range a figure may go unread, but
        // none reads short or as another.
        int end = 0;
        for (const synth::FrameContent& f : rangeEnds(cashFrame(c.frame)))
            expectNoneMadeUp(c.frame.lines, read(f),
                             std::string(c.what) + ", range end " + std::to_string(end++));
    }
}

} // namespace
