#include "dock_fixture.h"

#include "plugin/lang.h"

#include <QJsonArray>

// Values from the service are text, never markup, whatever they hold.

namespace {

QString hostileName() {
    return QStringLiteral("<b>bold</b><img src='file:///x'>") + QChar(0x202E) + QStringLiteral("%1 %2 &amp;");
}

} // namespace

TEST_F(DockTest, HostileValuesStayPlainText) {
    linkAs();
    steam = SteamSeen{QStringLiteral("1"), hostileName(), true};
    makeDock();
    const QString name = hostileName();
    QJsonObject doc;
    doc["player"] = QJsonObject{{"id", "p-1"}, {"ign", name}};
    doc["cup"] = QJsonObject{{"id", "c1"}, {"name", name}, {"phase", name}};
    doc["team"] = QJsonObject{{"id", "t1"}, {"name", name}, {"tag", name}};
    doc["me"] = QJsonObject{{"score", 5}, {"rank", 1}, {"english", "fail"}};
    doc["msg"] = name;
    doc["on_air"] = QJsonObject{{"state", name}};
    doc["stream"] = QJsonObject{{"twitch", true}, {"twitch_login", name}};
    doc["account"] = QJsonObject{{"discord", QJsonObject{{"linked", true}, {"name", name}}},
                                 {"steam", QJsonObject{{"linked", true}, {"id", "2"}, {"name", name}}},
                                 {"twitch", name},
                                 {"complete", true}};
    applyStatus(doc);

    EXPECT_EQ(label("dockMessage")->textFormat(), Qt::PlainText);
    EXPECT_EQ(label("dockMessage")->text(), name + QStringLiteral(" · %1 [%2]").arg(name, name));
    EXPECT_EQ(label("pill")->textFormat(), Qt::PlainText);
    EXPECT_TRUE(label("messageLines")->text().endsWith(name));
    EXPECT_EQ(label("messageLines")->textFormat(), Qt::PlainText);
    // Inside the rich account table the values are escaped: they read back as typed.
    const QString account = plain(label("accountText"));
    EXPECT_TRUE(account.contains(QStringLiteral("<b>bold</b>")));
    EXPECT_FALSE(label("accountText")->text().contains(QStringLiteral("<img")));
    EXPECT_TRUE(account.contains(Lang::text("Account.SteamMismatch").arg(name)));

    // Very long values neither crash nor widen the dock.
    const QString longName(10000, QLatin1Char('W'));
    doc["cup"] = QJsonObject{{"id", "c1"}, {"name", longName}, {"phase", "live"}};
    doc["player"] = QJsonObject{{"id", "p-1"}, {"ign", longName}};
    applyStatus(doc);
    EXPECT_TRUE(label("dockMessage")->text().startsWith(longName));
    EXPECT_LT(dock().minimumSizeHint().width(), 400); // the scroll area clips, OBS's dock stays narrow
}

TEST_F(DockTest, AbsentAndWrongTypedValuesFallBackToDefaults) {
    linkAs();
    makeDock();
    applyStatus(R"({"cup": [], "me": "x", "account": 5, "wager": null, "plugin": {"latest": 7},
                    "on_air": {"state": null}, "tournament": "no"})");
    EXPECT_EQ(label("pill")->text(), Lang::text("Pill.NoCup"));
    EXPECT_EQ(label("score")->text(), QStringLiteral("$0"));
    EXPECT_FALSE(shown("updateLabel"));
    EXPECT_FALSE(shown("onAir"));
    EXPECT_TRUE(plain(label("accountText")).contains(Lang::text("Account.Checking")));
}

TEST_F(DockTest, OnlyWebPagesAreOpened) {
    makeDock();
    for (const char* bad :
         {"file:///etc/passwd", "javascript:alert(1)", "/relative/path", "steam://run/1", ""}) {
        EXPECT_FALSE(dock().openPage(QString::fromLatin1(bad))) << bad;
    }
    EXPECT_TRUE(opened.isEmpty());
    EXPECT_EQ(label("notice")->text(), Lang::text("Common.NotWebPage"));
    EXPECT_TRUE(dock().openPage(QStringLiteral("https://example.org/a?b=1")));
    EXPECT_EQ(opened, QStringList{QStringLiteral("https://example.org/a?b=1")});
}
