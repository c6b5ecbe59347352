#include "dock.h"

#include "dock-style.h"
#include "engine/engine.h"
#include "host-popups.h"
#include "plugin/lang.h"
#include "test-dialog.h"
#include "tournament-panel.h"
#include "uplink/browser-url.h"
#include "wager-panel.h"
#include "widgets.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QUrl>
#include <QVBoxLayout>

Dock::Dock(Engine* engine, QWidget* parent) : QWidget(parent), engine_(engine) {
    buildFrame();
    connectSignals();
    refreshTimer_.start(1000);
    fillSources();
    refresh();

    // The screenshot mode: the demo's status model drawn in this language,
    // once OBS has settled.
    const QString shots = qEnvironmentVariable("CORVEX_TOURNEY_SHOTS");
    if (qEnvironmentVariable("CORVEX_TOURNEY_DEMO") == QLatin1String("1") && !shots.isEmpty()) {
        QTimer::singleShot(8000, this, [this, shots] { writeScreenshots(shots); });
    }
}

Dock::~Dock() = default;

void Dock::buildFrame() {
    setObjectName(QStringLiteral("corvexTourneyDock"));
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(dockStyleSheet());

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setStyleSheet(QStringLiteral("QScrollArea{background:transparent;}"));
    outer->addWidget(scroll_);

    content_ = new QWidget();
    content_->setObjectName(QStringLiteral("corvexTourneyContent"));
    content_->setStyleSheet(QStringLiteral("#corvexTourneyContent{background:transparent;}"));
    column_ = new QVBoxLayout(content_);
    column_->setContentsMargins(10, 10, 10, 10);
    column_->setSpacing(8);

    buildHeader(column_);
    buildModeRows(column_);
    buildMessages(column_);
    buildScore(column_);

    // Each panel sits in a container of its own, whose visibility the mode decides.
    tournamentArea_ = new QWidget(content_);
    tournamentArea_->setObjectName(QStringLiteral("tournamentArea"));
    auto* tournament = new QVBoxLayout(tournamentArea_);
    tournament->setContentsMargins(0, 0, 0, 0);
    buildTournament(tournament);
    column_->addWidget(tournamentArea_);
    wagerArea_ = new QWidget(content_);
    wagerArea_->setObjectName(QStringLiteral("wagerArea"));
    auto* wager = new QVBoxLayout(wagerArea_);
    wager->setContentsMargins(0, 0, 0, 0);
    buildWager(wager);
    column_->addWidget(wagerArea_);

    buildReader(column_);
    buildAccount(column_);
    buildAdsChat(column_);
    buildOverlays(column_);
    buildLogs(column_);
    buildLanguage(column_);
    column_->addStretch(1);
    scroll_->setWidget(content_);
}

void Dock::connectSignals() {
    connect(engine_.data(), &Engine::changed, this, &Dock::refresh);
    Uplink* link = &uplink();
    connect(link, &Uplink::changed, this, &Dock::refresh);
    connect(link, &Uplink::linkCodeReady, this, [this](const QString& page) {
        signInPage_ = page;
        openPage(page);
        refresh();
    });
    connect(link, &Uplink::linkConfirmed, this, [this] { showConfirmation(Lang::text("Account.Linked")); });
    connect(link, &Uplink::steamVerified, this,
            [this] { showConfirmation(Lang::text("Account.SteamVerified")); });
    connect(link, &Uplink::twitchVerified, this,
            [this] { showConfirmation(Lang::text("Account.TwitchVerified")); });
    // Queued: a popup must not open while the link is still reading the
    // status document that asked for it.
    connect(
        link, &Uplink::nudged, this, [this](const QString&) { showNudge(uplink(), this); },
        Qt::QueuedConnection);
    connect(
        link, &Uplink::messaged, this,
        [this](const QString& id, const QString& text, const QString& level, const QString& from) {
            showMessage(uplink(), id, text, level, from, this);
        },
        Qt::QueuedConnection);
    connect(&refreshTimer_, &QTimer::timeout, this, &Dock::refresh);
    flashTimer_.setInterval(450);
    connect(&flashTimer_, &QTimer::timeout, this, &Dock::flashTick);
}

Uplink& Dock::uplink() const {
    return *engine_->uplink();
}

Settings& Dock::settings() const {
    return engine_->settings();
}

bool Dock::linked() const {
    return !settings().token.isEmpty() || uplink().demo() != 0;
}

void Dock::buildTournament(QVBoxLayout* layout) {
    tournament_ = std::make_unique<TournamentPanel>(*this, layout);
}

void Dock::buildWager(QVBoxLayout* layout) {
    wager_ = std::make_unique<WagerPanel>(*this, layout);
}

void Dock::refresh() {
    if (!engine_) {
        return;
    }
    const Status& s = uplink().status();
    const ReaderStatus r = readerStatus();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (r.recentHud) {
        hudSeenAt_ = now;
    }
    refreshModes(s);
    refreshHeader(s);
    refreshUpdate(s);
    refreshOnAir(s);
    refreshScore(s);
    refreshReader(r);
    refreshStream(s, r);
    refreshAccount(s);
    refreshAdsChat(s);
    refreshOverlays();
    refreshMessageLines(s, r);
    refreshNotices(now);
    tournament_->refresh();
    wager_->refresh();
}

void Dock::setMode(const QString& mode) {
    if (mode != QLatin1String("tournament") && mode != QLatin1String("wager")) {
        return;
    }
    if (settings().mode != mode) {
        settings().mode = mode;
        engine_->saveSettings();
    }
    refresh();
}

void Dock::showNotice(const QString& text) {
    noticeText_ = text;
    noticeUntil_ = text.isEmpty() ? 0 : QDateTime::currentMSecsSinceEpoch() + 15000;
    refresh();
}

void Dock::showConfirmation(const QString& text) {
    confirmationText_ = text;
    confirmationUntil_ = text.isEmpty() ? 0 : QDateTime::currentMSecsSinceEpoch() + 20000;
    refresh();
}

void Dock::refreshNotices(qint64 now) {
    const bool noticeOn = now < noticeUntil_ && !noticeText_.isEmpty();
    setLabelText(notice_, noticeOn ? noticeText_ : QString());
    setShown(notice_, noticeOn);
    const bool confirmationOn = now < confirmationUntil_ && !confirmationText_.isEmpty();
    setLabelText(confirmation_, confirmationOn
                                    ? QStringLiteral("&#10004; ") + confirmationText_.toHtmlEscaped()
                                    : QString());
    setShown(confirmation_, confirmationOn);
}

bool Dock::confirm(const QString& title, const QString& text) {
    if (confirmForTesting_) {
        return confirmForTesting_(title, text);
    }
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, this);
    box.setTextFormat(Qt::PlainText);
    QPushButton* yes = box.addButton(Lang::text("Common.Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(Lang::text("Common.No"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes;
}

void Dock::openTest() {
    if (!test_) {
        test_ = new TestDialog(*engine_, this);
    }
    test_->show();
    test_->raise();
    test_->activateWindow();
}

bool Dock::openPage(const QString& url) {
    if (!isBrowsableUrl(url)) {
        showNotice(Lang::text("Common.NotWebPage"));
        return false;
    }
    const QUrl page(url);
    if (browserForTesting_) {
        browserForTesting_(page);
    } else {
        QDesktopServices::openUrl(page);
    }
    return true;
}
