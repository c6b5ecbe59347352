// The status record sent every 5 s: what the reader sees, which source it
// reads and whether that source changed during a cup, and the PC's accounts.

#include "engine/engine.h"

#include "engine/event-text.h"
#include "hud/reports.h"

#include <QDateTime>

namespace {

constexpr std::int64_t kSteamRecheckMs = 60000;
constexpr std::int64_t kDockSteamRetryMs = 5000;

std::string utf8(const QString& s) {
    return s.toStdString();
}

} // namespace

SteamSeen Engine::steamAccount() {
    const std::int64_t now = QDateTime::currentMSecsSinceEpoch();
    if (steam_.id.isEmpty() && now - steamLookedAt_ > kDockSteamRetryMs && steamLookup_) {
        steam_ = steamLookup_();
        steamLookedAt_ = now;
    }
    return steam_;
}

void Engine::statusRecord(std::int64_t now) {
    OBSSourceAutoRelease source = currentSource();
    const SourceInfo info = sourceInfo(source);

    GameEvent s;
    s.kind = EventKind::Status;
    s.t = now;
    bool firstChange = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        lastInfo_ = info;
        if (locked_) {
            const bool changed = !info.exists || info.type != lockedType_ ||
                                 (info.hooked && !lockedExe_.isEmpty() &&
                                  info.exe.compare(lockedExe_, Qt::CaseInsensitive) != 0);
            if (changed && !changedDuringCup_) {
                changedDuringCup_ = true;
                firstChange = true;
            }
            if (info.exists && !info.active) {
                if (offStreamSince_ == 0)
                    offStreamSince_ = now;
            } else {
                offStreamSince_ = 0;
            }
        } else {
            offStreamSince_ = 0;
        }
        s.hud = hudRecent(now);
        s.resWidth = sourceWidth_;
        s.resHeight = sourceHeight_;
        const float lineHeight = trackers_.hud.lineHeight;
        s.scale = lineHeight > 0 ? lineHeight / hud::kDefaultMoneyLineHeight : 0.0;
        s.fps = readsPerSecond_;
        s.okRate = trackers_.hud.ratio;
        s.cap = lineHeight;
        if (!modelLoaded_)
            s.err = utf8(modelError_);
        else if (currentName_.isEmpty() && !info.exists)
            s.err = "no game source found";
        s.locked = locked_;
        s.changed = changedDuringCup_;
        s.weapon = hud::currentWeapon(trackers_.combat.plate, now);
    }
    if (firstChange)
        log_.write(QStringLiteral("SOURCE"),
                   QStringLiteral("CHANGED during the cup: now '%1' (%2, %3)")
                       .arg(info.exists ? info.name : QStringLiteral("gone"), info.type, info.exe));
    s.src = utf8(info.name);
    s.uuid = utf8(info.uuid);
    s.type = utf8(info.type);
    s.exe = utf8(info.exe);
    s.onStream = info.active;
    if (outputState_) {
        const OutputState o = outputState_();
        s.streaming = o.streaming;
        s.recording = o.recording;
    }
    if ((steam_.id.isEmpty() || now - steamLookedAt_ > kSteamRecheckMs) && steamLookup_) {
        steam_ = steamLookup_();
        steamLookedAt_ = now;
    }
    s.steamId = utf8(steam_.id);
    s.steamName = utf8(steam_.name);

    uplink_->enqueueEvent(s);
    log_.write(QStringLiteral("STATUS"), QString::fromStdString(reading::statusText(s)));
}
