#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <deque>

namespace uplink {

// The events waiting for the service, oldest first, each numbered ("seq") by
// the service link, and their backlog file "pending.json". Past the cap the
// oldest heartbeats and status events are given up first, then the oldest
// events. Knows nothing of the network.
class EventQueue {
public:
    static constexpr int kCap = 20000;

    const std::deque<QJsonObject>& events() const { return events_; }
    std::size_t size() const { return events_.size(); }
    bool empty() const { return events_.empty(); }

    // The player whose events these are; empty until known.
    const QString& player() const { return player_; }
    void setPlayer(const QString& player) { player_ = player; }

    void push(QJsonObject event);
    void clear();

    // The first `count` events as one array, and the highest "seq" among them.
    QJsonArray first(int count, qint64* highestSeq) const;
    // Forgets the events from the front up to and including sequence number `seq`.
    void dropThrough(qint64 seq);
    // The highest whole number under `key` ("seq", "lid") among the events.
    qint64 highest(const char* key) const;

    // Reads the backlog at `path` in front of the events already queued and
    // takes its player (`fallbackPlayer` for the older form, a bare array). A
    // damaged file is kept aside as `badPath` (moved when unreadable, copied
    // when only some events are damaged) and reported to the OBS log.
    void load(const QString& path, const QString& badPath, const QString& fallbackPlayer);
    // Writes the backlog atomically; `fallbackPlayer` when the queue has none.
    // False, with the reason in the OBS log, when the file could not be written.
    bool save(const QString& path, const QString& fallbackPlayer);

private:
    void trim();
    // Brings a loaded backlog down to the cap in one pass; returns how many
    // events went and of which kinds ("180000 (72000 heartbeat, ...)"), or
    // an empty text when none had to.
    QString trimLoaded();
    void popFront();

    std::deque<QJsonObject> events_;
    // Each event as compact JSON, in step with events_; empty until first
    // needed. Saving the backlog then only joins bytes.
    std::deque<QByteArray> wire_;
    // No heartbeat or status event lies before this index.
    std::size_t keepHint_ = 0;
    QString player_;
};

// The highest whole number that follows `key` (with its quotes) and a colon
// anywhere in `text`, below 2^53; 0 when there is none. Reads without a JSON
// parser, for a backlog that did not parse.
qint64 highestNumberAfter(const QByteArray& text, const char* key);

} // namespace uplink
