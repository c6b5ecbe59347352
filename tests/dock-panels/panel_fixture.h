#pragma once

#include "dock/dock.h"
#include "dock/stream-checks.h"
#include "dock_fixture.h"
#include "plugin/lang.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QGuiApplication>
#include <QJsonObject>
#include <QLabel>

#include <memory>
#include <ostream>

// Readable failures.
inline void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

// The dock linked as player "p-1" ("Tester") against the loopback service,
// with the link's clock in the test's hands. The stream checks see a healthy
// set-up (streaming a game capture of the game, the HUD just read) while
// `healthy` holds.
class PanelTest : public DockTest {
protected:
    static constexpr qint64 kStart = 1700000000000;

    void SetUp() override {
        DockTest::SetUp();
        startService();
        // A finished account set-up: the dock shows its panels only then.
        QJsonObject account = service.account();
        account.insert(QStringLiteral("complete"), true);
        service.setAccount(account);
        linkAs();
        // Samples and logs stay in the test's folder, never the user's documents.
        engine().setOutputDir(dir.filePath(QStringLiteral("out")));
        uplink().setClockForTesting([this] { return clock; });
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
        view = &makeDock(380);
        // The link's first status fetch lands now, not in the middle of a test.
        ASSERT_TRUE(settle());
        view->refresh();
    }

    void TearDown() override {
        setCheckInputsAdjusterForTesting({});
        other.reset();
        DockTest::TearDown();
    }

    void setMode(const char* mode) {
        settings().mode = QString::fromLatin1(mode);
        view->setMode(settings().mode);
    }

    // A second dock, built in another language, takes over the view.
    void redockIn(const char* lang) {
        useLanguage(QString::fromLatin1(lang));
        other = std::make_unique<Dock>(&engine());
        other->setConfirmForTesting([](const QString&, const QString&) { return false; });
        other->resize(380, 900);
        other->show();
        view = other.get();
        view->setMode(settings().mode);
    }

    void apply(const QJsonObject& doc) {
        uplink().parseStatus(doc);
        view->refresh();
    }
    void apply(const char* json) { apply(jsonObject(json)); }

    // Asks the service for the status now and waits for it.
    void poll() {
        ASSERT_TRUE(settle()); // a fetch already out would answer with older state
        clock += 60000;
        tick();
        ASSERT_TRUE(settle());
        view->refresh();
    }

    // Waits until the service saw `count` requests to `route` and the replies arrived.
    bool reached(const QString& route, int count = 1) {
        const bool seen = service.waitForRequests(route, count, 5000);
        idle();
        return seen && settle();
    }
    void idle() { pump(50); }

    // The text after the title of the last question asked.
    QString lastQuestion() const {
        return questions.isEmpty() ? QString() : questions.last().section(QStringLiteral(": "), 1);
    }

    template <class T> T* find(const char* name) {
        T* widget = view->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    bool shown(const char* name) {
        QWidget* w = find<QWidget>(name);
        return w && w->isVisibleTo(view);
    }
    bool enabled(const char* name) {
        QWidget* w = find<QWidget>(name);
        return w && w->isEnabled();
    }
    QString text(const char* name) {
        if (auto* l = view->findChild<QLabel*>(QString::fromLatin1(name))) {
            return l->text();
        }
        auto* b = find<QAbstractButton>(name);
        return b ? b->text() : QString();
    }
    void click(const char* name) {
        auto* b = find<QAbstractButton>(name);
        ASSERT_NE(b, nullptr);
        ASSERT_TRUE(b->isVisibleTo(view)) << name << " is hidden";
        ASSERT_TRUE(b->isEnabled()) << name << " is disabled";
        b->click();
    }

    Dock* view = nullptr;
    std::unique_ptr<Dock> other;
    qint64 clock = kStart;
    bool healthy = true;
};
