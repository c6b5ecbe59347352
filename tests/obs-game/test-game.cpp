// A stand-in for a hooked game capture, for tests in the real OBS: an input
// of type "game_capture" that plays a folder of frames painted by the
// synthetic game at their frame rate and answers "get_hooked" as the
// capture of a running game would. Frames are decoded one at a time on the
// source's own thread, so a long 1080p match never sits in memory.
//
// A test drives what a player would do in OBS through the "control" file:
// each new line is one command, run once on OBS's UI thread:
//   rename NAME      give the source another name
//   remove           delete the source (as deleting it in OBS would)
//   exe NAME         the game's executable changes (another game hooked)
//   play             start playing, when the "hold" setting keeps the first
//                    frame on screen until told (so a test starts the match
//                    once the reader runs)

#include <obs-module.h>
#include <util/platform.h>

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

OBS_DECLARE_MODULE()

namespace {

constexpr char kTitle[] = "Corvex Test Game";
constexpr char kClass[] = "CorvexTestGame";
constexpr double kDefaultFps = 10.0;

struct Playback {
    QString folder;
    double fps = 0; // 0: from truth.json, else the default
    bool loop = false;
    int startFrame = 1;
    QString control; // command file; empty: none
    bool hold = false;
    QString shownLog; // "FRAME EPOCH_MS" per frame shown; empty: none
};

struct Command {
    obs_weak_source_t* source;
    std::string verb;
    std::string argument;
};

// Runs on the UI thread, where OBS itself renames and removes sources.
void runCommand(void* param) {
    Command* command = static_cast<Command*>(param);
    obs_source_t* source = obs_weak_source_get_source(command->source);
    if (source) {
        if (command->verb == "rename" && !command->argument.empty()) {
            obs_source_set_name(source, command->argument.c_str());
        } else if (command->verb == "remove") {
            obs_source_remove(source);
        }
        obs_source_release(source);
    }
    obs_weak_source_release(command->source);
    delete command;
}

class TestGame {
public:
    explicit TestGame(obs_source_t* source) : source_(source) {}
    TestGame(const TestGame&) = delete;
    TestGame& operator=(const TestGame&) = delete;

    ~TestGame() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
        }
        wake_.notify_all();
        if (worker_.joinable())
            worker_.join();
    }

    void update(obs_data_t* settings) {
        Playback next;
        next.folder = QString::fromUtf8(obs_data_get_string(settings, "frames"));
        next.fps = obs_data_get_double(settings, "fps");
        next.loop = obs_data_get_bool(settings, "loop");
        next.startFrame = static_cast<int>(obs_data_get_int(settings, "start_frame"));
        next.control = QString::fromUtf8(obs_data_get_string(settings, "control"));
        next.hold = obs_data_get_bool(settings, "hold");
        next.shownLog = QString::fromUtf8(obs_data_get_string(settings, "shown_log"));
        std::string exe = obs_data_get_string(settings, "executable");
        if (exe.empty())
            exe = "game.exe";
        // Game capture keeps its target as "Title:Class:executable".
        const std::string window = std::string(kTitle) + ":" + kClass + ":" + exe;
        obs_data_set_string(settings, "window", window.c_str());
        {
            std::lock_guard<std::mutex> guard(lock_);
            executable_ = exe;
            playback_ = next;
            ++generation_;
        }
        wake_.notify_all();
        if (!worker_.joinable())
            worker_ = std::thread([this] { run(); });
    }

    void hooked(calldata_t* cd) {
        std::lock_guard<std::mutex> guard(lock_);
        calldata_set_bool(cd, "hooked", playing_);
        calldata_set_string(cd, "title", kTitle);
        calldata_set_string(cd, "class", kClass);
        calldata_set_string(cd, "executable", executable_.c_str());
    }

private:
    static QStringList frameFiles(const QString& folder) {
        if (folder.isEmpty())
            return {};
        QDir dir(folder);
        return dir.entryList({QStringLiteral("frame-*.png"), QStringLiteral("frame-*.jpg")}, QDir::Files,
                             QDir::Name);
    }

    static double truthFps(const QString& folder) {
        QFile file(QDir(folder).filePath(QStringLiteral("truth.json")));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        const double fps =
            QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("fps")).toDouble();
        return fps > 0 && fps <= 240 ? fps : 0;
    }

    // Waits until `deadline` or a change of settings; false when playback
    // must start over (new settings) or stop.
    bool waitUntil(std::chrono::steady_clock::time_point deadline, std::uint64_t generation) {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait_until(guard, deadline, [&] { return stopping_ || generation_ != generation; });
        return !stopping_ && generation_ == generation;
    }

    void run() {
        for (;;) {
            Playback playback;
            std::uint64_t generation = 0;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_)
                    return;
                playback = playback_;
                generation = generation_;
            }
            play(playback, generation);
            // Finished (or nothing to play): idle until the settings change.
            std::unique_lock<std::mutex> guard(lock_);
            wake_.wait(guard, [&] { return stopping_ || generation_ != generation; });
        }
    }

    void setPlaying(bool on) {
        std::lock_guard<std::mutex> guard(lock_);
        playing_ = on;
    }

    void play(const Playback& playback, std::uint64_t generation) {
        const QStringList files = frameFiles(playback.folder);
        if (files.isEmpty()) {
            setPlaying(false);
            if (!playback.folder.isEmpty())
                blog(LOG_WARNING, "[corvex-test-game] no frames in %s", playback.folder.toUtf8().constData());
            return;
        }
        double fps = playback.fps > 0 ? playback.fps : truthFps(playback.folder);
        if (fps <= 0)
            fps = kDefaultFps;
        const auto frameTime = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(1.0 / fps));
        const QDir dir(playback.folder);
        // When each frame reached OBS: a loaded machine may play slower than
        // the match's clock, and a test maps what was read back to frames.
        QFile shown(playback.shownLog);
        if (!playback.shownLog.isEmpty() && !shown.open(QIODevice::WriteOnly | QIODevice::Append))
            blog(LOG_WARNING, "[corvex-test-game] cannot write %s", playback.shownLog.toUtf8().constData());
        auto show = [&](const QImage& image, int index) {
            output(image);
            if (shown.isOpen()) {
                shown.write(QByteArray::number(index + 1) + ' ' +
                            QByteArray::number(QDateTime::currentMSecsSinceEpoch()) + '\n');
                shown.flush();
            }
        };
        int first = playback.startFrame > 1 ? playback.startFrame - 1 : 0;
        if (first >= files.size())
            first = 0;
        setPlaying(true);
        blog(LOG_INFO, "[corvex-test-game] playing %d frames from %s at %.3g fps from frame %d%s",
             static_cast<int>(files.size()), playback.folder.toUtf8().constData(), fps, first + 1,
             playback.loop ? ", looping" : "");
        if (playback.hold) {
            QImage image(dir.filePath(files[first]));
            if (!image.isNull())
                show(image.convertToFormat(QImage::Format_RGB32), first);
            while (!playRequested_) {
                pollControl(playback.control);
                if (!waitUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(100), generation))
                    return;
            }
            blog(LOG_INFO, "[corvex-test-game] play");
        }
        for (;;) {
            const auto start = std::chrono::steady_clock::now();
            for (int i = first; i < files.size(); ++i) {
                QImage image(dir.filePath(files[i]));
                if (image.isNull()) {
                    blog(LOG_WARNING, "[corvex-test-game] cannot read %s", files[i].toUtf8().constData());
                } else {
                    image = image.convertToFormat(QImage::Format_RGB32);
                }
                pollControl(playback.control);
                if (!waitUntil(start + (i - first) * frameTime, generation))
                    return;
                if (!image.isNull())
                    show(image, i);
                if (i + 1 == files.size() || (i + 1) % 100 == 0)
                    blog(LOG_INFO, "[corvex-test-game] frame %d of %d shown", i + 1,
                         static_cast<int>(files.size()));
            }
            if (!playback.loop)
                break;
            first = 0;
            blog(LOG_INFO, "[corvex-test-game] looping to the first frame");
        }
        blog(LOG_INFO, "[corvex-test-game] played to the end");
        // The last frame stays on screen, as a paused game would show it.
    }

    // Reads the commands added to the control file since the last look.
    void pollControl(const QString& path) {
        if (path.isEmpty())
            return;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        const QList<QByteArray> lines = file.readAll().split('\n');
        // The last piece is complete only when the file ends with a newline.
        const int complete = static_cast<int>(lines.size()) - 1;
        for (; controlDone_ < complete; ++controlDone_) {
            const QByteArray line = lines[controlDone_].trimmed();
            const int space = line.indexOf(' ');
            const std::string verb = (space < 0 ? line : line.left(space)).toStdString();
            const std::string argument =
                space < 0 ? std::string() : line.mid(space + 1).trimmed().toStdString();
            if (verb.empty())
                continue;
            blog(LOG_INFO, "[corvex-test-game] control: %s %s", verb.c_str(), argument.c_str());
            if (verb == "play") {
                playRequested_ = true;
                continue;
            }
            if (verb == "exe") {
                std::lock_guard<std::mutex> guard(lock_);
                executable_ = argument;
                continue;
            }
            obs_queue_task(OBS_TASK_UI, runCommand,
                           new Command{obs_source_get_weak_source(source_), verb, argument}, false);
        }
    }

    void output(const QImage& image) {
        obs_source_frame frame = {};
        // Format_RGB32 is 0xffRRGGBB per pixel: B, G, R, X in memory.
        frame.data[0] = const_cast<std::uint8_t*>(image.constBits());
        frame.linesize[0] = static_cast<std::uint32_t>(image.bytesPerLine());
        frame.width = static_cast<std::uint32_t>(image.width());
        frame.height = static_cast<std::uint32_t>(image.height());
        frame.format = VIDEO_FORMAT_BGRX;
        frame.full_range = true;
        frame.timestamp = os_gettime_ns();
        obs_source_output_video(source_, &frame);
    }

    obs_source_t* source_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::thread worker_;
    Playback playback_;
    std::uint64_t generation_ = 0;
    std::string executable_ = "game.exe";
    bool playing_ = false;
    int controlDone_ = 0;        // control lines already run (worker thread only)
    bool playRequested_ = false; // worker thread only
    bool stopping_ = false;
};

const char* gameName(void*) {
    return "Game Capture (test game)";
}

void* gameCreate(obs_data_t* settings, obs_source_t* source) {
    auto* game = new TestGame(source);
    proc_handler_add(
        obs_source_get_proc_handler(source),
        "void get_hooked(out bool hooked, out string title, out string class, out string executable)",
        [](void* data, calldata_t* cd) { static_cast<TestGame*>(data)->hooked(cd); }, game);
    game->update(settings);
    return game;
}

void gameDestroy(void* data) {
    delete static_cast<TestGame*>(data);
}

void gameUpdate(void* data, obs_data_t* settings) {
    static_cast<TestGame*>(data)->update(settings);
}

void gameDefaults(obs_data_t* settings) {
    obs_data_set_default_string(settings, "executable", "game.exe");
    obs_data_set_default_double(settings, "fps", 0);
    obs_data_set_default_bool(settings, "loop", false);
    obs_data_set_default_int(settings, "start_frame", 1);
}

obs_properties_t* gameProperties(void*) {
    obs_properties_t* props = obs_properties_create();
    obs_properties_add_path(props, "frames", "Frames", OBS_PATH_DIRECTORY, nullptr, nullptr);
    obs_properties_add_float(props, "fps", "Frames per second (0: from truth.json)", 0, 240, 1);
    obs_properties_add_bool(props, "loop", "Loop");
    obs_properties_add_int(props, "start_frame", "First frame", 1, 1000000, 1);
    obs_properties_add_text(props, "executable", "Executable", OBS_TEXT_DEFAULT);
    obs_properties_add_path(props, "control", "Control file", OBS_PATH_FILE, nullptr, nullptr);
    obs_properties_add_path(props, "shown_log", "Log of frames shown", OBS_PATH_FILE_SAVE, nullptr, nullptr);
    obs_properties_add_bool(props, "hold", "Hold the first frame until the control file says play");
    return props;
}

} // namespace

bool obs_module_load(void) {
    obs_source_info info = {};
    info.id = "game_capture";
    info.type = OBS_SOURCE_TYPE_INPUT;
    info.output_flags = OBS_SOURCE_ASYNC_VIDEO | OBS_SOURCE_DO_NOT_DUPLICATE;
    info.get_name = gameName;
    info.create = gameCreate;
    info.destroy = gameDestroy;
    info.update = gameUpdate;
    info.get_defaults = gameDefaults;
    info.get_properties = gameProperties;
    info.icon_type = OBS_ICON_TYPE_GAME_CAPTURE;
    obs_register_source(&info);
    blog(LOG_INFO, "[corvex-test-game] loaded");
    return true;
}
