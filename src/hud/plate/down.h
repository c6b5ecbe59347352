#pragma once

// The damage-log header the game shows while the player is knocked down,
// found by correlating the kill-feed data's header variants.

#include "hud/feed/killdata.h"

#include <cstdint>
#include <memory>

namespace hud {

struct DownRead {
    float score = 0.0f; // best correlation, at least 0
    bool found = false; // score >= 0.8
    float x = 0.0f;     // top-left of the best position in the captured area
    float y = 0.0f;
};

// Kept by the engine between damage-log passes.
struct DownDetector {
    std::shared_ptr<const KillData> killData;
    int lockedVariant = -1;
    int lockedX = 0;
    int lockedY = 0;
};

// One read of the damage-log area (captured at 562.5 reference lines).
// `fullScan` searches every variant at every position; otherwise only the
// locked position or the expected one is searched.
DownRead readDownScore(DownDetector& detector, const std::uint8_t* pixels, int width, int height,
                       int bytesPerLine, bool fullScan);

} // namespace hud
