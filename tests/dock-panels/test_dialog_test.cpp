#include "dock/test-dialog.h"

#include "dock_fixture.h"
#include "plugin/lang.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

hud::HudLine line(const char* text, const char* raw, bool known) {
    hud::HudLine l;
    l.text = text;
    l.raw = raw;
    l.known = known;
    return l;
}

TEST(ReadingText, EveryPartOnItsLine) {
    hud::HudReading r;
    r.balanceText = "$12,345";
    r.balanceCertain = true;
    r.balanceConfidence = 0.987f;
    r.balanceMargin = 0.5f;
    r.changeText = "-$250";
    r.arrow = -1;
    hud::HudLine kill = line("KILL", "KILL", true);
    kill.hasFigure = true;
    kill.figure = 1250;
    hud::HudLine xp = line("ASSIST", "ASSIST", true);
    xp.hasXp = true;
    xp.xp = 25;
    r.lines = {kill, xp, line("REVIVE", "REV1VE", false), line("HEADSHOT", "HEADSHOT", false),
               line("DOWN", "", false)};
    r.lineHeight = 27.0f;
    EXPECT_EQ(formatReading(r).toStdString(), "balance  $12,345  OK (conf 0.99, margin 0.50)\n"
                                              "change   -$250  -- arrow -1\n"
                                              "line     KILL +$1,250\n"
                                              "line     ASSIST  25XP\n"
                                              "line     REVIVE   (read as REV1VE)\n"
                                              "line     HEADSHOT \n"
                                              "line     DOWN \n"
                                              "HUD size 100 percent of default");
}

TEST(ReadingText, NoteOnlyWithAReason) {
    hud::HudReading r;
    EXPECT_FALSE(formatReading(r).contains(QStringLiteral("note")));
    EXPECT_TRUE(formatReading(r).endsWith(QStringLiteral("HUD size 0 percent of default")));
    r.reason = "balance uncertain";
    r.lineHeight = 40.5f;
    const QString text = formatReading(r);
    EXPECT_TRUE(
        text.contains(QStringLiteral("\nnote     balance uncertain\nHUD size 150 percent of default")));
}

TEST(TestPicture, ShownBetween454And907Wide) {
    EXPECT_EQ(testPictureWidth(300), 454);
    EXPECT_EQ(testPictureWidth(600), 600);
    EXPECT_EQ(testPictureWidth(1200), 907);
    EXPECT_EQ(testPictureWidth(0), 454);
}

// 250 samples of three kinds and a stray file: the 200 newest samples go.
TEST(SamplesToSend, TheNewest200) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDateTime base = QDateTime::fromMSecsSinceEpoch(1700000000000);
    const char* kinds[] = {"png", "jpg", "txt"};
    for (int i = 0; i < 250; ++i) {
        const QString path =
            dir.filePath(QStringLiteral("s%1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(kinds[i % 3]));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.flush(); // a later flush would stamp the file again
        ASSERT_TRUE(file.setFileTime(base.addSecs(i), QFileDevice::FileModificationTime));
    }
    QFile stray(dir.filePath(QStringLiteral("zz-newest.log")));
    ASSERT_TRUE(stray.open(QIODevice::WriteOnly));
    stray.close();

    const QStringList sent = newestSamples(dir.path());
    ASSERT_EQ(sent.size(), 200);
    EXPECT_EQ(QFileInfo(sent.first()).fileName(), QStringLiteral("s249.png"));
    EXPECT_EQ(QFileInfo(sent.last()).fileName(), QStringLiteral("s050.txt"));
    for (const QString& path : sent) {
        EXPECT_TRUE(QFileInfo(path).isAbsolute());
        EXPECT_FALSE(path.endsWith(QStringLiteral(".log")));
    }
    EXPECT_TRUE(newestSamples(dir.filePath(QStringLiteral("missing"))).isEmpty());
}

} // namespace
