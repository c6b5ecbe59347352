#include "uplink/uplink.h"

#include "plugin/lang.h"
#include "plugin/log.h"
#include "plugin/module-data.h"
#include "uplink/json-read.h"
#include "uplink/texts.h"

#include <obs.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonDocument>

#include <algorithm>

namespace {

constexpr std::uint32_t kCallTimeoutMs = 10000;
constexpr qint64 kPollEveryMs = 5000;
constexpr qint64 kSaveEveryMs = 5000;
constexpr qint64 kBackoffCapMs = 15000;

// Service clocks beyond this are not a clock (year 2255); such a "now" would
// only push the offset towards an overflow.
constexpr double kLatestPlausibleNow = 9.0e12;

// The highest whole number that follows `key` and a colon anywhere in `text`.
// Read without a JSON parser: the text may be a backlog that did not parse.
qint64 highestNumberAfter(const QByteArray& text, const char* key) {
    constexpr qint64 kLimit = qint64{1} << 53; // beyond this seq numbers are not exact in JSON
    const QByteArray needle(key);
    qint64 highest = 0;
    for (int at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + 1)) {
        int i = at + needle.size();
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
            ++i;
        }
        if (i >= text.size() || text[i] != ':') {
            continue;
        }
        ++i;
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
            ++i;
        }
        qint64 value = 0;
        bool any = false;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && value < kLimit) {
            value = value * 10 + (text[i] - '0');
            any = true;
            ++i;
        }
        if (any && value < kLimit) {
            highest = std::max(highest, value);
        }
    }
    return highest;
}

} // namespace

Uplink::Uplink(Settings* settingsRecord, QObject* parent, const QString& folder)
    : QObject(parent), settings(settingsRecord), folder_(folder) {
    timer.setInterval(1000);
    timer.setSingleShot(false);
    connect(&timer, &QTimer::timeout, this, [this] { tick(); });
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
    Settings::save(*settings, folder_);
}

bool Uplink::hasToken() const {
    return !settings->token.isEmpty();
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
    QString base = settings->server;
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base + path;
}

QString Uplink::userAgent() {
    const char* obs = obs_get_version_string();
    return QStringLiteral("CorvexTournament/%1 (OBS %2)")
        .arg(QString::fromLatin1(plugin::kVersion), QString::fromUtf8(obs ? obs : ""));
}

QString Uplink::requestHeaders(bool json) const {
    QString headers = QStringLiteral("Accept-Language: ") + Lang::code() + QStringLiteral("\r\n");
    if (hasToken()) {
        headers += QStringLiteral("Authorization: Bearer ") + settings->token + QStringLiteral("\r\n");
    }
    if (json) {
        headers += QStringLiteral("Content-Type: application/json\r\n");
    }
    return headers;
}

QString Uplink::describeFailure(const Http::Result& result) {
    QString text = !result.error.isEmpty() ? result.error : QStringLiteral("HTTP %1").arg(result.status);
    if (result.status == 404) {
        text +=
            QStringLiteral(" - the tournament server is not answering at this address (not deployed yet?)");
    }
    if (result.status >= 400) {
        const QString body = QString::fromUtf8(result.body.left(200)).simplified();
        if (!body.isEmpty()) {
            text += QStringLiteral(" | ") + body;
        }
    }
    return text;
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
        loadPending();
    }
    // Numbers the service may have seen must not be handed out again, even
    // when config.json was lost or damaged: the counters continue above every
    // number still waiting here or in a backlog kept aside.
    qint64 maxSeq = 0;
    qint64 maxLid = 0;
    for (const QJsonObject& event : queue_) {
        maxSeq = std::max<qint64>(maxSeq, jsonread::int64(event.value(QLatin1String("seq"))));
        maxLid = std::max<qint64>(maxLid, jsonread::int64(event.value(QLatin1String("lid"))));
    }
    QFile bad(badPendingPath());
    if (bad.open(QIODevice::ReadOnly)) {
        const QByteArray text = bad.readAll();
        maxSeq = std::max(maxSeq, highestNumberAfter(text, "\"seq\""));
        maxLid = std::max(maxLid, highestNumberAfter(text, "\"lid\""));
    }
    // The jump keeps numbers unique even when the last run ended before it
    // could save `next_seq`.
    settings->next_seq = std::max<qint64>(settings->next_seq + 100000, maxSeq + 1);
    settings->next_lid = std::max<qint64>(settings->next_lid, maxLid + 1);
    saveSettings();

    status_.linked = hasToken();
    status_.playerId = settings->player_id;
    status_.playerName = settings->player_name;

    timer.start();
    tick();
}

void Uplink::stop() {
    if (!started_ || demo_) {
        return;
    }
    started_ = false;
    timer.stop();
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
    if (hasToken() && at >= nextAttemptAt_ && !inFlight) {
        if (!queue_.empty()) {
            sendBatch();
        } else if (at - lastPollAt >= kPollEveryMs) {
            fetchMe();
        }
    }
    // The backlog reaches the disk whether or not the service can be reached:
    // waiting events must survive a crash during an outage or while unlinked.
    if (dirty && at - lastSaveAt >= kSaveEveryMs) {
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

void Uplink::wagerPost(const QString& path, const QJsonObject& body, ReplyFn done) {
    if (!hasToken()) {
        done(QJsonObject(), Lang::text("Link.First"));
        return;
    }
    post(path, QJsonDocument(body).toJson(QJsonDocument::Compact), requestHeaders(true), kCallTimeoutMs,
         [this, path, done = std::move(done)](const Http::Result& result) {
             const QJsonObject reply = QJsonDocument::fromJson(result.body).object();
             if (result.ok) {
                 applyWagerReply(reply);
                 done(reply, QString());
                 refreshSoon();
                 return;
             }
             const QString failure = describeFailure(result);
             const QString message = jsonread::text(reply.value(QLatin1String("message")));
             const QString error = !message.isEmpty() && result.status >= 400 ? message : failure;
             log("WAGER", QStringLiteral("%1 failed: %2").arg(path, failure));
             done(reply, error);
         });
}

void Uplink::refreshSoon() {
    if (!hasToken()) {
        return;
    }
    if (!inFlight) {
        fetchMe();
    } else {
        lastPollAt = 0;
    }
}

void Uplink::onUnlinkedByService() {
    settings->token.clear();
    saveSettings();
    status_ = Status();
    status_.notice = Lang::text("Link.Unlinked");
    emit changed();
}
