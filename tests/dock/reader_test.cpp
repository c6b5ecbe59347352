#include "dock_fixture.h"

#include "plugin/lang.h"

#include <QComboBox>

// The reader box from the reader's states, and the source menu.

TEST_F(DockTest, ReaderBoxFollowsTheReadersStates) {
    readerGiven = true;
    reader.modelLoaded = true;
    makeDock();
    const auto dot = [this] { return child<QWidget>("readerDot")->styleSheet(); };
    EXPECT_EQ(label("readerText")->text(), Lang::text("Reader.Looking"));
    EXPECT_EQ(dot(), QStringLiteral("background:#6F7880;border-radius:5px;"));
    reader.automatic = false;
    dock().refresh();
    EXPECT_EQ(label("readerText")->text(), Lang::text("Reader.PickSource"));

    reader.source = QStringLiteral("Game Capture");
    reader.statusText = QStringLiteral("no money line");
    dock().refresh();
    EXPECT_EQ(label("readerText")->text(), Lang::text("Reader.NoHud").arg("Game Capture") +
                                               QStringLiteral(" (") + Lang::text("Reader.WhyNoMoneyLine") +
                                               QStringLiteral(")"));
    EXPECT_EQ(dot(), QStringLiteral("background:#C99A3B;border-radius:5px;"));
    reader.statusText = QStringLiteral("something else");
    dock().refresh();
    EXPECT_TRUE(label("readerText")->text().endsWith(QStringLiteral(" (something else)")));

    reader.recentHud = true;
    reader.balanceKnown = true;
    reader.balance = 1234;
    reader.sourceWidth = 1920;
    reader.sourceHeight = 1080;
    reader.recentLines = QStringList{"a", "b", "c", "d"};
    dock().refresh();
    EXPECT_EQ(label("readerText")->text(),
              Lang::text("Reader.Reading").arg("Game Capture", "$1,234", "1920", "1080"));
    EXPECT_EQ(dot(), QStringLiteral("background:#8C9A5B;border-radius:5px;"));
    EXPECT_TRUE(shown("readerLast"));
    EXPECT_EQ(label("readerLast")->text(), Lang::text("Reader.Last").arg(QStringLiteral("a · b · c")));
    EXPECT_GT(dock().hudSeenAt(), 0);
    reader.balanceKnown = false;
    reader.recentLines.clear();
    dock().refresh();
    EXPECT_TRUE(label("readerText")->text().contains(QStringLiteral("...")));
    EXPECT_FALSE(shown("readerLast"));

    reader.modelLoaded = false;
    reader.modelError = QStringLiteral("hud/model.bin missing");
    dock().refresh();
    EXPECT_EQ(label("readerText")->text(), Lang::text("Reader.Unavailable").arg("hud/model.bin missing"));
}

TEST_F(DockTest, LockedSourceShowsTheLockAndFreezesTheMenu) {
    readerGiven = true;
    reader.modelLoaded = true;
    reader.source = QStringLiteral("Game Capture");
    reader.recentHud = true;
    reader.locked = true;
    reader.info.exists = true;
    reader.info.active = true;
    reader.info.exe = QStringLiteral("game.exe");
    makeDock();
    EXPECT_TRUE(shown("readerLock"));
    EXPECT_EQ(label("readerLock")->text(),
              Lang::text("Reader.LockedFor").arg("Game Capture") + " (game.exe)");
    EXPECT_TRUE(label("readerLock")->styleSheet().isEmpty());
    EXPECT_FALSE(child<QComboBox>("sourceMenu")->isEnabled());

    reader.info.active = false;
    dock().refresh();
    EXPECT_TRUE(label("readerLock")->text().endsWith(QLatin1Char('\n') + Lang::text("Reader.NotOnStream")));

    reader.changedDuringCup = true;
    dock().refresh();
    EXPECT_TRUE(label("readerLock")->text().endsWith(QLatin1Char('\n') + Lang::text("Reader.SourceChanged")));
    EXPECT_EQ(label("readerLock")->styleSheet(), QStringLiteral("color:#D0645A;"));

    reader.locked = false;
    dock().refresh();
    EXPECT_FALSE(shown("readerLock"));
    EXPECT_TRUE(child<QComboBox>("sourceMenu")->isEnabled());
}

TEST_F(DockTest, SourceMenuKeepsAChoiceNoLongerOffered) {
    sources = QStringList{QStringLiteral("Game Capture"), QStringLiteral("Window Capture")};
    settings().source = QStringLiteral("Old Capture");
    makeDock();
    auto* menu = child<QComboBox>("sourceMenu");
    ASSERT_EQ(menu->count(), 4);
    EXPECT_EQ(menu->itemText(0), Lang::text("Reader.Automatic"));
    EXPECT_EQ(menu->itemText(3), QStringLiteral("Old Capture"));
    EXPECT_EQ(menu->currentIndex(), 3);

    // Choosing a source hands it to the engine, which keeps it.
    emit menu->activated(1);
    EXPECT_EQ(settings().source, QStringLiteral("Game Capture"));
    EXPECT_FALSE(engine().readerStatus().automatic);
    emit menu->activated(0);
    EXPECT_TRUE(settings().source.isEmpty());
    EXPECT_TRUE(engine().readerStatus().automatic);
}
