#pragma once

#include "engine/engine.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QScrollArea;
class QUrl;
class QVBoxLayout;
struct Settings;
struct Status;
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
    // The green confirmation line for 20 s: plain text, shown after a tick.
    void showConfirmation(const QString& text);
    // A modal yes/no question; "no" is the default and the escape answer.
    bool confirm(const QString& title, const QString& text);
    void openTest();
    // Opens a web page in the browser; anything but an absolute http or
    // https address is refused with a notice. False when refused.
    bool openPage(const QString& url);
    // Writes the dock's pictures for both modes into `folder` (the screenshot
    // mode that CORVEX_TOURNEY_SHOTS starts).
    void writeScreenshots(const QString& folder);

    // For tests: confirm() answered without a modal box, pages given to a
    // function instead of the browser, the reader's state and the game
    // sources given instead of asked from the engine and OBS.
    void setConfirmForTesting(std::function<bool(const QString& title, const QString& text)> answer) {
        confirmForTesting_ = std::move(answer);
    }
    void setBrowserForTesting(std::function<void(const QUrl& url)> open) {
        browserForTesting_ = std::move(open);
    }
    void setReaderStatusForTesting(std::function<ReaderStatus()> status) {
        readerForTesting_ = std::move(status);
    }
    void setSourcesForTesting(std::function<QStringList()> sources) {
        sourcesForTesting_ = std::move(sources);
    }

private:
    // Frame (dock.cpp, dock-header.cpp).
    void buildFrame();
    void buildHeader(QVBoxLayout* column);
    void buildModeRows(QVBoxLayout* column);
    void buildMessages(QVBoxLayout* column);
    void buildLanguage(QVBoxLayout* column);
    void buildTournament(QVBoxLayout* layout);
    void buildWager(QVBoxLayout* layout);
    void connectSignals();
    void refreshModes(const Status& s);
    void refreshHeader(const Status& s);
    void refreshUpdate(const Status& s);
    void refreshOnAir(const Status& s);
    void refreshNotices(qint64 now);
    void downloadUpdate();
    void languageChosen(int index);
    void flashTick();

    // Score and reader boxes (score-box.cpp, reader-box.cpp).
    void buildScore(QVBoxLayout* column);
    void refreshScore(const Status& s);
    void buildReader(QVBoxLayout* column);
    void refreshReader(const ReaderStatus& r);
    void refreshLockLabel(const ReaderStatus& r);
    void fillSources();
    void sourceChosen(int index);
    ReaderStatus readerStatus() const;

    // Stream line and alarm (stream-line.cpp).
    void buildAlarm(QVBoxLayout* column);
    void refreshStream(const Status& s, const ReaderStatus& r);
    void ackAlarm();

    // Account box and its buttons (account-box.cpp, account-actions.cpp).
    void buildAccount(QVBoxLayout* column);
    void refreshAccount(const Status& s);
    void refreshAccountButtons(const Status& s, bool hasCode);
    void startLink();
    void reopenLink();
    void cancelLink();
    void unlinkAsked();
    void verifySteam();
    void connectTwitch();

    // Ads, chat, overlay and log rows, message lines (account-rows.cpp,
    // overlay-row.cpp).
    void buildAdsChat(QVBoxLayout* column);
    void refreshAdsChat(const Status& s);
    void allowAds();
    void stopAds();
    void allowChat();
    void chatChanged();
    void buildOverlays(QVBoxLayout* column);
    void refreshOverlays();
    void overlayPressed(Overlay which);
    void removeOverlay(Overlay which);
    void buildLogs(QVBoxLayout* column);
    void sendLogs();
    void openLogs();
    void refreshMessageLines(const Status& s, const ReaderStatus& r);
    // Opens the page, or shows `fallback` when there is none; an error wins.
    void openOrSay(const QString& page, const QString& error, const char* fallback);

    QPointer<Engine> engine_;
    std::unique_ptr<TournamentPanel> tournament_;
    std::unique_ptr<WagerPanel> wager_;
    QPointer<TestDialog> test_;

    QScrollArea* scroll_ = nullptr;
    QWidget* content_ = nullptr;
    QVBoxLayout* column_ = nullptr;

    // Header and banners.
    QLabel* title_ = nullptr;
    QLabel* pill_ = nullptr;
    QLabel* onAir_ = nullptr;
    QWidget* updateRow_ = nullptr;
    QLabel* updateLabel_ = nullptr;
    QPushButton* updateButton_ = nullptr;
    QWidget* modeRow_ = nullptr;
    QPushButton* modeWager_ = nullptr;
    QPushButton* modeTournament_ = nullptr;
    QWidget* lockRow_ = nullptr;
    QLabel* lockLabel_ = nullptr;
    QPushButton* switchButton_ = nullptr;
    QString proposedMode_;
    QLabel* dockMessage_ = nullptr;
    QLabel* timeLine_ = nullptr;
    QLabel* alarm_ = nullptr;
    QPushButton* alarmAck_ = nullptr;
    QLabel* twitchLine_ = nullptr;
    QLabel* confirmation_ = nullptr;

    // Score box.
    QFrame* scoreBox_ = nullptr;
    QLabel* scoreTitle_ = nullptr;
    QLabel* score_ = nullptr;
    QLabel* scoreLine_ = nullptr;

    // Panels of the two modes.
    QWidget* tournamentArea_ = nullptr;
    QWidget* wagerArea_ = nullptr;

    // Reader box.
    QFrame* readerBox_ = nullptr;
    QLabel* readerDot_ = nullptr;
    QLabel* readerText_ = nullptr;
    QLabel* readerLast_ = nullptr;
    QLabel* readerLock_ = nullptr;
    QComboBox* sourceMenu_ = nullptr;
    QPushButton* testButton_ = nullptr;

    // Account box.
    QFrame* accountBox_ = nullptr;
    QLabel* accountText_ = nullptr;
    QLabel* codeLabel_ = nullptr;
    QPushButton* linkButton_ = nullptr;
    QPushButton* reopenButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* unlinkButton_ = nullptr;
    QPushButton* steamButton_ = nullptr;
    QPushButton* twitchButton_ = nullptr;
    QString signInPage_;

    // Ads, chat, overlays, logs, messages.
    QLabel* adsLabel_ = nullptr;
    QPushButton* adsAllow_ = nullptr;
    QPushButton* adsStop_ = nullptr;
    QWidget* chatRow_ = nullptr;
    QLabel* chatTitle_ = nullptr;
    QCheckBox* chatLink_ = nullptr;
    QCheckBox* chatUpdates_ = nullptr;
    QPushButton* chatAllow_ = nullptr;
    QWidget* overlayRow_ = nullptr;
    QPushButton* cardButton_ = nullptr;
    QPushButton* boardButton_ = nullptr;
    QPushButton* removeCard_ = nullptr;
    QPushButton* removeBoard_ = nullptr;
    QPushButton* logsSend_ = nullptr;
    QPushButton* logsOpen_ = nullptr;
    QLabel* messageLines_ = nullptr;
    QComboBox* languageMenu_ = nullptr;
    QLabel* notice_ = nullptr;

    QTimer refreshTimer_;
    QTimer flashTimer_;

    bool chatBusy_ = false;
    bool alarmAcked_ = false;
    bool flashOn_ = false;
    bool fillingSources_ = false;
    int offeredSources_ = 0;
    bool logsSending_ = false;
    QString noticeText_;
    qint64 noticeUntil_ = 0;
    QString confirmationText_;
    qint64 confirmationUntil_ = 0;
    qint64 hudSeenAt_ = 0;

    std::function<bool(const QString&, const QString&)> confirmForTesting_;
    std::function<void(const QUrl&)> browserForTesting_;
    std::function<ReaderStatus()> readerForTesting_;
    std::function<QStringList()> sourcesForTesting_;
};
