#include "hud/plate/down.h"

#include "hud/core/image.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace hud {

namespace {

constexpr int kMinAreaWidth = 16;
constexpr int kMinAreaHeight = 12;

// Below this variance per pixel the area under a variant is flat: no text
// there, and a correlation would only measure noise.
constexpr double kMinVariancePerPixel = 2.25;

constexpr float kFoundScore = 0.8f;
constexpr float kKeepLockScore = 0.62f;
constexpr int kLockRadius = 4;
constexpr int kCoarseStep = 2;
constexpr int kRefineRadius = 2;

// Where the header stands in a capture of the usual layout, from the right
// edge and the top, and the variants worth trying there.
constexpr double kExpectedFromRight = 93.9375;
constexpr double kExpectedTop = 37.6875;
constexpr int kExpectedRadius = 5;
constexpr float kExpectedMinScale = 0.93f;
constexpr float kExpectedMaxScale = 1.08f;

// The prepared area of one pass. Kept per thread so that the reader thread
// reuses its buffers from pass to pass.
struct DownScratch {
    std::vector<float> values; // the luma, then its blurred local contrast
    int width = 0;
    int height = 0;
    std::vector<double> sums;    // integral image of the values
    std::vector<double> squares; // integral image of their squares
};

struct Hit {
    bool any = false; // some position qualified
    float score = -1.0f;
    int x = 0;
    int y = 0;
};

class Area {
public:
    explicit Area(const DownScratch& s) : s_(s), w_(s.width), h_(s.height) {}

    // Correlation of `v` with the area at (x, y), or nothing when the area
    // under it is flat. The variant is zero-mean and unit-length, so its dot
    // with the raw values equals its dot with their centred form.
    bool score(const DamageLogVariant& v, int x, int y, float& out) const {
        const std::size_t stride = static_cast<std::size_t>(w_) + 1;
        const std::size_t r0 = static_cast<std::size_t>(y) * stride;
        const std::size_t r1 = static_cast<std::size_t>(y + v.height) * stride;
        const auto c0 = static_cast<std::size_t>(x);
        const auto c1 = static_cast<std::size_t>(x + v.width);
        const double n = static_cast<double>(v.width) * v.height;
        const double sum = s_.sums[r1 + c1] - s_.sums[r0 + c1] - s_.sums[r1 + c0] + s_.sums[r0 + c0];
        const double sq =
            s_.squares[r1 + c1] - s_.squares[r0 + c1] - s_.squares[r1 + c0] + s_.squares[r0 + c0];
        const double var = sq - sum * sum / n;
        if (!(var >= kMinVariancePerPixel * n))
            return false;
        const auto vw = static_cast<std::size_t>(v.width);
        const float* area = s_.values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) +
                            static_cast<std::size_t>(x);
        const float* tmpl = v.pixels.data();
        double total = 0.0;
        for (int r = 0; r < v.height; ++r) {
            total += dot(area, tmpl, vw);
            area += w_;
            tmpl += vw;
        }
        out = static_cast<float>(total / std::sqrt(var));
        return true;
    }

    // Best position of `v` with its top-left in [x0, x1] x [y0, y1] (kept
    // where the variant fits), stepping by `step`; the first wins ties.
    Hit search(const DamageLogVariant& v, int x0, int x1, int y0, int y1, int step) const {
        Hit best;
        if (v.width > w_ || v.height > h_ || v.pixels.size() != static_cast<std::size_t>(v.width) * v.height)
            return best;
        x0 = std::max(x0, 0);
        y0 = std::max(y0, 0);
        x1 = std::min(x1, w_ - v.width);
        y1 = std::min(y1, h_ - v.height);
        for (int y = y0; y <= y1; y += step)
            for (int x = x0; x <= x1; x += step) {
                float s = 0.0f;
                if (score(v, x, y, s) && (!best.any || s > best.score))
                    best = Hit{true, s, x, y};
            }
        return best;
    }

    Hit around(const DamageLogVariant& v, int x, int y, int radius) const {
        return search(v, x - radius, x + radius, y - radius, y + radius, 1);
    }

    Hit everywhere(const DamageLogVariant& v) const {
        const Hit coarse = search(v, 0, w_, 0, h_, kCoarseStep);
        if (!coarse.any)
            return coarse;
        return around(v, coarse.x, coarse.y, kRefineRadius);
    }

private:
    const DownScratch& s_;
    int w_;
    int h_;
};

void prepare(const FrameView& frame, DownScratch& s) {
    toLuma(frame, s.values);
    s.width = s.values.empty() ? 0 : frame.width;
    s.height = s.values.empty() ? 0 : frame.height;
    const int w = s.width;
    const int h = s.height;
    detail::blurAndRemoveLocalMean(s.values, w, h);
    const std::size_t stride = static_cast<std::size_t>(w) + 1;
    const std::size_t cells = stride * (static_cast<std::size_t>(h) + 1);
    s.sums.assign(cells, 0.0);
    s.squares.assign(cells, 0.0);
    for (int y = 0; y < h; ++y) {
        const float* src = s.values.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
        const std::size_t above = static_cast<std::size_t>(y) * stride;
        const std::size_t here = above + stride;
        double run = 0.0;
        double runSq = 0.0;
        for (int x = 0; x < w; ++x) {
            const double v = src[x];
            run += v;
            runSq += v * v;
            const auto c = static_cast<std::size_t>(x) + 1;
            s.sums[here + c] = s.sums[above + c] + run;
            s.squares[here + c] = s.squares[above + c] + runSq;
        }
    }
}

DownRead resultOf(const Hit& hit) {
    DownRead r;
    r.score = std::max(hit.score, 0.0f);
    r.found = hit.score >= kFoundScore;
    r.x = static_cast<float>(hit.x);
    r.y = static_cast<float>(hit.y);
    return r;
}

} // namespace

DownRead readDownScore(DownDetector& detector, const std::uint8_t* pixels, int width, int height,
                       int bytesPerLine, bool fullScan) {
    const KillData* data = detector.killData.get();
    if (!data || data->damageLog.empty() || width < kMinAreaWidth || height < kMinAreaHeight)
        return DownRead{};
    const FrameView frame{width, height, pixels, bytesPerLine};
    if (!frame.valid())
        return DownRead{};
    thread_local DownScratch scratch;
    prepare(frame, scratch);
    const Area area(scratch);
    const std::vector<DamageLogVariant>& variants = data->damageLog;

    // A lock from other data (the detector was handed a new file) means nothing.
    if (detector.lockedVariant >= static_cast<int>(variants.size()))
        detector.lockedVariant = -1;
    if (detector.lockedVariant >= 0) {
        // Clamped so that a wild position cannot overflow the search bounds.
        const int lx = std::clamp(detector.lockedX, -2 * kLockRadius, width);
        const int ly = std::clamp(detector.lockedY, -2 * kLockRadius, height);
        const Hit hit =
            area.around(variants[static_cast<std::size_t>(detector.lockedVariant)], lx, ly, kLockRadius);
        if (hit.score >= kKeepLockScore) {
            detector.lockedX = hit.x;
            detector.lockedY = hit.y;
            if (!(fullScan && hit.score < kFoundScore))
                return resultOf(hit);
        }
    }

    Hit best;
    int bestVariant = -1;
    if (fullScan) {
        for (std::size_t i = 0; i < variants.size(); ++i) {
            const Hit hit = area.everywhere(variants[i]);
            if (hit.any && (!best.any || hit.score > best.score)) {
                best = hit;
                bestVariant = static_cast<int>(i);
            }
        }
    } else {
        const auto ex = static_cast<int>(std::lround(width - kExpectedFromRight));
        const auto ey = static_cast<int>(std::lround(kExpectedTop));
        for (std::size_t i = 0; i < variants.size(); ++i) {
            const DamageLogVariant& v = variants[i];
            if (v.scale < kExpectedMinScale || v.scale > kExpectedMaxScale)
                continue;
            const Hit hit = area.around(v, ex, ey, kExpectedRadius);
            if (hit.any && (!best.any || hit.score > best.score)) {
                best = hit;
                bestVariant = static_cast<int>(i);
            }
        }
    }
    const DownRead result = resultOf(best);
    if (result.found) {
        detector.lockedVariant = bestVariant;
        detector.lockedX = best.x;
        detector.lockedY = best.y;
    }
    return result;
}

} // namespace hud
