#pragma once

// One reading pass of the cash HUD: find the money line among the bright blobs
// of the captured top-right region, check that it ends at the HUD's right
// margin, then read the balance, the change beside it and the reward lines
// below it.

#include "hud/core/image.h"
#include "hud/cash/lines.h"
#include "hud/core/model.h"

#include <cstdint>
#include <string>
#include <vector>

namespace hud {

// Why a pass gave no certain balance. The engine shows and logs these.
constexpr const char* kReasonNoMoneyLine = "no money line";
constexpr const char* kReasonOffMargin = "balance not at the HUD's right margin";
constexpr const char* kReasonUnreadable = "balance unreadable";
constexpr const char* kReasonUncertain = "balance uncertain";

// The money line's height at the game's default HUD scale, in the capture's
// 907-pixel-wide space.
constexpr double kDefaultMoneyLineHeight = 27.0;

struct HudReadOptions {
    bool readLines = true;
    float minConfidence = 0.85f;
    float minMargin = 0.03f;
    float minLineConfidence = 0.72f;
    bool allowOffMargin = true;
    bool retryLowContrast = true;
    // A second thread the pass gives part of its work to, the readings
    // the same; none: all of it on the caller's.
    HelperThread* helper = nullptr;
};

struct MoneyLine {
    double top = 0.0;            // upper median of the characters' y0
    double bottom = 0.0;         // upper median of their y1
    double height = 0.0;         // bottom - top + 1
    std::vector<Blob> rowBlobs;  // the whole row, by x0
    std::vector<Blob> charBlobs; // the blobs of character height, by x0
    bool rowAbove = false;       // a row that could hold the balance stands above this one
};

struct HudReading {
    bool found = false;
    float lineHeight = 0.0f;
    bool balanceCertain = false;
    std::int64_t balance = 0;
    std::string balanceText;
    float balanceConfidence = 0.0f;
    float balanceMargin = 0.0f;
    double balanceLeft = 0.0;
    double balanceRight = 0.0;
    bool changeCertain = false;
    std::int64_t change = 0;
    std::string changeText;
    float changeConfidence = 0.0f;
    float changeMargin = 0.0f;
    double changeLeft = 0.0;
    double changeRight = 0.0;
    std::int32_t arrow = 0; // -1 red, +1 green, 0 unknown
    std::vector<HudLine> lines;
    std::string reason;
};

// Finds the money line in planes.mask. False when the region holds no row of
// at least two digit-sized blobs.
bool findMoneyLine(FramePlanes& planes, MoneyLine& line);
// The same from a mask's blobs, the pieces of digits that blur broke apart
// joined, each column's stacked pieces into one digit: for a frame
// findMoneyLine finds no line in.
bool findBrokenMoneyLine(const std::vector<Blob>& blobs, MoneyLine& line);

// One pass over one captured frame. Never throws for image content; a frame
// that is empty, null or of an impossible size reads as "no money line".
// This form keeps its working buffers per thread and reuses them.
HudReading readHud(const Model& model, const FrameView& frame, const HudReadOptions& options);
// The same with caller-owned working buffers, which hold the frame's planes
// afterwards.
HudReading readHud(const Model& model, const FrameView& frame, const HudReadOptions& options,
                   FramePlanes& planes);

// "HUD size" in percent of the default scale, truncated; 0 without a line.
int hudSizePercent(float lineHeight);

} // namespace hud
