#pragma once

// The feed's components grouped into text lines, as groupRows groups them,
// into buffers that stay with the reader: a pass over a steady stream then
// takes nothing from the heap for its lines.

#include "hud/core/image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hud::detail {

struct FeedLines {
    // The result: lines[0 .. count) and their geometry, as groupRows gives
    // them. Lines past count are spare buffers.
    std::vector<std::vector<Blob>> lines;
    std::vector<RowGeometry> geometry;
    std::size_t count = 0;

    // Work space, kept between passes.
    struct Line {
        int y0 = 0;
        int y1 = 0;
        std::vector<Blob> blobs;
        RowGeometry geometry;
    };
    std::vector<Line> work; // work[0 .. used) are the lines being built
    std::size_t used = 0;
    std::vector<const Blob*> large;
    std::vector<const Blob*> small;
    std::vector<std::size_t> order;
    std::vector<std::uint32_t> byX;
    std::vector<int> tops;
    std::vector<int> bottoms;
};

// groupRows(blobs, &geometry) into `out`.
void groupFeedLines(const std::vector<Blob>& blobs, FeedLines& out);

} // namespace hud::detail
