#include "uplink_fixture.h"

namespace {

class Linking : public UplinkTest {
protected:
    void begin(testsvc::Options options = {}) {
        startService(false, options);
        startUplink();
        QObject::connect(uplink.get(), &Uplink::linkCodeReady,
                         [this](const QString& url) { pages.append(url); });
        QObject::connect(uplink.get(), &Uplink::linkConfirmed, [this] { ++confirmed; });
        uplink->startLink();
        ASSERT_TRUE(waitUntil([this] { return uplink->linkInProgress(); }));
    }
    // One link poll after `ms`, answered.
    void poll(qint64 ms) {
        const int before = service.countTo(QStringLiteral("/device/poll"));
        clock += ms;
        tick();
        ASSERT_TRUE(service.waitForRequests(QStringLiteral("/device/poll"), before + 1, 5000));
        pump(100);
    }
    QStringList pages;
    int confirmed = 0;
};

TEST_F(Linking, DeviceCodeFlowStoresTheTokenAndFetchesTheStatus) {
    testsvc::Options options;
    options.linkAfterPolls = 1;
    options.linkToken = QStringLiteral("tok-new");
    startUplink();
    uplink->steamAccount = [] {
        return Uplink::SteamAccount{QStringLiteral("7656"), QStringLiteral("Steamer")};
    };
    begin(options);
    const testsvc::Request start = service.requestsTo(QStringLiteral("/device/start")).front();
    EXPECT_TRUE(start.bearer().isEmpty());
    EXPECT_EQ(start.header("Content-Type"), QByteArray("application/json"));
    EXPECT_EQ(start.json().value(QLatin1String("name")).toString(), settings.device_name);
    EXPECT_EQ(start.json().value(QLatin1String("steam")).toObject().value(QLatin1String("id")).toString(),
              QStringLiteral("7656"));
    EXPECT_EQ(logCount(QStringLiteral("LINK"), QStringLiteral("link code (Steam Steamer)")), 1);
    EXPECT_EQ(pages, QStringList{service.apiUrl(QStringLiteral("/link/start?code=") + service.lastUserCode() +
                                                QStringLiteral("&lang=en"))});
    uplink->startLink(); // a code is shown: nothing more is sent
    pump(50);
    EXPECT_EQ(service.countTo(QStringLiteral("/device/start")), 1);

    poll(0); // the first tick polls at once: "pending" changes nothing
    EXPECT_TRUE(uplink->linkInProgress());
    clock += 1999;
    tick();
    pump(50);
    EXPECT_EQ(service.countTo(QStringLiteral("/device/poll")), 1);
    poll(1);
    ASSERT_TRUE(waitUntil([this] { return confirmed == 1; }));
    EXPECT_FALSE(uplink->linkInProgress());
    EXPECT_EQ(Settings::load(dir.path()).token, QStringLiteral("tok-new"));
    EXPECT_EQ(settings.player_id, QStringLiteral("p-1"));
    EXPECT_TRUE(uplink->status().linked);
    EXPECT_EQ(logCount(QStringLiteral("LINK"), QStringLiteral("linked to player p-1 (Tester)")), 1);
    ASSERT_TRUE(service.waitForRequests(QStringLiteral("/me"), 1, 5000));
    EXPECT_EQ(service.requestsTo(QStringLiteral("/me")).front().bearer(), QStringLiteral("tok-new"));
}

TEST_F(Linking, IntervalsExpiryAndBadReplies) {
    testsvc::Options options;
    options.linkInterval = 1;
    options.linkExpiresIn = -1;
    options.linkAfterPolls = 100;
    begin(options);
    EXPECT_EQ(uplink->linkInterval(), 2);
    EXPECT_EQ(uplink->linkExpiresAt(), clock + 900000);
    EXPECT_EQ(logCount(QStringLiteral("LINK"), QStringLiteral("(Steam not found)")), 1);

    // Replies that would store an unusable token are ignored.
    service.addFault(QStringLiteral("/device/poll"),
                     testsvc::Fault::raw(R"({"status":"linked","player":{"id":"p"}})"));
    poll(0);
    service.addFault(
        QStringLiteral("/device/poll"),
        testsvc::Fault::raw(R"({"status":"linked","token":"a\r\nX-Evil: 1","player":{"id":"p"}})"));
    poll(2000);
    EXPECT_TRUE(settings.token.isEmpty());
    EXPECT_TRUE(uplink->linkInProgress());

    clock = uplink->linkExpiresAt() + 1;
    tick();
    EXPECT_FALSE(uplink->linkInProgress());
    EXPECT_EQ(uplink->status().notice, Lang::text("Link.Expired"));

    service.stop();
    options.linkInterval = -1;
    begin(options);
    EXPECT_EQ(uplink->linkInterval(), 3);
    service.expireLinkCodes(); // the service may say so first
    poll(0);
    EXPECT_FALSE(uplink->linkInProgress());
    EXPECT_EQ(logCount(QStringLiteral("LINK"), QStringLiteral("code expired")), 1);

    service.addFault(QStringLiteral("/device/start"), testsvc::Fault::status(503));
    uplink->startLink();
    ASSERT_TRUE(waitUntil(
        [this] { return logCount(QStringLiteral("LINK"), QStringLiteral("failed: HTTP 503")) == 1; }));
    EXPECT_EQ(uplink->status().notice, QStringLiteral("Couldn't start linking: HTTP 503"));
}

TEST_F(Linking, ANewPlayerDropsTheOldBacklogTheSamePlayerKeepsIt) {
    settings.player_id = QStringLiteral("p-old");
    testsvc::Options options;
    options.linkPlayer = testsvc::Player{QStringLiteral("p-new"), QStringLiteral("New"), QString()};
    startService(false, options);
    startUplink();
    enqueue(10);
    for (int round = 0; round < 2; ++round) {
        uplink->startLink();
        ASSERT_TRUE(waitUntil([this] { return uplink->linkInProgress(); }));
        tick();
        ASSERT_TRUE(waitUntil([this] { return !settings.token.isEmpty(); }));
        ASSERT_TRUE(settle());
        if (round == 0) {
            EXPECT_EQ(
                logCount(QStringLiteral("LINK"),
                         QStringLiteral("dropped 10 queued events of player p-old (now linked to p-new)")),
                1);
            EXPECT_EQ(
                QJsonDocument::fromJson(readFile(pendingFile())).object().value(QLatin1String("player")),
                QStringLiteral("p-new"));
            uplink->unlink(); // then events of nobody in particular, and the same player again
            EXPECT_TRUE(settings.player_id.isEmpty());
            EXPECT_FALSE(uplink->status().linked);
            enqueue(10);
        }
    }
    EXPECT_EQ(logCount(QStringLiteral("LINK"), QStringLiteral("dropped")), 1);
    step(1000);
    EXPECT_EQ(service.storedSeqs().size(), 10u);
    EXPECT_EQ(service.countTo(QStringLiteral("/device/unlink")), 1);
}

TEST_F(UplinkTest, VerificationPages) {
    startService();
    startUplink();
    QString url;
    QString error;
    int calls = 0;
    auto capture = [&](const QString& u, const QString& e) {
        url = u;
        error = e;
        ++calls;
    };
    uplink->unlink(); // without a token nothing is sent
    uplink->requestSteamVerify(capture);
    EXPECT_EQ(error, Lang::text("Link.First"));

    link();
    auto expectCall = [&](int n) { ASSERT_TRUE(waitUntil([&] { return calls == n; })); };
    service.addFault(QStringLiteral("/steam/token"), testsvc::Fault::raw("{\"token\":\"st 1\"}"));
    uplink->requestSteamVerify(capture);
    expectCall(2);
    EXPECT_EQ(url, uplink->apiUrl(QStringLiteral("/steam/start?t=st%201")));
    service.addFault(QStringLiteral("/steam/token"), testsvc::Fault::status(500));
    uplink->requestSteamVerify(capture);
    expectCall(3);
    EXPECT_FALSE(error.isEmpty()); // a failure is never reported as success

    uplink->requestTwitchVerify(capture, true, false);
    expectCall(4);
    EXPECT_EQ(service.requestsTo(QStringLiteral("/twitch/token")).back().body,
              QByteArray("{\"chat\":true,\"link\":true,\"updates\":false}"));
    service.addFault(QStringLiteral("/twitch/token"), testsvc::Fault::status(409, "{\"message\":\"taken\"}"));
    uplink->requestTwitchVerify(capture, false, false);
    expectCall(5);
    EXPECT_EQ(error, QStringLiteral("taken"));
    EXPECT_EQ(service.requestsTo(QStringLiteral("/twitch/token")).back().body, QByteArray("{}"));

    service.addFault(QStringLiteral("/me/chat"),
                     testsvc::Fault::raw(R"({"chat":{"link":true,"granted":true}})"));
    uplink->setChat(true, false, capture);
    expectCall(6);
    EXPECT_TRUE(uplink->status().account.chatGranted);
    EXPECT_EQ(service.countTo(QStringLiteral("/steam/token")), 2);
}

} // namespace
