#pragma once

// Cutting a feed row into the killer's name, the icon zone and the victim's
// name, with the buffers of its second looks kept from row to row.

#include "hud/feed/feed.h"

#include <vector>

namespace hud::detail {

// A row's second looks at its split, kept for the next row.
struct SplitTries {
    RowSplit again;
    RowSplit byName;
    std::vector<Blob> name;
};

// splitRow into `split`, the second looks in `tries`; an attempt that wins
// trades buffers with `split`, so every buffer stays for the next row.
void splitRowInto(const RowCtx& ctx, int bracketX0, int bracketX1, RowSplit& split, SplitTries& tries);

} // namespace hud::detail
