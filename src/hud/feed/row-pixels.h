#pragma once

// Pixel arithmetic every step of a feed row shares: plane offsets, clamped
// rounding, the usability check of a row's context, luma and medians.

#include "hud/feed/feed.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace hud::detail {

inline std::size_t at(int x, int y, int w) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
}

// floor(v) as an int, with NaN and values out of any frame held far outside
// it rather than overflowing.
inline int floorInt(double v) {
    if (!(v > -1e9))
        return -1000000000;
    if (!(v < 1e9))
        return 1000000000;
    return static_cast<int>(std::floor(v));
}

inline bool planesUsable(const FramePlanes& planes) {
    const FrameView& f = planes.frame;
    return f.valid() && planes.mask.size() >= at(0, f.height, f.width);
}

// A row's context points at planes of its own frame and has a finite band.
inline bool rowUsable(const RowCtx& ctx) {
    return ctx.planes && planesUsable(*ctx.planes) && ctx.frame.valid() &&
           ctx.frame.width == ctx.planes->frame.width && ctx.frame.height == ctx.planes->frame.height &&
           ctx.cap > 0.0 && std::isfinite(ctx.cap) && std::isfinite(ctx.top) && std::isfinite(ctx.bottom);
}

// Luma of a BGRA pixel.
inline float lumaOf(const std::uint8_t* px) {
    return static_cast<float>(px[2]) * 0.299f + static_cast<float>(px[1]) * 0.587f +
           static_cast<float>(px[0]) * 0.114f;
}

// Of n BGRA pixels from px, how many are near white: every channel at least
// `floor` and no channel more than `spread` above the lowest.
int countNearWhite(const std::uint8_t* px, int n, int floor, int spread);
// out[i] = 1 where pixel i of the n is near white by the same test, else 0.
void markNearWhite(const std::uint8_t* px, int n, int floor, int spread, std::uint8_t* out);

// The k-th smallest value (0-based), as nth_element finds it, reordering v.
float kthSmallest(std::vector<float>& v, std::size_t k);

// The element at size / 2 in order; 0 for none.
inline float upperMedian(std::vector<float>& v) {
    return v.empty() ? 0.0f : kthSmallest(v, v.size() / 2);
}

} // namespace hud::detail
