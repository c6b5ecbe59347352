#include "hud/feed/track.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <system_error>

namespace hud {

namespace {

// A row that leaves the screen for this long is gone for good; a judged one
// is kept much longer so that late re-reads of it are absorbed, not counted.
constexpr std::int64_t kTrackLost = 2500;
constexpr std::int64_t kJudgedKept = 15000;
constexpr std::int64_t kMinAge = 500;
constexpr std::int64_t kSameEventWindow = 10000;
constexpr int kMinVotes = 3;
// When the feed is read this seldom (the engine slows its readers on a slow
// machine), a row on screen for a few seconds is read only twice; two
// agreeing reads that far apart are as much evidence as three at full rate.
constexpr std::int64_t kSlowPassGap = 1000;
constexpr int kMinVotesSlow = 2;
constexpr double kDuplicateGap = 33.5664; // 0.7 slot
constexpr double kSameRowGap = 14.3856;   // 0.3 slot
// A row whose distance contradicts its track's still continues it when read
// within this long of the track and this much alike in shape.
constexpr std::int64_t kMisreadWindow = 1000;
constexpr float kMisreadSimilarity = 0.9f;

// Damage-log scores: a strong match, the weaker one that holds the state for
// a while after a strong one, and how far (px) a match may stand from where
// the log was found.
constexpr float kDownStrong = 0.8f;
constexpr float kDownWeak = 0.65f;
constexpr std::int64_t kDownWeakHold = 3000;
constexpr float kDownMoved = 3.0f;
constexpr float kDownInPlace = 1.0f;

int rowDistance(const FeedRow& row) {
    return row.hasDistance && row.distanceConfidence >= 0.75f ? row.distance : -1;
}

float signatureSimilarity(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size() || a.empty())
        return 0.0f;
    return dot(a.data(), b.data(), a.size());
}

// Index of the track this row continues, or -1. `matched` marks the tracks
// already claimed by an earlier row of the same pass.
int matchRow(const FeedTracker& tracker, const std::vector<char>& matched, const FeedRow& row, int d) {
    int best = -1;
    double bestCost = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < tracker.tracks.size(); ++i) {
        if (matched[i])
            continue;
        const FeedTrack& t = tracker.tracks[i];
        const double slots = (static_cast<double>(row.y) - static_cast<double>(t.y)) / kFeedSlot;
        const double k = std::round(slots);
        if (!(k >= 0.0 && k <= 5.0) || !(std::fabs(slots - k) <= 0.3))
            continue;
        if (d >= 0 && t.distance >= 0 && d != t.distance)
            continue;
        if (!(std::fabs(static_cast<double>(row.x0) - t.x0) <= 0.8 * row.cap))
            continue;
        const bool sameDistance = d >= 0 && d == t.distance;
        const bool bracketed = row.hasBracket() && t.bracketX0 >= 0;
        if (bracketed && !(std::fabs(static_cast<double>(row.bracketX0) - t.bracketX0) <= 0.6 * row.cap))
            continue;
        const float sim = signatureSimilarity(row.signature, t.signature);
        if (!sameDistance && !bracketed &&
            !(std::fabs(static_cast<double>(row.x1) - t.x1) <= row.cap && sim >= 0.45f))
            continue;
        const double cost =
            (1.0 - static_cast<double>(sim)) + k - (sameDistance ? 1.0 : 0.0) - (bracketed ? 0.5 : 0.0);
        if (cost < bestCost) {
            bestCost = cost;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// Second attempt for a row that continues no track: one misread distance
// (a figure read wrong with confidence) must not split a row into two tracks
// and report its kill twice or not at all. Only a track left unclaimed by
// every row of the pass qualifies, seen within the last second, at the same
// place, with its bracket, its right edge and its shape
// all agreeing, and not moved: a row a slot further down with another
// distance is another row.
int matchMisreadRow(const FeedTracker& tracker, const std::vector<char>& matched, std::int64_t now,
                    const FeedRow& row, int d) {
    if (d < 0 || !row.hasBracket())
        return -1;
    int best = -1;
    double bestCost = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < tracker.tracks.size(); ++i) {
        if (matched[i])
            continue;
        const FeedTrack& t = tracker.tracks[i];
        if (t.distance < 0 || t.distance == d || t.bracketX0 < 0 || now - t.lastSeen > kMisreadWindow)
            continue;
        const double slots = (static_cast<double>(row.y) - static_cast<double>(t.y)) / kFeedSlot;
        if (!(std::fabs(slots) <= 0.3))
            continue;
        if (!(std::fabs(static_cast<double>(row.x0) - t.x0) <= 0.8 * row.cap) ||
            !(std::fabs(static_cast<double>(row.bracketX0) - t.bracketX0) <= 0.6 * row.cap) ||
            !(std::fabs(static_cast<double>(row.x1) - t.x1) <= row.cap))
            continue;
        const float sim = signatureSimilarity(row.signature, t.signature);
        if (!(sim >= kMisreadSimilarity))
            continue;
        const double cost = 1.0 - static_cast<double>(sim);
        if (cost < bestCost) {
            bestCost = cost;
            best = static_cast<int>(i);
        }
    }
    return best;
}

void addRead(FeedTrack& t, std::int64_t now, const FeedRow& row, int d) {
    t.lastSeen = now;
    t.y = row.y;
    t.x0 = row.x0;
    t.x1 = row.x1;
    t.signature = row.signature;
    if (d >= 0)
        t.distance = d;
    if (row.hasBracket())
        t.bracketX0 = row.bracketX0;
    ++t.reads;
    switch (row.side) {
    case PlayerSide::Killer:
        ++t.killerVotes;
        break;
    case PlayerSide::Victim:
        ++t.victimVotes;
        break;
    case PlayerSide::Both:
        ++t.bothVotes;
        break;
    case PlayerSide::Neither:
    default:
        // "Not me", unless a name was lost: the player's name, dimmed on a light scene
        // or taken for the icon, cannot say "not me" by its absence, and a
        // row such reads outnumber would never be judged.
        if (row.killer.n == 0 || row.victim.n == 0)
            ++t.blindVotes;
        else
            ++t.otherVotes;
        break;
    }
    if (row.squadKiller || row.squadVictim)
        ++t.squadVotes;
    if (row.hasDistance && row.distanceConfidence >= 0.6f)
        t.distances.push_back(row.distance);
    if (!row.icon.empty())
        t.icons.push_back(row.icon);
    if (row.headshot)
        ++t.headshots;
}

// The value read most often, when it was read at least twice and in more than
// half of the reads; ties go to the smallest value (byte order for strings).
template <typename T> bool majority(std::vector<T> values, T& out) {
    if (values.empty())
        return false;
    std::sort(values.begin(), values.end());
    std::size_t bestCount = 0;
    std::size_t bestAt = 0;
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i + 1;
        while (j < values.size() && values[j] == values[i])
            ++j;
        if (j - i > bestCount) {
            bestCount = j - i;
            bestAt = i;
        }
        i = j;
    }
    if (bestCount < 2 || 2 * bestCount <= values.size())
        return false;
    out = values[bestAt];
    return true;
}

std::string voteText(const FeedTrack& t) {
    char buf[160];
    std::snprintf(buf, sizeof buf, "%d reads: killer %d victim %d self %d other %d, %d distances, %d icons",
                  t.reads, t.killerVotes, t.victimVotes, t.bothVotes, t.otherVotes,
                  static_cast<int>(t.distances.size()), static_cast<int>(t.icons.size()));
    return buf;
}

// Whether `t`, judged as (kind, distance), is an event some other track
// already stands for: the same row read again after the tracker lost it.
bool alreadyReported(const FeedTracker& tracker, std::size_t self, std::int64_t now, KillKind kind,
                     int distance) {
    const FeedTrack& t = tracker.tracks[self];
    for (std::size_t i = 0; i < tracker.tracks.size(); ++i) {
        if (i == self)
            continue;
        const FeedTrack& o = tracker.tracks[i];
        if (!o.reported || o.reportedKind != kind)
            continue;
        const bool recent = now - o.reportedAt <= kSameEventWindow;
        if (distance < 0) {
            if (recent && std::abs(static_cast<double>(t.y) - o.y) <= kSameRowGap)
                return true;
        } else if (o.reportedDistance == distance && recent && !t.duplicate) {
            return true;
        }
        // A track still seen when this one appeared stood beside it on screen,
        // so only one lost before it can be the same row scrolled on. A row
        // judged before its distance read twice may still read it clearly
        // later: one that read a figure, and never this event's, is another
        // row (the next kill taking the top slot the last one left).
        const std::int64_t gap = t.firstSeen - o.lastSeen;
        const double shift = (static_cast<double>(t.y) - o.y) / kFeedSlot;
        const bool otherDistance =
            distance >= 0 && o.distance >= 0 &&
            std::find(o.distances.begin(), o.distances.end(), distance) == o.distances.end();
        if (gap > 0 && gap <= kTrackLost && !(distance >= 0 && o.reportedDistance >= 0) && !otherDistance &&
            shift > -0.3 && shift < 1.3)
            return true;
    }
    return false;
}

enum class Verdict { Wait, Drop, Judged };

Verdict judge(FeedTracker& tracker, std::size_t index, std::int64_t now, std::vector<KillEvent>& events) {
    FeedTrack& t = tracker.tracks[index];
    int best = t.killerVotes;
    KillKind kind = KillKind::Kill;
    if (t.victimVotes > best || t.bothVotes > best) {
        best = std::max(t.victimVotes, t.bothVotes);
        kind = KillKind::Death;
    }
    // Both of the last two gaps must be long: one pause of the source is no
    // slow rate.
    const int minVotes =
        std::min(tracker.passGap, tracker.previousGap) >= kSlowPassGap ? kMinVotesSlow : kMinVotes;
    if (best < minVotes || now - t.firstSeen < kMinAge) {
        if (now - t.lastSeen <= kTrackLost)
            return Verdict::Wait;
        t.done = true;
        if (best < minVotes)
            return Verdict::Drop;
    }

    // An unclear vote is final only once the row has left: while it is on
    // screen, later reads may still settle it.
    const int mine = t.killerVotes + t.victimVotes + t.bothVotes;
    const int decisive = std::max(1, t.reads - t.blindVotes);
    if (10 * best < 7 * decisive || mine - best > std::max(1, best / 4)) {
        if (now - t.lastSeen <= kTrackLost)
            return Verdict::Wait;
        t.done = true;
        return Verdict::Judged;
    }
    t.done = true;

    KillEvent e;
    e.kind = kind;
    e.time = t.firstSeen;
    if (!majority(t.distances, e.distance))
        e.distance = -1;
    if (!majority(t.icons, e.weapon))
        e.weapon.clear();
    e.headshot = t.headshots >= 2 && 10 * t.headshots >= 3 * t.reads;
    e.squad = t.reads < 2 * t.squadVotes;
    e.share = static_cast<float>(best) / static_cast<float>(decisive);
    e.text = voteText(t);

    // Killing a squad mate is no kill to report.
    if (kind == KillKind::Kill && e.squad)
        return Verdict::Judged;

    // A re-read of an event already sent stands for that event from now on,
    // so the row's next re-read is compared with this one's time as well.
    const bool same = alreadyReported(tracker, index, now, kind, e.distance);
    t.reported = true;
    t.reportedKind = kind;
    t.reportedDistance = e.distance;
    t.reportedAt = now;
    if (!same)
        events.push_back(std::move(e));
    return Verdict::Judged;
}

std::string fixed(double v, int decimals) {
    if (std::isnan(v))
        return "nan";
    if (std::isinf(v))
        return v < 0 ? "-inf" : "inf";
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    if (res.ec != std::errc())
        return "?";
    return std::string(buf, res.ptr);
}

const char* sideText(PlayerSide side) {
    switch (side) {
    case PlayerSide::Killer:
        return "me killer";
    case PlayerSide::Victim:
        return "me victim";
    case PlayerSide::Both:
        return "me both sides";
    case PlayerSide::Neither:
        break;
    }
    return "not me";
}

} // namespace

void trackFeed(FeedTracker& tracker, std::int64_t now, const FeedRead& read, std::vector<KillEvent>& events) {
    std::vector<FeedTrack>& tracks = tracker.tracks;
    if (tracker.lastPass >= 0 && now > tracker.lastPass) {
        tracker.previousGap = tracker.passGap;
        tracker.passGap = now - tracker.lastPass;
    }
    tracker.lastPass = now;
    // Per pass: claimed by a row of this read (new tracks included).
    std::vector<char> seen(tracks.size(), 0);

    // Every row first tries the tracks as they agree in full; only the rows
    // left over then try the second attempt, so that it never takes a track
    // from the row that continues it.
    thread_local std::vector<const FeedRow*> unmatched;
    unmatched.clear();
    for (const FeedRow& row : read.rows) {
        if (row.side == PlayerSide::Neither && !row.hasBracket())
            continue;
        const int d = rowDistance(row);
        const int index = matchRow(tracker, seen, row, d);
        if (index < 0) {
            unmatched.push_back(&row);
            continue;
        }
        seen[static_cast<std::size_t>(index)] = 1;
        addRead(tracks[static_cast<std::size_t>(index)], now, row, d);
    }
    for (const FeedRow* row : unmatched) {
        const int d = rowDistance(*row);
        const int misread = matchMisreadRow(tracker, seen, now, *row, d);
        if (misread >= 0) {
            // The track keeps the distance it had; the misread still joins
            // the vote over the distances read.
            seen[static_cast<std::size_t>(misread)] = 1;
            addRead(tracks[static_cast<std::size_t>(misread)], now, *row, -1);
            continue;
        }
        FeedTrack fresh;
        fresh.firstSeen = now;
        tracks.push_back(std::move(fresh));
        seen.push_back(1);
        addRead(tracks.back(), now, *row, d);
    }

    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (!seen[i] || tracks[i].distance < 0)
            continue;
        for (std::size_t j = i + 1; j < tracks.size(); ++j) {
            if (!seen[j] || tracks[j].distance != tracks[i].distance)
                continue;
            if (std::abs(static_cast<double>(tracks[i].y) - tracks[j].y) >= kDuplicateGap) {
                tracks[i].duplicate = true;
                tracks[j].duplicate = true;
            }
        }
    }

    std::vector<char> drop(tracks.size(), 0);
    for (std::size_t i = 0; i < tracks.size(); ++i)
        if (seen[i] && !tracks[i].done && judge(tracker, i, now, events) == Verdict::Drop)
            drop[i] = 1;
    for (std::size_t i = 0; i < tracks.size(); ++i)
        if (!seen[i] && !tracks[i].done && now - tracks[i].lastSeen > kTrackLost &&
            judge(tracker, i, now, events) == Verdict::Drop)
            drop[i] = 1;

    std::size_t kept = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        const std::int64_t age = now - tracks[i].lastSeen;
        if (drop[i] || age > (tracks[i].done ? kJudgedKept : kTrackLost))
            continue;
        if (kept != i)
            tracks[kept] = std::move(tracks[i]);
        ++kept;
    }
    tracks.resize(kept);
}

DownChange trackDown(DownTracker& tracker, std::int64_t now, const DownRead& read) {
    bool hit = false;
    if (!tracker.down) {
        hit = read.found || read.score >= kDownStrong;
    } else {
        const float dx = std::fabs(read.x - tracker.x);
        const float dy = std::fabs(read.y - tracker.y);
        const bool stable = dx <= kDownMoved && dy <= kDownMoved;
        if (stable) {
            if (read.score >= kDownStrong) {
                tracker.lastStrong = now;
                tracker.weakAside = false;
            }
            // Right after a strong read the header is known to be there, so a
            // weaker match (a frame of motion blur) still keeps the state.
            const float needed = now - tracker.lastStrong <= kDownWeakHold ? kDownWeak : kDownStrong;
            hit = read.score >= needed;
            // A blurred frame may pull the peak off the header's place once;
            // a weak match off that place again, with no strong read between,
            // is the scene that stays when the log has gone.
            if (hit && read.score < kDownStrong && std::max(dx, dy) > kDownInPlace) {
                hit = !tracker.weakAside;
                tracker.weakAside = true;
            }
        }
    }
    if (hit) {
        ++tracker.hits;
        tracker.misses = 0;
    } else {
        ++tracker.misses;
        tracker.hits = 0;
    }

    if (!tracker.down) {
        if (!hit)
            return DownChange::None;
        if (tracker.hits == 1) {
            tracker.firstHit = now;
            return DownChange::None;
        }
        tracker.down = true;
        tracker.since = tracker.firstHit;
        tracker.lastStrong = now;
        tracker.weakAside = false;
        tracker.x = read.x;
        tracker.y = read.y;
        return DownChange::WentDown;
    }
    if (tracker.misses >= 2) {
        tracker.down = false;
        tracker.since = now;
        return DownChange::Gone;
    }
    return DownChange::None;
}

std::string feedDetail(const FeedRead& feed, const PlateRead& plate, const DownRead& down) {
    std::string s = "killfeed " + std::to_string(feed.rows.size()) + " rows";
    if (!feed.note.empty())
        s += " (" + feed.note + ")";
    s += "\n";
    for (const FeedRow& row : feed.rows) {
        s += "  y " + std::to_string(row.y) + " x " + std::to_string(row.x0) + "-" + std::to_string(row.x1) +
             ": " + sideText(row.side);
        if (row.squadKiller)
            s += ", squad killer";
        if (row.squadVictim)
            s += ", squad victim";
        s += " dist ";
        s += row.hasDistance ? std::to_string(row.distance) : "-";
        s += " icon ";
        s += row.icon.empty() ? "-" : row.icon;
        if (row.headshot)
            s += " headshot";
        s += " | " + row.text + "\n";
    }
    s += "plate line " + std::string(plate.found ? "1" : "0") + " read [" + plate.read + "] name [" +
         plate.name + "]" + (plate.weapon ? " weapon" : "") + "\n";
    s += "down score " + fixed(down.score, 3) + (down.found ? " FOUND" : "") + "\n";
    return s;
}

} // namespace hud
