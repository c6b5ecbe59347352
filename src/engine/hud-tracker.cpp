#include "engine/hud-tracker.h"

#include <algorithm>
#include <cstdlib>

namespace reading {

namespace {

constexpr std::int64_t kConfirmSpanMs = 300;
constexpr std::int64_t kHeartbeatEveryMs = 10000;
constexpr std::int64_t kHeartbeatFreshMs = 3001;
constexpr int kLineMatchPixels = 23;
constexpr int kLineTextDistance = 3;
constexpr std::int64_t kBareLineAfterMs = 2500;
constexpr std::int64_t kLineGoneMs = 3000;

GameEvent lineEvent(const TrackedLine& line) {
    GameEvent e;
    e.kind = EventKind::FeedLine;
    e.t = line.firstSeen;
    e.text = line.bestText();
    e.lineId = line.lineId;
    return e;
}

} // namespace

bool ValueStabiliser::feed(std::int64_t now, std::int64_t v, float conf) {
    if (has && value == v) {
        ++count;
        lastSeen = now;
        minConf = std::min(minConf, conf);
    } else {
        has = true;
        value = v;
        count = 1;
        firstSeen = lastSeen = now;
        minConf = conf;
    }
    return count >= 2 && lastSeen - firstSeen >= kConfirmSpanMs;
}

std::string TrackedLine::bestText() const {
    const std::string* best = nullptr;
    int bestVotes = 0;
    // The map runs in byte order, so the first of equals is kept by `>`.
    for (const auto& [text, votes] : textVotes) {
        if (!best || votes > bestVotes || (votes == bestVotes && text.size() > best->size())) {
            best = &text;
            bestVotes = votes;
        }
    }
    return best ? *best : std::string();
}

int editDistance(const std::string& a, const std::string& b) {
    std::vector<int> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j)
        row[j] = static_cast<int>(j);
    for (std::size_t i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const int up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

void HudTracker::onRead(std::int64_t now, const hud::HudReading& r, std::int64_t& nextLineId,
                        std::vector<GameEvent>& out) {
    ratio = ratio * 0.95 + (r.balanceCertain ? 0.05 : 0.0);
    if (r.found)
        lineHeight = r.lineHeight;

    if (r.balanceCertain && balanceStab.feed(now, r.balance, r.balanceConfidence)) {
        balance = balanceStab.value;
        balanceKnown = true;
        balanceConfirmedAt = now;
        if (!balanceEmitted || balance != lastEmittedBalance) {
            GameEvent e;
            e.kind = EventKind::Balance;
            e.t = balanceStab.firstSeen;
            e.value = balance;
            e.conf = balanceStab.minConf;
            out.push_back(e);
            balanceEmitted = true;
            lastEmittedBalance = balance;
            lastEmittedAt = now;
        }
    }
    if (balanceKnown && now - balanceConfirmedAt < kHeartbeatFreshMs &&
        now - lastEmittedAt >= kHeartbeatEveryMs) {
        GameEvent e;
        e.kind = EventKind::Balance;
        e.t = now;
        e.value = balance;
        e.conf = balanceStab.minConf;
        e.heartbeat = true;
        out.push_back(e);
        lastEmittedAt = now;
    }

    if (r.changeCertain && changeStab.feed(now, r.change, r.changeConfidence)) {
        change = changeStab.value;
        changeKnown = true;
        if (!changeEmitted || change != lastEmittedChange) {
            GameEvent e;
            e.kind = EventKind::MatchChange;
            e.t = changeStab.firstSeen;
            e.value = change;
            e.conf = changeStab.minConf;
            out.push_back(e);
            changeEmitted = true;
            lastEmittedChange = change;
        }
    }

    std::vector<bool> matched(lines.size(), false);
    for (const hud::HudLine& line : r.lines) {
        int best = -1;
        int bestDy = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const TrackedLine& t = lines[i];
            if (matched[i])
                continue;
            const int dy = std::abs(t.top - line.top);
            if (dy >= kLineMatchPixels)
                continue;
            if (t.hasAmount && line.hasFigure && t.amount != line.figure && t.amountVotes >= 2)
                continue;
            if (!line.text.empty()) {
                const std::string tracked = t.bestText();
                if (!tracked.empty() && tracked != line.text &&
                    editDistance(tracked, line.text) >= kLineTextDistance)
                    continue;
            }
            if (best < 0 || dy < bestDy) {
                best = static_cast<int>(i);
                bestDy = dy;
            }
        }
        // When the oldest line leaves, the rest move up a whole line pitch
        // at once, further than a line may move between passes. A line
        // missing from its place whose text and figure reappear within two
        // line heights is that line, not a new reward to report again.
        if (best < 0 && !line.text.empty() && r.lineHeight > 0) {
            const double reach = 2.0 * r.lineHeight;
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const TrackedLine& t = lines[i];
                const int dy = std::abs(t.top - line.top);
                if (matched[i] || dy > reach || t.bestText() != line.text)
                    continue;
                if (t.hasAmount && line.hasFigure && t.amount != line.figure)
                    continue;
                if (best < 0 || dy < bestDy) {
                    best = static_cast<int>(i);
                    bestDy = dy;
                }
            }
        }
        if (best < 0) {
            TrackedLine t;
            t.firstSeen = now;
            t.lineId = nextLineId++;
            lines.push_back(std::move(t));
            matched.push_back(false);
            best = static_cast<int>(lines.size()) - 1;
        }
        TrackedLine& t = lines[static_cast<std::size_t>(best)];
        matched[static_cast<std::size_t>(best)] = true;
        t.top = line.top;
        t.lastSeen = now;
        ++t.seenCount;
        if (!line.text.empty())
            ++t.textVotes[line.text];
        if (line.hasFigure) {
            if (!t.hasAmount || t.amount != line.figure) {
                t.hasAmount = true;
                t.amount = line.figure;
                t.amountVotes = 1;
            } else {
                ++t.amountVotes;
            }
        }
        if (line.hasXp) {
            t.hasXp = true;
            t.xp = line.xp;
        }
    }

    for (TrackedLine& t : lines) {
        if (t.emitted)
            continue;
        const bool byAmount = t.hasAmount && t.amountVotes >= 2;
        const bool byXp = !t.hasAmount && t.hasXp && t.seenCount >= 2;
        const bool bare = !t.hasAmount && !t.hasXp && t.seenCount >= 2 &&
                          now - t.firstSeen >= kBareLineAfterMs && !t.bestText().empty();
        if (!byAmount && !byXp && !bare)
            continue;
        GameEvent e = lineEvent(t);
        if (byAmount) {
            e.hasAmount = true;
            e.amount = t.amount;
        }
        if (byXp) {
            e.hasXp = true;
            e.xp = t.xp;
        }
        out.push_back(std::move(e));
        t.emitted = true;
    }

    // A line that leaves before it was confirmed is still reported by its
    // text, without the figure its reads could not agree on.
    for (TrackedLine& t : lines) {
        if (t.emitted || now - t.lastSeen <= kLineGoneMs || t.seenCount < 2)
            continue;
        t.emitted = true;
        if (!t.hasAmount && !t.hasXp && t.bestText().empty())
            continue;
        out.push_back(lineEvent(t));
    }

    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [now](const TrackedLine& t) { return now - t.lastSeen > kLineGoneMs; }),
                lines.end());
}

} // namespace reading
