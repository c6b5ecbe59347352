// Compares what the loopback service received (its --record file) with the
// truth of the painted match that OBS played, and checks the upload stream
// itself: each seq stored once, in order, without holes within one run of
// the module, and a status record at least every 5 s.
//
//   corvex-e2e-check --truth truth.json --record record.jsonl [options]
//
// Received events are placed on the match's clock by the test game's log of
// when it showed each frame (--shown; a loaded machine plays slower than the
// match's clock, and a restart pauses and resumes it). A truth item
// counts as received when an event of its kind with its value arrived within
// --slack ms of it. Values are compared exactly, except the kill distance
// (within 1 m, or not read). --skip FROM:TO (ms of the match, repeatable)
// excuses what the match shows in a window whose events may be lost;
// --down FROM:TO (wall clock ms) is a time OBS was not running.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <set>
#include <vector>

namespace {

struct Received {
    std::int64_t seq = 0;
    std::int64_t at = 0;
    QJsonObject event;
    int run = 0;
    qint64 t() const { return static_cast<qint64>(event.value("t").toDouble()); }
    QString kind() const { return event.value("k").toString(); }
};

struct Expected {
    QString kind;    // "bal", "dlt", "feed", "kill", "death", "down", "up"
    qint64 time = 0; // ms from the first frame
    qint64 value = 0;
    QString text;
    bool hasXp = false;
    bool headshot = false;
    int dist = -1;
    QString describe() const {
        QString s = QStringLiteral("%1 at %2 ms").arg(kind).arg(time);
        if (kind == "bal" || kind == "dlt")
            s += QStringLiteral(" value %1").arg(value);
        if (kind == "feed")
            s += QStringLiteral(" [%1] %2%3").arg(text).arg(value).arg(hasXp ? "XP" : "");
        if (kind == "kill" || kind == "death")
            s += QStringLiteral(" dist %1%2").arg(dist).arg(headshot ? " headshot" : "");
        return s;
    }
};

int failures = 0;

void fail(const QString& text) {
    ++failures;
    std::printf("FAIL: %s\n", text.toUtf8().constData());
}

void note(const QString& text) {
    std::printf("%s\n", text.toUtf8().constData());
}

QJsonObject readJson(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

// What the match shows: each balance and change when it first appears, each
// reward line when it comes up, and the feed's events.
std::vector<Expected> expectedOf(const QJsonObject& truth) {
    std::vector<Expected> out;
    const QJsonArray frames = truth.value("frameTruth").toArray();
    qint64 lastBalance = -1;
    bool haveChange = false;
    qint64 lastChange = 0;
    std::set<QString> shownLines;
    for (const QJsonValue& fv : frames) {
        const QJsonObject f = fv.toObject();
        const qint64 time = static_cast<qint64>(f.value("time").toDouble());
        if (f.value("balance").isDouble()) {
            const auto b = static_cast<qint64>(f.value("balance").toDouble());
            if (b != lastBalance)
                out.push_back({"bal", time, b, {}, false, false, -1});
            lastBalance = b;
        }
        if (f.value("change").isDouble()) {
            const auto c = static_cast<qint64>(f.value("change").toDouble());
            if (!haveChange || c != lastChange)
                out.push_back({"dlt", time, c, {}, false, false, -1});
            haveChange = true;
            lastChange = c;
        }
        std::set<QString> lines;
        for (const QJsonValue& lv : f.value("lines").toArray()) {
            const QJsonObject l = lv.toObject();
            Expected e{"feed", time, 0, l.value("text").toString(), l.contains("xp"), false, -1};
            e.value = static_cast<qint64>(l.contains("xp") ? l.value("xp").toDouble()
                                                           : l.value("figure").toDouble());
            const QString key = QStringLiteral("%1|%2|%3").arg(e.text).arg(e.value).arg(e.hasXp);
            lines.insert(key);
            if (!shownLines.count(key))
                out.push_back(e);
        }
        shownLines = lines;
    }
    for (const QJsonValue& ev : truth.value("events").toArray()) {
        const QJsonObject e = ev.toObject();
        Expected x;
        x.kind = e.value("kind").toString();
        x.time = static_cast<qint64>(e.value("time").toDouble());
        x.headshot = e.value("headshot").toBool();
        x.dist = e.value("distance").isDouble() ? e.value("distance").toInt() : -1;
        out.push_back(x);
    }
    return out;
}

bool sameValue(const Expected& x, const Received& r) {
    const QJsonObject& e = r.event;
    if (x.kind == "bal" || x.kind == "dlt")
        return static_cast<qint64>(e.value("v").toDouble()) == x.value;
    if (x.kind == "feed") {
        if (e.value("txt").toString() != x.text)
            return false;
        return x.hasXp ? e.value("xp").toInt() == x.value
                       : static_cast<qint64>(e.value("amt").toDouble()) == x.value;
    }
    if (x.kind == "kill" || x.kind == "death") {
        if (e.value("hs").toBool() != x.headshot)
            return false;
        return e.value("dist").isNull() || x.dist < 0 || std::abs(e.value("dist").toInt() - x.dist) <= 1;
    }
    return true; // down, up
}

struct Window {
    qint64 from = 0;
    qint64 to = 0;
};

bool inAny(const std::vector<Window>& windows, qint64 t) {
    return std::any_of(windows.begin(), windows.end(),
                       [t](const Window& w) { return t >= w.from && t <= w.to; });
}

std::vector<Window> windowsOf(const QStringList& values) {
    std::vector<Window> out;
    for (const QString& v : values)
        out.push_back({v.section(':', 0, 0).toLongLong(), v.section(':', 1, 1).toLongLong()});
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    cli.addHelpOption();
    const QCommandLineOption truthOpt("truth", "truth.json of the match.", "file");
    const QCommandLineOption shownOpt("shown", "The test game's log of frames shown.", "file");
    const QCommandLineOption recordOpt("record", "The service's record (one JSON line per event).", "file");
    const QCommandLineOption slackOpt("slack", "Allowed difference of event times, ms.", "ms", "2500");
    const QCommandLineOption skipOpt("skip", "Window FROM:TO (ms of the match) whose events may be lost.",
                                     "window");
    const QCommandLineOption downOpt("down", "Wall-clock window FROM:TO (ms) while OBS was not running.",
                                     "window");
    const QCommandLineOption pendingOpt("pending", "A pending.json whose every event must have arrived.",
                                        "file");
    const QCommandLineOption statusGapOpt("status-gap", "Longest allowed gap between status records, ms.",
                                          "ms", "5600");
    const QCommandLineOption lockOpt(
        "lock", "Check the cup-lock reports: the source renamed to NAME, then removed.", "name");
    cli.addOptions(
        {truthOpt, shownOpt, recordOpt, slackOpt, skipOpt, downOpt, pendingOpt, statusGapOpt, lockOpt});
    cli.process(app);

    const QJsonObject truth = readJson(cli.value(truthOpt));
    if (truth.isEmpty()) {
        fail("cannot read the truth " + cli.value(truthOpt));
        return 1;
    }
    QFile recordFile(cli.value(recordOpt));
    if (!recordFile.open(QIODevice::ReadOnly)) {
        fail("cannot read the record " + cli.value(recordOpt));
        return 1;
    }
    std::vector<Received> received;
    int resent = 0;
    for (const QByteArray& line : recordFile.readAll().split('\n')) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        if (o.isEmpty())
            continue;
        if (o.value("dup").toBool()) {
            ++resent;
            continue;
        }
        received.push_back({static_cast<std::int64_t>(o.value("seq").toDouble()),
                            static_cast<std::int64_t>(o.value("at").toDouble()),
                            o.value("event").toObject()});
    }
    note(QStringLiteral("%1 events stored, %2 re-sent copies dropped by seq")
             .arg(received.size())
             .arg(resent));

    // --- the stream: once, in order, no holes within a run -----------------
    std::set<std::int64_t> seen;
    int holes = 0;
    int runs = received.empty() ? 0 : 1;
    for (std::size_t i = 0; i < received.size(); ++i) {
        const std::int64_t seq = received[i].seq;
        if (!seen.insert(seq).second)
            fail(QStringLiteral("seq %1 stored twice").arg(seq));
        if (i == 0)
            continue;
        const std::int64_t prev = received[i - 1].seq;
        if (seq <= prev)
            fail(QStringLiteral("seq %1 arrived after seq %2").arg(seq).arg(prev));
        else if (seq - prev >= 50000)
            ++runs; // a restart: the module's numbers jump ahead
        else if (seq != prev + 1)
            holes += static_cast<int>(seq - prev - 1);
        received[i].run = runs - 1;
    }
    note(QStringLiteral("%1 run(s) of the module, %2 seq(s) missing inside a run").arg(runs).arg(holes));
    if (holes > 0)
        fail(QStringLiteral("%1 events lost inside a run").arg(holes));

    if (cli.isSet(pendingOpt)) {
        const QJsonObject pending = readJson(cli.value(pendingOpt));
        int waiting = 0;
        int missing = 0;
        for (const QJsonValue& v : pending.value("events").toArray()) {
            ++waiting;
            if (!seen.count(static_cast<std::int64_t>(v.toObject().value("seq").toDouble())))
                ++missing;
        }
        note(QStringLiteral("pending.json held %1 events").arg(waiting));
        if (missing)
            fail(QStringLiteral("%1 of the %2 events of pending.json never arrived")
                     .arg(missing)
                     .arg(waiting));
    }

    // --- status records -----------------------------------------------------
    const std::vector<Window> skips = windowsOf(cli.values(skipOpt));
    const std::vector<Window> downs = windowsOf(cli.values(downOpt));
    const qint64 maxGap = cli.value(statusGapOpt).toLongLong();
    std::vector<const Received*> statuses;
    for (const Received& r : received)
        if (r.kind() == "status")
            statuses.push_back(&r);
    qint64 longest = 0;
    for (std::size_t i = 1; i < statuses.size(); ++i) {
        const qint64 a = statuses[i - 1]->t();
        const qint64 b = statuses[i]->t();
        bool excused = false;
        for (const Window& w : downs)
            excused = excused || (a <= w.to && b >= w.from);
        if (!excused)
            longest = std::max(longest, b - a);
    }
    note(QStringLiteral("%1 status records, longest gap %2 ms").arg(statuses.size()).arg(longest));
    if (statuses.size() < 2)
        fail("fewer than two status records");
    if (longest > maxGap)
        fail(QStringLiteral("status records %1 ms apart (at most %2)").arg(longest).arg(maxGap));

    // --- the match's truth --------------------------------------------------
    std::vector<Expected> expected = expectedOf(truth);
    // Wall clock -> frame shown then, from the game's log.
    std::vector<std::pair<qint64, qint64>> shown; // (epoch ms, frame index from 0)
    {
        QFile file(cli.value(shownOpt));
        if (!file.open(QIODevice::ReadOnly)) {
            fail("cannot read the game's log of frames shown " + cli.value(shownOpt));
            return 1;
        }
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2)
                shown.emplace_back(parts[1].toLongLong(), parts[0].toLongLong() - 1);
        }
        std::stable_sort(shown.begin(), shown.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    if (shown.empty()) {
        fail("the game showed no frames");
        return 1;
    }
    const qint64 frameMs = truth.value("frameMs").toInt(100);
    // Where on the match's clock an event was seen: the frame on screen at
    // its time, plus the time since it came (at most one frame).
    auto matchTime = [&](const Received& r) {
        const qint64 t = r.t();
        auto it = std::upper_bound(shown.begin(), shown.end(),
                                   std::make_pair(t, std::numeric_limits<qint64>::max()));
        if (it == shown.begin())
            return shown.front().second * frameMs - (shown.front().first - t);
        --it;
        return it->second * frameMs + std::min(t - it->first, frameMs);
    };
    const qint64 slack = cli.value(slackOpt).toLongLong();
    std::vector<bool> used(received.size(), false);
    std::map<QString, std::pair<int, int>> tally; // kind -> (expected, received)
    int excused = 0;
    for (const Expected& x : expected) {
        bool found = false;
        for (std::size_t i = 0; i < received.size() && !found; ++i) {
            const Received& r = received[i];
            if (used[i] || r.kind() != x.kind || std::abs(matchTime(r) - x.time) > slack || !sameValue(x, r))
                continue;
            used[i] = true;
            found = true;
        }
        if (!found && inAny(skips, x.time)) {
            ++excused;
            continue;
        }
        ++tally[x.kind].first;
        if (found)
            ++tally[x.kind].second;
        else
            fail("not received: " + x.describe());
    }
    if (!skips.empty())
        note(QStringLiteral("%1 item(s) of the match not received in the excused windows").arg(excused));
    // Anything else of these kinds is a wrong read (heartbeats repeat a balance).
    for (std::size_t i = 0; i < received.size(); ++i) {
        const Received& r = received[i];
        const QString k = r.kind();
        if (used[i] || k == "status" || k == "snap" || r.event.value("hb").toBool())
            continue;
        if (k == "bal" || k == "dlt") {
            // A balance seen again later (the same value back, or shown again
            // after a restart) is no error.
            const bool known = std::any_of(expected.begin(), expected.end(),
                                           [&](const Expected& x) { return x.kind == k && sameValue(x, r); });
            if (known)
                continue;
        }
        fail(QStringLiteral("received but not in the match: seq %1 %2")
                 .arg(r.seq)
                 .arg(QString::fromUtf8(QJsonDocument(r.event).toJson(QJsonDocument::Compact))));
    }
    for (const auto& [kind, counts] : tally)
        note(QStringLiteral("%1: %2 of %3 received").arg(kind).arg(counts.second).arg(counts.first));

    // --- the cup lock: renamed (no report), then removed (one report) -------
    if (cli.isSet(lockOpt)) {
        const QString renamed = cli.value(lockOpt);
        bool sawRenamed = false;
        int reports = 0;
        bool changed = false;
        for (const Received* s : statuses) {
            const QJsonObject src = s->event.value("source").toObject();
            if (!src.value("locked").toBool())
                continue;
            if (src.value("name").toString() == renamed && !src.value("changed").toBool())
                sawRenamed = true;
            if (src.value("changed").toBool() && !changed)
                ++reports;
            if (changed && !src.value("changed").toBool())
                fail("the change report was withdrawn while the cup was still live");
            changed = src.value("changed").toBool();
        }
        if (!sawRenamed)
            fail("no locked status record showed the new name '" + renamed + "' without a change");
        if (reports != 1)
            fail(QStringLiteral("the removed source was reported %1 times, not once").arg(reports));
        else
            note("cup lock: the rename was followed, the removal reported once");
    }

    note(failures ? QStringLiteral("%1 check(s) failed").arg(failures) : QStringLiteral("all checks passed"));
    return failures ? 1 : 0;
}
