#pragma once

// The engine's own plain-text log, one file per OBS run in the output folder:
// what the reader saw, the events it made, the source it used and what the
// service link did. Both threads write to it.

#include <QFile>
#include <QString>

#include <mutex>

class ReaderLog {
public:
    // Closes any open file and opens a new one in `folder` + "/logs", named
    // from the local time. False when it cannot be opened: writes are then
    // dropped.
    bool open(const QString& folder);
    void write(const QString& tag, const QString& text);
    QString path() const;

    // "2026-12-07 15:04:05.123 READ   text\n".
    static QString formatLine(const QString& tag, const QString& text);

private:
    mutable std::mutex lock_;
    QFile file_;
    QString path_;
};
