#pragma once

// Turns the HUD reader's noisy per-pass readings into few confirmed events: a
// balance or change counts once it repeats, a reward line keeps one id while
// it stays on screen and is reported once, with the votes of all its reads.

#include "hud/cash/pass.h"
#include "uplink/game-event.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace reading {

// A value counts once it was read at least twice over at least 300 ms.
struct ValueStabiliser {
    bool has = false;
    std::int64_t value = 0;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    std::int32_t count = 0;
    float minConf = 0.0f;

    // True when the value is confirmed after this read.
    bool feed(std::int64_t now, std::int64_t v, float conf);
};

struct TrackedLine {
    std::map<std::string, int> textVotes;
    bool hasAmount = false;
    std::int64_t amount = 0;
    int amountVotes = 0;
    bool hasXp = false;
    std::int32_t xp = 0;
    std::int32_t top = 0;
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    int seenCount = 0;
    bool emitted = false;
    std::int64_t lineId = 0;

    // Most votes; then the longer text; then the first in byte order.
    std::string bestText() const;
};

struct HudTracker {
    double ratio = 0.0; // share of recent passes with a certain balance
    float lineHeight = 0.0f;
    ValueStabiliser balanceStab;
    ValueStabiliser changeStab;
    bool balanceKnown = false;
    std::int64_t balance = 0;
    std::int64_t balanceConfirmedAt = 0;
    bool changeKnown = false;
    std::int64_t change = 0;
    bool balanceEmitted = false;
    std::int64_t lastEmittedBalance = 0;
    std::int64_t lastEmittedAt = 0;
    bool changeEmitted = false;
    std::int64_t lastEmittedChange = 0;
    std::vector<TrackedLine> lines;

    // One pass's reading. New events are appended to `out`; new lines take
    // their ids from `nextLineId`, which is advanced.
    void onRead(std::int64_t now, const hud::HudReading& r, std::int64_t& nextLineId,
                std::vector<GameEvent>& out);
};

// Insertions, deletions and substitutions on bytes, each costing 1.
int editDistance(const std::string& a, const std::string& b);

} // namespace reading
