#include "panel_fixture.h"

#include "dock/host-popups.h"
#include "dock/test-dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

// ---- host popups ----

class HostPopups : public PanelTest {
protected:
    // The acknowledgements the service got, as compact JSON.
    QStringList acks(int count) {
        // Recorded on arrival; the acknowledgement itself is kept once handled.
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

TEST_F(HostPopups, MessageWithoutSenderClosedByTheWindowButton) {
    QPointer<QMessageBox> box =
        showMessage(uplink(), QStringLiteral("m-7"), QStringLiteral("<b>Hi</b> &amp; welcome"),
                    QStringLiteral("warning"), QString(), view);
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->isVisible());
    EXPECT_FALSE(box->isModal());
    EXPECT_TRUE(box->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(box->icon(), QMessageBox::Information); // "warning" is not "warn"
    EXPECT_EQ(box->windowTitle(), Lang::text("Popup.MessageTitle").arg(Lang::text("Popup.TheHost")));
    EXPECT_EQ(box->text(), QStringLiteral("<b>Hi</b> &amp; welcome"));
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons().front()->text(), Lang::text("Popup.GotIt"));
    EXPECT_TRUE(box->styleSheet().contains(QStringLiteral("background:#0E1215;")));
    EXPECT_TRUE(box->styleSheet().contains(QStringLiteral("QPushButton{background:#8C9A5B;color:#0B0E10;")));

    closeByWindowButton(box);
    EXPECT_TRUE(box.isNull()); // deleted on close
    EXPECT_EQ(acks(1), QStringList{QStringLiteral(R"({"id":"m-7","kind":"message"})")});
}

TEST_F(HostPopups, WarningFromANamedSenderAndSeveralAtOnce) {
    QPointer<QMessageBox> warn =
        showMessage(uplink(), QStringLiteral("m-1"), QStringLiteral("Check your stream"),
                    QStringLiteral("warn"), QStringLiteral("Referee"), view);
    QPointer<QMessageBox> info =
        showMessage(uplink(), QStringLiteral("m-2"), QStringLiteral("GL HF"), QStringLiteral("info"),
                    QStringLiteral("\u202EReferee<script>"), view);
    EXPECT_EQ(warn->icon(), QMessageBox::Warning);
    EXPECT_EQ(warn->windowTitle(), Lang::text("Popup.MessageTitle").arg(QStringLiteral("Referee")));
    EXPECT_TRUE(warn->styleSheet().contains(QStringLiteral("background:#2A1E08;")));
    EXPECT_TRUE(warn->styleSheet().contains(QStringLiteral("QPushButton{background:#E0B24E;color:#0B0E10;")));
    EXPECT_TRUE(info->isVisible());
    warn->buttons().front()->click();
    info->buttons().front()->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const QStringList got = acks(2);
    EXPECT_TRUE(got.contains(QStringLiteral(R"({"id":"m-1","kind":"message"})")));
    EXPECT_TRUE(got.contains(QStringLiteral(R"({"id":"m-2","kind":"message"})")));
}

TEST_F(HostPopups, NudgeAcknowledgedWhenClosed) {
    QPointer<QMessageBox> box = showNudge(uplink(), view);
    EXPECT_EQ(box->icon(), QMessageBox::Critical);
    EXPECT_EQ(box->windowTitle(), Lang::text("Popup.NudgeTitle"));
    EXPECT_EQ(box->text(), Lang::text("Popup.NudgeText"));
    EXPECT_EQ(box->buttons().front()->text(), Lang::text("Popup.NudgeOk"));
    EXPECT_TRUE(box->styleSheet().startsWith(QStringLiteral("QMessageBox{background:#1A0B0A;}")));
    closeByWindowButton(box);
    EXPECT_EQ(acks(1), QStringList{QStringLiteral(R"({"kind":"nudge"})")});
}

// ---- test and samples dialog ----

class TestDialogTest : public PanelTest {
protected:
    QString samples() { return QDir(engine().outputDir()).filePath(QStringLiteral("samples")); }
    void writeSamples(int n) {
        ASSERT_TRUE(QDir().mkpath(samples()));
        const QDateTime base = QDateTime::fromMSecsSinceEpoch(kStart);
        for (int i = 0; i < n; ++i) {
            QFile file(QDir(samples()).filePath(QStringLiteral("s%1.png").arg(i, 3, 10, QLatin1Char('0'))));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("png");
            file.flush();
            ASSERT_TRUE(file.setFileTime(base.addSecs(i), QFileDevice::FileModificationTime));
        }
    }
    template <class T> T* in(TestDialog& dialog, const char* name) {
        T* w = dialog.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

TEST_F(TestDialogTest, ShowsReadingAndWhereThingsGo) {
    TestDialog dialog(engine(), view);
    EXPECT_EQ(dialog.windowTitle(), Lang::text("Test.Title"));
    EXPECT_GE(in<QLabel>(dialog, "testPicture")->minimumWidth(), 454);
    EXPECT_EQ(in<QLabel>(dialog, "testReading")->text(), formatReading(hud::HudReading{}));
    EXPECT_EQ(in<QLabel>(dialog, "testReading")->textFormat(), Qt::PlainText);
    const QString where = in<QLabel>(dialog, "testWhere")->text();
    EXPECT_TRUE(where.contains(Lang::text("Test.Where").arg(QDir::toNativeSeparators(engine().outputDir()))));

    in<QPushButton>(dialog, "testSave")->click();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.NothingToSave"));

    in<QCheckBox>(dialog, "testEvery10")->setChecked(true);
    EXPECT_TRUE(settings().sample_every_10s);
    dialog.redraw();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.EveryStatus"));
    in<QCheckBox>(dialog, "testEvery10")->setChecked(false);
    in<QCheckBox>(dialog, "testOnLine")->setChecked(false);
    EXPECT_FALSE(settings().sample_on_new_line);
}

TEST_F(TestDialogTest, SendsTheNewest200Samples) {
    TestDialog dialog(engine(), view);
    auto* send = in<QPushButton>(dialog, "testSend");
    send->click();
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.NoSamples"));
    idle();
    EXPECT_EQ(service.uploads().size(), 0U);

    writeSamples(250);
    send->click();
    EXPECT_FALSE(send->isEnabled());
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.SendingFiles"));
    ASSERT_TRUE(waitUntil([send] { return send->isEnabled(); }, 60000));
    EXPECT_EQ(in<QLabel>(dialog, "testStatus")->text(), Lang::text("Test.SamplesSent").arg(200));
    const std::vector<testsvc::Upload> uploads = service.uploads();
    ASSERT_EQ(uploads.size(), 200U);
    QStringList names;
    for (const testsvc::Upload& u : uploads) {
        names << u.params.value(QStringLiteral("name"));
    }
    EXPECT_TRUE(names.contains(QStringLiteral("s249.png")));
    EXPECT_TRUE(names.contains(QStringLiteral("s050.png")));
    EXPECT_FALSE(names.contains(QStringLiteral("s049.png")));
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
    EXPECT_EQ(settings().out_dir, before);
}

} // namespace
