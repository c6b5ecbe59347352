#include "uplink_fixture.h"

namespace {

TEST(EventWireForm, OptionalKeysNullsAndRounding) {
    GameEvent e;
    e.t = 1234;
    e.conf = 0.12345f;
    QJsonObject o = eventToJson(e);
    EXPECT_EQ(o.value(QLatin1String("k")).toString(), QStringLiteral("bal"));
    EXPECT_EQ(o.value(QLatin1String("c")).toDouble(), static_cast<double>(0.123f));
    EXPECT_FALSE(o.contains(QLatin1String("hb")));
    e.heartbeat = true;
    EXPECT_TRUE(eventToJson(e).value(QLatin1String("hb")).toBool());
    e.kind = EventKind::MatchChange;
    EXPECT_FALSE(eventToJson(e).contains(QLatin1String("hb")));

    e.kind = EventKind::FeedLine;
    for (float edge : {0.0f, 1.0f}) {
        e.conf = edge;
        EXPECT_FALSE(eventToJson(e).contains(QLatin1String("c")));
    }
    e.kind = EventKind::Kill;
    o = eventToJson(e);
    for (const char* key : {"dist", "weapon", "wtype"}) {
        EXPECT_TRUE(o.value(QLatin1String(key)).isNull()) << key;
    }
    e.kind = EventKind::Status;
    e.scale = 1.23456;
    e.okRate = 0.876;
    o = eventToJson(e);
    EXPECT_EQ(o.value(QLatin1String("scale")).toDouble(), 1.235);
    EXPECT_EQ(o.value(QLatin1String("reader")).toObject().value(QLatin1String("ok_rate")).toDouble(), 0.88);
    EXPECT_TRUE(o.value(QLatin1String("err")).isNull());
    EXPECT_FALSE(o.contains(QLatin1String("steam")));
    e.kind = static_cast<EventKind>(9);
    EXPECT_EQ(eventToJson(e).keys(), QStringList{QStringLiteral("t")});
}

TEST_F(UplinkTest, BatchesOfTwoHundredAndAcksThatCoverOnlyWhatWasSent) {
    startService();
    startUplink();
    enqueue(250);
    EXPECT_GT(seqAt(0), 100000); // numbering jumped at start
    EXPECT_EQ(seqAt(249), seqAt(0) + 249);
    const qint64 first = seqAt(0);
    link();
    service.setAckOverride(first + 119);
    step(1000);
    const QJsonArray sent =
        service.requestsTo(QStringLiteral("/ingest")).back().json().value(QLatin1String("events")).toArray();
    ASSERT_EQ(sent.size(), 200);
    EXPECT_EQ(sent.last().toObject().value(QLatin1String("seq")).toDouble(),
              static_cast<double>(first + 199));
    EXPECT_EQ(uplink->queueLength(), 130);

    service.setAckOverride(first); // below the oldest waiting: nothing goes
    step(1000);
    service.setAckOverride(std::nullopt);
    service.setStatusRaw("{}"); // no ack at all: nothing goes
    step(1000);
    EXPECT_EQ(uplink->queueLength(), 130);
    EXPECT_EQ(seqAt(0), first + 120);

    // An ack beyond the batch cannot drop events the service never got.
    service.clearStatusOverrides();
    settings.token.clear(); // queue without sending at once
    enqueue(100);
    settings.token = QStringLiteral("tok-1");
    service.setAckOverride(first + 1000000);
    step(1000);
    EXPECT_EQ(uplink->queueLength(), 30);
    service.setAckOverride(std::nullopt);
    step(1000);
    EXPECT_EQ(service.storedSeqs().size(), 350u);
}

TEST_F(UplinkTest, FiftyWaitingEventsSendAtOnceButNeverWithoutAToken) {
    startService();
    startUplink();
    enqueue(50);
    pump(50);
    EXPECT_EQ(service.requests().size(), 0u);
    link();
    enqueue(1);
    EXPECT_TRUE(uplink->inFlightForTesting());
}

TEST_F(UplinkTest, OverflowGivesUpHeartbeatsAndStatusEventsFirst) {
    startUplink();
    enqueue(5);
    enqueue(1, true);
    GameEvent status;
    status.kind = EventKind::Status;
    uplink->enqueueEvent(status);
    enqueue(Uplink::kQueueCap - 7);
    const qint64 first = seqAt(0);
    enqueue(1);
    EXPECT_EQ(uplink->queueLength(), Uplink::kQueueCap);
    EXPECT_EQ(seqAt(5), first + 6); // the heartbeat went
    enqueue(1);
    EXPECT_EQ(seqAt(5), first + 7); // then the status event
    enqueue(1);
    EXPECT_EQ(seqAt(0), first + 1); // then the oldest
    const QJsonObject newest = uplink->queue().back();
    enqueue(1, true); // with nothing else to give up, a new heartbeat goes itself
    EXPECT_EQ(uplink->queue().back(), newest);
}

TEST_F(UplinkTest, BacklogSurvivesARestartWithItsNumbers) {
    ObsLogCapture obsLog;
    settings.player_id = QStringLiteral("p-1");
    startUplink();
    enqueue(30);
    const QJsonObject firstEvent = uplink->queue().front();
    uplink->stop();
    QJsonArray events;
    for (const QJsonObject& event : uplink->queue()) {
        events.append(event);
    }
    EXPECT_EQ(readFile(pendingFile()),
              QJsonDocument(QJsonObject{{QStringLiteral("player"), QStringLiteral("p-1")},
                                        {QStringLiteral("events"), events}})
                  .toJson(QJsonDocument::Compact));
    const qint64 seqAfterFirstRun = settings.next_seq;

    restart(true);
    ASSERT_EQ(uplink->queueLength(), 30);
    EXPECT_EQ(uplink->queue().front(), firstEvent);
    EXPECT_EQ(uplink->queuePlayer(), QStringLiteral("p-1"));
    EXPECT_EQ(settings.next_seq, seqAfterFirstRun + 100000);
    EXPECT_EQ(ObsLogCapture::count("[corvex-tournament] 30 events waiting from the last session"), 1);

    // Lost settings: the numbers still continue above the backlog's.
    settings.next_seq = 1;
    Settings::save(settings, dir.path());
    restart(false);
    EXPECT_EQ(settings.next_seq, firstEvent.value(QLatin1String("seq")).toDouble() + 30);
}

TEST_F(UplinkTest, DamagedBacklogsAreKeptAsideAndTheRunGoesOn) {
    ObsLogCapture obsLog;
    settings.player_id = QStringLiteral("p-9");
    writeFile(pendingFile(), "[]");
    startUplink();
    EXPECT_EQ(uplink->queuePlayer(), QStringLiteral("p-9"));
    EXPECT_EQ(ObsLogCapture::count("pending"), 0); // quietly empty

    for (const QByteArray& broken : {QByteArray("{\"events\":[{\"seq\":1}"), QByteArray(),
                                     QByteArray("\"text\""), QByteArray("{\"events\":{\"seq\":1}}")}) {
        writeFile(badFile(), "older");
        writeFile(pendingFile(), broken);
        restart(false);
        EXPECT_EQ(uplink->queueLength(), 0);
        EXPECT_FALSE(QFile::exists(pendingFile()));
        EXPECT_EQ(readFile(badFile()), broken);
    }
    EXPECT_EQ(ObsLogCapture::count("pending.json unreadable ("), 4);
    EXPECT_EQ(ObsLogCapture::count("), kept as pending.bad.json"), 4);

    // Elements that cannot be acknowledged are skipped; the file is kept whole.
    const QByteArray partly = "{\"player\":\"p-1\",\"events\":[{\"k\":\"up\",\"seq\":5},7,{\"k\":\"up\"},"
                              "{\"seq\":\"8\"},{\"seq\":1e300},{\"k\":\"down\",\"seq\":6}]}";
    writeFile(pendingFile(), partly);
    restart(false);
    ASSERT_EQ(uplink->queueLength(), 2);
    EXPECT_EQ(seqAt(1), 6);
    EXPECT_EQ(readFile(badFile()), partly);
    EXPECT_EQ(ObsLogCapture::count("4 damaged events skipped"), 1);
    uplink->stop();
    EXPECT_EQ(pendingOnDisk(), 2);
}

TEST_F(UplinkTest, WaitingEventsReachTheDiskEveryFiveSecondsWhateverTheLink) {
    ObsLogCapture obsLog;
    startService();
    startUplink(); // not linked
    enqueue(1);
    step(5000);
    EXPECT_EQ(pendingOnDisk(), 1);
    EXPECT_EQ(Settings::load(dir.path()).next_seq, settings.next_seq);

    link(); // linked, but backing off after failures
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::status(500).sticky());
    for (int i = 0; i < 4; ++i) {
        enqueue(1);
        step(20000);
    }
    ASSERT_EQ(uplink->nextAttemptAt() - clock, 15000);
    enqueue(1);
    step(1000);
    EXPECT_EQ(pendingOnDisk(), 5);
    step(4000);
    EXPECT_EQ(pendingOnDisk(), 6);

    // A failed save is reported and tried again without waiting for a change.
    QFile::remove(pendingFile());
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("pending.json")));
    enqueue(1);
    step(5000);
    EXPECT_EQ(ObsLogCapture::count("could not save pending.json: "), 1);
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("pending.json")));
    step(5000);
    EXPECT_EQ(pendingOnDisk(), 7);
}

TEST_F(UplinkTest, UnauthorisedUploadUnlinksAndKeepsTheQueue) {
    startService();
    link();
    startUplink();
    ASSERT_TRUE(settle());
    enqueue(10);
    service.revokeToken(QStringLiteral("tok-1"));
    step(5000);
    EXPECT_EQ(uplink->lastError(), QStringLiteral("this PC is no longer linked"));
    EXPECT_EQ(
        logCount(QStringLiteral("NET"), QStringLiteral("upload refused (401): this PC is no longer linked")),
        1);
    EXPECT_TRUE(Settings::load(dir.path()).token.isEmpty());
    EXPECT_FALSE(uplink->status().linked);
    EXPECT_EQ(uplink->status().notice, Lang::text("Link.Unlinked"));
    EXPECT_EQ(uplink->queueLength(), 10);
    EXPECT_EQ(uplink->failures(), 0);
}

TEST_F(UplinkTest, DuringABackOffFiftyWaitingEventsWaitForItsEnd) {
    startService();
    link();
    startUplink();
    ASSERT_TRUE(settle());
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::status(503).count(1));
    enqueue(50);
    ASSERT_TRUE(settle());
    ASSERT_EQ(service.countTo(QStringLiteral("/ingest")), 1);
    ASSERT_EQ(uplink->failures(), 1);
    const qint64 backOffEnds = uplink->nextAttemptAt();
    ASSERT_GT(backOffEnds, clock);

    enqueue(60);
    pump(50);
    EXPECT_FALSE(uplink->inFlightForTesting());
    EXPECT_EQ(service.countTo(QStringLiteral("/ingest")), 1); // no request per event
    EXPECT_EQ(uplink->queueLength(), 110);

    clock = backOffEnds;
    tick();
    ASSERT_TRUE(settle());
    EXPECT_EQ(service.countTo(QStringLiteral("/ingest")), 2);
    EXPECT_EQ(uplink->queueLength(), 0);
    EXPECT_EQ(service.events().size(), 110u); // nothing lost
    enqueue(50);                              // the back-off is over: the threshold sends at once again
    EXPECT_TRUE(uplink->inFlightForTesting());
}

// A backlog of ten times the cap: what goes is what one-at-a-time overflow
// would give up, found in one pass, and the log says how many and of which kinds.
TEST_F(UplinkTest, AnOversizedBacklogIsTrimmedLikeTheQueueAndTheDropIsLogged) {
    ObsLogCapture obsLog;
    auto write = [this](int total, const std::function<QJsonObject(int)>& make) {
        QJsonArray events;
        for (int i = 0; i < total; ++i) {
            QJsonObject o = make(i);
            o.insert(QStringLiteral("seq"), i + 1);
            events.append(o);
        }
        writeFile(pendingFile(), QJsonDocument(QJsonObject{{QStringLiteral("player"), QStringLiteral("p-1")},
                                                           {QStringLiteral("events"), events}})
                                     .toJson(QJsonDocument::Compact));
    };
    const auto kind = [](const char* k, bool hb = false) {
        QJsonObject o{{QStringLiteral("k"), QLatin1String(k)}};
        if (hb) {
            o.insert(QStringLiteral("hb"), true);
        }
        return o;
    };

    // Fewer heartbeats and status events than the surplus: all of them go,
    // then the oldest of the rest.
    const int total = 10 * Uplink::kQueueCap;
    write(total, [&](int i) {
        return i % 5 == 0 ? kind("bal", true) : i % 5 == 1 ? kind("status") : kind("kill");
    });
    startUplink();
    ASSERT_EQ(uplink->queueLength(), Uplink::kQueueCap);
    for (const QJsonObject& o : uplink->queue()) {
        ASSERT_EQ(o.value(QLatin1String("k")).toString(), QStringLiteral("kill"));
    }
    EXPECT_EQ(seqAt(0), 166669); // the 100,001st of the 120,000 kills
    EXPECT_EQ(seqAt(Uplink::kQueueCap - 1), total);
    EXPECT_EQ(
        ObsLogCapture::count("pending.json: dropped 180000 (100000 kill, 40000 heartbeat, 40000 status) of "
                             "the waiting events to keep at most 20000"),
        1);
    uplink.reset();

    // More heartbeats and status events than the surplus: only the oldest of
    // them go, and every other event stays in order.
    const int more = Uplink::kQueueCap + 300;
    write(more, [&](int i) {
        return i % 100 == 7 ? kind("bal", true) : i % 100 == 9 ? kind("status") : kind("up");
    });
    startUplink();
    ASSERT_EQ(uplink->queueLength(), Uplink::kQueueCap);
    int statusLeft = 0;
    int heartbeatsLeft = 0;
    qint64 previous = 0;
    for (const QJsonObject& o : uplink->queue()) {
        statusLeft += o.value(QLatin1String("k")).toString() == QLatin1String("status") ? 1 : 0;
        heartbeatsLeft += o.value(QLatin1String("hb")).toBool() ? 1 : 0;
        if (o.value(QLatin1String("k")).toString() != QLatin1String("up")) {
            EXPECT_GT(o.value(QLatin1String("seq")).toDouble(), 15000); // the 300 oldest of them went
        }
        EXPECT_GT(o.value(QLatin1String("seq")).toDouble(), previous);
        previous = static_cast<qint64>(o.value(QLatin1String("seq")).toDouble());
    }
    EXPECT_EQ(heartbeatsLeft + statusLeft, 2 * (more / 100) - 300);
    EXPECT_EQ(seqAt(0), 1); // the oldest "up" was never a candidate
    EXPECT_EQ(ObsLogCapture::count("pending.json: dropped 300 (150 heartbeat, 150 status)"), 1);
}

TEST_F(UplinkTest, LostSettingsNeverReuseNumbersFoundInTheBacklogs) {
    // config.json gone; the backlog kept aside at an earlier start still
    // tells how far the numbers went.
    writeFile(badFile(),
              R"({"player":"p-1","events":[{"k":"feed","lid":777,"seq":555555},{"k":"up","seq": 555001})");
    writeFile(pendingFile(), R"({"player":"p-1","events":[{"k":"feed","lid":12,"seq":400000}]})");
    startUplink();
    EXPECT_EQ(settings.next_seq, 555556);
    EXPECT_EQ(settings.next_lid, 778);
    EXPECT_EQ(Settings::load(dir.path()).next_seq, 555556);

    // Counters already above everything on disk only take the usual jump.
    uplink->stop();
    settings.next_seq = 900000;
    settings.next_lid = 5000;
    Settings::save(settings, dir.path());
    restart(false);
    EXPECT_EQ(settings.next_seq, 1000000);
    EXPECT_EQ(settings.next_lid, 5000);
}

} // namespace
