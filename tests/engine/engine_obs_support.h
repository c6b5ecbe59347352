#pragma once

// The engine against a real libobs core: a temporary settings folder, the
// repository's data files, test capture sources showing painted game frames.

#include "obs_harness.h"

#include "engine/engine.h"
#include "plugin/lang.h"
#include "synth.h"
#include "../qt_wait.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace enginetest {

inline std::int64_t wallNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

// A 1080p game frame with the cash HUD; tests add what else they need.
inline synth::FrameContent hudFrame(std::int64_t balance, std::optional<std::int64_t> change = std::nullopt) {
    synth::FrameContent f;
    f.sceneSeed = 11;
    synth::CashHud cash;
    cash.balance = balance;
    cash.change = change;
    f.cash = cash;
    return f;
}

inline QImage paint(const synth::FrameContent& frame) {
    return synth::renderFrame(frame);
}

// The game world without any HUD.
inline QImage noHudFrame(int w = 1920, int h = 1080) {
    synth::FrameContent f;
    f.width = w;
    f.height = h;
    f.sceneSeed = 5;
    return synth::renderFrame(f);
}

// The non-status events of a queue or a list of wire objects.
inline std::vector<QJsonObject> withoutStatus(const std::vector<QJsonObject>& all) {
    std::vector<QJsonObject> out;
    for (const QJsonObject& o : all)
        if (o.value(QLatin1String("k")).toString() != QLatin1String("status"))
            out.push_back(o);
    return out;
}

inline std::vector<QJsonObject> queued(const Uplink& uplink) {
    return withoutStatus(std::vector<QJsonObject>(uplink.queue().begin(), uplink.queue().end()));
}

inline std::vector<QJsonObject> ofKind(const std::vector<QJsonObject>& all, const char* k) {
    std::vector<QJsonObject> out;
    for (const QJsonObject& o : all)
        if (o.value(QLatin1String("k")).toString() == QLatin1String(k))
            out.push_back(o);
    return out;
}

inline qint64 num(const QJsonObject& o, const char* key) {
    return static_cast<qint64>(o.value(QLatin1String(key)).toDouble());
}

// One engine on a temporary folder. Settings are written before the engine
// is made, as a user's config.json would hold them.
class EngineRun {
public:
    explicit EngineRun(const std::function<void(Settings&)>& configure = {}) {
        settings_.out_dir = QDir(dir_.path()).filePath(QStringLiteral("out"));
        settings_.sample_on_new_line = false;
        settings_.evidence = false;
        if (configure)
            configure(settings_);
        Settings::save(settings_, dir_.path());
        engine_ = std::make_unique<Engine>(nullptr, dir_.path());
        engine_->setDataFolder(QStringLiteral(CORVEX_SOURCE_DIR "/data"));
        engine_->setSteamLookupForTesting([] { return SteamSeen{}; });
        engine_->setOutputStateQuery([] { return OutputState{}; });
    }
    ~EngineRun() { engine_.reset(); }

    Engine& operator*() { return *engine_; }
    Engine* operator->() { return engine_.get(); }
    Engine* get() { return engine_.get(); }
    void destroy() { engine_.reset(); }
    QString folder() const { return dir_.path(); }

    // Waits for a reading of the status record `ready` accepts.
    bool waitStatus(const std::function<bool(const ReaderStatus&)>& ready, int timeoutMs = 15000) {
        return waitUntil([&] { return ready(engine_->readerStatus()); }, timeoutMs);
    }
    // Waits until at least `n` more passes ran.
    bool waitPasses(int n, int timeoutMs = 10000) {
        std::int64_t last = engine_->readerStatus().lastPassAt;
        int seen = 0;
        return waitUntil(
            [&] {
                const std::int64_t at = engine_->readerStatus().lastPassAt;
                if (at != last) {
                    last = at;
                    ++seen;
                }
                return seen >= n;
            },
            timeoutMs);
    }

    QString readerLog() const {
        QFile file(engine_ ? engine_->readerLogPath() : logPath_);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
    int logCount(const QString& tag, const QString& text) const {
        int n = 0;
        for (const QString& line : readerLog().split(QLatin1Char('\n')))
            n += line.contains(QLatin1Char(' ') + tag.leftJustified(6) + QLatin1Char(' ')) &&
                         line.contains(text)
                     ? 1
                     : 0;
        return n;
    }
    // Remembers where the log is, so it can be read after the engine is gone.
    void keepLogPath() { logPath_ = engine_->readerLogPath(); }

    QJsonObject pendingFile() const {
        QFile file(QDir(dir_.path()).filePath(QStringLiteral("pending.json")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(file.readAll()).object();
    }

private:
    QTemporaryDir dir_;
    Settings settings_;
    std::unique_ptr<Engine> engine_;
    QString logPath_;
};

} // namespace enginetest
