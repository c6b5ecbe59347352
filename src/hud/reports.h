#pragma once

// What the engine reports from the kill-feed, plate and damage-log readers:
// kills and deaths from the kill tracker (with the weapon that was in hand),
// downs and ups from the damage log and the plate's return. Plain state and
// functions, so that the engine only has to call them under its lock and the
// tools can replay footage through exactly the same rules.

#include "hud/plate/down.h"
#include "hud/plate/plate.h"
#include "hud/feed/track.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace hud {

struct PlateSeen {
    std::int64_t time = 0;
    std::string name;
    std::string weaponClass;
    bool weapon = false;
};

struct PlateTracker {
    std::deque<PlateSeen> history; // oldest first, 30 s
    std::string candidate;
    int repeats = 0;
    std::string confirmed;
    bool confirmedWeapon = false;
    std::int64_t confirmedAt = 0;
};

struct CombatEvent {
    enum Kind { Kill, Death, Down, Up };
    Kind kind = Kill;
    std::int64_t t = 0;
    int dist = -1;
    std::string wtype;  // icon class of the feed row
    std::string weapon; // resolved weapon name, kills only
    bool headshot = false;
    float conf = 0.0f;
};

struct CombatState {
    FeedTracker kills;
    PlateTracker plate;
    DownDetector detector;
    DownTracker downTracker;
    bool down = false;
    bool upPending = false;
    std::int64_t upPendingAt = 0;
    // False while the weapon plate is not read at all (frames under 1000
    // lines): then no plate can ever confirm an up, and a down ends when the
    // damage log goes, so the next down is not swallowed.
    bool plateWatched = true;
};

bool isVehicleClass(const std::string& c);
bool isExplosiveClass(const std::string& c);
bool isGunClass(const std::string& c);

// The weapon name for a kill at time t whose feed row showed icon class c,
// from the plate reads around it; empty when none fits.
std::string resolveWeapon(const PlateTracker& plate, std::int64_t t, const std::string& c);

// The confirmed weapon in hand when it was confirmed within 10 s, else empty.
std::string currentWeapon(const PlateTracker& plate, std::int64_t now);

// One reader result each; new events are appended in order.
void onFeedRead(CombatState& state, std::int64_t now, const FeedRead& read, std::vector<CombatEvent>& out);
void onPlateRead(CombatState& state, std::int64_t now, const PlateRead& read, std::vector<CombatEvent>& out);
void onDownRead(CombatState& state, std::int64_t now, const DownRead& read, std::vector<CombatEvent>& out);

// "kill 123 m weapon M4 (rifle) headshot c0.83", "down (bleeding out)",
// "up (revived)": the reader log's text of an event.
std::string describe(const CombatEvent& event);

} // namespace hud
