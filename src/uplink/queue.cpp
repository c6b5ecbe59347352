#include "uplink/uplink.h"

#include "plugin/module-data.h"
#include "uplink/json-read.h"
#include "uplink/service-call.h"

#include <QJsonArray>

namespace {

constexpr int kSendAtOnce = 50;
constexpr qint64 kSummaryEveryMs = 60000;

} // namespace

void Uplink::enqueueEvent(const GameEvent& event) {
    if (demo_) {
        return; // demo mode shows made-up data and never touches the backlog
    }
    QJsonObject o = eventToJson(event);
    o.insert(QStringLiteral("seq"), QJsonValue(static_cast<qint64>(settings_->next_seq)));
    ++settings_->next_seq;
    if (queue_.empty() || queue_.player().isEmpty()) {
        queue_.setPlayer(settings_->player_id);
    }
    queue_.push(std::move(o));
    dirty_ = true;
    // During a back-off every event would be one more request to a failing
    // service; the tick sends the queue once the back-off is over.
    if (queue_.size() >= static_cast<size_t>(kSendAtOnce) && now() >= nextAttemptAt_) {
        sendBatch();
    }
}

void Uplink::sendBatch() {
    if (inFlight_ || !hasToken() || queue_.empty()) {
        return;
    }
    inFlight_ = true;
    qint64 lastSentSeq = 0;
    const QJsonArray events = queue_.first(kBatchSize, &lastSentSeq);
    const int n = static_cast<int>(events.size());
    const qint64 sentAt = now();
    QJsonObject batch;
    batch.insert(QStringLiteral("v"), 1);
    batch.insert(QStringLiteral("sent"), QJsonValue(sentAt));
    batch.insert(QStringLiteral("plugin"), QString::fromLatin1(plugin::kVersion));
    batch.insert(QStringLiteral("events"), events);
    post(QStringLiteral("/ingest"), uplink::compact(batch), requestHeaders(true), uplink::kServiceTimeoutMs,
         [this, n, lastSentSeq, sentAt, token = settings_->token](const Http::Result& result) {
             // Sent for a link that has ended or changed meanwhile: its reply
             // speaks for that link, not the current one.
             if (token != settings_->token) {
                 inFlight_ = false;
                 return;
             }
             onBatchDone(result, n, lastSentSeq, sentAt);
         });
}

void Uplink::onBatchDone(const Http::Result& result, int sent, qint64 lastSentSeq, qint64 sentAt) {
    inFlight_ = false;
    lastReplyAt_ = now();
    if (result.status == 401) {
        lastError_ = QStringLiteral("this PC is no longer linked");
        log("NET", QStringLiteral("upload refused (401): this PC is no longer linked"));
        onUnlinkedByService();
        return;
    }
    if (!result.ok) {
        noteFailure(lastReplyAt_);
        lastError_ = describeFailure(result);
        if (mayLogFailure()) {
            log("NET", QStringLiteral("upload failed (%1 in a row): %2 - %3 events waiting")
                           .arg(QString::number(failures_), lastError_, QString::number(queue_.size())));
        }
        emit changed();
        return;
    }
    if (failures_ >= 1) {
        log("NET", QStringLiteral("uploads working again after %1 failures").arg(failures_));
    }
    failures_ = 0;
    lastError_.clear();
    lastOkAt_ = now();
    const QJsonObject reply = uplink::replyObject(result);
    const qint64 ack = jsonread::int64(reply.value(QLatin1String("ack")), -1);
    noteUploaded(sent, ack);

    // An ack can only cover what this batch carried: a service that claims
    // more must not make the queue forget events it never received.
    queue_.dropThrough(std::min(ack, lastSentSeq));
    dirty_ = true;

    takeClockSample(reply, sentAt);
    lastPollAt_ = lastOkAt_;
    parseStatus(reply);
}

// One line a minute sums up the uploads, rather than one per batch.
void Uplink::noteUploaded(int sent, qint64 ack) {
    sentSinceSummary_ += sent;
    if (lastOkAt_ - lastSummaryAt_ >= kSummaryEveryMs) {
        log("NET", QStringLiteral("uploaded %1 events in the last minute, ack %2, %3 waiting")
                       .arg(QString::number(sentSinceSummary_), QString::number(ack),
                            QString::number(queue_.size())));
        sentSinceSummary_ = 0;
        lastSummaryAt_ = lastOkAt_;
    }
}

bool Uplink::savePending() {
    lastSaveAt_ = now();
    dirty_ = false;
    const bool ok = queue_.save(pendingPath(), settings_->player_id);
    if (!ok) {
        dirty_ = true; // try again at the next save instead of waiting for another change
    }
    return ok;
}
