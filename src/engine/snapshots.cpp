// Pictures that leave the reader: snapshots and evidence for the service,
// samples for the player and for us; and the output folder they go to.

#include "engine/engine.h"

#include "engine/event-text.h"
#include "hud/cash/summary.h"
#include "hud/feed/track.h"
#include "plugin/lang.h"
#include "plugin/log.h"
#include "plugin/module-data.h"

#include <QBuffer>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>

#include <algorithm>

namespace {

constexpr std::int64_t kSnapshotFreshMs = 5001;
constexpr std::int64_t kPeriodicEvidenceMs = 600000;
constexpr int kFrameSampleMaxWidth = 3840;

QString samplesFolder(const QString& outputDir) {
    const QString folder = outputDir + QStringLiteral("/samples");
    QDir().mkpath(folder);
    return folder;
}

QString baseName(const QString& tag) {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QLatin1Char('-') +
           tag;
}

void writeText(const QString& path, const QString& text) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream out(&file);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    out.setCodec("UTF-8");
#endif
    out << text;
}

} // namespace

QString Engine::outputDir() const {
    QString dir;
    {
        std::lock_guard<std::mutex> guard(lock_);
        dir = outDir_;
    }
    if (!dir.isEmpty())
        return dir;
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation) +
           QStringLiteral("/Corvex Tournament");
}

void Engine::openLog() {
    if (!log_.open(outputDir()))
        obsLog(LOG_WARNING, "reader log off: cannot write %s", log_.path().toUtf8().constData());
}

void Engine::setOutputDir(const QString& folder) {
    settings_.out_dir = folder;
    {
        std::lock_guard<std::mutex> guard(lock_);
        outDir_ = folder;
    }
    saveSettings();
    openLog();
    log_.write(QStringLiteral("START"),
               QStringLiteral("log moved here (plugin %1)").arg(QString::fromUtf8(plugin::kVersion)));
    emit changed();
}

QStringList Engine::logFiles() const {
    QStringList files;
    const QString current = log_.path();
    if (!current.isEmpty() && QFileInfo(current).isFile())
        files.append(current);
    const QString config = Settings::moduleFolder();
    if (!config.isEmpty()) {
        QDir logs(config);
        if (logs.cdUp() && logs.cdUp() && logs.cd(QStringLiteral("logs"))) {
            const QFileInfoList found =
                logs.entryInfoList({QStringLiteral("*.txt")}, QDir::Files, QDir::Time);
            if (!found.isEmpty())
                files.append(found.first().absoluteFilePath());
        }
    }
    return files;
}

void Engine::takeSnapshot(const QString& tag) {
    std::int64_t balance = 0;
    float conf = 0.9f;
    bool recent = false;
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    {
        std::lock_guard<std::mutex> guard(lock_);
        recent = trackers_.hud.balanceKnown && now - trackers_.hud.balanceConfirmedAt < kSnapshotFreshMs;
        balance = trackers_.hud.balance;
        if (lastReading_.balanceCertain)
            conf = lastReading_.balanceConfidence;
    }
    if (!recent) {
        log_.write(QStringLiteral("SNAP"), tag + QStringLiteral(": the cash HUD is not on screen right now"));
        obsLog(LOG_WARNING, "%s snapshot: the cash HUD is not on screen right now", tag.toUtf8().constData());
        return;
    }
    auto finish = [this, tag, balance, conf, now](const QString& evidence) {
        GameEvent e;
        e.kind = EventKind::Snapshot;
        e.t = now;
        e.value = balance;
        e.conf = conf;
        e.tag = tag.toStdString();
        e.evidence = evidence.toStdString();
        uplink_->enqueueEvent(e);
        log_.write(QStringLiteral("SNAP"), QStringLiteral("%1 %2 evidence %3")
                                               .arg(tag, QString::fromStdString(reading::moneyText(balance)),
                                                    evidence.isEmpty() ? QStringLiteral("-") : evidence));
    };
    if (settings_.evidence)
        uploadEvidence(tag, finish);
    else
        finish(QString());
}

void Engine::uploadEvidence(const QString& tag, std::function<void(const QString& name)> done) {
    const QImage image = lastHudImage();
    if (image.isNull()) {
        done(QString());
        return;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    uplink_->uploadEvidence(jpeg, tag, QDateTime::currentMSecsSinceEpoch(), std::move(done));
}

QString Engine::saveSample(const QString& tag) {
    const QImage hudImage = lastHudImage();
    if (hudImage.isNull())
        return Lang::text("Test.NothingToSave");
    const QString folder = samplesFolder(outputDir());
    const QString base = QDir(folder).filePath(baseName(tag));
    hudImage.save(base + QStringLiteral("-hud.png"), "PNG");

    QImage feed, plate, down;
    std::string detail;
    std::string summary;
    QString sourceName;
    int width = 0, height = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        feed = feedImage_.copy();
        plate = plateImage_.copy();
        down = downImage_.copy();
        detail = hud::feedDetail(trackers_.lastFeed, trackers_.lastPlate, trackers_.lastDown);
        summary = hud::readSummary(lastReading_);
        sourceName = currentName_;
        width = sourceWidth_;
        height = sourceHeight_;
    }
    if (!feed.isNull())
        feed.save(base + QStringLiteral("-killfeed.png"), "PNG");
    if (!plate.isNull())
        plate.save(base + QStringLiteral("-plate.png"), "PNG");
    if (!down.isNull())
        down.save(base + QStringLiteral("-down.png"), "PNG");

    if (obs_initialized()) {
        OBSSourceAutoRelease source = currentSource();
        CapturedImage frame;
        const int sw = source ? static_cast<int>(obs_source_get_width(source)) : 0;
        if (source &&
            frameCapture_.captureFraction(source, 0, 0, 1, 1, std::min(sw, kFrameSampleMaxWidth), frame))
            frame.toImage().save(base + QStringLiteral("-frame.jpg"), "JPEG", 92);
    }

    writeText(base + QStringLiteral(".txt"),
              QStringLiteral("source %1 %2x%3\n").arg(sourceName).arg(width).arg(height) +
                  QString::fromStdString(summary) + QLatin1Char('\n') + QString::fromStdString(detail));
    log_.write(QStringLiteral("SAMPLE"),
               QFileInfo(base).fileName() + QLatin1Char(' ') + QString::fromStdString(summary));
    return Lang::text("Test.SavedTo").arg(QDir::toNativeSeparators(folder));
}

void Engine::writeLineSample(const hud::HudReading& reading, const QImage& image) {
    const QString base = QDir(samplesFolder(outputDir())).filePath(baseName(QStringLiteral("line")));
    image.save(base + QStringLiteral(".png"), "PNG");
    writeText(base + QStringLiteral(".txt"),
              QString::fromStdString(hud::readSummary(reading)) + QLatin1Char('\n'));
}

void Engine::serveServiceRequests(std::int64_t now) {
    const Status& status = uplink_->status();
    if (!status.snapTag.isEmpty()) {
        const QString key = status.snapTag + QLatin1Char('@') + QString::number(status.snapAt);
        if (key != lastSnapRequest_ && uplink_->serverNow() >= status.snapAt) {
            lastSnapRequest_ = key;
            takeSnapshot(status.snapTag);
        }
    }
    if (uplink_->takeEvidenceRequest())
        uploadEvidence(QStringLiteral("request"), [](const QString&) {});
    if (settings_.evidence && status.cupPhase == QLatin1String("live") &&
        now - lastPeriodicEvidence_ >= kPeriodicEvidenceMs) {
        lastPeriodicEvidence_ = now;
        uploadEvidence(QStringLiteral("periodic"), [](const QString&) {});
    }
}
