#include "uplink/event-queue.h"

#include "plugin/log.h"
#include "uplink/json-read.h"

#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

namespace uplink {

namespace {

// Sequence numbers travel as JSON numbers; beyond 2^53 they stop being exact.
constexpr double kLargestSeq = 9007199254740992.0;

bool isDroppable(const QJsonObject& event) {
    return event.value(QLatin1String("hb")).toBool() ||
           event.value(QLatin1String("k")).toString() == QLatin1String("status");
}

qint64 seqOf(const QJsonObject& event) {
    return jsonread::int64(event.value(QLatin1String("seq")));
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Why a backlog document cannot be read at all; empty when it can.
QString backlogProblem(const QJsonDocument& doc, const QJsonParseError& error) {
    if (error.error != QJsonParseError::NoError) {
        return error.errorString();
    }
    if (!doc.isArray() && !doc.isObject()) {
        return QStringLiteral("neither an array nor an object");
    }
    if (doc.isObject() && doc.object().contains(QLatin1String("events")) &&
        !doc.object().value(QLatin1String("events")).isArray()) {
        return QStringLiteral("\"events\" is not an array");
    }
    return {};
}

} // namespace

qint64 highestNumberAfter(const QByteArray& text, const char* key) {
    constexpr qint64 kLimit = qint64{1} << 53; // beyond this seq numbers are not exact in JSON
    const QByteArray needle(key);
    qint64 highest = 0;
    for (int at = text.indexOf(needle); at >= 0; at = text.indexOf(needle, at + 1)) {
        int i = at + needle.size();
        while (i < text.size() && isBlank(text[i])) {
            ++i;
        }
        if (i >= text.size() || text[i] != ':') {
            continue;
        }
        ++i;
        while (i < text.size() && isBlank(text[i])) {
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

void EventQueue::push(QJsonObject event) {
    wire_.push_back(QJsonDocument(event).toJson(QJsonDocument::Compact));
    events_.push_back(std::move(event));
    trim();
}

void EventQueue::clear() {
    events_.clear();
    wire_.clear();
    keepHint_ = 0;
}

QJsonArray EventQueue::first(int count, qint64* highestSeq) const {
    const auto n = std::min<std::size_t>(events_.size(), static_cast<std::size_t>(std::max(count, 0)));
    QJsonArray events;
    qint64 highest = 0;
    for (std::size_t i = 0; i < n; ++i) {
        events.append(events_[i]);
        highest = std::max(highest, seqOf(events_[i]));
    }
    if (highestSeq) {
        *highestSeq = highest;
    }
    return events;
}

void EventQueue::dropThrough(qint64 seq) {
    while (!events_.empty() && seqOf(events_.front()) <= seq) {
        popFront();
    }
}

qint64 EventQueue::highest(const char* key) const {
    qint64 highest = 0;
    for (const QJsonObject& event : events_) {
        highest = std::max<qint64>(highest, jsonread::int64(event.value(QLatin1String(key))));
    }
    return highest;
}

void EventQueue::trim() {
    while (events_.size() > static_cast<std::size_t>(kCap)) {
        const std::size_t from = std::min(keepHint_, events_.size());
        const auto victim =
            std::find_if(events_.begin() + static_cast<std::ptrdiff_t>(from), events_.end(), isDroppable);
        if (victim == events_.end()) {
            keepHint_ = events_.size();
            popFront();
            continue;
        }
        const auto index = victim - events_.begin();
        events_.erase(victim);
        wire_.erase(wire_.begin() + index);
        keepHint_ = static_cast<std::size_t>(index);
    }
}

QString EventQueue::trimLoaded() {
    if (events_.size() <= static_cast<std::size_t>(kCap)) {
        return {};
    }
    // The same choice as one trim step per surplus event (oldest heartbeats
    // and status events first, then the oldest events), made in one pass
    // instead of one erase from the middle per event.
    const std::size_t excess = events_.size() - static_cast<std::size_t>(kCap);
    const auto droppable =
        static_cast<std::size_t>(std::count_if(events_.begin(), events_.end(), isDroppable));
    const std::size_t dropFirst = std::min(excess, droppable);
    std::size_t dropOldest = excess - dropFirst;
    std::size_t droppedFirst = 0;
    std::map<QString, int> byKind;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < events_.size(); ++i) {
        const bool first = isDroppable(events_[i]);
        const bool drop = first ? droppedFirst < dropFirst : dropOldest > 0;
        if (drop) {
            if (first) {
                ++droppedFirst;
            } else {
                --dropOldest;
            }
            const bool heartbeat = events_[i].value(QLatin1String("hb")).toBool();
            ++byKind[heartbeat ? QStringLiteral("heartbeat")
                               : events_[i].value(QLatin1String("k")).toString()];
            continue;
        }
        if (kept != i) {
            events_[kept] = std::move(events_[i]);
            wire_[kept] = std::move(wire_[i]);
        }
        ++kept;
    }
    events_.resize(kept);
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

void EventQueue::popFront() {
    events_.pop_front();
    wire_.pop_front();
    if (keepHint_ > 0) {
        --keepHint_;
    }
}

void EventQueue::load(const QString& path, const QString& badPath, const QString& fallbackPlayer) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    const QByteArray data = file.readAll();
    file.close();

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
    const QString problem = backlogProblem(doc, error);
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
        player_ = jsonread::text(root.value(QLatin1String("player")));
    } else {
        events = doc.array();
        player_ = fallbackPlayer;
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
    for (QJsonObject& event : events_) {
        loaded.push_back(std::move(event));
    }
    events_ = std::move(loaded);
    wire_ = std::deque<QByteArray>(events_.size());
    keepHint_ = 0;
    const QString dropped = trimLoaded();
    if (!dropped.isEmpty()) {
        obsLog(LOG_WARNING, "pending.json: dropped %s of the waiting events to keep at most %d",
               dropped.toUtf8().constData(), kCap);
    }
    if (!events_.empty()) {
        obsLog(LOG_INFO, "%d events waiting from the last session", static_cast<int>(events_.size()));
    }
}

bool EventQueue::save(const QString& path, const QString& fallbackPlayer) {
    // The same document as QJsonDocument would write, joined from the
    // events' cached text: a full queue is written in a few milliseconds.
    const QString player = player_.isEmpty() ? fallbackPlayer : player_;
    QByteArray playerJson = QJsonDocument(QJsonArray{player}).toJson(QJsonDocument::Compact);
    playerJson = playerJson.mid(1, playerJson.size() - 2);
    int total = 64 + playerJson.size();
    for (std::size_t i = 0; i < events_.size(); ++i) {
        if (wire_[i].isEmpty()) {
            wire_[i] = QJsonDocument(events_[i]).toJson(QJsonDocument::Compact);
        }
        total += static_cast<int>(wire_[i].size()) + 1;
    }
    QByteArray text;
    text.reserve(total);
    text += "{\"events\":[";
    for (std::size_t i = 0; i < wire_.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += wire_[i];
    }
    text += "],\"player\":";
    text += playerJson;
    text += '}';

    QSaveFile file(path);
    bool ok = file.open(QIODevice::WriteOnly);
    ok = ok && file.write(text) == text.size();
    ok = ok && file.commit();
    if (!ok) {
        obsLog(LOG_WARNING, "could not save pending.json: %s", file.errorString().toUtf8().constData());
    }
    return ok;
}

} // namespace uplink
