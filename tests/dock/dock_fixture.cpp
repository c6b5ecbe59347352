#include "dock_fixture.h"

#include "net/http-testing.h"
#include "plugin/lang.h"
#include "../locale_support.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QTextDocument>
#include <QThread>
#include <QVariant>

bool waitUntil(const std::function<bool()>& ready, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!ready()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void pump(int ms) {
    waitUntil([] { return false; }, ms);
}

QJsonObject jsonObject(const char* text) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(text), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << " in " << text;
    return doc.object();
}

void useLanguage(const QString& lang) {
    Lang::applyWith(lang, QStringLiteral("en-US"),
                    [](const char* locale) { return loadLocale(localeDir(), locale); });
}

void DockTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    useLanguage(QStringLiteral("en"));
    Http::testing::setTrustedCaFile(testsvc::TestService::defaultCertFile());
}

void DockTest::TearDown() {
    dock_.reset();
    engine_.reset();
    if (serviceStarted) {
        service.stop();
    }
    useLanguage(QStringLiteral("en"));
}

void DockTest::startService(testsvc::Options options) {
    ASSERT_TRUE(service.start(options)) << service.lastError().toStdString();
    serviceStarted = true;
    settings().server = service.apiBase();
}

void DockTest::linkAs(const QString& token, const QString& playerId, const QString& name) {
    if (serviceStarted) {
        service.addToken(token, testsvc::Player{playerId, name, QString()});
    }
    settings().token = token;
    settings().player_id = playerId;
    settings().player_name = name;
}

Engine& DockTest::engine() {
    if (!engine_) {
        engine_ = std::make_unique<Engine>(nullptr, dir.path());
        // Never the real service: a closed loopback port until startService().
        engine_->settings().server = QStringLiteral("http://127.0.0.1:1/api/mintcup/v1");
        // Samples and logs stay in the test's folder, not the user's documents.
        engine_->settings().out_dir = dir.filePath(QStringLiteral("out"));
        engine_->setSteamLookupForTesting([this] { return steam; });
        engine_->setOutputStateQuery([this] { return output; });
    }
    return *engine_;
}

Dock& DockTest::makeDock(int width) {
    if (!dock_) {
        Engine& e = engine();
        // The link runs, but its ticks are the test's.
        e.uplink()->start();
        e.uplink()->stopTimerForTesting();
        dock_ = std::make_unique<Dock>(&e);
        dock_->setReaderStatusForTesting([this] { return readerGiven ? reader : engine().readerStatus(); });
        dock_->setSourcesForTesting([this] { return sources; });
        dock_->setConfirmForTesting([this](const QString& title, const QString& text) {
            questions << title + QStringLiteral(": ") + text;
            return answer;
        });
        dock_->setBrowserForTesting([this](const QUrl& url) { opened << url.toString(); });
        dock_->resize(width, 900);
        dock_->show();
        // Starting may ask the service for the status at once; its answer
        // must not overwrite the model a test puts in place afterwards.
        EXPECT_TRUE(settle());
    }
    dock_->refresh();
    return *dock_;
}

void DockTest::applyStatus(const QJsonObject& doc) {
    uplink().parseStatus(doc);
    if (dock_) {
        dock_->refresh();
    }
}

void DockTest::tick() {
    uplink().tickForTesting();
}

bool DockTest::settle(int timeoutMs) {
    return waitUntil([this] { return !uplink().inFlightForTesting(); }, timeoutMs);
}

QString DockTest::property(const QWidget* w, const char* name) {
    return w ? w->property(name).toString() : QString();
}

QString DockTest::plain(const QLabel* l) {
    if (!l) {
        return QString();
    }
    if (l->textFormat() == Qt::PlainText) {
        return l->text();
    }
    QTextDocument doc;
    doc.setHtml(l->text());
    return doc.toPlainText();
}

void DockTest::click(const char* name) {
    QAbstractButton* b = button(name);
    ASSERT_NE(b, nullptr);
    ASSERT_TRUE(shown(b)) << name << " is hidden";
    ASSERT_TRUE(b->isEnabled()) << name << " is disabled";
    b->click();
}
