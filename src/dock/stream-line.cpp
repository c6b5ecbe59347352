// The stream line: during a match the game must be on the stream. The alarm
// is decided here from what OBS and the reader see; the service only hears
// of it when the player acknowledges it.
#include "dock.h"

#include "plugin/lang.h"
#include "widgets.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

bool matchPhase(const QString& phase) {
    return phase == QLatin1String("live") || phase == QLatin1String("countdown");
}

} // namespace

void Dock::buildAlarm(QVBoxLayout* column) {
    alarm_ = makeLabel(QString(), QStringLiteral("alarm"), content_);
    alarm_->setObjectName(QStringLiteral("alarm"));
    alarm_->setTextFormat(Qt::RichText);
    alarm_->setProperty("flash", QStringLiteral("off"));
    alarm_->hide();
    column->addWidget(alarm_);
    alarmAck_ = new QPushButton(Lang::text("Stream.AlarmAck"), content_);
    alarmAck_->setObjectName(QStringLiteral("alarmAck"));
    setRole(alarmAck_, QStringLiteral("alarm"));
    alarmAck_->hide();
    connect(alarmAck_, &QPushButton::clicked, this, &Dock::ackAlarm);
    column->addWidget(alarmAck_);
    twitchLine_ = makeLabel(QString(), QStringLiteral("muted"), content_);
    twitchLine_->setObjectName(QStringLiteral("twitchLine"));
    twitchLine_->setTextFormat(Qt::PlainText);
    twitchLine_->hide();
    column->addWidget(twitchLine_);
}

void Dock::refreshStream(const Status& s, const ReaderStatus& r) {
    const bool match = matchPhase(s.cupPhase) || (!s.wager.id.isEmpty() && matchPhase(s.wager.phase));
    const bool streaming = engine_->outputState().streaming;
    const bool gameOnStream = streaming && (!r.info.exists || r.info.active);
    const bool twitchLive = s.stream.hasStream && s.stream.twitchLive == 1;
    const bool off = match && !gameOnStream;

    QString warning;
    if (off && !twitchLive) {
        warning = Lang::text(streaming ? "Stream.GameNotOnStream" : "Stream.NotStreaming");
    }
    const bool twitchCounts = off && twitchLive;
    if (twitchCounts) {
        const QString& login = s.stream.twitchLogin;
        setLabelText(twitchLine_, login.isEmpty() ? Lang::text("Stream.TwitchCounts")
                                                  : Lang::text("Stream.TwitchCountsLogin").arg(login));
    }
    setShown(twitchLine_, twitchCounts);

    if (warning.isEmpty()) {
        alarmAcked_ = false;
        setLabelText(alarm_, QString());
    } else {
        setLabelText(alarm_, QStringLiteral("&#9888; ") + warning.toHtmlEscaped() +
                                 QStringLiteral(" &mdash;<br><span style='font-size:13px'>") +
                                 Lang::text("Stream.Flagged").toHtmlEscaped() + QStringLiteral("</span>"));
    }
    setShown(alarm_, !warning.isEmpty());
    const bool flashing = !warning.isEmpty() && !alarmAcked_;
    setShown(alarmAck_, flashing);
    if (flashing) {
        if (!flashTimer_.isActive()) {
            flashTimer_.start();
        }
    } else {
        flashTimer_.stop();
        flashOn_ = false;
        setStyleProperty(alarm_, "flash", QStringLiteral("off"));
    }
}

void Dock::flashTick() {
    flashOn_ = !flashOn_;
    setStyleProperty(alarm_, "flash", flashOn_ ? QStringLiteral("on") : QStringLiteral("off"));
}

void Dock::ackAlarm() {
    alarmAcked_ = true;
    uplink().ackWarning(QStringLiteral("no_stream"));
    refresh();
}
