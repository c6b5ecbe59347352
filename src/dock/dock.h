#pragma once

#include "engine/engine.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QUrl;
class QVBoxLayout;
struct Settings;
class TestDialog;
class TournamentPanel;
class Uplink;
class WagerPanel;

// The module's one permanent window, placed in OBS as a dock. It shows the
// state of the service link and of the reader and offers every user action;
// it only calls the engine and the link and never owns their state. OBS owns
// the widget.
class Dock : public QWidget {
    Q_OBJECT

public:
    explicit Dock(Engine* engine, QWidget* parent = nullptr);
    ~Dock() override;

    Engine& engine() const { return *engine_; }
    Uplink& uplink() const;
    Settings& settings() const;

    // The PC is linked to an account, or the link runs the demo.
    bool linked() const;
    // When the last refresh saw the reader's recent-HUD flag (local ms, 0 never).
    qint64 hudSeenAt() const { return hudSeenAt_; }

    // Redraws everything from the engine's and the link's state.
    void refresh();
    void setMode(const QString& mode);
    // The amber notice for 15 s; an empty text clears it.
    void showNotice(const QString& text);
    // The green confirmation line for 20 s.
    void showConfirmation(const QString& text);
    // A modal yes/no question; "no" is the default and the escape answer.
    bool confirm(const QString& title, const QString& text);
    void openTest();
    // Opens a web page in the browser; anything but an absolute http or
    // https address is refused with a notice. False when refused.
    bool openPage(const QString& url);

    // For tests: confirm() answered without a modal box, and pages given to
    // a function instead of the browser.
    void setConfirmForTesting(std::function<bool(const QString& title, const QString& text)> answer) {
        confirmForTesting_ = std::move(answer);
    }
    void setBrowserForTesting(std::function<void(const QUrl& url)> open) {
        browserForTesting_ = std::move(open);
    }

private:
    void buildTournament(QVBoxLayout* layout);
    void buildWager(QVBoxLayout* layout);

    QPointer<Engine> engine_;
    QLabel* title_ = nullptr;
    std::unique_ptr<TournamentPanel> tournament_;
    std::unique_ptr<WagerPanel> wager_;
    QPointer<TestDialog> test_;
    qint64 hudSeenAt_ = 0;
    std::function<bool(const QString&, const QString&)> confirmForTesting_;
    std::function<void(const QUrl&)> browserForTesting_;
};
