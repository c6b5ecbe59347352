#pragma once

// Short fixed text forms of what the HUD reader saw, for the reader log and
// the sample files. The engine also compares successive read summaries to
// write a "READ" line only when something changed.

#include "hud/cash/lines.h"
#include "hud/cash/pass.h"

#include <string>

namespace hud {

// "KILL CONFIRMED +$250 50XP": the line's text (or raw text), its figure and
// its experience amount.
std::string lineKey(const HudLine& line);

// One line: "bal $12,345 (c0.97 m0.12) | chg -$250 arrow -1 | [KILL +$250] | hud 100%".
std::string readSummary(const HudReading& reading);

} // namespace hud
