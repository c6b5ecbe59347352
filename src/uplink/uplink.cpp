#include "uplink/uplink.h"

#include "plugin/lang.h"
#include "uplink/json-read.h"
#include "uplink/service-call.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <algorithm>

namespace {

constexpr qint64 kPollEveryMs = 5000;
constexpr qint64 kSaveEveryMs = 5000;
constexpr qint64 kBackoffCapMs = 15000;

// Service clocks beyond this are not a clock (year 2255); such a "now" would
// only push the offset towards an overflow.
constexpr double kLatestPlausibleNow = 9.0e12;

} // namespace

Uplink::Uplink(Settings* settingsRecord, QObject* parent, const QString& folder)
    : QObject(parent), settings_(settingsRecord), folder_(folder) {
    timer_.setInterval(1000);
    timer_.setSingleShot(false);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

Uplink::~Uplink() = default;

qint64 Uplink::now() const {
    return clock_ ? clock_() : QDateTime::currentMSecsSinceEpoch();
}

void Uplink::setClockForTesting(std::function<qint64()> clock) {
    clock_ = std::move(clock);
}

qint64 Uplink::serverNow() const {
    return now() + clockOffset_;
}

qint64 Uplink::toLocal(qint64 t) const {
    return t - clockOffset_;
}

void Uplink::log(const char* tag, const QString& line) const {
    if (logSink) {
        logSink(QString::fromLatin1(tag), line);
    }
}

void Uplink::saveSettings() {
    Settings::save(*settings_, folder_);
}

bool Uplink::hasToken() const {
    return !settings_->token.isEmpty();
}

QString Uplink::pendingPath() const {
    if (folder_.isEmpty()) {
        return QStringLiteral("pending.json");
    }
    return QDir(folder_).filePath(QStringLiteral("pending.json"));
}

QString Uplink::badPendingPath() const {
    return QDir(folder_.isEmpty() ? QStringLiteral(".") : folder_)
        .filePath(QStringLiteral("pending.bad.json"));
}

QString Uplink::apiUrl(const QString& path) const {
    return uplink::apiUrl(settings_->server, path);
}

QString Uplink::userAgent() {
    return uplink::userAgent();
}

QString Uplink::requestHeaders(bool json) const {
    return uplink::requestHeaders(settings_->token, json);
}

QString Uplink::describeFailure(const Http::Result& result) {
    return uplink::describeFailure(result);
}

void Uplink::post(const QString& path, const QByteArray& body, const QString& headers,
                  std::uint32_t timeoutMs, Http::Callback callback) {
    Http::request(this, QStringLiteral("POST"), apiUrl(path), body, headers, timeoutMs, userAgent(),
                  std::move(callback));
}

void Uplink::start() {
    if (started_) {
        return;
    }
    started_ = true;
    if (qEnvironmentVariableIntValue("CORVEX_TOURNEY_DEMO") == 1) {
        enterDemo();
        return;
    }

    if (!backlogLoaded_) {
        backlogLoaded_ = true;
        queue_.load(pendingPath(), badPendingPath(), settings_->player_id);
    }
    // Numbers the service may have seen must not be handed out again, even
    // when config.json was lost or damaged: the counters continue above every
    // number still waiting here or in a backlog kept aside.
    qint64 maxSeq = queue_.highest("seq");
    qint64 maxLid = queue_.highest("lid");
    QFile bad(badPendingPath());
    if (bad.open(QIODevice::ReadOnly)) {
        const QByteArray text = bad.readAll();
        maxSeq = std::max(maxSeq, uplink::highestNumberAfter(text, "\"seq\""));
        maxLid = std::max(maxLid, uplink::highestNumberAfter(text, "\"lid\""));
    }
    // The jump keeps numbers unique even when the last run ended before it
    // could save `next_seq`.
    settings_->next_seq = std::max<qint64>(settings_->next_seq + 100000, maxSeq + 1);
    settings_->next_lid = std::max<qint64>(settings_->next_lid, maxLid + 1);
    saveSettings();

    status_.linked = hasToken();
    status_.playerId = settings_->player_id;
    status_.playerName = settings_->player_name;

    timer_.start();
    tick();
}

void Uplink::stop() {
    if (!started_ || demo_) {
        return;
    }
    started_ = false;
    timer_.stop();
    savePending();
}

void Uplink::tick() {
    if (demo_) {
        return;
    }
    const qint64 at = now();
    if (!linkDeviceCode_.isEmpty()) {
        pollLink();
    }
    if (hasToken() && at >= nextAttemptAt_ && !inFlight_) {
        if (!queue_.empty()) {
            sendBatch();
        } else if (at - lastPollAt_ >= kPollEveryMs) {
            fetchMe();
        }
    }
    // The backlog reaches the disk whether or not the service can be reached:
    // waiting events must survive a crash during an outage or while unlinked.
    if (dirty_ && at - lastSaveAt_ >= kSaveEveryMs) {
        savePending();
        saveSettings();
    }
}

bool Uplink::mayLogFailure() const {
    return failures_ <= 3 || failures_ % 20 == 0;
}

void Uplink::noteFailure(qint64 at) {
    ++failures_;
    const int exponent = std::min(failures_, 4);
    const qint64 delay = std::min<qint64>(1000LL << exponent, kBackoffCapMs);
    nextAttemptAt_ = at + delay;
}

void Uplink::takeClockSample(const QJsonObject& reply, qint64 sentAt) {
    const QJsonValue serverTime = reply.value(QLatin1String("now"));
    if (!serverTime.isDouble()) {
        return;
    }
    const double value = serverTime.toDouble();
    if (!(value > 0.0 && value < kLatestPlausibleNow)) {
        return;
    }
    const qint64 receivedAt = now();
    const qint64 sample = static_cast<qint64>(value) - (sentAt + receivedAt) / 2;
    if (!clockKnown_) {
        clockOffset_ = sample;
    } else {
        clockOffset_ =
            static_cast<qint64>(0.8 * static_cast<double>(clockOffset_) + 0.2 * static_cast<double>(sample));
    }
    clockKnown_ = true;
}

void Uplink::servicePost(const QString& path, const QJsonObject& body, ReplyFn done) {
    if (!hasToken()) {
        done(QJsonObject(), Lang::text("Link.First"));
        return;
    }
    post(path, uplink::compact(body), requestHeaders(true), uplink::kServiceTimeoutMs,
         [this, path, done = std::move(done)](const Http::Result& result) {
             const QJsonObject reply = uplink::replyObject(result);
             if (result.ok) {
                 applyWagerReply(reply);
                 done(reply, QString());
                 refreshSoon();
                 return;
             }
             const QString failure = describeFailure(result);
             const QString message = jsonread::text(reply.value(QLatin1String("message")));
             const QString error = !message.isEmpty() && result.status >= 400 ? message : failure;
             // Every failed call is logged under one tag, so that one filter
             // finds them in the reader log.
             log("WAGER", QStringLiteral("%1 failed: %2").arg(path, failure));
             done(reply, error);
         });
}

Uplink::ReplyFn Uplink::passError(DoneFn done) {
    return [done = std::move(done)](const QJsonObject&, const QString& error) { done(error); };
}

void Uplink::refreshSoon() {
    if (!hasToken()) {
        return;
    }
    if (!inFlight_) {
        fetchMe();
    } else {
        lastPollAt_ = 0;
    }
}

void Uplink::onUnlinkedByService() {
    settings_->token.clear();
    saveSettings();
    status_ = Status();
    status_.notice = Lang::text("Link.Unlinked");
    emit changed();
}
