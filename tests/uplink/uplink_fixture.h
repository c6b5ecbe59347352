#pragma once

#include "uplink/uplink.h"

#include "net/http-testing.h"
#include "plugin/lang.h"
#include "test_service.h"
#include "../locale_support.h"
#include "../qt_wait.h"

#include <util/base.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <cstdarg>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

// What the module writes to the OBS log while one of these lives (main thread only).
class ObsLogCapture {
public:
    ObsLogCapture() {
        lines().clear();
        base_get_log_handler(&previous_, &param_);
        base_set_log_handler(
            [](int, const char* format, va_list args, void*) {
                char buffer[2048];
                vsnprintf(buffer, sizeof buffer, format, args);
                lines().emplace_back(buffer);
            },
            nullptr);
    }
    ~ObsLogCapture() { base_set_log_handler(previous_, param_); }
    ObsLogCapture(const ObsLogCapture&) = delete;
    ObsLogCapture& operator=(const ObsLogCapture&) = delete;

    static int count(const std::string& text) {
        int n = 0;
        for (const std::string& line : lines()) {
            n += line.find(text) != std::string::npos ? 1 : 0;
        }
        return n;
    }

private:
    static std::vector<std::string>& lines() {
        static std::vector<std::string> all;
        return all;
    }
    log_handler_t previous_ = nullptr;
    void* param_ = nullptr;
};

// An Uplink on a temporary folder against the loopback test service. The
// clock is the test's and the timer is off: time passes and ticks happen
// only when the test says so.
class UplinkTest : public ::testing::Test {
protected:
    static constexpr qint64 kStart = 1700000000000;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        Lang::applyWith(QStringLiteral("en"), QStringLiteral("en-US"),
                        [](const char* locale) { return loadLocale(localeDir(), locale); });
        Http::testing::setTrustedCaFile(testsvc::TestService::defaultCertFile());
    }

    void TearDown() override {
        uplink.reset();
        service.stop();
    }

    void startService(bool https = false, testsvc::Options options = {}) {
        options.https = https;
        ASSERT_TRUE(service.start(options)) << service.lastError().toStdString();
        settings.server = service.apiBase();
    }

    void link(const QString& token = QStringLiteral("tok-1")) {
        service.addToken(token, testsvc::Player{QStringLiteral("p-1"), QStringLiteral("Tester"), QString()});
        settings.token = token;
        settings.player_id = QStringLiteral("p-1");
        settings.player_name = QStringLiteral("Tester");
    }

    void startUplink() {
        if (!uplink) {
            uplink = std::make_unique<Uplink>(&settings, nullptr, dir.path());
            uplink->setClockForTesting([this] { return clock; });
            uplink->logSink = [this](const QString& tag, const QString& line) {
                logs.emplace_back(tag, line);
            };
        }
        uplink->start();
        uplink->stopTimerForTesting();
    }

    // Reopens the folder as a new run would; `clean` stops the old one first.
    void restart(bool clean) {
        if (clean) {
            uplink->stop();
            Settings::save(settings, dir.path());
        }
        uplink.reset();
        settings = Settings::load(dir.path());
        startUplink();
    }

    void tick() { uplink->tickForTesting(); }
    bool settle(int timeoutMs = 5000) {
        return waitUntil([this] { return !uplink->inFlightForTesting(); }, timeoutMs);
    }
    // Lets time pass, ticks and waits for what the tick sent.
    void step(qint64 ms) {
        clock += ms;
        tick();
        ASSERT_TRUE(settle(15000));
    }

    int logCount(const QString& tag, const QString& text) const {
        int n = 0;
        for (const auto& entry : logs) {
            n += entry.first == tag && entry.second.contains(text) ? 1 : 0;
        }
        return n;
    }

    QString pendingFile() const { return QDir(dir.path()).filePath(QStringLiteral("pending.json")); }
    QString badFile() const { return QDir(dir.path()).filePath(QStringLiteral("pending.bad.json")); }
    void writeFile(const QString& path, const QByteArray& data) const {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(data);
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    int pendingOnDisk() const {
        return QJsonDocument::fromJson(readFile(pendingFile()))
            .object()
            .value(QLatin1String("events"))
            .toArray()
            .size();
    }
    qint64 seqAt(size_t i) const {
        return static_cast<qint64>(uplink->queue()[i].value(QLatin1String("seq")).toDouble());
    }

    void enqueue(int n, bool heartbeat = false) {
        for (int i = 0; i < n; ++i) {
            GameEvent e;
            e.t = kStart;
            e.value = i;
            e.heartbeat = heartbeat;
            uplink->enqueueEvent(e);
        }
    }

    QTemporaryDir dir;
    Settings settings;
    testsvc::TestService service;
    std::unique_ptr<Uplink> uplink;
    qint64 clock = kStart;
    std::vector<std::pair<QString, QString>> logs;
};
