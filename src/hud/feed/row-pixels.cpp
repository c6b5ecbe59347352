#include "hud/feed/row-pixels.h"

#include <algorithm>

namespace hud::detail {

namespace {

// Up to this many values nth_element alone is quicker than the histogram
// (a letter's few hundred pixels; clearing and walking 256 buckets costs
// more than the selection).
constexpr std::size_t kSelectDirectly = 384;

} // namespace

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
