#include "uplink_fixture.h"

namespace {

QJsonObject doc(const char* json) {
    return QJsonDocument::fromJson(QByteArray(json)).object();
}

const char* kWager = R"({"wager":{"id":"w1","format":"3v3","my_code":"A1","created_by":{"id":"p-1"},
    "sides":{"a":{"name":"Reds","players":[{"id":"p-1","ready":true,"score":7,
    "rating":{"before":1200,"after":1216}}]},"b":{"players":[{"id":"p-2"}]}}}})";

// The status model alone: documents applied directly, no network.
class StatusModel : public UplinkTest {
protected:
    void SetUp() override {
        UplinkTest::SetUp();
        settings.player_id = QStringLiteral("p-1");
        settings.player_name = QStringLiteral("Tester");
        uplink = std::make_unique<Uplink>(&settings, nullptr, dir.path());
        QObject::connect(uplink.get(), &Uplink::steamVerified, [this] { ++steam; });
        QObject::connect(uplink.get(), &Uplink::twitchVerified, [this] { ++twitch; });
        QObject::connect(uplink.get(), &Uplink::nudged, [this](const QString& text) { popups.append(text); });
        QObject::connect(
            uplink.get(), &Uplink::messaged,
            [this](const QString& id, const QString& text, const QString& level, const QString& from) {
                popups.append(QStringList{id, text, level, from}.join(QLatin1Char('|')));
            });
    }
    const Status& s() const { return uplink->status(); }
    int steam = 0;
    int twitch = 0;
    QStringList popups;
};

TEST_F(StatusModel, WagerIsKeptClearedOrIgnoredAndReadInFull) {
    uplink->parseStatus(doc(kWager));
    const WagerInfo& w = s().wager;
    EXPECT_EQ(w.teamSize, 3);
    EXPECT_EQ(w.side, QStringLiteral("a"));
    EXPECT_EQ(w.myCode, QStringLiteral("A1"));
    EXPECT_TRUE(w.mine);
    EXPECT_EQ(w.phase, QStringLiteral("open"));
    EXPECT_EQ(w.sideA.players.at(0).score, 7);
    EXPECT_EQ(w.ratingAfter, 1216);
    EXPECT_EQ(w.ratingDelta, 16);

    uplink->parseStatus(doc("{}"));
    EXPECT_EQ(s().wager.myCode, QStringLiteral("A1")); // no "wager": kept
    uplink->parseStatus(doc(R"({"wager":null})"));
    EXPECT_TRUE(s().wager.id.isEmpty());
    uplink->parseStatus(doc(kWager));
    uplink->dismissWager();
    uplink->parseStatus(doc(kWager));
    EXPECT_TRUE(s().wager.id.isEmpty());

    auto parse = [this](const char* json) { return uplink->parseWager(doc(json)); };
    EXPECT_EQ(parse(R"({"format":"8v8"})").teamSize, 5);
    EXPECT_EQ(parse(R"({"format":"duo"})").teamSize, 1);
    WagerInfo r = parse(R"({"rating":1234.6,"rating_delta":-7.4})");
    EXPECT_EQ(r.ratingAfter, 1235);
    EXPECT_EQ(r.ratingDelta, -7);
    EXPECT_FALSE(parse(R"({"rating":{"before":1200}})").ratingKnown);
    r = parse(R"({"rating":1e300,"rating_change":-1e300,"starts_at":-1e300})"); // saturates, never overflows
    EXPECT_EQ(r.ratingAfter, std::numeric_limits<int32_t>::max());
    EXPECT_EQ(r.ratingDelta, std::numeric_limits<int32_t>::min());
    EXPECT_EQ(r.startsAt, std::numeric_limits<int64_t>::min());
}

TEST_F(StatusModel, PopupsOncePerIdAndVerificationOnlyOnAChange) {
    uplink->parseStatus(
        doc(R"({"message":{"id":42,"text":"Hello","from":"Host"},"nudge":{"id":"","text":"x"}})"));
    uplink->parseStatus(
        doc(R"({"message":{"id":"42","text":"again"},"nudge":{"id":"n1","text":"stream!"}})"));
    uplink->parseStatus(doc(R"({"nudge":{"id":"n1","text":"stream!"}})"));
    EXPECT_EQ(popups, (QStringList{QStringLiteral("42|Hello|info|Host"), QStringLiteral("stream!")}));

    const char* verified = R"({"account":{"steam":{"verified":true},"twitch_verified":true}})";
    uplink->parseStatus(doc(verified)); // nothing to compare with yet
    uplink->parseStatus(doc("{}"));
    uplink->parseStatus(doc(verified));
    EXPECT_EQ(steam + twitch, 0);
    uplink->parseStatus(doc(R"({"account":{}})"));
    uplink->parseStatus(doc(verified));
    EXPECT_EQ(steam, 1);
    EXPECT_EQ(twitch, 1);
}

TEST_F(StatusModel, GroupsDefaultsAndWrongTypes) {
    uplink->parseStatus(doc(R"({"player":{"id":"p-1","ign":"","name":"Nick"},"me":{"score":5},
        "overlays":{"player":"https://x.test/card","leaderboard":{"url":"u","w":400,"h":600}},
        "stream":{"obs":"yes","twitch":true},"checks":{"vods_on":false},"plugin":{"latest":"0.4.0"},
        "tournament":{"cup":{"id":17,"team_size":3},"team":{"members":[{"name":"A"},"B"],"invite":{"code":"T-1"}}}})"));
    EXPECT_EQ(Settings::load(dir.path()).player_name, QStringLiteral("Nick")); // stored and saved
    EXPECT_EQ(s().cupKind, QStringLiteral("cup"));
    EXPECT_TRUE(s().hasMe);
    EXPECT_TRUE(s().counted);
    EXPECT_EQ(s().playerOverlay.url, QStringLiteral("https://x.test/card"));
    EXPECT_EQ(s().playerOverlay.width, 0);
    EXPECT_EQ(s().leaderboardOverlay.height, 600);
    EXPECT_EQ(s().stream.obsLive, -1); // a text is not false
    EXPECT_EQ(s().stream.twitchLive, 1);
    EXPECT_EQ(s().checks.vodsOn, 0);
    EXPECT_EQ(s().checks.twitchLive, -1);
    EXPECT_TRUE(s().checks.pluginOk);
    EXPECT_EQ(s().registration.cupId, QStringLiteral("17"));
    EXPECT_EQ(s().registration.members, (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
    EXPECT_EQ(s().registration.inviteCode, QStringLiteral("T-1"));

    uplink->parseStatus(doc(R"({"player":5,"cup":[],"me":"x","team_score":"9","snap":"now","evidence":1,
        "overlays":7,"msg":{},"account":"yes","stream":null,"checks":[],"plugin":3,"nudge":"n","message":[1]})"));
    EXPECT_EQ(s().playerName, QStringLiteral("Nick"));
    EXPECT_TRUE(s().cupId.isEmpty());
    EXPECT_FALSE(s().hasMe);
    EXPECT_EQ(s().teamScore, 0);
    EXPECT_FALSE(s().evidence);
    EXPECT_FALSE(s().account.hasAccount);
    EXPECT_FALSE(s().stream.hasStream);
    EXPECT_EQ(s().plugin.latest, QStringLiteral("0.4.0"));   // kept
    EXPECT_EQ(s().registration.cupId, QStringLiteral("17")); // kept
    uplink->parseStatus(doc(R"({"tournament":{"cup":"c","team":"t"}})"));
    EXPECT_FALSE(s().registration.hasCup);
    EXPECT_FALSE(s().registration.hasTeam);
    EXPECT_TRUE(popups.isEmpty());
}

// Replies that are not status documents at all, through the real transport.
TEST_F(UplinkTest, BadStatusRepliesLeaveTheDefaults) {
    startService();
    link();
    startUplink();
    ASSERT_TRUE(settle());
    uplink->parseStatus(doc(kWager));
    for (const testsvc::Fault& fault :
         {testsvc::Fault::raw("<html>not json</html>", "text/html"),
          testsvc::Fault::raw("{\"cup\":{\"id\":\"c1\","), testsvc::Fault::raw("[1,2,3]"),
          testsvc::Fault::raw(QByteArray(100000, '[')), testsvc::Fault::huge()}) {
        service.addFault(QStringLiteral("/me"), fault);
        step(5000);
        EXPECT_TRUE(uplink->status().cupId.isEmpty());
        EXPECT_EQ(uplink->status().playerId, QStringLiteral("p-1"));
        EXPECT_EQ(uplink->status().wager.id, QStringLiteral("w1"));
    }
    EXPECT_EQ(settings.token, QStringLiteral("tok-1"));

    uplink->ackWarning(QStringLiteral("stream"));
    uplink->ackMessage(QStringLiteral("42"));
    ASSERT_TRUE(service.waitForRequests(QStringLiteral("/me/ack"), 2, 5000));
    QStringList acks;
    for (const auto& request : service.requestsTo(QStringLiteral("/me/ack"))) {
        acks.append(QString::fromUtf8(request.body));
    }
    acks.sort();
    EXPECT_EQ(acks, (QStringList{QStringLiteral("{\"id\":\"42\",\"kind\":\"message\"}"),
                                 QStringLiteral("{\"kind\":\"stream\"}")}));
}

} // namespace
