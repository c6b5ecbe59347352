#include "uplink_fixture.h"

#include "plugin/module-data.h"

#include <map>

namespace {

QString version() {
    return QString::fromLatin1(plugin::kVersion);
}

TEST(UplinkConventions, UrlsHeadersAndFailureTexts) {
    Settings settings;
    Uplink uplink(&settings, nullptr, QString());
    for (const char* server : {"https://x.test/api/mintcup/v1/", "https://x.test/api/mintcup/v1//"}) {
        settings.server = QString::fromLatin1(server);
        EXPECT_EQ(uplink.apiUrl(QStringLiteral("/me")), QStringLiteral("https://x.test/api/mintcup/v1/me"));
    }
    EXPECT_EQ(uplink.requestHeaders(true),
              QStringLiteral("Accept-Language: en\r\nContent-Type: application/json\r\n"));
    settings.token = QStringLiteral("t0k");
    EXPECT_EQ(uplink.requestHeaders(false),
              QStringLiteral("Accept-Language: en\r\nAuthorization: Bearer t0k\r\n"));
    EXPECT_TRUE(Uplink::userAgent().startsWith(QStringLiteral("CorvexTournament/%1 (OBS ").arg(version())));

    Http::Result r;
    r.status = 404;
    r.body = "<html>\n  <body>\r\n\t" + QByteArray(5000, 'x');
    EXPECT_EQ(Uplink::describeFailure(r),
              QStringLiteral("HTTP 404 - the tournament server is not answering at this "
                             "address (not deployed yet?) | <html> <body> ") +
                  QString(182, QLatin1Char('x')));
    r.status = 500;
    r.body.clear();
    EXPECT_EQ(Uplink::describeFailure(r), QStringLiteral("HTTP 500"));
    r.status = 0;
    r.error = QStringLiteral("connection refused");
    r.body = "partial";
    EXPECT_EQ(Uplink::describeFailure(r), QStringLiteral("connection refused"));
}

TEST_F(UplinkTest, BackoffGrowsToFifteenSecondsAndFailuresAreLoggedSparingly) {
    startService();
    link();
    service.addFault(QStringLiteral("/me"), testsvc::Fault::status(500).sticky());
    startUplink(); // the first tick polls at once
    ASSERT_TRUE(settle());
    const std::map<int, qint64> delays = {{1, 2000}, {2, 4000}, {3, 8000}, {4, 15000}, {10, 15000}};
    for (int failure = 1; failure < 40; ++failure) {
        ASSERT_EQ(uplink->failures(), failure);
        if (delays.count(failure)) {
            EXPECT_EQ(uplink->nextAttemptAt() - clock, delays.at(failure)) << failure;
        }
        // Neither the back-off nor the 5 s between polls may be cut short.
        clock += std::min<qint64>(uplink->nextAttemptAt() - clock, 5000) - 1;
        tick();
        EXPECT_FALSE(uplink->inFlightForTesting());
        step(std::max<qint64>(uplink->nextAttemptAt() - clock, 5000));
    }
    EXPECT_EQ(service.countTo(QStringLiteral("/me")), 40);
    EXPECT_EQ(logCount(QStringLiteral("NET"), QStringLiteral("status check failed")), 5); // 1, 2, 3, 20, 40
    EXPECT_EQ(logCount(QStringLiteral("NET"), QStringLiteral("status check failed (20 in a row): HTTP 500")),
              1);

    service.clearFaults();
    step(15000);
    EXPECT_EQ(uplink->failures(), 0);
    EXPECT_TRUE(uplink->lastError().isEmpty());
    EXPECT_EQ(uplink->lastOkAt(), clock);
}

TEST_F(UplinkTest, WithoutATokenNothingButLinkPollsIsSent) {
    startService();
    startUplink();
    enqueue(60);
    step(30000);
    EXPECT_EQ(service.requests().size(), 0u);
    uplink->startLink();
    ASSERT_TRUE(waitUntil([this] { return uplink->linkInProgress(); }));
    clock += 3000;
    tick();
    ASSERT_TRUE(service.waitForRequests(QStringLiteral("/device/poll"), 1, 5000));
    EXPECT_EQ(service.countTo(QStringLiteral("/ingest")) + service.countTo(QStringLiteral("/me")), 0);
}

TEST_F(UplinkTest, WaitingEventsAreUploadedBeforeTheStatusIsPolled) {
    startService();
    startUplink();
    enqueue(60);
    link();
    step(60000); // the last poll is long ago, yet the events go first
    EXPECT_EQ(service.countTo(QStringLiteral("/ingest")), 1);
    EXPECT_EQ(service.countTo(QStringLiteral("/me")), 0);
    EXPECT_EQ(uplink->queueLength(), 0);
    const testsvc::Request batch = service.requestsTo(QStringLiteral("/ingest")).front();
    EXPECT_EQ(batch.bearer(), QStringLiteral("tok-1"));
    EXPECT_EQ(batch.header("Content-Type"), QByteArray("application/json"));
    EXPECT_EQ(batch.header("Accept-Language"), QByteArray("en"));
    EXPECT_TRUE(QString::fromLatin1(batch.header("User-Agent"))
                    .startsWith(QStringLiteral("CorvexTournament/%1 (OBS ").arg(version())));
    EXPECT_FALSE(batch.body.contains(' '));
    const QJsonObject body = batch.json();
    EXPECT_EQ(body.value(QLatin1String("v")).toInt(), 1);
    EXPECT_EQ(body.value(QLatin1String("plugin")).toString(), version());
    EXPECT_EQ(body.value(QLatin1String("sent")).toDouble(), static_cast<double>(clock));
    EXPECT_EQ(body.value(QLatin1String("events")).toArray().size(), 60);

    step(4999); // an accepted upload counts as a poll
    EXPECT_EQ(service.countTo(QStringLiteral("/me")), 0);
    step(1);
    ASSERT_EQ(service.countTo(QStringLiteral("/me")), 1);
    EXPECT_EQ(service.requestsTo(QStringLiteral("/me")).front().method, QStringLiteral("GET"));
}

TEST_F(UplinkTest, ClockOffsetAndAnUnauthorisedPoll) {
    startService();
    link();
    service.setNow(kStart + 10000); // sending and receiving happen at one test instant
    startUplink();
    ASSERT_TRUE(settle());
    EXPECT_EQ(uplink->clockOffset(), 10000);
    EXPECT_EQ(uplink->serverNow(), clock + 10000);
    EXPECT_EQ(uplink->toLocal(kStart + 10000), kStart);
    service.setNow(clock + 5000 + 20000);
    step(5000);
    EXPECT_EQ(uplink->clockOffset(), 12000); // a fifth of the way to the new sample
    service.setStatusRaw("{\"now\":1e300}");
    step(5000);
    EXPECT_EQ(uplink->clockOffset(), 12000);

    service.revokeToken(QStringLiteral("tok-1"));
    step(5000);
    EXPECT_FALSE(uplink->status().linked);
    EXPECT_TRUE(Settings::load(dir.path()).token.isEmpty());
    EXPECT_EQ(uplink->status().notice, Lang::text("Link.Unlinked"));
    EXPECT_TRUE(uplink->lastError().isEmpty());
    step(60000);
    EXPECT_EQ(service.countTo(QStringLiteral("/me")), 4);
}

} // namespace
