#include "obs_harness.h"

#include "plugin/obs-compat.h"

#include <obs-nix-platform.h>
#include <util/base.h>

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

// After Qt and libobs: Xlib defines macros (Bool, Status) that clash with them.
#include <X11/Xlib.h>

namespace obstest {

namespace {

struct SourceState {
    bool hasVideo = true;
    std::mutex lock;
    QImage image; // Format_RGB32: B, G, R, A bytes in memory, as GS_BGRA
    bool dirty = false;
    int width = -1;
    int height = -1;
    bool hooked = true;
    std::string exe = "game.exe";
    // Graphics context only.
    gs_texture_t* texture = nullptr;
    int textureWidth = 0;
    int textureHeight = 0;

    std::atomic<int> renders{0};
    std::atomic<int> stallMs{0};
    mutable std::mutex stallLock;
    mutable std::condition_variable stallBegan;
    bool stalled = false;
};

Display* g_display = nullptr;

void quietLog(int level, const char* format, va_list args, void*) {
    // The core's info lines drown the test output; warnings and errors stay.
    static const bool verbose = std::getenv("CORVEX_OBS_VERBOSE") != nullptr;
    if (level > LOG_WARNING && !verbose)
        return;
    char buffer[4096];
    vsnprintf(buffer, sizeof buffer, format, args);
    std::fprintf(stderr, "libobs: %s\n", buffer);
}

void getHooked(void* data, calldata_t* cd) {
    auto* s = static_cast<SourceState*>(data);
    std::lock_guard<std::mutex> guard(s->lock);
    calldata_set_bool(cd, "hooked", s->hooked);
    calldata_set_string(cd, "executable", s->exe.c_str());
}

void* create(obs_data_t*, obs_source_t* source) {
    auto* s = new SourceState;
    const char* id = obs_source_get_id(source);
    s->hasVideo = (obs_source_get_output_flags(source) & OBS_SOURCE_VIDEO) != 0;
    if (id && (std::string(id) == kGameCapture || std::string(id) == kWindowCapture))
        proc_handler_add(obs_source_get_proc_handler(source),
                         "void get_hooked(out bool hooked, out string executable)", getHooked, s);
    return s;
}

void destroy(void* data) {
    auto* s = static_cast<SourceState*>(data);
    if (s->texture) {
        obs_enter_graphics();
        gs_texture_destroy(s->texture);
        obs_leave_graphics();
    }
    delete s;
}

std::uint32_t width(void* data) {
    auto* s = static_cast<SourceState*>(data);
    std::lock_guard<std::mutex> guard(s->lock);
    return static_cast<std::uint32_t>(s->width >= 0 ? s->width : s->image.width());
}

std::uint32_t height(void* data) {
    auto* s = static_cast<SourceState*>(data);
    std::lock_guard<std::mutex> guard(s->lock);
    return static_cast<std::uint32_t>(s->height >= 0 ? s->height : s->image.height());
}

// Called with the default effect's "Draw" technique active (no custom draw).
void render(void* data, gs_effect_t* effect) {
    auto* s = static_cast<SourceState*>(data);
    s->renders.fetch_add(1);
    if (const int ms = s->stallMs.exchange(0); ms > 0) {
        {
            std::lock_guard<std::mutex> guard(s->stallLock);
            s->stalled = true;
        }
        s->stallBegan.notify_all();
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::uint32_t cx = 0;
    std::uint32_t cy = 0;
    {
        std::lock_guard<std::mutex> guard(s->lock);
        if (s->dirty) {
            s->dirty = false;
            const int w = s->image.width();
            const int h = s->image.height();
            if (s->texture && (w != s->textureWidth || h != s->textureHeight)) {
                gs_texture_destroy(s->texture);
                s->texture = nullptr;
            }
            if (w > 0 && h > 0) {
                const std::uint8_t* bits = s->image.constBits();
                if (!s->texture)
                    s->texture =
                        gs_texture_create(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h),
                                          GS_BGRA, 1, &bits, GS_DYNAMIC);
                else
                    gs_texture_set_image(s->texture, bits,
                                         static_cast<std::uint32_t>(s->image.bytesPerLine()), false);
                s->textureWidth = s->texture ? w : 0;
                s->textureHeight = s->texture ? h : 0;
            }
        }
        cx = static_cast<std::uint32_t>(s->width >= 0 ? s->width : s->textureWidth);
        cy = static_cast<std::uint32_t>(s->height >= 0 ? s->height : s->textureHeight);
    }
    if (!s->texture || cx == 0 || cy == 0)
        return;
    gs_effect_set_texture(gs_effect_get_param_by_name(effect, "image"), s->texture);
    gs_draw_sprite(s->texture, 0, cx, cy);
}

obs_source_info sourceType(const char* id, bool video) {
    obs_source_info info = {};
    info.id = id;
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = video ? OBS_SOURCE_VIDEO : OBS_SOURCE_AUDIO;
    info.get_name = [](void*) { return "Corvex test capture"; };
    info.create = create;
    info.destroy = destroy;
    if (video) {
        info.get_width = width;
        info.get_height = height;
        info.video_render = render;
    }
    return info;
}

} // namespace

bool startObs(QString* error, const VideoOptions& options) {
    if (obs_initialized())
        return true;
    base_set_log_handler(quietLog, nullptr);
    g_display = XOpenDisplay(nullptr);
    if (!g_display) {
        *error = QStringLiteral("no X display: run under Xvfb");
        return false;
    }
    obs_set_nix_platform(OBS_NIX_PLATFORM_X11_EGL);
    obs_set_nix_platform_display(g_display);
    if (!obs_startup("en-US", nullptr, nullptr)) {
        *error = QStringLiteral("obs_startup failed");
        return false;
    }
    obs_video_info ovi = {};
    ovi.graphics_module = "libobs-opengl";
    ovi.fps_num = static_cast<std::uint32_t>(options.fps);
    ovi.fps_den = 1;
    ovi.base_width = static_cast<std::uint32_t>(options.baseWidth);
    ovi.base_height = static_cast<std::uint32_t>(options.baseHeight);
    ovi.output_width = ovi.base_width;
    ovi.output_height = ovi.base_height;
    ovi.output_format = VIDEO_FORMAT_BGRA;
    ovi.adapter = 0;
    ovi.gpu_conversion = true;
    ovi.colorspace = VIDEO_CS_DEFAULT;
    ovi.range = VIDEO_RANGE_DEFAULT;
    ovi.scale_type = OBS_SCALE_BICUBIC;
    const int rc = obs_reset_video(&ovi);
    if (rc != OBS_VIDEO_SUCCESS) {
        *error = QStringLiteral("obs_reset_video failed (%1)").arg(rc);
        return false;
    }
    for (const auto& [id, video] : {std::pair<const char*, bool>{kGameCapture, true},
                                    {kWindowCapture, true},
                                    {kAudioOnly, false},
                                    {kPicture, true}}) {
        obs_source_info info = sourceType(id, video);
        obs_register_source(&info);
    }
    obs_post_load_modules();
    return true;
}

void stopObs() {
    compat::releaseSourceIds();
    if (obs_initialized())
        obs_shutdown();
    if (g_display)
        XCloseDisplay(g_display);
    g_display = nullptr;
}

TestSource::TestSource(const char* typeId, const QString& name) {
    source_ = obs_source_create(typeId, name.toUtf8().constData(), nullptr, nullptr);
    state_ = source_ ? obs_obj_get_data(source_) : nullptr;
}

TestSource::~TestSource() {
    remove();
}

void TestSource::setImage(const QImage& image) {
    if (!state_)
        return;
    auto* s = static_cast<SourceState*>(state_);
    const QImage converted = image.convertToFormat(QImage::Format_RGB32);
    std::lock_guard<std::mutex> guard(s->lock);
    s->image = converted;
    s->dirty = true;
}

void TestSource::setSize(int w, int h) {
    if (!state_)
        return;
    auto* s = static_cast<SourceState*>(state_);
    std::lock_guard<std::mutex> guard(s->lock);
    s->width = w;
    s->height = h;
}

void TestSource::setHooked(bool hooked, const QString& executable) {
    if (!state_)
        return;
    auto* s = static_cast<SourceState*>(state_);
    std::lock_guard<std::mutex> guard(s->lock);
    s->hooked = hooked;
    s->exe = executable.toStdString();
}

void TestSource::rename(const QString& name) {
    if (source_)
        obs_source_set_name(source_, name.toUtf8().constData());
}

void TestSource::remove() {
    if (!source_)
        return;
    obs_source_remove(source_);
    obs_source_release(source_);
    source_ = nullptr;
    state_ = nullptr;
}

int TestSource::renders() const {
    return state_ ? static_cast<SourceState*>(state_)->renders.load() : 0;
}

void TestSource::stallNextRender(int ms) {
    if (!state_)
        return;
    auto* s = static_cast<SourceState*>(state_);
    {
        std::lock_guard<std::mutex> guard(s->stallLock);
        s->stalled = false;
    }
    s->stallMs = ms;
}

bool TestSource::waitForStall(int timeoutMs) const {
    if (!state_)
        return false;
    auto* s = static_cast<SourceState*>(state_);
    std::unique_lock<std::mutex> guard(s->stallLock);
    return s->stallBegan.wait_for(guard, std::chrono::milliseconds(timeoutMs), [s] { return s->stalled; });
}

} // namespace obstest
