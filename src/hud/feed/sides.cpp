#include "hud/feed/feed.h"
#include "hud/feed/row-pixels.h"
#include "hud/feed/select.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace hud {

using detail::at;
using detail::floorInt;
using detail::lumaOf;
using detail::rowUsable;
using detail::upperMedian;

namespace {

// Names: what counts as the squad colour and as the plain white of a name.
constexpr float kSquadWarmth = 0.28f;
constexpr float kWhiteWarmth = 0.18f;
constexpr float kWhiteSaturation = 0.28f;
constexpr float kTooBright = 210.0f;
// The player's own name reads about 205, everyone else's about 170.
constexpr float kOwnWhite = 185.0f;

} // namespace

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
} // namespace hud
