#include "engine/reader-log.h"

#include <QDateTime>
#include <QDir>

bool ReaderLog::open(const QString& folder) {
    std::lock_guard<std::mutex> guard(lock_);
    file_.close();
    const QString logs = folder + QStringLiteral("/logs");
    QDir().mkpath(logs);
    path_ = logs + QStringLiteral("/reader-") +
            QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) + QStringLiteral(".log");
    file_.setFileName(path_);
    return file_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text);
}

void ReaderLog::write(const QString& tag, const QString& text) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_.isOpen())
        return;
    file_.write(formatLine(tag, text).toUtf8());
    file_.flush();
}

QString ReaderLog::path() const {
    std::lock_guard<std::mutex> guard(lock_);
    return path_;
}

QString ReaderLog::formatLine(const QString& tag, const QString& text) {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")) +
           QLatin1Char(' ') + tag.leftJustified(6) + QLatin1Char(' ') + text + QLatin1Char('\n');
}
