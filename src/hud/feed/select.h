#pragma once

// Order statistics of the kill feed's pixel samples (a name's brightness,
// warmth and saturation) without sorting them: each value comes with a small
// integer key that never decreases as the value grows, the keys are counted,
// and only the values sharing the key of the wanted rank are selected among.
// The result is the value std::nth_element finds at that rank.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace hud::detail {

struct RankScratch {
    std::vector<std::uint32_t> below; // per key: values with a smaller key
    std::vector<float> inside;
};

// out[q] = the value of rank ranks[q] (0-based, each below n) among the n
// values, for q < m. keys[i] < keyCount for every i, and a smaller value
// never has a larger key. Values are compared as floats: no NaN.
void selectRanks(const float* values, const std::uint16_t* keys, std::size_t n, int keyCount,
                 const std::size_t* ranks, float* out, std::size_t m, RankScratch& s);

// Keys of the samples selectRanks sorts: brightness 0..255 by its integer
// part; a share (warmth, saturation) in -1..1 in 1024 steps, anything below
// -1 in the first.
constexpr int kLumaKeys = 256;
constexpr int kShareKeys = 1024;

inline std::uint16_t lumaKey(float luma) {
    return static_cast<std::uint16_t>(luma >= 255.0f ? 255.0f : (luma > 0.0f ? luma : 0.0f));
}

inline std::uint16_t shareKey(float share) {
    if (!(share > -1.0f))
        return 0;
    const float k = (share + 1.0f) * 512.0f;
    return static_cast<std::uint16_t>(k >= 1023.0f ? 1023.0f : k);
}

// Per pixel of channels b, g, r (n of them): warm[i] = (r - b) / r, 0 where
// r <= 1; sat[i] = (max - min) / max, 0 where max is 0. In single precision,
// each the correctly rounded quotient.
void nameShares(const std::uint8_t* b, const std::uint8_t* g, const std::uint8_t* r, std::size_t n,
                float* warm, float* sat);

// std::stable_sort's order. Up to 64 elements (every list of a feed row the
// readers sort) by insertion, which needs no buffer: std::stable_sort takes
// one from the heap on every call.
template <class It, class Less> void stableSort(It first, It last, Less less) {
    if (std::distance(first, last) > 64) {
        std::stable_sort(first, last, less);
        return;
    }
    for (It i = first; i != last; ++i) {
        auto value = std::move(*i);
        It j = i;
        for (; j != first && less(value, *std::prev(j)); --j)
            *j = std::move(*std::prev(j));
        *j = std::move(value);
    }
}

} // namespace hud::detail
