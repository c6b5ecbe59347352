#pragma once

// A libobs core without the front end, on the X display of the test run, with
// capture source types of our own that show pictures the test paints: the
// engine finds, captures and reads them as it would a game capture in OBS.

#include <obs.h>

#include <QImage>
#include <QString>

namespace obstest {

// Source type ids the harness registers. The first two are in the engine's
// priority table; the audio type takes a table id but shows no video; the
// picture type shows video under an id outside the table.
constexpr const char* kGameCapture = "game_capture";
constexpr const char* kWindowCapture = "window_capture";
constexpr const char* kAudioOnly = "monitor_capture";
constexpr const char* kPicture = "corvex_test_picture";

struct VideoOptions {
    int baseWidth = 1920;
    int baseHeight = 1080;
    // The core renders its (empty) output this often; low keeps the
    // software renderer from eating the machine.
    int fps = 10;
};

// Starts the core once per process: opens the display, resets the video
// with the OpenGL module and registers the source types. False with `error`.
bool startObs(QString* error, const VideoOptions& options = {});
// Releases what the harness holds and shuts the core down.
void stopObs();

// One source of a harness type. The picture can change at any time; the
// source uploads it at its next render.
class TestSource {
public:
    TestSource(const char* typeId, const QString& name);
    ~TestSource(); // removes the source unless remove() did
    TestSource(const TestSource&) = delete;
    TestSource& operator=(const TestSource&) = delete;

    obs_source_t* get() const { return source_; }
    explicit operator bool() const { return source_ != nullptr; }

    // The picture (any format; kept as 32-bit B, G, R, A).
    void setImage(const QImage& image);
    // The size the source reports and draws at; negative: the picture's own.
    // The picture is stretched to it, so a small picture can stand for a
    // huge source.
    void setSize(int width, int height);
    // What "get_hooked" answers (game and window capture only).
    void setHooked(bool hooked, const QString& executable);
    void rename(const QString& name);
    // obs_source_remove, then drops the harness's reference.
    void remove();

    // Renders so far (by anyone).
    int renders() const;
    // The next render waits `ms` inside the graphics context.
    void stallNextRender(int ms);
    // Waits until a stalled render has begun; false after `timeoutMs`.
    bool waitForStall(int timeoutMs) const;

private:
    obs_source_t* source_ = nullptr;
    void* state_ = nullptr;
};

} // namespace obstest
