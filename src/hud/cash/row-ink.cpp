#include "hud/cash/lines-internal.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A row's ink on its own levels rather than the frame's: local ramps of the
// band, a figure's window and the panels, and the row's blobs labelled again.

namespace hud::reward {

namespace {

// Ink of the second attempt, as a share of the ramp: the money line's own
// retry threshold (a top-hat of 24 rather than 34), so that thin strokes
// at small sizes hold together.
constexpr float kRetryInk = 0.2173913f;
constexpr float kRetryLuma = 95.0f;

// Value at share q of the sorted values (q in 0..1).
float quantile(std::vector<float>& v, double q) {
    const std::size_t k = std::min(v.size() - 1, static_cast<std::size_t>(q * static_cast<double>(v.size())));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
    return v[k];
}

// Dark panel text ramped from the panel's own light and its darkest ink,
// for panels whose bold strokes are wider than the frame's top-hat keeps
// (a HUD scale near 1 and above) or whose text blur left too little of it.
constexpr double kPanelRampLight = 0.75;
constexpr double kPanelRampDark = 0.03;
constexpr float kPanelMinContrast = 40.0f;

// A light panel behind a row that the frame's panel search missed because
// bright scene joined it: the padding rows above and below the text are
// light along the panel's whole width, and the scene there rarely is.
constexpr double kRowPanelPad = 0.2;
constexpr double kRowPanelMinWidth = 2.0;
constexpr double kRowPanelMaxWidth = 14.0;
constexpr int kRowPanelPadSlack = 2;

// The figure's window reaches this far past its right edge, and holds no
// figure with less contrast than this.
constexpr double kFigureWindowSlack = 0.5; // in h'
constexpr float kFigureMinContrast = 20.0f;

// Text stands above the local background by its peak within reach; its ramp
// runs over this share of the peak, and a peak below this many grey levels
// is the scene's noise.
constexpr int kPeakMinReach = 9;
constexpr float kPeakRampLow = 0.1f;
constexpr float kPeakRampSpan = 0.3f;
constexpr float kPeakMinContrast = 12.0f;

} // namespace

void inkOnLocalPeaks(const Plane& smooth, int x0, int y0, int cw, int ch, int rowTop, int rowBottom,
                     int reach, std::vector<float>& ink) {
    const std::size_t n = static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch);
    ink.assign(n, 0.0f);
    if (cw <= 0 || ch <= 0 || x0 < 0 || y0 < 0 || x0 + cw > smooth.width || y0 + ch > smooth.height)
        return;
    auto at = [&](int x, int y) { return smooth.pixels[offset(x0 + x, y0 + y, smooth.width)]; };
    // The background behind each column: the median of the band around it,
    // wide enough that text, its shadow and the gaps between letters hold
    // less than half of it.
    const int wide = std::max(kPeakMinReach, rowBottom - rowTop + 1);
    std::vector<float> background(static_cast<std::size_t>(cw), 0.0f);
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(2 * wide + 1) * static_cast<std::size_t>(ch));
    for (int x = 0; x < cw; ++x) {
        values.clear();
        for (int c = std::max(0, x - wide); c <= std::min(cw - 1, x + wide); ++c)
            for (int y = 0; y < ch; ++y)
                values.push_back(at(c, y));
        background[static_cast<std::size_t>(x)] = quantile(values, 0.5);
    }
    const int r0 = std::max(0, rowTop - y0);
    const int r1 = std::min(ch - 1, rowBottom - y0);
    std::vector<float> column(static_cast<std::size_t>(cw), 0.0f);
    for (int x = 0; x < cw; ++x)
        for (int y = r0; y <= r1; ++y)
            column[static_cast<std::size_t>(x)] = std::max(
                column[static_cast<std::size_t>(x)], at(x, y) - background[static_cast<std::size_t>(x)]);
    for (int x = 0; x < cw; ++x) {
        float peak = 0.0f;
        for (int c = std::max(0, x - reach); c <= std::min(cw - 1, x + reach); ++c)
            peak = std::max(peak, column[static_cast<std::size_t>(c)]);
        if (!(peak >= kPeakMinContrast))
            continue;
        const float low = kPeakRampLow * peak;
        const float span = kPeakRampSpan * peak;
        const float bg = background[static_cast<std::size_t>(x)];
        for (int y = 0; y < ch; ++y)
            ink[offset(x, y, cw)] = std::min(std::max((at(x, y) - bg - low) / span, 0.0f), 1.0f);
    }
}

SwappedInkWindow::~SwappedInkWindow() {
    for (int y = 0; y < ch_ && !saved_.empty(); ++y)
        std::copy_n(saved_.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw_)), cw_,
                    ink_.pixels.begin() + static_cast<std::ptrdiff_t>(offset(x0_, y0_ + y, ink_.width)));
}

void SwappedInkWindow::save(int x0, int y0, int cw, int ch) {
    x0_ = x0;
    y0_ = y0;
    cw_ = cw;
    ch_ = ch;
    saved_.resize(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch));
    for (int y = 0; y < ch; ++y)
        std::copy_n(ink_.pixels.begin() + static_cast<std::ptrdiff_t>(offset(x0, y0 + y, ink_.width)), cw,
                    saved_.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw)));
}

LocalFigureInk::LocalFigureInk(FramePlanes& planes, const RewardRow& row, double hp, double figureRight)
    : SwappedInkWindow(planes.ink2) {
    const Plane& smooth = planes.smooth;
    const int w = ink_.width;
    const int h = ink_.height;
    if (!sameSize(smooth, w, h))
        return;
    const int pad = std::max(2, row.lh / 3);
    const int y0 = std::max(0, row.top - pad);
    const int y1 = std::min(h - 1, row.bottom + pad);
    const int x0 = std::max(0, static_cast<int>(figureRight - kFigureWindowWidth * hp));
    const int x1 = std::min(w - 1, static_cast<int>(figureRight + kFigureWindowSlack * hp));
    if (y1 - y0 < 2 || x1 - x0 < 2)
        return;
    const WindowLevels levels = windowLevels(smooth, x0, y0, x1, y1);
    if (!(levels.text - levels.background >= kFigureMinContrast))
        return;
    const float low =
        levels.background + static_cast<float>(kLocalRampLow) * (levels.text - levels.background);
    const float span = static_cast<float>(kLocalRampSpan) * (levels.text - levels.background);
    save(x0, y0, x1 - x0 + 1, y1 - y0 + 1);
    for (int y = 0; y < ch_; ++y)
        for (int x = 0; x < cw_; ++x) {
            const std::size_t i = offset(x0_ + x, y0_ + y, w);
            ink_.pixels[i] = std::min(std::max((smooth.pixels[i] - low) / span, 0.0f), 1.0f);
        }
}

bool lostWideRun(const FramePlanes& planes, const RewardRow& row, double limit) {
    if (!planes.maskBlobsReady)
        return false;
    for (const Blob& b : planes.scratch.blobs) {
        if (b.width() <= kTextMaxWidth || b.x1 >= limit)
            continue;
        const int bh = b.height();
        const int overlap = std::min(b.y1, row.bottom) - std::max(b.y0, row.top) + 1;
        if (bh >= 0.7 * row.lh && bh <= 1.35 * row.lh && 2 * overlap >= row.lh)
            return true;
    }
    return false;
}

std::vector<Blob> rowTextBlobs(const std::vector<std::uint8_t>& crop, int cw, int ch, int x0, int y0,
                               const RewardRow& row) {
    LabelScratch scratch;
    std::vector<Blob> labelled;
    labelComponents(crop, cw, ch, labelled, scratch);
    std::vector<Blob> blobs;
    for (Blob b : labelled) {
        const int bh = b.height();
        if (bh < 0.7 * row.lh || bh > 1.35 * row.lh || b.area < kTextMinArea)
            continue;
        b.x0 += x0;
        b.x1 += x0;
        b.y0 += y0;
        b.y1 += y0;
        blobs.push_back(b);
    }
    std::sort(blobs.begin(), blobs.end(), [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    return blobs;
}

std::vector<Blob> retryBlobs(const FramePlanes& planes, const RewardRow& row, double hp, double limit) {
    std::vector<Blob> out;
    const Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h) || !sameSize(planes.ink, w, h))
        return out;
    const int pad = std::max(2, row.lh / 3);
    const int y0 = std::max(0, row.top - pad);
    const int y1 = std::min(h - 1, row.bottom + pad);
    const int x0 = std::max(0, static_cast<int>(std::ceil(w - 32.0 * hp)));
    const int x1 = std::min(w - 1, static_cast<int>(std::min(limit, static_cast<double>(w))) - 1);
    if (y1 - y0 < 2 || x1 - x0 < 2)
        return out;
    const int cw = x1 - x0 + 1;
    const int ch = y1 - y0 + 1;
    std::vector<std::uint8_t> crop(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0);
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const std::size_t i = offset(x0 + x, y0 + y, w);
            const float v = ink2.pixels[i];
            const bool panelInk = v != planes.ink.pixels[i];
            crop[offset(x, y, cw)] = (v > kRetryInk && (panelInk || smooth.pixels[i] > kRetryLuma)) ? 1 : 0;
        }
    return rowTextBlobs(crop, cw, ch, x0, y0, row);
}

bool onPanel(const FramePlanes& planes, int x, int y) {
    return std::any_of(planes.panels.begin(), planes.panels.end(), [x, y](const Blob& p) {
        return x >= p.x0 - kPanelGrow && x <= p.x1 + kPanelGrow && y >= p.y0 - kPanelGrow &&
               y <= p.y1 + kPanelGrow;
    });
}

WindowLevels windowLevels(const Plane& smooth, int x0, int y0, int x1, int y1) {
    std::vector<float> values;
    values.reserve(static_cast<std::size_t>(x1 - x0 + 1) * static_cast<std::size_t>(y1 - y0 + 1));
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            values.push_back(smooth.pixels[offset(x, y, smooth.width)]);
    WindowLevels levels;
    levels.background = quantile(values, 0.5);
    levels.text = quantile(values, 0.98);
    return levels;
}

namespace {

// The panel of a row where the padding rows above and below its text are
// lighter than `light` along a run of a word's panel width.
bool rowPanelAbove(const Plane& smooth, int ya, int yb, int lh, int xMin, int xMax, float light,
                   Blob& panel) {
    const int w = smooth.width;
    const int h = smooth.height;
    auto lit = [&](int x, int y) { return smooth.pixels[offset(x, y, w)] > light; };
    int bestX0 = -1;
    int bestX1 = -1;
    for (int x = xMin; x <= xMax;) {
        if (!(lit(x, ya) && lit(x, yb))) {
            ++x;
            continue;
        }
        const int x0 = x;
        while (x <= xMax && lit(x, ya) && lit(x, yb))
            ++x;
        if (x - x0 > bestX1 - bestX0 + 1) {
            bestX0 = x0;
            bestX1 = x - 1;
        }
    }
    const int runWidth = bestX1 - bestX0 + 1;
    if (bestX0 < 0 || runWidth < kRowPanelMinWidth * lh || runWidth > kRowPanelMaxWidth * lh)
        return false;
    auto rowLight = [&](int y) {
        int n = 0;
        for (int x = bestX0; x <= bestX1; ++x)
            n += lit(x, y) ? 1 : 0;
        return n >= kPanelEdgeLight * runWidth;
    };
    int y0 = ya;
    while (y0 > 0 && ya - y0 < lh && rowLight(y0 - 1))
        --y0;
    int y1 = yb;
    while (y1 < h - 1 && y1 - yb < lh && rowLight(y1 + 1))
        ++y1;
    panel = Blob{};
    panel.x0 = bestX0;
    panel.x1 = bestX1;
    panel.y0 = y0;
    panel.y1 = y1;
    panel.area = runWidth * (y1 - y0 + 1);
    return true;
}

// A panel of a small frame scaled up, or blurred, keeps its padding rows
// short of the panels' light: their light and the scene around are told
// apart on the padding rows' own levels instead. The panel must stand
// clearly above the scene there, and its edges must fall off to the
// scene's level within a cap's softening.
constexpr double kPanelLevelsShare = 0.5;
constexpr float kPanelLevelsMinLight = 140.0f;
constexpr float kPanelLevelsMinContrast = 50.0f;
constexpr double kPanelLevelsLightQuantile = 0.9;
constexpr double kPanelEdgeReach = 0.5; // in line heights

bool rowPanelOnLevels(const Plane& smooth, int ya, int yb, int lh, int xMin, int xMax, Blob& panel) {
    const int w = smooth.width;
    std::vector<float> least;
    least.reserve(static_cast<std::size_t>(xMax - xMin + 1));
    for (int x = xMin; x <= xMax; ++x)
        least.push_back(std::min(smooth.pixels[offset(x, ya, w)], smooth.pixels[offset(x, yb, w)]));
    std::vector<float> sorted = least;
    const float scene = quantile(sorted, 0.5);
    const float light = quantile(sorted, kPanelLevelsLightQuantile);
    if (!(light >= kPanelLevelsMinLight) || !(light - scene >= kPanelLevelsMinContrast))
        return false;
    const float cut = scene + static_cast<float>(kPanelLevelsShare) * (light - scene);
    if (!rowPanelAbove(smooth, ya, yb, lh, xMin, xMax, cut, panel))
        return false;
    // A bright stretch of the scene fades out; a panel ends: darker than the
    // cut on both padding rows within reach of each end.
    const int reach = std::max(2, static_cast<int>(std::lround(kPanelEdgeReach * lh)));
    auto endsBy = [&](int from, int step) {
        for (int k = 1, x = from + step; k <= reach && x >= 0 && x < w; ++k, x += step)
            if (std::max(smooth.pixels[offset(x, ya, w)], smooth.pixels[offset(x, yb, w)]) < cut)
                return true;
        return false;
    };
    return endsBy(panel.x0, -1) && endsBy(panel.x1, 1);
}

} // namespace

bool findRowPanel(const FramePlanes& planes, int top, int bottom, int lh, int xMin, int xMax, Blob& panel) {
    const Plane& smooth = planes.smooth;
    const int w = smooth.width;
    const int h = smooth.height;
    const int pad = std::max(1, static_cast<int>(std::lround(kRowPanelPad * lh)));
    const int ya = top - pad;
    const int yb = bottom + pad;
    xMin = std::max(1, xMin);
    xMax = std::min(w - 2, xMax);
    if (ya < 1 || yb > h - 2 || xMax - xMin < 4)
        return false;
    if (rowPanelAbove(smooth, ya, yb, lh, xMin, xMax, kPanelLuma, panel))
        return true;
    // Soft letters reach past the row's measured band into the padding
    // rows: a row or two further out may still be clear of them.
    for (int out = 0; out <= kRowPanelPadSlack && ya - out >= 1 && yb + out <= h - 2; ++out)
        if (rowPanelOnLevels(smooth, ya - out, yb + out, lh, xMin, xMax, panel))
            return true;
    return false;
}

bool panelStandsWhole(const FramePlanes& planes, const Blob& panel, int top, int bottom, int lh) {
    const Plane& smooth = planes.smooth;
    const int w = smooth.width;
    const int h = smooth.height;
    const int reach = std::max(2, static_cast<int>(std::lround(kPanelEdgeReach * lh)));
    if (panel.x1 - panel.x0 < 4 || panel.x0 - reach < 0 || panel.x1 + reach >= w)
        return false;
    // The padding row above the text and the one below it where the panel
    // is lightest: soft letters reach into the rows next to the text.
    std::vector<float> values;
    auto lightOf = [&](int y) {
        values.clear();
        for (int x = panel.x0; x <= panel.x1; ++x)
            values.push_back(smooth.pixels[offset(x, y, w)]);
        return quantile(values, 0.5);
    };
    // A panel box that does not reach past the text on a side has no
    // padding row there: `best` stays unset.
    auto lightest = [&](int from, int to, int& best) {
        float most = -1.0f;
        for (int y = std::max(0, from); y <= std::min(h - 1, to); ++y) {
            const float v = lightOf(y);
            if (v > most) {
                most = v;
                best = y;
            }
        }
        return most;
    };
    int ya = -1;
    int yb = -1;
    const float above = lightest(std::max(panel.y0, top - lh / 2), top - 1, ya);
    const float below = lightest(bottom + 1, std::min(panel.y1, bottom + lh / 2), yb);
    if (ya < 0 || yb < 0)
        return false;
    const float light = std::min(above, below);
    auto endsBy = [&](int from, int step) {
        float scene = light;
        for (int k = 1, x = from + step; k <= reach; ++k, x += step)
            scene =
                std::min(scene, std::max(smooth.pixels[offset(x, ya, w)], smooth.pixels[offset(x, yb, w)]));
        return light - scene >= kPanelLevelsMinContrast;
    };
    return endsBy(panel.x0, -1) && endsBy(panel.x1, 1);
}

std::vector<SavedInk> rampPanelsLocally(FramePlanes& planes, const std::vector<Blob>& panels, int top,
                                        int bottom) {
    std::vector<SavedInk> saved;
    Plane& ink2 = planes.ink2;
    const Plane& smooth = planes.smooth;
    const int w = ink2.width;
    const int h = ink2.height;
    if (!sameSize(smooth, w, h))
        return saved;
    std::vector<float> values;
    for (const Blob& p : panels) {
        if (p.y1 < top || p.y0 > bottom)
            continue;
        const int gx0 = std::max(0, p.x0 - kPanelGrow);
        const int gy0 = std::max(0, p.y0 - kPanelGrow);
        const int gx1 = std::min(w - 1, p.x1 + kPanelGrow);
        const int gy1 = std::min(h - 1, p.y1 + kPanelGrow);
        const int ix0 = p.x0 + kPanelBorder;
        const int iy0 = p.y0 + kPanelBorder;
        const int ix1 = p.x1 - kPanelBorder;
        const int iy1 = p.y1 - kPanelBorder;
        if (ix1 - ix0 < 4 || iy1 - iy0 < 4)
            continue;
        values.clear();
        for (int y = iy0; y <= iy1; ++y)
            for (int x = ix0; x <= ix1; ++x)
                values.push_back(smooth.pixels[offset(x, y, w)]);
        const float light = quantile(values, kPanelRampLight);
        const float dark = quantile(values, kPanelRampDark);
        const float contrast = light - dark;
        if (!(contrast >= kPanelMinContrast))
            continue;
        const float low = static_cast<float>(kLocalRampLow) * contrast;
        const float span = static_cast<float>(kLocalRampSpan) * contrast;
        SavedInk s;
        s.x0 = gx0;
        s.y0 = gy0;
        s.width = gx1 - gx0 + 1;
        s.pixels.reserve(static_cast<std::size_t>(s.width) * static_cast<std::size_t>(gy1 - gy0 + 1));
        for (int y = gy0; y <= gy1; ++y)
            for (int x = gx0; x <= gx1; ++x) {
                float& v = ink2.pixels[offset(x, y, w)];
                s.pixels.push_back(v);
                const bool inside = x >= ix0 && x <= ix1 && y >= iy0 && y <= iy1;
                v = inside ? std::min(std::max((light - smooth.pixels[offset(x, y, w)] - low) / span, 0.0f),
                                      1.0f)
                           : 0.0f;
            }
        saved.push_back(std::move(s));
    }
    return saved;
}

void restoreInk(FramePlanes& planes, const std::vector<SavedInk>& saved) {
    const int w = planes.ink2.width;
    for (auto it = saved.rbegin(); it != saved.rend(); ++it) {
        const int rows = static_cast<int>(it->pixels.size()) / it->width;
        for (int y = 0; y < rows; ++y)
            std::copy_n(it->pixels.begin() + static_cast<std::ptrdiff_t>(offset(0, y, it->width)), it->width,
                        planes.ink2.pixels.begin() +
                            static_cast<std::ptrdiff_t>(offset(it->x0, it->y0 + y, w)));
    }
}

} // namespace hud::reward

namespace hud::reward {

namespace {

// A column carries ink when its mean over the cap band reaches this share
// of the window's ramp; a blank wider than kPhraseInkGap ends the phrase's
// ink. Words are parted by blanks where no row of the band is inked (a
// letter's bar holds little of the column's mean), wider than
// kPhraseWordGap.
constexpr float kPhraseInkColumn = 0.15f;
constexpr float kPhraseStrokeInk = 0.4f;
constexpr double kPhraseInkGap = 0.9;   // in caps
constexpr double kPhraseWordGap = 0.35; // in caps
constexpr double kPhraseInkReach = 24.0;
// The phrase's ink ends within this of the end given, and the blank after
// it reaches this far.
constexpr double kPhraseEndReach = 0.6; // in caps
constexpr double kPhraseEndBlank = 0.4; // in caps
// Less than this between background and text shows no phrase.
constexpr float kPhraseInkContrast = 20.0f;

} // namespace

bool PhraseRowInk::open(const FramePlanes& planes, int top, double hp, int left, int right,
                        float minContrast) {
    const Plane& smooth = planes.smooth;
    const int w = smooth.width;
    const int h = smooth.height;
    x0 = std::max(0, left);
    x1 = std::min(w - 1, right);
    y0 = std::max(0, top);
    y1 = std::min(h - 1, top + static_cast<int>(std::lround(hp)) - 1);
    if (x1 - x0 < 8 || y1 - y0 < 2 || !sameSize(planes.ink2, w, h) || !sameSize(planes.ink, w, h))
        return false;
    const WindowLevels levels = windowLevels(smooth, x0, std::max(0, y0 - 2), x1, std::min(h - 1, y1 + 2));
    span_ = levels.text - levels.background;
    background_ = levels.background;
    planes_ = &planes;
    return span_ >= minContrast;
}

bool measurePhraseInk(const FramePlanes& planes, int top, double hp, double right, PhraseInk& ink) {
    PhraseRowInk row;
    if (!row.open(planes, top, hp, static_cast<int>(std::floor(right - kPhraseInkReach * hp)),
                  static_cast<int>(std::lround(right + (kPhraseEndReach + kPhraseEndBlank) * hp)),
                  kPhraseInkContrast))
        return false;
    const int x0 = row.x0;
    const int x1 = row.x1;
    // Per column: whether its mean is ink, and whether any stroke crosses it.
    auto column = [&](int x, bool& stroke) {
        float sum = 0.0f;
        float most = 0.0f;
        for (int y = row.y0; y <= row.y1; ++y) {
            const float v = row.at(x, y);
            sum += v;
            most = std::max(most, v);
        }
        stroke = most >= kPhraseStrokeInk;
        return sum / static_cast<float>(row.y1 - row.y0 + 1) >= kPhraseInkColumn;
    };
    // The phrase's last inked column lies near the end given, with the
    // blank before the figure after it.
    const int endLo = std::max(x0, static_cast<int>(std::lround(right - kPhraseEndReach * hp)));
    const int endHi = static_cast<int>(std::lround(right + kPhraseEndReach * hp));
    const int blank = static_cast<int>(std::ceil(kPhraseEndBlank * hp));
    bool stroke = false;
    int last = x1;
    while (last >= endLo && !column(last, stroke))
        --last;
    if (last < endLo || last > endHi || x1 - last < blank)
        return false;
    const int maxGap = static_cast<int>(std::ceil(kPhraseInkGap * hp));
    const int wordGap = static_cast<int>(std::ceil(kPhraseWordGap * hp));
    int first = last;
    int gap = 0;
    int strokeGap = 0;
    int words = 1;
    for (int x = last - 1; x >= x0; --x) {
        const bool inked = column(x, stroke);
        if (stroke) {
            if (strokeGap >= wordGap)
                ++words;
            strokeGap = 0;
        } else {
            ++strokeGap;
        }
        if (inked) {
            first = x;
            gap = 0;
        } else if (++gap > maxGap) {
            break;
        }
    }
    if (first <= x0)
        return false;
    ink.left = first;
    ink.right = last;
    ink.words = words;
    return true;
}

namespace {

// Where a phrase with neither figure nor amount read can end: from about
// two to eight caps left of the figure's right edge.
constexpr double kInkPhraseRightNear = 2.8;
constexpr double kInkPhraseRightFar = 8.3;
// The phrase's fit must start and end within this of its ink, in caps;
// another phrase whose fit spans the ink as long within kInkRivalWidth
// leaves the ink to tell nothing, unless its shape fits far worse.
constexpr double kInkPhraseEnds = 0.4;
constexpr double kInkRivalWidth = 0.5;
// A phrase whose shape trails by this much rivals no other.
constexpr double kInkRivalTrails = 0.2;
constexpr double kInkPhraseMinScore = 0.45;

int wordsIn(const std::string& text) {
    int n = 0;
    for (std::size_t i = 0; i < text.size(); ++i)
        n += text[i] != ' ' && (i == 0 || text[i - 1] == ' ') ? 1 : 0;
    return n;
}

} // namespace

bool phraseByInk(const Model& model, const FramePlanes& planes, int top, double hp, double figureRight,
                 HudLine& line) {
    std::vector<PhraseFit> each;
    const PhraseFit fit = fitPhraseShape(model, planes, top, hp, figureRight - kInkPhraseRightFar * hp,
                                         figureRight - kInkPhraseRightNear * hp, {}, true, &each);
    if (fit.phrase == nullptr)
        return false;
    const bool named = isWholePhrase(line);
    const PhraseFit* chosen = nullptr;
    for (const PhraseFit& e : each)
        if (named ? e.phrase->text == line.text : e.phrase == fit.phrase && fit.score > fit.runnerUp)
            chosen = &e;
    if (chosen == nullptr || chosen->score < kInkPhraseMinScore || wordsIn(chosen->phrase->text) < 2 ||
        std::any_of(planes.panels.begin(), planes.panels.end(), [&](const Blob& p) {
            return !(p.y0 > top + hp || p.y1 < top || p.x0 > chosen->right || p.x1 < chosen->left);
        }))
        return false;
    PhraseInk ink;
    if (!measurePhraseInk(planes, top, hp, chosen->right, ink) ||
        std::abs(chosen->left - ink.left) > kInkPhraseEnds * hp ||
        std::abs(chosen->right - ink.right) > kInkPhraseEnds * hp ||
        ink.words != wordsIn(chosen->phrase->text))
        return false;
    for (const PhraseFit& e : each) {
        PhraseInk other;
        if (&e != chosen && chosen->score - e.score < kInkRivalTrails &&
            measurePhraseInk(planes, top, hp, e.right, other) &&
            std::abs((e.right - e.left) - (other.right - other.left)) < kInkRivalWidth * hp)
            return false;
    }
    line.text = chosen->phrase->text;
    line.known = true;
    return true;
}

} // namespace hud::reward
