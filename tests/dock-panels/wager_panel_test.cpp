#include "panel_fixture.h"

#include "dock/format.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>

namespace {

struct WagerShown {
    const char* phase = "open";
    bool mine = true;
    const char* format = "2v2";
    bool meReady = false;
    qint64 startsAt = 0;
    qint64 endsAt = 0;
    const char* winner = "";
};

QJsonObject player(const char* id, const char* name, bool ready, qint64 score) {
    return QJsonObject{{"id", id}, {"name", name}, {"ready", ready}, {"score", double(score)}};
}

// A wager with the player "p-1" on side A, as the service sends it.
QJsonObject wagerDoc(const WagerShown& w) {
    const QJsonObject sides{
        {"a", QJsonObject{{"name", "Alpha"},
                          {"score", 1500.0},
                          {"players", QJsonArray{player("p-1", "Tester", w.meReady, 2000)}}}},
        {"b", QJsonObject{{"score", -250.0}, {"players", QJsonArray{player("p-2", "Rival", true, -250)}}}}};
    return QJsonObject{
        {"wager", QJsonObject{{"id", "w-1"},
                              {"format", w.format},
                              {"minutes", 90},
                              {"phase", w.phase},
                              {"winner", w.winner},
                              {"created_by", QJsonObject{{"id", w.mine ? "p-1" : "p-2"},
                                                         {"name", w.mine ? "Tester" : "Rival"}}},
                              {"code_a", "W-AAAA"},
                              {"code_b", w.mine ? "W-BBBB" : ""},
                              {"my_code", "W-AAAA"},
                              {"side", "a"},
                              {"starts_at", double(w.startsAt)},
                              {"ends_at", double(w.endsAt)},
                              {"sides", sides}}}};
}

class WagerPanelTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        setMode("wager");
    }
    void show(const WagerShown& w) { apply(wagerDoc(w)); }
    bool readyInService() {
        const std::vector<testsvc::Wager> wagers = service.wagers();
        for (const testsvc::Member& m : wagers.front().sideB) {
            if (m.id == QLatin1String("p-1")) {
                return m.ready;
            }
        }
        return false;
    }
};

TEST_F(WagerPanelTest, WithoutAWagerOffersJoinAndCreate) {
    EXPECT_TRUE(shown("wagerJoinCreate"));
    EXPECT_EQ(find<QComboBox>("wagerLength")->currentData().toInt(), 60);
    for (const char* name :
         {"wagerHeadline", "wagerSides", "wagerReady", "wagerLeave", "wagerNew", "wagerCodeRow1"}) {
        EXPECT_FALSE(shown(name)) << name;
    }
    settings().token.clear();
    view->refresh();
    EXPECT_EQ(text("wagerIntro"), Lang::text("Wager.LinkFirst").toHtmlEscaped());
    EXPECT_FALSE(shown("wagerJoinCreate"));
}

TEST_F(WagerPanelTest, OpenWagerCodesSidesAndButtonsByRole) {
    show({});
    EXPECT_FALSE(shown("wagerJoinCreate"));
    EXPECT_TRUE(text("wagerCode1").contains(QStringLiteral(">W-AAAA</span>")));
    EXPECT_TRUE(text("wagerCode2").contains(QStringLiteral(">W-BBBB</span>")));
    const QString sides = text("wagerSides");
    EXPECT_TRUE(sides.contains(QStringLiteral("Alpha · ") + Lang::text("Wager.You").toHtmlEscaped()));
    EXPECT_TRUE(sides.contains(Lang::text("Wager.Side").arg(QStringLiteral("B")).toHtmlEscaped()));
    EXPECT_EQ(sides.count(Lang::text("Wager.Waiting").toHtmlEscaped()), 2); // one free slot a side
    EXPECT_FALSE(sides.contains(QStringLiteral("$")));                      // no scores before the start
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Cancel"));
    for (const char* name : {"wagerReady", "wagerChecks", "wagerStartNow", "wagerHint"}) {
        EXPECT_TRUE(shown(name)) << name;
    }

    show({"open", true, "1v1"}); // creator of a 1v1: only the opponents' code
    EXPECT_FALSE(shown("wagerCodeRow1"));
    EXPECT_TRUE(shown("wagerCodeRow2"));
    show({"open", false, "1v1"}); // joined a 1v1: no code to share
    EXPECT_FALSE(shown("wagerCodeRow1"));
    EXPECT_FALSE(shown("wagerCodeRow2"));
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.CreatedBy").arg(QStringLiteral("Rival"))));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Leave"));
    EXPECT_FALSE(shown("wagerStartNow"));
    show({"open", false, "3v3"});
    EXPECT_TRUE(text("wagerCode1").contains(Lang::text("Wager.YourSide").toHtmlEscaped()));
}

TEST_F(WagerPanelTest, ReadyMarkFromTheOwnRow) {
    show({"open", true, "2v2", true});
    auto* ready = find<QPushButton>("wagerReady");
    EXPECT_EQ(ready->text(), Lang::text("Wager.ReadyOn"));
    EXPECT_EQ(ready->property("state").toString(), QStringLiteral("on"));
    healthy = false; // withdrawing needs no check
    view->refresh();
    EXPECT_TRUE(ready->isEnabled());
    show({"open", true, "2v2", false});
    EXPECT_TRUE(ready->property("state").toString().isEmpty());
    EXPECT_FALSE(ready->isEnabled());
    EXPECT_FALSE(ready->toolTip().isEmpty());
}

TEST_F(WagerPanelTest, CountdownAndTheRestartWindow) {
    const qint64 now = uplink().serverNow();
    show({"countdown", true, "2v2", true, now + 75000, now + 5475000});
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.StartsIn").arg(QStringLiteral("01:15"))));
    EXPECT_TRUE(shown("wagerStop"));
    EXPECT_EQ(text("wagerRestart"), Lang::text("Wager.Restart"));
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("color:#D0645A'>-$250")));
    show({"countdown", true, "2v2", true, now + 7200000, now + 9000000});
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.StartsIn").arg(QStringLiteral("2:00:00"))));

    const qint64 start = now - 4 * 60000;
    show({"live", true, "2v2", true, start, start + 5400000});
    EXPECT_TRUE(shown("wagerStop"));
    EXPECT_EQ(text("wagerRestart"), Lang::text("Wager.RestartIn").arg(QStringLiteral("01:00")));
    EXPECT_TRUE(shown("wagerEnd"));
    clock += 2 * 60000; // six minutes in: only End
    view->refresh();
    EXPECT_FALSE(shown("wagerStop"));
    EXPECT_FALSE(shown("wagerRestart"));
    EXPECT_TRUE(shown("wagerEnd"));
    show({"live", false, "2v2", true, start, start + 5400000});
    EXPECT_FALSE(shown("wagerEnd"));
}

TEST_F(WagerPanelTest, ResultsAndRating) {
    QJsonObject doc = wagerDoc({"final", false, "1v1", true, 1, 2, "a"});
    QJsonObject w = doc.value("wager").toObject();
    const auto with = [&](const char* winner, int after, int change, bool ladder) {
        w.insert("winner", winner);
        w.insert("rating", QJsonObject{{"after", after}, {"change", change}});
        w.insert("ladder", ladder);
        doc.insert("wager", w);
        apply(doc);
        return text("wagerResult");
    };
    const QString won = with("a", 1012, -12, true);
    EXPECT_TRUE(won.contains(Lang::text("Wager.Won").toHtmlEscaped()));
    EXPECT_TRUE(won.contains(
        Lang::text("Wager.Rating").arg(QStringLiteral("1012"), QString(), QStringLiteral("-12"))));
    EXPECT_FALSE(won.contains(Lang::text("Wager.NotLadder")));
    EXPECT_TRUE(shown("wagerNew"));
    const QString lost = with("b", 1000, 0, false);
    EXPECT_TRUE(lost.contains(Lang::text("Wager.Lost").toHtmlEscaped()));
    EXPECT_TRUE(lost.contains(
        Lang::text("Wager.Rating").arg(QStringLiteral("1000"), QStringLiteral("+"), QStringLiteral("0"))));
    EXPECT_TRUE(lost.contains(Lang::text("Wager.NotLadder")));
    EXPECT_TRUE(with("draw", 1000, 0, true).contains(Lang::text("Wager.Draw").toHtmlEscaped()));

    show({"ended", true, "2v2", true, 1, 2});
    EXPECT_FALSE(shown("wagerResult"));
    EXPECT_FALSE(shown("wagerNew"));
    show({"cancelled", true, "2v2"});
    EXPECT_TRUE(text("wagerResult").contains(Lang::text("Wager.Cancelled").toHtmlEscaped()));
    EXPECT_FALSE(shown("wagerSides"));
    click("wagerNew");
    EXPECT_TRUE(shown("wagerJoinCreate"));
}

TEST_F(WagerPanelTest, HostileNamesStayText) {
    const QString evil = QStringLiteral("<img src=x>\u202E<b>") + QString(10000, QChar(0x0627));
    QJsonObject doc = wagerDoc({"final", false, "<i>", true, 1, 2, "a"});
    QJsonObject w = doc.value("wager").toObject();
    w.insert("created_by", QJsonObject{{"id", "p-2"}, {"name", evil}});
    QJsonObject sides = w.value("sides").toObject();
    sides.insert("b", QJsonObject{{"name", evil},
                                  {"players",
                                   QJsonArray{QJsonObject{{"id", "p-2"}, {"name", evil}, {"note", evil}}}}});
    w.insert("sides", sides);
    doc.insert("wager", w);
    apply(doc);
    for (const char* name : {"wagerHeadline", "wagerSides", "wagerResult"}) {
        EXPECT_FALSE(text(name).contains(QStringLiteral("<img"))) << name;
        EXPECT_FALSE(text(name).contains(QStringLiteral("<i>"))) << name;
    }
    EXPECT_TRUE(text("wagerHeadline").startsWith(QStringLiteral("<b>&lt;i&gt;</b>")));
    EXPECT_EQ(text("wagerSides").count(evil.toHtmlEscaped()), 3);
    view->grab();
}

TEST_F(WagerPanelTest, RussianTexts) {
    redockIn("ru");
    show({"open", true, "2v2"});
    EXPECT_NE(Lang::text("Wager.Cancel"), QStringLiteral("Cancel wager"));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Cancel"));
    EXPECT_EQ(find<QComboBox>("wagerLength")->currentText(), formatMinutes(60));
}

// ---- actions through the real service link ----

TEST_F(WagerPanelTest, CreateCancelAfterYes) {
    find<QComboBox>("wagerFormat")->setCurrentText(QStringLiteral("3v3"));
    auto* length = find<QComboBox>("wagerLength");
    length->setCurrentIndex(length->findData(120));
    click("wagerCreate");
    EXPECT_FALSE(enabled("wagerCreate"));
    ASSERT_TRUE(reached(QStringLiteral("/wager")));
    ASSERT_EQ(service.wagers().size(), 1U);
    EXPECT_EQ(service.wagers().front().format, QStringLiteral("3v3"));
    EXPECT_EQ(service.wagers().front().minutes, 120);
    poll();
    const QString id = service.wagers().front().id;
    EXPECT_TRUE(text("wagerCode2").contains(service.wagers().front().codeB));

    answer = false;
    click("wagerLeave");
    EXPECT_EQ(lastQuestion(), Lang::text("Wager.CancelQ"));
    answer = true;
    click("wagerLeave");
    ASSERT_TRUE(reached(QStringLiteral("/wager/") + id + QStringLiteral("/cancel")));
    EXPECT_EQ(service.countTo(QStringLiteral("/wager/") + id + QStringLiteral("/cancel")), 1);
    EXPECT_EQ(service.wagers().front().phase, QStringLiteral("cancelled"));
}

TEST_F(WagerPanelTest, TakeTheOtherSideReadyAndLeave) {
    testsvc::Wager rival;
    rival.id = QStringLiteral("w-9");
    rival.format = QStringLiteral("1v1");
    rival.minutes = 30;
    rival.creatorId = QStringLiteral("p-2");
    rival.codeA = QStringLiteral("W-RIVA");
    rival.codeB = QStringLiteral("W-TAKE");
    rival.sideA.push_back(testsvc::Member{QStringLiteral("p-2"), QStringLiteral("Rival"), {}, true, true, 0});
    service.addWager(rival);
    service.addFault(QStringLiteral("/wager/join"),
                     testsvc::Fault::status(404, R"({"message":"try again"})"));

    auto* code = find<QLineEdit>("wagerCode");
    code->setText(QStringLiteral(" w-take "));
    click("wagerJoin");
    ASSERT_TRUE(reached(QStringLiteral("/wager/join")));
    ASSERT_TRUE(waitUntil([this] { return enabled("wagerJoin"); })); // a failure frees the panel
    EXPECT_EQ(code->text(), QStringLiteral(" w-take "));             // and keeps the code to correct
    EXPECT_EQ(text("notice"), Lang::text("Wager.JoinFailed").arg(QStringLiteral("try again")));
    click("wagerJoin");
    ASSERT_TRUE(reached(QStringLiteral("/wager/join"), 2));
    ASSERT_TRUE(waitUntil([code] { return code->text().isEmpty(); }));
    poll();
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("Rival")));

    click("wagerReady");
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/ready")));
    EXPECT_TRUE(readyInService());
    poll();
    EXPECT_EQ(text("wagerReady"), Lang::text("Wager.ReadyOn"));
    click("wagerReady");
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/ready"), 2));
    EXPECT_FALSE(readyInService());

    click("wagerLeave"); // a joined player leaves without a question
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/leave")));
    EXPECT_TRUE(service.wagers().front().sideB.empty());
    EXPECT_TRUE(questions.isEmpty());
}

} // namespace
