#include "engine/engine.h"

#include <util/base.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdarg>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Collects what the module writes to the OBS log.
struct LogCapture {
    static inline std::mutex lock;
    static inline std::vector<std::string> lines;

    static void handler(int, const char* format, va_list args, void*) {
        char buffer[1024];
        vsnprintf(buffer, sizeof buffer, format, args);
        std::lock_guard<std::mutex> guard(lock);
        lines.emplace_back(buffer);
    }

    LogCapture() {
        lines.clear();
        base_get_log_handler(&previous, &previousParam);
        base_set_log_handler(handler, nullptr);
    }
    ~LogCapture() { base_set_log_handler(previous, previousParam); }

    static int count(const std::string& text) {
        std::lock_guard<std::mutex> guard(lock);
        int n = 0;
        for (const std::string& line : lines) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

    log_handler_t previous = nullptr;
    void* previousParam = nullptr;
};

TEST(Engine, StartAndStopAreIdempotentAndStopSavesTheSettings) {
    LogCapture log;
    QTemporaryDir tmp;
    const QString config = QDir(tmp.path()).filePath("config.json");
    {
        Engine engine(nullptr, tmp.path());
        engine.stop(); // never started: nothing to do, nothing written
        EXPECT_FALSE(QFile::exists(config));

        engine.start();
        engine.start();
        EXPECT_TRUE(engine.running());
        EXPECT_EQ(LogCapture::count("[corvex-tournament] reader started (5 reads/s, source automatic)"), 1);

        engine.settings().token = QStringLiteral("abc");
        engine.stop();
        engine.stop();
        EXPECT_FALSE(engine.running());
        EXPECT_EQ(LogCapture::count("[corvex-tournament] engine stopped"), 1);
        EXPECT_TRUE(QFile::exists(config));
    }
    EXPECT_EQ(LogCapture::count("engine stopped"), 1); // the destructor finds it stopped
    EXPECT_EQ(Settings::load(tmp.path()).token, QStringLiteral("abc"));
}

TEST(Engine, DestroyingARunningEngineStopsIt) {
    LogCapture log;
    QTemporaryDir tmp;
    {
        // The reader takes its inputs from the settings it finds at construction.
        Settings pinned;
        pinned.source = QStringLiteral("Game Capture");
        ASSERT_TRUE(Settings::save(pinned, tmp.path()));
        Engine engine(nullptr, tmp.path());
        engine.start();
        EXPECT_EQ(LogCapture::count("source Game Capture"), 1);
    }
    EXPECT_EQ(LogCapture::count("engine stopped"), 1);
    EXPECT_EQ(Settings::load(tmp.path()).source, QStringLiteral("Game Capture"));
}

// The queued events other than the status records every stop adds.
std::vector<QJsonObject> eventsBesideStatus(const Uplink& uplink) {
    std::vector<QJsonObject> out;
    for (const QJsonObject& o : uplink.queue())
        if (o.value("k").toString() != QLatin1String("status"))
            out.push_back(o);
    return out;
}

TEST(Engine, TheServiceLinkRunsFromStartToStop) {
    QTemporaryDir tmp;
    const QString pending = QDir(tmp.path()).filePath("pending.json");
    qint64 seq = 0;
    {
        Engine engine(nullptr, tmp.path());
        ASSERT_NE(engine.uplink(), nullptr);
        EXPECT_EQ(engine.uplink()->parent(), &engine);
        engine.start();
        GameEvent event;
        event.kind = EventKind::Up;
        engine.uplink()->enqueueEvent(event);
        seq = static_cast<qint64>(engine.uplink()->queue().back().value("seq").toDouble());
        engine.stop();
        EXPECT_TRUE(QFile::exists(pending));
    }
    // The backlog and the numbering both reached the disk, so the next run
    // neither loses the event nor reuses its number.
    Engine engine(nullptr, tmp.path());
    EXPECT_GT(engine.settings().next_seq, seq);
    engine.start();
    ASSERT_EQ(eventsBesideStatus(*engine.uplink()).size(), 1u);
    EXPECT_EQ(eventsBesideStatus(*engine.uplink()).front().value("seq").toDouble(), static_cast<double>(seq));
    engine.stop();
    engine.start(); // a second run in one process does not read the backlog twice
    EXPECT_EQ(eventsBesideStatus(*engine.uplink()).size(), 1u);
    engine.stop();
}

} // namespace
