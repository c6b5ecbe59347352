#include "dock_fixture.h"

#include "dock/format.h"
#include "plugin/lang.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QPushButton>

// What a player sees of the frame for the status models the service sends:
// which rows show, what they say and the properties the stylesheet keys on.

namespace {

const char* kLinkedIdle = R"({
    "player": {"id": "p-1", "ign": "Tester"},
    "account": {"discord": {"linked": true, "name": "tester#1"},
                "steam": {"linked": true, "id": "765", "name": "TesterSteam", "verified": true},
                "twitch": "tester_tv", "twitch_verified": true, "complete": true}
})";

// A linked, complete account with the given extra keys.
QJsonObject linkedWith(const char* extra) {
    QJsonObject doc = jsonObject(kLinkedIdle);
    const QJsonObject more = jsonObject(extra);
    for (auto it = more.begin(); it != more.end(); ++it) {
        doc.insert(it.key(), it.value());
    }
    return doc;
}

} // namespace

TEST_F(DockTest, UnlinkedDockShowsOnlyTheSetUp) {
    makeDock();
    EXPECT_EQ(label("pill")->text(), QStringLiteral("NO CUP"));
    EXPECT_EQ(label("dockMessage")->text(), Lang::text("Dock.LinkBelow"));
    EXPECT_FALSE(shown("modeWager"));
    EXPECT_FALSE(shown("tournamentArea"));
    EXPECT_FALSE(shown("wagerArea"));
    EXPECT_FALSE(shown("scoreBox"));
    EXPECT_FALSE(shown("overlayRow"));
    EXPECT_TRUE(shown("accountLink"));
    EXPECT_EQ(property(button("accountLink"), "role"), QStringLiteral("primary"));
    EXPECT_FALSE(shown("accountUnlink"));
    EXPECT_FALSE(shown("linkCode"));
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.LinkIntro")));
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.SteamNotFound")));
    EXPECT_FALSE(shown("updateLabel"));
    EXPECT_FALSE(shown("alarm"));
    EXPECT_EQ(dock().findChild<QWidget*>(QStringLiteral("corvexTourneyContent"))->objectName(),
              QStringLiteral("corvexTourneyContent"));
}

TEST_F(DockTest, LinkedIdleShowsModesScoreAndAccountRows) {
    linkAs();
    steam = SteamSeen{QStringLiteral("765"), QStringLiteral("TesterSteam"), true};
    makeDock();
    applyStatus(kLinkedIdle);
    EXPECT_EQ(label("dockMessage")->text(), Lang::text("Dock.NotInCup"));
    EXPECT_TRUE(shown("modeTournament"));
    EXPECT_TRUE(button("modeTournament")->isChecked());
    EXPECT_TRUE(shown("tournamentArea"));
    EXPECT_FALSE(shown("wagerArea"));
    EXPECT_TRUE(shown("scoreBox"));
    EXPECT_EQ(label("score")->text(), QStringLiteral("$0"));
    EXPECT_EQ(label("scoreLine")->text(), Lang::text("Score.StartsAtZero"));
    EXPECT_TRUE(shown("overlayRow"));
    EXPECT_FALSE(shown("accountLink"));
    EXPECT_TRUE(shown("accountUnlink"));
    EXPECT_FALSE(shown("verifySteam"));
    EXPECT_FALSE(shown("connectTwitch"));
    EXPECT_EQ(property(child<QWidget>("accountBox"), "state"), QStringLiteral("ok"));
    const QString account = plain(label("accountText"));
    EXPECT_TRUE(account.contains(QStringLiteral("tester#1")));
    EXPECT_TRUE(account.contains(QStringLiteral("TesterSteam")));
    EXPECT_FALSE(account.contains(Lang::text("Account.ThreeSteps")));
    EXPECT_TRUE(shown("adsLabel"));
    EXPECT_TRUE(shown("adsAllow"));
    EXPECT_FALSE(shown("adsStop"));
    EXPECT_EQ(button("overlayCard")->text(), Lang::text("Overlay.AddCard"));
    EXPECT_FALSE(shown("removeCard"));
}

TEST_F(DockTest, IncompleteAccountLeadsThroughTheThreeSteps) {
    linkAs();
    makeDock();
    applyStatus(R"({"account": {"discord": {"linked": true, "name": "d"}, "steam": {"linked": false},
                                "complete": false, "chat": {"link": false}}})");
    // Set-up needed: nothing but the account.
    EXPECT_FALSE(shown("modeWager"));
    EXPECT_FALSE(shown("scoreBox"));
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.ThreeSteps")));
    EXPECT_TRUE(shown("verifySteam"));
    EXPECT_TRUE(button("verifySteam")->isEnabled());
    EXPECT_EQ(property(button("verifySteam"), "role"), QStringLiteral("primary"));
    EXPECT_TRUE(shown("connectTwitch"));
    EXPECT_EQ(property(button("connectTwitch"), "role"), QString());
    EXPECT_TRUE(shown("chatRow"));
    EXPECT_TRUE(property(child<QWidget>("accountBox"), "state").isEmpty());

    applyStatus(R"({"account": {"discord": {"linked": true, "name": "d"},
                                "steam": {"linked": true, "id": "1", "name": "S", "verified": true},
                                "complete": false}})");
    EXPECT_FALSE(shown("verifySteam"));
    EXPECT_EQ(property(button("connectTwitch"), "role"), QStringLiteral("primary"));
}

TEST_F(DockTest, SteamOnThisPcDifferentFromTheAccountIsFlagged) {
    linkAs();
    steam = SteamSeen{QStringLiteral("999"), QStringLiteral("Other"), true};
    makeDock();
    applyStatus(kLinkedIdle);
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.SteamMismatch").arg("Other")));
    EXPECT_TRUE(property(child<QWidget>("accountBox"), "state").isEmpty());
}

TEST_F(DockTest, CupPhasesDriveThePillTimeLineAndScore) {
    linkAs();
    makeDock();
    const qint64 now = uplink().serverNow();
    QJsonObject doc = linkedWith(R"({"cup": {"id": "c1", "name": "Friday Cup", "phase": "registration"},
                                     "tournament": {"cup": {"id": "c1", "phase": "registration"},
                                                    "registered": true}})");
    applyStatus(doc);
    EXPECT_EQ(label("pill")->text(), phaseLabel(QStringLiteral("registration")));
    EXPECT_EQ(label("dockMessage")->text(), QStringLiteral("Friday Cup · ") + Lang::text("Dock.NoTeamYet"));
    EXPECT_FALSE(shown("timeLine"));

    QJsonObject cup = doc["cup"].toObject();
    cup["phase"] = "countdown";
    cup["starts_at"] = double(now + 90500);
    doc["cup"] = cup;
    doc["team"] = QJsonObject{{"id", "t1"}, {"name", "Wolves"}, {"tag", "WLF"}};
    applyStatus(doc);
    EXPECT_EQ(label("dockMessage")->text(), QStringLiteral("Friday Cup · Wolves [WLF]"));
    EXPECT_TRUE(shown("timeLine"));
    EXPECT_TRUE(label("timeLine")->text().startsWith(Lang::text("Dock.StartsInSnapshot").arg("01:")));
    EXPECT_TRUE(label("pill")->styleSheet().isEmpty());

    cup["phase"] = "live";
    cup["ends_at"] = double(now + 3 * 3600 * 1000);
    doc["cup"] = cup;
    doc["me"] = QJsonObject{{"score", 1234567}, {"rank", 2}, {"counted", false}};
    doc["team_score"] = 5000;
    doc["team_rank"] = 3;
    applyStatus(doc);
    EXPECT_TRUE(label("timeLine")->text().startsWith(Lang::text("Dock.EndsIn").arg("2:59:")));
    EXPECT_EQ(label("pill")->styleSheet(), QStringLiteral("background:#8C9A5B;color:#0B0E10;"));
    EXPECT_EQ(label("score")->text(), QStringLiteral("$1,234,567"));
    EXPECT_EQ(label("score")->styleSheet(), QStringLiteral("color:#A9B86B;"));
    EXPECT_EQ(label("scoreLine")->text(), QStringLiteral("2nd place · team $5,000, 3rd place · not counted"));

    cup["phase"] = "ended";
    doc["cup"] = cup;
    doc["me"] = QJsonObject{{"score", -50}, {"rank", 11}};
    applyStatus(doc);
    EXPECT_EQ(label("timeLine")->text(), Lang::text("Dock.CupOver"));
    EXPECT_EQ(label("score")->text(), QStringLiteral("-$50"));
    EXPECT_EQ(label("score")->styleSheet(), QStringLiteral("color:#D0645A;"));
}

TEST_F(DockTest, ModeSwitchAndTheLockRow) {
    linkAs();
    makeDock();
    applyStatus(linkedWith(R"({"wager": {"id": "w1", "format": "2v2", "minutes": 30, "phase": "open"}})"));
    EXPECT_EQ(label("pill")->text(), Lang::text("Pill.Wager").arg(phaseLabel("open")));
    EXPECT_EQ(label("dockMessage")->text(), Lang::text("Wager.Name") + QStringLiteral(" 2v2 · 30 min"));
    // Tournament mode while a wager runs proposes the wager.
    EXPECT_TRUE(shown("modeLock"));
    EXPECT_EQ(label("modeLock")->text(), Lang::text("Mode.HintWager"));
    click("modeSwitch");
    EXPECT_EQ(settings().mode, QStringLiteral("wager"));
    EXPECT_TRUE(button("modeWager")->isChecked());
    EXPECT_TRUE(shown("wagerArea"));
    EXPECT_FALSE(shown("tournamentArea"));
    EXPECT_FALSE(shown("modeLock"));
    EXPECT_TRUE(shown("scoreBox")); // a wager is active

    // Choosing the stored mode again writes nothing.
    const QString config = QDir(dir.path()).filePath(QStringLiteral("config.json"));
    QFile::remove(config);
    click("modeWager");
    EXPECT_FALSE(QFile::exists(config));
    click("modeTournament");
    EXPECT_TRUE(QFile::exists(config));
    EXPECT_EQ(settings().mode, QStringLiteral("tournament"));
}

TEST_F(DockTest, UpdateBannerAndOnAirLabel) {
    linkAs();
    makeDock();
    applyStatus(linkedWith(R"({"plugin": {"latest": "0.4.0", "min": "0.1"}, "on_air": {"state": "live"}})"));
    EXPECT_TRUE(shown("updateLabel"));
    EXPECT_EQ(label("updateLabel")->text(), Lang::text("Update.Available"));
    EXPECT_TRUE(property(label("updateLabel"), "state").isEmpty());
    EXPECT_TRUE(shown("onAir"));
    EXPECT_TRUE(label("onAir")->text().endsWith(QStringLiteral("  ") + Lang::text("OnAir.Live")));
    EXPECT_EQ(property(label("onAir"), "state"), QStringLiteral("live"));

    applyStatus(
        linkedWith(R"json({"plugin": {"latest": "0.4.0", "min": "0.3.1", "url": "javascript:alert(1)"},
                                   "on_air": {"state": "cued"}})json"));
    EXPECT_EQ(label("updateLabel")->text(), Lang::text("Update.Required"));
    EXPECT_EQ(property(label("updateLabel"), "state"), QStringLiteral("required"));
    EXPECT_EQ(label("onAir")->text(), Lang::text("OnAir.Cued"));
    EXPECT_EQ(property(label("onAir"), "state"), QStringLiteral("cued"));
    // A download link that is no web page is not opened.
    click("updateDownload");
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(label("notice")->text(), Lang::text("Common.NotWebPage"));

    applyStatus(linkedWith(R"({"plugin": {"latest": "0.3.0", "min": "", "url": "/get/it"},
                               "on_air": {"state": "weird"}})"));
    EXPECT_FALSE(shown("updateLabel"));
    EXPECT_TRUE(shown("onAir"));
    EXPECT_TRUE(label("onAir")->text().isEmpty());
}

TEST_F(DockTest, DownloadOpensTheLinkOnTheWebSite) {
    linkAs();
    makeDock();
    applyStatus(linkedWith(R"({"plugin": {"latest": "9.0", "url": "/get/it?x=1"}})"));
    click("updateDownload");
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(opened[0].endsWith(QStringLiteral("/get/it?x=1")));
    EXPECT_TRUE(opened[0].startsWith(QStringLiteral("https://")));
    EXPECT_EQ(label("notice")->text(), Lang::text("Update.InstallerHow"));
}

TEST_F(DockTest, AlarmFlashesUntilAcknowledgedAndReturnsWithItsCause) {
    startService();
    linkAs();
    makeDock();
    QJsonObject doc = linkedWith(R"({"cup": {"id": "c1", "name": "Cup", "phase": "live"}})");
    applyStatus(doc);
    EXPECT_TRUE(shown("alarm"));
    EXPECT_TRUE(plain(label("alarm")).contains(Lang::text("Stream.NotStreaming")));
    EXPECT_TRUE(shown("alarmAck"));
    EXPECT_EQ(property(button("alarmAck"), "role"), QStringLiteral("alarm"));
    ASSERT_TRUE(waitUntil([&] { return property(label("alarm"), "flash") == QLatin1String("on"); }, 3000));

    output.streaming = true;
    dock().refresh();
    EXPECT_FALSE(shown("alarm")); // streaming, and no source says it is off the stream
    readerGiven = true;
    reader.info.exists = true; // the game's source is not in the program
    dock().refresh();
    EXPECT_TRUE(plain(label("alarm")).contains(Lang::text("Stream.GameNotOnStream")));
    readerGiven = false;

    output.streaming = false;
    dock().refresh();
    click("alarmAck");
    EXPECT_FALSE(shown("alarmAck"));
    EXPECT_TRUE(shown("alarm"));
    EXPECT_EQ(property(label("alarm"), "flash"), QStringLiteral("off"));
    EXPECT_TRUE(waitUntil([&] { return service.requestsTo(QStringLiteral("/me/ack")).size() == 1; }));

    // The Twitch channel being live counts: a line instead of the alarm.
    doc["stream"] = QJsonObject{{"twitch", true}, {"twitch_login", "tester_tv"}};
    applyStatus(doc);
    EXPECT_FALSE(shown("alarm"));
    EXPECT_TRUE(shown("twitchLine"));
    EXPECT_EQ(label("twitchLine")->text(), Lang::text("Stream.TwitchCountsLogin").arg("tester_tv"));

    // The cause returns: so do the button and the flashing.
    doc.remove(QStringLiteral("stream"));
    applyStatus(doc);
    EXPECT_TRUE(shown("alarmAck"));
    EXPECT_FALSE(shown("twitchLine"));
}

TEST_F(DockTest, LanguageMenuStoresTheChoiceForTheNextStart) {
    makeDock();
    auto* menu = child<QComboBox>("languageMenu");
    ASSERT_EQ(menu->count(), 15);
    EXPECT_EQ(menu->currentIndex(), 0);
    EXPECT_EQ(menu->itemData(0).toString(), QStringLiteral("auto"));
    const int german = menu->findData(QStringLiteral("de"));
    ASSERT_GT(german, 0);
    emit menu->activated(german);
    EXPECT_EQ(settings().lang, QStringLiteral("de"));
    EXPECT_TRUE(shown("notice"));
    EXPECT_EQ(label("notice")->text(), Lang::text("Lang.Restart"));
}

TEST_F(DockTest, TextsFollowTheModuleLanguage) {
    useLanguage(QStringLiteral("de"));
    makeDock();
    EXPECT_EQ(label("pill")->text(), Lang::text("Pill.NoCup"));
    EXPECT_NE(Lang::text("Account.Link"), QStringLiteral("Link your account"));
    EXPECT_EQ(button("accountLink")->text(), Lang::text("Account.Link"));
    EXPECT_EQ(button("modeWager")->text(), Lang::text("Mode.Wager"));
    EXPECT_EQ(label("dockMessage")->text(), Lang::text("Dock.LinkBelow"));
    linkAs();
    applyStatus(linkedWith(R"({"cup": {"id": "c1", "name": "Cup", "phase": "live"},
                               "me": {"score": 10, "rank": 1}})"));
    EXPECT_EQ(label("scoreLine")->text(), Lang::text("Score.Rank").arg(Lang::text("Common.OrdinalFirst")));
    EXPECT_TRUE(plain(label("alarm")).contains(Lang::text("Stream.NotStreaming")));
}

TEST_F(DockTest, DemoModeShowsALinkedDock) {
    qputenv("CORVEX_TOURNEY_DEMO", "1");
    makeDock();
    qunsetenv("CORVEX_TOURNEY_DEMO");
    ASSERT_NE(uplink().demo(), 0);
    EXPECT_TRUE(dock().linked());
    EXPECT_TRUE(shown("modeWager"));
    EXPECT_TRUE(shown("accountUnlink"));
    EXPECT_FALSE(shown("accountLink"));

    // The screenshot mode writes both modes and its report.
    const QString shots = QDir(dir.path()).filePath(QStringLiteral("shots"));
    dock().writeScreenshots(shots);
    EXPECT_TRUE(QFile::exists(shots + QStringLiteral("/dock-tournament-en.png")));
    EXPECT_TRUE(QFile::exists(shots + QStringLiteral("/dock-wager-en.png")));
    QFile done(shots + QStringLiteral("/done-en"));
    ASSERT_TRUE(done.open(QIODevice::ReadOnly));
    EXPECT_TRUE(done.readAll().startsWith("tournament min width "));
    EXPECT_EQ(settings().mode, QStringLiteral("tournament"));
}

TEST_F(DockTest, WagerPhasesAsTheFrameShowsThem) {
    linkAs();
    settings().mode = QStringLiteral("wager");
    makeDock();
    const qint64 now = uplink().serverNow();
    const QJsonObject me{{"id", "p-1"}, {"name", "Tester"}};
    QJsonObject wager{
        {"id", "w1"},
        {"format", "1v1"},
        {"minutes", 90},
        {"phase", "live"},
        {"ends_at", double(now + 65000)},
        {"sides",
         QJsonObject{{"a", QJsonObject{{"name", "A"}, {"score", 700}}},
                     {"b", QJsonObject{{"name", "B"}, {"score", 1200}, {"players", QJsonArray{me}}}}}}};
    QJsonObject doc = linkedWith("{}");
    doc["wager"] = wager;
    doc["cup"] =
        QJsonObject{{"id", "c9"}, {"kind", "wager"}, {"phase", "live"}, {"ends_at", double(now + 65000)}};
    doc["me"] = QJsonObject{{"score", 1200}, {"rank", 1}};
    applyStatus(doc);
    EXPECT_EQ(label("scoreTitle")->text(), Lang::text("Score.WagerTitle"));
    EXPECT_EQ(label("dockMessage")->text(),
              Lang::text("Wager.Name") + QStringLiteral(" 1v1 · ") + formatMinutes(90));
    EXPECT_TRUE(label("timeLine")->text().startsWith(Lang::text("Dock.EndsIn").arg("01:0")));
    EXPECT_EQ(label("pill")->styleSheet(), QStringLiteral("background:#8C9A5B;color:#0B0E10;"));
    ASSERT_EQ(uplink().status().wager.side, QStringLiteral("b"));
    EXPECT_EQ(label("scoreLine")->text(), Lang::text("Score.WagerSides").arg("$1,200", "$700"));
    EXPECT_TRUE(shown("wagerArea"));
    EXPECT_TRUE(shown("scoreBox"));

    // A wager without a cup: the pill names the wager's phase; over once final.
    doc.remove(QStringLiteral("cup"));
    wager["phase"] = "final";
    doc["wager"] = wager;
    applyStatus(doc);
    EXPECT_EQ(label("pill")->text(), Lang::text("Pill.Wager").arg(phaseLabel("final")));
    EXPECT_EQ(label("timeLine")->text(), Lang::text("Dock.WagerOver"));
    EXPECT_TRUE(label("pill")->styleSheet().isEmpty());
    // No wager is active any more: tournament mode proposes nothing.
    click("modeTournament");
    EXPECT_FALSE(shown("modeLock"));
}

TEST_F(DockTest, OverlayButtonSaysWhyNothingWasAdded) {
    linkAs();
    makeDock();
    applyStatus(kLinkedIdle);
    QString why;
    const bool added = engine().addOverlay(Overlay::Card, &why);
    if (added) {
        GTEST_SKIP() << "this build adds overlays without OBS";
    }
    click("overlayCard");
    EXPECT_TRUE(shown("notice"));
    EXPECT_EQ(label("notice")->text(), why);
    EXPECT_FALSE(shown("removeCard"));
}
