// Which OBS source the reader reads: the user's pick, or the capture source
// in which the cash HUD is found; while a cup runs, the source in use is
// locked by identity and any change of the captured game is reported once.

#include "engine/engine.h"

#include "plugin/log.h"
#include "plugin/obs-compat.h"

#include <QDateTime>

#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

namespace {

constexpr std::array<const char*, 10> kPriority = {
    "game_capture",    "window_capture",   "monitor_capture",
    "display_capture", "dshow_input",      "av_capture_input",
    "screen_capture",  "xcomposite_input", "pipewire-screen-capture-source",
    "v4l2_input",
};

constexpr std::int64_t kDiscoveryEveryMs = 10000;
constexpr std::int64_t kKeepSourceMs = 20001;
constexpr int kDiscoveryAttempts = 3;
constexpr int kAttemptPauseMs = 120;

int priorityOf(const char* id) {
    if (!id)
        return -1;
    for (std::size_t i = 0; i < kPriority.size(); ++i)
        if (std::strcmp(kPriority[i], id) == 0)
            return static_cast<int>(i);
    return -1;
}

// Without a running libobs (tests of the engine alone) there are no sources.
OBSSourceAutoRelease sourceByName(const QString& name) {
    if (name.isEmpty() || !obs_initialized())
        return nullptr;
    return obs_get_source_by_name(name.toUtf8().constData());
}

bool cupActive(const QString& phase) {
    return phase == QLatin1String("countdown") || phase == QLatin1String("live");
}

} // namespace

QStringList Engine::candidateSources() {
    struct Candidate {
        int priority;
        QByteArray name;
    };
    std::vector<Candidate> found;
    obs_enum_sources(
        [](void* param, obs_source_t* source) {
            auto* list = static_cast<std::vector<Candidate>*>(param);
            if (obs_source_get_type(source) != OBS_SOURCE_TYPE_INPUT ||
                !(obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO))
                return true;
            const int priority = priorityOf(obs_source_get_id(source));
            const char* name = obs_source_get_name(source);
            if (priority >= 0 && name)
                list->push_back({priority, QByteArray(name)});
            return true;
        },
        &found);
    // By character code, as the names' bytes compare.
    std::sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return a.priority != b.priority ? a.priority < b.priority : a.name < b.name;
    });
    QStringList names;
    for (const Candidate& c : found)
        names.append(QString::fromUtf8(c.name));
    return names;
}

QString Engine::discover() {
    for (const QString& name : candidateSources()) {
        OBSSourceAutoRelease source = sourceByName(name);
        if (!source)
            continue;
        for (int attempt = 0; attempt < kDiscoveryAttempts && running_.load(); ++attempt) {
            PassResult pass;
            readHudOnce(source, pass);
            if (pass.captured &&
                (pass.reading.balanceCertain || (pass.reading.found && !pass.reading.balanceText.empty()))) {
                const int w = static_cast<int>(obs_source_get_width(source));
                const int h = static_cast<int>(obs_source_get_height(source));
                obsLog(LOG_INFO, "found the cash HUD in source '%s' (%dx%d)", name.toUtf8().constData(), w,
                       h);
                log_.write(QStringLiteral("SOURCE"),
                           QStringLiteral("found the cash HUD in '%1' (%2x%3)").arg(name).arg(w).arg(h));
                return name;
            }
            if (attempt + 1 < kDiscoveryAttempts)
                std::this_thread::sleep_for(std::chrono::milliseconds(kAttemptPauseMs));
        }
    }
    return {};
}

OBSSourceAutoRelease Engine::resolveSource(std::int64_t now, bool locked, const QString& lockedUuid,
                                           const QString& pinned) {
    if (locked) {
        OBSSourceAutoRelease source = compat::sourceByUuid(lockedUuid);
        const char* name = source ? obs_source_get_name(source) : nullptr;
        std::lock_guard<std::mutex> guard(lock_);
        currentName_ = name ? QString::fromUtf8(name) : QString();
        return source;
    }
    QString name;
    bool runDiscovery = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!pinned.isEmpty()) {
            currentName_ = pinned;
        } else if (currentName_.isEmpty() || now - hudSeen_ >= kKeepSourceMs) {
            if (now - lastDiscovery_ > kDiscoveryEveryMs) {
                lastDiscovery_ = now;
                runDiscovery = true;
            }
        }
        name = currentName_;
    }
    if (runDiscovery) {
        // Outside the lock: discovery captures and reads.
        const QString found = discover();
        if (!found.isEmpty()) {
            std::lock_guard<std::mutex> guard(lock_);
            // The user may have pinned a source meanwhile; the pick wins.
            if (pinned_.isEmpty())
                currentName_ = found;
            name = currentName_;
        }
    }
    return sourceByName(name);
}

SourceInfo Engine::sourceInfo(obs_source_t* source) const {
    SourceInfo info;
    if (!source)
        return info;
    info.exists = true;
    info.name = QString::fromUtf8(obs_source_get_name(source));
    info.uuid = compat::sourceUuid(source);
    info.type = QString::fromUtf8(obs_source_get_id(source));
    info.active = obs_source_active(source);
    if (info.type != QLatin1String("game_capture") && info.type != QLatin1String("window_capture"))
        return info;
    if (proc_handler_t* handler = obs_source_get_proc_handler(source)) {
        calldata_t cd = {};
        if (proc_handler_call(handler, "get_hooked", &cd)) {
            info.hooked = calldata_bool(&cd, "hooked");
            const char* exe = calldata_string(&cd, "executable");
            if (exe)
                info.exe = QString::fromUtf8(exe);
        }
        calldata_free(&cd);
    }
    if (info.exe.isEmpty()) {
        OBSDataAutoRelease settings = obs_source_get_settings(source);
        const QString window = QString::fromUtf8(obs_data_get_string(settings, "window"));
        const int colon = window.lastIndexOf(QLatin1Char(':'));
        if (colon >= 0)
            info.exe = window.mid(colon + 1);
    }
    return info;
}

OBSSourceAutoRelease Engine::currentSource() const {
    QString uuid;
    QString name;
    bool locked = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        locked = locked_;
        uuid = lockedUuid_;
        name = currentName_;
    }
    if (!obs_initialized())
        return nullptr;
    return locked ? OBSSourceAutoRelease(compat::sourceByUuid(uuid)) : sourceByName(name);
}

bool Engine::pickSource(const QString& name) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (locked_)
            return false;
        pinned_ = name;
        automatic_ = name.isEmpty();
        lastDiscovery_ = 0;
        if (name.isEmpty())
            currentName_.clear();
    }
    settings_.source = name;
    saveSettings();
    log_.write(QStringLiteral("SOURCE"),
               name.isEmpty() ? QStringLiteral("automatic") : QStringLiteral("picked ") + name);
    emit changed();
    return true;
}

void Engine::cupLockUpkeep() {
    const bool active = cupActive(uplink_->status().cupPhase);
    QString name;
    bool locked = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        locked = locked_;
        name = currentName_;
    }
    if (active && !locked && !name.isEmpty()) {
        OBSSourceAutoRelease source = sourceByName(name);
        const SourceInfo info = sourceInfo(source);
        if (!info.exists)
            return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            locked_ = true;
            changedDuringCup_ = false;
            lockedUuid_ = info.uuid;
            lockedName_ = info.name;
            lockedType_ = info.type;
            lockedExe_ = info.exe;
            offStreamSince_ = 0;
        }
        log_.write(
            QStringLiteral("SOURCE"),
            QStringLiteral("LOCKED for the cup: '%1' (%2%3)")
                .arg(info.name, info.type, info.exe.isEmpty() ? QString() : QStringLiteral(", ") + info.exe));
        obsLog(LOG_INFO, "game source locked for the cup: %s", info.name.toUtf8().constData());
    } else if (!active && locked) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            locked_ = false;
            changedDuringCup_ = false;
        }
        log_.write(QStringLiteral("SOURCE"), QStringLiteral("unlocked (cup over)"));
    }
}
