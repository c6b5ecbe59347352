#include "uplink/uplink.h"

#include "plugin/lang.h"
#include "uplink/json-read.h"
#include "uplink/service-call.h"
#include "uplink/texts.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr std::uint32_t kEvidenceTimeoutMs = 20000;
constexpr std::uint32_t kFileTimeoutMs = 30000;
constexpr qint64 kLogTailBytes = 3584000;
constexpr qint64 kSampleLimitBytes = 4194304;

using uplink::encoded;

QString replyId(const Http::Result& result) {
    return jsonread::text(uplink::replyObject(result).value(QLatin1String("id")));
}

} // namespace

// One file after another, so that a job has at most one request in flight.
struct Uplink::LogsJob {
    QStringList paths;
    QStringList sent;
    QStringList notSent;
    DoneFn done;
};

struct Uplink::SamplesJob {
    QStringList paths;
    int32_t sent = 0;
    int32_t failed = 0;
    QString lastFailure;
    DoneFn done;
};

void Uplink::uploadEvidence(const QByteArray& jpeg, const QString& kind, qint64 t, DoneFn done) {
    if (!hasToken() || jpeg.isEmpty()) {
        done(QString());
        return;
    }
    const QString path = QStringLiteral("/evidence?kind=%1&t=%2").arg(encoded(kind), QString::number(t));
    post(path, jpeg, requestHeaders(false) + QStringLiteral("Content-Type: image/jpeg\r\n"),
         kEvidenceTimeoutMs, [done = std::move(done)](const Http::Result& result) {
             done(result.ok ? replyId(result) : QString());
         });
}

void Uplink::sendLogs(const QStringList& paths, DoneFn done) {
    auto job = std::make_shared<LogsJob>();
    job->paths = paths;
    job->done = std::move(done);
    logsStep(job);
}

void Uplink::logsStep(const std::shared_ptr<LogsJob>& job) {
    while (!job->paths.isEmpty()) {
        const QString path = job->paths.takeFirst();
        const QString name = QFileInfo(path).fileName();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            job->notSent.append(name + QStringLiteral(" (cannot open)"));
            continue;
        }
        // The end of a long log holds the session that went wrong.
        const qint64 size = file.size();
        if (size > kLogTailBytes) {
            file.seek(size - kLogTailBytes);
        }
        const QByteArray data = file.read(kLogTailBytes);
        file.close();
        const QString kind =
            name.startsWith(QLatin1String("reader-")) ? QStringLiteral("reader") : QStringLiteral("obs");
        post(QStringLiteral("/logs?kind=%1&name=%2").arg(kind, encoded(name)), data,
             requestHeaders(false) + QStringLiteral("Content-Type: text/plain; charset=utf-8\r\n"),
             kFileTimeoutMs, [this, job, name](const Http::Result& result) {
                 if (result.ok) {
                     const QString id = replyId(result);
                     job->sent.append(id.isEmpty() ? name
                                                   : name + QStringLiteral(" [") + id + QStringLiteral("]"));
                 } else {
                     job->notSent.append(name + QStringLiteral(" (") + describeFailure(result) +
                                         QStringLiteral(")"));
                 }
                 logsStep(job);
             });
        return;
    }

    QString summary = job->sent.isEmpty()
                          ? Lang::text("Logs.NothingSent")
                          : uplinktext::with("Logs.Sent", job->sent.join(QStringLiteral(", ")));
    if (!job->notSent.isEmpty()) {
        summary += QStringLiteral(" · ") + Lang::text("Logs.NotSent") + QLatin1Char(' ') +
                   job->notSent.join(QStringLiteral("; "));
    }
    log("LOGS", QStringLiteral("sent %1, failed %2")
                    .arg(job->sent.join(QStringLiteral(", ")), job->notSent.join(QStringLiteral("; "))));
    const DoneFn done = std::move(job->done);
    done(summary);
}

void Uplink::sendSamples(const QStringList& paths, DoneFn done) {
    if (!hasToken()) {
        done(Lang::text("Link.First"));
        return;
    }
    auto job = std::make_shared<SamplesJob>();
    job->paths = paths;
    job->done = std::move(done);
    samplesStep(job);
}

void Uplink::samplesStep(const std::shared_ptr<SamplesJob>& job) {
    while (!job->paths.isEmpty()) {
        const QString path = job->paths.takeFirst();
        const QFileInfo info(path);
        const QString name = info.fileName();
        QFile file(path);
        QByteArray data;
        bool readable = file.open(QIODevice::ReadOnly) && file.size() <= kSampleLimitBytes;
        if (readable) {
            // Read one byte past the limit so that a file growing meanwhile
            // is still refused.
            data = file.read(kSampleLimitBytes + 1);
            readable = data.size() <= kSampleLimitBytes;
        }
        if (!readable) {
            ++job->failed;
            job->lastFailure = name + QStringLiteral(" unreadable or over 4 MB");
            continue;
        }
        const QString suffix = info.suffix().toLower();
        const QString type = suffix == QLatin1String("png")   ? QStringLiteral("image/png")
                             : suffix == QLatin1String("txt") ? QStringLiteral("text/plain; charset=utf-8")
                                                              : QStringLiteral("image/jpeg");
        post(QStringLiteral("/samples?name=") + encoded(name), data,
             requestHeaders(false) + QStringLiteral("Content-Type: ") + type + QStringLiteral("\r\n"),
             kFileTimeoutMs, [this, job](const Http::Result& result) {
                 if (result.ok) {
                     ++job->sent;
                 } else {
                     ++job->failed;
                     job->lastFailure = describeFailure(result);
                 }
                 samplesStep(job);
             });
        return;
    }

    QString summary = job->sent > 0 ? uplinktext::with("Test.SamplesSent", QString::number(job->sent))
                                    : Lang::text("Test.NoSamplesSent");
    if (job->failed > 0) {
        summary += QLatin1Char(' ') +
                   uplinktext::with("Test.SamplesFailed", QString::number(job->failed), job->lastFailure);
    }
    log("SAMPLES", QStringLiteral("sent %1, failed %2 (%3)")
                       .arg(QString::number(job->sent), QString::number(job->failed), job->lastFailure));
    const DoneFn done = std::move(job->done);
    done(summary);
}
