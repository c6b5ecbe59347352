#include "dock_fixture.h"

#include "plugin/lang.h"

#include <QCheckBox>
#include <QPushButton>

// User actions from the dock reach the loopback service through the real link.

TEST_F(DockTest, LinkingShowsTheCodeThenConfirms) {
    testsvc::Options options;
    options.linkAfterPolls = 1;
    startService(options);
    makeDock();
    click("accountLink");
    ASSERT_TRUE(waitUntil([this] { return uplink().linkInProgress(); }));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith(service.apiUrl(QStringLiteral("/link/start?code="))));
    const QString code = service.lastUserCode();
    EXPECT_TRUE(shown("linkCode"));
    EXPECT_EQ(label("linkCode")->text(), QStringLiteral("/link ") + code);
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.BrowserOpened")));
    EXPECT_FALSE(shown("accountLink"));
    EXPECT_TRUE(shown("linkCancel"));
    click("accountReopen");
    EXPECT_EQ(opened.size(), 2);

    tick(); // "pending"
    ASSERT_TRUE(service.waitForRequests(QStringLiteral("/device/poll"), 1, 5000));
    pump(50);
    EXPECT_TRUE(uplink().linkInProgress());
    // The next poll comes after the interval the service asked for.
    ASSERT_TRUE(waitUntil(
        [this] {
            tick();
            return !settings().token.isEmpty();
        },
        8000));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(shown("confirmation"));
    EXPECT_TRUE(plain(label("confirmation")).contains(Lang::text("Account.Linked")));
    EXPECT_FALSE(shown("linkCode"));
    EXPECT_TRUE(shown("accountUnlink"));
    EXPECT_EQ(uplink().status().playerId, QStringLiteral("p-1")); // the status came with the link
}

TEST_F(DockTest, CancellingALinkForgetsTheCode) {
    startService();
    makeDock();
    click("accountLink");
    ASSERT_TRUE(waitUntil([this] { return uplink().linkInProgress(); }));
    click("linkCancel");
    EXPECT_FALSE(uplink().linkInProgress());
    EXPECT_FALSE(shown("linkCode"));
    EXPECT_FALSE(shown("accountReopen"));
    EXPECT_TRUE(shown("accountLink"));
}

TEST_F(DockTest, UnlinkAsksFirstAndWarnsDuringAMatch) {
    startService();
    linkAs();
    makeDock();
    applyStatus(R"({"cup": {"id": "c1", "name": "Cup", "phase": "live"}})");
    answer = false;
    click("accountUnlink");
    ASSERT_EQ(questions.size(), 1);
    EXPECT_EQ(questions[0], Lang::text("Account.Unlink") + ": " + Lang::text("Account.UnlinkLiveQ"));
    EXPECT_FALSE(settings().token.isEmpty());

    applyStatus(R"({"cup": {"id": "c1", "name": "Cup", "phase": "ended"}})");
    answer = true;
    click("accountUnlink");
    ASSERT_EQ(questions.size(), 2);
    EXPECT_EQ(questions[1], Lang::text("Account.Unlink") + ": " + Lang::text("Account.UnlinkQ"));
    EXPECT_TRUE(settings().token.isEmpty());
    EXPECT_TRUE(waitUntil([this] { return service.countTo(QStringLiteral("/device/unlink")) == 1; }));
    EXPECT_TRUE(shown("accountLink"));
    EXPECT_FALSE(shown("modeWager"));
}

TEST_F(DockTest, VerifySteamOpensTheServicesPage) {
    startService();
    linkAs();
    steam = SteamSeen{QStringLiteral("765"), QStringLiteral("Me"), true};
    makeDock();
    applyStatus(R"({"account": {"discord": {"linked": true, "name": "d"},
                                "steam": {"linked": true, "id": "765", "name": "Me", "verified": false}}})");
    click("verifySteam");
    ASSERT_TRUE(waitUntil([this] { return !opened.isEmpty(); }));
    EXPECT_TRUE(opened[0].startsWith(service.origin()));
    EXPECT_EQ(service.countTo(QStringLiteral("/steam/token")), 1);

    // A failing service says so instead of opening anything.
    service.addFault(QStringLiteral("/steam/token"), testsvc::Fault::status(503));
    click("verifySteam");
    ASSERT_TRUE(waitUntil([this] { return shown("notice"); }));
    EXPECT_TRUE(label("notice")->text().startsWith(Lang::text("Account.SteamUnavailable")));
    EXPECT_EQ(opened.size(), 1);
}

TEST_F(DockTest, ChatChoicesWaitForTwitchThenReachTheService) {
    startService();
    linkAs();
    makeDock();
    applyStatus(R"({"account": {"discord": {"linked": true}, "complete": true, "chat": {"link": false}}})");
    ASSERT_TRUE(shown("chatRow"));
    auto* link = child<QCheckBox>("chatLink");
    link->setChecked(true);
    EXPECT_EQ(label("notice")->text(), Lang::text("Chat.AfterTwitch"));
    dock().showNotice(QString());
    link->setChecked(false);
    EXPECT_FALSE(shown("notice"));
    EXPECT_EQ(service.countTo(QStringLiteral("/me/chat")), 0);

    applyStatus(R"({"account": {"discord": {"linked": true}, "twitch": "tv", "twitch_verified": true,
                                "chat": {"link": false, "updates": false, "granted": true}}})");
    child<QCheckBox>("chatUpdates")->setChecked(true);
    EXPECT_FALSE(child<QCheckBox>("chatUpdates")->isEnabled()); // busy until the reply
    ASSERT_TRUE(waitUntil([this] { return shown("notice"); }));
    EXPECT_TRUE(child<QCheckBox>("chatUpdates")->isEnabled());
    EXPECT_EQ(service.countTo(QStringLiteral("/me/chat")), 1);
    EXPECT_TRUE(service.requestsTo(QStringLiteral("/me/chat")).front().json().value("updates").toBool());
}

TEST_F(DockTest, SendingLogsCannotBePressedTwice) {
    startService();
    linkAs();
    makeDock();
    engine().setOutputDir(dir.path() + QStringLiteral("/out")); // opens the reader log
    service.addFault(QStringLiteral("/logs"), testsvc::Fault::delay(300));
    click("logsSend");
    auto* send = button("logsSend");
    EXPECT_FALSE(send->isEnabled());
    EXPECT_EQ(send->text(), Lang::text("Common.Sending"));
    send->click(); // disabled: nothing happens
    ASSERT_TRUE(waitUntil([send] { return send->isEnabled(); }));
    EXPECT_EQ(send->text(), Lang::text("Logs.Send"));
    EXPECT_TRUE(shown("notice"));

    click("logsOpen");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].startsWith(QStringLiteral("file://")));
    EXPECT_TRUE(opened[0].endsWith(QStringLiteral("/logs")));
}

TEST_F(DockTest, ConnectTwitchSendsTheChatChoicesAndAdsCanBeStopped) {
    startService();
    linkAs();
    makeDock();
    applyStatus(R"({"account": {"discord": {"linked": true}, "complete": true, "chat": {"link": false}}})");
    {
        const QSignalBlocker quiet(child<QCheckBox>("chatLink")); // no "after Twitch" notice
        child<QCheckBox>("chatLink")->setChecked(true);
    }
    click("connectTwitch");
    ASSERT_TRUE(waitUntil([this] { return !opened.isEmpty(); }));
    EXPECT_TRUE(opened[0].startsWith(service.origin()));
    const QJsonObject body = service.requestsTo(QStringLiteral("/twitch/token")).front().json();
    EXPECT_TRUE(body.value("link").toBool());
    EXPECT_FALSE(body.value("updates").toBool());

    applyStatus(R"({"account": {"discord": {"linked": true}, "twitch": "tv", "twitch_verified": true,
                                "ads": true}})");
    EXPECT_TRUE(shown("adsStop"));
    EXPECT_FALSE(shown("adsAllow"));
    EXPECT_TRUE(plain(label("adsLabel")).endsWith(Lang::text("Ads.On")));
    click("adsStop");
    ASSERT_TRUE(waitUntil([this] { return shown("notice"); }));
    EXPECT_EQ(service.countTo(QStringLiteral("/me/ads")), 1);
}
