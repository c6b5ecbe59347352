#include "hud/feed/feed.h"
#include "hud/feed/row-pixels.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string_view>

namespace hud {

using detail::at;
using detail::floorInt;
using detail::rowUsable;

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

enum BracketKind { kNoBracket = 0, kOpening = 1, kClosing = 2, kBar = 3 };

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
        white += detail::countNearWhite(framePixel(f, xa, y), xb - xa + 1, floor, spread);
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

} // namespace hud
