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

#if CORVEX_HUD_SSE2
// The index of the lowest set bit of a non-zero 16-bit v.
inline int lowestSetBit16(unsigned v) {
#if defined(_MSC_VER) && !defined(__clang__)
    unsigned long i = 0;
    _BitScanForward(&i, v);
    return static_cast<int>(i);
#else
    return __builtin_ctz(v);
#endif
}

// Bit k set where byte k of the 16 at p is not zero.
inline unsigned setBytes(const std::uint8_t* p) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_setzero_si128()))) & 0xFFFFu;
}
#endif

// The index of the lowest set bit of a non-zero v.
inline int lowestSetBit(std::uint64_t v) {
#if defined(_MSC_VER) && !defined(__clang__) && defined(_M_X64)
    unsigned long i = 0;
    _BitScanForward64(&i, v);
    return static_cast<int>(i);
#elif defined(__clang__) || defined(__GNUC__)
    return __builtin_ctzll(v);
#else
    int i = 0;
    for (; (v & 1u) == 0; v >>= 1)
        ++i;
    return i;
#endif
}

// The first x at or after `x` whose mask byte is set (or `width`): text masks
// are mostly background, so whole blocks of zeros are stepped over at once.
int skipBackground(const std::uint8_t* row, int x, int width) {
#if CORVEX_HUD_SSE2
    const __m128i zero = _mm_setzero_si128();
    while (x + 32 <= width) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 16));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a, b), zero)) != 0xFFFF)
            break;
        x += 32;
    }
    while (x + 16 <= width) {
        const unsigned set = setBytes(row + x);
        if (set != 0)
            return x + lowestSetBit16(set);
        x += 16;
    }
#endif
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

// The first x at or after `x` whose mask byte is clear (or `width`). The
// lowest byte the zero-byte test flags is the first clear one: no borrow
// reaches it from the set bytes below. Words are read little-endian, as on
// every target the plug-in is built for.
int skipForeground(const std::uint8_t* row, int x, int width) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHighs = 0x8080808080808080ull;
    while (x + 8 <= width) {
        std::uint64_t word;
        std::memcpy(&word, row + x, sizeof word);
        const std::uint64_t clear = (word - kOnes) & ~word & kHighs;
        if (clear != 0)
            return x + lowestSetBit(clear) / 8;
        x += 8;
    }
    while (x < width && row[x])
        ++x;
    return x;
}

constexpr int kWordBits = 64;

int rowWords(int width) {
    return (width + kWordBits - 1) / kWordBits;
}

#if CORVEX_HUD_AVX
// The whole words of floatRowBits; returns the first pixel not done.
CORVEX_HUD_TARGET_AVX int floatRowBitsAvx(const float* row, int width, float level, std::uint64_t* words) {
    const __m256 at = _mm256_set1_ps(level);
    int x = 0;
    for (; x + kWordBits <= width; x += kWordBits) {
        __m256 above[8];
        __m256 any = _mm256_setzero_ps();
        for (int k = 0; k < 8; ++k) {
            above[k] = _mm256_cmp_ps(_mm256_loadu_ps(row + x + 8 * k), at, _CMP_GT_OQ);
            any = _mm256_or_ps(any, above[k]);
        }
        std::uint64_t set = 0;
        // Most words of a frame hold nothing above the level.
        if (!_mm256_testz_ps(any, any))
            for (int k = 0; k < 8; ++k)
                set |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm256_movemask_ps(above[k])))
                       << (8 * k);
        words[x / kWordBits] = set;
    }
    _mm256_zeroupper();
    return x;
}
#endif

// The row's values above `level` (NaN is not above) as bits, pixel x at bit
// x % 64 of word x / 64, the bits past the row's end clear: runs are then
// found a word at a time, however long the stretches of background or of
// ink, without a mask to write and read back.
void floatRowBits(const float* row, int width, float level, std::uint64_t* words) {
    int x = 0;
#if CORVEX_HUD_AVX
    if (detail::haveAvx())
        x = floatRowBitsAvx(row, width, level, words);
#endif
#if CORVEX_HUD_SSE2
    const __m128 at = _mm_set1_ps(level);
    for (; x + kWordBits <= width; x += kWordBits) {
        std::uint64_t set = 0;
        for (int k = 0; k < 16; ++k) {
            const __m128 above = _mm_cmpgt_ps(_mm_loadu_ps(row + x + 4 * k), at);
            set |= static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_ps(above))) << (4 * k);
        }
        words[x / kWordBits] = set;
    }
#endif
    for (; x < width; x += kWordBits) {
        std::uint64_t set = 0;
        const int n = std::min(kWordBits, width - x);
        for (int k = 0; k < n; ++k)
            set |= static_cast<std::uint64_t>(row[x + k] > level) << k;
        words[x / kWordBits] = set;
    }
}

// The first x at or after `x` whose bit is set, or `width`.
int nextSet(const std::uint64_t* words, int count, int x, int width) {
    int i = x / kWordBits;
    if (i >= count)
        return width;
    std::uint64_t v = words[i] & (~std::uint64_t{0} << (x % kWordBits));
    while (v == 0) {
        if (++i == count)
            return width;
        v = words[i];
    }
    return i * kWordBits + lowestSetBit(v);
}

// The first x at or after `x` whose bit is clear, or `width`: the bits past
// the row's end are clear.
int nextClear(const std::uint64_t* words, int count, int x, int width) {
    int i = x / kWordBits;
    if (i >= count)
        return width;
    std::uint64_t v = ~words[i] & (~std::uint64_t{0} << (x % kWordBits));
    while (v == 0) {
        if (++i == count)
            return width;
        v = ~words[i];
    }
    return std::min(i * kWordBits + lowestSetBit(v), width);
}

double centreY(const Blob& b) {
    return (b.y0 + b.y1) / 2.0;
}

// Runs of set pixels are labelled rather than pixels: a run touches a run of
// the row above when their spans, widened by one pixel for the diagonal
// neighbours, overlap. Both passes then cost per run, not per pixel, and
// the blobs come out in the raster order of their first pixel, which lies
// in their first run. rowRuns.each(y, take) calls take(x0, x1) for each run
// of row y, left to right.
template <typename Runs>
void labelRows(int height, Runs rowRuns, std::vector<Blob>& out, LabelScratch& scratch) {
    auto& runs = scratch.runs;
    auto& parent = scratch.parent;
    runs.clear();
    parent.clear();
    parent.push_back(0);

    std::size_t prevBegin = 0;
    std::size_t prevEnd = 0;
    for (int y = 0; y < height; ++y) {
        const std::size_t begin = runs.size();
        std::size_t above = prevBegin; // first run of the row above that may still touch
        rowRuns.each(y, [&](const int x0, const int x1) {
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
        });
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

// The runs of a byte mask's rows: text masks are mostly background, which
// is stepped over in blocks.
struct MaskRuns {
    const std::uint8_t* mask;
    int width;

    template <typename Take> void each(int y, Take&& take) const {
        const std::uint8_t* row = mask + static_cast<std::size_t>(width) * static_cast<std::size_t>(y);
        int x = 0;
        for (;;) {
            x = skipBackground(row, x, width);
            if (x >= width)
                break;
            const int x0 = x;
            x = skipForeground(row, x, width);
            take(x0, x - 1);
        }
    }
};

// The runs of a plane's values above a level, from the rows as bits.
struct AboveRuns {
    const float* values;
    int width;
    float level;
    std::uint64_t* words;

    template <typename Take> void each(int y, Take&& take) const {
        const int count = rowWords(width);
        floatRowBits(values + static_cast<std::size_t>(width) * static_cast<std::size_t>(y), width, level,
                     words);
        int x = 0;
        for (;;) {
            x = nextSet(words, count, x, width);
            if (x >= width)
                break;
            const int x0 = x;
            x = nextClear(words, count, x, width);
            take(x0, x - 1);
        }
    }
};

} // namespace

void labelComponents(const std::vector<std::uint8_t>& mask, int width, int height, std::vector<Blob>& out,
                     LabelScratch& scratch) {
    out.clear();
    if (!sizeAcceptable(width, height) || mask.size() < area(width, height))
        return;
    labelRows(height, MaskRuns{mask.data(), width}, out, scratch);
}

void labelAbove(const Plane& values, float level, std::vector<Blob>& out, LabelScratch& scratch) {
    out.clear();
    if (!sizeAcceptable(values.width, values.height) ||
        values.pixels.size() < area(values.width, values.height))
        return;
    scratch.bits.resize(static_cast<std::size_t>(rowWords(values.width)));
    labelRows(values.height, AboveRuns{values.pixels.data(), values.width, level, scratch.bits.data()}, out,
              scratch);
}

std::vector<Blob> labelComponents(const std::vector<std::uint8_t>& mask, int width, int height) {
    std::vector<Blob> out;
    LabelScratch scratch;
    labelComponents(mask, width, height, out, scratch);
    return out;
}

namespace {

// Upper medians of the members' y0 and y1 (0 x 0 for no member).
RowGeometry measureRow(const std::vector<Blob>& blobs, RowGroups& s) {
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

RowGroups::Line& newLine(RowGroups& s) {
    if (s.used == s.work.size())
        s.work.emplace_back();
    RowGroups::Line& line = s.work[s.used++];
    line.blobs.clear();
    return line;
}

// The large components into lines, each joining the first line it overlaps
// by half its height.
void rowsOf(RowGroups& s) {
    s.used = 0;
    for (const Blob* b : s.large) {
        RowGroups::Line* home = nullptr;
        for (std::size_t k = 0; k < s.used; ++k) {
            RowGroups::Line& line = s.work[k];
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
        s.work[k].geometry = measureRow(s.work[k].blobs, s);
}

// Lines whose tops and bottoms agree within 0.3 of a height are one line.
// A merged line's buffer moves behind the used ones instead of being freed.
void mergeRows(RowGroups& s) {
    for (bool merged = true; merged;) {
        merged = false;
        for (std::size_t i = 0; i < s.used && !merged; ++i) {
            for (std::size_t j = i + 1; j < s.used && !merged; ++j) {
                const RowGeometry& gi = s.work[i].geometry;
                const RowGeometry& gj = s.work[j].geometry;
                const double bound = 0.3 * std::min(gi.height, gj.height);
                if (std::abs(gi.top - gj.top) <= bound && std::abs(gi.bottom - gj.bottom) <= bound) {
                    RowGroups::Line& keep = s.work[i];
                    RowGroups::Line& gone = s.work[j];
                    keep.blobs.insert(keep.blobs.end(), gone.blobs.begin(), gone.blobs.end());
                    keep.y0 = std::min(keep.y0, gone.y0);
                    keep.y1 = std::max(keep.y1, gone.y1);
                    std::rotate(s.work.begin() + static_cast<std::ptrdiff_t>(j),
                                s.work.begin() + static_cast<std::ptrdiff_t>(j + 1),
                                s.work.begin() + static_cast<std::ptrdiff_t>(s.used));
                    --s.used;
                    keep.geometry = measureRow(keep.blobs, s);
                    merged = true;
                }
            }
        }
    }
}

// One line's components left to right (by x0, ties in their order), those
// overlapping by more than half the narrower one's width joined into one.
void joinOverlaps(const std::vector<Blob>& blobs, RowGroups& s, std::vector<Blob>& kept) {
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

void groupRows(const std::vector<Blob>& blobs, RowGroups& s) {
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
    rowsOf(s);
    mergeRows(s);

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
        const RowGroups::Line& line = s.work[s.order[k]];
        joinOverlaps(line.blobs, s, s.lines[k]);
        s.geometry.push_back(line.geometry);
    }
}

std::vector<std::vector<Blob>> groupRows(const std::vector<Blob>& blobs, std::vector<RowGeometry>* geometry) {
    RowGroups groups;
    groupRows(blobs, groups);
    groups.lines.resize(groups.count);
    if (geometry)
        *geometry = std::move(groups.geometry);
    return std::move(groups.lines);
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
