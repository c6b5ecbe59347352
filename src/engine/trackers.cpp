#include "engine/trackers.h"

#include <utility>

namespace reading {

namespace {

constexpr int kTallFrame = 1000;

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

hud::HudReadOptions hudReadOptions() {
    hud::HudReadOptions o;
    o.readLines = true;
    o.minConfidence = 0.85f;
    o.minMargin = 0.03f;
    o.minLineConfidence = 0.72f;
    o.allowOffMargin = true;
    o.retryLowContrast = true;
    return o;
}

void Trackers::onHud(std::int64_t now, const hud::HudReading& reading, std::vector<GameEvent>& out) {
    hud.onRead(now, reading, nextLineId, out);
}

void Trackers::onFeed(std::int64_t now, hud::FeedRead read, std::vector<hud::CombatEvent>& out) {
    hud::onFeedRead(combat, now, read, out);
    lastFeed = std::move(read);
}

void Trackers::onPlate(std::int64_t now, hud::PlateRead read, std::vector<hud::CombatEvent>& out) {
    hud::onPlateRead(combat, now, read, out);
    lastPlate = std::move(read);
}

void Trackers::onDown(std::int64_t now, hud::DownRead read, std::vector<hud::CombatEvent>& out) {
    hud::onDownRead(combat, now, read, out);
    lastDown = read;
}

AuxDue Trackers::due(std::int64_t now, const Geometry& g) {
    combat.plateWatched = g.height() >= kTallFrame;
    return schedule.due(now, g, combat.detector.lockedVariant >= 0);
}

} // namespace reading
