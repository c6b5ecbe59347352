// The overlay buttons, the log buttons and the message lines at the bottom.
#include "dock.h"

#include "flow-layout.h"
#include "plugin/lang.h"
#include "widgets.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {

QPushButton* flowButton(FlowLayout* row, QWidget* parent, const QString& text, const char* name,
                        const char* tip) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    if (tip) {
        b->setToolTip(Lang::text(tip));
    }
    row->addWidget(b);
    return b;
}

} // namespace

void Dock::buildOverlays(QVBoxLayout* column) {
    overlayRow_ = new QWidget(content_);
    overlayRow_->setObjectName(QStringLiteral("overlayRow"));
    auto* row = new FlowLayout(overlayRow_, 6, 6);
    cardButton_ =
        flowButton(row, overlayRow_, Lang::text("Overlay.AddCard"), "overlayCard", "Overlay.AddCardTip");
    removeCard_ =
        flowButton(row, overlayRow_, Lang::text("Overlay.Remove"), "removeCard", "Overlay.RemoveCardTip");
    boardButton_ =
        flowButton(row, overlayRow_, Lang::text("Overlay.AddBoard"), "overlayBoard", "Overlay.AddBoardTip");
    removeBoard_ =
        flowButton(row, overlayRow_, Lang::text("Overlay.Remove"), "removeBoard", "Overlay.RemoveBoardTip");
    connect(cardButton_, &QPushButton::clicked, this, [this] { overlayPressed(Overlay::Card); });
    connect(boardButton_, &QPushButton::clicked, this, [this] { overlayPressed(Overlay::Board); });
    connect(removeCard_, &QPushButton::clicked, this, [this] { removeOverlay(Overlay::Card); });
    connect(removeBoard_, &QPushButton::clicked, this, [this] { removeOverlay(Overlay::Board); });
    column->addWidget(overlayRow_);
}

void Dock::refreshOverlays() {
    static const char* const kCard[] = {"Overlay.AddCard", "Overlay.HideCard", "Overlay.ShowCard"};
    static const char* const kBoard[] = {"Overlay.AddBoard", "Overlay.HideBoard", "Overlay.ShowBoard"};
    const int card = qBound(0, engine_->overlayState(Overlay::Card), 2);
    const int board = qBound(0, engine_->overlayState(Overlay::Board), 2);
    cardButton_->setText(Lang::text(kCard[card]));
    boardButton_->setText(Lang::text(kBoard[board]));
    setShown(removeCard_, card != 0);
    setShown(removeBoard_, board != 0);
}

void Dock::overlayPressed(Overlay which) {
    const int state = engine_->overlayState(which);
    if (state == 0) {
        QString message;
        if (!engine_->addOverlay(which, &message)) {
            showNotice(message);
        }
    } else {
        engine_->setOverlayVisible(which, state == 2);
    }
    refresh();
}

void Dock::removeOverlay(Overlay which) {
    engine_->removeOverlay(which);
    refresh();
}

void Dock::buildLogs(QVBoxLayout* column) {
    auto* row = new FlowLayout(nullptr, 6, 6);
    logsSend_ = flowButton(row, content_, Lang::text("Logs.Send"), "logsSend", "Logs.SendTip");
    logsOpen_ = flowButton(row, content_, Lang::text("Logs.Open"), "logsOpen", nullptr);
    connect(logsSend_, &QPushButton::clicked, this, &Dock::sendLogs);
    connect(logsOpen_, &QPushButton::clicked, this, &Dock::openLogs);
    column->addLayout(row);

    messageLines_ = makeLabel(QString(), QStringLiteral("muted"), content_);
    messageLines_->setObjectName(QStringLiteral("messageLines"));
    messageLines_->setTextFormat(Qt::PlainText);
    messageLines_->hide();
    column->addWidget(messageLines_);
}

void Dock::sendLogs() {
    if (logsSending_) {
        return;
    }
    logsSending_ = true;
    logsSend_->setEnabled(false);
    logsSend_->setText(Lang::text("Common.Sending"));
    QPointer<Dock> self(this);
    uplink().sendLogs(engine_->logFiles(), [self](const QString& summary) {
        if (!self) {
            return;
        }
        self->logsSending_ = false;
        self->logsSend_->setEnabled(true);
        self->logsSend_->setText(Lang::text("Logs.Send"));
        self->showNotice(summary);
    });
}

void Dock::openLogs() {
    const QString folder = QDir(engine_->outputDir()).filePath(QStringLiteral("logs"));
    QDir().mkpath(folder);
    const QUrl url = QUrl::fromLocalFile(folder);
    if (browserForTesting_) {
        browserForTesting_(url);
    } else {
        QDesktopServices::openUrl(url);
    }
}

void Dock::refreshMessageLines(const Status& s, const ReaderStatus& r) {
    QStringList lines;
    const bool match = s.cupPhase == QLatin1String("live") || s.cupPhase == QLatin1String("countdown");
    if (match && !r.recentHud) {
        lines << Lang::text("Msg.NoHud");
    }
    if (s.english == QLatin1String("suspect") || s.english == QLatin1String("fail")) {
        lines << Lang::text("Msg.NotEnglish");
    }
    if (linked() && !uplink().lastError().isEmpty()) {
        lines << Lang::text("Msg.UploadTrouble")
                     .arg(uplink().lastError(), QString::number(uplink().failures()));
    }
    if (!s.notice.isEmpty()) {
        lines << s.notice;
    }
    setLabelText(messageLines_, lines.join(QLatin1Char('\n')));
    setShown(messageLines_, !lines.isEmpty());
}
