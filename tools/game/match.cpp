#include "match.h"

#include "hud/reports.h"
#include "hud/cash/vocab.h"

#include <QJsonArray>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>

namespace synth {

const char* matchEventName(MatchEventKind kind) {
    switch (kind) {
    case MatchEventKind::Kill:
        return "kill";
    case MatchEventKind::Death:
        return "death";
    case MatchEventKind::Down:
        return "down";
    case MatchEventKind::Up:
        return "up";
    }
    return "?";
}

namespace {

// Rows arrive at least this far apart, so every row settles before the next
// pushes it and a tracker reading three times a second sees it in place.
constexpr std::int64_t kRowSpacingMs = 700;
// The player's own rows appear early enough to stay on screen for a while
// before the sequence ends.
constexpr std::int64_t kLastEventMarginMs = 1500;
// A kill is made with an item held at least this long, so that the plate the
// engine reads once a second already names it.
constexpr std::int64_t kSettledHoldMs = 1200;

const char* whoName(FeedWho who) {
    switch (who) {
    case FeedWho::Me:
        return "me";
    case FeedWho::Squad:
        return "squad";
    case FeedWho::Team:
        return "team";
    case FeedWho::Enemy:
        return "enemy";
    }
    return "?";
}

using hud::isExplosiveClass;
using hud::isGunClass;
using hud::isVehicleClass;

// Kill distances the game shows for each kind of weapon, in metres.
std::pair<int, int> distanceRange(const std::string& c) {
    if (c == "pistol")
        return {2, 70};
    if (c == "shotgun")
        return {1, 35};
    if (c == "rifle")
        return {4, 320};
    if (c == "lmg")
        return {5, 400};
    if (c == "sniper")
        return {40, 2400};
    if (c == "boltgun")
        return {25, 1200};
    if (c == "hunting")
        return {15, 500};
    if (c == "grenade" || c == "c4")
        return {2, 45};
    if (c == "rpg")
        return {10, 350};
    if (c == "mortar")
        return {60, 900};
    if (c == "hammer")
        return {1, 3};
    if (c == "heli")
        return {20, 1100};
    if (c == "tank")
        return {15, 1600};
    if (c == "car")
        return {1, 250};
    if (c == "artillery")
        return {300, 4500};
    if (c == "explosion")
        return {1, 60};
    return {1, 200};
}

// Spread evenly over the digits: a log-uniform draw gives one-digit,
// two-digit and longer distances alike where the range allows them.
int randomDistance(Rng& rng, const std::string& c) {
    const auto [lo, hi] = distanceRange(c);
    const double v = std::exp(rng.uniform(std::log(lo), std::log(hi + 1.0)));
    return std::clamp(static_cast<int>(v), lo, std::min(hi, 9999));
}

std::int64_t gapMs(Rng& rng, double meanMs) {
    return static_cast<std::int64_t>(-std::log(1.0 - rng.uniform()) * meanMs) + 1;
}

std::string uniqueName(Rng& rng, std::set<std::string>& used) {
    for (;;) {
        std::string name = randomPlayerName(rng);
        if (used.insert(name).second)
            return name;
    }
}

int magazineOf(const hud::WeaponEntry& e) {
    const std::string& c = e.weaponClass;
    if (c == "rifle")
        return e.name == "Super-45" ? 25 : 30;
    if (c == "shotgun")
        return 8;
    if (c == "lmg")
        return e.name == "PKM" ? 100 : 150;
    if (c == "sniper")
        return e.name == "AMR 50" ? 5 : 10;
    if (c == "hunting")
        return 10;
    if (c == "boltgun")
        return 5;
    if (c == "pistol")
        return e.name == "Deagle" ? 7 : e.name == "Judge" ? 5 : 12;
    if (c == "heli")
        return 500;
    if (c == "tank")
        return 40;
    if (c == "car")
        return e.name.find('[') != std::string::npos ? 200 : 0;
    if (c == "artillery")
        return 30;
    if (e.name == "MGL-40")
        return 6;
    return 1;
}

} // namespace

// Draws one match. Everything is decided up front, in a fixed order of draws
// from one generator, so a seed always gives the same match.
class MatchBuilder {
public:
    MatchBuilder(MatchSequence& s, std::uint32_t seed, const MatchOptions& options)
        : s_(s), rng_(seed), seed_(seed), options_(options) {}

    void build() {
        drawLook();
        drawPeople();
        drawLives();
        drawRows();
        drawCash();
        // Events were drawn life by life and row by row; sort them by time
        // and let the rows follow their event's new place.
        std::vector<int> order(s_.events_.size());
        for (std::size_t i = 0; i < order.size(); ++i)
            order[i] = static_cast<int>(i);
        std::stable_sort(order.begin(), order.end(), [this](int a, int b) {
            return s_.events_[static_cast<std::size_t>(a)].time <
                   s_.events_[static_cast<std::size_t>(b)].time;
        });
        std::vector<int> place(order.size());
        std::vector<MatchEvent> sorted;
        for (std::size_t i = 0; i < order.size(); ++i) {
            place[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
            sorted.push_back(s_.events_[static_cast<std::size_t>(order[i])]);
        }
        s_.events_ = std::move(sorted);
        for (MatchSequence::TimedRow& r : s_.rows_)
            if (r.event >= 0)
                r.event = place[static_cast<std::size_t>(r.event)];
    }

private:
    struct Life {
        std::int64_t from = 0, to = 0; // alive with the plate shown
        struct Loadout {
            int primary = -1, secondary = -1, throwable = -1, gadget = -1, vehicle = -1;
        } loadout;
    };
    enum class DeathKind { Finished, Enemy, Squad, Self };
    struct Death {
        std::int64_t time = 0;
        DeathKind kind = DeathKind::Enemy;
    };
    enum class RowKind { Death, Kill, Other };
    struct Request {
        std::int64_t time = 0;
        RowKind kind = RowKind::Other;
        std::size_t death = 0;
    };

    MatchSequence& s_;
    Rng rng_;
    std::uint32_t seed_;
    MatchOptions options_;
    std::int64_t end_ = 0; // time of the frame after the last
    std::vector<Life> lives_;
    std::vector<Death> deaths_;
    std::vector<std::string> squad_, team_, enemies_;
    std::set<std::string> killedMe_;                // enemies that killed the player, for revenge rewards
    std::set<std::string> used_;                    // every name given out
    std::map<std::string, std::int64_t> deadUntil_; // players waiting to respawn

    std::vector<int> byClass(std::initializer_list<const char*> classes) const {
        std::vector<int> out;
        const auto& table = hud::weaponTable();
        for (std::size_t i = 0; i < table.size(); ++i)
            for (const char* c : classes)
                if (table[i].weaponClass == c)
                    out.push_back(static_cast<int>(i));
        return out;
    }
    std::vector<int> byName(std::initializer_list<const char*> names) const {
        std::vector<int> out;
        const auto& table = hud::weaponTable();
        for (std::size_t i = 0; i < table.size(); ++i)
            for (const char* n : names)
                if (table[i].name == n)
                    out.push_back(static_cast<int>(i));
        return out;
    }
    static const hud::WeaponEntry& entry(int item) {
        return hud::weaponTable()[static_cast<std::size_t>(item)];
    }

    int addEvent(const MatchEvent& e) {
        s_.events_.push_back(e);
        return static_cast<int>(s_.events_.size()) - 1;
    }

    void drawLook() {
        static const int sizes[4][2] = {{1280, 720}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
        const Variation& v = options_.variation;
        FrameContent f;
        const int s = v.anyResolution ? static_cast<int>(rng_.between(0, 3)) : 1;
        f.width = sizes[s][0];
        f.height = sizes[s][1];
        f.hudScale = rng_.uniform(v.minScale, v.maxScale);
        f.sceneSeed = rng_.next();
        f.brightBehindHud = rng_.chance(0.1);
        if (v.degrade) {
            f.degradation.jpegQuality = rng_.chance(0.9) ? static_cast<int>(rng_.between(60, 95)) : 0;
            f.degradation.blurSigma = rng_.chance(0.5) ? rng_.uniform(0.2, 0.7) : 0.0;
            f.degradation.sourceScale = rng_.chance(0.3) ? rng_.uniform(0.75, 1.5) : 1.0;
        }
        if (v.lookRange) {
            // One game, one look: a sequence keeps what it drew. Its own
            // randomness, so a seed gives the same match otherwise.
            Rng range(seed_ ^ 0xA54FF53Au);
            f.look = randomLook(range);
            randomRangeFootage(range, f);
        }
        s_.look_ = f;
        const double lo = std::max(1.0, std::min(options_.minSeconds, options_.maxSeconds));
        const double hi = std::max(lo, options_.maxSeconds);
        const auto ms = static_cast<std::int64_t>(rng_.uniform(lo, hi) * 1000.0);
        s_.frames_ = static_cast<int>(std::max<std::int64_t>(1, ms / kMatchFrameMs));
        end_ = MatchSequence::frameTime(s_.frames_);
    }

    void drawPeople() {
        std::set<std::string>& used = used_;
        s_.player_ = uniqueName(rng_, used);
        for (int i = 0; i < 3; ++i)
            squad_.push_back(uniqueName(rng_, used));
        for (int i = 0; i < 10; ++i)
            team_.push_back(uniqueName(rng_, used));
        for (int i = 0; i < 16; ++i)
            enemies_.push_back(uniqueName(rng_, used));
    }

    Life::Loadout drawLoadout() {
        Life::Loadout l;
        const double u = rng_.uniform();
        const std::vector<int> primaries = u < 0.55   ? byClass({"rifle"})
                                           : u < 0.68 ? byClass({"lmg"})
                                           : u < 0.78 ? byClass({"shotgun"})
                                           : u < 0.9  ? byClass({"sniper", "hunting"})
                                                      : byClass({"boltgun"});
        l.primary = rng_.pick(primaries);
        l.secondary = rng_.pick(byClass({"pistol"}));
        l.throwable = rng_.pick(byName({"M67 Frag Grenade", "Gold Frag Grenade", "M18 Smoke Grenade"}));
        const double g = rng_.uniform();
        l.gadget =
            g < 0.3    ? rng_.pick(byClass({"rpg"}))
            : g < 0.45 ? rng_.pick(byClass({"c4"}))
            : g < 0.55 ? rng_.pick(byClass({"hammer", "mortar"}))
            : g < 0.65 ? rng_.pick(byName({"AT Mine", "Claymore", "Compound Bow", "Fists"}))
            : g < 0.7
                ? rng_.pick(byName({"MGL-40"}))
                : rng_.pick(byName({"Defibrillator", "Emergency Resuscitator", "Halligan Bar", "Wrench",
                                    "Light Drill", "Heavy Drill", "Loudspeaker", "M18 Signal Grenade"}));
        if (rng_.chance(0.3))
            l.vehicle = rng_.pick(rng_.chance(0.15) ? byName({"Stingray", "Vanguard CIWS", "Talon 9K-SAM"})
                                                    : byClass({"heli", "tank", "car", "artillery"}));
        return l;
    }

    void hold(std::int64_t from, int item) {
        MatchSequence::Hold h;
        h.from = h.since = from;
        h.item = item;
        if (item >= 0 && entry(item).weapon) {
            h.magazine = magazineOf(entry(item));
            h.reserve = h.magazine * static_cast<int>(rng_.between(1, 5));
            if (h.magazine > 1)
                h.magazine -= static_cast<int>(rng_.between(0, h.magazine / 3));
        }
        s_.holds_.push_back(h);
    }

    // The items a life goes through: mostly the primary weapon, now and then
    // the pistol, a throw, the gadget or a ride in a vehicle.
    void drawHolds(const Life& life) {
        const Life::Loadout& l = life.loadout;
        std::int64_t t = life.from;
        int item = l.primary;
        bool rode = false;
        while (t < life.to) {
            hold(t, item);
            std::int64_t dur;
            if (item == l.throwable)
                dur = rng_.between(2000, 4500);
            else if (item == l.vehicle)
                dur = rng_.between(10000, 25000);
            else if (item == l.primary)
                dur = rng_.between(5000, 20000);
            else
                dur = rng_.between(3000, 9000);
            t += dur;
            if (item != l.primary && rng_.chance(0.75)) {
                item = l.primary;
                continue;
            }
            const double u = rng_.uniform();
            int nextItem = u < 0.4 ? l.secondary : u < 0.6 ? l.throwable : u < 0.85 ? l.gadget : l.vehicle;
            if (nextItem == l.vehicle && (l.vehicle < 0 || rode))
                nextItem = l.secondary;
            if (nextItem == l.vehicle)
                rode = true;
            item = nextItem == item ? l.primary : nextItem;
        }
    }

    // Alive stretches, downs, deaths and respawns.
    void drawLives() {
        std::int64_t t = 0;
        bool revived = false;
        for (;;) {
            Life life;
            life.from = t;
            // A revived player still carries what they had; a respawn brings
            // a new loadout.
            life.loadout = revived ? lives_.back().loadout : drawLoadout();
            revived = false;
            std::int64_t aliveEnd = t + rng_.between(15000, 45000);
            if (aliveEnd > end_ - 2000)
                aliveEnd = end_;
            life.to = aliveEnd;
            lives_.push_back(life);
            drawHolds(life);
            if (aliveEnd >= end_)
                break;
            hold(aliveEnd, -1);
            std::int64_t respawn;
            if (rng_.chance(0.65)) {
                MatchEvent down;
                down.kind = MatchEventKind::Down;
                down.time = aliveEnd;
                addEvent(down);
                const std::int64_t downTo = aliveEnd + rng_.between(4000, 14000);
                if (downTo > end_ - kLastEventMarginMs) {
                    s_.downs_.push_back({aliveEnd, end_ + 1}); // still down when the sequence ends
                    break;
                }
                s_.downs_.push_back({aliveEnd, downTo});
                if (rng_.chance(0.55)) {
                    MatchEvent up;
                    up.kind = MatchEventKind::Up;
                    up.time = downTo;
                    addEvent(up);
                    t = downTo + rng_.between(300, 900); // the plate returns within a second
                    revived = true;
                    continue;
                }
                deaths_.push_back({downTo, DeathKind::Finished});
                respawn = downTo + rng_.between(6000, 12000);
            } else {
                const double u = rng_.uniform();
                deaths_.push_back({aliveEnd, u < 0.88   ? DeathKind::Enemy
                                             : u < 0.92 ? DeathKind::Squad
                                                        : DeathKind::Self});
                respawn = aliveEnd + rng_.between(6000, 12000);
            }
            if (respawn >= end_ - 2000)
                break;
            t = respawn;
        }
    }

    const MatchSequence::Hold* holdAt(std::int64_t t) const {
        const MatchSequence::Hold* found = nullptr;
        for (const MatchSequence::Hold& h : s_.holds_)
            if (h.from <= t)
                found = &h;
        return found;
    }

    std::string gunClass() {
        const double u = rng_.uniform();
        return u < 0.5    ? "rifle"
               : u < 0.62 ? "lmg"
               : u < 0.7  ? "shotgun"
               : u < 0.8  ? "sniper"
               : u < 0.85 ? "boltgun"
               : u < 0.88 ? "hunting"
                          : "pistol";
    }
    std::string anyClass() {
        const double u = rng_.uniform();
        if (u < 0.72)
            return gunClass();
        static const std::vector<std::string> rest = {"grenade", "c4",   "rpg", "mortar",    "explosion",
                                                      "heli",    "tank", "car", "artillery", "hammer"};
        return rng_.pick(rest);
    }

    // Someone of `pool` who is not waiting to respawn at `t` (and is not
    // `other`), as far as a few draws find one.
    std::string living(const std::vector<std::string>& pool, std::int64_t t, const std::string& other = {}) {
        std::string name;
        for (int tries = 0; tries < 12; ++tries) {
            name = rng_.pick(pool);
            if (name == other)
                continue;
            const auto it = deadUntil_.find(name);
            if (it == deadUntil_.end() || it->second <= t)
                break;
        }
        return name;
    }

    FeedRowContent otherRow(std::int64_t t) {
        FeedRowContent r;
        const double u = rng_.uniform();
        if (u < 0.35) {
            r.killer = living(enemies_, t);
            const bool squad = rng_.chance(0.45);
            r.victim = living(squad ? squad_ : team_, t);
            r.victimWho = squad ? FeedWho::Squad : FeedWho::Team;
        } else if (u < 0.8) {
            const bool squad = u < 0.55;
            r.killer = living(squad ? squad_ : team_, t);
            r.killerWho = squad ? FeedWho::Squad : FeedWho::Team;
            r.victim = living(enemies_, t);
        } else {
            r.killer = living(enemies_, t);
            r.victim = living(enemies_, t, r.killer);
            if (r.victim == r.killer) // a pool of one name left
                r.victim = uniqueName(rng_, used_);
        }
        r.icon = anyClass();
        r.headshot = isGunClass(r.icon) && rng_.chance(0.25);
        r.distance = rng_.chance(0.15) ? -1 : randomDistance(rng_, r.icon);
        return r;
    }

    void addRow(std::int64_t t, const FeedRowContent& row, int event) {
        if (row.victimWho != FeedWho::Me)
            deadUntil_[row.victim] = t + rng_.between(8000, 20000);
        MatchSequence::TimedRow r;
        r.time = t;
        r.row = row;
        r.event = event;
        s_.rows_.push_back(r);
    }

    // A kill by the player with the item in hand; false when the item is
    // nothing that kills with an icon of its own, or was only just taken.
    bool playerKill(std::int64_t t) {
        const MatchSequence::Hold* h = holdAt(t);
        if (!h || h->item < 0 || t - h->since < kSettledHoldMs || t > end_ - kLastEventMarginMs)
            return false;
        const hud::WeaponEntry& e = entry(h->item);
        const std::vector<std::string>& icons = iconNames();
        if (e.weaponClass.empty() || std::find(icons.begin(), icons.end(), e.weaponClass) == icons.end())
            return false;
        FeedRowContent r;
        r.killer = s_.player_;
        r.killerWho = FeedWho::Me;
        const double u = rng_.uniform();
        if (u < 0.94) {
            r.victim = living(enemies_, t);
        } else if (u < 0.97) {
            r.victim = living(squad_, t);
            r.victimWho = FeedWho::Squad;
        } else {
            r.victim = living(team_, t);
            r.victimWho = FeedWho::Team;
        }
        r.icon = e.weaponClass;
        r.headshot = isGunClass(r.icon) && rng_.chance(0.3);
        r.distance = randomDistance(rng_, r.icon);
        MatchEvent ev;
        ev.kind = MatchEventKind::Kill;
        ev.time = t;
        ev.distance = r.distance;
        ev.icon = r.icon;
        ev.headshot = r.headshot;
        ev.squad = r.victimWho == FeedWho::Squad;
        ev.weapon = e.name;
        addRow(t, r, addEvent(ev));
        // Shots fired: the magazine shows fewer rounds from here on.
        if (h->magazine > 0 && e.weapon) {
            MatchSequence::Hold after = *h;
            after.from = t + 1;
            after.magazine = std::max(0, h->magazine - static_cast<int>(rng_.between(1, 6)));
            const auto at =
                std::upper_bound(s_.holds_.begin(), s_.holds_.end(), after.from,
                                 [](std::int64_t v, const MatchSequence::Hold& x) { return v < x.from; });
            s_.holds_.insert(at, after);
        }
        if (ev.squad || r.victimWho == FeedWho::Team)
            return true; // friendly fire earns nothing
        rewardKill(t, r, killedMe_.count(r.victim) > 0);
        return true;
    }

    void playerDeath(const Death& d) {
        FeedRowContent r;
        r.victim = s_.player_;
        r.victimWho = FeedWho::Me;
        if (d.kind == DeathKind::Self) {
            r.killer = s_.player_;
            r.killerWho = FeedWho::Me;
            const MatchSequence::Hold* h = holdAt(d.time - 1);
            const std::string held = h && h->item >= 0 ? entry(h->item).weaponClass : std::string();
            r.icon = held == "grenade" || held == "c4" || held == "rpg" ? held : "explosion";
            r.distance = static_cast<int>(rng_.between(0, 4));
        } else {
            const bool squad = d.kind == DeathKind::Squad;
            r.killer = living(squad ? squad_ : enemies_, d.time);
            r.killerWho = squad ? FeedWho::Squad : FeedWho::Enemy;
            r.icon = d.kind == DeathKind::Finished || rng_.chance(0.8) ? gunClass() : anyClass();
            r.headshot = isGunClass(r.icon) && rng_.chance(0.3);
            r.distance = randomDistance(rng_, r.icon);
            if (!squad)
                killedMe_.insert(r.killer);
        }
        MatchEvent ev;
        ev.kind = MatchEventKind::Death;
        ev.time = d.time;
        ev.distance = r.distance;
        ev.icon = r.icon;
        ev.headshot = r.headshot;
        ev.squad = r.killerWho == FeedWho::Squad;
        ev.self = d.kind == DeathKind::Self;
        addRow(d.time, r, addEvent(ev));
    }

    // Row arrival times: the player's deaths are fixed, kills and the rest
    // of the battle fill in around them, never closer than kRowSpacingMs.
    void drawRows() {
        std::vector<Request> requests;
        for (std::size_t i = 0; i < deaths_.size(); ++i)
            requests.push_back({deaths_[i].time, RowKind::Death, i});
        const double killGap = rng_.uniform(6000, 14000);
        for (const Life& life : lives_)
            // No kill in the last second before the player goes down or
            // dies, so a kill and the fall never share a frame.
            for (std::int64_t t = life.from + 1500 + gapMs(rng_, killGap); t < life.to - 1000;
                 t += gapMs(rng_, killGap))
                requests.push_back({t, RowKind::Kill, 0});
        const double otherGap = rng_.uniform(2500, 5000);
        for (std::int64_t t = 300 + gapMs(rng_, otherGap); t < end_ - 300; t += gapMs(rng_, otherGap))
            requests.push_back({t, RowKind::Other, 0});
        std::stable_sort(requests.begin(), requests.end(), [](const Request& a, const Request& b) {
            return a.time != b.time ? a.time < b.time : a.kind < b.kind;
        });
        std::int64_t last = -kRowSpacingMs;
        for (std::size_t i = 0; i < requests.size(); ++i) {
            const Request& q = requests[i];
            if (q.kind != RowKind::Death) {
                std::int64_t nextDeath = end_ + kRowSpacingMs;
                for (std::size_t j = i + 1; j < requests.size(); ++j)
                    if (requests[j].kind == RowKind::Death) {
                        nextDeath = requests[j].time;
                        break;
                    }
                if (q.time - last < kRowSpacingMs || nextDeath - q.time < kRowSpacingMs)
                    continue;
            }
            bool placed = true;
            switch (q.kind) {
            case RowKind::Death:
                playerDeath(deaths_[q.death]);
                break;
            case RowKind::Kill:
                placed = playerKill(q.time);
                break;
            case RowKind::Other: {
                const FeedRowContent r = otherRow(q.time);
                addRow(q.time, r, -1);
                if (r.killerWho == FeedWho::Squad && r.victimWho == FeedWho::Enemy && rng_.chance(0.3)) {
                    const std::int64_t at = q.time + rng_.between(150, 600);
                    const bool cash = rng_.chance(0.7);
                    reward(at, 0, {line("ASSIST", cash, 25, 150)});
                }
                break;
            }
            }
            if (placed)
                last = q.time;
        }
    }

    RewardLine line(const std::string& text, bool cash, int lo, int hi) {
        RewardLine l;
        l.text = text;
        if (cash) {
            l.hasFigure = true;
            l.figure = rng_.between(lo / 25, hi / 25) * 25;
        } else {
            l.hasXp = true;
            l.xp = static_cast<int>(rng_.between(1, 10)) * 5;
        }
        l.panel = text.find(' ') == std::string::npos && rng_.chance(0.4);
        return l;
    }

    void reward(std::int64_t t, std::int64_t extra, std::vector<RewardLine> lines) {
        MatchSequence::CashStep step;
        step.time = t;
        step.delta = extra;
        for (const RewardLine& l : lines)
            if (l.hasFigure)
                step.delta += l.figure;
        step.lines = std::move(lines);
        s_.cash_.push_back(step);
    }

    void rewardKill(std::int64_t t, const FeedRowContent& r, bool revenge) {
        std::vector<RewardLine> lines;
        lines.push_back(line(rng_.chance(0.25) ? "KILL CONFIRMED" : "KILL", true, 100, 300));
        if (r.headshot)
            lines.push_back(line("HEADSHOT", rng_.chance(0.4), 50, 150));
        if (revenge && rng_.chance(0.7))
            lines.push_back(line("REVENGE KILL", true, 100, 250));
        if (isVehicleClass(r.icon) && rng_.chance(0.3))
            lines.push_back(
                line(rng_.chance(0.5) ? "VEHICLE DESTROYED" : "ROTORS DESTROYED", true, 200, 500));
        reward(t + rng_.between(150, 600), 0, lines);
    }

    // Rewards that come without a kill, and purchases at each spawn.
    void drawCash() {
        s_.startBalance_ = rng_.chance(0.1) ? 0 : rng_.between(0, 400) * 250;
        for (const Life& life : lives_) {
            if (rng_.chance(0.5)) {
                const std::int64_t cost = rng_.between(1, 16) * 250;
                reward(life.from + rng_.between(200, 1500), -cost, {});
                if (rng_.chance(0.15)) {
                    RewardLine l;
                    l.text = "PURCHASE REFUNDED";
                    l.hasFigure = true;
                    l.figure = cost / 2;
                    reward(life.from + rng_.between(3000, 8000), 0, {l});
                }
            }
            for (std::int64_t t = life.from + rng_.between(5000, 25000); t < life.to;
                 t += rng_.between(15000, 40000)) {
                static const std::vector<std::string> zone = {"CONTROL ZONE PRESENCE", "HOT ZONE PRESENCE",
                                                              "CONTROL ZONE ENTERED", "HOT ZONE ENTERED"};
                const std::string& text = rng_.pick(zone);
                const bool cash = rng_.chance(0.4);
                reward(t, 0, {line(text, cash, 25, 100)});
            }
            if (rng_.chance(0.25) && life.to - life.from > 4000) {
                const std::int64_t at = rng_.between(life.from + 2000, life.to - 1000);
                const char* text = rng_.chance(0.8) ? "REVIVED TEAMMATE" : "SUPPLIED PLAYER ASSIST";
                reward(at, 0, {line(text, true, 50, 250)});
            }
        }
        std::stable_sort(s_.cash_.begin(), s_.cash_.end(),
                         [](const MatchSequence::CashStep& a, const MatchSequence::CashStep& b) {
                             return a.time < b.time;
                         });
        // A purchase the balance cannot pay for does not happen.
        std::int64_t balance = s_.startBalance_;
        std::vector<MatchSequence::CashStep> kept;
        for (const MatchSequence::CashStep& step : s_.cash_) {
            if (balance + step.delta < 0)
                continue;
            balance += step.delta;
            kept.push_back(step);
        }
        s_.cash_ = std::move(kept);
    }
};

MatchSequence::MatchSequence(std::uint32_t seed, MatchOptions options) {
    MatchBuilder(*this, seed, options).build();
}

bool MatchSequence::next(FrameContent& f, std::int64_t& timeMs) {
    if (cursor_ >= frames_)
        return false;
    f = frame(cursor_);
    timeMs = frameTime(cursor_);
    ++cursor_;
    return true;
}

FrameContent MatchSequence::frame(int index) const {
    FrameContent f = look_;
    const std::int64_t t = frameTime(std::clamp(index, 0, std::max(0, frames_ - 1)));

    CashHud cash;
    cash.balance = startBalance_;
    for (const CashStep& step : cash_) {
        if (step.time > t)
            break;
        cash.balance += step.delta;
        if (step.delta != 0)
            cash.change =
                t < step.time + kChangeShownMs ? std::optional<std::int64_t>(step.delta) : std::nullopt;
        if (t < step.time + kRewardLineMs)
            cash.lines.insert(cash.lines.end(), step.lines.begin(), step.lines.end());
    }
    if (cash.lines.size() > kMaxRewardLines)
        cash.lines.erase(cash.lines.begin(), cash.lines.end() - kMaxRewardLines);
    f.cash = cash;

    KillFeed feed;
    for (auto it = rows_.rbegin(); it != rows_.rend() && feed.rows.size() < kMaxFeedRows; ++it) {
        if (it->time > t || t >= it->time + kFeedRowLifeMs)
            continue;
        if (feed.rows.empty() && t - it->time < kFeedScrollMs)
            feed.scroll = 1.0 - static_cast<double>(t - it->time) / kFeedScrollMs;
        feed.rows.push_back(it->row);
    }
    f.feed = feed;

    const Hold* held = nullptr;
    for (const Hold& h : holds_) {
        if (h.from > t)
            break;
        held = &h;
    }
    if (held && held->item >= 0) {
        const hud::WeaponEntry& e = hud::weaponTable()[static_cast<std::size_t>(held->item)];
        Plate p;
        p.name = e.name;
        p.weapon = e.weapon;
        p.magazine = held->magazine;
        p.reserve = held->reserve;
        f.plate = p;
    }
    for (const DownSpan& d : downs_)
        if (d.from <= t && t < d.to)
            f.down = true;
    return f;
}

QJsonObject matchEventJson(const MatchEvent& e) {
    QJsonObject o;
    o["kind"] = matchEventName(e.kind);
    o["time"] = static_cast<double>(e.time);
    o["frame"] = static_cast<double>((e.time + kMatchFrameMs - 1) / kMatchFrameMs);
    if (e.kind == MatchEventKind::Kill || e.kind == MatchEventKind::Death) {
        o["distance"] = e.distance;
        o["icon"] = QString::fromStdString(e.icon);
        o["headshot"] = e.headshot;
        o["squad"] = e.squad;
        o["self"] = e.self;
    }
    if (e.kind == MatchEventKind::Kill)
        o["weapon"] = QString::fromStdString(e.weapon);
    return o;
}

QJsonObject MatchSequence::frameTruth(int index) const {
    const FrameContent f = frame(index);
    const std::int64_t t = frameTime(index);
    QJsonObject o;
    o["index"] = index;
    o["time"] = static_cast<double>(t);
    const QJsonObject look = synth::truthJson(f);
    for (const char* key : {"balance", "balanceText", "change", "changeText", "lines"})
        if (look.contains(key))
            o[key] = look.value(key);

    // The event each visible row stands for, matched by arrival time.
    std::vector<int> rowEvents;
    for (auto it = rows_.rbegin(); it != rows_.rend() && rowEvents.size() < f.feed->rows.size(); ++it)
        if (it->time <= t && t < it->time + kFeedRowLifeMs)
            rowEvents.push_back(it->event);
    const FeedLayout layout = layoutFeed(f);
    QJsonArray rows;
    for (std::size_t i = 0; i < f.feed->rows.size(); ++i) {
        const FeedRowContent& r = f.feed->rows[i];
        QJsonObject ro;
        ro["killer"] = QString::fromStdString(r.killer);
        ro["killerWho"] = whoName(r.killerWho);
        ro["victim"] = QString::fromStdString(r.victim);
        ro["victimWho"] = whoName(r.victimWho);
        ro["icon"] = QString::fromStdString(r.icon);
        ro["headshot"] = r.headshot;
        ro["distance"] = r.distance;
        if (i < layout.rows.size())
            ro["top"] = layout.rows[i].capTop;
        if (i < rowEvents.size() && rowEvents[i] >= 0)
            ro["event"] = rowEvents[i];
        rows.append(ro);
    }
    o["rows"] = rows;
    o["scroll"] = f.feed->scroll;
    o["plate"] = f.plate ? QJsonValue(QString::fromStdString(f.plate->name)) : QJsonValue();
    o["down"] = f.down;
    return o;
}

QJsonObject MatchSequence::truthJson(const std::vector<QString>& files) const {
    QJsonObject o;
    o["fps"] = 1000 / kMatchFrameMs;
    o["frameMs"] = kMatchFrameMs;
    o["frames"] = frames_;
    o["width"] = look_.width;
    o["height"] = look_.height;
    o["k"] = look_.hudScale;
    o["sceneSeed"] = static_cast<double>(look_.sceneSeed);
    o["brightBehindHud"] = look_.brightBehindHud;
    o["sourceScale"] = look_.degradation.sourceScale;
    o["blur"] = look_.degradation.blurSigma;
    o["jpegQuality"] = look_.degradation.jpegQuality;
    o["player"] = QString::fromStdString(player_);
    QJsonArray events;
    for (const MatchEvent& e : events_)
        events.append(matchEventJson(e));
    o["events"] = events;
    QJsonArray frames;
    for (int i = 0; i < frames_; ++i) {
        QJsonObject fo = frameTruth(i);
        if (static_cast<std::size_t>(i) < files.size())
            fo["file"] = files[static_cast<std::size_t>(i)];
        frames.append(fo);
    }
    o["frameTruth"] = frames;
    return o;
}

// ---------------------------------------------------------------- painting

QRect captureWindow(const QRect& r, int W, int H) {
    // A margin of 16 pixels keeps blur and resampling at the window's edge
    // out of the region itself.
    if (r.isEmpty())
        return {};
    const int x0 = std::max(0, (r.left() - 16) / 16 * 16);
    const int y0 = std::max(0, (r.top() - 16) / 16 * 16);
    const int x1 = std::min(W, (r.right() + 1 + 16 + 15) / 16 * 16);
    const int y1 = std::min(H, (r.bottom() + 1 + 16 + 15) / 16 * 16);
    return x1 > x0 && y1 > y0 ? QRect(x0, y0, x1 - x0, y1 - y0) : QRect();
}

std::vector<QRect> captureWindows(int W, int H) {
    std::vector<QRect> out;
    if (W <= 0 || H <= 0)
        return out;
    out.push_back(hudWindow(W, H));
    for (const QRect& r : {feedRegion(W, H), damageLogRegion(W, H), plateRegion(W, H)}) {
        const QRect w = captureWindow(r, W, H);
        if (!w.isEmpty())
            out.push_back(w);
    }
    return out;
}

QImage renderCaptureParts(const FrameContent& frame) {
    QImage out(frame.width, frame.height, QImage::Format_RGB32);
    out.fill(Qt::black);
    for (const QRect& w : captureWindows(frame.width, frame.height)) {
        const QImage part = renderFrame(frame, w).convertToFormat(QImage::Format_RGB32);
        const int rows = std::min(part.height(), out.height() - w.y());
        const int cols = std::min(part.width(), out.width() - w.x());
        for (int y = 0; y < rows; ++y)
            std::memcpy(out.scanLine(w.y() + y) + static_cast<std::ptrdiff_t>(w.x()) * 4,
                        part.constScanLine(y), static_cast<std::size_t>(cols) * 4);
    }
    return out;
}

} // namespace synth
