#include "uplink_fixture.h"

#include "uplink/browser-url.h"

#include <QElapsedTimer>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

TEST_F(UplinkTest, OverHttpsTrustingOnlyTheTestCertificate) {
    startService(true);
    link();
    startUplink();
    ASSERT_TRUE(settle());
    EXPECT_TRUE(uplink->status().linked) << uplink->lastError().toStdString();
    enqueue(5);
    step(5000);
    EXPECT_EQ(service.storedSeqs().size(), 5u);

    Http::testing::setTrustedCaFile(QString()); // the system's store knows nothing of it
    enqueue(1);
    step(5000);
    EXPECT_EQ(uplink->failures(), 1);
    EXPECT_EQ(uplink->queueLength(), 1);
}

void exitUnless(bool ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "shutdown check failed: %s\n", what);
        std::_Exit(1);
    }
}

// The transport's shutdown is for good in a process, so this one runs in a
// child process and reports through its exit code.
TEST_F(UplinkTest, ShutdownWithRequestsInFlightLosesNothing) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            startService();
            link();
            startUplink();
            exitUnless(settle(), "first poll");
            service.addFault(QStringLiteral("/ingest"), testsvc::Fault::hang().sticky());
            service.addFault(QStringLiteral("/steam/token"), testsvc::Fault::hang());
            enqueue(60);
            exitUnless(uplink->inFlightForTesting(), "upload in flight");
            QStringList steamErrors;
            auto steamDone = [&](const QString&, const QString& error) { steamErrors.append(error); };
            uplink->requestSteamVerify(steamDone);
            exitUnless(service.waitForRequests(QStringLiteral("/steam/token"), 1, 5000), "steam request");

            uplink->stop(); // as the engine does at exit, before the transport closes
            QElapsedTimer elapsed;
            elapsed.start();
            Http::shutdown();
            exitUnless(elapsed.elapsed() < 3000, "shutdown is bounded");
            pump(200);
            // Whether an aborted call still reports back is the transport's
            // choice; if it does, it must be as a failure.
            exitUnless(steamErrors.isEmpty() || (steamErrors.size() == 1 && !steamErrors[0].isEmpty()),
                       "aborted");
            exitUnless(uplink->queueLength() == 60 && pendingOnDisk() == 60, "backlog kept");
            uplink->requestSteamVerify(steamDone);
            pump(100);
            exitUnless(service.countTo(QStringLiteral("/steam/token")) == 1, "nothing sent after shutdown");
            uplink.reset();
            service.stop();
            fprintf(stderr, "shutdown checks passed\n");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "shutdown checks passed");
}

TEST_F(UplinkTest, DemoModeFillsTheModelAndNeverTouchesDiskOrNetwork) {
    ObsLogCapture obsLog;
    startService();
    link();
    writeFile(pendingFile(), "[]");
    const qint64 seqBefore = settings.next_seq;
    qputenv("CORVEX_TOURNEY_DEMO", "1");
    startUplink();
    EXPECT_EQ(uplink->demo(), 1);
    const Status& s = uplink->status();
    EXPECT_EQ(s.playerId, QStringLiteral("p-demo"));
    EXPECT_EQ(s.cupStartsAt - clock, 570000); // 9 min 30 s away, an hour long
    EXPECT_EQ(s.cupEndsAt - s.cupStartsAt, 3600000);
    EXPECT_TRUE(s.registration.inviteUrl.endsWith(QStringLiteral("/mintcup/join?code=T-QRT42")));
    EXPECT_EQ(s.wager.myCode, QStringLiteral("W-QRT7A"));
    EXPECT_FALSE(s.wager.sideB.players.at(1).streaming);
    EXPECT_EQ(ObsLogCapture::count("demo mode: a made-up player, cup and wager, no network"), 1);
    enqueue(1);
    step(60000);
    uplink->stop();
    EXPECT_EQ(uplink->queueLength(), 0);
    EXPECT_EQ(settings.next_seq, seqBefore);
    EXPECT_EQ(readFile(pendingFile()), QByteArray("[]"));
    EXPECT_TRUE(service.requests().empty());

    for (const char* value : {"2", "yes"}) {
        qputenv("CORVEX_TOURNEY_DEMO", value);
        uplink.reset();
        startUplink();
        EXPECT_EQ(uplink->demo(), 0) << value;
    }
    qunsetenv("CORVEX_TOURNEY_DEMO");
}

TEST(BrowsableUrl, OnlyAbsoluteWebAddresses) {
    for (const char* good :
         {"https://corvextourney.gg/link?code=AB-12", "http://127.0.0.1:8080/x", "HTTPS://x.test"}) {
        EXPECT_TRUE(isBrowsableUrl(QString::fromLatin1(good))) << good;
    }
    for (const char* bad :
         {"", "/relative/path", "example.com/page", "javascript:alert(1)", "file:///etc/passwd",
          "ftp://x.test/", "data:text/html,hi", "https://", "http:example.com", " https://x.test/",
          "https://x.test/\nLocation: y", "steam://run/1"}) {
        EXPECT_FALSE(isBrowsableUrl(QString::fromLatin1(bad))) << bad;
    }
}

// Faults, restarts, a crash and a damaged backlog: every event still reaches
// the service at least once, in order, each seq unique.
TEST_F(UplinkTest, NothingIsLostAcrossFaultsRestartsAndADamagedBacklog) {
    startService();
    link();
    service.setStoreLimit(30); // partial acks: the rest is sent again
    std::vector<qint64> generated;
    auto add = [&](int n) {
        for (int i = 0; i < n; ++i) {
            enqueue(1);
            generated.push_back(seqAt(static_cast<size_t>(uplink->queueLength() - 1)));
        }
    };
    auto run = [&](int rounds) {
        for (int i = 0; i < rounds && uplink->queueLength() > 0; ++i) {
            step(16000); // past any back-off and the save interval
        }
    };

    startUplink();
    ASSERT_TRUE(settle());
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::status(502).count(2));
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::drop());
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::delay(300));
    service.addFault(QStringLiteral("/ingest"),
                     testsvc::Fault::status(500, "<html>oops</html>", "text/html"));
    add(120);
    run(3);
    restart(true);
    ASSERT_TRUE(settle());

    add(80);
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::drop().count(2));
    run(3); // the periodic save runs in these, then the process "crashes"
    restart(false);
    ASSERT_TRUE(settle());

    // The backlog file is damaged between runs: intact events go on, the
    // damaged ones are skipped and the original is kept aside.
    add(40);
    uplink->stop();
    QJsonObject backlog = QJsonDocument::fromJson(readFile(pendingFile())).object();
    QJsonArray events = backlog.value(QLatin1String("events")).toArray();
    events.insert(1, QJsonValue(7));
    events.append(QJsonObject{{QStringLiteral("k"), QStringLiteral("bal")}});
    backlog.insert(QStringLiteral("events"), events);
    writeFile(pendingFile(), QJsonDocument(backlog).toJson());
    restart(true);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(QFile::exists(badFile()));

    add(60);
    service.addFault(QStringLiteral("/ingest"), testsvc::Fault::status(503).count(3));
    run(40);
    ASSERT_EQ(uplink->queueLength(), 0);
    const std::vector<std::int64_t> stored = service.storedSeqs();
    EXPECT_EQ(std::vector<qint64>(stored.begin(), stored.end()), generated); // all, once each, in order
    EXPECT_EQ(std::set<qint64>(generated.begin(), generated.end()).size(), generated.size());
    EXPECT_GT(service.duplicates(), 0); // partial acks and lost replies did resend
}

} // namespace
