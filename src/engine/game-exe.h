#pragma once

// A fixed lower-case word in the name of the game's executable. A capture
// source is taken to show the game when the executable or window it captures
// contains it (ignoring case).
inline constexpr char kGameExecutableMarker[] = "game";
