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

} // namespace hud::detail
