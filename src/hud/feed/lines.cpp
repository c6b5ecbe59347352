#include "hud/feed/lines.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace hud::detail {

namespace {

double centreY(const Blob& b) {
    return (b.y0 + b.y1) / 2.0;
}

// Upper medians of the members' y0 and y1 (0 x 0 for no member).
RowGeometry measureLine(const std::vector<Blob>& blobs, FeedLines& s) {
    RowGeometry g;
    if (blobs.empty())
        return g;
    s.tops.clear();
    s.bottoms.clear();
    for (const Blob& b : blobs) {
        s.tops.push_back(b.y0);
        s.bottoms.push_back(b.y1);
    }
    // Integers: the element at the rank is the same however they are
    // partitioned around it.
    const auto mid = static_cast<std::ptrdiff_t>(blobs.size() / 2);
    std::nth_element(s.tops.begin(), s.tops.begin() + mid, s.tops.end());
    std::nth_element(s.bottoms.begin(), s.bottoms.begin() + mid, s.bottoms.end());
    g.top = s.tops[static_cast<std::size_t>(mid)];
    g.bottom = s.bottoms[static_cast<std::size_t>(mid)];
    g.height = g.bottom - g.top + 1.0;
    return g;
}

FeedLines::Line& newLine(FeedLines& s) {
    if (s.used == s.work.size())
        s.work.emplace_back();
    FeedLines::Line& line = s.work[s.used++];
    line.blobs.clear();
    return line;
}

// The large components into lines, each joining the first line it overlaps
// by half its height.
void linesOf(FeedLines& s) {
    s.used = 0;
    for (const Blob* b : s.large) {
        FeedLines::Line* home = nullptr;
        for (std::size_t k = 0; k < s.used; ++k) {
            FeedLines::Line& line = s.work[k];
            const int overlap = std::min(b->y1, line.y1) - std::max(b->y0, line.y0);
            const int span = std::min(b->y1 - b->y0, line.y1 - line.y0);
            if (overlap >= 0.5 * span) {
                home = &line;
                break;
            }
        }
        if (!home) {
            home = &newLine(s);
            home->y0 = b->y0;
            home->y1 = b->y1;
        }
        home->blobs.push_back(*b);
    }
    for (std::size_t k = 0; k < s.used; ++k)
        s.work[k].geometry = measureLine(s.work[k].blobs, s);
}

// Lines whose tops and bottoms agree within 0.3 of a height are one line.
// A merged line's buffer moves behind the used ones instead of being freed.
void mergeLines(FeedLines& s) {
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i < s.used && !merged; ++i) {
            for (std::size_t j = i + 1; j < s.used && !merged; ++j) {
                const RowGeometry& gi = s.work[i].geometry;
                const RowGeometry& gj = s.work[j].geometry;
                const double bound = 0.3 * std::min(gi.height, gj.height);
                if (std::abs(gi.top - gj.top) <= bound && std::abs(gi.bottom - gj.bottom) <= bound) {
                    FeedLines::Line& keep = s.work[i];
                    FeedLines::Line& gone = s.work[j];
                    keep.blobs.insert(keep.blobs.end(), gone.blobs.begin(), gone.blobs.end());
                    keep.y0 = std::min(keep.y0, gone.y0);
                    keep.y1 = std::max(keep.y1, gone.y1);
                    std::rotate(s.work.begin() + static_cast<std::ptrdiff_t>(j),
                                s.work.begin() + static_cast<std::ptrdiff_t>(j + 1),
                                s.work.begin() + static_cast<std::ptrdiff_t>(s.used));
                    --s.used;
                    keep.geometry = measureLine(keep.blobs, s);
                    merged = true;
                }
            }
        }
    }
}

// One line's components left to right (by x0, ties in their order), those
// overlapping by more than half the narrower one's width joined into one.
void joinOverlaps(const std::vector<Blob>& blobs, FeedLines& s, std::vector<Blob>& kept) {
    s.byX.resize(blobs.size());
    for (std::size_t k = 0; k < blobs.size(); ++k)
        s.byX[k] = static_cast<std::uint32_t>(k);
    std::sort(s.byX.begin(), s.byX.end(), [&blobs](std::uint32_t a, std::uint32_t b) {
        return blobs[a].x0 != blobs[b].x0 ? blobs[a].x0 < blobs[b].x0 : a < b;
    });
    kept.clear();
    for (const std::uint32_t k : s.byX) {
        const Blob& b = blobs[k];
        if (!kept.empty()) {
            Blob& last = kept.back();
            const int overlap = std::min(last.x1, b.x1) - std::max(last.x0, b.x0);
            if (overlap > 0.5 * std::min(last.width(), b.width())) {
                last.x0 = std::min(last.x0, b.x0);
                last.y0 = std::min(last.y0, b.y0);
                last.x1 = std::max(last.x1, b.x1);
                last.y1 = std::max(last.y1, b.y1);
                last.area += b.area;
                continue;
            }
        }
        kept.push_back(b);
    }
}

} // namespace

void groupFeedLines(const std::vector<Blob>& blobs, FeedLines& s) {
    s.large.clear();
    s.small.clear();
    for (const Blob& b : blobs)
        (b.height() < 10 ? s.small : s.large).push_back(&b);
    // By centre, then x0, then place in `blobs` (the pointers' order): the
    // order a stable sort on centre and x0 gives, without its buffer.
    std::sort(s.large.begin(), s.large.end(), [](const Blob* a, const Blob* b) {
        const double ca = centreY(*a);
        const double cb = centreY(*b);
        if (ca != cb)
            return ca < cb;
        if (a->x0 != b->x0)
            return a->x0 < b->x0;
        return a < b;
    });
    linesOf(s);
    mergeLines(s);

    // Small marks (dots, accents) join the line they sit in or just under.
    for (const Blob* mark : s.small) {
        const double cy = centreY(*mark);
        for (std::size_t k = 0; k < s.used; ++k) {
            const RowGeometry& g = s.work[k].geometry;
            if (cy >= g.top - 0.2 * g.height && cy <= g.bottom + 0.45 * g.height) {
                s.work[k].blobs.push_back(*mark);
                break;
            }
        }
    }

    // By top, ties in their order (a handful of lines: insertion).
    s.order.clear();
    for (std::size_t k = 0; k < s.used; ++k) {
        std::size_t j = s.order.size();
        s.order.push_back(k);
        for (; j > 0 && s.work[k].geometry.top < s.work[s.order[j - 1]].geometry.top; --j)
            s.order[j] = s.order[j - 1];
        s.order[j] = k;
    }
    if (s.lines.size() < s.used)
        s.lines.resize(s.used);
    s.geometry.clear();
    s.count = s.used;
    for (std::size_t k = 0; k < s.used; ++k) {
        const FeedLines::Line& line = s.work[s.order[k]];
        joinOverlaps(line.blobs, s, s.lines[k]);
        s.geometry.push_back(line.geometry);
    }
}

} // namespace hud::detail
