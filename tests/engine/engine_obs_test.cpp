// The reader engine on a real libobs core: which sources it considers, how
// it finds the game among them, what it captures and reads from their
// pixels, and how it copes with sources that are empty, huge or vanish.

#include "engine_obs_support.h"

#include "plugin/obs-compat.h"

#include <QFile>

using namespace enginetest;
using obstest::TestSource;

namespace {

TEST(EngineObs, CandidatesAreVideoCapturesOfTheTableInPriorityThenNameOrder) {
    TestSource b(obstest::kGameCapture, QStringLiteral("B"));
    TestSource a(obstest::kGameCapture, QStringLiteral("A"));
    TestSource window(obstest::kWindowCapture, QStringLiteral("0 window"));
    TestSource lower(obstest::kGameCapture, QStringLiteral("a")); // after "B" by character code
    TestSource audio(obstest::kAudioOnly, QStringLiteral("0 audio"));
    TestSource picture(obstest::kPicture, QStringLiteral("0 picture"));
    obs_scene_t* scene = obs_scene_create("0 scene");
    ASSERT_TRUE(a && b && window && lower && audio && picture && scene);

    EXPECT_EQ(Engine::candidateSources(), QStringList({QStringLiteral("A"), QStringLiteral("B"),
                                                       QStringLiteral("a"), QStringLiteral("0 window")}));
    obs_source_remove(obs_scene_get_source(scene));
    obs_scene_release(scene);
}

// Discovery passes over a capture without the HUD, takes the first that
// shows it, and from then on the engine reads the balance and the change
// from the captured pixels; every confirmed value becomes one event.
TEST(EngineObs, FindsTheGameAndReadsBalanceAndChangeFromItsPixels) {
    TestSource empty(obstest::kGameCapture, QStringLiteral("A empty"));
    TestSource game(obstest::kGameCapture, QStringLiteral("B game"));
    TestSource desktop(obstest::kWindowCapture, QStringLiteral("Desktop"));
    empty.setImage(noHudFrame());
    game.setImage(paint(hudFrame(12345, 250)));
    desktop.setImage(paint(hudFrame(999)));

    EngineRun engine;
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown && s.changeKnown; }));
    ReaderStatus s = engine->readerStatus();
    EXPECT_EQ(s.source, QStringLiteral("B game"));
    EXPECT_TRUE(s.automatic);
    EXPECT_EQ(s.balance, 12345);
    EXPECT_EQ(s.change, 250);
    EXPECT_EQ(s.sourceWidth, 1920);
    EXPECT_EQ(s.sourceHeight, 1080);
    EXPECT_TRUE(s.statusText.isEmpty()) << s.statusText.toStdString();
    EXPECT_EQ(engine.logCount(QStringLiteral("SOURCE"),
                              QStringLiteral("found the cash HUD in 'B game' (1920x1080)")),
              1);
    EXPECT_GT(empty.renders(), 0); // it was tried first

    // The HUD region, 0.42 x 0.22 of the height, comes back 907 pixels wide.
    const QImage hud = engine->lastHudImage();
    EXPECT_EQ(hud.width(), 907);
    EXPECT_EQ(hud.height(), 475);
    const hud::HudReading reading = engine->lastReading();
    EXPECT_TRUE(reading.balanceCertain);
    EXPECT_EQ(reading.balanceText, "$12,345");

    game.setImage(paint(hudFrame(12095, -250)));
    ASSERT_TRUE(
        engine.waitStatus([](const ReaderStatus& r) { return r.balance == 12095 && r.change == -250; }));
    engine->tickForTesting();
    const std::vector<QJsonObject> events = queued(*engine->uplink());
    std::vector<qint64> balances;
    std::vector<qint64> changes;
    qint64 lastSeq = 0;
    for (const QJsonObject& e : events) {
        EXPECT_GT(num(e, "seq"), lastSeq);
        lastSeq = num(e, "seq");
        if (e.value("k") == QLatin1String("bal") && !e.value("hb").toBool())
            balances.push_back(num(e, "v"));
        if (e.value("k") == QLatin1String("dlt"))
            changes.push_back(num(e, "v"));
    }
    EXPECT_EQ(balances, (std::vector<qint64>{12345, 12095}));
    EXPECT_EQ(changes, (std::vector<qint64>{250, -250}));
    EXPECT_EQ(engine.logCount(QStringLiteral("EVENT"), QStringLiteral("balance $12,095")), 1);
    EXPECT_EQ(engine.logCount(QStringLiteral("EVENT"), QStringLiteral("match change -$250")), 1);
}

// A row of the kill feed in which the player (the marked name) killed
// someone becomes one kill with the row's
// distance and icon and the weapon the plate showed.
TEST(EngineObs, ReadsAKillOfThePlayerFromThePaintedKillFeed) {
    synth::FrameContent before = hudFrame(4200);
    synth::Plate plate;
    plate.name = "AK74";
    before.plate = plate;
    before.feed = synth::KillFeed{};
    synth::FrameContent after = before;
    synth::FeedRowContent row;
    row.killer = "CORVEX_ME";
    row.killerWho = synth::FeedWho::Me;
    row.victim = "VIPER_07";
    row.icon = "rifle";
    row.distance = 87;
    synth::FeedRowContent other;
    other.killer = "NORDWIND";
    other.victim = "KESTREL";
    other.icon = "shotgun";
    other.distance = 12;
    after.feed->rows = {row, other};
    const QImage quiet = paint(before);
    const QImage kill = paint(after);

    TestSource game(obstest::kGameCapture, QStringLiteral("Game"));
    game.setImage(quiet);
    EngineRun engine([](Settings& s) { s.source = QStringLiteral("Game"); });
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));
    pump(1200); // the plate is read once a second
    game.setImage(kill);
    const std::int64_t shownAt = wallNow();
    // Right after the start the kill-feed reader may run at a quarter of its
    // rate (the first, cold passes are slow): the row stays for as long as
    // the game shows one, and a second more proves it counts once.
    ASSERT_TRUE(waitUntil([&] { return !ofKind(queued(*engine->uplink()), "kill").empty(); }, 7000))
        << engine.readerLog().toStdString();
    pump(1000);
    engine->tickForTesting();
    const std::vector<QJsonObject> kills = ofKind(queued(*engine->uplink()), "kill");
    ASSERT_EQ(kills.size(), 1u) << engine.readerLog().toStdString();
    EXPECT_EQ(num(kills[0], "dist"), 87);
    EXPECT_EQ(kills[0].value("wtype").toString(), QStringLiteral("rifle"));
    EXPECT_EQ(kills[0].value("weapon").toString(), QStringLiteral("AK74"));
    EXPECT_FALSE(kills[0].value("hs").toBool());
    // Timed when the row was first read: within one kill-feed period (at
    // most 4 x 330 ms) and a pass of its showing.
    EXPECT_GE(num(kills[0], "t"), shownAt - 50);
    EXPECT_LE(num(kills[0], "t"), shownAt + 1600);
    EXPECT_TRUE(ofKind(queued(*engine->uplink()), "death").empty());
    EXPECT_EQ(engine.logCount(QStringLiteral("EVENT"), QStringLiteral("kill 87 m weapon AK74 (rifle)")), 1);
}

// A capture that shows nothing yet (0 x 0) is passed over; a huge one is
// read through a capture of the usual small size.
TEST(EngineObs, PassesOverAnEmptySourceAndReadsAHugeOneAtTheUsualSize) {
    TestSource empty(obstest::kGameCapture, QStringLiteral("A empty"));
    TestSource huge(obstest::kGameCapture, QStringLiteral("B huge"));
    huge.setImage(paint(hudFrame(777000)));
    huge.setSize(7680, 4320);

    EngineRun engine;
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));
    ReaderStatus s = engine->readerStatus();
    EXPECT_EQ(s.source, QStringLiteral("B huge"));
    EXPECT_EQ(s.balance, 777000);
    EXPECT_EQ(s.sourceWidth, 7680);
    EXPECT_EQ(s.sourceHeight, 4320);
    const QImage hud = engine->lastHudImage();
    EXPECT_EQ(hud.width(), 907);
    EXPECT_EQ(hud.height(), 475);
    EXPECT_EQ(empty.renders(), 0); // nothing to render: the capture gave up before the device

    // Pinned to the empty one: nothing is captured, and the status says so.
    ASSERT_TRUE(engine->pickSource(QStringLiteral("A empty")));
    ASSERT_TRUE(
        engine.waitStatus([](const ReaderStatus& r) { return r.source == QLatin1String("A empty"); }));
    ASSERT_TRUE(engine.waitPasses(2));
    s = engine->readerStatus();
    EXPECT_EQ(s.sourceWidth, 0);
    EXPECT_EQ(s.statusText, Lang::text("Reader.WhyCantRead"));
    EXPECT_TRUE(engine->running());
}

// The source goes while the reader is inside its capture: the pass ends
// on its own reference, later passes find nothing, and a new source of that
// name is read again.
TEST(EngineObs, ASourceRemovedMidPassIsLetGoAndItsSuccessorRead) {
    auto game = std::make_unique<TestSource>(obstest::kGameCapture, QStringLiteral("Game"));
    game->setImage(paint(hudFrame(3000)));
    EngineRun engine([](Settings& s) { s.source = QStringLiteral("Game"); });
    engine->start();
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));

    game->stallNextRender(300);
    ASSERT_TRUE(game->waitForStall(3000));
    game->remove();
    ASSERT_TRUE(engine.waitPasses(3));
    EXPECT_EQ(engine->readerStatus().statusText, Lang::text("Reader.WhyCantRead"));
    EXPECT_TRUE(engine->running());

    game = std::make_unique<TestSource>(obstest::kGameCapture, QStringLiteral("Game"));
    game->setImage(paint(hudFrame(3500)));
    ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balance == 3500; }));
    EXPECT_TRUE(engine->readerStatus().statusText.isEmpty());
}

// Without the data files the engine still runs and says what is missing:
// without the model nothing is read; without the kill-feed data only the
// kill feed is off.
TEST(EngineObs, MissingDataFilesAreReportedAndTheEngineRunsOn) {
    TestSource game(obstest::kGameCapture, QStringLiteral("Game"));
    game.setImage(paint(hudFrame(6100)));
    QTemporaryDir data;
    {
        EngineRun engine([](Settings& s) { s.source = QStringLiteral("Game"); });
        engine->setDataFolder(data.path());
        engine->start();
        ASSERT_TRUE(engine.waitPasses(2));
        const ReaderStatus s = engine->readerStatus();
        EXPECT_FALSE(s.modelLoaded);
        EXPECT_EQ(s.modelError, QStringLiteral("data/hud/model.bin missing from the plugin"));
        EXPECT_FALSE(s.killfeedOn);
        EXPECT_EQ(s.statusText, s.modelError);
        EXPECT_FALSE(s.balanceKnown);
        EXPECT_EQ(engine.logCount(QStringLiteral("START"),
                                  QStringLiteral("kill-feed reader off: data/hud/killfeed.bin missing")),
                  1);
        engine->statusRecordForTesting(wallNow());
        const QJsonObject status = engine->uplink()->queue().back();
        EXPECT_EQ(status.value("k").toString(), QStringLiteral("status"));
        EXPECT_EQ(status.value("err").toString(), s.modelError);
    }
    ASSERT_TRUE(QDir().mkpath(data.path() + "/hud"));
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(CORVEX_SOURCE_DIR "/data/hud/model.bin"), data.path() + "/hud/model.bin"));
    {
        EngineRun engine([](Settings& s) { s.source = QStringLiteral("Game"); });
        engine->setDataFolder(data.path());
        engine->start();
        ASSERT_TRUE(engine.waitStatus([](const ReaderStatus& s) { return s.balanceKnown; }));
        const ReaderStatus s = engine->readerStatus();
        EXPECT_TRUE(s.modelLoaded);
        EXPECT_FALSE(s.killfeedOn);
        EXPECT_EQ(s.killfeedError, QStringLiteral("data/hud/killfeed.bin missing from the plugin"));
        EXPECT_EQ(s.balance, 6100);
    }
}

// The allocator hands a removed source's memory to the next one soon: that
// source must still get an identity of its own, or a cup lock taken on it
// would follow the dead one and lose the game.
TEST(EngineObs, ASourceMadeWhereARemovedOneLivedHasItsOwnIdentity) {
    bool reused = false;
    for (int i = 0; i < 200 && !reused; ++i) {
        auto old = std::make_unique<TestSource>(obstest::kGameCapture, QStringLiteral("Game"));
        const void* oldAddress = old->get();
        const QString oldId = compat::sourceUuid(old->get());
        old.reset();
        TestSource fresh(obstest::kGameCapture, QStringLiteral("Game"));
        reused = fresh.get() == oldAddress;
        const QString id = compat::sourceUuid(fresh.get());
        EXPECT_NE(id, oldId);
        obs_source_t* found = compat::sourceByUuid(id);
        EXPECT_EQ(found, fresh.get());
        obs_source_release(found);
        EXPECT_EQ(compat::sourceByUuid(oldId), nullptr);
    }
    if (!reused) // the allocator decides; the ids were checked all the same
        std::fprintf(stderr, "note: no source was made at a removed one's address\n");
}

} // namespace
