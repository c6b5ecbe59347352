#include "engine/trackers.h"

#include <utility>

namespace reading {

namespace {

constexpr int kTallFrame = 1000;

void appendCombat(const std::vector<hud::CombatEvent>& combat, std::vector<GameEvent>& out) {
    for (const hud::CombatEvent& e : combat)
        out.push_back(toGameEvent(e));
}

} // namespace

GameEvent toGameEvent(const hud::CombatEvent& c) {
    GameEvent e;
    e.t = c.t;
    switch (c.kind) {
    case hud::CombatEvent::Kill:
    case hud::CombatEvent::Death:
        e.kind = c.kind == hud::CombatEvent::Kill ? EventKind::Kill : EventKind::Death;
        e.dist = c.dist;
        e.wtype = c.wtype;
        e.weapon = c.weapon;
        e.headshot = c.headshot;
        e.conf = c.conf;
        break;
    case hud::CombatEvent::Down:
        e.kind = EventKind::Down;
        e.conf = c.conf;
        break;
    case hud::CombatEvent::Up:
        e.kind = EventKind::Up;
        break;
    }
    return e;
}

void Trackers::onHud(std::int64_t now, const hud::HudReading& reading, std::vector<GameEvent>& out) {
    hud.onRead(now, reading, nextLineId, out);
}

void Trackers::onFeed(std::int64_t now, hud::FeedRead read, std::vector<GameEvent>& out) {
    std::vector<hud::CombatEvent> events;
    hud::onFeedRead(combat, now, read, events);
    lastFeed = std::move(read);
    appendCombat(events, out);
}

void Trackers::onPlate(std::int64_t now, hud::PlateRead read, std::vector<GameEvent>& out) {
    std::vector<hud::CombatEvent> events;
    hud::onPlateRead(combat, now, read, events);
    lastPlate = std::move(read);
    appendCombat(events, out);
}

void Trackers::onDown(std::int64_t now, hud::DownRead read, std::vector<GameEvent>& out) {
    std::vector<hud::CombatEvent> events;
    hud::onDownRead(combat, now, read, events);
    lastDown = read;
    appendCombat(events, out);
}

AuxDue Trackers::due(std::int64_t now, const Geometry& g) {
    combat.plateWatched = g.height() >= kTallFrame;
    return schedule.due(now, g, combat.detector.lockedVariant >= 0);
}

} // namespace reading
