// Connected components of a mask and their grouping into text rows.
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
using detail::sizeAcceptable;

std::uint32_t findRoot(std::vector<std::uint32_t>& parent, std::uint32_t x) {
    while (parent[x] != x) {
        parent[x] = parent[parent[x]];
        x = parent[x];
    }
    return x;
}

// The first x at or after `x` whose mask byte is set (or `width`): text masks
// are mostly background, so whole words of zeros are stepped over at once.
int skipBackground(const std::uint8_t* row, int x, int width) {
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (word != 0)
            break;
        x += 8;
    }
    while (x < width && !row[x])
        ++x;
    return x;
}

// The first x at or after `x` whose mask byte is clear (or `width`).
int skipForeground(const std::uint8_t* row, int x, int width) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        if (((word - kOnes) & ~word & kHighs) != 0) // some byte is zero
            break;
        x += 8;
    }
    while (x < width && row[x])
        ++x;
    return x;
}

double centreY(const Blob& b) {
    return (b.y0 + b.y1) / 2.0;
}

struct Row {
    int y0 = 0;
    int y1 = 0;
    std::vector<Blob> blobs;
    RowGeometry geometry;
};

// Upper medians of the members' y0 and y1.
RowGeometry measureRow(const std::vector<Blob>& blobs) {
    RowGeometry g;
    if (blobs.empty())
        return g;
    std::vector<int> tops;
    std::vector<int> bottoms;
    tops.reserve(blobs.size());
    bottoms.reserve(blobs.size());
    for (const Blob& b : blobs) {
        tops.push_back(b.y0);
        bottoms.push_back(b.y1);
    }
    std::sort(tops.begin(), tops.end());
    std::sort(bottoms.begin(), bottoms.end());
    g.top = tops[tops.size() / 2];
    g.bottom = bottoms[bottoms.size() / 2];
    g.height = g.bottom - g.top + 1.0;
    return g;
}

} // namespace

// Runs of set pixels are labelled rather than pixels: a run touches a run of
// the row above when their spans, widened by one pixel for the diagonal
// neighbours, overlap. Both passes then cost per run, not per pixel, and
// the blobs come out in the raster order of their first pixel, which lies
// in their first run.
void labelComponents(const std::vector<std::uint8_t>& mask, int width, int height, std::vector<Blob>& out,
                     LabelScratch& scratch) {
    out.clear();
    if (!sizeAcceptable(width, height) || mask.size() < area(width, height))
        return;
    auto& runs = scratch.runs;
    auto& parent = scratch.parent;
    runs.clear();
    parent.clear();
    parent.push_back(0);

    const std::size_t w = static_cast<std::size_t>(width);
    std::size_t prevBegin = 0;
    std::size_t prevEnd = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = mask.data() + w * static_cast<std::size_t>(y);
        const std::size_t begin = runs.size();
        std::size_t above = prevBegin; // first run of the row above that may still touch
        int x = 0;
        for (;;) {
            x = skipBackground(row, x, width);
            if (x >= width)
                break;
            const int x0 = x;
            x = skipForeground(row, x, width);
            const int x1 = x - 1;
            while (above < prevEnd && runs[above].x1 < x0 - 1)
                ++above;
            std::uint32_t label = 0;
            for (std::size_t q = above; q < prevEnd && runs[q].x0 <= x1 + 1; ++q) {
                const std::uint32_t root = findRoot(parent, runs[q].label);
                if (label == 0) {
                    label = root;
                } else if (root < label) {
                    parent[label] = root;
                    label = root;
                } else if (label < root) {
                    parent[root] = label;
                }
            }
            if (label == 0) {
                label = static_cast<std::uint32_t>(parent.size());
                parent.push_back(label);
            }
            runs.push_back(LabelRun{x0, x1, y, label});
        }
        prevBegin = begin;
        prevEnd = runs.size();
    }

    auto& index = scratch.index;
    index.assign(parent.size(), -1);
    for (const LabelRun& run : runs) {
        int& slot = index[findRoot(parent, run.label)];
        if (slot < 0) {
            slot = static_cast<int>(out.size());
            Blob b;
            b.x0 = run.x0;
            b.x1 = run.x1;
            b.y0 = b.y1 = run.y;
            b.area = run.x1 - run.x0 + 1;
            out.push_back(b);
            continue;
        }
        Blob& b = out[static_cast<std::size_t>(slot)];
        b.x0 = std::min(b.x0, run.x0);
        b.x1 = std::max(b.x1, run.x1);
        b.y1 = std::max(b.y1, run.y);
        b.area += run.x1 - run.x0 + 1;
    }
}

std::vector<Blob> labelComponents(const std::vector<std::uint8_t>& mask, int width, int height) {
    std::vector<Blob> out;
    LabelScratch scratch;
    labelComponents(mask, width, height, out, scratch);
    return out;
}

namespace {

// The large components into rows, each joining the first row it overlaps
// by half its height.
std::vector<Row> rowsOf(const std::vector<const Blob*>& large) {
    std::vector<Row> rows;
    for (const Blob* b : large) {
        Row* home = nullptr;
        for (Row& row : rows) {
            const int overlap = std::min(b->y1, row.y1) - std::max(b->y0, row.y0);
            const int span = std::min(b->y1 - b->y0, row.y1 - row.y0);
            if (overlap >= 0.5 * span) {
                home = &row;
                break;
            }
        }
        if (home) {
            home->blobs.push_back(*b);
        } else {
            Row row;
            row.y0 = b->y0;
            row.y1 = b->y1;
            row.blobs.push_back(*b);
            rows.push_back(std::move(row));
        }
    }
    for (Row& row : rows)
        row.geometry = measureRow(row.blobs);
    return rows;
}

// Rows whose tops and bottoms agree within 0.3 of a height are one row.
void mergeRows(std::vector<Row>& rows) {
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i < rows.size() && !merged; ++i) {
            for (std::size_t j = i + 1; j < rows.size() && !merged; ++j) {
                const RowGeometry& gi = rows[i].geometry;
                const RowGeometry& gj = rows[j].geometry;
                const double bound = 0.3 * std::min(gi.height, gj.height);
                if (std::abs(gi.top - gj.top) <= bound && std::abs(gi.bottom - gj.bottom) <= bound) {
                    Row& keep = rows[i];
                    keep.blobs.insert(keep.blobs.end(), rows[j].blobs.begin(), rows[j].blobs.end());
                    keep.y0 = std::min(keep.y0, rows[j].y0);
                    keep.y1 = std::max(keep.y1, rows[j].y1);
                    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(j));
                    keep.geometry = measureRow(keep.blobs);
                    merged = true;
                }
            }
        }
    }
}

// A row's components left to right, those overlapping by more than half the
// narrower one's width joined into one.
std::vector<Blob> joinOverlaps(std::vector<Blob>& blobs) {
    std::stable_sort(blobs.begin(), blobs.end(), [](const Blob& a, const Blob& b) { return a.x0 < b.x0; });
    std::vector<Blob> kept;
    kept.reserve(blobs.size());
    for (const Blob& b : blobs) {
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
    return kept;
}

} // namespace

std::vector<std::vector<Blob>> groupRows(const std::vector<Blob>& blobs, std::vector<RowGeometry>* geometry) {
    std::vector<const Blob*> large;
    std::vector<const Blob*> small;
    for (const Blob& b : blobs)
        (b.height() < 10 ? small : large).push_back(&b);
    std::stable_sort(large.begin(), large.end(), [](const Blob* a, const Blob* b) {
        const double ca = centreY(*a);
        const double cb = centreY(*b);
        if (ca != cb)
            return ca < cb;
        return a->x0 < b->x0;
    });
    std::vector<Row> rows = rowsOf(large);
    mergeRows(rows);

    // Small marks (dots, accents) join the row they sit in or just under.
    for (const Blob* mark : small) {
        const double cy = centreY(*mark);
        for (Row& row : rows) {
            const RowGeometry& g = row.geometry;
            if (cy >= g.top - 0.2 * g.height && cy <= g.bottom + 0.45 * g.height) {
                row.blobs.push_back(*mark);
                break;
            }
        }
    }

    std::stable_sort(rows.begin(), rows.end(),
                     [](const Row& a, const Row& b) { return a.geometry.top < b.geometry.top; });
    std::vector<std::vector<Blob>> result;
    result.reserve(rows.size());
    if (geometry)
        geometry->clear();
    for (Row& row : rows) {
        result.push_back(joinOverlaps(row.blobs));
        if (geometry)
            geometry->push_back(row.geometry);
    }
    return result;
}

double medianInt(std::vector<int> v) {
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    if (n % 2 == 1)
        return v[n / 2];
    return (static_cast<double>(v[n / 2 - 1]) + static_cast<double>(v[n / 2])) / 2.0;
}

} // namespace hud
