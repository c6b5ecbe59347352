#include "panel_fixture.h"

#include "dock/format.h"

#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>

namespace {

QJsonObject cupDoc(const char* phase, bool registered, const QJsonValue& team = QJsonValue::Null,
                   const QString& name = QStringLiteral("Friday Cup")) {
    const QJsonObject cup{{"id", "c-9"},     {"name", name},   {"phase", phase},
                          {"code", "CUP-9"}, {"team_size", 2}, {"starts_at", 1700003600000.0}};
    return QJsonObject{{"tournament", QJsonObject{{"cup", cup}, {"registered", registered}, {"team", team}}}};
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
    // A team of this player in the service's cup "c-1", registered.
    void teamInService(const QString& invite = QStringLiteral("T-OWL")) {
        service.editCup(QStringLiteral("c-1"),
                        [](testsvc::Cup& c) { c.registered.push_back(QStringLiteral("p-1")); });
        testsvc::Team team;
        team.id = QStringLiteral("t-1");
        team.cupId = QStringLiteral("c-1");
        team.name = QStringLiteral("Owls");
        team.tag = QStringLiteral("OWL");
        team.inviteCode = invite;
        team.captainId = QStringLiteral("p-1");
        team.members.push_back(
            testsvc::Member{QStringLiteral("p-1"), QStringLiteral("Tester"), {}, false, true, 0});
        service.addTeam(team);
    }
};

TEST_F(TournamentPanelTest, BeforeRegistering) {
    settings().token.clear();
    view->refresh();
    EXPECT_EQ(text("tournamentInfo"), Lang::text("Tournament.LinkFirst"));
    EXPECT_FALSE(enabled("tournamentRegister"));
    EXPECT_FALSE(shown("tournamentJoinBox"));

    linkAs();
    auto* code = find<QLineEdit>("tournamentCode");
    code->clear(); // the service's own open cup filled it at start
    apply(cupDoc("registration", false));
    EXPECT_TRUE(text("tournamentInfo")
                    .startsWith(Lang::text("Tournament.OpenFor").arg(QStringLiteral("Friday Cup"))));
    EXPECT_EQ(code->text(), QStringLiteral("CUP-9"));
    // What the player types stays; the same code from the service never comes back.
    code->setText(QStringLiteral("MINE-1"));
    view->refresh();
    EXPECT_EQ(code->text(), QStringLiteral("MINE-1"));
    code->clear();
    view->refresh();
    EXPECT_TRUE(code->text().isEmpty());
    EXPECT_TRUE(shown("tournamentJoinBox"));
    EXPECT_FALSE(shown("tournamentCreateBox"));
    EXPECT_FALSE(shown("tournamentHeadline"));
}

TEST_F(TournamentPanelTest, RegisteredThroughThePhases) {
    apply(cupDoc("registration", true));
    EXPECT_FALSE(shown("tournamentRegisterRow"));
    EXPECT_TRUE(
        text("tournamentHeadline")
            .startsWith(QStringLiteral("<b>Friday Cup</b> · ") + phaseLabel(QStringLiteral("registration"))));
    EXPECT_EQ(text("tournamentTeam"), Lang::text("Tournament.InPool").toHtmlEscaped());
    EXPECT_TRUE(shown("tournamentCreateBox"));
    EXPECT_FALSE(shown("tournamentReady"));
    EXPECT_TRUE(shown("tournamentUnregister"));

    apply(cupDoc("registration", true, teamDoc(true, false, false)));
    EXPECT_TRUE(text("tournamentTeam").contains(QStringLiteral(" <b>Night Owls</b> [OWL] (")));
    EXPECT_TRUE(
        text("tournamentTeam").contains(Lang::text("Tournament.Teammates") + QStringLiteral(" Mate</span>")));
    EXPECT_TRUE(shown("tournamentInviteBox"));
    EXPECT_TRUE(shown("tournamentCopyLink"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyCaptain"));
    EXPECT_TRUE(enabled("tournamentReady"));

    apply(cupDoc("locked", true, teamDoc(false, true, true, {"Tester"})));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyTeamReady"));
    EXPECT_FALSE(text("tournamentTeam").contains(QStringLiteral("<br>"))); // no teammates line
    EXPECT_FALSE(shown("tournamentInviteBox"));                            // not the captain
    EXPECT_FALSE(shown("tournamentUnregister"));
    EXPECT_FALSE(shown("tournamentRule"));
    apply(cupDoc("locked", true, teamDoc(false, false, true)));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.CaptainReadied"));

    apply(cupDoc("live", true, teamDoc(true, true, true)));
    EXPECT_TRUE(shown("tournamentHeadline"));
    EXPECT_TRUE(shown("tournamentTeam"));
    EXPECT_FALSE(shown("tournamentReady"));
    EXPECT_FALSE(shown("tournamentUnregister"));
}

TEST_F(TournamentPanelTest, FailingCheckBlocksReadyButNotWithdrawing) {
    healthy = false;
    apply(cupDoc("locked", true, teamDoc(false, false, false)));
    auto* ready = find<QPushButton>("tournamentReady");
    EXPECT_FALSE(ready->isEnabled());
    EXPECT_TRUE(ready->toolTip().startsWith(Lang::text("Check.NotYet").section(QLatin1Char('%'), 0, 0)));
    apply(cupDoc("locked", true, teamDoc(false, true, false)));
    EXPECT_TRUE(ready->isEnabled());
    EXPECT_EQ(ready->text(), Lang::text("Tournament.ReadyWaiting"));
}

TEST_F(TournamentPanelTest, HostileNamesStayText) {
    const QString evil =
        QStringLiteral("<img src=x><a href='file:///etc'>x</a>\u202E") + QString(10000, QLatin1Char('W'));
    QJsonObject team = teamDoc(true, false, false, QJsonArray{"Tester", evil});
    team.insert("name", evil);
    team.insert("tag", "<i>");
    apply(cupDoc("registration", true, team, evil));
    for (const char* name : {"tournamentHeadline", "tournamentTeam", "tournamentInvite"}) {
        EXPECT_FALSE(text(name).contains(QStringLiteral("<img"))) << name;
        EXPECT_FALSE(text(name).contains(QStringLiteral("<a "))) << name;
        EXPECT_FALSE(text(name).contains(QStringLiteral("<i>"))) << name;
    }
    EXPECT_TRUE(text("tournamentHeadline").contains(evil.toHtmlEscaped()));
    view->grab(); // laid out and painted without trouble
    apply(cupDoc("registration", false, QJsonValue::Null, evil));
    EXPECT_TRUE(
        text("tournamentInfo").startsWith(Lang::text("Tournament.OpenFor").arg(evil).toHtmlEscaped()));
}

TEST_F(TournamentPanelTest, GermanTexts) {
    redockIn("de");
    apply(cupDoc("registration", true, teamDoc(true, false, false)));
    EXPECT_NE(Lang::text("Tournament.ReadyCaptain"), QStringLiteral("Ready up the team"));
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyCaptain"));
    EXPECT_TRUE(text("tournamentTeam").startsWith(Lang::text("Tournament.YourTeam").toHtmlEscaped()));
}

// ---- actions through the real service link ----

TEST_F(TournamentPanelTest, RegisterWithTheTypedCode) {
    auto* code = find<QLineEdit>("tournamentCode");
    code->clear();
    click("tournamentRegister"); // nothing typed: nothing sent
    EXPECT_EQ(text("notice"), Lang::text("Tournament.TypeCode"));
    code->setText(QStringLiteral("  cup-1 "));
    click("tournamentRegister");
    EXPECT_FALSE(enabled("tournamentRegister")); // busy until the reply
    ASSERT_TRUE(reached(QStringLiteral("/cup/register")));
    EXPECT_EQ(service.countTo(QStringLiteral("/cup/register")), 1);
    EXPECT_EQ(service.requestsTo(QStringLiteral("/cup/register")).front().json().value("code").toString(),
              QStringLiteral("CUP-1"));
    EXPECT_EQ(service.cups().front().registered, std::vector<QString>{QStringLiteral("p-1")});
    poll();
    EXPECT_FALSE(shown("tournamentRegisterRow"));
    EXPECT_TRUE(shown("tournamentCreateBox"));
}

TEST_F(TournamentPanelTest, CreateTeamChecksNameTagAndPassword) {
    service.editCup(QStringLiteral("c-1"),
                    [](testsvc::Cup& c) { c.registered.push_back(QStringLiteral("p-1")); });
    poll();
    find<QLineEdit>("tournamentTeamName")->setText(QStringLiteral("  Night Owls "));
    auto* tag = find<QLineEdit>("tournamentTag");
    auto* password = find<QLineEdit>("tournamentPassword");
    tag->setText(QStringLiteral("a")); // too short
    click("tournamentCreateTeam");
    EXPECT_EQ(text("notice"), Lang::text("Tournament.BadTag"));
    tag->setText(QStringLiteral("owl1"));
    password->setText(QStringLiteral("abc")); // too short
    click("tournamentCreateTeam");
    EXPECT_EQ(text("notice"), Lang::text("Tournament.ShortPassword"));
    idle();
    EXPECT_EQ(service.countTo(QStringLiteral("/cup/c-1/team")), 0);

    password->clear();
    click("tournamentCreateTeam");
    ASSERT_TRUE(reached(QStringLiteral("/cup/c-1/team")));
    const QJsonObject body = service.requestsTo(QStringLiteral("/cup/c-1/team")).front().json();
    EXPECT_EQ(body.value("name").toString(), QStringLiteral("Night Owls"));
    EXPECT_EQ(body.value("tag").toString(), QStringLiteral("OWL1"));
    EXPECT_FALSE(body.contains(QStringLiteral("password")));
    poll();
    EXPECT_TRUE(shown("tournamentInviteBox"));
}

TEST_F(TournamentPanelTest, JoinWithAPastedInviteLink) {
    teamInService(QStringLiteral("T-ABC123"));
    service.editCup(QStringLiteral("c-1"), [](testsvc::Cup& c) { c.registered.clear(); });
    service.editTeam(QStringLiteral("t-1"), [](testsvc::Team& t) {
        t.captainId = QStringLiteral("p-9");
        t.members = {testsvc::Member{QStringLiteral("p-9"), QStringLiteral("Cap"), {}, false, true, 0}};
    });
    poll();
    find<QLineEdit>("tournamentJoinCode")
        ->setText(QStringLiteral(" https://cups.example/c/join/t-abc123?ref=discord#x"));
    click("tournamentJoinTeam");
    ASSERT_TRUE(reached(QStringLiteral("/cup/team/join-code")));
    EXPECT_EQ(
        service.requestsTo(QStringLiteral("/cup/team/join-code")).front().json().value("code").toString(),
        QStringLiteral("T-ABC123"));
    EXPECT_EQ(service.teams().front().members.size(), 2U);
}

TEST_F(TournamentPanelTest, ReadyUpAndWithdraw) {
    teamInService();
    poll();
    click("tournamentReady");
    view->refresh(); // the 1 s redraw does not re-enable it while the reply is out
    EXPECT_FALSE(enabled("tournamentReady"));
    ASSERT_TRUE(reached(QStringLiteral("/tournament/ready")));
    EXPECT_TRUE(service.teams().front().members.front().ready);
    poll();
    EXPECT_EQ(text("tournamentReady"), Lang::text("Tournament.ReadyWaiting")); // alone in a team of two

    healthy = false; // taking it back needs no check
    view->refresh();
    click("tournamentReady");
    ASSERT_TRUE(reached(QStringLiteral("/tournament/ready"), 2));
    EXPECT_FALSE(service.teams().front().members.front().ready);
}

TEST_F(TournamentPanelTest, NewCodeAndUnregisterAskFirst) {
    teamInService(QStringLiteral("T-OLD"));
    service.editCup(QStringLiteral("c-1"),
                    [](testsvc::Cup& c) { c.name = QStringLiteral("<b>Big</b> Cup"); });
    poll();
    click("tournamentNewCode");
    EXPECT_EQ(lastQuestion(), Lang::text("Tournament.NewCodeQ"));
    ASSERT_TRUE(reached(QStringLiteral("/cup/c-1/team/code")));
    poll();
    EXPECT_TRUE(text("tournamentInvite").contains(service.teams().front().inviteCode));
    EXPECT_NE(service.teams().front().inviteCode, QStringLiteral("T-OLD"));

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

TEST_F(TournamentPanelTest, CopyShowsCopiedThenItsOwnText) {
    teamInService(QStringLiteral("T-COPY1"));
    poll();
    click("tournamentCopyCode");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("T-COPY1"));
    EXPECT_EQ(text("tournamentCopyCode"), Lang::text("Common.Copied"));
    click("tournamentCopyCode"); // a second press keeps the button's own text to come back to
    ASSERT_TRUE(
        waitUntil([this] { return text("tournamentCopyCode") == Lang::text("Tournament.CopyCode"); }, 4000));
}

} // namespace
