#include "hud/feed/feed.h"
#include "hud/feed/row-pixels.h"
#include "hud/feed/select.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace hud {

using detail::at;
using detail::floorInt;
using detail::rowUsable;

namespace {

constexpr float kIconMinScore = 0.55f;
constexpr float kIconMinLead = 0.05f;
constexpr int kIconShift = 4;
constexpr const char* kSkull = "skull";

struct IconScratch {
    std::vector<std::uint8_t> white;
    LabelScratch labels;
    std::vector<Blob> blobs;
    std::vector<Blob> groups;
    std::vector<std::pair<int, int>> runs; // one group's white runs, row by row, in group columns
    std::vector<int> rowRuns;              // row y's runs are runs[rowRuns[y] .. rowRuns[y + 1])
    std::vector<double> sums;              // integral image of the group's white mask
    std::vector<float> prefix;             // per icon row, sums of its first k pixels (reversed)
    std::vector<float> products;           // per position, the sum of icon pixels under white
    std::vector<double> running;
    std::vector<std::pair<int, int>> slices; // per white run, its (end, start) in the table at offset 0
    std::vector<std::pair<const std::string*, float>> keys; // each key once, in icon order
    std::vector<int> keyOf;                                 // per icon, its entry in keys
    std::vector<std::pair<float, std::size_t>> order;       // scoring order: bound, icon
    // The group's windows for one icon size, per offset: the white under
    // the window and the root of its variance, -1 where the window holds no
    // white with some spread.
    int windowW = -1;
    int windowH = -1;
    std::vector<double> windowSum;
    std::vector<double> windowRoot;
};

// Offsets are summed sixteen at a time; the tables the sums read from and
// write to are padded to that.
constexpr int kSliceBlock = 16;

// out[i] += table[e + i] - table[s + i] for each (e, s) of `slices` (count
// of them, each shifted by `shift`) in turn, for i below n rounded up to
// kSliceBlock: the table holds that many more values past every slice. Each
// sum stays in a register over all the slices, added in the same order, so
// the sums are those of the plain loop.
void addSlices(const float* table, const std::pair<int, int>* slices, std::size_t count, long long shift,
               float* out, int n) {
    int i = 0;
#if CORVEX_HUD_SSE2
    for (; i < n; i += kSliceBlock) {
        __m128 a0 = _mm_loadu_ps(out + i);
        __m128 a1 = _mm_loadu_ps(out + i + 4);
        __m128 a2 = _mm_loadu_ps(out + i + 8);
        __m128 a3 = _mm_loadu_ps(out + i + 12);
        for (std::size_t k = 0; k < count; ++k) {
            const float* end = table + (slices[k].first + shift + i);
            const float* start = table + (slices[k].second + shift + i);
            a0 = _mm_add_ps(a0, _mm_sub_ps(_mm_loadu_ps(end), _mm_loadu_ps(start)));
            a1 = _mm_add_ps(a1, _mm_sub_ps(_mm_loadu_ps(end + 4), _mm_loadu_ps(start + 4)));
            a2 = _mm_add_ps(a2, _mm_sub_ps(_mm_loadu_ps(end + 8), _mm_loadu_ps(start + 8)));
            a3 = _mm_add_ps(a3, _mm_sub_ps(_mm_loadu_ps(end + 12), _mm_loadu_ps(start + 12)));
        }
        _mm_storeu_ps(out + i, a0);
        _mm_storeu_ps(out + i + 4, a1);
        _mm_storeu_ps(out + i + 8, a2);
        _mm_storeu_ps(out + i + 12, a3);
    }
#endif
    for (; i < n; ++i) {
        float a = out[i];
        for (std::size_t k = 0; k < count; ++k)
            a += table[slices[k].first + shift + i] - table[slices[k].second + shift + i];
        out[i] = a;
    }
}

// The offsets an icon is tried at against a group: centred, then kIconShift
// either way.
struct IconOffsets {
    int x0, y0, nx, ny;
};
IconOffsets iconOffsets(int gw, int gh, int iw, int ih) {
    return {std::min(0, (gw - iw) / 2) - kIconShift, std::min(0, (gh - ih) / 2) - kIconShift,
            std::max(gw, iw) - iw + 2 * kIconShift + 1, std::max(gh, ih) - ih + 2 * kIconShift + 1};
}

// The white under the window at every offset of an icon of this size and
// the root of its variance (the mask is 0 or 1, so its sum of squares is its
// sum), or -1 where the variance is below 1. The
// mass bound and the correlation of an icon, and icons of one size, read the
// same windows: they are summed once per group and size.
void measureWindows(IconScratch& s, int gw, int gh, int iw, int ih, const IconOffsets& o) {
    if (s.windowW == iw && s.windowH == ih)
        return;
    s.windowW = iw;
    s.windowH = ih;
    const double cells = static_cast<double>(iw) * ih;
    const std::size_t stride = static_cast<std::size_t>(gw) + 1;
    auto integral = [&](int x, int y) {
        return s.sums[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)];
    };
    const std::size_t n = static_cast<std::size_t>(o.nx) * static_cast<std::size_t>(o.ny);
    s.windowSum.resize(n);
    s.windowRoot.resize(n);
    double* sums = s.windowSum.data();
    double* roots = s.windowRoot.data();
    for (int j = 0; j < o.ny; ++j) {
        const int oy = o.y0 + j;
        const int ya = std::max(oy, 0);
        const int yb = std::min(oy + ih, gh);
        for (int i = 0; i < o.nx; ++i, ++sums, ++roots) {
            const int ox = o.x0 + i;
            const int xa = std::max(ox, 0);
            const int xb = std::min(ox + iw, gw);
            if (xa >= xb || ya >= yb) {
                *sums = 0.0;
                *roots = -1.0;
                continue;
            }
            const double sum = integral(xb, yb) - integral(xa, yb) - integral(xb, ya) + integral(xa, ya);
            const double var = sum - sum * sum / cells;
            *sums = sum;
            *roots = var < 1.0 ? -1.0 : std::sqrt(var);
        }
    }
}

// The best of score(i, j, white, root of the variance) over the offsets
// whose window holds white with some spread; -infinity where none does.
template <class Score>
double bestOverWindows(IconScratch& s, int gw, int gh, int iw, int ih, const IconOffsets& o, Score score) {
    measureWindows(s, gw, gh, iw, ih, o);
    const double* sums = s.windowSum.data();
    const double* roots = s.windowRoot.data();
    double best = -std::numeric_limits<double>::infinity();
    for (int j = 0; j < o.ny; ++j) {
        for (int i = 0; i < o.nx; ++i, ++sums, ++roots) {
            const double root = *roots;
            if (root < 0.0)
                continue;
            best = std::max(best, score(i, j, *sums, root));
        }
    }
    return best;
}

// The best correlation of an icon with a group's white mask (0 or 1) over
// the positions around the group; cells outside the group read 0.
//
// For one icon row r over mask row y, the product at horizontal offset ox is
// the sum over the row's white runs [a, b] of P(b + 1 - ox) - P(a - ox),
// where P(k) is the sum of the icon row's first k pixels (0 below 0, the
// whole row beyond its width). With P stored reversed, every run adds two
// contiguous slices to the products of all offsets at once.
float slideIcon(IconScratch& s, int gw, int gh, const KillIcon& icon) {
    const int iw = static_cast<int>(icon.width);
    const int ih = static_cast<int>(icon.height);
    const IconOffsets o = iconOffsets(gw, gh, iw, ih);
    const int ox0 = o.x0;
    const int oy0 = o.y0;
    const int nx = o.nx;
    const int ny = o.ny;
    // Arguments of P run from 0 - (largest offset) to gw - (smallest offset).
    const int lo = std::min(0, -(ox0 + nx - 1));
    const int hi = std::max(iw, gw - ox0);
    const int len = hi - lo + 1;
    // The rows, then room for the last slices' reads past the offsets.
    s.prefix.resize(static_cast<std::size_t>(len) * static_cast<std::size_t>(ih) + kSliceBlock);
    std::fill(s.prefix.end() - kSliceBlock, s.prefix.end(), 0.0f);
    // q[hi - k] = P(k): 0 for k <= 0, the running sum in between, the whole
    // row's sum for k >= iw (lo <= 0 <= iw <= hi). The icon brings the
    // running sums made at load; without them the rows' sums, which are
    // independent, advance together column by column.
    float* q = s.prefix.data();
    if (icon.rowSums.size() == static_cast<std::size_t>(iw) * static_cast<std::size_t>(ih)) {
        for (int r = 0; r < ih; ++r)
            std::copy_n(icon.rowSums.data() + at(0, r, iw), iw, q + at(hi - iw, r, len));
    } else {
        s.running.assign(static_cast<std::size_t>(ih), 0.0);
        double* run = s.running.data();
        const float* t = icon.pixels.data();
        for (int k = 1; k <= iw; ++k) {
            for (int r = 0; r < ih; ++r) {
                run[r] += static_cast<double>(t[at(k - 1, r, iw)]);
                q[at(hi - k, r, len)] = static_cast<float>(run[r]);
            }
        }
    }
    for (int r = 0; r < ih; ++r) {
        float* row = q + at(0, r, len);
        std::fill(row, row + (hi - iw), row[hi - iw]);
        std::fill(row + hi, row + len, 0.0f);
    }
    const int across = (nx + kSliceBlock - 1) / kSliceBlock * kSliceBlock;
    s.products.assign(static_cast<std::size_t>(across) * static_cast<std::size_t>(ny), 0.0f);
    // Each white run of mask row y as a slice of the table row it meets at
    // vertical offset 0; at offset oy it meets the row oy rows up.
    s.slices.clear();
    for (int y = 0; y < gh; ++y)
        for (int k = s.rowRuns[static_cast<std::size_t>(y)]; k < s.rowRuns[static_cast<std::size_t>(y) + 1];
             ++k) {
            const auto& run = s.runs[static_cast<std::size_t>(k)];
            s.slices.emplace_back(y * len + (hi - run.second - 1 + ox0), y * len + (hi - run.first + ox0));
        }
    for (int j = 0; j < ny; ++j) {
        const int oy = oy0 + j;
        const int ya = std::max(oy, 0);
        const int yb = std::min(oy + ih, gh);
        if (ya >= yb)
            continue;
        const auto from = static_cast<std::size_t>(s.rowRuns[static_cast<std::size_t>(ya)]);
        const auto to = static_cast<std::size_t>(s.rowRuns[static_cast<std::size_t>(yb)]);
        addSlices(s.prefix.data(), s.slices.data() + from, to - from, -static_cast<long long>(oy) * len,
                  s.products.data() + at(0, j, across), nx);
    }
    const double best = bestOverWindows(s, gw, gh, iw, ih, o, [&](int i, int j, double, double root) {
        return s.products[at(i, j, across)] / root;
    });
    return std::isfinite(best) ? static_cast<float>(best) : 0.0f;
}

// An upper bound of slideIcon's result from the white alone: at each
// position the products sum over the S white cells under the icon, so to no
// more than the icon's S largest pixels. Infinite when the icon brings no
// sums for it.
double massBound(IconScratch& s, int gw, int gh, const KillIcon& icon) {
    const int iw = static_cast<int>(icon.width);
    const int ih = static_cast<int>(icon.height);
    const std::size_t cells = static_cast<std::size_t>(iw) * static_cast<std::size_t>(ih);
    if (icon.topSums.size() != cells + 1)
        return std::numeric_limits<double>::infinity();
    const IconOffsets o = iconOffsets(gw, gh, iw, ih);
    const double n = static_cast<double>(cells);
    const double best = bestOverWindows(s, gw, gh, iw, ih, o, [&](int, int, double sum, double root) {
        const auto white = static_cast<std::size_t>(std::min(std::max(sum, 0.0), n));
        return icon.topSums[white] / root;
    });
    // No position counts: slideIcon gives 0.
    return std::isfinite(best) ? best : 0.0;
}

// The near-white pixels of the search window, and their components joined
// into groups left to right: an icon may break into several pieces.
void findWhiteGroups(const FrameView& f, int xa, int ya, int ww, int wh, double m, IconScratch& s) {
    // Every row is written whole: no clearing first.
    s.white.resize(at(0, wh, ww));
    for (int y = 0; y < wh; ++y)
        detail::markNearWhite(framePixel(f, xa, ya + y), ww, 150, 60, s.white.data() + at(0, y, ww));
    labelComponents(s.white, ww, wh, s.blobs, s.labels);
    s.blobs.erase(std::remove_if(s.blobs.begin(), s.blobs.end(), [](const Blob& b) { return b.area < 12; }),
                  s.blobs.end());
    detail::stableSort(s.blobs.begin(), s.blobs.end(),
                       [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    const int reach = std::max(3, floorInt(0.3 * m));
    s.groups.clear();
    for (const Blob& b : s.blobs) {
        if (!s.groups.empty() && b.x0 <= s.groups.back().x1 + reach) {
            Blob& g = s.groups.back();
            g.x0 = std::min(g.x0, b.x0);
            g.y0 = std::min(g.y0, b.y0);
            g.x1 = std::max(g.x1, b.x1);
            g.y1 = std::max(g.y1, b.y1);
            g.area += b.area;
        } else {
            s.groups.push_back(b);
        }
    }
}

// Icons that share a key are one class: each key once, in icon order.
void indexIconKeys(const std::vector<KillIcon>& icons, IconScratch& s) {
    s.keys.clear();
    s.keyOf.clear();
    for (const KillIcon& ic : icons) {
        std::size_t k = 0;
        while (k < s.keys.size() && *s.keys[k].first != ic.key)
            ++k;
        if (k == s.keys.size())
            s.keys.emplace_back(&ic.key, 0.0f);
        s.keyOf.push_back(static_cast<int>(k));
    }
}

// The group's white mask as runs per row, and its integral image.
void prepareGroup(const Blob& g, int ww, IconScratch& s) {
    const int gw = g.width();
    const int gh = g.height();
    s.runs.clear();
    s.rowRuns.assign(static_cast<std::size_t>(gh) + 1, 0);
    const std::size_t stride = static_cast<std::size_t>(gw) + 1;
    s.sums.assign(stride * (static_cast<std::size_t>(gh) + 1), 0.0);
    for (int y = 0; y < gh; ++y) {
        const std::uint8_t* src = s.white.data() + at(g.x0, g.y0 + y, ww);
        s.rowRuns[static_cast<std::size_t>(y)] = static_cast<int>(s.runs.size());
        double line = 0.0;
        const double* above = s.sums.data() + static_cast<std::size_t>(y) * stride;
        double* here = s.sums.data() + static_cast<std::size_t>(y + 1) * stride;
        for (int x = 0; x < gw; ++x) {
            if (src[x] && (x == 0 || !src[x - 1]))
                s.runs.emplace_back(x, x);
            if (src[x])
                s.runs.back().second = x;
            line += src[x] ? 1.0 : 0.0;
            here[x + 1] = above[x + 1] + line;
        }
    }
    s.rowRuns[static_cast<std::size_t>(gh)] = static_cast<int>(s.runs.size());
    s.windowW = -1;
    s.windowH = -1;
}

bool usableIcon(const KillIcon& ic) {
    return ic.width > 0 && ic.height > 0 && ic.width <= 4096 && ic.height <= 4096 &&
           ic.pixels.size() >= static_cast<std::size_t>(ic.width) * static_cast<std::size_t>(ic.height);
}

// How well a group's size fits an icon's: 1 for the same size.
double sizeOverlap(int gw, int gh, const KillIcon& ic) {
    const double iw = ic.width;
    const double ih = ic.height;
    return (std::min<double>(gw, iw) / std::max<double>(gw, iw)) *
           (std::min<double>(gh, ih) / std::max<double>(gh, ih));
}

// Scores the icon classes against the prepared group into s.keys; false when
// no icon can reach the score an icon needs at all.
//
// Icons from the likeliest down: a correlation is at most 1, so an icon
// scores at most sqrt(o). Once that bound falls below what can still change
// the group's outcome (the lead over the best so far, or the score an icon
// needs at all), the rest are left unscored: the outcome is the same as with
// every icon scored. An icon whose white allows it no more than that
// (massBound) is passed over alike.
bool scoreIconKeys(const std::vector<KillIcon>& icons, int gw, int gh, IconScratch& s) {
    for (auto& k : s.keys)
        k.second = -std::numeric_limits<float>::infinity();
    float best = -std::numeric_limits<float>::infinity();
    s.order.clear();
    for (std::size_t k = 0; k < icons.size(); ++k) {
        const double o = sizeOverlap(gw, gh, icons[k]);
        if (usableIcon(icons[k]) && o >= 0.35) {
            s.order.emplace_back(static_cast<float>(std::sqrt(o)), k);
        } else {
            float& score = s.keys[static_cast<std::size_t>(s.keyOf[k])].second;
            score = std::max(score, 0.0f);
            best = std::max(best, 0.0f);
        }
    }
    detail::stableSort(s.order.begin(), s.order.end(),
                       [](const std::pair<float, std::size_t>& a, const std::pair<float, std::size_t>& b) {
                           return a.first > b.first;
                       });
    for (const auto& [bound, k] : s.order) {
        constexpr float kSlack = 1e-3f; // rounding of a perfect correlation
        if (bound + kSlack < best - kIconMinLead)
            break;
        if (bound + kSlack < kIconMinScore && best < kIconMinScore)
            return false;
        if (static_cast<double>(bound) * massBound(s, gw, gh, icons[k]) + kSlack < best - kIconMinLead)
            continue;
        const float score = bound * slideIcon(s, gw, gh, icons[k]);
        float& keyScore = s.keys[static_cast<std::size_t>(s.keyOf[k])].second;
        keyScore = std::max(keyScore, score);
        best = std::max(best, score);
    }
    return true;
}

// The class of one group: its key when it scores enough and, unless it is
// the skull, leads every other class but the skull clearly; else null.
const std::string* groupIcon(const std::vector<KillIcon>& icons, int gw, int gh, IconScratch& s,
                             float& score) {
    if (!scoreIconKeys(icons, gw, gh, s) || s.keys.empty())
        return nullptr;
    std::size_t bestAt = 0;
    for (std::size_t k = 1; k < s.keys.size(); ++k)
        if (s.keys[k].second > s.keys[bestAt].second)
            bestAt = k;
    const std::string& bestKey = *s.keys[bestAt].first;
    const float best = s.keys[bestAt].second;
    float second = -std::numeric_limits<float>::infinity();
    for (std::size_t k = 0; k < s.keys.size(); ++k)
        if (k != bestAt && *s.keys[k].first != kSkull)
            second = std::max(second, s.keys[k].second);
    const bool skull = bestKey == kSkull;
    if (!(best > 0.0f) || (!skull && best - second < kIconMinLead))
        return nullptr;
    if (best < kIconMinScore)
        return nullptr;
    score = best;
    return &bestKey;
}

} // namespace

void matchIcons(const RowCtx& ctx, int fromX, int toX, FeedRow& row) {
    if (!rowUsable(ctx) || !ctx.killData)
        return;
    const double m = ctx.cap;
    const FrameView& f = ctx.frame;
    const int xa = std::max(0, fromX);
    const int xb = std::min(f.width - 1, toX);
    const int ya = std::max(0, floorInt(ctx.top - 0.55 * m));
    const int yb = std::min(f.height - 1, floorInt(ctx.bottom + 0.55 * m));
    const int ww = xb - xa + 1;
    const int wh = yb - ya + 1;
    if (ww < 8 || wh < 8)
        return;

    thread_local IconScratch s;
    findWhiteGroups(f, xa, ya, ww, wh, m, s);
    const std::vector<KillIcon>& icons = ctx.killData->icons;
    indexIconKeys(icons, s);

    float iconScore = 0.0f;
    const std::string* icon = nullptr;
    bool headshot = false;
    for (const Blob& g : s.groups) {
        const int gw = g.width();
        const int gh = g.height();
        if (gh < 0.6 * m || gh > 2.2 * m || gw < 0.6 * m || gw > 7.0 * m)
            continue;
        prepareGroup(g, ww, s);
        float best = 0.0f;
        const std::string* key = groupIcon(icons, gw, gh, s, best);
        if (!key)
            continue;
        if (*key == kSkull) {
            headshot = true;
        } else if (!icon || best > iconScore) {
            icon = key;
            iconScore = best;
        }
    }
    row.headshot = headshot;
    if (icon) {
        row.icon = *icon;
        row.iconScore = iconScore;
    }
}
} // namespace hud
