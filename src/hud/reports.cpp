#include "hud/reports.h"

#include <algorithm>
#include <cstdio>

namespace hud {

namespace {

constexpr std::int64_t kPlateHistoryMs = 30000;
constexpr std::int64_t kUpAfterPlateMs = 5000;
constexpr std::int64_t kDownExpiryMs = 60000;

bool oneOf(const std::string& c, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return c == n; });
}

} // namespace

bool isVehicleClass(const std::string& c) {
    return oneOf(c, {"heli", "tank", "car", "artillery"});
}

bool isExplosiveClass(const std::string& c) {
    return oneOf(c, {"grenade", "c4", "rpg", "mortar", "explosion"});
}

bool isGunClass(const std::string& c) {
    return oneOf(c, {"rifle", "sniper", "boltgun", "hunting", "pistol", "shotgun", "lmg"});
}

std::string resolveWeapon(const PlateTracker& plate, std::int64_t t, const std::string& c) {
    // Newest first; reads from after the kill (beyond half a second) say
    // nothing about what killed.
    std::vector<const PlateSeen*> reads;
    for (auto it = plate.history.rbegin(); it != plate.history.rend(); ++it)
        if (it->time <= t + 500)
            reads.push_back(&*it);

    if (isVehicleClass(c)) {
        for (const PlateSeen* p : reads)
            if (p->time >= t - 20000 && p->weaponClass == c)
                return p->name;
        return {};
    }
    if (isExplosiveClass(c)) {
        for (const PlateSeen* p : reads)
            if (t - p->time < 15001 &&
                (p->weaponClass == c || (c == "explosion" && isExplosiveClass(p->weaponClass))))
                return p->name;
        return {};
    }
    for (const PlateSeen* p : reads) {
        if (t - p->time > 10000)
            continue;
        if (p->weapon && !isVehicleClass(p->weaponClass) && !isExplosiveClass(p->weaponClass))
            return p->name;
        break;
    }
    if (!isGunClass(c))
        return {};
    for (const PlateSeen* p : reads)
        if (t - p->time < 15001 && p->weapon && isGunClass(p->weaponClass))
            return p->name;
    return {};
}

std::string currentWeapon(const PlateTracker& plate, std::int64_t now) {
    if (plate.confirmedWeapon && now - plate.confirmedAt <= 10000)
        return plate.confirmed;
    return {};
}

void onFeedRead(CombatState& state, std::int64_t now, const FeedRead& read, std::vector<CombatEvent>& out) {
    std::vector<KillEvent> kills;
    trackFeed(state.kills, now, read, kills);
    for (const KillEvent& k : kills) {
        CombatEvent e;
        e.kind = k.kind == KillKind::Kill ? CombatEvent::Kill : CombatEvent::Death;
        e.t = k.time;
        e.dist = k.distance;
        e.wtype = k.weapon;
        e.headshot = k.headshot;
        e.conf = k.share;
        if (e.kind == CombatEvent::Kill)
            e.weapon = resolveWeapon(state.plate, k.time, k.weapon);
        // A player who dies while down is not revived; left down, the state
        // would swallow every new down until it expires a minute later.
        if (e.kind == CombatEvent::Death)
            state.down = state.upPending = false;
        out.push_back(std::move(e));
    }
}

void onPlateRead(CombatState& state, std::int64_t now, const PlateRead& read, std::vector<CombatEvent>& out) {
    PlateTracker& p = state.plate;
    while (!p.history.empty() && now - p.history.front().time > kPlateHistoryMs)
        p.history.pop_front();
    // The plate is back whether or not its name could be matched.
    if (read.found && state.down && state.upPending) {
        if (now - state.upPendingAt <= kUpAfterPlateMs) {
            CombatEvent e;
            e.kind = CombatEvent::Up;
            e.t = state.upPendingAt;
            out.push_back(e);
        }
        // Later than that the player came back some other way (a respawn);
        // the down is over either way.
        state.down = false;
        state.upPending = false;
    }
    if (read.name.empty())
        return;
    p.history.push_back({now, read.name, read.weaponClass, read.weapon});
    if (read.name == p.candidate) {
        ++p.repeats;
        if (p.repeats >= 2) {
            p.confirmed = read.name;
            p.confirmedWeapon = read.weapon && !isVehicleClass(read.weaponClass);
            p.confirmedAt = now;
        }
    } else {
        p.candidate = read.name;
        p.repeats = 1;
    }
}

void onDownRead(CombatState& state, std::int64_t now, const DownRead& read, std::vector<CombatEvent>& out) {
    const DownChange change = trackDown(state.downTracker, now, read);
    if (change == DownChange::WentDown) {
        if (!state.down) {
            state.down = true;
            CombatEvent e;
            e.kind = CombatEvent::Down;
            e.t = state.downTracker.since;
            e.conf = std::max(0.8f, read.score);
            out.push_back(e);
        } else if (state.upPending) {
            state.upPending = false;
        }
    } else if (change == DownChange::Gone && state.down) {
        if (state.plateWatched) {
            state.upPending = true;
            state.upPendingAt = now;
        } else {
            state.down = false;
            state.upPending = false;
        }
    }
    if (state.down && state.upPending && now - state.upPendingAt > kDownExpiryMs) {
        state.down = false;
        state.upPending = false;
    }
}

std::string describe(const CombatEvent& e) {
    switch (e.kind) {
    case CombatEvent::Down:
        return "down (bleeding out)";
    case CombatEvent::Up:
        return "up (revived)";
    default:
        break;
    }
    char buf[256];
    const std::string dist = e.dist < 0 ? "?" : std::to_string(e.dist);
    std::snprintf(buf, sizeof buf, "%s %s m weapon %s (%s)%s c%.2f",
                  e.kind == CombatEvent::Kill ? "kill" : "death", dist.c_str(),
                  e.weapon.empty() ? "?" : e.weapon.c_str(), e.wtype.empty() ? "?" : e.wtype.c_str(),
                  e.headshot ? " headshot" : "", static_cast<double>(e.conf));
    return buf;
}

} // namespace hud
