#include "hud/feed/feed.h"
#include "hud/feed/select.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace hud {

namespace {

constexpr std::string_view kDigits = "0123456789";
constexpr std::size_t kMaxFigures = 4;

// The figures' own reading: a weaker or barely decided figure is a misread.
constexpr float kMinFigureScore = 0.7f;
constexpr float kMinFigureLead = 0.02f;
constexpr float kMScore = 0.75f;
constexpr float kSplitPenalty = 0.08f;
// A "1" is narrow, in name caps; a wider piece read as "1" is a misread,
// unless no reading was found with the narrow bound.
constexpr double kWideOneWidth = 0.55;

// Names: what counts as the squad colour and as the plain white of a name.
constexpr float kSquadWarmth = 0.28f;
constexpr float kWhiteWarmth = 0.18f;
constexpr float kWhiteSaturation = 0.28f;
constexpr float kTooBright = 210.0f;
// The player's own name reads about 205, everyone else's about 170.
constexpr float kOwnWhite = 185.0f;

constexpr float kIconMinScore = 0.55f;
constexpr float kIconMinLead = 0.05f;
constexpr int kIconShift = 4;
constexpr const char* kSkull = "skull";

enum BracketKind { kNoBracket = 0, kOpening = 1, kClosing = 2, kBar = 3 };

std::size_t at(int x, int y, int w) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
}

int floorInt(double v) {
    if (!(v > -1e9))
        return -1000000000;
    if (!(v < 1e9))
        return 1000000000;
    return static_cast<int>(std::floor(v));
}

bool rowUsable(const RowCtx& ctx) {
    if (!ctx.planes)
        return false;
    const FramePlanes& p = *ctx.planes;
    const FrameView& f = ctx.frame;
    return f.valid() && p.frame.width == f.width && p.frame.height == f.height &&
           p.mask.size() >= at(0, f.height, f.width) && ctx.cap > 0.0 && std::isfinite(ctx.cap) &&
           std::isfinite(ctx.top) && std::isfinite(ctx.bottom);
}

float lumaOf(const std::uint8_t* px) {
    return static_cast<float>(px[2]) * 0.299f + static_cast<float>(px[1]) * 0.587f +
           static_cast<float>(px[0]) * 0.114f;
}

// Up to this many values nth_element alone is quicker than the histogram
// (a letter's few hundred pixels; clearing and walking 256 buckets costs
// more than the selection).
constexpr std::size_t kSelectDirectly = 384;

// The k-th smallest value (0-based), as nth_element finds it, reordering v.
// Names have a few thousand pixels: a histogram of 256 buckets between the
// extremes finds the bucket that holds it, and only that bucket is sorted.
float kthSmallest(std::vector<float>& v, std::size_t k) {
    if (v.size() <= kSelectDirectly) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(k), v.end());
        return v[k];
    }
    const auto range = std::minmax_element(v.begin(), v.end());
    const float lo = *range.first;
    const float hi = *range.second;
    if (!(hi > lo))
        return lo;
    constexpr int kBuckets = 256;
    // Monotonic in the value: a smaller value never lands in a later bucket.
    const float scale = static_cast<float>(kBuckets) / (hi - lo);
    auto bucketOf = [&](float x) { return std::min(static_cast<int>((x - lo) * scale), kBuckets - 1); };
    std::size_t counts[kBuckets] = {};
    for (float x : v)
        ++counts[bucketOf(x)];
    int b = 0;
    std::size_t below = 0;
    while (below + counts[b] <= k)
        below += counts[b++];
    thread_local std::vector<float> inside;
    inside.clear();
    for (float x : v)
        if (bucketOf(x) == b)
            inside.push_back(x);
    const std::size_t at = k - below;
    std::nth_element(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(at), inside.end());
    return inside[at];
}

float upperMedian(std::vector<float>& v) {
    if (v.empty())
        return 0.0f;
    return kthSmallest(v, v.size() / 2);
}

const detail::Templates& figureTemplates(const RowCtx& ctx) {
    static const detail::Templates none;
    if (ctx.killData && !ctx.killData->digits.byChar.empty())
        return ctx.killData->digits;
    return ctx.model ? ctx.model->glyphs : none;
}

// ---------------------------------------------------------------- brackets

int bracketKind(const RowCtx& ctx, const Blob& b) {
    const double m = ctx.cap;
    const int hh = b.height();
    const int ww = b.width();
    if (hh < 1.08 * m || hh > 1.7 * m || ww > 0.5 * m || ww < 2)
        return kNoBracket;
    const FrameView& f = ctx.frame;
    if (b.x0 < 0 || b.y0 < 0 || b.x1 >= f.width || b.y1 >= f.height)
        return kNoBracket;
    const std::uint8_t* mask = ctx.planes->mask.data();
    const int q = hh / 4;
    const int ya = b.y0 + q;
    const int yb = b.y1 - q;
    long long sum = 0;
    int pixels = 0;
    int inkRows = 0;
    for (int y = ya; y <= yb; ++y) {
        bool any = false;
        for (int x = b.x0; x <= b.x1; ++x)
            if (mask[at(x, y, f.width)]) {
                sum += x;
                ++pixels;
                any = true;
            }
        inkRows += any ? 1 : 0;
    }
    if (pixels == 0 || inkRows < 0.8 * (yb - ya + 1))
        return kNoBracket;
    const double middle = static_cast<double>(sum) / pixels;
    long long endSum = 0;
    int endPixels = 0;
    const int ends[4] = {b.y0, b.y0 + 1, b.y1 - 1, b.y1};
    for (int y : ends)
        for (int x = b.x0; x <= b.x1; ++x)
            if (mask[at(x, y, f.width)]) {
                endSum += x;
                ++endPixels;
            }
    const double end = endPixels > 0 ? static_cast<double>(endSum) / endPixels : middle;
    if (std::abs(end - middle) >= 0.6)
        return end > middle ? kOpening : kClosing;
    if (hh >= 1.2 * m && ww <= 0.35 * m)
        return kBar;
    return kNoBracket;
}

// Whether the columns before an opening bracket hold at least `needed`
// pixels near white: every channel at least `floor`, and (for the grey of
// blurred icons) no tint beyond `spread`. The count stops once it is
// reached.
bool whiteBefore(const RowCtx& ctx, const Blob& open, int floor, int spread, double needed) {
    const double m = ctx.cap;
    const FrameView& f = ctx.frame;
    const int xa = std::max(0, floorInt(open.x0 - 3.0 * m));
    const int xb = std::min(f.width - 1, open.x0 - 1);
    const int ya = std::max(0, floorInt(ctx.top - 0.5 * m));
    const int yb = std::min(f.height - 1, floorInt(ctx.bottom + 0.5 * m));
    int white = 0;
    for (int y = ya; y <= yb && xa <= xb; ++y) {
        const std::uint8_t* px = framePixel(f, xa, y);
        for (int x = xa; x <= xb; ++x, px += 4) {
            const int lo = std::min(px[0], std::min(px[1], px[2]));
            const int hi = std::max(px[0], std::max(px[1], px[2]));
            white += lo >= floor && hi - lo <= spread ? 1 : 0;
        }
        if (white >= needed)
            return true;
    }
    return white >= needed;
}

// The weapon icon stands right before the distance: bright white pixels, or
// a component of an icon's size, ending just left of the bracket.
bool iconBefore(const RowCtx& ctx, const Blob& open) {
    const double m = ctx.cap;
    const int fromX = floorInt(open.x0 - 3.0 * m);
    const int toX = open.x0 - 1;
    if (whiteBefore(ctx, open, 215, 255, 0.25 * m * m))
        return true;
    for (const Blob& c : ctx.comps) {
        if (c.x1 < fromX || c.x1 > toX)
            continue;
        const double w = c.width();
        const double h = c.height();
        if ((w >= m && h >= 0.75 * m) || (h >= 1.35 * m && w >= 0.6 * m))
            return true;
    }
    return false;
}

// Second look for the icon, only when the first found none: a blurred
// stream greys the game's ribbed icons below the first look's white and
// breaks them out of the text mask. Their grey still stands above the names
// of everyone but the player, and stays untinted.
bool greyIconBefore(const RowCtx& ctx, const Blob& open) {
    const double m = ctx.cap;
    return whiteBefore(ctx, open, 175, 40, 0.25 * m * m);
}

// Third look, only when neither found the icon: an icon drawn mostly in
// thin strokes (the machine gun at 1080 lines) keeps too few pixels above
// the grey look's floor. Its near-white still counts where no letter stands:
// the boxes of the letter-sized components are left out, so the grey names
// of the other players add nothing. Names are capitals and digits, whose
// tops stand at the cap top: a piece as tall that starts well below it (the
// machine gun's box) is the icon's.
bool strokeIconBefore(const RowCtx& ctx, const Blob& open) {
    const double m = ctx.cap;
    const FrameView& f = ctx.frame;
    const int xa = std::max(0, floorInt(open.x0 - 3.0 * m));
    const int xb = std::min(f.width - 1, open.x0 - 1);
    const int ya = std::max(0, floorInt(ctx.top - 0.5 * m));
    const int yb = std::min(f.height - 1, floorInt(ctx.bottom + 0.5 * m));
    if (xa > xb || ya > yb)
        return false;
    thread_local std::vector<std::uint8_t> letter;
    letter.assign(static_cast<std::size_t>(xb - xa + 1), 0);
    const int width = xb - xa + 1;
    int white = 0;
    for (int y = ya; y <= yb; ++y) {
        std::fill(letter.begin(), letter.end(), 0);
        for (const Blob& c : ctx.comps) {
            if (c.x1 < xa || c.x0 > xb || y < c.y0 || y > c.y1 || c.height() < 0.75 * m ||
                c.width() > 1.2 * m || c.y0 > ctx.top + 0.15 * m)
                continue;
            for (int x = std::max(c.x0, xa); x <= std::min(c.x1, xb); ++x)
                letter[static_cast<std::size_t>(x - xa)] = 1;
        }
        const std::uint8_t* px = framePixel(f, xa, y);
        for (int i = 0; i < width; ++i, px += 4) {
            const int lo = std::min(px[0], std::min(px[1], px[2]));
            const int hi = std::max(px[0], std::max(px[1], px[2]));
            white += !letter[static_cast<std::size_t>(i)] && lo >= 150 && hi - lo <= 60 ? 1 : 0;
        }
    }
    return white >= 0.25 * m * m;
}

// ---------------------------------------------------------------- figures

struct Piece {
    bool measured = false;
    bool done = false;
    bool valid = false;
    bool isM = false;
    bool digitShape = false; // tall and narrow enough to be a figure
    bool classified = false; // character, best and second hold the figure reading
    char character = '?';
    float best = kNoScore;
    float second = kNoScore;
    int tx0 = 0, ty0 = 0, tx1 = 0, ty1 = 0;
    int ww = 0, hh = 0, fullest = 0, pixels = 0;
    int to = 0; // the cut position the piece ends at (exclusive)
};

// One continuation of a reading from a cut: the pieces up to the end.
struct Reading {
    bool valid = false;
    float lowest = 1.0f;
    float lead = 1.0f;
    int splits = 0;
    float score = 1.0f;
    int next = -1;  // end cut of the first piece; -1: the reading ends here
    bool m = false; // that piece is the "m", and the reading ends after it
};

struct FigureScratch {
    std::vector<int> profile;
    std::vector<int> lastInkBefore; // per column: the last ink column before it, or -1
    std::vector<int> cuts;
    std::vector<std::uint8_t> inside; // the cut splits a run of ink
    std::vector<Piece> pieces;
    std::vector<Reading> memo;
    std::vector<std::uint8_t> memoDone;
    float cell[kGlyphCellLength];
};

struct FigureSearch {
    const RowCtx& ctx;
    const detail::Templates& templates;
    FigureScratch& s;
    double top = 0.0;
    double bottom = 0.0;
    int xa = 0;
    int ya = 0;
    int yb = 0;
    int lastInk = 0;
    std::size_t span = 0;
    bool debug = false;
    std::string* trace = nullptr;
    double oneWidth = kOneWidth;

    int cutCount() const { return static_cast<int>(s.cuts.size()); }
    int column(int x) const { return s.profile[static_cast<std::size_t>(x - xa)]; }
    // The last column with ink before cut position x.
    int inkBefore(int x) const { return s.lastInkBefore[static_cast<std::size_t>(x - xa)]; }

    // Pieces are at most 1.3 cap wide and cut positions are distinct, so j
    // is less than `span` cuts after i.
    Piece& slot(int i, int j) {
        return s.pieces[static_cast<std::size_t>(i) * span + static_cast<std::size_t>(j - i)];
    }

    const Piece& piece(int i, int j) {
        Piece& p = slot(i, j);
        if (!p.measured)
            measure(i, j, p);
        if (p.digitShape && !p.classified) {
            figureCell(*ctx.planes, box(p), top, bottom, s.cell);
            setFigure(p, classifyFigureCell(s.cell, templates, ctx.killData));
        }
        if (!p.done)
            finish(p);
        return p;
    }

    static Blob box(const Piece& p) { return Blob{p.tx0, p.ty0, p.tx1, p.ty1, p.pixels, false}; }

    // Columns [cut i, cut j) of the band, trimmed to their ink.
    void measure(int i, int j, Piece& p) {
        const int from = s.cuts[static_cast<std::size_t>(i)];
        const int to = s.cuts[static_cast<std::size_t>(j)];
        const FrameView& f = ctx.frame;
        const std::uint8_t* mask = ctx.planes->mask.data();
        int x0 = -1;
        int x1 = -1;
        int fullest = 0;
        for (int x = from; x < to; ++x) {
            const int c = column(x);
            if (c == 0)
                continue;
            x0 = x0 < 0 ? x : x0;
            x1 = x;
            fullest = std::max(fullest, c);
        }
        int y0 = -1;
        int y1 = -1;
        int pixels = 0;
        if (x0 >= 0) {
            for (int y = ya; y <= yb; ++y) {
                int row = 0;
                for (int x = x0; x <= x1; ++x)
                    row += mask[at(x, y, f.width)];
                if (row == 0)
                    continue;
                y0 = y0 < 0 ? y : y0;
                y1 = y;
                pixels += row;
            }
        }
        p.measured = true;
        p.to = to;
        p.tx0 = x0 < 0 ? from : x0;
        p.tx1 = x0 < 0 ? to - 1 : x1;
        p.ty0 = y0;
        p.ty1 = y1;
        p.ww = x0 < 0 ? 0 : x1 - x0 + 1;
        p.hh = y0 < 0 ? 0 : y1 - y0 + 1;
        p.fullest = fullest;
        p.pixels = pixels;
        const double cap = ctx.cap;
        p.digitShape = pixels >= 4 && p.hh >= 0.82 * cap && p.ww >= 0.18 * cap && p.ww <= 0.75 * cap;
    }

    void setFigure(Piece& p, const GlyphClass& g) {
        const double cap = ctx.cap;
        p.classified = true;
        p.character = g.character;
        p.best = g.score;
        p.second = g.second;
        const bool digit = g.character >= '0' && g.character <= '9';
        p.valid = digit && ((g.character != '1' && p.ww >= 0.4 * cap) ||
                            (g.character == '1' && p.ww <= oneWidth * cap && p.fullest >= 0.7 * p.hh));
    }

    // The "m" where no figure was read, and the trace.
    void finish(Piece& p) {
        const double cap = ctx.cap;
        // The "m" closes the figures, so it may only be the last piece.
        const bool mAllowed = p.to > lastInk;
        if (p.pixels >= 4 && !p.valid && mAllowed && p.hh >= 0.2 * cap && p.hh <= 0.9 * cap &&
            p.ww >= 0.4 * cap && p.ww <= 1.3 * cap && p.ty1 >= bottom - 0.25 * cap) {
            const detail::TemplateList* mList = templates.find('m');
            p.character = 'm';
            p.second = kNoScore;
            if (mList && p.ww >= 0.45 * cap) {
                figureCell(*ctx.planes, box(p), top, bottom, s.cell);
                p.best = bestTemplateScore(s.cell, *mList, kGlyphCellLength);
                p.valid = p.best >= kMScore;
            } else {
                p.best = kMScore;
                p.valid = true;
            }
            p.isM = p.valid;
        }
        p.done = true;
        if (debug)
            detail::appendTrace(*trace, "    piece %d-%d %dx%d: %s %c %.2f/%.2f\n", p.tx0, p.tx1, p.ww, p.hh,
                                p.valid ? "ok" : "no", p.character, static_cast<double>(p.best),
                                static_cast<double>(p.second));
    }

    // The first cut at or after `e` from which a piece starts on ink.
    int startFrom(int e) const {
        int s0 = e;
        while (s0 + 1 < cutCount()) {
            const int a = s.cuts[static_cast<std::size_t>(s0)];
            const int b = s.cuts[static_cast<std::size_t>(s0 + 1)];
            bool ink = false;
            for (int x = a; x < b && !ink; ++x)
                ink = column(x) > 0;
            if (ink)
                break;
            ++s0;
        }
        return s0;
    }

    // The best continuation after a piece that ended at cut e (or from the
    // first cut when `first`), with `figures` figures already read.
    const Reading& best(int e, std::size_t figures, bool first) {
        const std::size_t key = static_cast<std::size_t>(e) * (kMaxFigures + 1) + figures;
        if (!first && s.memoDone[key])
            return s.memo[key];
        Reading chosen;
        const int prevEnd = first ? -1 : inkBefore(s.cuts[static_cast<std::size_t>(e)]);
        const double cap = ctx.cap;
        const int from = first ? 0 : startFrom(e);
        const int fromX = s.cuts[static_cast<std::size_t>(from)];
        for (int t = from + 1; t < cutCount(); ++t) {
            if (s.cuts[static_cast<std::size_t>(t)] - fromX > 1.3 * cap)
                break;
            // Past the end of a run the piece only gains empty columns: it
            // trims to the piece that ends at the run's end.
            if (t > from + 1 && column(s.cuts[static_cast<std::size_t>(t) - 1]) == 0)
                continue;
            const Piece& p = piece(from, t);
            if (!p.valid)
                continue;
            if (!first && p.tx0 - prevEnd - 1 > (p.isM ? 0.7 : 0.35) * cap)
                continue;
            Reading r;
            if (p.isM) {
                if (figures == 0)
                    continue;
                r.valid = true;
                r.m = true;
                r.next = t;
            } else {
                if (figures + 1 > kMaxFigures)
                    continue;
                const Reading& rest = best(t, figures + 1, false);
                if (!rest.valid)
                    continue;
                r.valid = true;
                r.lowest = std::min(p.best, rest.lowest);
                r.lead = std::min(p.best - p.second, rest.lead);
                r.splits = rest.splits + s.inside[static_cast<std::size_t>(t)];
                r.next = t;
            }
            r.score = r.lowest - kSplitPenalty * static_cast<float>(r.splits);
            if (!chosen.valid || r.score > chosen.score)
                chosen = r;
        }
        // Stopping short: the reading may leave a little ink unread at the
        // end (an "m" it could not place), never more than 1.5 cap. Only
        // when nothing reads on: an empty ending scores a perfect 1, so as a
        // rival it would cut "21m" to "2" whenever the "1" scores below 1.
        if (!first && figures > 0 && !chosen.valid && lastInk - prevEnd <= 1.5 * cap) {
            chosen.valid = true;
            chosen.next = -1;
        }
        if (first) {
            s.memo.back() = chosen;
            return s.memo.back();
        }
        s.memo[key] = chosen;
        s.memoDone[key] = 1;
        return s.memo[key];
    }
};

} // namespace

namespace {

// What the bounds allow for the rounding of the float sums: far above it,
// far below the gaps between the scores that the pruning relies on.
constexpr float kBoundSlack = 1e-3f;
constexpr std::size_t kDotBlock = 8;

const DigitBounds* boundsFor(const KillData& data, signed char key, const detail::TemplateList& list) {
    for (const DigitBounds& b : data.digitBounds)
        if (b.key == key)
            return b.count == list.size() && b.sums.size() == list.size() * kDigitCoarseLength &&
                           b.rest.size() == list.size()
                       ? &b
                       : nullptr;
    return nullptr;
}

struct FigureCandidate {
    char character = '?';
    const detail::TemplateList* list = nullptr;
    std::size_t first = 0; // into FigureBoundScratch::bounds
    std::size_t top = 0;   // the template of the highest bound
    float bound = kNoScore;
    float score = kNoScore;
    bool scored = false;
};

struct FigureBoundScratch {
    std::vector<float> bounds;      // per candidate, per template
    std::vector<std::size_t> order; // per candidate, its templates from the highest bound down
    std::vector<const float*> pointers;
};

} // namespace

// The candidates are scored exactly from the highest bound down, and only
// while a candidate's bound still reaches the second best exact score,
// which is all the classification reads; within a candidate, a template
// whose bound stays below the candidate's best so far (or that second best)
// cannot change what is read either. The characters are then ranked in the
// order of the digits, as classifyGlyph ranks them, so ties resolve alike.
GlyphClass classifyFigureCell(const float* cell, const detail::Templates& templates,
                              const KillData* killData) {
    constexpr std::size_t kMost = kDigits.size();
    if (!killData || &templates != &killData->digits || killData->digitBounds.empty())
        return classifyGlyph(cell, templates, kDigits);
    thread_local FigureBoundScratch s;
    FigureCandidate cands[kMost];
    std::size_t n = 0;
    alignas(32) float coarse[kDigitCoarseLength];
    const float rest = coarsenCell(cell, kGlyphCellSide, kGlyphCellSide, coarse);
    s.bounds.clear();
    for (char c : kDigits) {
        const detail::TemplateList* list = templates.find(c);
        if (!list)
            continue;
        const DigitBounds* b = boundsFor(*killData, static_cast<signed char>(c), *list);
        if (!b)
            return classifyGlyph(cell, templates, kDigits);
        FigureCandidate& cand = cands[n++];
        cand.character = c;
        cand.list = list;
        cand.first = s.bounds.size();
        const std::size_t count = list->size();
        s.bounds.resize(cand.first + count);
        s.pointers.resize(count);
        for (std::size_t t = 0; t < count; ++t)
            s.pointers[t] = b->sums.data() + t * kDigitCoarseLength;
        if (count > 0)
            dotMany(coarse, s.pointers.data(), count, kDigitCoarseLength, s.bounds.data() + cand.first);
        for (std::size_t t = 0; t < count; ++t) {
            float& bound = s.bounds[cand.first + t];
            bound += rest * b->rest[t] + kBoundSlack;
            if (!std::isfinite(bound))
                return classifyGlyph(cell, templates, kDigits);
            if (bound > cand.bound) {
                cand.bound = bound;
                cand.top = t;
            }
        }
    }

    // Insertion: ten candidates at most, and no buffer to allocate.
    std::size_t ranked[kMost];
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t j = i;
        for (; j > 0 && cands[ranked[j - 1]].bound < cands[i].bound; --j)
            ranked[j] = ranked[j - 1];
        ranked[j] = i;
    }
    float top1 = kNoScore;
    float top2 = kNoScore;
    std::size_t exact = 0;
    for (std::size_t o = 0; o < n; ++o) {
        FigureCandidate& cand = cands[ranked[o]];
        if (exact >= 2 && cand.bound < top2)
            break; // and so is every one after it
        const std::size_t count = cand.list->size();
        const float* bounds = s.bounds.data() + cand.first;
        // The template of the highest bound first, for a high floor early;
        // then the others in their order, in blocks, each block leaving out
        // what the floor so far rules out.
        float best = kNoScore;
        if (count > 0) {
            const float* one[1] = {(*cand.list)[cand.top].data()};
            dotMany(cell, one, 1, static_cast<std::size_t>(kGlyphCellLength), &best);
        }
        std::size_t next = 0;
        while (next < count) {
            const float floor = std::max(best, exact >= 2 ? top2 : kNoScore);
            const float* block[kDotBlock];
            std::size_t m = 0;
            for (; next < count && m < kDotBlock; ++next)
                if (next != cand.top && bounds[next] >= floor)
                    block[m++] = (*cand.list)[next].data();
            if (m == 0)
                break;
            float scores[kDotBlock];
            dotMany(cell, block, m, static_cast<std::size_t>(kGlyphCellLength), scores);
            for (std::size_t q = 0; q < m; ++q)
                best = std::max(best, scores[q]);
        }
        cand.score = best;
        cand.scored = true;
        ++exact;
        if (best > top1) {
            top2 = top1;
            top1 = best;
        } else if (best > top2) {
            top2 = best;
        }
    }

    GlyphClass result;
    for (std::size_t i = 0; i < n; ++i) {
        if (!cands[i].scored)
            continue;
        const float sc = cands[i].score;
        if (sc > result.score) {
            result.second = result.score;
            result.score = sc;
            result.character = cands[i].character;
        } else if (sc > result.second) {
            result.second = sc;
        }
    }
    return result;
}

void figureCell(const FramePlanes& planes, const Blob& piece, double top, double bottom, float* out) {
    sampleGlyphCell(planes.ink, piece, top, bottom, bottom - top + 1.0, out);
    normalizeVector(out, kGlyphCellLength);
}

namespace {

// The band's ink per column and the cut positions: both ends of every run of
// ink, and inside a run wider than a figure each valley of the profile.
// Returns the last column with ink, or -1 when there is none.
int findFigureCuts(const RowCtx& ctx, int xa, int xb, int ya, int yb, double h, FigureScratch& s) {
    const FrameView& f = ctx.frame;
    const int n = xb - xa + 1;
    s.profile.assign(static_cast<std::size_t>(n) + 1, 0); // one empty column closes the last run
    const std::uint8_t* mask = ctx.planes->mask.data();
    for (int y = ya; y <= yb; ++y) {
        const std::uint8_t* row = mask + at(xa, y, f.width);
        for (int x = 0; x < n; ++x)
            s.profile[static_cast<std::size_t>(x)] += row[x];
    }
    s.cuts.clear();
    s.inside.clear();
    int lastInk = -1;
    for (int x = 0; x < n;) {
        if (s.profile[static_cast<std::size_t>(x)] == 0) {
            ++x;
            continue;
        }
        int e = x;
        while (e + 1 < n && s.profile[static_cast<std::size_t>(e) + 1] > 0)
            ++e;
        s.cuts.push_back(xa + x);
        s.inside.push_back(0);
        // A wide run is several figures touching: try each valley.
        if (e - x + 1 > 0.72 * h) {
            for (int c = x + 2; c <= e - 2; ++c) {
                const int v = s.profile[static_cast<std::size_t>(c)];
                if (v <= s.profile[static_cast<std::size_t>(c) - 1] &&
                    v <= s.profile[static_cast<std::size_t>(c) + 1]) {
                    s.cuts.push_back(xa + c);
                    s.inside.push_back(1);
                }
            }
        }
        s.cuts.push_back(xa + e + 1);
        s.inside.push_back(0);
        lastInk = xa + e;
        x = e + 1;
    }
    return lastInk;
}

void traceCuts(std::string& trace, int xa, int xb, double top, double bottom, const FigureScratch& s) {
    detail::appendTrace(trace, "  figures x%d-%d band %.0f-%.0f: cols", xa, xb, top, bottom);
    for (int x = 0; x < xb - xa + 1; ++x)
        detail::appendTrace(trace, " %d", s.profile[static_cast<std::size_t>(x)]);
    trace += "\n  cuts";
    for (int c : s.cuts)
        detail::appendTrace(trace, " %d", c);
    trace += '\n';
}

// The search's tables for `n` columns: the last ink before each column, the
// pieces between cuts and the memo of best continuations.
void prepareSearch(const RowCtx& ctx, int xa, int n, FigureScratch& s, std::size_t& span) {
    // A run ends before an empty column and the next one starts after it,
    // so the cut positions are distinct and ascending.
    s.lastInkBefore.assign(static_cast<std::size_t>(n) + 2, -1);
    for (int x = 1; x <= n + 1; ++x) {
        const int prev = x - 1;
        s.lastInkBefore[static_cast<std::size_t>(x)] =
            prev < n && s.profile[static_cast<std::size_t>(prev)] > 0
                ? xa + prev
                : s.lastInkBefore[static_cast<std::size_t>(prev)];
    }
    const std::size_t cuts = s.cuts.size();
    span = std::min(cuts, static_cast<std::size_t>(1.3 * ctx.cap) + 2);
    s.pieces.assign(cuts * span, Piece{});
    s.memo.assign(cuts * (kMaxFigures + 1) + 1, Reading{});
    s.memoDone.assign(cuts * (kMaxFigures + 1), 0);
}

// Walks the chosen pieces again from the first cut into `out`.
void collectFigures(FigureSearch& search, const Reading& first, Figures& out) {
    const FigureScratch& s = search.s;
    out.found = true;
    out.lowest = first.lowest;
    out.lead = first.lead;
    // A distance has at most kMaxFigures figures: one allocation for them.
    out.glyphs.reserve(kMaxFigures);
    int from = 0;
    std::size_t figures = 0;
    Reading r = first;
    while (r.next >= 0) {
        const Piece& p = search.slot(from, r.next);
        if (r.m) {
            out.text += 'm';
            out.mX0 = p.tx0;
            out.mX1 = p.tx1;
            break;
        }
        out.text += p.character;
        out.glyphs.emplace_back(p.tx0, p.tx1);
        ++figures;
        const int to = r.next;
        r = s.memo[static_cast<std::size_t>(to) * (kMaxFigures + 1) + figures];
        from = search.startFrom(to);
    }
}

} // namespace

Figures readFigures(const RowCtx& ctx, int fromX, int toX, double top, double bottom,
                    const detail::Templates& templates, double oneWidth) {
    Figures out;
    if (!rowUsable(ctx) || !std::isfinite(top) || !std::isfinite(bottom) || bottom < top)
        return out;
    const FrameView& f = ctx.frame;
    const double h = bottom - top + 1.0;
    const int ya = std::max(0, floorInt(top - 0.1 * h));
    const int yb = std::min(f.height - 1, floorInt(bottom + 0.1 * h));
    const int xa = std::max(0, fromX);
    const int xb = std::min(f.width - 1, toX);
    if (xa > xb || ya > yb)
        return out;

    thread_local FigureScratch s;
    const int lastInk = findFigureCuts(ctx, xa, xb, ya, yb, h, s);
    const bool debug = feedTuning().debug;
    std::string trace;
    if (debug)
        traceCuts(trace, xa, xb, top, bottom, s);
    if (lastInk < 0) {
        detail::writeTrace(trace);
        return out;
    }

    FigureSearch search{ctx, templates, s};
    prepareSearch(ctx, xa, xb - xa + 1, s, search.span);
    search.top = top;
    search.bottom = bottom;
    search.xa = xa;
    search.ya = ya;
    search.yb = yb;
    search.lastInk = lastInk;
    search.debug = debug;
    search.trace = &trace;
    search.oneWidth = oneWidth;
    const Reading first = search.best(0, 0, true);
    detail::writeTrace(trace);
    if (first.valid)
        collectFigures(search, first, out);
    return out;
}

namespace {

// Each component's bracket kind; traced for every glyph tall enough to be one.
void markBrackets(const RowCtx& ctx, bool debug, std::vector<int>& kinds) {
    const std::vector<Blob>& comps = ctx.comps;
    kinds.assign(comps.size(), kNoBracket);
    std::string trace;
    for (std::size_t k = 0; k < comps.size(); ++k) {
        kinds[k] = bracketKind(ctx, comps[k]);
        if (debug && comps[k].height() >= 1.08 * ctx.cap)
            detail::appendTrace(trace, "  tall glyph x%d %dx%d bracket=%d\n", comps[k].x0, comps[k].width(),
                                comps[k].height(), kinds[k]);
    }
    detail::writeTrace(trace);
}

// The closing bracket (or bar) within 7 caps after the opening one at
// `open`; the number of components when there is none.
std::size_t closingBracket(const RowCtx& ctx, const std::vector<int>& kinds, std::size_t open) {
    const std::vector<Blob>& comps = ctx.comps;
    for (std::size_t j = open + 1; j < comps.size(); ++j) {
        if (comps[j].x0 - comps[open].x1 >= 7.0 * ctx.cap)
            break;
        if (kinds[j] == kClosing || kinds[j] == kBar)
            return j;
    }
    return comps.size();
}

// The band of the figures between two brackets: the median top and bottom
// of the figure-sized components inside, else the row's band.
void figureBand(const RowCtx& ctx, std::size_t open, std::size_t close, double& top, double& bottom) {
    thread_local std::vector<int> tops;
    thread_local std::vector<int> bottoms;
    tops.clear();
    bottoms.clear();
    for (std::size_t j = open + 1; j < close; ++j) {
        const int hh = ctx.comps[j].height();
        if (hh >= 0.8 * ctx.cap && hh <= 1.2 * ctx.cap) {
            tops.push_back(ctx.comps[j].y0);
            bottoms.push_back(ctx.comps[j].y1);
        }
    }
    // medianInt's value, sorting the buffers in place instead of copies.
    auto median = [](std::vector<int>& v) {
        std::sort(v.begin(), v.end());
        const std::size_t n = v.size();
        if (n % 2 == 1)
            return static_cast<double>(v[n / 2]);
        return (static_cast<double>(v[n / 2 - 1]) + static_cast<double>(v[n / 2])) / 2.0;
    };
    top = tops.empty() ? ctx.top : median(tops);
    bottom = bottoms.empty() ? ctx.bottom : median(bottoms);
}

bool clearFigures(const Figures& figures) {
    return figures.lowest >= kMinFigureScore && figures.lead >= kMinFigureLead;
}

// The distance itself, when the figures read clearly enough.
void takeDistance(const Figures& figures, const std::string& digits, FeedRow& row) {
    // A distance is never written with a leading zero.
    const bool leadingZero = digits.size() >= 2 && digits[0] == '0';
    if (leadingZero || !clearFigures(figures))
        return;
    int value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    row.hasDistance = true;
    row.distance = value;
    row.distanceConfidence = std::min(figures.lowest, 5.0f * figures.lead + 0.5f);
}

} // namespace

void readDistance(const RowCtx& ctx, FeedRow& row) {
    if (!rowUsable(ctx))
        return;
    const bool debug = feedTuning().debug;
    const std::vector<Blob>& comps = ctx.comps;
    thread_local std::vector<int> kinds;
    markBrackets(ctx, debug, kinds);

    const detail::Templates& templates = figureTemplates(ctx);
    std::string trace;
    for (std::size_t i = 0; i < comps.size(); ++i) {
        if (kinds[i] != kOpening && kinds[i] != kBar)
            continue;
        const Blob& open = comps[i];
        trace.clear();
        const std::size_t close = closingBracket(ctx, kinds, i);
        if (close == comps.size()) {
            if (debug)
                detail::appendTrace(trace, "  '[' at %d: no ']'\n", open.x0);
            detail::writeTrace(trace);
            continue;
        }
        if (!iconBefore(ctx, open) && !greyIconBefore(ctx, open) && !strokeIconBefore(ctx, open)) {
            if (debug)
                detail::appendTrace(trace, "  '[' at %d: no icon before it\n", open.x0);
            detail::writeTrace(trace);
            continue;
        }
        double top = 0.0;
        double bottom = 0.0;
        figureBand(ctx, i, close, top, bottom);
        Figures figures = readFigures(ctx, open.x1 + 1, comps[close].x0 - 1, top, bottom, templates);
        // A "1" scaled up and blurred grows past the narrow width the first
        // reading allows it, and the whole distance is lost with it, or the
        // "1" is read joined to its neighbour as one doubtful figure (a row
        // of short names measures its cap a pixel low). Only then, once more
        // with the width a "1" can reach that way, taken when it reads clearly.
        if (!figures.found || !clearFigures(figures)) {
            Figures wide =
                readFigures(ctx, open.x1 + 1, comps[close].x0 - 1, top, bottom, templates, kWideOneWidth);
            if (!figures.found || (wide.found && wide.mX0 >= 0 && clearFigures(wide)))
                figures = std::move(wide);
        }
        if (!figures.found) {
            if (debug)
                detail::appendTrace(trace, "  '[' at %d: no figures inside\n", open.x0);
            detail::writeTrace(trace);
            continue;
        }
        std::string digits = figures.text;
        if (!digits.empty() && digits.back() == 'm')
            digits.pop_back();
        if (figures.mX0 < 0) {
            if (debug)
                detail::appendTrace(trace, "  '[' at %d: figures %s but no 'm'\n", open.x0, digits.c_str());
            detail::writeTrace(trace);
            continue;
        }
        row.bracketX0 = open.x0;
        row.bracketX1 = comps[close].x1;
        row.glyphs = std::move(figures.glyphs);
        row.mX0 = figures.mX0;
        row.mX1 = figures.mX1;
        row.figuresTop = top;
        row.figuresBottom = bottom;
        if (debug)
            detail::appendTrace(trace, "  '[' at %d: figures %s (lowest %.2f, lead %.2f)%s\n", open.x0,
                                digits.c_str(), static_cast<double>(figures.lowest),
                                static_cast<double>(figures.lead), " + m");
        detail::writeTrace(trace);
        takeDistance(figures, digits, row);
        break;
    }
}

SideStats sideStats(const RowCtx& ctx, const std::vector<Blob>& components,
                    const std::vector<ColourBlock>& blocks, bool left) {
    SideStats st;
    if (components.empty() || !rowUsable(ctx))
        return st;
    st.n = static_cast<int>(components.size());
    st.x0 = components.front().x0;
    st.x1 = components.back().x1;

    // The name's pixels one array per quantity, so that the order
    // statistics below run over contiguous values; sized once for the
    // boxes, so that the loops store without growing anything.
    struct Samples {
        std::vector<float> luma;
        std::vector<std::uint16_t> key;
        std::vector<std::uint8_t> b, g, r;
        std::vector<int> columns;        // one row's mask columns
        std::vector<std::size_t> starts; // per letter, then the end
        std::vector<float> perLetter;
        std::vector<float> values;
        std::vector<float> pool;
        std::vector<std::uint16_t> poolKey;
        std::vector<float> warm, sat;
        std::vector<std::uint16_t> warmKey, satKey;
        detail::RankScratch ranks;
    };
    thread_local Samples sm;
    const FrameView& f = ctx.frame;
    std::size_t room = 0;
    for (const Blob& b : components) {
        const long long w = static_cast<long long>(std::min(b.x1, f.width - 1)) - std::max(b.x0, 0) + 1;
        const long long h = static_cast<long long>(std::min(b.y1, f.height - 1)) - std::max(b.y0, 0) + 1;
        if (w > 0 && h > 0)
            room += static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    }
    if (sm.luma.size() < room) {
        sm.luma.resize(room);
        sm.key.resize(room);
        sm.b.resize(room);
        sm.g.resize(room);
        sm.r.resize(room);
        sm.pool.resize(room);
        sm.poolKey.resize(room);
        sm.warm.resize(room);
        sm.sat.resize(room);
        sm.warmKey.resize(room);
        sm.satKey.resize(room);
    }
    sm.starts.clear();
    sm.values.clear();
    const std::uint8_t* mask = ctx.planes->mask.data();
    // Raw pointers: stores through the byte arrays could otherwise alias the
    // vectors' own pointers, which the compiler would then reload per pixel.
    float* lumas = sm.luma.data();
    std::uint16_t* keys = sm.key.data();
    std::uint8_t* blues = sm.b.data();
    std::uint8_t* greens = sm.g.data();
    std::uint8_t* reds = sm.r.data();
    int widest = 0;
    for (const Blob& b : components)
        widest = std::max(widest, std::min(b.x1, f.width - 1) - std::max(b.x0, 0) + 1);
    sm.columns.resize(static_cast<std::size_t>(std::max(widest, 0)));
    int* columns = sm.columns.data();
    std::size_t total = 0;
    for (const Blob& b : components) {
        sm.starts.push_back(total);
        const int x0 = std::max(b.x0, 0);
        const int x1 = std::min(b.x1, f.width - 1);
        const int y0 = std::max(b.y0, 0);
        const int y1 = std::min(b.y1, f.height - 1);
        for (int y = y0; y <= y1; ++y) {
            const std::uint8_t* m = mask + at(0, y, f.width);
            const std::uint8_t* px = framePixel(f, 0, y);
            // The mask's columns first, every column written and only the
            // mask's kept (text and background alternate too often for a
            // branch), then the values of those alone.
            std::size_t kept = 0;
            for (int x = x0; x <= x1; ++x) {
                columns[kept] = x;
                kept += m[x] != 0 ? 1 : 0;
            }
            for (std::size_t k = 0; k < kept; ++k) {
                const std::uint8_t* p = px + 4 * static_cast<std::size_t>(columns[k]);
                const float l = lumaOf(p);
                lumas[total] = l;
                keys[total] = detail::lumaKey(l);
                blues[total] = p[0];
                greens[total] = p[1];
                reds[total] = p[2];
                ++total;
            }
        }
    }
    sm.starts.push_back(total);
    auto percentileRank = [](std::size_t k) {
        return std::min(static_cast<std::size_t>(std::floor(0.9 * static_cast<double>(k))), k - 1);
    };
    // Each letter's own brightness, so that one bright intruder (a marker's
    // edge, an icon's tip) does not lift the name.
    const std::size_t count = components.size();
    sm.perLetter.assign(count, std::numeric_limits<float>::quiet_NaN());
    for (std::size_t k = 0; k < count; ++k) {
        const std::size_t from = sm.starts[k];
        const std::size_t n = sm.starts[k + 1] - from;
        if (n == 0)
            continue;
        const std::size_t rank = percentileRank(n);
        detail::selectRanks(sm.luma.data() + from, sm.key.data() + from, n, detail::kLumaKeys, &rank,
                            &sm.perLetter[k], 1, sm.ranks);
        sm.values.push_back(sm.perLetter[k]);
    }
    const float median = upperMedian(sm.values);
    auto pooled = [&](std::size_t k) { return !(count >= 3 && !(sm.perLetter[k] <= median + 25.0f)); };
    std::size_t pooledCount = 0;
    for (std::size_t k = 0; k < count; ++k) {
        if (!pooled(k))
            continue;
        const std::size_t from = sm.starts[k];
        const std::size_t n = sm.starts[k + 1] - from;
        std::copy_n(sm.luma.data() + from, n, sm.pool.data() + pooledCount);
        std::copy_n(sm.key.data() + from, n, sm.poolKey.data() + pooledCount);
        pooledCount += n;
    }
    if (pooledCount > 0) {
        const std::size_t n = pooledCount;
        const std::size_t ranks[2] = {percentileRank(n), n / 2};
        float found[2] = {0.0f, 0.0f};
        detail::selectRanks(sm.pool.data(), sm.poolKey.data(), n, detail::kLumaKeys, ranks, found, 2,
                            sm.ranks);
        st.v = found[0];
        const float mid = found[1];
        // The brighter half's channels gathered first, so that the shares
        // below are taken in one straight pass.
        std::size_t bright = 0;
        for (std::size_t k = 0; k < count; ++k) {
            if (!pooled(k))
                continue;
            // Compacted in place without a branch (bright never passes i).
            for (std::size_t i = sm.starts[k]; i < sm.starts[k + 1]; ++i) {
                blues[bright] = blues[i];
                greens[bright] = greens[i];
                reds[bright] = reds[i];
                bright += lumas[i] >= mid ? 1 : 0;
            }
        }
        detail::nameShares(sm.b.data(), sm.g.data(), sm.r.data(), bright, sm.warm.data(), sm.sat.data());
        for (std::size_t i = 0; i < bright; ++i) {
            sm.warmKey[i] = detail::shareKey(sm.warm[i]);
            sm.satKey[i] = detail::shareKey(sm.sat[i]);
        }
        // The upper median of each; none when no pixel reached the middle.
        if (bright > 0) {
            const std::size_t half = bright / 2;
            detail::selectRanks(sm.warm.data(), sm.warmKey.data(), bright, detail::kShareKeys, &half, &st.w,
                                1, sm.ranks);
            detail::selectRanks(sm.sat.data(), sm.satKey.data(), bright, detail::kShareKeys, &half, &st.s, 1,
                                sm.ranks);
        }
    }

    const double cap = ctx.cap;
    std::string trace;
    for (const ColourBlock& c : blocks) {
        const bool beside = left ? (c.x1 <= st.x0 + 2 && st.x0 - c.x1 <= 1.4 * cap)
                                 : (c.x0 >= st.x1 - 2 && c.x0 - st.x1 <= 1.4 * cap);
        if (!beside)
            continue;
        (c.orange ? st.sh : st.tm) = true;
        if (feedTuning().debug)
            detail::appendTrace(trace, "  BESIDE %s y%.0f x%d-%d %s h%.0f gr%.2f f%.2f\n", left ? "L" : "R",
                                ctx.top, c.x0, c.x1, c.orange ? "orange" : "team", static_cast<double>(c.hue),
                                static_cast<double>(c.gr), static_cast<double>(c.fill));
    }
    detail::writeTrace(trace);
    return st;
}

float namesAlike(const RowCtx& ctx, const std::vector<Blob>& killer, const std::vector<Blob>& victim) {
    if (killer.size() < 3 || victim.size() < 3 || !ctx.planes)
        return 0.0f;
    const long long kw = static_cast<long long>(killer.back().x1) - killer.front().x0;
    const long long vw = static_cast<long long>(victim.back().x1) - victim.front().x0;
    if (std::llabs(kw - vw) > 0.12 * static_cast<double>(std::max(kw, vw)))
        return 0.0f;
    constexpr int kBins = 64;
    thread_local std::vector<int> counts;
    float hist[2][kBins];
    const std::vector<Blob>* names[2] = {&killer, &victim};
    for (int n = 0; n < 2; ++n) {
        const std::vector<Blob>& name = *names[n];
        const int x0 = name.front().x0;
        const int x1 = name.back().x1;
        std::fill(hist[n], hist[n] + kBins, 0.0f);
        detail::maskColumnCounts(*ctx.planes, name, x0, x1, counts);
        const long long span = std::max<long long>(static_cast<long long>(x1) - x0 + 1, 1);
        for (std::size_t k = 0; k < counts.size(); ++k) {
            const long long bin = std::min<long long>(static_cast<long long>(k) * kBins / span, kBins - 1);
            hist[n][bin] += static_cast<float>(counts[k]);
        }
        normalizeTemplate(hist[n], kBins);
    }
    return dot(hist[0], hist[1], kBins);
}

void classifySides(FeedRow& row, bool hasBracket) {
    const SideStats& k = row.killer;
    const SideStats& v = row.victim;
    // Beside the team's marker the letters are a teammate's name, grey
    // unless a squad mate's: any warmth beyond a white name's says squad,
    // the drained squad colour under blur included, and however few pieces
    // a short name fused into.
    auto squad = [](const SideStats& s) {
        return (s.n >= 3 && s.w >= kSquadWarmth) || (s.n >= 1 && s.tm && s.w > kWhiteWarmth);
    };
    auto white = [](const SideStats& s, float t) {
        return s.n >= 3 && s.w <= kWhiteWarmth && s.s <= kWhiteSaturation && s.v >= t;
    };
    auto teammate = [](const SideStats& s) { return s.tm && !s.sh; };
    row.squadKiller = squad(k);
    row.squadVictim = squad(v);
    row.side = PlayerSide::Neither;
    row.confidence = 0.0f;
    if (!hasBracket)
        return;

    // The player's own name: white letters with the orange marker beside them.
    const bool killerMarked = k.n >= 2 && k.sh && k.w <= kWhiteWarmth && k.v >= (v.n < 3 ? 160.0f : 145.0f);
    const bool victimMarked = v.n >= 2 && v.sh && v.w <= kWhiteWarmth && v.v >= (k.n < 3 ? 160.0f : 145.0f);
    if (killerMarked != victimMarked) {
        const SideStats& marked = killerMarked ? k : v;
        const SideStats& other = killerMarked ? v : k;
        // A clearly brighter white name on the other side is the player's
        // own, and the marker belongs to a teammate drawn in orange.
        if (other.n >= 3 && other.v <= kTooBright && white(other, 135.0f) && other.v - marked.v >= 10.0f)
            return;
        row.side = killerMarked ? PlayerSide::Killer : PlayerSide::Victim;
        row.confidence = 0.9f;
        return;
    }
    // The orange marker stands only beside the player's own name, so a row
    // with two full names marked is a self-kill, even when the names no
    // longer look alike (a name cut at its underscore loses its last
    // letters to the icon on one side). A short name beside a marker is
    // left to the rules below.
    if (killerMarked && victimMarked && k.n >= 3 && v.n >= 3) {
        row.side = PlayerSide::Both;
        row.confidence = 0.9f;
        return;
    }
    // A short name (a letter and "_2" fused into two pieces) is still the
    // player's own when both marked names are drawn in the player's white,
    // clearly above the grey of everyone else's and equally bright.
    if (killerMarked && victimMarked && std::min(k.v, v.v) >= kOwnWhite && std::abs(k.v - v.v) < 10.0f &&
        k.v <= kTooBright && v.v <= kTooBright) {
        row.side = PlayerSide::Both;
        row.confidence = 0.6f;
        return;
    }
    if (k.v > kTooBright || v.v > kTooBright)
        return;
    const bool lw = white(k, 135.0f);
    const bool rw = white(v, 135.0f);
    if (k.n < 3) {
        if (v.n >= 3 && white(v, 168.0f) && v.sh) {
            row.side = PlayerSide::Victim;
            row.confidence = 0.6f;
        }
        return;
    }
    if (v.n < 3) {
        if (white(k, 168.0f) && k.sh) {
            row.side = PlayerSide::Killer;
            row.confidence = 0.6f;
        }
        return;
    }
    // Two alike white names are the player's own only without the team's
    // marker: a teammate who killed themself shows their name on both sides
    // too, each beside a blue marker.
    if (lw && rw && !k.tm && !v.tm && row.alike >= 0.9f && std::abs(k.v - v.v) < 10.0f &&
        std::min(k.v, v.v) >= 160.0f)
        row.side = PlayerSide::Both;
    // A name beside the team's marker (and not the orange one) is a
    // teammate's, however much brighter than the other name it reads; and
    // facing one, whose grey is an enemy's grey, the brighter name must be
    // as bright as the player's own reads.
    else if (lw && !teammate(k) && k.v - v.v >= 10.0f && (!teammate(v) || k.v >= 160.0f))
        row.side = PlayerSide::Killer;
    else if (rw && !teammate(v) && v.v - k.v >= 10.0f && (!squad(k) || v.v >= 160.0f) &&
             (!teammate(k) || v.v >= 160.0f))
        row.side = PlayerSide::Victim;
    else if (lw && k.sh && !v.sh && !squad(v) && k.v > v.v)
        row.side = PlayerSide::Killer;
    else if (rw && v.sh && !k.sh && !squad(k) && v.v > k.v)
        row.side = PlayerSide::Victim;
    row.confidence = row.side != PlayerSide::Neither ? 0.9f : 0.0f;
}

namespace {

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

// The best of score(i, j, white, variance) over the offsets whose window
// holds white with some spread (the mask is 0 or 1, so its sum of squares
// is its sum); -infinity where none does.
template <class Score>
double bestOverWindows(const IconScratch& s, int gw, int gh, int iw, int ih, const IconOffsets& o,
                       Score score) {
    const double cells = static_cast<double>(iw) * ih;
    const std::size_t stride = static_cast<std::size_t>(gw) + 1;
    auto integral = [&](int x, int y) {
        return s.sums[static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(x)];
    };
    double best = -std::numeric_limits<double>::infinity();
    for (int j = 0; j < o.ny; ++j) {
        const int oy = o.y0 + j;
        const int ya = std::max(oy, 0);
        const int yb = std::min(oy + ih, gh);
        for (int i = 0; i < o.nx; ++i) {
            const int ox = o.x0 + i;
            const int xa = std::max(ox, 0);
            const int xb = std::min(ox + iw, gw);
            if (xa >= xb || ya >= yb)
                continue;
            const double sum = integral(xb, yb) - integral(xa, yb) - integral(xb, ya) + integral(xa, ya);
            const double var = sum - sum * sum / cells;
            if (var < 1.0)
                continue;
            best = std::max(best, score(i, j, sum, var));
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
    const double best = bestOverWindows(s, gw, gh, iw, ih, o, [&](int i, int j, double, double var) {
        return s.products[at(i, j, across)] / std::sqrt(var);
    });
    return std::isfinite(best) ? static_cast<float>(best) : 0.0f;
}

// An upper bound of slideIcon's result from the white alone: at each
// position the products sum over the S white cells under the icon, so to no
// more than the icon's S largest pixels. Infinite when the icon brings no
// sums for it.
double massBound(const IconScratch& s, int gw, int gh, const KillIcon& icon) {
    const int iw = static_cast<int>(icon.width);
    const int ih = static_cast<int>(icon.height);
    const std::size_t cells = static_cast<std::size_t>(iw) * static_cast<std::size_t>(ih);
    if (icon.topSums.size() != cells + 1)
        return std::numeric_limits<double>::infinity();
    const IconOffsets o = iconOffsets(gw, gh, iw, ih);
    const double n = static_cast<double>(cells);
    const double best = bestOverWindows(s, gw, gh, iw, ih, o, [&](int, int, double sum, double var) {
        const auto white = static_cast<std::size_t>(std::min(std::max(sum, 0.0), n));
        return icon.topSums[white] / std::sqrt(var);
    });
    // No position counts: slideIcon gives 0.
    return std::isfinite(best) ? best : 0.0;
}

// The near-white pixels of the search window, and their components joined
// into groups left to right: an icon may break into several pieces.
void findWhiteGroups(const FrameView& f, int xa, int ya, int ww, int wh, double m, IconScratch& s) {
    s.white.assign(at(0, wh, ww), 0);
    for (int y = 0; y < wh; ++y) {
        const std::uint8_t* px = framePixel(f, xa, ya + y);
        std::uint8_t* dst = s.white.data() + at(0, y, ww);
        for (int x = 0; x < ww; ++x, px += 4) {
            const int mx = std::max(px[2], std::max(px[1], px[0]));
            const int mn = std::min(px[2], std::min(px[1], px[0]));
            dst[x] = static_cast<std::uint8_t>(mn >= 150 && mx - mn <= 60);
        }
    }
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

std::string rowText(const FeedRow& row) {
    char text[320];
    const SideStats& k = row.killer;
    const SideStats& v = row.victim;
    char distance[32] = "";
    if (row.hasDistance)
        std::snprintf(distance, sizeof distance, "%d", row.distance);
    std::snprintf(text, sizeof text,
                  "L n%d v%.0f w%.2f s%.2f%s%s | R n%d v%.0f w%.2f s%.2f%s%s | alike %.2f | cap %.0f%s%s",
                  k.n, static_cast<double>(k.v), static_cast<double>(k.w), static_cast<double>(k.s),
                  k.sh ? " SH" : "", k.tm ? " TM" : "", v.n, static_cast<double>(v.v),
                  static_cast<double>(v.w), static_cast<double>(v.s), v.sh ? " SH" : "", v.tm ? " TM" : "",
                  static_cast<double>(row.alike), row.cap, row.hasDistance ? " dist " : "", distance);
    return text;
}

} // namespace hud
