#pragma once

// Where each reader looks in the source's picture and how often it runs.
// Plain rules shared by the engine and the footage tools, so that a replay of
// footage reads the regions the engine reads at the rates it reads them.

#include <cstdint>

namespace reading {

struct Crop {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// A region in source pixels (doubles: the scaled regions rarely fall on
// whole pixels).
struct Region {
    double x = 0.0;
    double y = 0.0;
    double w = 0.0;
    double h = 0.0;
};

// The source's size and the user's crop; W x H is the cropped game picture.
struct Geometry {
    int sourceWidth = 0;
    int sourceHeight = 0;
    Crop crop;

    int width() const { return sourceWidth - crop.left - crop.right; }
    int height() const { return sourceHeight - crop.top - crop.bottom; }
    // The readers need at least 320 x 240 of game picture.
    bool readable() const;
};

// The cash HUD: the top-right corner of the cropped picture, 0.42 H wide (at
// most W) and 0.22 H high, captured 907 pixels wide. Empty when not readable.
constexpr int kHudCaptureWidth = 907;
bool hudRegion(const Geometry& g, Region& out);

enum class AuxReader { Feed, Down, Plate };
constexpr int kAuxReaderCount = 3;

struct AuxRegionPlace {
    bool fromRight;
    double x0, x1, y0, y1; // in units of the cropped height H
    double refHeight;      // the reader sees the region as if H were this
    std::int64_t everyMs;  // times the rate divisor
    bool needsTallFrame;   // only when H >= 1000
};
const AuxRegionPlace& auxPlace(AuxReader reader);

// False when the reader does not run on this geometry (too small, or a region
// under 8 x 8 pixels).
bool auxRegion(AuxReader reader, const Geometry& g, Region& out);
// The capture's output width: max(16, round(region width * refHeight / H)).
int auxOutputWidth(AuxReader reader, const Region& region, const Geometry& g);

// Which auxiliary readers run at a pass.
struct AuxDue {
    bool feed = false;
    bool down = false;
    bool plate = false;
    bool fullScan = false; // the down reader searches the whole area
    bool any() const { return feed || down || plate; }
    bool has(AuxReader r) const { return r == AuxReader::Feed ? feed : r == AuxReader::Down ? down : plate; }
};

// The auxiliary readers' own rates, slowed by a divisor of 1, 2 or 4 when
// passes grow long, so that the HUD keeps its rate on a slow machine.
class AuxSchedule {
public:
    // The readers due at `now` for this geometry; marks them as run.
    // `downLocked`: the down reader has locked onto a variant.
    AuxDue due(std::int64_t now, const Geometry& g, bool downLocked);
    // The length of a pass in which a reader ran. True when the divisor
    // changed. The first such pass is not counted: it pays for cold caches
    // and first allocations, and as the first average it would slow the
    // readers to a quarter for the next twenty seconds.
    bool notePassTime(double ms);
    int divisor() const { return divisor_; }
    double averageMs() const { return average_; }

private:
    std::int64_t lastRun_[kAuxReaderCount] = {0, 0, 0};
    std::int64_t lastFullScan_ = 0;
    bool warmedUp_ = false;
    bool measured_ = false;
    double average_ = 0.0;
    int divisor_ = 1;
};

} // namespace reading
