// The engine with its service link: a played match reaching the loopback
// service, the cup lock on the game source, and a stop in the middle of a
// pass while uploads hang.

#include "engine_obs_support.h"

#include "match.h"
#include "test_service.h"

#include <QElapsedTimer>
#include <QJsonArray>

#include <algorithm>
#include <map>
#include <set>

using namespace enginetest;
using obstest::TestSource;

namespace {

constexpr char kToken[] = "tok-engine";

void linkTo(Settings& s, const testsvc::TestService& service) {
    s.server = service.apiBase();
    s.token = QString::fromLatin1(kToken);
    s.player_id = QStringLiteral("p-1");
    s.player_name = QStringLiteral("Tester");
}

testsvc::Player tester() {
    return testsvc::Player{QStringLiteral("p-1"), QStringLiteral("Tester"), QStringLiteral("tester")};
}

// A short clean 1080p match. A life lasts 15 s at least, so a down and the
// up after it need about 24 s; this seed has both, and two kills.
constexpr std::uint32_t kMatchSeed = 2389;
constexpr double kMatchSeconds = 24.0;

synth::MatchSequence shortMatch() {
    synth::MatchOptions options;
    options.minSeconds = kMatchSeconds;
    options.maxSeconds = kMatchSeconds;
    options.variation.anyResolution = false;
    options.variation.degrade = false;
    return synth::MatchSequence(kMatchSeed, options);
}

// Values the match shows for at least `minMs`, in order of showing, runs
// of one value collapsed.
std::vector<qint64> shownValues(const synth::MatchSequence& match, bool change, int minMs) {
    std::vector<std::pair<qint64, int>> runs;
    for (int i = 0; i < match.frameCount(); ++i) {
        const synth::FrameContent f = match.frame(i);
        if (change && !f.cash->change)
            continue;
        const qint64 v = change ? *f.cash->change : f.cash->balance;
        if (!runs.empty() && runs.back().first == v)
            runs.back().second += synth::kMatchFrameMs;
        else
            runs.emplace_back(v, synth::kMatchFrameMs);
    }
    std::vector<qint64> out;
    for (const auto& [v, ms] : runs)
        if (ms >= minMs && (out.empty() || out.back() != v))
            out.push_back(v);
    return out;
}

bool isSubsequence(const std::vector<qint64>& part, const std::vector<qint64>& whole) {
    std::size_t j = 0;
    for (qint64 v : whole)
        if (j < part.size() && part[j] == v)
            ++j;
    return j == part.size();
}

// A played match, frame by frame at the game's 10 frames a second, through
// a capture source into an engine linked to the loopback service: what the
// service stores is what the match showed, in order, each number once.
TEST(EngineLinkObs, APlayedMatchReachesTheServiceAsItsEvents) {
    const synth::MatchSequence match = shortMatch();
    const std::int64_t endMs = match.frameCount() * synth::kMatchFrameMs;
    // The last events need time on screen to be confirmed.
    std::vector<synth::MatchEvent> truth;
    std::set<synth::MatchEventKind> kinds;
    for (const synth::MatchEvent& e : match.events())
        if (e.time < endMs - 3000) {
            truth.push_back(e);
            kinds.insert(e.kind);
        }
    ASSERT_EQ(kinds.size(), 3u); // kill, down, up (no death in this match)
    testsvc::TestService service;
    ASSERT_TRUE(service.start()) << service.lastError().toStdString();
    service.addToken(QString::fromLatin1(kToken), tester());

    TestSource game(obstest::kGameCapture, QStringLiteral("Game"));
    game.setImage(synth::renderCaptureParts(match.frame(0)));
    EngineRun engine([&](Settings& s) {
        linkTo(s, service);
        s.fps = 10; // the rate the match's rows are timed for
    });
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));

    // Frames follow the wall clock; a frame painted late is skipped, never
    // shown longer, so the match keeps its timing.
    QElapsedTimer clock;
    clock.start();
    const std::int64_t start = wallNow();
    int shown = 0;
    int painted = 0;
    for (;;) {
        const int index = static_cast<int>(clock.elapsed() / synth::kMatchFrameMs);
        if (index >= match.frameCount())
            break;
        if (index != shown) {
            game.setImage(synth::renderCaptureParts(match.frame(index)));
            shown = index;
            ++painted;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    EXPECT_GT(painted, match.frameCount() * 3 / 4) << "the painter fell behind the match";
    pump(1500);
    ASSERT_TRUE(waitUntil([&] { return engine->uplink()->queueLength() == 0; }, 10000));
    engine->stop();

    // Each number once, in order, over all uploads.
    std::map<qint64, int> sent;
    for (const testsvc::Request& r : service.requestsTo(QStringLiteral("/ingest")))
        for (const QJsonValue& v : r.json().value("events").toArray())
            ++sent[num(v.toObject(), "seq")];
    for (const auto& [seq, times] : sent)
        EXPECT_EQ(times, 1) << "seq " << seq;
    EXPECT_EQ(service.duplicates(), 0);
    std::vector<QJsonObject> all;
    qint64 lastSeq = 0;
    for (const testsvc::StoredEvent& e : service.events()) {
        EXPECT_GT(e.seq, lastSeq);
        lastSeq = e.seq;
        all.push_back(e.event);
    }

    if (qEnvironmentVariableIsSet("CORVEX_DUMP_EVENTS")) {
        for (const QJsonObject& e : all)
            std::fprintf(stderr, "%s\n", QJsonDocument(e).toJson(QJsonDocument::Compact).constData());
        for (const synth::MatchEvent& e : match.events())
            std::fprintf(stderr, "truth %s\n",
                         QJsonDocument(synth::matchEventJson(e)).toJson(QJsonDocument::Compact).constData());
    }

    // Balances and changes: every value read is one the match showed, in
    // the order shown; every value shown for a second or more is read.
    // (The balance reader made no error on clean frames in the evaluation,
    // so no tolerance beyond the stabiliser's 300 ms.)
    std::vector<qint64> balances;
    for (const QJsonObject& e : ofKind(all, "bal"))
        if (!e.value("hb").toBool())
            balances.push_back(num(e, "v"));
    std::vector<qint64> changes;
    for (const QJsonObject& e : ofKind(all, "dlt"))
        changes.push_back(num(e, "v"));
    const std::vector<qint64> anyBalance = shownValues(match, false, 0);
    const std::vector<qint64> anyChange = shownValues(match, true, 0);
    EXPECT_TRUE(isSubsequence(balances, anyBalance))
        << ::testing::PrintToString(balances) << " vs " << ::testing::PrintToString(anyBalance);
    EXPECT_TRUE(isSubsequence(shownValues(match, false, 1000), balances))
        << ::testing::PrintToString(balances);
    EXPECT_TRUE(isSubsequence(changes, anyChange))
        << ::testing::PrintToString(changes) << " vs " << ::testing::PrintToString(anyChange);
    EXPECT_TRUE(isSubsequence(shownValues(match, true, 1000), changes)) << ::testing::PrintToString(changes);

    // Reward lines: text and amount as the match showed them. The phrase
    // of a line on a light panel is not always read (the reader's known
    // weak spot); such a line still counts by its amount.
    std::map<std::string, std::set<qint64>> lineTexts;
    std::set<qint64> figures;
    for (int i = 0; i < match.frameCount(); ++i) {
        const synth::FrameContent f = match.frame(i);
        for (const synth::RewardLine& l : f.cash->lines) {
            lineTexts[l.text].insert(l.hasFigure ? l.figure : -1);
            if (l.hasFigure)
                figures.insert(l.figure);
        }
    }
    const std::vector<QJsonObject> lines = ofKind(all, "feed");
    EXPECT_FALSE(lines.empty());
    std::set<std::string> linesRead;
    for (const QJsonObject& l : lines) {
        const std::string text = l.value("txt").toString().toStdString();
        linesRead.insert(text);
        if (text.empty()) {
            EXPECT_TRUE(l.contains("amt") && figures.count(num(l, "amt"))) << num(l, "amt");
            continue;
        }
        EXPECT_TRUE(lineTexts.count(text)) << "'" << text << "'";
        if (lineTexts.count(text) && l.contains("amt")) {
            EXPECT_TRUE(lineTexts[text].count(num(l, "amt"))) << text << " " << num(l, "amt");
        }
    }
    for (const auto& [text, amounts] : lineTexts) {
        if (text.find(' ') != std::string::npos) { // never on a panel
            EXPECT_TRUE(linesRead.count(text)) << "line not reported: " << text;
        }
    }

    // Combat: the match's kills, deaths, downs and ups, in order, with the
    // row's distance, icon and headshot and the weapon in hand, each timed
    // within a second and a half of its showing.
    std::vector<QJsonObject> combat;
    for (const QJsonObject& e : all) {
        const QString k = e.value("k").toString();
        if (k == "kill" || k == "death" || k == "down" || k == "up")
            combat.push_back(e);
    }
    ASSERT_GE(combat.size(), truth.size()) << engine.readerLog().toStdString();
    for (std::size_t i = 0; i < truth.size(); ++i) {
        const synth::MatchEvent& want = truth[i];
        const QJsonObject& got = combat[i];
        SCOPED_TRACE(::testing::Message()
                     << "event " << i << " " << synth::matchEventName(want.kind) << " at " << want.time);
        EXPECT_EQ(got.value("k").toString().toStdString(), synth::matchEventName(want.kind));
        EXPECT_GE(num(got, "t"), start + want.time - 200);
        EXPECT_LE(num(got, "t"), start + want.time + 1500);
        if (want.kind == synth::MatchEventKind::Kill || want.kind == synth::MatchEventKind::Death) {
            EXPECT_EQ(num(got, "dist"), want.distance);
            EXPECT_EQ(got.value("wtype").toString().toStdString(), want.icon);
            EXPECT_EQ(got.value("hs").toBool(), want.headshot);
        }
        if (want.kind == synth::MatchEventKind::Kill) {
            EXPECT_EQ(got.value("weapon").toString().toStdString(), want.weapon);
        }
    }

    // Status records every 5 s describe the source.
    const std::vector<QJsonObject> statuses = ofKind(all, "status");
    EXPECT_GE(statuses.size(), 3u);
    for (const QJsonObject& s : statuses) {
        EXPECT_EQ(s.value("res").toArray(), QJsonArray({1920, 1080}));
        EXPECT_EQ(s.value("source").toObject().value("name").toString(), QStringLiteral("Game"));
        EXPECT_EQ(s.value("source").toObject().value("type").toString(), QStringLiteral("game_capture"));
    }
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(),
                            [](const QJsonObject& s) { return s.value("hud").toBool(); }));
}

QJsonObject cupPhase(const QString& phase) {
    return QJsonObject{{"cup", QJsonObject{{"id", "cup-1"}, {"name", "Cup"}, {"phase", phase}}}};
}

// While a cup is live the source is followed by identity: a rename is
// harmless, while a capture of another program, a source of another type
// in its place, or its removal is each reported once per lock.
TEST(EngineLinkObs, TheCupLockFollowsTheSourceAndReportsEachChangeOnce) {
    auto game = std::make_unique<TestSource>(obstest::kGameCapture, QStringLiteral("Game"));
    const QImage frame = paint(hudFrame(8800));
    game->setImage(frame);
    EngineRun engine;
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));
    const QString changed = QStringLiteral("CHANGED during the cup");
    auto record = [&] { engine->statusRecordForTesting(wallNow()); };
    auto lock = [&] {
        engine->uplink()->parseStatus(cupPhase(QStringLiteral("live")));
        engine->tickForTesting();
        ASSERT_TRUE(engine->readerStatus().locked);
    };
    auto unlock = [&] {
        engine->uplink()->parseStatus(cupPhase(QStringLiteral("ended")));
        engine->tickForTesting();
        ASSERT_FALSE(engine->readerStatus().locked);
    };

    lock();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"),
                              QStringLiteral("LOCKED for the cup: 'Game' (game_capture, game.exe)")),
              1);
    EXPECT_FALSE(engine->pickSource(QStringLiteral("Other")));

    // Renamed: still read, shown under the new name, not a change.
    game->rename(QStringLiteral("Game renamed"));
    game->setImage(paint(hudFrame(9100)));
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balance == 9100; }));
    record();
    ReaderStatus s = engine->readerStatus();
    EXPECT_EQ(s.source, QStringLiteral("Game renamed"));
    EXPECT_EQ(s.info.name, QStringLiteral("Game renamed"));
    EXPECT_TRUE(s.statusText.isEmpty());
    EXPECT_FALSE(s.changedDuringCup);
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), changed), 0);

    // Hooked into another program: once, however many records follow.
    game->setHooked(true, QStringLiteral("Other.exe"));
    record();
    record();
    EXPECT_TRUE(engine->readerStatus().changedDuringCup);
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), changed), 1);
    EXPECT_EQ(engine.logCount(
                  QStringLiteral("SOURCE"),
                  QStringLiteral("CHANGED during the cup: now 'Game renamed' (game_capture, Other.exe)")),
              1);
    // The same program under another case is the same program.
    unlock();
    game->setHooked(true, QStringLiteral("game.exe"));
    lock();
    game->setHooked(true, QStringLiteral("GAME.EXE"));
    record();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), changed), 1);
    unlock();

    // Another type under the same name: the locked source is gone, once.
    lock();
    game.reset();
    auto window = std::make_unique<TestSource>(obstest::kWindowCapture, QStringLiteral("Game renamed"));
    window->setImage(frame);
    ASSERT_TRUE(engine.waitPasses(2));
    record();
    record();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), changed), 2);
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), QStringLiteral("CHANGED during the cup: now 'gone'")),
              1);
    ASSERT_TRUE(engine.waitPasses(2));
    EXPECT_EQ(engine->readerStatus().statusText, Lang::text("Reader.WhyLockedGone"));
    unlock();

    // After the cup the reader finds the window capture (the dock's
    // "automatic" starts a search at once); removed during the next cup, it
    // is reported once.
    ASSERT_TRUE(engine->pickSource(QString()));
    ASSERT_TRUE(engine.waitStatus(
        [](const ReaderStatus& r) { return r.source == QLatin1String("Game renamed") && r.recentHud; }));
    lock();
    EXPECT_EQ(
        engine.logCount(QStringLiteral("SOURCE"),
                        QStringLiteral("LOCKED for the cup: 'Game renamed' (window_capture, game.exe)")),
        1);
    window->remove();
    ASSERT_TRUE(engine.waitPasses(2)); // the pass in flight lets go of it
    record();
    record();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), changed), 3);
    unlock();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"), QStringLiteral("unlocked (cup over)")), 4);
}

// Stopping while the reader is inside a capture and an upload hangs: the
// pass finishes, the final tick hands its events over, and every event the
// reader log names is in pending.json for the next run.
TEST(EngineLinkObs, StopMidPassWithUploadsInFlightLosesNoEvent) {
    testsvc::TestService service;
    ASSERT_TRUE(service.start()) << service.lastError().toStdString();
    service.addToken(QString::fromLatin1(kToken), tester());
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::hang().sticky());

    TestSource game(obstest::kGameCapture, QStringLiteral("Game"));
    game.setImage(paint(hudFrame(5000)));
    EngineRun engine([&](Settings& s) {
        linkTo(s, service);
        s.source = QStringLiteral("Game");
    });
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balance == 5000; }));
    ASSERT_TRUE(waitUntil([&] { return service.countTo(QStringLiteral("/ingest")) >= 1; }, 5000));
    game.setImage(paint(hudFrame(5400, 400)));
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balance == 5400; }));

    game.stallNextRender(400);
    ASSERT_TRUE(game.waitForStall(3000));
    engine->stop();
    EXPECT_FALSE(engine->running());
    engine.keepLogPath();
    engine.destroy(); // the upload still hangs

    const QJsonObject pending = engine.pendingFile();
    EXPECT_EQ(pending.value("player").toString(), QStringLiteral("p-1"));
    std::vector<QJsonObject> events;
    std::set<qint64> seqs;
    for (const QJsonValue& v : pending.value("events").toArray()) {
        events.push_back(v.toObject());
        EXPECT_TRUE(seqs.insert(num(v.toObject(), "seq")).second);
    }
    const std::vector<QJsonObject> reported = withoutStatus(events);
    EXPECT_EQ(static_cast<int>(reported.size()), engine.logCount(QStringLiteral("EVENT"), QString()));
    std::vector<qint64> balances;
    for (const QJsonObject& e : ofKind(reported, "bal"))
        balances.push_back(num(e, "v"));
    EXPECT_EQ(balances, (std::vector<qint64>{5000, 5400}));
    EXPECT_EQ(ofKind(reported, "dlt").size(), 1u);
    EXPECT_GE(ofKind(events, "status").size(), 1u);

    service.stop(); // lets the hung upload end; nobody is left to hear it
    pump(200);
}

} // namespace
