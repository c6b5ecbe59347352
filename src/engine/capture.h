#pragma once

// Renders one region of an OBS source into a small off-screen image and copies
// its pixels back, on the reader thread, inside the graphics context.

#include "engine/regions.h"
#include "hud/core/image.h"

#include <obs.h>

#include <QImage>

#include <cstdint>
#include <vector>

// Pixels as captured: B, G, R, A bytes per pixel, `stride` bytes per row.
struct CapturedImage {
    std::vector<std::uint8_t> pixels; // reused between captures
    int width = 0;
    int height = 0;
    int stride = 0;

    bool empty() const { return width <= 0 || height <= 0; }
    hud::FrameView view() const;
    // A deep copy the caller may keep.
    QImage toImage() const;
};

// One per captured region: its render target and staging surface are reused
// from pass to pass; only a change of output size makes a new surface.
class CaptureContext {
public:
    CaptureContext() = default;
    ~CaptureContext();
    CaptureContext(const CaptureContext&) = delete;
    CaptureContext& operator=(const CaptureContext&) = delete;

    // Renders `region` (source pixels) of `source` at `outWidth` pixels wide
    // (the region's own width when below 1). False when the source shows
    // nothing, the region is under 4 source pixels or the output under 8 lines
    // high, or the graphics device failed.
    bool capture(obs_source_t* source, const reading::Region& region, int outWidth, CapturedImage& out);
    // The same with the region as fractions (0 to 1) of the source's size.
    bool captureFraction(obs_source_t* source, double x, double y, double w, double h, int outWidth,
                         CapturedImage& out);

    // Frees the graphics objects (inside the graphics context).
    void release();

private:
    gs_texrender_t* render_ = nullptr;
    gs_stagesurf_t* stage_ = nullptr;
    std::uint32_t stagedWidth_ = 0;
    std::uint32_t stagedHeight_ = 0;
};
