#include "feedrun.h"

#include "hudio.h"
#include "synth.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace synth {

QImage captureRegion(const QImage& image, QPoint origin, int frameHeight, const QRect& region,
                     double refHeight) {
    if (image.isNull() || frameHeight <= 0 || region.width() < 8 || region.height() < 8)
        return {};
    const QRectF src(region.x() - origin.x(), region.y() - origin.y(), region.width(), region.height());
    if (src.left() < 0 || src.top() < 0 || src.right() > image.width() || src.bottom() > image.height())
        return {};
    const double k = refHeight / frameHeight;
    const int outW = std::max(16, static_cast<int>(std::lround(region.width() * k)));
    const int outH = std::max(1, static_cast<int>(std::lround(region.height() * k)));
    return resampleBilinear(image, src, outW, outH);
}

CombatReplay::CombatReplay(std::shared_ptr<const hud::Model> model,
                           std::shared_ptr<const hud::KillData> killData)
    : model_(std::move(model)), killData_(std::move(killData)) {
    trackers_.combat.detector.killData = killData_;
}

void CombatReplay::slowDown(int divisor) {
    // The schedule sets its divisor from measured pass times: one warm-up
    // pass, then one average in the divisor's band.
    if (divisor <= 1)
        return;
    trackers_.schedule.notePassTime(0.0);
    trackers_.schedule.notePassTime(divisor >= 4 ? 60.0 : 30.0);
}

AuxSchedule CombatReplay::due(std::int64_t now, int frameWidth, int frameHeight) {
    reading::Geometry g;
    g.sourceWidth = frameWidth;
    g.sourceHeight = frameHeight;
    return trackers_.due(now, g);
}

std::vector<QRect> CombatReplay::windows(const AuxSchedule& which, int w, int h) {
    std::vector<QRect> out;
    if (which.feed)
        out.push_back(feedRegion(w, h));
    if (which.down)
        out.push_back(damageLogRegion(w, h));
    if (which.plate)
        out.push_back(plateRegion(w, h));
    return out;
}

void CombatReplay::run(const AuxSchedule& which, const QImage& image, QPoint origin, int w, int h,
                       std::int64_t now, std::vector<hud::CombatEvent>& out) {
    if (which.feed) {
        const QImage c = captureRegion(image, origin, h, feedRegion(w, h), 2160.0);
        if (!c.isNull()) {
            const hud::FrameView v = frameView(c);
            trackers_.onFeed(
                now, hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride), out);
        }
    }
    if (which.down) {
        const QImage c = captureRegion(image, origin, h, damageLogRegion(w, h), hud::kDamageLogRefHeight);
        if (!c.isNull()) {
            const hud::FrameView v = frameView(c);
            trackers_.onDown(now,
                             hud::readDownScore(trackers_.combat.detector, v.pixels, v.width, v.height,
                                                v.stride, which.fullScan),
                             out);
        }
    }
    if (which.plate) {
        const QImage c = captureRegion(image, origin, h, plateRegion(w, h), 2160.0);
        if (!c.isNull()) {
            const hud::FrameView v = frameView(c);
            trackers_.onPlate(now, hud::readPlate(*model_, *killData_, v.pixels, v.width, v.height, v.stride),
                              out);
        }
    }
}

QString defaultKillDataPath() {
    const QByteArray env = qgetenv("CORVEX_KILL_DATA");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QDir(QStringLiteral(CORVEX_SOURCE_DIR)).filePath(QStringLiteral("data/hud/killfeed.bin"));
}

} // namespace synth
