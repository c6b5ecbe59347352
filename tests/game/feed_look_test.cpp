// The kill feed at the game's own look and at the far ends of the range
// around it: rows whose reading once failed there, with the exact reading
// asserted.

#include "feedrun.h"
#include "footage_fixture.h"

#include "hud/feed/feed.h"
#include "hud/feed/killdata.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using W = synth::FeedWho;
using Side = hud::PlayerSide;

class FeedLook : public FootageTest {
protected:
    static void SetUpTestSuite() {
        FootageTest::SetUpTestSuite();
        std::string message;
        killData_ = hud::loadKillData(synth::defaultKillDataPath().toStdString(), &message);
        ASSERT_TRUE(killData_) << message;
    }

public:
    static hud::FeedRead read(const synth::FrameContent& f) {
        const QImage cap = synth::captureFeedRegion(synth::renderFrame(f));
        const hud::FrameView v = synth::frameView(cap);
        return hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
    }

protected:
    static inline std::shared_ptr<const hud::KillData> killData_;
};

// The rows every look below carries, newest first, and the side each must
// read as: the player's self-kills (long and short names, one with an
// underscore), a teammate's self-kill, a kill and a death.
struct Expected {
    synth::FeedRowContent painted;
    Side side;
};

std::vector<Expected> selfKillRows() {
    auto r = [](const char* killer, W kw, const char* victim, W vw, const char* icon, int distance,
                bool headshot, Side side) {
        synth::FeedRowContent s;
        s.killer = killer;
        s.killerWho = kw;
        s.victim = victim;
        s.victimWho = vw;
        s.icon = icon;
        s.distance = distance;
        s.headshot = headshot;
        return Expected{s, side};
    };
    return {
        r("MEULPU_7", W::Me, "MEULPU_7", W::Me, "grenade", 3, false, Side::Both),
        r("CORVEX_ME", W::Me, "CORVEX_ME", W::Me, "explosion", 0, false, Side::Both),
        r("AXOLOTL_7", W::Team, "AXOLOTL_7", W::Team, "grenade", 4, false, Side::Neither),
        r("CORVEX_ME", W::Me, "RAVEN_22", W::Enemy, "rifle", 85, false, Side::Killer),
        r("KESTREL", W::Enemy, "CORVEX_ME", W::Me, "sniper", 340, true, Side::Victim),
    };
}

// Paints the rows on `f` at each size and checks every row's side and
// distance.
void expectRows(synth::FrameContent f, const char* what) {
    const std::vector<Expected> rows = selfKillRows();
    const int sizes[][2] = {{1920, 1080}, {2560, 1440}, {3840, 2160}};
    const double blurAt1080 = f.degradation.blurSigma;
    for (const auto& size : sizes) {
        f.width = size[0];
        f.height = size[1];
        f.degradation.blurSigma = blurAt1080 * size[1] / 1080.0;
        synth::KillFeed feed;
        for (const Expected& e : rows)
            feed.rows.push_back(e.painted);
        f.feed = feed;
        const hud::FeedRead r = FeedLook::read(f);
        ASSERT_EQ(r.rows.size(), rows.size()) << what << " " << size[1] << " " << r.note;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(r.rows[i].side, rows[i].side)
                << what << " " << size[1] << " row " << i << ": " << r.rows[i].text;
            EXPECT_TRUE(r.rows[i].hasDistance) << what << " " << size[1] << " row " << i;
            EXPECT_EQ(r.rows[i].distance, rows[i].painted.distance) << what << " " << size[1] << " row " << i;
        }
    }
}

TEST_F(FeedLook, SelfKillRowsAtTheGamesOwnLook) {
    synth::FrameContent f;
    f.sceneSeed = 7;
    expectRows(f, "clean");
    f.degradation.jpegQuality = 80;
    f.degradation.blurSigma = 0.4;
    expectRows(f, "streamed");
}

TEST_F(FeedLook, SelfKillRowsAtTheWideEndOfTheRange) {
    // Letters spaced apart, tall icons, wide gaps, the drained squad colour.
    synth::FrameContent f;
    f.sceneSeed = 8;
    f.look.letterSpacing = 0.1;
    f.look.iconHeight = 1.3;
    f.look.nameIconGap = 0.8;
    f.look.iconBracketGap = 0.8;
    f.look.victimGap = 0.8;
    f.look.squadDrain = 1.0;
    expectRows(f, "wide");
}

TEST_F(FeedLook, SelfKillRowsAtTheNarrowBlurredEndOfTheRange) {
    // Narrow gaps and short icons under the strongest blur and recompression:
    // the game's ribbed icons grey out below the bright white the distance
    // needs before it, and break into letter-sized pieces beside the
    // killer's name.
    synth::FrameContent f;
    f.sceneSeed = 9;
    f.look.iconHeight = 1.0;
    f.look.nameIconGap = 0.4;
    f.look.iconBracketGap = 0.4;
    f.look.victimGap = 0.4;
    f.degradation.jpegQuality = 50;
    f.degradation.blurSigma = 0.8;
    expectRows(f, "narrow blurred");
}

} // namespace
