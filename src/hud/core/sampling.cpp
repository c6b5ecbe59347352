// Bilinear sampling of planes into the fixed-size cells the templates are compared with.
#include "hud/core/image.h"

#include "hud/core/image-internal.h"
#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace hud {

namespace {

using detail::area;

// Inclusion of the 0-weight taps is harmless, but a tap outside the plane must
// read 0 rather than memory.
inline float tap(const Plane& p, int x, int y) {
    if (x < 0 || y < 0 || x >= p.width || y >= p.height)
        return 0.0f;
    return p.pixels[area(p.width, y) + static_cast<std::size_t>(x)];
}

// A coordinate is worth sampling when one of its two taps can lie inside
// [0, limit); anything else (including NaN and values that would overflow
// the integer floor) samples 0.
inline bool sampleable(double v, int limit) {
    return v > -1.0 && v < static_cast<double>(limit);
}

struct Axis {
    int i = 0;
    float f = 0.0f;
    bool live = false; // at least one tap can be inside
};

inline Axis axisOf(double v, int limit) {
    Axis a;
    if (!sampleable(v, limit))
        return a;
    a.i = static_cast<int>(std::floor(v));
    a.f = static_cast<float>(v - a.i);
    a.live = true;
    return a;
}

inline float blend(const Plane& p, const Axis& ax, const Axis& ay) {
    if (!ax.live || !ay.live)
        return 0.0f;
    const float p00 = tap(p, ax.i, ay.i);
    const float p10 = tap(p, ax.i + 1, ay.i);
    const float p01 = tap(p, ax.i, ay.i + 1);
    const float p11 = tap(p, ax.i + 1, ay.i + 1);
    const float fx = ax.f;
    const float fy = ay.f;
    return ((1.0f - fx) * p00 + fx * p10) * (1.0f - fy) + ((1.0f - fx) * p01 + fx * p11) * fy;
}

bool finite(double v) {
    return std::isfinite(v);
}

// The horizontal blends (1 - fx) * left + fx * right of a cell's columns
// along plane rows whose taps all lie inside, the last two rows asked for
// kept.
class RowBlends {
public:
    RowBlends(const Plane& p, const Axis* cols, int count) : p_(p), cols_(cols), count_(count) {}

    const float* of(int y) {
        for (int k = 0; k < 2; ++k)
            if (row_[k] == y)
                return blends_[k];
        const int k = next_;
        next_ = 1 - next_;
        row_[k] = y;
        const float* r = p_.pixels.data() + area(p_.width, y);
        for (int j = 0; j < count_; ++j) {
            const int x = cols_[j].i;
            const float fx = cols_[j].f;
            blends_[k][j] = (1.0f - fx) * r[x] + fx * r[x + 1];
        }
        return blends_[k];
    }

private:
    const Plane& p_;
    const Axis* cols_;
    int count_;
    int row_[2] = {-1, -1};
    int next_ = 0;
    float blends_[2][kGlyphCellSide] = {};
};

} // namespace

float sampleBilinear(const Plane& p, double x, double y) {
    if (p.empty())
        return 0.0f;
    return blend(p, axisOf(x, p.width), axisOf(y, p.height));
}

void sampleMoneyCell(const Plane& p, double cx, double top, double bottom, double lineHeight, float* out) {
    const double left = cx - 0.45 * lineHeight;
    const double stepX = 0.9 * lineHeight / kMoneyCellColumns;
    const double upper = top - 0.3 * lineHeight;
    const double stepY = (bottom - top + 0.6 * lineHeight) / kMoneyCellRows;
    Axis cols[kMoneyCellColumns];
    bool inside = !p.empty();
    for (int j = 0; j < kMoneyCellColumns; ++j) {
        cols[j] = p.empty() ? Axis{} : axisOf(left + j * stepX, p.width);
        inside = inside && cols[j].live && cols[j].i >= 0 && cols[j].i + 1 < p.width;
    }
    for (int i = 0; i < kMoneyCellRows; ++i) {
        float* dst = out + i * kMoneyCellColumns;
        const Axis ay = p.empty() ? Axis{} : axisOf(upper + i * stepY, p.height);
        if (inside && ay.live && ay.i >= 0 && ay.i + 1 < p.height) {
            // Whole row inside: no tap needs a bounds check.
            const float* r0 = p.pixels.data() + area(p.width, ay.i);
            const float* r1 = r0 + p.width;
            const float fy = ay.f;
            for (int j = 0; j < kMoneyCellColumns; ++j) {
                const int x = cols[j].i;
                const float fx = cols[j].f;
                dst[j] = ((1.0f - fx) * r0[x] + fx * r0[x + 1]) * (1.0f - fy) +
                         ((1.0f - fx) * r1[x] + fx * r1[x + 1]) * fy;
            }
        } else {
            for (int j = 0; j < kMoneyCellColumns; ++j)
                dst[j] = blend(p, cols[j], ay);
        }
    }
}

void sampleGlyphCell(const Plane& p, const Blob& blob, double top, double bottom, double lineHeight,
                     float* out) {
    std::fill(out, out + kGlyphCellLength, 0.0f);
    const double m = 0.35 * lineHeight;
    const double yaD = std::round(top - m);
    const double ybD = std::round(bottom + m);
    constexpr double kLimit = 1e8; // keeps the integer arithmetic below exact and in range
    if (!finite(yaD) || !finite(ybD) || std::abs(yaD) > kLimit || std::abs(ybD) > kLimit)
        return;
    const std::int64_t ya = static_cast<std::int64_t>(yaD);
    const std::int64_t span = static_cast<std::int64_t>(ybD) - ya + 1;
    const std::int64_t xa = static_cast<std::int64_t>(blob.x0) - 1;
    const std::int64_t xb = static_cast<std::int64_t>(blob.x1) + 1;
    const std::int64_t bw = xb - xa + 1;
    if (span < 1 || bw < 1)
        return;
    const double colsD = std::round(32.0 / static_cast<double>(span) * static_cast<double>(bw));
    const int cols = static_cast<int>(std::min(std::max(colsD, 1.0), 32.0));
    const int offset = (kGlyphCellSide - cols) / 2;
    const double stepX = static_cast<double>(bw) / cols;
    const double stepY = static_cast<double>(span) / kGlyphCellSide;
    const double lo = static_cast<double>(xa) - 0.5;
    const double hi = static_cast<double>(xb) + 0.5;
    Axis colAxes[kGlyphCellSide];
    bool colOk[kGlyphCellSide];
    for (int j = 0; j < cols; ++j) {
        const double x = (j + 0.5) * stepX + static_cast<double>(xa) - 0.5;
        colOk[j] = x >= lo && x <= hi;
        colAxes[j] = p.empty() ? Axis{} : axisOf(x, p.width);
    }
    bool colsInside = !p.empty();
    for (int j = 0; j < cols; ++j)
        colsInside =
            colsInside && colOk[j] && colAxes[j].live && colAxes[j].i >= 0 && colAxes[j].i + 1 < p.width;
    // Where every tap of a row lies inside, the row is blended from the
    // horizontal blends of its two source rows, which neighbouring cell rows
    // share when the glyph is enlarged: the same products and sums as
    // blend() takes, so the samples are identical.
    RowBlends rows(p, colAxes, cols);
    for (int i = 0; i < kGlyphCellSide; ++i) {
        const double y = (i + 0.5) * stepY + static_cast<double>(ya) - 0.5;
        const Axis ay = p.empty() ? Axis{} : axisOf(y, p.height);
        float* dst = out + i * kGlyphCellSide + offset;
        if (colsInside && ay.live && ay.i >= 0 && ay.i + 1 < p.height) {
            const float* upper = rows.of(ay.i);
            const float* lower = rows.of(ay.i + 1);
            const float fy = ay.f;
            for (int j = 0; j < cols; ++j)
                dst[j] = upper[j] * (1.0f - fy) + lower[j] * fy;
            continue;
        }
        for (int j = 0; j < cols; ++j)
            if (colOk[j])
                dst[j] = blend(p, colAxes[j], ay);
    }
}

} // namespace hud
