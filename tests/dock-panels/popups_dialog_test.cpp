#include "panel_fixture.h"

#include "dock/host-popups.h"
#include "dock/test-dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

class HostPopups : public PanelTest {
protected:
    // The acknowledgements the service kept, as compact JSON.
    QStringList acks(int count) {
        EXPECT_TRUE(
            waitUntil([this, count] { return static_cast<int>(service.warningAcks().size()) >= count; }));
        QStringList bodies;
        for (const QJsonObject& body : service.warningAcks()) {
            bodies << QString::fromUtf8(QJsonDocument(body).toJson(QJsonDocument::Compact));
        }
        return bodies;
    }
    static void closeByWindowButton(QMessageBox* box) {
        box->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

TEST_F(HostPopups, MessagesShowPlainTextAndAreAcknowledgedHoweverClosed) {
    QPointer<QMessageBox> info =
        showMessage(uplink(), QStringLiteral("m-7"), QStringLiteral("<b>Hi</b> &amp; welcome"),
                    QStringLiteral("warning"), QString(), view);
    QPointer<QMessageBox> warn =
        showMessage(uplink(), QStringLiteral("m-8"), QStringLiteral("Check your stream"),
                    QStringLiteral("warn"), QStringLiteral("Referee"), view);
    EXPECT_TRUE(info->isVisible() && warn->isVisible());
    EXPECT_FALSE(info->isModal());
    EXPECT_TRUE(info->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(info->icon(), QMessageBox::Information); // "warning" is not "warn"
    EXPECT_EQ(info->windowTitle(), Lang::text("Popup.MessageTitle").arg(Lang::text("Popup.TheHost")));
    EXPECT_EQ(info->text(), QStringLiteral("<b>Hi</b> &amp; welcome"));
    EXPECT_EQ(info->textFormat(), Qt::PlainText);
    EXPECT_EQ(warn->icon(), QMessageBox::Warning);
    EXPECT_EQ(warn->windowTitle(), Lang::text("Popup.MessageTitle").arg(QStringLiteral("Referee")));
    EXPECT_TRUE(warn->styleSheet().contains(QStringLiteral("background:#2A1E08;")));

    closeByWindowButton(info);
    EXPECT_TRUE(info.isNull()); // deleted on close
    EXPECT_EQ(acks(1), QStringList{QStringLiteral(R"({"id":"m-7","kind":"message"})")});
    warn->buttons().front()->click();
    EXPECT_EQ(acks(2).last(), QStringLiteral(R"({"id":"m-8","kind":"message"})"));
}

TEST_F(HostPopups, NudgeAcknowledgedWhenClosed) {
    QPointer<QMessageBox> box = showNudge(uplink(), view);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowTitle(), Lang::text("Popup.NudgeTitle"));
    EXPECT_EQ(box->buttons().front()->text(), Lang::text("Popup.NudgeOk"));
    closeByWindowButton(box);
    EXPECT_EQ(acks(1), QStringList{QStringLiteral(R"({"kind":"nudge"})")});
}

class TestDialogTest : public PanelTest {
protected:
    template <class T> T* in(TestDialog& dialog, const char* name) {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(TestDialogTest, ReadingSwitchesAndRedrawOnlyOnScreen) {
    TestDialog dialog(engine(), view);
    EXPECT_EQ(in<QLabel>(dialog, "testReading")->text(), formatReading(hud::HudReading{}));
    EXPECT_TRUE(
        in<QLabel>(dialog, "testWhere")->text().contains(QDir::toNativeSeparators(engine().outputDir())));
    in<QPushButton>(dialog, "testSave")->click();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.NothingToSave"));
    in<QCheckBox>(dialog, "testEvery10")->setChecked(true);
    EXPECT_TRUE(settings().sample_every_10s);
    dialog.redraw();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.EveryStatus"));
    in<QCheckBox>(dialog, "testEvery10")->setChecked(false);
    in<QCheckBox>(dialog, "testOnLine")->setChecked(false);
    EXPECT_FALSE(settings().sample_on_new_line);

    auto* timer = dialog.findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_FALSE(timer->isActive());
    dialog.show();
    EXPECT_TRUE(timer->isActive());
    dialog.hide();
    EXPECT_FALSE(timer->isActive());
}

TEST_F(TestDialogTest, SendsTheNewest200Samples) {
    TestDialog dialog(engine(), view);
    auto* send = in<QPushButton>(dialog, "testSend");
    send->click();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.NoSamples"));

    // 250 samples, one a second: the files stamped 50 s and later go.
    const QString folder = QDir(engine().outputDir()).filePath(QStringLiteral("samples"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int i = 0; i < 250; ++i) {
        QFile file(QDir(folder).filePath(
            QStringLiteral("s%1.%2").arg(i, 3, 10, QLatin1Char('0')).arg(i % 2 ? "txt" : "png")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
        file.flush(); // a later flush would stamp the file again
        ASSERT_TRUE(file.setFileTime(QDateTime::fromMSecsSinceEpoch(kStart).addSecs(i),
                                     QFileDevice::FileModificationTime));
    }
    send->click();
    EXPECT_FALSE(send->isEnabled());
    ASSERT_TRUE(waitUntil([send] { return send->isEnabled(); }, 60000));
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.SamplesSent").arg(200));
    QStringList names;
    for (const testsvc::Upload& u : service.uploads()) {
        names << u.params.value(QStringLiteral("name"));
    }
    EXPECT_EQ(names.size(), 200);
    EXPECT_TRUE(names.contains(QStringLiteral("s050.png")));
    EXPECT_FALSE(names.contains(QStringLiteral("s049.txt")));
}

TEST_F(TestDialogTest, CancelledFolderChoiceChangesNothing) {
    TestDialog dialog(engine(), view);
    const QString before = engine().outputDir();
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&closer] {
        if (auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            closer.stop();
            chooser->reject();
        }
    });
    closer.start(20);
    in<QPushButton>(dialog, "testChangeFolder")->click();
    EXPECT_EQ(engine().outputDir(), before);
}

} // namespace
