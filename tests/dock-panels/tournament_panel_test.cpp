#include "panel_fixture.h"

#include "dock/format.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>

namespace {

// A registration as the service writes it into the status document.
QJsonObject cupDoc(const char* phase, bool registered, const QJsonValue& team = QJsonValue::Null,
                   const QString& name = QStringLiteral("Friday Cup")) {
    const QJsonObject cup{{"id", "c-9"},
                          {"name", name},
                          {"phase", phase},
                          {"status", "open"},
                          {"code", "CUP-9"},
                          {"starts_at", 1700003600000.0},
                          {"ends_at", 1700007200000.0},
                          {"team_size", 2},
                          {"max_teams", 8}};
    return QJsonObject{{"player", QJsonObject{{"id", "p-1"}, {"name", "Tester"}}},
                       {"tournament", QJsonObject{{"cup", cup}, {"registered", registered}, {"team", team}}}};
}

QJsonObject teamDoc(bool captain, bool ready, bool teamReady,
                    const QJsonArray& members = {"Tester", "Mate"}) {
    return QJsonObject{
        {"id", "t-1"},
        {"name", "Night Owls"},
        {"tag", "OWL"},
        {"captain", captain},
        {"ready", ready},
        {"team_ready", teamReady},
        {"members", members},
        {"invite", QJsonObject{{"code", "T-OWL123"}, {"url", "https://cups.example/join/T-OWL123"}}}};
}

class TournamentPanelTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        setMode("tournament");
    }
};

TEST_F(TournamentPanelTest, UnlinkedAsksToLinkFirst) {
    settings().token.clear();
    view->refresh();
    EXPECT_TRUE(shown("tournamentInfo"));
    EXPECT_EQ(text("tournamentInfo"), Lang::text("Tournament.LinkFirst"));
    EXPECT_TRUE(shown("tournamentRegisterRow"));
    EXPECT_FALSE(enabled("tournamentRegister"));
    EXPECT_FALSE(enabled("tournamentCode"));
    EXPECT_FALSE(shown("tournamentJoinBox"));
    EXPECT_FALSE(shown("tournamentHeadline"));
}

TEST_F(TournamentPanelTest, OpenRegistrationOffersTheCupAndFillsItsCodeOnce) {
    find<QLineEdit>("tournamentCode")->clear(); // the service's own open cup filled it at start
    apply(cupDoc("registration", false));
    EXPECT_TRUE(shown("tournamentRegisterRow"));
    EXPECT_TRUE(enabled("tournamentRegister"));
    EXPECT_TRUE(shown("tournamentRule"));
    const QString info = text("tournamentInfo");
    EXPECT_TRUE(info.startsWith(Lang::text("Tournament.OpenFor").arg(QStringLiteral("Friday Cup"))))
        << info.toStdString();
    EXPECT_TRUE(info.contains(QStringLiteral(" · ")));
    auto* code = find<QLineEdit>("tournamentCode");
    EXPECT_EQ(code->text(), QStringLiteral("CUP-9"));
    EXPECT_EQ(code->maxLength(), 12);
    EXPECT_EQ(code->placeholderText(), QStringLiteral("T-XXXXX"));

    // What the player types stays; the same code from the service never comes back.
    code->setText(QStringLiteral("MINE-1"));
    view->refresh();
    EXPECT_EQ(code->text(), QStringLiteral("MINE-1"));
    code->clear();
    view->refresh();
    EXPECT_TRUE(code->text().isEmpty());
    EXPECT_TRUE(shown("tournamentJoinBox"));
    EXPECT_FALSE(shown("tournamentCreateBox"));
    EXPECT_FALSE(shown("tournamentReady"));
    EXPECT_FALSE(shown("tournamentUnregister"));

    apply(R"({"tournament":{"registered":false}})");
    EXPECT_EQ(text("tournamentInfo"), Lang::text("Tournament.RegisterWithCode"));
}

TEST_F(TournamentPanelTest, RegisteredWithoutTeamIsInThePool) {
    apply(cupDoc("registration", true));
    EXPECT_FALSE(shown("tournamentRegisterRow"));
    EXPECT_FALSE(shown("tournamentInfo"));
    EXPECT_TRUE(shown("tournamentRule"));
    EXPECT_TRUE(shown("tournamentHeadline"));
    const QString headline = text("tournamentHeadline");
    EXPECT_TRUE(headline.startsWith(QStringLiteral("<b>Friday Cup</b> · ") +
                                    phaseLabel(QStringLiteral("registration"))));
    EXPECT_TRUE(headline.contains(QStringLiteral("<br><span style='color:#9AA3AA'>")));
    EXPECT_TRUE(headline.contains(formatServerTime(uplink(), 1700003600000).toHtmlEscaped()));
    EXPECT_EQ(text("tournamentTeam"), Lang::text("Tournament.InPool").toHtmlEscaped());
    EXPECT_TRUE(shown("tournamentCreateBox"));
    EXPECT_TRUE(shown("tournamentJoinBox"));
    EXPECT_FALSE(shown("tournamentReady"));
    EXPECT_FALSE(shown("tournamentInviteBox"));
    EXPECT_TRUE(shown("tournamentUnregister"));
    EXPECT_EQ(find<QLineEdit>("tournamentTag")->maxLength(), 5);
    EXPECT_EQ(find<QLineEdit>("tournamentPassword")->echoMode(), QLineEdit::Password);
}

TEST_F(TournamentPanelTest, CaptainSeesTeamInviteAndReadyArea) {
    apply(cupDoc("registration", true, teamDoc(true, false, false)));
    const QString team = text("tournamentTeam");
    EXPECT_TRUE(team.startsWith(Lang::text("Tournament.YourTeam") +
                                QStringLiteral(" <b>Night Owls</b> [OWL] (") +
                                Lang::text("Tournament.Captain") + QStringLiteral(")")));
    EXPECT_TRUE(team.contains(Lang::text("Tournament.Teammates") + QStringLiteral(" Mate</span>")));
    EXPECT_FALSE(team.contains(QStringLiteral("Tester")));
    EXPECT_FALSE(shown("tournamentCreateBox"));
    EXPECT_FALSE(shown("tournamentJoinBox"));
    EXPECT_TRUE(shown("tournamentInviteBox"));
    EXPECT_TRUE(text("tournamentInvite").contains(QStringLiteral("<b style='color:#E0B24E'>T-OWL123</b>")));
    EXPECT_TRUE(shown("tournamentCopyLink"));
    EXPECT_TRUE(shown("tournamentReady"));
    EXPECT_TRUE(shown("tournamentChecks"));
    EXPECT_TRUE(text("tournamentChecks").startsWith(QStringLiteral("<table")));
    EXPECT_TRUE(enabled("tournamentReady"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyCaptain"));
    EXPECT_TRUE(find<QPushButton>("tournamentReady")->styleSheet().contains(QStringLiteral("#C99A3B")));

    // A member alone in the list, no invite URL, not the captain.
    QJsonObject member = teamDoc(false, false, false, QJsonArray{"Tester"});
    member.insert("invite", QJsonObject{{"code", "T-OWL123"}});
    apply(cupDoc("registration", true, member));
    EXPECT_FALSE(text("tournamentTeam").contains(QStringLiteral("<br>")));
    EXPECT_FALSE(shown("tournamentInviteBox"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyUp"));
}

TEST_F(TournamentPanelTest, ReadyButtonFollowsPlayerAndTeam) {
    apply(cupDoc("locked", true, teamDoc(false, true, true)));
    EXPECT_TRUE(shown("tournamentReady"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyTeamReady"));
    EXPECT_TRUE(find<QPushButton>("tournamentReady")->styleSheet().contains(QStringLiteral("#2F5A34")));
    EXPECT_FALSE(shown("tournamentUnregister"));
    EXPECT_FALSE(shown("tournamentRule"));
    apply(cupDoc("locked", true, teamDoc(false, true, false)));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyWaiting"));
    apply(cupDoc("locked", true, teamDoc(false, false, true)));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.CaptainReadied"));

    // A failing check blocks readying up, and says why; withdrawing stays possible.
    healthy = false;
    apply(cupDoc("locked", true, teamDoc(false, false, false)));
    auto* ready = find<QPushButton>("tournamentReady");
    EXPECT_FALSE(ready->isEnabled());
    EXPECT_TRUE(ready->toolTip().startsWith(Lang::text("Check.NotYet").section(QLatin1Char('%'), 0, 0)));
    EXPECT_TRUE(text("tournamentChecks").contains(QStringLiteral("&#10006;")));
    apply(cupDoc("locked", true, teamDoc(false, true, false)));
    EXPECT_TRUE(ready->isEnabled());
}

TEST_F(TournamentPanelTest, RunningCupKeepsHeadlineAndTeamOnly) {
    apply(cupDoc("countdown", true, teamDoc(true, true, true)));
    EXPECT_TRUE(shown("tournamentRule"));
    EXPECT_FALSE(shown("tournamentReady"));
    apply(cupDoc("live", true, teamDoc(true, true, true)));
    EXPECT_TRUE(shown("tournamentHeadline"));
    EXPECT_TRUE(shown("tournamentTeam"));
    EXPECT_FALSE(shown("tournamentReady"));
    EXPECT_FALSE(shown("tournamentChecks"));
    EXPECT_FALSE(shown("tournamentUnregister"));
    EXPECT_FALSE(shown("tournamentRule"));
    EXPECT_TRUE(shown("tournamentInviteBox"));
    apply(cupDoc("ended", true, teamDoc(true, true, true)));
    EXPECT_TRUE(text("tournamentHeadline").contains(phaseLabel(QStringLiteral("ended")).toHtmlEscaped()));
}

TEST_F(TournamentPanelTest, HostileNamesStayText) {
    const QString evil =
        QStringLiteral("<img src=x><a href='file:///etc'>x</a>\u202Eevil") + QString(10000, QLatin1Char('W'));
    QJsonObject team = teamDoc(true, false, false, QJsonArray{"Tester", evil});
    team.insert("name", evil);
    team.insert("tag", "<i>");
    apply(cupDoc("registration", true, team, evil));
    for (const char* name : {"tournamentHeadline", "tournamentTeam", "tournamentInvite"}) {
        const QString html = text(name);
        EXPECT_FALSE(html.contains(QStringLiteral("<img"))) << name;
        EXPECT_FALSE(html.contains(QStringLiteral("<a "))) << name;
        EXPECT_FALSE(html.contains(QStringLiteral("<i>"))) << name;
    }
    EXPECT_TRUE(text("tournamentHeadline").contains(evil.toHtmlEscaped()));
    EXPECT_TRUE(text("tournamentTeam").contains(QStringLiteral("[&lt;i&gt;]")));
    view->grab(); // laid out and painted without trouble

    apply(cupDoc("registration", false, QJsonValue::Null, evil));
    EXPECT_EQ(find<QLabel>("tournamentInfo")->text(),
              Lang::text("Tournament.OpenFor").arg(evil).toHtmlEscaped() + QStringLiteral(" · ") +
                  Lang::text("Tournament.StartsLower")
                      .arg(formatServerTime(uplink(), 1700003600000))
                      .toHtmlEscaped());
}

TEST_F(TournamentPanelTest, GermanTexts) {
    redockIn("de");
    apply(cupDoc("registration", true, teamDoc(true, false, false)));
    EXPECT_NE(Lang::text("Tournament.ReadyCaptain"), QStringLiteral("Ready up the team"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyCaptain"));
    EXPECT_EQ(text("tournamentRegister"), Lang::text("Tournament.Register"));
    EXPECT_TRUE(text("tournamentTeam").startsWith(Lang::text("Tournament.YourTeam").toHtmlEscaped()));
}

// ---- actions through the real service link ----

class TournamentActions : public TournamentPanelTest {
protected:
    void registerInService() {
        service.editCup(QStringLiteral("c-1"),
                        [](testsvc::Cup& c) { c.registered.push_back(QStringLiteral("p-1")); });
    }
    bool inTeam(const QString& teamId) {
        for (const testsvc::Team& t : service.teams()) {
            for (const testsvc::Member& m : t.members) {
                if (t.id == teamId && m.id == QLatin1String("p-1")) {
                    return true;
                }
            }
        }
        return false;
    }
};

TEST_F(TournamentActions, RegisterWithTheTypedCode) {
    poll();
    auto* code = find<QLineEdit>("tournamentCode");
    EXPECT_EQ(code->text(), QStringLiteral("CUP-1"));
    code->clear();
    click("tournamentRegister");
    idle();
    EXPECT_EQ(service.countTo(QStringLiteral("/cup/register")), 0);

    code->setText(QStringLiteral("  cup-1 "));
    click("tournamentRegister");
    EXPECT_FALSE(enabled("tournamentRegister")); // busy until the reply
    ASSERT_TRUE(reached(QStringLiteral("/cup/register")));
    ASSERT_TRUE(waitUntil([this] { return enabled("tournamentUnregister"); }));
    EXPECT_EQ(service.requestsTo(QStringLiteral("/cup/register")).front().json().value("code").toString(),
              QStringLiteral("CUP-1"));
    EXPECT_EQ(service.cups().front().registered, std::vector<QString>{QStringLiteral("p-1")});
    poll();
    EXPECT_FALSE(shown("tournamentRegisterRow"));
    EXPECT_TRUE(shown("tournamentCreateBox"));
}

TEST_F(TournamentActions, CreateTeamChecksNameTagAndPassword) {
    registerInService();
    poll();
    find<QLineEdit>("tournamentTeamName")->setText(QStringLiteral("  Night Owls "));
    auto* tag = find<QLineEdit>("tournamentTag");
    auto* password = find<QLineEdit>("tournamentPassword");
    for (const char* bad : {"a", "a-b"}) {
        tag->setText(QString::fromLatin1(bad));
        click("tournamentCreateTeam");
    }
    tag->setText(QStringLiteral("owl1"));
    password->setText(QStringLiteral("abc"));
    click("tournamentCreateTeam");
    idle();
    EXPECT_EQ(service.countTo(QStringLiteral("/cup/c-1/team")), 0);

    tag->setText(QStringLiteral("abcdefg"));
    EXPECT_EQ(tag->text(), QStringLiteral("abcde"));
    tag->setText(QStringLiteral("owl1"));
    password->clear();
    click("tournamentCreateTeam");
    ASSERT_TRUE(reached(QStringLiteral("/cup/c-1/team")));
    const QJsonObject body = service.requestsTo(QStringLiteral("/cup/c-1/team")).front().json();
    EXPECT_EQ(body.value("name").toString(), QStringLiteral("Night Owls"));
    EXPECT_EQ(body.value("tag").toString(), QStringLiteral("OWL1"));
    EXPECT_FALSE(body.contains(QStringLiteral("password")));
    ASSERT_EQ(service.teams().size(), 1U);
    poll();
    EXPECT_TRUE(shown("tournamentInviteBox"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyCaptain"));
}

TEST_F(TournamentActions, JoinWithAPastedInviteLink) {
    testsvc::Team team;
    team.id = QStringLiteral("t-7");
    team.cupId = QStringLiteral("c-1");
    team.name = QStringLiteral("Owls");
    team.tag = QStringLiteral("OWL");
    team.inviteCode = QStringLiteral("T-ABC123");
    team.captainId = QStringLiteral("p-9");
    team.members.push_back(testsvc::Member{QStringLiteral("p-9"), QStringLiteral("Cap"), {}, false, true, 0});
    service.addTeam(team);
    poll();
    find<QLineEdit>("tournamentJoinCode")
        ->setText(QStringLiteral(" https://cups.example/c/join/t-abc123?ref=discord#x"));
    click("tournamentJoinTeam");
    ASSERT_TRUE(reached(QStringLiteral("/cup/team/join-code")));
    EXPECT_EQ(
        service.requestsTo(QStringLiteral("/cup/team/join-code")).front().json().value("code").toString(),
        QStringLiteral("T-ABC123"));
    EXPECT_TRUE(inTeam(QStringLiteral("t-7")));
    poll();
    EXPECT_TRUE(text("tournamentTeam").contains(QStringLiteral("Cap")));
}

TEST_F(TournamentActions, ReadyUpAndWithdraw) {
    registerInService();
    testsvc::Team team;
    team.id = QStringLiteral("t-1");
    team.cupId = QStringLiteral("c-1");
    team.name = QStringLiteral("Owls");
    team.tag = QStringLiteral("OWL");
    team.inviteCode = QStringLiteral("T-OWL");
    team.captainId = QStringLiteral("p-1");
    team.members.push_back(
        testsvc::Member{QStringLiteral("p-1"), QStringLiteral("Tester"), {}, false, true, 0});
    service.addTeam(team);
    poll();
    click("tournamentReady");
    EXPECT_FALSE(enabled("tournamentReady"));
    view->refresh(); // the 1 s redraw does not re-enable it while the reply is out
    EXPECT_FALSE(enabled("tournamentReady"));
    ASSERT_TRUE(reached(QStringLiteral("/tournament/ready")));
    QJsonObject body = service.requestsTo(QStringLiteral("/tournament/ready")).back().json();
    EXPECT_EQ(body.value("cup").toString(), QStringLiteral("c-1"));
    EXPECT_TRUE(body.value("ready").toBool());
    poll();
    // Alone in a team of two: ready, waiting for the second player.
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyWaiting"));

    healthy = false; // taking it back needs no check
    view->refresh();
    click("tournamentReady");
    ASSERT_TRUE(reached(QStringLiteral("/tournament/ready"), 2));
    EXPECT_FALSE(
        service.requestsTo(QStringLiteral("/tournament/ready")).back().json().value("ready").toBool(true));
    EXPECT_FALSE(service.teams().front().members.front().ready);
}

TEST_F(TournamentActions, UnregisterAndNewCodeAskFirst) {
    registerInService();
    service.editCup(QStringLiteral("c-1"),
                    [](testsvc::Cup& c) { c.name = QStringLiteral("<b>Big</b> Cup"); });
    poll();
    answer = false;
    click("tournamentUnregister");
    EXPECT_EQ(lastQuestion(), Lang::text("Tournament.LeaveQ").arg(QStringLiteral("<b>Big</b> Cup")));
    idle();
    EXPECT_EQ(service.countTo(QStringLiteral("/cup/c-1/unregister")), 0);

    answer = true;
    click("tournamentUnregister");
    ASSERT_TRUE(reached(QStringLiteral("/cup/c-1/unregister")));
    EXPECT_TRUE(service.cups().front().registered.empty());
}

TEST_F(TournamentActions, NewTeamCodeAfterYes) {
    registerInService();
    testsvc::Team team;
    team.id = QStringLiteral("t-1");
    team.cupId = QStringLiteral("c-1");
    team.name = QStringLiteral("Owls");
    team.tag = QStringLiteral("OWL");
    team.inviteCode = QStringLiteral("T-OLD");
    team.captainId = QStringLiteral("p-1");
    team.members.push_back(
        testsvc::Member{QStringLiteral("p-1"), QStringLiteral("Tester"), {}, false, true, 0});
    service.addTeam(team);
    poll();
    EXPECT_TRUE(text("tournamentInvite").contains(QStringLiteral("T-OLD")));
    answer = true;
    click("tournamentNewCode");
    EXPECT_EQ(lastQuestion(), Lang::text("Tournament.NewCodeQ"));
    ASSERT_TRUE(reached(QStringLiteral("/cup/c-1/team/code")));
    poll();
    EXPECT_NE(service.teams().front().inviteCode, QStringLiteral("T-OLD"));
    EXPECT_TRUE(text("tournamentInvite").contains(service.teams().front().inviteCode));
}

TEST_F(TournamentActions, CopyShowsCopiedThenItsOwnText) {
    registerInService();
    testsvc::Team team;
    team.id = QStringLiteral("t-1");
    team.cupId = QStringLiteral("c-1");
    team.name = QStringLiteral("Owls");
    team.tag = QStringLiteral("OWL");
    team.inviteCode = QStringLiteral("T-COPY1");
    team.captainId = QStringLiteral("p-1");
    team.members.push_back(
        testsvc::Member{QStringLiteral("p-1"), QStringLiteral("Tester"), {}, false, true, 0});
    service.addTeam(team);
    poll();
    click("tournamentCopyCode");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("T-COPY1"));
    EXPECT_EQ(text("tournamentCopyCode"), Lang::text("Common.Copied"));
    click("tournamentCopyCode");
    ASSERT_TRUE(
        waitUntil([this] { return text("tournamentCopyCode") == Lang::text("Tournament.CopyCode"); }, 4000));
    click("tournamentCopyLink");
    EXPECT_TRUE(QGuiApplication::clipboard()->text().endsWith(QStringLiteral("T-COPY1")));
}

} // namespace
