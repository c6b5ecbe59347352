// The kill-feed part of corvex-eval: played match sequences read at the
// engine's rates through the engine's trackers, the reported kills, deaths,
// downs and ups compared with the sequence's truth.

#include "eval-match.h"

#include "feedrun.h"
#include "match.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>
#include <cstdio>
#include <map>

namespace synth {

namespace {

// A reported kill or death carries the time its row was first read; the row
// appears at the truth's time and is first read within a feed interval or
// two (later when it arrives while the feed scrolls).
constexpr std::int64_t kKillTolerance = 1500;
// Downs need two damage-log reads; ups need the log gone twice and a plate read.
constexpr std::int64_t kDownTolerance = 1500;
constexpr std::int64_t kUpTolerance = 2500;

struct Tally {
    int total = 0, good = 0;
    void add(bool ok) {
        ++total;
        good += ok ? 1 : 0;
    }
    double percent() const { return total ? 100.0 * good / total : 0.0; }
};

void print(const char* label, const Tally& t) {
    std::printf("%-44s %7.2f %%  (%d of %d)\n", label, t.percent(), t.good, t.total);
}

bool sameKind(const MatchEvent& truth, const hud::CombatEvent& e) {
    switch (truth.kind) {
    case MatchEventKind::Kill:
        return e.kind == hud::CombatEvent::Kill;
    case MatchEventKind::Death:
        return e.kind == hud::CombatEvent::Death;
    case MatchEventKind::Down:
        return e.kind == hud::CombatEvent::Down;
    case MatchEventKind::Up:
        return e.kind == hud::CombatEvent::Up;
    }
    return false;
}

std::int64_t tolerance(MatchEventKind k) {
    switch (k) {
    case MatchEventKind::Down:
        return kDownTolerance;
    case MatchEventKind::Up:
        return kUpTolerance;
    default:
        return kKillTolerance;
    }
}

// Reads a row only after it appeared, so a report may lag but never lead by
// more than a frame.
bool inTime(const MatchEvent& truth, const hud::CombatEvent& e) {
    return e.t >= truth.time - kMatchFrameMs && e.t <= truth.time + tolerance(truth.kind);
}

hud::CombatEvent::Kind kindOf(MatchEventKind k) {
    switch (k) {
    case MatchEventKind::Kill:
        return hud::CombatEvent::Kill;
    case MatchEventKind::Death:
        return hud::CombatEvent::Death;
    case MatchEventKind::Down:
        return hud::CombatEvent::Down;
    case MatchEventKind::Up:
        return hud::CombatEvent::Up;
    }
    return hud::CombatEvent::Kill;
}

QJsonObject reportedJson(const hud::CombatEvent& e) {
    QJsonObject o;
    o["text"] = QString::fromStdString(hud::describe(e));
    o["t"] = static_cast<double>(e.t);
    return o;
}

// What the sequences add up to.
struct MatchTallies {
    std::map<hud::CombatEvent::Kind, Tally> precision, recall;
    // The same for sequences of 1080 lines and more, where the feed's
    // letters are at least as large as the game's reference look shows them.
    std::map<hud::CombatEvent::Kind, Tally> precisionLarge, recallLarge;
    Tally distance, icon, headshot, weapon, plate, plateFound, selfKills;
    int squadReported = 0, smallSequences = 0, unreadable = 0;
};

// Plays the match through the readers at the engine's rates; returns what
// they reported and tallies the weapon plate on the way.
std::vector<hud::CombatEvent> replayMatch(const MatchSequence& match, CombatReplay& replay, MatchTallies& t,
                                          bool traceFeed, const QString& traceDir) {
    std::vector<hud::CombatEvent> reported;
    const FrameContent& look = match.look();
    const int W = look.width, H = look.height;
    for (int i = 0; i < match.frameCount(); ++i) {
        const std::int64_t now = MatchSequence::frameTime(i);
        const AuxSchedule which = replay.due(now, W, H);
        if (!which.feed && !which.down && !which.plate)
            continue;
        const FrameContent frame = match.frame(i);
        // Each due reader on its own painted window, in the engine's order.
        for (int r = 0; r < 3; ++r) {
            AuxSchedule one;
            one.feed = r == 0 && which.feed;
            one.down = r == 1 && which.down;
            one.fullScan = one.down && which.fullScan;
            one.plate = r == 2 && which.plate;
            const std::vector<QRect> regions = CombatReplay::windows(one, W, H);
            if (regions.empty())
                continue;
            const QRect box = captureWindow(regions.front(), W, H);
            const std::size_t before = reported.size();
            const QImage painted = renderFrame(frame, box);
            replay.run(one, painted, box.topLeft(), W, H, now, reported);
            if (traceFeed && one.feed) {
                if (!traceDir.isEmpty())
                    captureRegion(painted, box.topLeft(), H, feedRegion(W, H), 2160.0)
                        .save(QDir(traceDir).filePath(
                            QStringLiteral("feed-%1.png").arg(now, 6, 10, QLatin1Char('0'))));
                std::string rows;
                for (const hud::FeedRow& row : replay.lastFeed().rows)
                    rows += "  y " + std::to_string(row.y) + " side " +
                            std::to_string(static_cast<int>(row.side)) + " dist " +
                            (row.hasDistance ? std::to_string(row.distance) : std::string("-")) + " icon " +
                            (row.icon.empty() ? std::string("-") : row.icon) + " | " + row.text + "\n";
                std::printf("feed t %lld: %zu rows\n%s", static_cast<long long>(now),
                            replay.lastFeed().rows.size(), rows.c_str());
                for (std::size_t e = before; e < reported.size(); ++e)
                    std::printf("  reported %s\n", hud::describe(reported[e]).c_str());
            }
        }
        if (which.plate) {
            const bool shown = frame.plate.has_value() && !frame.down;
            if (shown) {
                t.plateFound.add(replay.lastPlate().found);
                t.plate.add(replay.lastPlate().name == frame.plate->name);
            }
        }
    }
    return reported;
}

// One-to-one matching in time order: each truth event takes the earliest
// unmatched report of its kind within its window. Returns whether anything
// was missed or reported beyond the truth, with both in `missed` and `extra`.
bool scoreMatch(const MatchSequence& match, const std::vector<hud::CombatEvent>& reported, MatchTallies& t,
                QJsonArray& missed, QJsonArray& extra) {
    std::vector<bool> used(reported.size(), false);
    bool failed = false;
    // Below 1000 lines the engine reads neither the feed nor the plate, and
    // an up needs the plate back: only downs can be reported there.
    const bool small = match.look().height < 1000;
    const bool large = match.look().height >= 1080;
    if (small)
        ++t.smallSequences;
    for (const MatchEvent& truth : match.events()) {
        if (truth.kind == MatchEventKind::Kill && truth.squad)
            continue; // friendly fire is not reported as a kill
        if (small && truth.kind != MatchEventKind::Down) {
            ++t.unreadable;
            continue;
        }
        const hud::CombatEvent* hit = nullptr;
        for (std::size_t j = 0; j < reported.size(); ++j)
            if (!used[j] && sameKind(truth, reported[j]) && inTime(truth, reported[j])) {
                used[j] = true;
                hit = &reported[j];
                break;
            }
        t.recall[kindOf(truth.kind)].add(hit != nullptr);
        if (large)
            t.recallLarge[kindOf(truth.kind)].add(hit != nullptr);
        if (truth.kind == MatchEventKind::Death && truth.self)
            t.selfKills.add(hit != nullptr);
        if (!hit) {
            failed = true;
            missed.append(matchEventJson(truth));
            continue;
        }
        if (truth.kind == MatchEventKind::Kill || truth.kind == MatchEventKind::Death) {
            t.distance.add(hit->dist == truth.distance);
            t.icon.add(hit->wtype == truth.icon);
            t.headshot.add(hit->headshot == truth.headshot);
            if (truth.kind == MatchEventKind::Kill)
                t.weapon.add(hit->weapon == truth.weapon);
        }
    }
    for (std::size_t j = 0; j < reported.size(); ++j) {
        t.precision[reported[j].kind].add(used[j]);
        if (large)
            t.precisionLarge[reported[j].kind].add(used[j]);
        if (!used[j]) {
            failed = true;
            extra.append(reportedJson(reported[j]));
            for (const MatchEvent& truth : match.events())
                if (truth.kind == MatchEventKind::Kill && truth.squad && inTime(truth, reported[j]))
                    ++t.squadReported;
        }
    }
    return failed;
}

void dumpMatch(const QString& dir, std::uint32_t seed, const MatchSequence& match,
               const std::vector<hud::CombatEvent>& reported, const QJsonArray& missed,
               const QJsonArray& extra) {
    QJsonObject o;
    o["seed"] = static_cast<double>(seed);
    o["missed"] = missed;
    o["unmatched reports"] = extra;
    QJsonArray all;
    for (const hud::CombatEvent& e : reported)
        all.append(reportedJson(e));
    o["reported"] = all;
    o["truth"] = match.truthJson();
    QFile out(QDir(dir).filePath(QStringLiteral("match-%1.json").arg(seed)));
    if (out.open(QIODevice::WriteOnly))
        out.write(QJsonDocument(o).toJson(QJsonDocument::Indented));
}

void printTallies(const MatchEvalOptions& opt, MatchTallies& t) {
    std::printf("sequences %d (seeds %u to %u)\n", opt.count, opt.seed,
                opt.seed + static_cast<std::uint32_t>(opt.count) - 1);
    print("kill precision", t.precision[hud::CombatEvent::Kill]);
    print("kill recall", t.recall[hud::CombatEvent::Kill]);
    print("death precision", t.precision[hud::CombatEvent::Death]);
    print("death recall", t.recall[hud::CombatEvent::Death]);
    print("  self-kills found as deaths", t.selfKills);
    print("kill precision, 1080 lines and more", t.precisionLarge[hud::CombatEvent::Kill]);
    print("kill recall, 1080 lines and more", t.recallLarge[hud::CombatEvent::Kill]);
    print("death precision, 1080 lines and more", t.precisionLarge[hud::CombatEvent::Death]);
    print("death recall, 1080 lines and more", t.recallLarge[hud::CombatEvent::Death]);
    print("distance exact (found kills and deaths)", t.distance);
    print("weapon icon class right", t.icon);
    print("headshot flag right", t.headshot);
    print("weapon in hand right (found kills)", t.weapon);
    print("plate line found", t.plateFound);
    print("plate name right", t.plate);
    print("down precision", t.precision[hud::CombatEvent::Down]);
    print("downs detected", t.recall[hud::CombatEvent::Down]);
    print("up precision", t.precision[hud::CombatEvent::Up]);
    print("ups detected", t.recall[hud::CombatEvent::Up]);
    std::printf("%-44s %d\n", "friendly-fire rows reported as kills", t.squadReported);
    std::printf("%-44s %d (%d events not counted above)\n", "sequences below 1000 lines", t.smallSequences,
                t.unreadable);
}

} // namespace

int evalMatches(const MatchEvalOptions& opt) {
    std::string error;
    const auto killData = hud::loadKillData(opt.killDataPath.toStdString(), &error);
    if (!killData) {
        std::fprintf(stderr, "corvex-eval: %s\n", error.c_str());
        return 1;
    }
    MatchTallies tallies;
    for (int s = 0; s < opt.count; ++s) {
        const std::uint32_t seed = opt.seed + static_cast<std::uint32_t>(s);
        MatchOptions mo;
        mo.variation.degrade = opt.degrade;
        mo.variation.lookRange = opt.lookRange;
        const MatchSequence match(seed, mo);
        CombatReplay replay(opt.model, killData);
        replay.slowDown(opt.feedDivisor);
        const std::vector<hud::CombatEvent> reported =
            replayMatch(match, replay, tallies, opt.traceFeed, opt.dumpDir);
        QJsonArray missed;
        QJsonArray extra;
        const bool failed = scoreMatch(match, reported, tallies, missed, extra);
        if (failed && !opt.dumpDir.isEmpty())
            dumpMatch(opt.dumpDir, seed, match, reported, missed, extra);
        std::fflush(stdout); // the traces so far before the progress line
        std::fprintf(stderr, "corvex-eval: sequence %d of %d (%d frames, %zu events)\n", s + 1, opt.count,
                     match.frameCount(), reported.size());
    }
    printTallies(opt, tallies);
    return 0;
}

} // namespace synth
