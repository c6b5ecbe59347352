#pragma once

// The money cell's 2 x 2 form taken straight from the context's strip, for
// the search, which scores only a few of the cells it bounds. Only the money
// reader's own files include this.

#include "hud/cash/money.h"

namespace hud::moneyread {

// coarsenMoneyCell of the cell sampleLineCell(ctx, cx) gives, without the
// cell: the same block sums and means of the same blended values, the
// deviations summed in another order. Returns the length of what the
// blocks leave out.
float sampleLineCoarse(MoneyRowContext& ctx, double cx, float* coarse);

} // namespace hud::moneyread
