#include "feedrun.h"

#include "hudio.h"
#include "synth.h"

#include <QDir>

#include <algorithm>
#include <cmath>

namespace synth {

namespace {

constexpr std::int64_t kFeedEveryMs = 330;
constexpr std::int64_t kDownEveryMs = 330;
constexpr std::int64_t kPlateEveryMs = 1000;
constexpr std::int64_t kFullScanEveryMs = 2000;

bool dueAfter(std::optional<std::int64_t>& last, std::int64_t now, std::int64_t every) {
    if (last && now - *last < every)
        return false;
    last = now;
    return true;
}

} // namespace

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
    state_.detector.killData = killData_;
}

AuxSchedule CombatReplay::due(std::int64_t now, int frameWidth, int frameHeight) {
    AuxSchedule s;
    if (frameWidth < 320 || frameHeight < 240)
        return s;
    const bool large = frameHeight >= 1000;
    s.feed = large && dueAfter(lastFeedRun_, now, kFeedEveryMs);
    s.down = dueAfter(lastDownRun_, now, kDownEveryMs);
    if (s.down && state_.detector.lockedVariant < 0)
        s.fullScan = dueAfter(lastFullScan_, now, kFullScanEveryMs);
    s.plate = large && dueAfter(lastPlateRun_, now, kPlateEveryMs);
    return s;
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
            lastFeed_ = hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
            hud::onFeedRead(state_, now, lastFeed_, out);
        }
    }
    if (which.down) {
        const QImage c = captureRegion(image, origin, h, damageLogRegion(w, h), hud::kDamageLogRefHeight);
        if (!c.isNull()) {
            const hud::FrameView v = frameView(c);
            lastDown_ =
                hud::readDownScore(state_.detector, v.pixels, v.width, v.height, v.stride, which.fullScan);
            hud::onDownRead(state_, now, lastDown_, out);
        }
    }
    if (which.plate) {
        const QImage c = captureRegion(image, origin, h, plateRegion(w, h), 2160.0);
        if (!c.isNull()) {
            const hud::FrameView v = frameView(c);
            lastPlate_ = hud::readPlate(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
            hud::onPlateRead(state_, now, lastPlate_, out);
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
