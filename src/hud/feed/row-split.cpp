#include "hud/feed/row-split.h"
#include "hud/feed/row-pixels.h"

#include "hud/core/simd.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace hud {

using detail::at;
using detail::floorInt;
using detail::rowUsable;
using detail::upperMedian;

namespace {

// The widest gap (in cap) an underscore between two letters leaves when
// it is too thin to be a component.
constexpr double kUnderscoreGap = 1.1;

// The smallest channel of an icon's white, as the distance reader's icon
// test takes it.
constexpr int kIconWhite = 215;
// A blurred icon's grey: above every name but the player's, and untinted.
constexpr int kIconGrey = 175;
constexpr int kIconGreyTint = 40;

// Marker search buffers, reused from row to row.
struct BlockScratch {
    std::vector<std::uint8_t> mask;
    LabelScratch labels;
    std::vector<Blob> blobs;
    std::vector<float> hues;
    std::vector<ColourBlock> kept;
    std::vector<std::uint8_t> letter;
};

bool overlapsX(const Blob& b, const ColourBlock& c) {
    return b.x0 <= c.x1 && c.x0 <= b.x1;
}

bool overlapsAnyBlock(const Blob& b, const std::vector<ColourBlock>& blocks) {
    for (const ColourBlock& c : blocks)
        if (overlapsX(b, c))
            return true;
    return false;
}

// Hexagonal hue in degrees, with reds (300 and up) brought round to just
// below 0 so that they sort next to the oranges.
float hueOf(int r, int g, int b) {
    const int mx = std::max(r, std::max(g, b));
    const int mn = std::min(r, std::min(g, b));
    if (mx == mn)
        return 0.0f;
    const float d = static_cast<float>(mx - mn);
    float h;
    if (mx == r)
        h = 60.0f * (static_cast<float>(g - b) / d);
    else if (mx == g)
        h = 60.0f * (static_cast<float>(b - r) / d + 2.0f);
    else
        h = 60.0f * (static_cast<float>(r - g) / d + 4.0f);
    if (h < 0.0f)
        h += 360.0f;
    if (h >= 300.0f)
        h -= 360.0f;
    return h;
}

} // namespace

namespace {

// A marker is saturated where text and icons are grey or white: the spread
// of the channels at least 0.42 of the largest, which for bytes is exactly
// 50 spread >= 21 largest.
void saturatedMask(const FrameView& f, int c0, int r0, int ww, int wh, BlockScratch& s) {
    s.mask.assign(at(0, wh, ww), 0);
    for (int y = 0; y < wh; ++y) {
        const std::uint8_t* __restrict src = framePixel(f, c0, r0 + y);
        std::uint8_t* __restrict dst = s.mask.data() + at(0, y, ww);
        int x = 0;
#if CORVEX_HUD_SSE2
        // Sixteen pixels a step, each in a 32-bit lane: the lane's low byte
        // takes the largest and smallest of blue, green and red, and the
        // products fit the lane's low 16 bits (50 * 255).
        const __m128i low = _mm_set1_epi32(0xff);
        const __m128i bright = _mm_set1_epi32(89);
        const __m128i fifty = _mm_set1_epi32(50);
        const __m128i twentyOne = _mm_set1_epi32(21);
        const __m128i one = _mm_set1_epi8(1);
        for (; x + 16 <= ww; x += 16) {
            __m128i lanes[4];
            for (int q = 0; q < 4; ++q) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * (x + 4 * q)));
                const __m128i g = _mm_srli_epi32(v, 8);
                const __m128i r = _mm_srli_epi32(v, 16);
                const __m128i mx = _mm_and_si128(_mm_max_epu8(v, _mm_max_epu8(g, r)), low);
                const __m128i mn = _mm_and_si128(_mm_min_epu8(v, _mm_min_epu8(g, r)), low);
                const __m128i spread = _mm_mullo_epi16(_mm_sub_epi32(mx, mn), fifty);
                const __m128i limit = _mm_mullo_epi16(mx, twentyOne);
                lanes[q] = _mm_andnot_si128(_mm_cmpgt_epi32(limit, spread), _mm_cmpgt_epi32(mx, bright));
            }
            const __m128i packed =
                _mm_packs_epi16(_mm_packs_epi32(lanes[0], lanes[1]), _mm_packs_epi32(lanes[2], lanes[3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x), _mm_and_si128(packed, one));
        }
#endif
        for (; x < ww; ++x) {
            const int b = src[4 * x];
            const int g = src[4 * x + 1];
            const int r = src[4 * x + 2];
            const int mx = std::max(r, std::max(g, b));
            const int mn = std::min(r, std::min(g, b));
            dst[x] = static_cast<std::uint8_t>((mx >= 90) & (50 * (mx - mn) >= 21 * mx));
        }
    }
}

// Hue and green over red of the coloured pixels in the component's box: a
// marker is a filled square, nothing else coloured shares its box.
ColourBlock measureBlock(const FrameView& f, int c0, int r0, int ww, const Blob& b, float fill,
                         BlockScratch& s) {
    s.hues.clear();
    double sumG = 0.0;
    double sumR = 0.0;
    for (int y = b.y0; y <= b.y1; ++y) {
        const std::uint8_t* src = framePixel(f, c0, r0 + y);
        const std::uint8_t* m = s.mask.data() + at(0, y, ww);
        for (int x = b.x0; x <= b.x1; ++x) {
            if (!m[x])
                continue;
            const std::uint8_t* px = src + 4 * static_cast<std::size_t>(x);
            s.hues.push_back(hueOf(px[2], px[1], px[0]));
            sumG += px[1];
            sumR += px[2];
        }
    }
    ColourBlock c;
    c.x0 = b.x0 + c0;
    c.y0 = b.y0 + r0;
    c.x1 = b.x1 + c0;
    c.y1 = b.y1 + r0;
    c.count = b.area;
    c.hue = upperMedian(s.hues);
    c.gr = sumR > 0.0 ? static_cast<float>(sumG / sumR) : 0.0f;
    c.fill = fill;
    c.orange = c.hue >= 30.0f && c.hue <= 56.0f && fill >= 0.6f;
    return c;
}

// Markers stand outside the text; anything coloured amid it (a squad mate's
// letter) is not one.
void outsideText(const RowCtx& ctx, const std::vector<ColourBlock>& kept, std::vector<ColourBlock>& out) {
    bool any = false;
    int tx0 = 0;
    int tx1 = 0;
    for (const Blob& b : ctx.comps) {
        if (overlapsAnyBlock(b, kept))
            continue;
        tx0 = any ? std::min(tx0, b.x0) : b.x0;
        tx1 = any ? std::max(tx1, b.x1) : b.x1;
        any = true;
    }
    if (!any)
        return;
    for (const ColourBlock& c : kept)
        if (c.x1 <= tx0 + 0.2 * ctx.cap || c.x0 >= tx1 - 0.2 * ctx.cap)
            out.push_back(c);
}

// A squad mate's letters are saturated too, and each can pass for a
// marker by its size and fill. A marker stands alone: the orange one only
// beside the player's grey name, the blue one beside names far from its hue.
// Blocks of one hue in a run at letter spacing are a coloured name, and stay
// letters.
void dropNameLetters(double cap, std::vector<ColourBlock>& kept, std::vector<std::uint8_t>& letter) {
    constexpr float kSameHue = 15.0f;
    std::sort(kept.begin(), kept.end(),
              [](const ColourBlock& a, const ColourBlock& b) { return a.x0 < b.x0; });
    letter.assign(kept.size(), 0);
    for (std::size_t k = 0; k + 1 < kept.size(); ++k) {
        const ColourBlock& a = kept[k];
        const ColourBlock& b = kept[k + 1];
        if (b.x0 - a.x1 - 1 <= 0.6 * cap && std::abs(a.hue - b.hue) <= kSameHue)
            letter[k] = letter[k + 1] = 1;
    }
    std::size_t n = 0;
    for (std::size_t k = 0; k < kept.size(); ++k)
        if (!letter[k])
            kept[n++] = kept[k];
    kept.resize(n);
}

} // namespace

namespace {

void colourBlocksInto(const RowCtx& ctx, std::vector<ColourBlock>& out) {
    out.clear();
    if (!rowUsable(ctx))
        return;
    const FrameView& f = ctx.frame;
    const double cap = ctx.cap;
    const int c0 = std::max(0, ctx.x0 - floorInt(1.6 * cap));
    const int c1 = std::min(f.width - 1, ctx.x1 + floorInt(1.6 * cap));
    const int r0 = std::max(0, floorInt(ctx.top - 0.45 * cap));
    const int r1 = std::min(f.height - 1, floorInt(ctx.bottom + 0.45 * cap));
    if (c1 - c0 + 1 <= 2 || r1 - r0 + 1 <= 2)
        return;
    const int ww = c1 - c0 + 1;
    const int wh = r1 - r0 + 1;

    thread_local BlockScratch s;
    saturatedMask(f, c0, r0, ww, wh, s);
    labelComponents(s.mask, ww, wh, s.blobs, s.labels);

    const double centre = (ctx.top + ctx.bottom) / 2.0;
    std::vector<ColourBlock>& kept = s.kept;
    kept.clear();
    for (const Blob& b : s.blobs) {
        const double h = b.height();
        const double w = b.width();
        const float fill = static_cast<float>(b.area / (w * h));
        if (h < 0.55 * cap || h > 1.6 * cap || w < 0.4 * cap || w > 1.6 * cap || fill < 0.3f)
            continue;
        if (w / h < 0.55 || w / h > 1.5)
            continue;
        if (std::abs((b.y0 + b.y1) / 2.0 + r0 - centre) > 0.4 * cap)
            continue;
        kept.push_back(measureBlock(f, c0, r0, ww, b, fill, s));
    }
    if (kept.empty())
        return;
    dropNameLetters(ctx.cap, kept, s.letter);
    outsideText(ctx, kept, out);
}

} // namespace

std::vector<ColourBlock> colourBlocks(const RowCtx& ctx) {
    std::vector<ColourBlock> out;
    colourBlocksInto(ctx, out);
    return out;
}

namespace {

// The game draws its icons pure white and never a name that white (the
// player's own name, the brightest, is about 205 on every channel). The
// top-hat keeps only the thin parts and edges of a solid white silhouette,
// and those fragments can pass for letters by their size alone; a block
// with as much icon white around it as the distance reader asks of the icon
// before a bracket (0.25 m x m pixels, over the band's rows widened by half
// a cap) is an icon whatever its fragments look like. The solid body of an
// icon keeps its white even where blur has dimmed the thin parts.
bool iconWhiteAround(const RowCtx& ctx, int x0, int x1) {
    if (!rowUsable(ctx))
        return false;
    const FrameView& f = ctx.frame;
    const double m = ctx.cap;
    const int xa = std::max(0, x0);
    const int xb = std::min(f.width - 1, x1);
    const int ya = std::max(0, floorInt(ctx.top - 0.5 * m));
    const int yb = std::min(f.height - 1, floorInt(ctx.bottom + 0.5 * m));
    const double needed = 0.25 * m * m;
    int white = 0;
    for (int y = ya; y <= yb && xa <= xb; ++y) {
        const std::uint8_t* px = framePixel(f, xa, y);
        for (int x = xa; x <= xb; ++x, px += 4)
            white += std::min(px[0], std::min(px[1], px[2])) >= kIconWhite ? 1 : 0;
        if (white >= needed)
            return true;
    }
    return false;
}

} // namespace

namespace {

// A run of ink between the colour blocks: a name, or part of the icon.
struct TextBlock {
    int x0 = 0;
    int x1 = 0;
    std::size_t first = 0; // into SplitScratch::members
    std::size_t count = 0;
    bool text = false;
};

struct SplitScratch {
    std::vector<std::size_t> members; // indices into the row's components, block by block
    std::vector<TextBlock> blocks;
};

bool isNameSized(const Blob& b, double cap) {
    return b.height() >= 0.45 * cap && b.height() <= 1.3 * cap;
}

bool isNameBlob(const Blob& b, double cap, const RowSplit& split) {
    return isNameSized(b, cap) && b.width() <= 2.5 * cap && !overlapsAnyBlock(b, split.blocks);
}

// The components outside the colour blocks and the bracket, joined into
// blocks where less than `joinGap` caps apart.
void gatherBlocks(const RowCtx& ctx, int bracketX0, int bracketX1, double joinGap, const RowSplit& split,
                  SplitScratch& s) {
    const bool bracket = bracketX1 > bracketX0;
    const std::vector<Blob>& comps = ctx.comps;
    s.members.clear();
    s.blocks.clear();
    for (std::size_t k = 0; k < comps.size(); ++k) {
        const Blob& b = comps[k];
        if (overlapsAnyBlock(b, split.blocks))
            continue;
        if (bracket && b.x0 >= bracketX0 && b.x1 <= bracketX1)
            continue;
        if (s.blocks.empty() || b.x0 - s.blocks.back().x1 - 1 > joinGap * ctx.cap) {
            TextBlock t;
            t.x0 = b.x0;
            t.x1 = b.x1;
            t.first = s.members.size();
            s.blocks.push_back(t);
        }
        TextBlock& t = s.blocks.back();
        t.x1 = std::max(t.x1, b.x1);
        ++t.count;
        s.members.push_back(k);
    }
}

// Marks each block text or icon and widens the icon over the icon blocks
// before the bracket; true when any block is an icon.
bool classifyBlocks(const RowCtx& ctx, int bracketX0, int bracketX1, SplitScratch& s, RowSplit& split) {
    const double cap = ctx.cap;
    const bool bracket = bracketX1 > bracketX0;
    auto isSmall = [cap](const Blob& b) {
        const double h = b.height();
        const double w = b.width();
        return (h >= 0.45 * cap && h <= 1.3 * cap && w <= 1.15 * cap) || (h <= 1.15 * cap && w <= 3.0 * cap);
    };
    auto isBig = [cap](const Blob& b) { return b.height() > 1.35 * cap && b.width() > 0.5 * cap; };
    bool iconSeen = false;
    for (TextBlock& t : s.blocks) {
        std::size_t small = 0;
        bool big = false;
        for (std::size_t q = 0; q < t.count; ++q) {
            const Blob& b = ctx.comps[s.members[t.first + q]];
            small += isSmall(b) ? 1 : 0;
            big = big || isBig(b);
        }
        t.text = !big && small >= 2 && 10 * small >= 7 * t.count && !iconWhiteAround(ctx, t.x0, t.x1);
        if (t.text)
            continue;
        iconSeen = true;
        if (!bracket || t.x1 < bracketX0) {
            split.iconX0 = split.iconX0 < 0 ? t.x0 : std::min(split.iconX0, t.x0);
            split.iconX1 = std::max(split.iconX1, t.x1);
        }
    }
    return iconSeen;
}

// Whether a block taken for text holds a name: at least two of its pieces
// stand a name's height. An icon broken into short strokes and flat bars on a
// light scene (its white too grey to show as an icon's) has at most one.
bool holdsName(const RowCtx& ctx, const TextBlock& t, const SplitScratch& s) {
    int nameSized = 0;
    for (std::size_t q = 0; q < t.count; ++q)
        nameSized += isNameSized(ctx.comps[s.members[t.first + q]], ctx.cap) ? 1 : 0;
    return nameSized >= 2;
}

// With a distance bracket: the victim's name follows it, and the icon is the
// run of icon blocks just before it, with the killer's name before that.
void splitAtBracket(const RowCtx& ctx, int bracketX0, int bracketX1, const SplitScratch& s, RowSplit& split) {
    const double cap = ctx.cap;
    const std::vector<Blob>& comps = ctx.comps;
    int rightmost = bracketX1;
    for (const Blob& b : comps) {
        if (b.x0 <= bracketX1 || overlapsAnyBlock(b, split.blocks))
            continue;
        if (b.x0 - rightmost - 1 > 1.5 * cap)
            break;
        rightmost = std::max(rightmost, b.x1);
        if (isNameBlob(b, cap, split))
            split.right.push_back(b);
    }
    int start = bracketX0;
    for (std::size_t k = s.blocks.size(); k-- > 0;) {
        const TextBlock& t = s.blocks[k];
        if (t.x1 >= bracketX0)
            continue;
        if ((t.text && holdsName(ctx, t, s)) || start - t.x1 - 1 > 3.0 * cap || bracketX0 - t.x0 > 11.0 * cap)
            break;
        start = t.x0;
    }
    if (start != bracketX0) {
        split.iconX0 = start;
        split.iconX1 = bracketX0 - 1;
        for (const Blob& b : comps)
            if (b.x1 < start - 2 && isNameBlob(b, cap, split))
                split.left.push_back(b);
    }
}

// Without a bracket: the nearest text block on each side of the icon.
void splitAroundIcon(const RowCtx& ctx, const SplitScratch& s, RowSplit& split) {
    bool haveLeft = false;
    bool haveRight = false;
    for (const TextBlock& t : s.blocks) {
        if (!t.text)
            continue;
        const bool before = !haveLeft && t.x1 < split.iconX0;
        const bool after = !haveRight && t.x0 > split.iconX1;
        if (!before && !after)
            continue;
        std::vector<Blob>& side = before ? split.left : split.right;
        for (std::size_t q = 0; q < t.count; ++q) {
            const Blob& b = ctx.comps[s.members[t.first + q]];
            if (isNameSized(b, ctx.cap))
                side.push_back(b);
        }
        (before ? haveLeft : haveRight) = true;
    }
}

void traceSplit(const RowCtx& ctx, int bracketX0, int bracketX1, const SplitScratch& s,
                const RowSplit& split) {
    std::string t;
    detail::appendTrace(t, "row y%.0f cap %.0f: colour icons", ctx.top, ctx.cap);
    for (const ColourBlock& c : split.blocks)
        detail::appendTrace(t, " [%d-%d %s h%.0f gr%.2f f%.2f]", c.x0, c.x1, c.orange ? "orange" : "team",
                            static_cast<double>(c.hue), static_cast<double>(c.gr),
                            static_cast<double>(c.fill));
    detail::appendTrace(t, "; bracket %d-%d; blocks", bracketX0, bracketX1);
    for (const TextBlock& b : s.blocks)
        detail::appendTrace(t, " [%d-%d %s n%zu]", b.x0, b.x1, b.text ? "text" : "ICON", b.count);
    t += '\n';
    detail::writeTrace(t);
}

// Splits the row's ink into names and icon, joining ink less than `joinGap`
// caps apart into one block; `split.blocks` holds the colour blocks already.
void splitRowAt(const RowCtx& ctx, int bracketX0, int bracketX1, double joinGap, RowSplit& split) {
    thread_local SplitScratch s;
    gatherBlocks(ctx, bracketX0, bracketX1, joinGap, split, s);
    const bool iconSeen = classifyBlocks(ctx, bracketX0, bracketX1, s, split);
    if (bracketX1 > bracketX0)
        splitAtBracket(ctx, bracketX0, bracketX1, s, split);
    else if (iconSeen)
        splitAroundIcon(ctx, s, split);
    if (feedTuning().debug)
        traceSplit(ctx, bracketX0, bracketX1, s, split);
}

// Blur breaks a small piece off the top of a bold letter (the upper arm of
// a "K", the top of a "4" whose foot fell into another line): a narrow
// piece at the top of the band that the next letter follows as closely as
// letters follow each other is part of the name and does not end it.
bool letterPiece(const RowCtx& ctx, const std::vector<Blob>& comps, std::size_t k, const RowSplit& split) {
    const double cap = ctx.cap;
    const Blob& b = comps[k];
    if (b.height() >= 0.75 * cap || b.height() < 0.2 * cap || b.width() > 0.6 * cap ||
        b.y0 > ctx.top + 0.25 * cap || b.y0 < ctx.top - 0.25 * cap)
        return false;
    for (std::size_t j = k + 1; j < comps.size(); ++j) {
        const Blob& next = comps[j];
        if (overlapsAnyBlock(next, split.blocks))
            continue;
        return next.x0 - b.x1 - 1 <= 0.45 * cap && isNameBlob(next, cap, split) &&
               next.height() >= 0.75 * cap;
    }
    return false;
}

// A blurred icon of solid parts (a pistol) breaks into pieces the size of
// letters, none of them a sliver, and greys below the icon test's white; its
// grey still stands above every name but the player's, untinted, as the
// distance reader's second look for the icon takes it. Counted inside the
// pieces' own boxes, so that nothing but the pieces between the name and
// the bracket speaks for them.
bool greyIconBetween(const RowCtx& ctx, int x0, int x1, const RowSplit& split) {
    const FrameView& f = ctx.frame;
    const double needed = 0.25 * ctx.cap * ctx.cap;
    int grey = 0;
    for (const Blob& b : ctx.comps) {
        if (b.x0 < x0 || b.x1 > x1 || overlapsAnyBlock(b, split.blocks))
            continue;
        const int xa = std::max(0, b.x0);
        const int xb = std::min(f.width - 1, b.x1);
        for (int y = std::max(0, b.y0); y <= std::min(f.height - 1, b.y1) && xa <= xb; ++y) {
            const std::uint8_t* px = framePixel(f, xa, y);
            for (int x = xa; x <= xb; ++x, px += 4) {
                const int lo = std::min(px[0], std::min(px[1], px[2]));
                const int hi = std::max(px[0], std::max(px[1], px[2]));
                grey += lo >= kIconGrey && hi - lo <= kIconGreyTint ? 1 : 0;
            }
        }
        if (grey >= needed)
            return true;
    }
    return false;
}

// An underscore between two letters of a name: thinner than any component
// the row keeps, so only the mask shows it, a bar at the baseline across most
// of the gap the letters leave, and nothing of the mask above it there.
bool underscoreBetween(const RowCtx& ctx, int x0, int x1) {
    if (!rowUsable(ctx) || x1 < x0)
        return false;
    const FrameView& f = ctx.frame;
    const std::vector<std::uint8_t>& mask = ctx.planes->mask;
    const double cap = ctx.cap;
    const int xa = std::max(0, x0);
    const int xb = std::min(f.width - 1, x1);
    const int barTop = std::max(0, floorInt(ctx.bottom - 0.2 * cap));
    const int barBottom = std::min(f.height - 1, floorInt(ctx.bottom + 0.3 * cap));
    const int above = std::max(0, floorInt(ctx.top + 0.1 * cap));
    if (xa > xb || barTop > barBottom)
        return false;
    int best = 0;
    for (int y = barTop; y <= barBottom; ++y) {
        int run = 0;
        for (int x = xa; x <= xb; ++x)
            run += mask[at(x, y, f.width)];
        best = std::max(best, run);
    }
    int over = 0;
    for (int y = above; y < barTop; ++y)
        for (int x = xa; x <= xb; ++x)
            over += mask[at(x, y, f.width)];
    if (feedTuning().debug) {
        std::string t;
        detail::appendTrace(t, "  underscore %d-%d: bar %d over %d\n", xa, xb, best, over);
        detail::writeTrace(t);
    }
    return 10 * best >= 6 * (xb - xa + 1) && over <= (xb - xa + 1) / 4;
}

// The killer's name found from its own letters instead of from the icon: a
// blurred stream breaks the game's ribbed icons into pieces the size of
// letters, and the backward walk over the blocks stops at the first piece.
// The name is the run of letters from the row's start (its marker left
// out): letters (fused pairs included) and underscores low in the band,
// each less than 0.45 caps from the one before; the first gap wider than
// that, or the first piece no letter could be, ends it. What follows up to
// the bracket must be wide enough for an icon. Returns whether a name was
// found.
bool splitAtNameRun(const RowCtx& ctx, int bracketX0, RowSplit& split, std::vector<Blob>& name) {
    const double cap = ctx.cap;
    const double underscoreTop = ctx.top + 0.6 * cap;
    name.clear();
    int end = -1;
    std::size_t chars = 0; // underscores found only by their bar
    const std::vector<Blob>& comps = ctx.comps;
    for (std::size_t k = 0; k < comps.size(); ++k) {
        const Blob& b = comps[k];
        if (b.x0 >= bracketX0)
            break;
        if (overlapsAnyBlock(b, split.blocks))
            continue;
        const bool letter = isNameBlob(b, cap, split) && b.height() >= 0.75 * cap;
        const bool underscore =
            !name.empty() && b.height() < 0.45 * cap && b.y0 >= underscoreTop && b.width() <= 1.6 * cap;
        if (end >= 0 && b.x0 - end - 1 > 0.45 * cap) {
            // An underscore lost between two letters leaves a gap of about
            // its advance, as wide as a name's gap to the icon: only its bar
            // tells them apart.
            if (!(letter && b.x0 - end - 1 <= kUnderscoreGap * cap &&
                  underscoreBetween(ctx, end + 1, b.x0 - 1)))
                break;
            ++chars;
        }
        if (!letter && !underscore && letterPiece(ctx, comps, k, split)) {
            end = std::max(end, b.x1);
            continue;
        }
        if (!letter && !underscore)
            break;
        if (letter)
            name.push_back(b);
        end = std::max(end, b.x1);
    }
    if (name.size() + chars < 3 || bracketX0 - end - 1 < 1.5 * cap)
        return false;
    // The broken icon leaves pieces no letter could be: flat slivers of its
    // barrels and ribs above the baseline, or a long low barrel wider than
    // any fused pair of letters (a thin rifle on a light scene, too dim for
    // the icon test). A zone without either is another word, which the name
    // does not reach past.
    int pieces = 0;
    int slivers = 0;
    for (const Blob& b : ctx.comps) {
        if (b.x0 <= end || b.x1 >= bracketX0 || overlapsAnyBlock(b, split.blocks))
            continue;
        ++pieces;
        if ((b.height() < 0.45 * cap && b.y0 < underscoreTop) ||
            (isNameSized(b, cap) && b.width() > 2.5 * cap))
            ++slivers;
    }
    if (pieces > 0 && slivers == 0 && !greyIconBetween(ctx, end + 1, bracketX0 - 1, split))
        return false;
    split.iconX0 = end + 1;
    split.iconX1 = bracketX0 - 1;
    split.left.swap(name);
    return true;
}

} // namespace

namespace {

// Empty, keeping its buffers.
void clearSplit(RowSplit& split) {
    split.left.clear();
    split.right.clear();
    split.iconX0 = -1;
    split.iconX1 = -1;
    split.blocks.clear();
}

} // namespace

namespace detail {

void splitRowInto(const RowCtx& ctx, int bracketX0, int bracketX1, RowSplit& split, SplitTries& tries) {
    clearSplit(split);
    colourBlocksInto(ctx, split.blocks);
    splitRowAt(ctx, bracketX0, bracketX1, 0.5, split);
    // The game sets the icon half a cap after the killer's name; blur closes
    // that gap a little, and the name then joins the icon's block and is
    // lost. Only then, a second attempt with a gap well above the letter
    // spacing but below the blurred name-to-icon gap.
    if (split.left.empty() && (split.iconX0 >= 0 || bracketX1 > bracketX0)) {
        RowSplit& again = tries.again;
        clearSplit(again);
        again.blocks = split.blocks;
        splitRowAt(ctx, bracketX0, bracketX1, 0.3, again);
        if (!again.left.empty()) {
            std::swap(split, again);
            return;
        }
        if (bracketX1 > bracketX0) {
            RowSplit& byName = tries.byName;
            clearSplit(byName);
            byName.blocks = split.blocks;
            byName.right = split.right;
            if (splitAtNameRun(ctx, bracketX0, byName, tries.name)) {
                std::swap(split, byName);
                return;
            }
        }
    }
}

} // namespace detail

RowSplit splitRow(const RowCtx& ctx, int bracketX0, int bracketX1) {
    thread_local detail::SplitTries tries;
    RowSplit split;
    detail::splitRowInto(ctx, bracketX0, bracketX1, split, tries);
    return split;
}

} // namespace hud
