#include "engine/regions.h"

#include <algorithm>
#include <cmath>

namespace reading {

namespace {

constexpr int kMinWidth = 320;
constexpr int kMinHeight = 240;
constexpr int kTallFrame = 1000;
constexpr double kMinRegionPixels = 8.0;
constexpr std::int64_t kFullScanEveryMs = 2000;

const AuxRegionPlace kPlaces[kAuxReaderCount] = {
    {false, 0.00, 0.42, 0.44, 0.63, 2160.0, 330, true},   // kill feed
    {true, 0.02, 0.28, 0.60, 0.74, 562.5, 330, false},    // damage-log header
    {true, 0.01, 0.46, 0.822, 0.868, 2160.0, 1000, true}, // weapon plate
};

int index(AuxReader r) {
    return static_cast<int>(r);
}

} // namespace

bool Geometry::readable() const {
    return sourceWidth >= kMinWidth && sourceHeight >= kMinHeight && width() >= kMinWidth &&
           height() >= kMinHeight;
}

bool hudRegion(const Geometry& g, Region& out) {
    if (!g.readable())
        return false;
    const double W = g.width();
    const double H = g.height();
    out.w = std::min(0.42 * H, W);
    out.h = 0.22 * H;
    out.x = g.crop.left + W - out.w;
    out.y = g.crop.top;
    return true;
}

const AuxRegionPlace& auxPlace(AuxReader reader) {
    return kPlaces[index(reader)];
}

bool auxRegion(AuxReader reader, const Geometry& g, Region& out) {
    if (!g.readable())
        return false;
    const AuxRegionPlace& s = auxPlace(reader);
    const double W = g.width();
    const double H = g.height();
    if (s.needsTallFrame && H < kTallFrame)
        return false;
    double left = s.fromRight ? W - s.x1 * H : s.x0 * H;
    double right = s.fromRight ? W - s.x0 * H : s.x1 * H;
    left = std::max(0.0, left);
    right = std::min(W, right);
    out.x = g.crop.left + left;
    out.w = std::min(W, right - left);
    out.y = g.crop.top + s.y0 * H;
    out.h = (s.y1 - s.y0) * H;
    return out.w >= kMinRegionPixels && out.h >= kMinRegionPixels;
}

int auxOutputWidth(AuxReader reader, const Region& region, const Geometry& g) {
    const double H = g.height();
    if (H <= 0)
        return 16;
    return std::max(16, static_cast<int>(std::lround(region.w * auxPlace(reader).refHeight / H)));
}

AuxDue AuxSchedule::due(std::int64_t now, const Geometry& g, bool downLocked) {
    AuxDue d;
    if (!g.readable())
        return d;
    for (int i = 0; i < kAuxReaderCount; ++i) {
        const AuxRegionPlace& s = kPlaces[i];
        if (s.needsTallFrame && g.height() < kTallFrame)
            continue;
        if (now - lastRun_[i] < s.everyMs * divisor_)
            continue;
        lastRun_[i] = now;
        (i == 0 ? d.feed : i == 1 ? d.down : d.plate) = true;
    }
    if (d.down && !downLocked && now - lastFullScan_ >= kFullScanEveryMs * divisor_) {
        d.fullScan = true;
        lastFullScan_ = now;
    }
    return d;
}

bool AuxSchedule::notePassTime(double ms) {
    if (!warmedUp_) {
        warmedUp_ = true;
        return false;
    }
    average_ = measured_ ? 0.9 * average_ + 0.1 * ms : ms;
    measured_ = true;
    const int before = divisor_;
    divisor_ = average_ > 50.0 ? 4 : average_ > 25.0 ? 2 : 1;
    return divisor_ != before;
}

} // namespace reading
