#include "hud/feed/select.h"

#include <algorithm>

namespace hud::detail {

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
        s.inside.clear();
        for (std::size_t i = 0; i < n; ++i)
            if (keys[i] == key)
                s.inside.push_back(values[i]);
        const std::size_t within = rank - s.below[key];
        std::nth_element(s.inside.begin(), s.inside.begin() + static_cast<std::ptrdiff_t>(within),
                         s.inside.end());
        out[q] = s.inside[within];
    }
}

} // namespace hud::detail
