#pragma once

// The kill feed's own preparation of a capture: the same smooth, ink and mask
// planes as prepareFrame, bit for bit, built in one streaming sweep. The
// opening (a 9 x 9 erosion, then dilation) runs two rows at a time through
// rings of ten rows, and each finished row gives its ink and mask at once,
// so none of the opening's intermediate planes is written out and read
// back: on a feed capture those frame-sized round trips cost more than the
// arithmetic.

#include "hud/core/image.h"

#include <vector>

namespace hud {

// Buffers of the sweep, kept so that a steady stream of equally sized
// captures does not allocate.
struct FeedPrepScratch {
    std::vector<float> rowA; // a row padded by the window's radius, twice
    std::vector<float> rowB;
    std::vector<float> eroded; // ring: rows eroded across
    std::vector<float> opened; // ring: rows eroded down, then dilated across
    std::vector<float> column; // two rows eroded down, or dilated down
};

// Fills planes.smooth, planes.ink and planes.mask for `frame` exactly as
// prepareFrame does and clears the lazily filled parts the same way. An
// invalid frame leaves every plane empty.
void prepareFeedPlanes(const FrameView& frame, FramePlanes& planes, FeedPrepScratch& scratch);

} // namespace hud
