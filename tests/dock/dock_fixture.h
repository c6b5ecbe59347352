#pragma once

#include "dock/dock.h"
#include "engine/engine.h"
#include "uplink/uplink.h"

#include "test_service.h"

#include <QAbstractButton>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

// Runs Qt events until `ready` holds; false after `timeoutMs`.
bool waitUntil(const std::function<bool()>& ready, int timeoutMs = 5000);
// Runs Qt events for `ms`.
void pump(int ms);
// A JSON object from text; the test fails on a syntax error.
QJsonObject jsonObject(const char* text);
// The module language for the texts that follow ("en", "de", ...).
void useLanguage(const QString& lang);

// A real Engine (never started, so no reader thread) with its Uplink on a
// temporary settings folder, and a Dock on it. Status documents go through
// the Uplink's own parser; user actions go to the loopback test service once
// startService() ran. The dock never opens a browser or a modal box here:
// pages land in `opened`, questions in `questions` and are answered with
// `answer`.
class DockTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the loopback service and points the `server` setting at it.
    void startService(testsvc::Options options = {});
    // A token the service knows, in the settings, as if the PC were linked.
    void linkAs(const QString& token = QStringLiteral("tok-1"),
                const QString& playerId = QStringLiteral("p-1"),
                const QString& name = QStringLiteral("Tester"));

    // The engine, created on first use; settings changed before makeDock()
    // are what the dock starts with.
    Engine& engine();
    Uplink& uplink() { return *engine().uplink(); }
    Settings& settings() { return engine().settings(); }
    // Creates the dock (once), shows it at `width`, waits for what starting
    // the link sent, and refreshes it.
    Dock& makeDock(int width = 360);
    Dock& dock() { return *dock_; }

    // The status model from a status document, then a dock refresh.
    void applyStatus(const QJsonObject& doc);
    void applyStatus(const char* json) { applyStatus(jsonObject(json)); }

    // The Uplink's timer work by hand, and waiting for its request.
    void tick();
    bool settle(int timeoutMs = 10000);

    // A child of the dock by object name; the test fails when it is missing.
    template <class W> W* child(const char* name) {
        W* w = dock_ ? dock_->findChild<W*>(QString::fromLatin1(name)) : nullptr;
        EXPECT_NE(w, nullptr) << "no widget named " << name;
        return w;
    }
    QLabel* label(const char* name) { return child<QLabel>(name); }
    QAbstractButton* button(const char* name) { return child<QAbstractButton>(name); }
    // Visible as far as the dock is concerned (the dock itself is shown offscreen).
    bool shown(const QWidget* w) const { return w && dock_ && w->isVisibleTo(dock_.get()); }
    bool shown(const char* name) { return shown(child<QWidget>(name)); }
    // The widget's "role", "state", "side" or "flash" property.
    static QString property(const QWidget* w, const char* name);
    // A label's text with the markup removed.
    static QString plain(const QLabel* l);
    // Clicks a button that must be shown and enabled.
    void click(const char* name);

    QTemporaryDir dir;
    testsvc::TestService service;
    bool serviceStarted = false;
    // The steam account the engine reports; OBS's output state.
    SteamSeen steam;
    OutputState output;
    // The reader's state the dock shows once `readerGiven` is set (the real
    // reader needs a running OBS), and the game sources OBS would offer.
    bool readerGiven = false;
    ReaderStatus reader;
    QStringList sources;
    // Pages the dock asked to open, questions it asked and the answer given.
    QStringList opened;
    QStringList questions;
    bool answer = true;

private:
    std::unique_ptr<Engine> engine_;
    std::unique_ptr<Dock> dock_;
};
