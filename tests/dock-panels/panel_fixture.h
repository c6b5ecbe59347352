#pragma once

#include "dock/dock.h"
#include "dock/stream-checks.h"
#include "engine/engine.h"
#include "lang_support.h"
#include "test_service.h"
#include "uplink/uplink.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <functional>
#include <memory>
#include <ostream>

#include <gtest/gtest.h>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// Runs Qt events until `ready` holds; false after `timeoutMs`.
inline bool pumpUntil(const std::function<bool()>& ready, int timeoutMs = 5000) {
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

// A dock on a real, not started engine whose service link talks to the
// loopback test service as player "p-1" ("Tester"). The stream checks see a
// healthy set-up unless a test says otherwise.
class PanelTest : public ::testing::Test {
protected:
    static constexpr qint64 kStart = 1700000000000;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        useLanguage("en");
        ASSERT_TRUE(service.start()) << service.lastError().toStdString();
        service.addToken(QStringLiteral("tok-1"),
                         testsvc::Player{QStringLiteral("p-1"), QStringLiteral("Tester"), QString()});
        Settings s;
        s.server = service.apiBase();
        s.token = QStringLiteral("tok-1");
        s.player_id = QStringLiteral("p-1");
        s.player_name = QStringLiteral("Tester");
        s.out_dir = dir.filePath(QStringLiteral("out"));
        ASSERT_TRUE(Settings::save(s, dir.path()));
        engine = std::make_unique<Engine>(nullptr, dir.path());
        uplink().setClockForTesting([this] { return clock; });
        healthy = true;
        setCheckInputsAdjusterForTesting([this](CheckInputs& in) {
            if (healthy) {
                in.streaming = true;
                in.sourceChosen = true;
                in.sourceType = QStringLiteral("game_capture");
                in.captured = QStringLiteral("game.exe");
                in.onStream = true;
                in.hudSeenAt = in.now;
            }
        });
        dock = std::make_unique<Dock>(engine.get());
        dock->resize(380, 900);
    }

    void TearDown() override {
        setCheckInputsAdjusterForTesting({});
        closeQuestions();
        dock.reset();
        engine.reset();
        service.stop();
        useLanguage("en");
    }

    Uplink& uplink() { return *engine->uplink(); }
    Settings& settings() { return engine->settings(); }

    void setMode(const char* mode) {
        settings().mode = QString::fromLatin1(mode);
        dock->setMode(settings().mode);
    }

    // A status document as the service would send it, read by the real parser.
    void apply(const QJsonObject& doc) {
        uplink().parseStatus(doc);
        dock->refresh();
    }
    void apply(const char* json) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(json), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << json;
        apply(doc.object());
    }

    // Asks the service for the status now and waits for it.
    void poll() {
        clock += 60000;
        uplink().tickForTesting();
        ASSERT_TRUE(pumpUntil([this] { return !uplink().inFlightForTesting(); }));
        dock->refresh();
    }

    // Waits until the service saw a request to `route` and its reply arrived.
    bool reached(const QString& route, int count = 1) {
        return service.waitForRequests(route, count, 5000) &&
               pumpUntil([this] { return !uplink().inFlightForTesting(); }) && settle();
    }
    bool settle() {
        QCoreApplication::processEvents();
        pumpUntil([] { return false; }, 50);
        return true;
    }

    template <class T> T* find(const char* name) {
        T* widget = dock->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    // What the player would see with the dock on screen.
    bool shown(const char* name) {
        QWidget* w = find<QWidget>(name);
        return w && w->isVisibleTo(dock.get());
    }
    bool enabled(const char* name) {
        QWidget* w = find<QWidget>(name);
        return w && w->isEnabled();
    }
    QString text(const char* name) {
        if (auto* label = dock->findChild<QLabel*>(QString::fromLatin1(name))) {
            return label->text();
        }
        auto* button = find<QAbstractButton>(name);
        return button ? button->text() : QString();
    }
    void click(const char* name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << name;
        button->click();
    }

    // Answers the next question box with Yes or No and keeps its text.
    void answerNext(bool yes) {
        question.clear();
        answerTimer = std::make_unique<QTimer>();
        answerTimer->setInterval(10);
        QObject::connect(answerTimer.get(), &QTimer::timeout, [this, yes] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            question = box->text();
            questionFormat = box->textFormat();
            for (QAbstractButton* b : box->buttons()) {
                if (b->text() == Lang::text(yes ? "Common.Yes" : "Common.No")) {
                    answerTimer->stop();
                    b->click();
                    return;
                }
            }
        });
        answerTimer->start();
    }
    void closeQuestions() {
        answerTimer.reset();
        while (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->reject();
            QCoreApplication::processEvents();
        }
    }

    QTemporaryDir dir;
    testsvc::TestService service;
    std::unique_ptr<Engine> engine;
    std::unique_ptr<Dock> dock;
    qint64 clock = kStart;
    bool healthy = true;
    std::unique_ptr<QTimer> answerTimer;
    QString question;
    Qt::TextFormat questionFormat = Qt::AutoText;
};
