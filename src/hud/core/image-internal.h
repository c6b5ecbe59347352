// Helpers the image core's files share; not part of the readers' interface.
#pragma once

#include "hud/core/image.h"

#include <cstddef>
#include <cstdint>

namespace hud::detail {

inline std::size_t area(int w, int h) {
    return static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
}

inline bool sizeAcceptable(int w, int h) {
    return w > 0 && h > 0 && w <= kMaxFrameSide && h <= kMaxFrameSide &&
           static_cast<std::int64_t>(w) * h <= kMaxFramePixels;
}

// Two rows of a column window's pick: out0[x] the smallest (largest) of
// rows[0 .. count - 2][x], out1[x], unless out1 is null, of rows[1 .. count - 1][x],
// for x < n; count >= 4.
void minPair(const float* const* rows, int count, float* out0, float* out1, int n);
void maxPair(const float* const* rows, int count, float* out0, float* out1, int n);

// The smallest (largest) value of the 2r + 1 window around each of the w
// values of `src`, the window clipped at the row's ends, into dst. `work`
// holds 2 * (w + 2r) floats.
void rowMin(const float* src, int w, int r, float* dst, float* work);
void rowMax(const float* src, int w, int r, float* dst, float* work);

} // namespace hud::detail
