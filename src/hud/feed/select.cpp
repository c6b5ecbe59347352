#include "hud/feed/select.h"

#include "hud/core/simd.h"

#include <algorithm>

namespace hud::detail {

namespace {

#if CORVEX_HUD_AVX
// For each set of kept lanes of four floats (bit j for lane j): the byte
// shuffle that moves the kept lanes to the front in their order, and how
// many there are.
struct PackTable {
    std::uint8_t shuffle[16][16] = {};
    std::uint8_t count[16] = {};
};

constexpr PackTable makePackTable() {
    PackTable t;
    for (int mask = 0; mask < 16; ++mask) {
        int out = 0;
        for (int lane = 0; lane < 4; ++lane) {
            if ((mask >> lane & 1) == 0)
                continue;
            for (int b = 0; b < 4; ++b)
                t.shuffle[mask][4 * out + b] = static_cast<std::uint8_t>(4 * lane + b);
            ++out;
        }
        for (int b = 4 * out; b < 16; ++b)
            t.shuffle[mask][b] = 0x80;
        t.count[mask] = static_cast<std::uint8_t>(out);
    }
    return t;
}

alignas(16) constexpr PackTable kPack = makePackTable();

// keepKey for the first n - n % 8 values, eight keys to a comparison and
// four values to a shuffle; returns the values done. Each store writes
// four lanes at `kept`, which never passes the index of the values read,
// so nothing is written past the n values' room.
CORVEX_HUD_TARGET_AVX std::size_t keepKeyAvx(const float* values, const std::uint16_t* keys, std::size_t n,
                                             std::uint16_t key, float* inside, std::size_t& kept) {
    const __m128i wanted = _mm_set1_epi16(static_cast<short>(key));
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i same =
            _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + i)), wanted);
        const int low = _mm_movemask_ps(_mm_castsi128_ps(_mm_unpacklo_epi16(same, same)));
        const int high = _mm_movemask_ps(_mm_castsi128_ps(_mm_unpackhi_epi16(same, same)));
        const __m128i first = _mm_castps_si128(_mm_loadu_ps(values + i));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(inside + kept),
            _mm_shuffle_epi8(first, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[low]))));
        kept += kPack.count[low];
        const __m128i second = _mm_castps_si128(_mm_loadu_ps(values + i + 4));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(inside + kept),
            _mm_shuffle_epi8(second, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[high]))));
        kept += kPack.count[high];
    }
    return i;
}
#endif

// The values whose key is `key`, in their order, to the front of `inside`
// (room for n); returns how many.
std::size_t keepKey(const float* values, const std::uint16_t* keys, std::size_t n, std::size_t key,
                    float* inside) {
    std::size_t kept = 0;
    std::size_t i = 0;
#if CORVEX_HUD_AVX
    if (haveAvx())
        i = keepKeyAvx(values, keys, n, static_cast<std::uint16_t>(key), inside, kept);
#endif
    // Every value is written and only those of the key are kept: no branch
    // to mispredict on keys that change from pixel to pixel.
    for (; i < n; ++i) {
        inside[kept] = values[i];
        kept += keys[i] == key ? 1 : 0;
    }
    return kept;
}

} // namespace

void selectRanks(const float* values, const std::uint16_t* keys, std::size_t n, int keyCount,
                 const std::size_t* ranks, float* out, std::size_t m, RankScratch& s) {
    if (n == 0 || keyCount <= 0)
        return;
    const auto buckets = static_cast<std::size_t>(keyCount);
    s.below.assign(buckets + 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        ++s.below[static_cast<std::size_t>(keys[i]) + 1];
    for (std::size_t b = 1; b <= buckets; ++b)
        s.below[b] += s.below[b - 1];
    for (std::size_t q = 0; q < m; ++q) {
        const std::size_t rank = ranks[q];
        // The last key with fewer than rank + 1 values below it holds the rank.
        const auto it =
            std::upper_bound(s.below.begin(), s.below.begin() + static_cast<std::ptrdiff_t>(buckets),
                             static_cast<std::uint32_t>(rank));
        const auto key = static_cast<std::size_t>(it - s.below.begin()) - 1;
        if (s.inside.size() < n)
            s.inside.resize(n);
        float* inside = s.inside.data();
        const std::size_t kept = keepKey(values, keys, n, key, inside);
        const std::size_t within = rank - s.below[key];
        std::nth_element(inside, inside + within, inside + kept);
        out[q] = inside[within];
    }
}

void nameShares(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::size_t n,
                float* warm, float* sat) {
    std::size_t i = 0;
#if CORVEX_HUD_SSE2
    // Four at a time: a vector division rounds each quotient as the scalar
    // one does. Lanes the scalar form sets to 0 divide by 1 and are masked.
    const __m128i zero = _mm_setzero_si128();
    const __m128i oneInt = _mm_set1_epi32(1);
    const __m128 one = _mm_set1_ps(1.0f);
    for (; i + 4 <= n; i += 4) {
        const __m128i bi = _mm_setr_epi32(b[i], b[i + 1], b[i + 2], b[i + 3]);
        const __m128i gi = _mm_setr_epi32(g[i], g[i + 1], g[i + 2], g[i + 3]);
        const __m128i ri = _mm_setr_epi32(r[i], r[i + 1], r[i + 2], r[i + 3]);
        // Byte values: the larger of two is the one whose difference is not
        // negative.
        auto maxOf = [](__m128i x, __m128i y) {
            const __m128i xBigger = _mm_cmpgt_epi32(x, y);
            return _mm_or_si128(_mm_and_si128(xBigger, x), _mm_andnot_si128(xBigger, y));
        };
        auto minOf = [](__m128i x, __m128i y) {
            const __m128i xBigger = _mm_cmpgt_epi32(x, y);
            return _mm_or_si128(_mm_and_si128(xBigger, y), _mm_andnot_si128(xBigger, x));
        };
        const __m128i mx = maxOf(ri, maxOf(gi, bi));
        const __m128i mn = minOf(ri, minOf(gi, bi));
        const __m128i redLow = _mm_cmpgt_epi32(oneInt, _mm_sub_epi32(ri, oneInt)); // r <= 1
        const __m128i dark = _mm_cmpeq_epi32(mx, zero);
        const __m128 w = _mm_div_ps(_mm_cvtepi32_ps(_mm_sub_epi32(ri, bi)),
                                    _mm_or_ps(_mm_andnot_ps(_mm_castsi128_ps(redLow), _mm_cvtepi32_ps(ri)),
                                              _mm_and_ps(_mm_castsi128_ps(redLow), one)));
        const __m128 sa = _mm_div_ps(_mm_cvtepi32_ps(_mm_sub_epi32(mx, mn)),
                                     _mm_or_ps(_mm_andnot_ps(_mm_castsi128_ps(dark), _mm_cvtepi32_ps(mx)),
                                               _mm_and_ps(_mm_castsi128_ps(dark), one)));
        _mm_storeu_ps(warm + i, _mm_andnot_ps(_mm_castsi128_ps(redLow), w));
        _mm_storeu_ps(sat + i, _mm_andnot_ps(_mm_castsi128_ps(dark), sa));
    }
#endif
    for (; i < n; ++i) {
        const int rr = r[i];
        const int gg = g[i];
        const int bb = b[i];
        const int mx = std::max(rr, std::max(gg, bb));
        const int mn = std::min(rr, std::min(gg, bb));
        warm[i] = rr <= 1 ? 0.0f : static_cast<float>(rr - bb) / static_cast<float>(rr);
        sat[i] = mx == 0 ? 0.0f : static_cast<float>(mx - mn) / static_cast<float>(mx);
    }
}

} // namespace hud::detail
