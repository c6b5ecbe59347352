#include "uplink/uplink.h"

#include "plugin/log.h"
#include "plugin/module-data.h"
#include "uplink/json-read.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace {

constexpr std::uint32_t kIngestTimeoutMs = 10000;
constexpr int kSendAtOnce = 50;
constexpr qint64 kSummaryEveryMs = 60000;
// Sequence numbers travel as JSON numbers; beyond 2^53 they stop being exact.
constexpr double kLargestSeq = 9007199254740992.0;

QJsonValue textValue(const std::string& text) {
    return QString::fromStdString(text);
}

QJsonValue textOrNull(const std::string& text) {
    return text.empty() ? QJsonValue(QJsonValue::Null) : textValue(text);
}

// Done in single precision on purpose: the confidence is a float from the
// reader and the service keeps three decimals of it.
double conf3(float conf) {
    return static_cast<double>(std::round(conf * 1000.0f) / 1000.0f);
}

double roundTo(double x, int decimals) {
    const double scale = std::pow(10.0, decimals);
    return std::round(x * scale) / scale;
}

void addKillKeys(QJsonObject& o, const GameEvent& e) {
    o.insert(QStringLiteral("dist"), e.dist < 0 ? QJsonValue(QJsonValue::Null) : QJsonValue(e.dist));
    o.insert(QStringLiteral("weapon"), textOrNull(e.weapon));
    o.insert(QStringLiteral("wtype"), textOrNull(e.wtype));
    o.insert(QStringLiteral("hs"), e.headshot);
    o.insert(QStringLiteral("c"), conf3(e.conf));
}

bool isDroppable(const QJsonObject& event) {
    return event.value(QLatin1String("hb")).toBool() ||
           event.value(QLatin1String("k")).toString() == QLatin1String("status");
}

qint64 seqOf(const QJsonObject& event) {
    return jsonread::int64(event.value(QLatin1String("seq")));
}

} // namespace

QJsonObject eventToJson(const GameEvent& e) {
    QJsonObject o;
    o.insert(QStringLiteral("t"), QJsonValue(static_cast<qint64>(e.t)));
    const auto kind = static_cast<int32_t>(e.kind);
    switch (kind) {
    case 0:
    case 1:
        o.insert(QStringLiteral("k"), kind == 0 ? QStringLiteral("bal") : QStringLiteral("dlt"));
        o.insert(QStringLiteral("v"), QJsonValue(static_cast<qint64>(e.value)));
        o.insert(QStringLiteral("c"), conf3(e.conf));
        if (kind == 0 && e.heartbeat) {
            o.insert(QStringLiteral("hb"), true);
        }
        break;
    case 2:
        o.insert(QStringLiteral("k"), QStringLiteral("feed"));
        o.insert(QStringLiteral("txt"), textValue(e.text));
        if (e.hasAmount) {
            o.insert(QStringLiteral("amt"), QJsonValue(static_cast<qint64>(e.amount)));
        }
        if (e.hasXp) {
            o.insert(QStringLiteral("xp"), e.xp);
        }
        o.insert(QStringLiteral("lid"), QJsonValue(static_cast<qint64>(e.lineId)));
        if (e.conf > 0.0f && e.conf < 1.0f) {
            o.insert(QStringLiteral("c"), static_cast<double>(e.conf));
        }
        break;
    case 3:
        o.insert(QStringLiteral("k"), QStringLiteral("snap"));
        o.insert(QStringLiteral("tag"), textValue(e.tag));
        o.insert(QStringLiteral("v"), QJsonValue(static_cast<qint64>(e.value)));
        o.insert(QStringLiteral("c"), conf3(e.conf));
        if (!e.evidence.empty()) {
            o.insert(QStringLiteral("evidence"), textValue(e.evidence));
        }
        break;
    case 4: {
        o.insert(QStringLiteral("k"), QStringLiteral("status"));
        o.insert(QStringLiteral("hud"), e.hud);
        o.insert(QStringLiteral("src"), textValue(e.src));
        o.insert(QStringLiteral("res"), QJsonArray{e.resWidth, e.resHeight});
        o.insert(QStringLiteral("scale"), roundTo(e.scale, 3));
        o.insert(QStringLiteral("fps"), roundTo(e.fps, 1));
        o.insert(QStringLiteral("streaming"), e.streaming);
        o.insert(QStringLiteral("recording"), e.recording);
        o.insert(QStringLiteral("err"), textOrNull(e.err));
        QJsonObject source;
        source.insert(QStringLiteral("name"), textValue(e.src));
        source.insert(QStringLiteral("uuid"), textValue(e.uuid));
        source.insert(QStringLiteral("type"), textValue(e.type));
        source.insert(QStringLiteral("exe"), textValue(e.exe));
        source.insert(QStringLiteral("on_stream"), e.onStream);
        source.insert(QStringLiteral("locked"), e.locked);
        source.insert(QStringLiteral("changed"), e.changed);
        o.insert(QStringLiteral("source"), source);
        if (!e.steamId.empty()) {
            QJsonObject steam;
            steam.insert(QStringLiteral("id"), textValue(e.steamId));
            steam.insert(QStringLiteral("name"), textValue(e.steamName));
            o.insert(QStringLiteral("steam"), steam);
        }
        QJsonObject reader;
        reader.insert(QStringLiteral("cap"), roundTo(e.cap, 1));
        reader.insert(QStringLiteral("fps"), roundTo(e.fps, 1));
        reader.insert(QStringLiteral("ok_rate"), roundTo(e.okRate, 2));
        o.insert(QStringLiteral("reader"), reader);
        o.insert(QStringLiteral("weapon"), textOrNull(e.weapon));
        break;
    }
    case 5:
    case 6:
        o.insert(QStringLiteral("k"), kind == 5 ? QStringLiteral("kill") : QStringLiteral("death"));
        addKillKeys(o, e);
        break;
    case 7:
        o.insert(QStringLiteral("k"), QStringLiteral("down"));
        o.insert(QStringLiteral("c"), conf3(e.conf));
        break;
    case 8:
        o.insert(QStringLiteral("k"), QStringLiteral("up"));
        break;
    default:
        break;
    }
    return o;
}

void Uplink::enqueueEvent(const GameEvent& event) {
    if (demo_) {
        return; // demo mode shows made-up data and never touches the backlog
    }
    QJsonObject o = eventToJson(event);
    o.insert(QStringLiteral("seq"), QJsonValue(static_cast<qint64>(settings->next_seq)));
    ++settings->next_seq;
    if (queue_.empty() || queuePlayer_.isEmpty()) {
        queuePlayer_ = settings->player_id;
    }
    wire_.push_back(QJsonDocument(o).toJson(QJsonDocument::Compact));
    queue_.push_back(std::move(o));
    trimQueue();
    dirty = true;
    // During a back-off every event would be one more request to a failing
    // service; the tick sends the queue once the back-off is over.
    if (queue_.size() >= static_cast<size_t>(kSendAtOnce) && now() >= nextAttemptAt_) {
        sendBatch();
    }
}

void Uplink::trimQueue() {
    while (queue_.size() > static_cast<size_t>(kQueueCap)) {
        const size_t from = std::min(keepHint_, queue_.size());
        const auto victim =
            std::find_if(queue_.begin() + static_cast<std::ptrdiff_t>(from), queue_.end(), isDroppable);
        if (victim == queue_.end()) {
            keepHint_ = queue_.size();
            popFront();
            continue;
        }
        const auto index = victim - queue_.begin();
        queue_.erase(victim);
        wire_.erase(wire_.begin() + index);
        keepHint_ = static_cast<size_t>(index);
    }
}

QString Uplink::trimBacklog() {
    if (queue_.size() <= static_cast<size_t>(kQueueCap)) {
        return {};
    }
    // The same choice as one trimQueue step per surplus event (oldest
    // heartbeats and status events first, then the oldest events), made in
    // one pass instead of one erase from the middle per event.
    const size_t excess = queue_.size() - static_cast<size_t>(kQueueCap);
    const auto droppable = static_cast<size_t>(std::count_if(queue_.begin(), queue_.end(), isDroppable));
    const size_t dropFirst = std::min(excess, droppable);
    size_t dropOldest = excess - dropFirst;
    size_t droppedFirst = 0;
    std::map<QString, int> byKind;
    size_t kept = 0;
    for (size_t i = 0; i < queue_.size(); ++i) {
        const bool first = isDroppable(queue_[i]);
        const bool drop = first ? droppedFirst < dropFirst : dropOldest > 0;
        if (drop) {
            if (first) {
                ++droppedFirst;
            } else {
                --dropOldest;
            }
            const bool heartbeat = queue_[i].value(QLatin1String("hb")).toBool();
            ++byKind[heartbeat ? QStringLiteral("heartbeat")
                               : queue_[i].value(QLatin1String("k")).toString()];
            continue;
        }
        if (kept != i) {
            queue_[kept] = std::move(queue_[i]);
            wire_[kept] = std::move(wire_[i]);
        }
        ++kept;
    }
    queue_.resize(kept);
    wire_.resize(kept);
    keepHint_ = 0;

    std::vector<std::pair<int, QString>> counts;
    for (const auto& [kind, n] : byKind) {
        counts.emplace_back(n, kind.isEmpty() ? QStringLiteral("unknown") : kind);
    }
    std::stable_sort(counts.begin(), counts.end(),
                     [](const auto& a, const auto& b) { return a.first > b.first; });
    QStringList parts;
    for (const auto& [n, kind] : counts) {
        parts << QStringLiteral("%1 %2").arg(n).arg(kind);
    }
    return QStringLiteral("%1 (%2)").arg(excess).arg(parts.join(QStringLiteral(", ")));
}

void Uplink::popFront() {
    queue_.pop_front();
    wire_.pop_front();
    if (keepHint_ > 0) {
        --keepHint_;
    }
}

void Uplink::clearQueue() {
    queue_.clear();
    wire_.clear();
    keepHint_ = 0;
}

void Uplink::sendBatch() {
    if (inFlight || !hasToken() || queue_.empty()) {
        return;
    }
    inFlight = true;
    const int n = static_cast<int>(std::min<size_t>(queue_.size(), kBatchSize));
    QJsonArray events;
    qint64 lastSentSeq = 0;
    for (int i = 0; i < n; ++i) {
        const QJsonObject& event = queue_[static_cast<size_t>(i)];
        events.append(event);
        lastSentSeq = std::max(lastSentSeq, seqOf(event));
    }
    const qint64 sentAt = now();
    QJsonObject batch;
    batch.insert(QStringLiteral("v"), 1);
    batch.insert(QStringLiteral("sent"), QJsonValue(sentAt));
    batch.insert(QStringLiteral("plugin"), QString::fromLatin1(plugin::kVersion));
    batch.insert(QStringLiteral("events"), events);
    post(QStringLiteral("/ingest"), QJsonDocument(batch).toJson(QJsonDocument::Compact), requestHeaders(true),
         kIngestTimeoutMs,
         [this, n, lastSentSeq, sentAt, token = settings->token](const Http::Result& result) {
             // Sent for a link that has ended or changed meanwhile: its reply
             // speaks for that link, not the current one.
             if (token != settings->token) {
                 inFlight = false;
                 return;
             }
             onBatchDone(result, n, lastSentSeq, sentAt);
         });
}

void Uplink::onBatchDone(const Http::Result& result, int sent, qint64 lastSentSeq, qint64 sentAt) {
    inFlight = false;
    lastReplyAt = now();
    if (result.status == 401) {
        lastError_ = QStringLiteral("this PC is no longer linked");
        log("NET", QStringLiteral("upload refused (401): this PC is no longer linked"));
        onUnlinkedByService();
        return;
    }
    if (!result.ok) {
        noteFailure(lastReplyAt);
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
    const QJsonObject reply = QJsonDocument::fromJson(result.body).object();
    const qint64 ack = jsonread::int64(reply.value(QLatin1String("ack")), -1);

    sentSinceSummary += sent;
    if (lastOkAt_ - lastSummaryAt >= kSummaryEveryMs) {
        log("NET", QStringLiteral("uploaded %1 events in the last minute, ack %2, %3 waiting")
                       .arg(QString::number(sentSinceSummary), QString::number(ack),
                            QString::number(queue_.size())));
        sentSinceSummary = 0;
        lastSummaryAt = lastOkAt_;
    }

    // An ack can only cover what this batch carried: a service that claims
    // more must not make the queue forget events it never received.
    const qint64 covered = std::min(ack, lastSentSeq);
    while (!queue_.empty() && seqOf(queue_.front()) <= covered) {
        popFront();
    }
    dirty = true;

    takeClockSample(reply, sentAt);
    lastPollAt = lastOkAt_;
    parseStatus(reply);
}

void Uplink::loadPending() {
    const QString path = pendingPath();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray data = file.readAll();
    file.close();

    const QString badPath = badPendingPath();
    auto keepAside = [&](bool move) {
        QFile::remove(badPath);
        if (move) {
            QFile::rename(path, badPath);
        } else {
            QFile::copy(path, badPath);
        }
    };

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
    QString problem;
    if (error.error != QJsonParseError::NoError) {
        problem = error.errorString();
    } else if (!doc.isArray() && !doc.isObject()) {
        problem = QStringLiteral("neither an array nor an object");
    } else if (doc.isObject() && doc.object().contains(QLatin1String("events")) &&
               !doc.object().value(QLatin1String("events")).isArray()) {
        problem = QStringLiteral("\"events\" is not an array");
    }
    if (!problem.isEmpty()) {
        keepAside(true);
        obsLog(LOG_WARNING, "pending.json unreadable (%s), kept as pending.bad.json",
               problem.toUtf8().constData());
        return;
    }

    QJsonArray events;
    if (doc.isObject()) {
        const QJsonObject root = doc.object();
        events = root.value(QLatin1String("events")).toArray();
        queuePlayer_ = jsonread::text(root.value(QLatin1String("player")));
    } else {
        events = doc.array();
        queuePlayer_ = settings->player_id;
    }

    // An element without a usable sequence number cannot be acknowledged or
    // told apart from others by the service; the original file is kept
    // aside so those are not lost either.
    std::deque<QJsonObject> loaded;
    int damaged = 0;
    for (const QJsonValue& value : events) {
        QJsonObject event = value.toObject();
        const QJsonValue seq = event.value(QLatin1String("seq"));
        if (!value.isObject() || !seq.isDouble() ||
            !(seq.toDouble() >= 1.0 && seq.toDouble() < kLargestSeq)) {
            ++damaged;
            continue;
        }
        loaded.push_back(std::move(event));
    }
    if (damaged > 0) {
        keepAside(false);
        obsLog(LOG_WARNING, "pending.json: %d damaged events skipped, the file is kept as pending.bad.json",
               damaged);
    }
    for (QJsonObject& event : queue_) {
        loaded.push_back(std::move(event));
    }
    queue_ = std::move(loaded);
    wire_ = std::deque<QByteArray>(queue_.size());
    keepHint_ = 0;
    const QString dropped = trimBacklog();
    if (!dropped.isEmpty()) {
        obsLog(LOG_WARNING, "pending.json: dropped %s of the waiting events to keep at most %d",
               dropped.toUtf8().constData(), kQueueCap);
    }
    if (!queue_.empty()) {
        obsLog(LOG_INFO, "%d events waiting from the last session", static_cast<int>(queue_.size()));
    }
}

bool Uplink::savePending() {
    lastSaveAt = now();
    dirty = false;
    // The same document as QJsonDocument would write, joined from the
    // events' cached text: a full queue is written in a few milliseconds.
    const QString player = queuePlayer_.isEmpty() ? settings->player_id : queuePlayer_;
    QByteArray playerJson = QJsonDocument(QJsonArray{player}).toJson(QJsonDocument::Compact);
    playerJson = playerJson.mid(1, playerJson.size() - 2);
    int total = 64 + playerJson.size();
    for (size_t i = 0; i < queue_.size(); ++i) {
        if (wire_[i].isEmpty()) {
            wire_[i] = QJsonDocument(queue_[i]).toJson(QJsonDocument::Compact);
        }
        total += static_cast<int>(wire_[i].size()) + 1;
    }
    QByteArray text;
    text.reserve(total);
    text += "{\"events\":[";
    for (size_t i = 0; i < wire_.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += wire_[i];
    }
    text += "],\"player\":";
    text += playerJson;
    text += '}';

    QSaveFile file(pendingPath());
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.write(text) == text.size();
    ok = ok && file.commit();
    if (!ok) {
        obsLog(LOG_WARNING, "could not save pending.json: %s", file.errorString().toUtf8().constData());
        dirty = true; // try again at the next save instead of waiting for another change
    }
    return ok;
}
