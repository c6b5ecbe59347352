#pragma once

// A reward line's figure or amount read by typesetting candidates the way
// the game sets them and comparing them with the pixels: the last attempt
// at a line whose phrase read but whose figure or amount no cell reading
// could give. Small frames scaled up to the capture leave digits touching
// and soft, where cell by cell the templates tie; set whole, a figure's
// digits explain each other's edges.

#include "hud/cash/lines.h"
#include "hud/core/image.h"
#include "hud/core/model.h"

namespace hud::reward {

// Sets the line's figure or experience amount when one string fits the
// row at `top`..`bottom` clearly better than any other; leaves the line as
// it was otherwise. `hp` is the line height the balance gives and
// `figureRight` the column where the game ends the figure.
bool readAmountBySynthesis(const Model& model, const FramePlanes& planes, double hp, double figureRight,
                           HudLine& line);

} // namespace hud::reward
