// The engine's auxiliary reading, replayed on footage: the kill feed, the
// damage log and the weapon plate read at the engine's rates from the
// engine's captures, their results fed to the same trackers, so that the
// command-line tools report what the engine would.
#pragma once

#include "hud/feed/feed.h"
#include "hud/feed/killdata.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"
#include "engine/trackers.h"
#include "hud/reports.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <cstdint>
#include <memory>
#include <vector>

namespace synth {

// The engine's capture of one auxiliary region: `region` in frame pixels of a
// frame frameWidth x frameHeight, shown as if the frame were refHeight lines
// high (output width max(16, round(width * ref / H))). `image` holds the
// frame part starting at `origin`. Null when the image does not cover it.
QImage captureRegion(const QImage& image, QPoint origin, int frameHeight, const QRect& region,
                     double refHeight);

// Which readers the engine runs at a pass, given their last runs.
using AuxSchedule = reading::AuxDue;

class CombatReplay {
public:
    CombatReplay(std::shared_ptr<const hud::Model> model, std::shared_ptr<const hud::KillData> killData);

    // The readers due at `now` for a frame of this size (the engine's
    // intervals and size conditions); marks them as run.
    AuxSchedule due(std::int64_t now, int frameWidth, int frameHeight);

    // Runs the scheduled readers on `image` (the frame part at `origin`) and
    // feeds the trackers; new events are appended to `out`.
    void run(const AuxSchedule& which, const QImage& image, QPoint origin, int frameWidth, int frameHeight,
             std::int64_t now, std::vector<hud::CombatEvent>& out);

    // The frame parts the scheduled readers need, in frame pixels.
    static std::vector<QRect> windows(const AuxSchedule& which, int frameWidth, int frameHeight);

    const hud::FeedRead& lastFeed() const { return trackers_.lastFeed; }
    const hud::PlateRead& lastPlate() const { return trackers_.lastPlate; }
    const hud::DownRead& lastDown() const { return trackers_.lastDown; }
    const hud::CombatState& state() const { return trackers_.combat; }
    // Slows the auxiliary readers to 1/divisor of their rates (1, 2 or 4), as
    // the engine does when its passes grow long.
    void slowDown(int divisor);
    // The engine's trackers, the HUD tracker included.
    reading::Trackers& trackers() { return trackers_; }

private:
    std::shared_ptr<const hud::Model> model_;
    std::shared_ptr<const hud::KillData> killData_;
    reading::Trackers trackers_;
};

// data/hud/killfeed.bin of the source tree (CORVEX_KILL_DATA overrides).
QString defaultKillDataPath();

} // namespace synth
