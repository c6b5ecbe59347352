#pragma once

// Every tracker of one reader, fed one reader result at a time. The engine
// owns one under its lock; the footage tools own one each, so a replay makes
// exactly the events the engine would.

#include "engine/hud-tracker.h"
#include "engine/regions.h"
#include "hud/reports.h"
#include "uplink/game-event.h"

#include <cstdint>
#include <vector>

namespace reading {

struct Trackers {
    HudTracker hud;
    hud::CombatState combat;
    AuxSchedule schedule;
    std::int64_t nextLineId = 1;

    // The last result of each auxiliary reader, for the dock and samples.
    hud::FeedRead lastFeed;
    hud::PlateRead lastPlate;
    hud::DownRead lastDown;

    void onHud(std::int64_t now, const hud::HudReading& reading, std::vector<GameEvent>& out);
    // The combat events come as the readers' own records; toGameEvent makes
    // them what the service link takes.
    void onFeed(std::int64_t now, hud::FeedRead read, std::vector<hud::CombatEvent>& out);
    void onPlate(std::int64_t now, hud::PlateRead read, std::vector<hud::CombatEvent>& out);
    void onDown(std::int64_t now, hud::DownRead read, std::vector<hud::CombatEvent>& out);
    // Which auxiliary readers run now; also tells the down tracker whether
    // the weapon plate is watched at this frame size.
    AuxDue due(std::int64_t now, const Geometry& g);
};

GameEvent toGameEvent(const hud::CombatEvent& event);

// How the engine reads the cash HUD.
hud::HudReadOptions hudReadOptions();

} // namespace reading
