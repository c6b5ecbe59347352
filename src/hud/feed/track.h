#pragma once

// Trackers that turn noisy per-pass reads into few confirmed transitions: the
// kill tracker follows feed rows while they scroll and votes on each, the down
// tracker turns damage-log scores into "went down" and "got up".

#include "hud/feed/feed.h"
#include "hud/plate/down.h"
#include "hud/plate/plate.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hud {

// What a judged row means for the player: a self-kill is a death.
enum class KillKind {
    Kill,
    Death,
};

struct FeedTrack {
    std::int64_t firstSeen = 0;
    std::int64_t lastSeen = 0;
    int y = 0;
    int x0 = 0;
    int x1 = 0;
    std::vector<float> signature;
    int reads = 0;
    int killerVotes = 0;
    int victimVotes = 0;
    int bothVotes = 0;
    int otherVotes = 0;
    int blindVotes = 0; // "not me" read with one name not found: no vote either way
    int squadVotes = 0;
    std::vector<int> distances;
    std::vector<std::string> icons;
    int headshots = 0;
    int distance = -1;
    int bracketX0 = -1;
    bool done = false;
    bool reported = false;
    KillKind reportedKind = KillKind::Kill;
    int reportedDistance = -1;
    std::int64_t reportedAt = 0;
    bool duplicate = false;
};

struct KillEvent {
    KillKind kind = KillKind::Kill;
    std::int64_t time = 0;
    int distance = -1;
    std::string weapon; // icon key
    bool headshot = false;
    bool squad = false;
    float share = 0.0f;
    std::string text;
};

struct FeedTracker {
    std::vector<FeedTrack> tracks;
    // The last read's time and the two gaps before it: the rate the feed is
    // read at.
    std::int64_t lastPass = -1;
    std::int64_t passGap = 0;
    std::int64_t previousGap = 0;
};

void trackFeed(FeedTracker& tracker, std::int64_t now, const FeedRead& read, std::vector<KillEvent>& events);

struct DownTracker {
    bool down = false;
    int hits = 0;
    int misses = 0;
    std::int64_t since = 0;
    std::int64_t lastStrong = 0;
    std::int64_t firstHit = 0;
    bool weakAside = false; // a weak match off the place held the state since the last strong one
    float x = 0.0f;
    float y = 0.0f;
};

enum class DownChange {
    None,
    WentDown, // since = first of the two hits
    Gone,     // the damage log disappeared; since = now
};

DownChange trackDown(DownTracker& tracker, std::int64_t now, const DownRead& read);

// The kill-feed detail text of a sample: rows, plate and damage-log reads,
// each line ending in "\n".
std::string feedDetail(const FeedRead& feed, const PlateRead& plate, const DownRead& down);

} // namespace hud
