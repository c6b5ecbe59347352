#pragma once

// The reader log's texts for events and status records.

#include "uplink/game-event.h"

#include <cstdint>
#include <string>

namespace reading {

// "$12,345" or "-$250".
std::string moneyText(std::int64_t value);

// The "EVENT" line of an event: "balance $1,200 (c0.97)", "match change -$250",
// "line [KILL +$100] id 7", "kill 42 m weapon M4 (rifle) c0.91", "down (bleeding out)".
// Empty for a heartbeat, which gets no line.
std::string eventText(const GameEvent& event);

// The "STATUS" line of a status record.
std::string statusText(const GameEvent& status);

} // namespace reading
