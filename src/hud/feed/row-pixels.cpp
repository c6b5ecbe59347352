#include "hud/feed/row-pixels.h"

#include "hud/core/simd.h"

#include <algorithm>

namespace hud::detail {

namespace {

inline bool nearWhite(const std::uint8_t* p, int floor, int spread) {
    const int lo = std::min(p[0], std::min(p[1], p[2]));
    const int hi = std::max(p[0], std::max(p[1], p[2]));
    return lo >= floor && hi - lo <= spread;
}

#if CORVEX_HUD_SSE2
// Four pixels, one per 32-bit lane: the lane's low byte takes the lowest and
// highest of blue, green and red; all ones where the pixel is near white.
struct NearWhite4 {
    __m128i low = _mm_set1_epi32(0xff);
    __m128i floorBelow;
    __m128i spreadAbove;

    NearWhite4(int floor, int spread)
        : floorBelow(_mm_set1_epi32(floor - 1)), spreadAbove(_mm_set1_epi32(spread + 1)) {}

    __m128i operator()(const std::uint8_t* px) const {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px));
        const __m128i g = _mm_srli_epi32(v, 8);
        const __m128i r = _mm_srli_epi32(v, 16);
        const __m128i lo = _mm_and_si128(_mm_min_epu8(_mm_min_epu8(v, g), r), low);
        const __m128i hi = _mm_and_si128(_mm_max_epu8(_mm_max_epu8(v, g), r), low);
        return _mm_and_si128(_mm_cmpgt_epi32(lo, floorBelow),
                             _mm_cmpgt_epi32(spreadAbove, _mm_sub_epi32(hi, lo)));
    }
};
#endif

// Up to this many values nth_element alone is quicker than the histogram
// (a letter's few hundred pixels; clearing and walking 256 buckets costs
// more than the selection).
constexpr std::size_t kSelectDirectly = 384;

} // namespace

int countNearWhite(const std::uint8_t* px, int n, int floor, int spread) {
    int x = 0;
    int count = 0;
#if CORVEX_HUD_SSE2
    const NearWhite4 test(floor, spread);
    __m128i sum = _mm_setzero_si128();
    for (; x + 4 <= n; x += 4)
        sum = _mm_sub_epi32(sum, test(px + 4 * static_cast<std::size_t>(x)));
    alignas(16) int lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sum);
    count = lanes[0] + lanes[1] + lanes[2] + lanes[3];
#endif
    for (; x < n; ++x)
        count += nearWhite(px + 4 * static_cast<std::size_t>(x), floor, spread) ? 1 : 0;
    return count;
}

void markNearWhite(const std::uint8_t* px, int n, int floor, int spread, std::uint8_t* out) {
    int x = 0;
#if CORVEX_HUD_SSE2
    const NearWhite4 test(floor, spread);
    const __m128i one = _mm_set1_epi8(1);
    for (; x + 16 <= n; x += 16) {
        const std::uint8_t* p = px + 4 * static_cast<std::size_t>(x);
        const __m128i lanes = _mm_packs_epi16(_mm_packs_epi32(test(p), test(p + 16)),
                                              _mm_packs_epi32(test(p + 32), test(p + 48)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_and_si128(lanes, one));
    }
#endif
    for (; x < n; ++x)
        out[x] = nearWhite(px + 4 * static_cast<std::size_t>(x), floor, spread) ? 1 : 0;
}

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

} // namespace hud::detail
