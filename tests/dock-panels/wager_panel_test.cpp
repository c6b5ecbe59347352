#include "panel_fixture.h"

#include "dock/format.h"

#include <QComboBox>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>

namespace {

struct WagerSpec {
    const char* phase = "open";
    bool mine = true;
    const char* format = "2v2";
    bool meReady = false;
    qint64 startsAt = 0;
    qint64 endsAt = 0;
    const char* winner = "";
};

QJsonObject player(const char* id, const char* name, bool ready, qint64 score, const char* note = "") {
    return QJsonObject{
        {"id", id}, {"name", name}, {"ready", ready}, {"score", double(score)}, {"note", note}};
}

// A wager on side A with the player "p-1", as the service sends it.
QJsonObject wagerDoc(const WagerSpec& w) {
    const QJsonObject sides{
        {"a", QJsonObject{{"name", "Alpha"},
                          {"score", 1500.0},
                          {"players", QJsonArray{player("p-1", "Tester", w.meReady, 2000)}}}},
        {"b", QJsonObject{{"name", ""},
                          {"score", -250.0},
                          {"players", QJsonArray{player("p-2", "Rival", true, -250, "off stream")}}}}};
    const QJsonObject wager{
        {"id", "w-1"},
        {"format", w.format},
        {"minutes", 90},
        {"phase", w.phase},
        {"winner", w.winner},
        {"created_by", QJsonObject{{"id", w.mine ? "p-1" : "p-2"}, {"name", w.mine ? "Tester" : "Rival"}}},
        {"code_a", "W-AAAA"},
        {"code_b", w.mine ? "W-BBBB" : ""},
        {"my_code", "W-AAAA"},
        {"side", "a"},
        {"starts_at", double(w.startsAt)},
        {"ends_at", double(w.endsAt)},
        {"sides", sides}};
    return QJsonObject{{"player", QJsonObject{{"id", "p-1"}, {"name", "Tester"}}}, {"wager", wager}};
}

class WagerPanelTest : public PanelTest {
protected:
    void SetUp() override {
        PanelTest::SetUp();
        setMode("wager");
    }
    void show(const WagerSpec& w) { apply(wagerDoc(w)); }
};

TEST_F(WagerPanelTest, WithoutAWagerOffersJoinAndCreate) {
    view->refresh();
    EXPECT_TRUE(shown("wagerIntro"));
    EXPECT_EQ(text("wagerIntro"), Lang::text("Wager.Intro").toHtmlEscaped());
    EXPECT_TRUE(shown("wagerJoinCreate"));
    EXPECT_TRUE(enabled("wagerCreate"));
    auto* length = find<QComboBox>("wagerLength");
    EXPECT_EQ(length->count(), 5);
    EXPECT_EQ(length->currentData().toInt(), 60);
    EXPECT_EQ(length->itemText(3), formatMinutes(90));
    EXPECT_EQ(find<QComboBox>("wagerFormat")->count(), 5);
    EXPECT_EQ(find<QLineEdit>("wagerCode")->maxLength(), 12);
    for (const char* name : {"wagerHeadline", "wagerSides", "wagerReady", "wagerLeave", "wagerStartNow",
                             "wagerStop", "wagerRestart", "wagerEnd", "wagerNew", "wagerHint", "wagerResult",
                             "wagerCodeRow1", "wagerCodeRow2"}) {
        EXPECT_FALSE(shown(name)) << name;
    }

    settings().token.clear();
    view->refresh();
    EXPECT_EQ(text("wagerIntro"), Lang::text("Wager.LinkFirst").toHtmlEscaped());
    EXPECT_FALSE(shown("wagerJoinCreate"));
}

TEST_F(WagerPanelTest, OpenWagerOfMineWithBothCodesAndSides) {
    show({});
    EXPECT_FALSE(shown("wagerIntro"));
    EXPECT_FALSE(shown("wagerJoinCreate"));
    EXPECT_EQ(text("wagerHeadline"), QStringLiteral("<b>2v2</b> · ") + formatMinutes(90).toHtmlEscaped() +
                                         QStringLiteral(" · <span style='color:#9AA3AA'>") +
                                         Lang::text("Wager.GettingReady").toHtmlEscaped() +
                                         QStringLiteral("</span>"));
    EXPECT_TRUE(shown("wagerCodeRow1"));
    EXPECT_TRUE(text("wagerCode1").contains(Lang::text("Wager.YourTeam").toHtmlEscaped()));
    EXPECT_TRUE(text("wagerCode1").contains(QStringLiteral(">W-AAAA</span>")));
    EXPECT_TRUE(text("wagerCode2").contains(Lang::text("Wager.Opponents").toHtmlEscaped()));
    EXPECT_TRUE(text("wagerCode2").contains(QStringLiteral(">W-BBBB</span>")));

    const QString sides = text("wagerSides");
    EXPECT_TRUE(sides.contains(QStringLiteral("<td width='50%' valign='top' style='background:#1A2016;'>")));
    EXPECT_TRUE(sides.contains(QStringLiteral("<div style='color:#E0B24E;font-weight:700'>Alpha · ") +
                               Lang::text("Wager.You").toHtmlEscaped()));
    EXPECT_TRUE(sides.contains(QStringLiteral("<div style='color:#9AA3AA;font-weight:700'>") +
                               Lang::text("Wager.Side").arg(QStringLiteral("B")).toHtmlEscaped() +
                               QStringLiteral("</div>")));
    EXPECT_TRUE(sides.contains(QStringLiteral(
        "<span style='color:#6F7880'>&middot;</span> <span style='font-weight:700'>Tester</span>")));
    EXPECT_TRUE(sides.contains(QStringLiteral("&#10004;</span> <span style=''>Rival</span>")));
    EXPECT_EQ(sides.count(Lang::text("Wager.Waiting").toHtmlEscaped()), 2);
    EXPECT_FALSE(sides.contains(QStringLiteral("$"))); // no scores before the start
    EXPECT_TRUE(sides.contains(QStringLiteral("font-size:10px'>off stream</span>")));

    EXPECT_TRUE(shown("wagerReady"));
    EXPECT_TRUE(enabled("wagerReady"));
    EXPECT_EQ(text("wagerReady"), Lang::text("Wager.Ready"));
    EXPECT_TRUE(shown("wagerChecks"));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Cancel"));
    EXPECT_TRUE(shown("wagerStartNow"));
    EXPECT_TRUE(shown("wagerHint"));
    EXPECT_FALSE(shown("wagerStop"));
    EXPECT_FALSE(shown("wagerResult"));
}

TEST_F(WagerPanelTest, CodeRowsByRoleAndSize) {
    show({"open", true, "1v1"});
    EXPECT_FALSE(shown("wagerCodeRow1"));
    EXPECT_TRUE(shown("wagerCodeRow2"));
    show({"open", false, "1v1"});
    EXPECT_FALSE(shown("wagerCodeRow1"));
    EXPECT_FALSE(shown("wagerCodeRow2"));
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.CreatedBy").arg(QStringLiteral("Rival"))));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Leave"));
    EXPECT_FALSE(shown("wagerStartNow"));
    show({"open", false, "3v3"});
    EXPECT_TRUE(shown("wagerCodeRow1"));
    EXPECT_TRUE(text("wagerCode1").contains(Lang::text("Wager.YourSide").toHtmlEscaped()));
    EXPECT_FALSE(shown("wagerCodeRow2"));

    // The creator's opponents' code not there yet: said so, and nothing to copy.
    QJsonObject doc = wagerDoc({"open", true, "1v1"});
    QJsonObject w = doc.value("wager").toObject();
    w.insert("code_b", "");
    doc.insert("wager", w);
    apply(doc);
    EXPECT_TRUE(text("wagerCode2").contains(Lang::text("Wager.CodeNotHere").toHtmlEscaped()));
    EXPECT_FALSE(enabled("wagerCopy2"));
}

TEST_F(WagerPanelTest, ReadyMarkFromTheOwnRow) {
    show({"open", true, "2v2", true});
    auto* ready = find<QPushButton>("wagerReady");
    EXPECT_EQ(ready->text(), Lang::text("Wager.ReadyOn"));
    EXPECT_EQ(ready->property("state").toString(), QStringLiteral("on"));
    EXPECT_TRUE(
        text("wagerSides").contains(QStringLiteral("&#10004;</span> <span style='font-weight:700'>Tester")));
    healthy = false; // taking it back needs no check
    view->refresh();
    EXPECT_TRUE(ready->isEnabled());

    show({"open", true, "2v2", false});
    EXPECT_EQ(ready->text(), Lang::text("Wager.Ready"));
    EXPECT_TRUE(ready->property("state").toString().isEmpty());
    EXPECT_FALSE(ready->isEnabled());
    EXPECT_TRUE(ready->toolTip().startsWith(Lang::text("Check.NotYet").section(QLatin1Char('%'), 0, 0)));
}

TEST_F(WagerPanelTest, CountdownsInTheHeadline) {
    const qint64 now = uplink().serverNow();
    show({"countdown", true, "2v2", true, now + 75000, now + 75000 + 5400000});
    EXPECT_TRUE(text("wagerHeadline")
                    .contains(QStringLiteral("<span style='color:#E0B24E'>") +
                              Lang::text("Wager.StartsIn").arg(QStringLiteral("01:15"))));
    EXPECT_TRUE(shown("wagerStop"));
    EXPECT_TRUE(shown("wagerRestart"));
    EXPECT_EQ(text("wagerRestart"), Lang::text("Wager.Restart"));
    EXPECT_FALSE(shown("wagerEnd"));
    EXPECT_FALSE(shown("wagerReady"));
    EXPECT_FALSE(shown("wagerCodeRow1"));
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("$1,500")));
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("color:#D0645A'>-$250")));

    show({"countdown", true, "2v2", true, now + 7200000, now + 9000000});
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.StartsIn").arg(QStringLiteral("2:00:00"))));
    clock += 1000; // the next redraw counts down
    view->refresh();
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.StartsIn").arg(QStringLiteral("1:59:59"))));

    show({"countdown", false, "2v2", true, now + 1000, now + 2000});
    EXPECT_FALSE(shown("wagerStop"));
}

TEST_F(WagerPanelTest, LiveRestartOnlyInTheFirstFiveMinutes) {
    const qint64 start = uplink().serverNow() - 4 * 60000;
    show({"live", true, "2v2", true, start, start + 5400000});
    EXPECT_TRUE(text("wagerHeadline")
                    .contains(QStringLiteral("<span style='color:#A9B86B'>") +
                              Lang::text("Wager.LiveLeft").arg(QStringLiteral("1:26:00"))));
    EXPECT_TRUE(shown("wagerStop"));
    EXPECT_TRUE(shown("wagerRestart"));
    EXPECT_EQ(text("wagerRestart"), Lang::text("Wager.RestartIn").arg(QStringLiteral("01:00")));
    EXPECT_TRUE(shown("wagerEnd"));
    clock += 2 * 60000;
    view->refresh();
    EXPECT_FALSE(shown("wagerStop"));
    EXPECT_FALSE(shown("wagerRestart"));
    EXPECT_TRUE(shown("wagerEnd"));
    EXPECT_FALSE(shown("wagerNew"));

    show({"live", false, "2v2", true, start, start + 5400000});
    EXPECT_FALSE(shown("wagerEnd"));
    EXPECT_FALSE(shown("wagerStop"));
}

TEST_F(WagerPanelTest, ResultsWonLostDrawAndRating) {
    QJsonObject doc = wagerDoc({"final", false, "1v1", true, 1, 2, "a"});
    QJsonObject w = doc.value("wager").toObject();
    w.insert("rating", QJsonObject{{"after", 1012}, {"change", -12}});
    doc.insert("wager", w);
    apply(doc);
    const QString won = text("wagerResult");
    EXPECT_TRUE(won.startsWith(QStringLiteral("<span style='color:#5FB36B'>") +
                               Lang::text("Wager.Won").toHtmlEscaped()));
    EXPECT_TRUE(won.contains(
        Lang::text("Wager.Rating").arg(QStringLiteral("1012"), QString(), QStringLiteral("-12"))));
    EXPECT_FALSE(won.contains(Lang::text("Wager.NotLadder")));
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("color:#5FB36B'>$1,500</div>")));
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.Final").toHtmlEscaped()));
    EXPECT_TRUE(shown("wagerNew"));

    w.insert("winner", "b");
    w.insert("rating", QJsonObject{{"after", 1000}, {"change", 0}});
    w.insert("ladder", false);
    doc.insert("wager", w);
    apply(doc);
    const QString lost = text("wagerResult");
    EXPECT_TRUE(lost.startsWith(QStringLiteral("<span style='color:#D0645A'>") +
                                Lang::text("Wager.Lost").toHtmlEscaped()));
    EXPECT_TRUE(lost.contains(
        Lang::text("Wager.Rating").arg(QStringLiteral("1000"), QStringLiteral("+"), QStringLiteral("0"))));
    EXPECT_TRUE(lost.contains(QStringLiteral(" · ") + Lang::text("Wager.NotLadder")));

    w.insert("winner", "draw");
    doc.insert("wager", w);
    apply(doc);
    EXPECT_TRUE(text("wagerResult")
                    .startsWith(QStringLiteral("<span style='color:#E0B24E'>") +
                                Lang::text("Wager.Draw").toHtmlEscaped()));
}

TEST_F(WagerPanelTest, EndedAndCancelled) {
    show({"ended", true, "2v2", true, 1, 2});
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.EndedSoon").toHtmlEscaped()));
    EXPECT_FALSE(shown("wagerResult"));
    EXPECT_FALSE(shown("wagerNew"));
    EXPECT_FALSE(shown("wagerEnd"));
    EXPECT_TRUE(shown("wagerSides"));

    show({"cancelled", true, "2v2"});
    EXPECT_EQ(text("wagerResult"), QStringLiteral("<span style='color:#9AA3AA'>") +
                                       Lang::text("Wager.Cancelled").toHtmlEscaped() +
                                       QStringLiteral("</span>"));
    EXPECT_FALSE(shown("wagerSides"));
    EXPECT_TRUE(shown("wagerNew"));
    EXPECT_FALSE(shown("wagerReady"));
    click("wagerNew");
    EXPECT_TRUE(shown("wagerJoinCreate"));
    EXPECT_FALSE(shown("wagerHeadline"));
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
    EXPECT_EQ(text("wagerHeadline").count(QStringLiteral("<b>")), 1); // only the format's own
    EXPECT_TRUE(text("wagerHeadline").startsWith(QStringLiteral("<b>&lt;i&gt;</b>")));
    EXPECT_FALSE(text("wagerSides").contains(QStringLiteral("<b>")));
    EXPECT_EQ(text("wagerSides").count(evil.toHtmlEscaped()), 3);
    view->grab();
}

TEST_F(WagerPanelTest, RussianTexts) {
    redockIn("ru");
    show({"open", true, "2v2"});
    EXPECT_NE(Lang::text("Wager.Cancel"), QStringLiteral("Cancel wager"));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Cancel"));
    EXPECT_TRUE(text("wagerHeadline").contains(Lang::text("Wager.GettingReady").toHtmlEscaped()));
    EXPECT_EQ(find<QComboBox>("wagerLength")->currentText(), formatMinutes(60));
}

// ---- actions through the real service link ----

class WagerActions : public WagerPanelTest {
protected:
    testsvc::Wager rivalWager() {
        testsvc::Wager w;
        w.id = QStringLiteral("w-9");
        w.format = QStringLiteral("1v1");
        w.minutes = 30;
        w.creatorId = QStringLiteral("p-2");
        w.creatorName = QStringLiteral("Rival");
        w.codeA = QStringLiteral("W-RIVA");
        w.codeB = QStringLiteral("W-TAKE");
        w.sideA.push_back(testsvc::Member{QStringLiteral("p-2"), QStringLiteral("Rival"), {}, true, true, 0});
        return w;
    }
    const testsvc::Member* me(const testsvc::Wager& w) {
        for (const auto* side : {&w.sideA, &w.sideB}) {
            for (const testsvc::Member& m : *side) {
                if (m.id == QLatin1String("p-1")) {
                    return &m;
                }
            }
        }
        return nullptr;
    }
};

TEST_F(WagerActions, CreateWithFormatAndLength) {
    find<QComboBox>("wagerFormat")->setCurrentText(QStringLiteral("3v3"));
    auto* length = find<QComboBox>("wagerLength");
    length->setCurrentIndex(length->findData(120));
    click("wagerCreate");
    EXPECT_FALSE(enabled("wagerCreate"));
    ASSERT_TRUE(reached(QStringLiteral("/wager")));
    const QJsonObject body = service.requestsTo(QStringLiteral("/wager")).front().json();
    EXPECT_EQ(body.value("format").toString(), QStringLiteral("3v3"));
    EXPECT_EQ(body.value("minutes").toInt(), 120);
    ASSERT_EQ(service.wagers().size(), 1U);
    poll();
    EXPECT_TRUE(shown("wagerHeadline"));
    EXPECT_TRUE(text("wagerCode2").contains(service.wagers().front().codeB));
    EXPECT_TRUE(enabled("wagerStartNow"));
}

TEST_F(WagerActions, TakeTheOtherSideReadyAndLeave) {
    service.addWager(rivalWager());
    auto* code = find<QLineEdit>("wagerCode");
    click("wagerJoin"); // nothing typed: nothing sent
    code->setText(QStringLiteral(" w-take "));
    click("wagerJoin");
    ASSERT_TRUE(reached(QStringLiteral("/wager/join")));
    EXPECT_EQ(service.countTo(QStringLiteral("/wager/join")), 1);
    ASSERT_TRUE(waitUntil([code] { return code->text().isEmpty(); }));
    ASSERT_NE(me(service.wagers().front()), nullptr);
    poll();
    EXPECT_TRUE(text("wagerSides").contains(QStringLiteral("Rival")));
    EXPECT_EQ(text("wagerLeave"), Lang::text("Wager.Leave"));

    click("wagerReady");
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/ready")));
    EXPECT_TRUE(service.requestsTo(QStringLiteral("/wager/w-9/ready")).back().json().value("ready").toBool());
    EXPECT_TRUE(me(service.wagers().front())->ready);
    poll();
    EXPECT_EQ(text("wagerReady"), Lang::text("Wager.ReadyOn"));
    click("wagerReady");
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/ready"), 2));
    EXPECT_FALSE(me(service.wagers().front())->ready);

    click("wagerLeave"); // a joined player leaves without a question
    ASSERT_TRUE(reached(QStringLiteral("/wager/w-9/leave")));
    EXPECT_EQ(me(service.wagers().front()), nullptr);
}

TEST_F(WagerActions, CreatorCancelsAfterYes) {
    click("wagerCreate");
    ASSERT_TRUE(reached(QStringLiteral("/wager")));
    poll();
    const QString id = service.wagers().front().id;
    answer = false;
    click("wagerLeave");
    EXPECT_EQ(lastQuestion(), Lang::text("Wager.CancelQ"));
    idle();
    EXPECT_EQ(service.countTo(QStringLiteral("/wager/") + id + QStringLiteral("/cancel")), 0);
    answer = true;
    click("wagerLeave");
    ASSERT_TRUE(reached(QStringLiteral("/wager/") + id + QStringLiteral("/cancel")));
    EXPECT_EQ(service.wagers().front().phase, QStringLiteral("cancelled"));
}

TEST_F(WagerActions, FailureClearsBusy) {
    service.addFault(QStringLiteral("/wager/join"),
                     testsvc::Fault::status(404, R"({"message":"no such wager"})"));
    find<QLineEdit>("wagerCode")->setText(QStringLiteral("W-NONE"));
    click("wagerJoin");
    ASSERT_TRUE(reached(QStringLiteral("/wager/join")));
    ASSERT_TRUE(waitUntil([this] { return enabled("wagerJoin"); }));
    EXPECT_EQ(find<QLineEdit>("wagerCode")->text(), QStringLiteral("W-NONE")); // kept to correct
}

TEST_F(WagerActions, CopyTheCode) {
    show({"open", true, "2v2"});
    click("wagerCopy2");
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("W-BBBB"));
    EXPECT_EQ(text("wagerCopy2"), Lang::text("Common.Copied"));
    ASSERT_TRUE(waitUntil([this] { return text("wagerCopy2") == Lang::text("Common.Copy"); }, 4000));
}

} // namespace
