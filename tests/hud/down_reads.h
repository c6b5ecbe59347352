#pragma once

#include "hud/plate/down.h"

// A damage-log match of `score` found at (x, y), marked found as the down
// reader marks it, for the tests of what follows a down read.
inline hud::DownRead downRead(float score, float x = 10.0f, float y = 20.0f) {
    hud::DownRead r;
    r.score = score;
    r.found = score >= 0.8f;
    r.x = x;
    r.y = y;
    return r;
}
