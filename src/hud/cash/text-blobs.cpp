#include "hud/cash/lines-internal.h"

#include "hud/core/image.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// The frame's text blobs: bright text as the mask holds it, and dark text on
// the light panels, inverted into ink so one set of templates reads both.

namespace hud::reward {

namespace {

// A light panel's size and fill, the top-hat that lifts its dark letters,
// and how bright those must come out to be ink.
constexpr int kPanelMinHeight = 24;
constexpr int kPanelMaxHeight = 60;
constexpr int kPanelMinWidth = 50;
constexpr int kPanelMaxWidth = 260;
constexpr double kPanelFill = 0.55;
constexpr int kPanelTopHat = 7;
constexpr float kPanelTextTopHat = 34.0f;
constexpr float kPanelTextInv = 60.0f;

// A light area too dark inside to pass as a panel by its fill alone is still
// one when its padding is light all round: bold dark letters at the font's
// own spacing take close to half of a panel with the game's narrow padding.
constexpr double kPanelLooseFill = 0.3;
constexpr double kPanelRimLight = 0.9;
// "KILL" on its panel is about 1.6 panel heights wide.
constexpr int kNarrowPanelMinWidth = 36;
constexpr double kNarrowPanelHeights = 1.3;
// Bold letters blurred at small sizes leave a panel lighter than this only.
constexpr double kPanelSoftFill = 0.2;

bool plainTextSize(const Blob& b) {
    return b.height() >= kTextMinHeight && b.height() <= kTextMaxHeight && b.width() <= kTextMaxWidth &&
           b.area >= kTextMinArea;
}

bool insideGrown(const Blob& b, const Blob& panel) {
    return b.x0 >= panel.x0 - kPanelGrow && b.x1 <= panel.x1 + kPanelGrow && b.y0 >= panel.y0 - kPanelGrow &&
           b.y1 <= panel.y1 + kPanelGrow;
}

// Whether the smooth plane is light at (x, y): what the panels are made of.
bool lightAt(const Plane& smooth, int x, int y) {
    return smooth.pixels[offset(x, y, smooth.width)] > kPanelLuma;
}

// Share of light pixels along the panel's padding: the second row and column
// in from each side of the box.
double rimLight(const Plane& smooth, const Blob& b) {
    int light = 0;
    int total = 0;
    for (int x = b.x0 + 2; x <= b.x1 - 2; ++x) {
        light +=
            static_cast<int>(lightAt(smooth, x, b.y0 + 1)) + static_cast<int>(lightAt(smooth, x, b.y1 - 1));
        total += 2;
    }
    for (int y = b.y0 + 2; y <= b.y1 - 2; ++y) {
        light +=
            static_cast<int>(lightAt(smooth, b.x0 + 1, y)) + static_cast<int>(lightAt(smooth, b.x1 - 1, y));
        total += 2;
    }
    return total > 0 ? static_cast<double>(light) / total : 0.0;
}

// A light component's box without the ragged rows and columns at its edges
// where bright scene or a soft panel edge joins it: the panel proper.
Blob trimmedBox(const Plane& smooth, const Blob& b) {
    Blob t = b;
    auto rowShare = [&](int y) {
        int n = 0;
        for (int x = t.x0; x <= t.x1; ++x)
            n += static_cast<int>(lightAt(smooth, x, y));
        return static_cast<double>(n) / (t.x1 - t.x0 + 1);
    };
    auto columnShare = [&](int x) {
        int n = 0;
        for (int y = t.y0; y <= t.y1; ++y)
            n += static_cast<int>(lightAt(smooth, x, y));
        return static_cast<double>(n) / (t.y1 - t.y0 + 1);
    };
    for (int pass = 0; pass < 2; ++pass) {
        while (t.y1 - t.y0 > 4 && rowShare(t.y0) < kPanelEdgeLight)
            ++t.y0;
        while (t.y1 - t.y0 > 4 && rowShare(t.y1) < kPanelEdgeLight)
            --t.y1;
        while (t.x1 - t.x0 > 4 && columnShare(t.x0) < kPanelEdgeLight)
            ++t.x0;
        while (t.x1 - t.x0 > 4 && columnShare(t.x1) < kPanelEdgeLight)
            --t.x1;
    }
    return t;
}

// The light panels of the frame: bright components of a panel's size that
// are filled, or loosely filled with a lit rim. `loose` receives the panels
// only a second look finds: components whose rim is lit once the ragged
// edges where the scene joins them are trimmed off, or whose bold letters
// leave less of them light.
std::vector<Blob> findPanels(FramePlanes& planes, std::vector<Blob>& loose) {
    const Plane& smooth = planes.smooth;
    std::vector<Blob> panels;
    std::vector<Blob> brightBlobs;
    labelAbove(smooth, kPanelLuma, brightBlobs, planes.scratch.labels);
    for (const Blob& b : brightBlobs) {
        const int bw = b.width();
        const int bh = b.height();
        if (bh < kPanelMinHeight || bh > kPanelMaxHeight || bw < kNarrowPanelMinWidth || bw > kPanelMaxWidth)
            continue;
        // A short word's panel at a small HUD scale is narrower than the
        // usual lower bound; such a one must be light all round its padding.
        if (bw < kPanelMinWidth) {
            if (bw >= kNarrowPanelHeights * bh && b.area > kPanelLooseFill * bw * bh &&
                rimLight(smooth, b) >= kPanelRimLight)
                panels.push_back(b);
            continue;
        }
        if (b.area > kPanelFill * bw * bh ||
            (b.area > kPanelLooseFill * bw * bh && rimLight(smooth, b) >= kPanelRimLight)) {
            panels.push_back(b);
            continue;
        }
        const Blob t = trimmedBox(smooth, b);
        const int tw = t.width();
        const int th = t.height();
        if (th >= kPanelMinHeight - 4 && tw >= kNarrowPanelHeights * th &&
            b.area > kPanelSoftFill * tw * th && rimLight(smooth, t) >= kPanelRimLight)
            loose.push_back(t);
    }
    return panels;
}

// Bright text of plain size off the panels.
void keepPlainText(FramePlanes& planes, const std::vector<Blob>& panels, int w, int h) {
    // The money line search has usually labelled this very mask already.
    if (!planes.maskBlobsReady) {
        labelComponents(planes.mask, w, h, planes.scratch.blobs, planes.scratch.labels);
        planes.maskBlobsReady = true;
    }
    for (const Blob& b : planes.scratch.blobs) {
        const bool onPanel =
            std::any_of(panels.begin(), panels.end(), [&b](const Blob& p) { return insideGrown(b, p); });
        if (onPanel || !plainTextSize(b) || b.x0 < 1 || b.y0 < 1)
            continue;
        Blob kept = b;
        kept.inverted = false;
        planes.textBlobs.push_back(kept);
    }
}

// Dark text on a light panel becomes ordinary bright ink once the panel is
// inverted, so the glyph templates serve both kinds of line.
void keepPanelText(FramePlanes& planes, const std::vector<Blob>& panels, int w) {
    Plane inv;
    Plane th;
    Plane ramp;
    Plane tmpA;
    Plane tmpB;
    std::vector<std::uint8_t> cropMask;
    std::vector<Blob> cropBlobs;
    for (const Blob& p : panels) {
        const int cw = p.width();
        const int ch = p.height();
        inv.reshape(cw, ch);
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x)
                inv.pixels[offset(x, y, cw)] = 255.0f - planes.smooth.at(p.x0 + x, p.y0 + y);
        topHat(inv, kPanelTopHat, th, tmpA, tmpB);
        contrastRamp(th, ramp);
        for (int y = 0; y < ch; ++y)
            std::copy_n(ramp.pixels.begin() + static_cast<std::ptrdiff_t>(offset(0, y, cw)), cw,
                        planes.ink2.pixels.begin() + static_cast<std::ptrdiff_t>(offset(p.x0, p.y0 + y, w)));
        cropMask.assign(static_cast<std::size_t>(cw) * static_cast<std::size_t>(ch), 0);
        for (int y = kPanelBorder; y < ch - kPanelBorder; ++y)
            for (int x = kPanelBorder; x < cw - kPanelBorder; ++x) {
                const std::size_t i = offset(x, y, cw);
                cropMask[i] = (th.pixels[i] > kPanelTextTopHat && inv.pixels[i] > kPanelTextInv) ? 1 : 0;
            }
        labelComponents(cropMask, cw, ch, cropBlobs, planes.scratch.labels);
        for (Blob b : cropBlobs) {
            if (!plainTextSize(b))
                continue;
            b.x0 += p.x0;
            b.x1 += p.x0;
            b.y0 += p.y0;
            b.y1 += p.y0;
            b.inverted = true;
            planes.textBlobs.push_back(b);
        }
    }
}

} // namespace

} // namespace hud::reward

namespace hud {

using namespace reward;

void findTextBlobs(FramePlanes& planes) {
    if (planes.textBlobsReady)
        return;
    planes.textBlobsReady = true;
    planes.textBlobs.clear();
    planes.panels.clear();

    const int w = planes.smooth.width;
    const int h = planes.smooth.height;
    if (planes.smooth.empty() || !sameSize(planes.smooth, w, h)) {
        planes.ink2 = Plane{};
        return;
    }
    // Everything downstream samples ink2 at smooth's coordinates; planes that
    // disagree in size would be read out of bounds, so such ink is dropped.
    if (sameSize(planes.ink, w, h)) {
        planes.ink2 = planes.ink;
    } else {
        planes.ink2.width = w;
        planes.ink2.height = h;
        planes.ink2.pixels.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0.0f);
    }
    std::vector<Blob> loose;
    const std::vector<Blob> panels = findPanels(planes, loose);
    keepPlainText(planes, panels, w, h);
    keepPanelText(planes, panels, w);
    planes.panels = panels;
    planes.panels.insert(planes.panels.end(), loose.begin(), loose.end());
}

} // namespace hud
