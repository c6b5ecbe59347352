#include "engine/capture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

hud::FrameView CapturedImage::view() const {
    hud::FrameView v;
    v.width = width;
    v.height = height;
    v.stride = stride;
    v.pixels = pixels.empty() ? nullptr : pixels.data();
    return v;
}

QImage CapturedImage::toImage() const {
    if (empty() || pixels.empty())
        return {};
    return QImage(pixels.data(), width, height, stride, QImage::Format_RGB32).copy();
}

CaptureContext::~CaptureContext() {
    release();
}

void CaptureContext::release() {
    if (!render_ && !stage_)
        return;
    // After libobs has shut down its device is gone, and these with it.
    if (!obs_initialized()) {
        render_ = nullptr;
        stage_ = nullptr;
        stagedWidth_ = stagedHeight_ = 0;
        return;
    }
    obs_enter_graphics();
    gs_texrender_destroy(render_);
    gs_stagesurface_destroy(stage_);
    obs_leave_graphics();
    render_ = nullptr;
    stage_ = nullptr;
    stagedWidth_ = stagedHeight_ = 0;
}

bool CaptureContext::captureFraction(obs_source_t* source, double x, double y, double w, double h,
                                     int outWidth, CapturedImage& out) {
    if (!source)
        return false;
    const std::uint32_t sw = obs_source_get_width(source);
    const std::uint32_t sh = obs_source_get_height(source);
    if (sw == 0 || sh == 0)
        return false;
    x = std::clamp(x, 0.0, 1.0);
    y = std::clamp(y, 0.0, 1.0);
    w = std::clamp(w, 0.0, 1.0 - x);
    h = std::clamp(h, 0.0, 1.0 - y);
    const double pw = w * sw;
    const double ph = h * sh;
    if (pw < 4.0 || ph < 4.0)
        return false;
    const long width = outWidth >= 1 ? outWidth : std::lround(pw);
    const long height = std::lround(static_cast<double>(width) * ph / pw);
    // A runaway size would ask the device for a texture it cannot make.
    if (height < 8 || width > 16384 || height > 16384)
        return false;
    const auto cx = static_cast<std::uint32_t>(width);
    const auto cy = static_cast<std::uint32_t>(height);

    obs_enter_graphics();
    if (!render_)
        render_ = gs_texrender_create(GS_BGRA, GS_ZS_NONE);
    if (!stage_ || stagedWidth_ != cx || stagedHeight_ != cy) {
        gs_stagesurface_destroy(stage_);
        stage_ = gs_stagesurface_create(cx, cy, GS_BGRA);
        stagedWidth_ = stage_ ? cx : 0;
        stagedHeight_ = stage_ ? cy : 0;
    }
    bool ok = false;
    if (render_ && stage_) {
        gs_texrender_reset(render_);
        if (gs_texrender_begin(render_, cx, cy)) {
            vec4 clear;
            vec4_zero(&clear);
            gs_clear(GS_CLEAR_COLOR, &clear, 0.0f, 0);
            const double left = x * sw;
            const double top = y * sh;
            gs_ortho(static_cast<float>(left), static_cast<float>(left + pw), static_cast<float>(top),
                     static_cast<float>(top + ph), -100.0f, 100.0f);
            gs_blend_state_push();
            gs_blend_function(GS_BLEND_ONE, GS_BLEND_ZERO);
            obs_source_video_render(source);
            gs_blend_state_pop();
            gs_texrender_end(render_);

            gs_stage_texture(stage_, gs_texrender_get_texture(render_));
            std::uint8_t* data = nullptr;
            std::uint32_t lineSize = 0;
            if (gs_stagesurface_map(stage_, &data, &lineSize)) {
                // Rows may be padded (they are on Direct3D): keep the
                // device's line size as the stride.
                const std::size_t bytes = static_cast<std::size_t>(cy) * lineSize;
                out.pixels.resize(bytes);
                std::memcpy(out.pixels.data(), data, bytes);
                gs_stagesurface_unmap(stage_);
                out.width = static_cast<int>(cx);
                out.height = static_cast<int>(cy);
                out.stride = static_cast<int>(lineSize);
                ok = true;
            }
        }
    }
    obs_leave_graphics();
    return ok;
}

bool CaptureContext::capture(obs_source_t* source, const reading::Region& r, int outWidth,
                             CapturedImage& out) {
    if (!source)
        return false;
    const double sw = obs_source_get_width(source);
    const double sh = obs_source_get_height(source);
    if (sw <= 0 || sh <= 0)
        return false;
    return captureFraction(source, r.x / sw, r.y / sh, r.w / sw, r.h / sh, outWidth, out);
}
