#include "engine/engine.h"

#include "engine/event-text.h"
#include "hud/cash/summary.h"
#include "plugin/lang.h"
#include "plugin/log.h"
#include "plugin/module-data.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <exception>
#if defined(__linux__)
#include <pthread.h>
#endif

namespace {

constexpr int kTickMs = 250;
constexpr int kSampleEveryMs = 10000;
constexpr std::int64_t kLineIdGap = 100000;
constexpr std::int64_t kKeepReadingAfterHudMs = 20000;
constexpr std::int64_t kRateWindowMs = 2000;
constexpr std::int64_t kStatusEveryMs = 5000;
constexpr std::int64_t kCombatSampleGapMs = 3000;
constexpr std::int64_t kBalanceJump = 10000;
constexpr std::int64_t kChangeEvidenceGapMs = 30000;

std::int64_t wallNow() {
    return QDateTime::currentMSecsSinceEpoch();
}

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

Engine::Engine(QObject* parent, const QString& settingsFolder)
    : QObject(parent), settingsFolder_(settingsFolder), settings_(Settings::load(settingsFolder)),
      uplink_(new Uplink(&settings_, this, settingsFolder)) {
    connect(uplink_, &Uplink::changed, this, &Engine::changed);
    uplink_->logSink = [this](const QString& tag, const QString& line) { log_.write(tag, line); };
    uplink_->steamAccount = [this] {
        const SteamSeen s = steamLookup_ ? steamLookup_() : SteamSeen{};
        return Uplink::SteamAccount{s.id, s.name};
    };
    tickTimer_.setInterval(kTickMs);
    connect(&tickTimer_, &QTimer::timeout, this, &Engine::tick);
    sampleTimer_.setInterval(kSampleEveryMs);
    connect(&sampleTimer_, &QTimer::timeout, this, [this] { saveSample(QStringLiteral("auto")); });

    pinned_ = settings_.source;
    outDir_ = settings_.out_dir;
    automatic_ = pinned_.isEmpty();
    crop_ = {settings_.crop_l, settings_.crop_t, settings_.crop_r, settings_.crop_b};
    fps_ = settings_.fps;
    sampleEvery10s_ = settings_.sample_every_10s;
    sampleOnNewLine_ = settings_.sample_on_new_line;
    trackers_.nextLineId = settings_.next_lid + kLineIdGap;
    steamLookup_ = [] {
        const SteamAccount a = detectSteam();
        return SteamSeen{a.id, a.name, a.running};
    };
}

Engine::~Engine() {
    stop();
    frameCapture_.release();
}

QString Engine::findData(const char* name) const {
    if (!dataFolder_.isEmpty()) {
        const QString path = QDir(dataFolder_).filePath(QString::fromUtf8(name));
        return QFileInfo(path).isFile() ? path : QString();
    }
    return plugin::findDataFile(name);
}

void Engine::start() {
    if (running_.load())
        return;

    std::string modelError;
    const QString modelPath = findData("hud/model.bin");
    if (!modelPath.isEmpty())
        model_ = hud::loadModel(modelPath.toStdString(), &modelError);
    else
        modelError = "data/hud/model.bin missing from the plugin";
    if (model_)
        modelError.clear();
    {
        std::lock_guard<std::mutex> guard(lock_);
        modelLoaded_ = model_ != nullptr;
        modelError_ = qs(modelError);
        automatic_ = pinned_.isEmpty();
    }

    openLog();
    log_.write(QStringLiteral("START"),
               QStringLiteral("Corvex Tournament %1, OBS %2, model %3")
                   .arg(QString::fromUtf8(plugin::kVersion), QString::fromUtf8(obs_get_version_string()),
                        model_ ? QStringLiteral("loaded") : qs(modelError)));
    if (!model_)
        obsLog(LOG_ERROR, "HUD model not loaded: %s", modelError.c_str());

    std::string killError;
    const QString killPath = findData("hud/killfeed.bin");
    if (!killPath.isEmpty())
        killData_ = hud::loadKillData(killPath.toStdString(), &killError);
    else
        killError = "data/hud/killfeed.bin missing from the plugin";
    if (killData_) {
        killError.clear();
        std::lock_guard<std::mutex> guard(lock_);
        trackers_.combat.detector = hud::DownDetector{};
        trackers_.combat.detector.killData = killData_;
    } else {
        obsLog(LOG_WARNING, "kill-feed reader off: %s", killError.c_str());
        log_.write(QStringLiteral("START"), QStringLiteral("kill-feed reader off: ") + qs(killError));
    }
    killfeedOn_ = model_ && killData_;
    {
        std::lock_guard<std::mutex> guard(lock_);
        killfeedError_ = qs(killError);
    }
    obsLog(LOG_INFO, "reader log: %s", log_.path().toUtf8().constData());

    uplink_->start();
    running_ = true;
    thread_ = std::thread([this] { readerLoop(); });

    tickTimer_.start();
    if (settings_.sample_every_10s)
        sampleTimer_.start();
    obsLog(LOG_INFO, "reader started (%d reads/s, source %s)", fps_,
           pinned_.isEmpty() ? "automatic" : pinned_.toUtf8().constData());
    emit changed();
}

void Engine::stop() {
    // Also when never started: the dock may have added an overlay, and the
    // engine may outlive libobs.
    releaseOverlaySources();
    if (!running_.exchange(false))
        return;
    if (thread_.joinable())
        thread_.join();
    // At OBS exit the graphics device still runs; by the time the main
    // window takes the engine with it, it may not.
    hudCapture_.release();
    feedCapture_.release();
    plateCapture_.release();
    downCapture_.release();
    tickTimer_.stop();
    // Events of the last passes reach the link and the log.
    tick();
    // The link writes its backlog and may move `next_seq`; the settings are
    // saved after it so that both reach the disk in step.
    uplink_->stop();
    {
        std::lock_guard<std::mutex> guard(lock_);
        settings_.next_lid = trackers_.nextLineId;
    }
    saveSettings();
    log_.write(QStringLiteral("STOP"), QStringLiteral("OBS closing"));
    obsLog(LOG_INFO, "engine stopped");
}

void Engine::saveSettings() {
    Settings::save(settings_, settingsFolder_);
}

void Engine::setSteamLookupForTesting(std::function<SteamSeen()> lookup) {
    steamLookup_ = std::move(lookup);
    steam_ = {};
    steamLookedAt_ = 0;
}

// ---------------------------------------------------------------- reader thread

void Engine::readerLoop() {
#if defined(__linux__)
    // A name of its own lets top, gdb and the soak report tell the reader
    // from OBS's other unnamed threads.
    pthread_setname_np(pthread_self(), "corvex-reader");
#endif
    try {
        hudHelper_ = std::make_unique<hud::HelperThread>();
    } catch (const std::exception& e) {
        // The passes then run on this thread alone, to the same readings.
        obsLog(LOG_WARNING, "HUD reader on one thread: %s", e.what());
    }
    while (running_.load()) {
        const auto t0 = std::chrono::steady_clock::now();
        int rate = 5;
        {
            std::lock_guard<std::mutex> guard(lock_);
            rate = locked_ ? 10 : std::clamp(fps_, 2, 10);
        }
        runPass(t0);
        std::this_thread::sleep_until(t0 + std::chrono::milliseconds(1000 / rate));
    }
    hudHelper_.reset();
}

void Engine::runPass(const std::chrono::steady_clock::time_point& t0) {
    QString pinned;
    QString lockedUuid;
    bool locked = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pinned = pinned_;
        locked = locked_;
        lockedUuid = lockedUuid_;
    }
    const std::int64_t now = wallNow();

    PassResult pass;
    if (obs_initialized()) {
        OBSSourceAutoRelease source = resolveSource(now, locked, lockedUuid, pinned);
        if (source) {
            readHudOnce(source, pass);
            bool recent = false;
            {
                std::lock_guard<std::mutex> guard(lock_);
                recent = now - hudSeen_ <= kKeepReadingAfterHudMs;
            }
            if (killfeedOn_.load() && (locked || pass.hudFound || recent))
                readAux(source, now, t0);
        }
    }
    if (pass.captured)
        afterCapture(pass, now);

    std::lock_guard<std::mutex> guard(lock_);
    if (pass.hudFound) {
        statusText_.clear();
        hudSeen_ = now;
    } else if (pass.captured) {
        statusText_ = qs(pass.reading.reason);
    } else if (!model_) {
        // Nothing can be read without the model; say why rather than blame
        // the source.
        statusText_ = modelError_;
    } else if (!currentName_.isEmpty()) {
        statusText_ = Lang::text("Reader.WhyCantRead");
    } else {
        statusText_ = Lang::text(locked_ ? "Reader.WhyLockedGone" : "Reader.WhyNoSource");
    }
    recentHud_ = hudRecent(now);
    lastPassAt_ = now;
    ++windowPasses_;
    if (windowStart_ == 0)
        windowStart_ = now;
    if (now - windowStart_ >= kRateWindowMs) {
        readsPerSecond_ = windowPasses_ * 1000.0 / static_cast<double>(now - windowStart_);
        windowStart_ = now;
        windowPasses_ = 0;
    }
}

bool Engine::readHudOnce(obs_source_t* source, PassResult& pass) {
    if (!model_ || !source)
        return false;
    reading::Geometry g;
    g.sourceWidth = static_cast<int>(obs_source_get_width(source));
    g.sourceHeight = static_cast<int>(obs_source_get_height(source));
    {
        std::lock_guard<std::mutex> guard(lock_);
        g.crop = crop_;
        sourceWidth_ = g.sourceWidth;
        sourceHeight_ = g.sourceHeight;
    }
    reading::Region region;
    if (!reading::hudRegion(g, region) ||
        !hudCapture_.capture(source, region, reading::kHudCaptureWidth, hudPixels_))
        return false;

    hud::HudReadOptions options = reading::hudReadOptions();
    options.helper = hudHelper_.get();
    pass.reading = hud::readHud(*model_, hudPixels_.view(), options);
    pass.image = hudPixels_.toImage();
    pass.captured = true;
    pass.hudFound = pass.reading.balanceCertain;
    return true;
}

void Engine::readAux(obs_source_t* source, std::int64_t now,
                     const std::chrono::steady_clock::time_point& t0) {
    reading::Geometry g;
    g.sourceWidth = static_cast<int>(obs_source_get_width(source));
    g.sourceHeight = static_cast<int>(obs_source_get_height(source));
    reading::AuxDue due;
    {
        std::lock_guard<std::mutex> guard(lock_);
        g.crop = crop_;
        due = trackers_.due(now, g);
    }
    if (!due.any())
        return;

    const reading::AuxReader order[] = {reading::AuxReader::Feed, reading::AuxReader::Down,
                                        reading::AuxReader::Plate};
    std::vector<hud::CombatEvent> events;
    try {
        for (reading::AuxReader which : order) {
            reading::Region region;
            if (!due.has(which) || !reading::auxRegion(which, g, region))
                continue;
            CaptureContext& context = which == reading::AuxReader::Feed   ? feedCapture_
                                      : which == reading::AuxReader::Down ? downCapture_
                                                                          : plateCapture_;
            if (!context.capture(source, region, reading::auxOutputWidth(which, region, g), auxPixels_))
                continue;
            const hud::FrameView v = auxPixels_.view();
            const QImage image = auxPixels_.toImage();
            switch (which) {
            case reading::AuxReader::Feed: {
                hud::FeedRead read =
                    hud::readFeedRows(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
                std::lock_guard<std::mutex> guard(lock_);
                trackers_.onFeed(now, std::move(read), events);
                feedImage_ = image;
                break;
            }
            case reading::AuxReader::Down: {
                // Only this thread reads or moves the detector.
                const hud::DownRead read = hud::readDownScore(trackers_.combat.detector, v.pixels, v.width,
                                                              v.height, v.stride, due.fullScan);
                std::lock_guard<std::mutex> guard(lock_);
                trackers_.onDown(now, read, events);
                downImage_ = image;
                break;
            }
            case reading::AuxReader::Plate: {
                hud::PlateRead read =
                    hud::readPlate(*model_, *killData_, v.pixels, v.width, v.height, v.stride);
                std::lock_guard<std::mutex> guard(lock_);
                trackers_.onPlate(now, std::move(read), events);
                plateImage_ = image;
                break;
            }
            }
        }
    } catch (const std::exception& e) {
        killfeedOn_ = false;
        obsLog(LOG_ERROR, "kill-feed reader stopped: %s", e.what());
        log_.write(QStringLiteral("ERROR"),
                   QStringLiteral("kill-feed reader stopped: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        killfeedOn_ = false;
        obsLog(LOG_ERROR, "kill-feed reader stopped: unknown error");
        log_.write(QStringLiteral("ERROR"), QStringLiteral("kill-feed reader stopped: unknown error"));
    }

    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    bool divisorChanged = false;
    int divisor = 1;
    double average = 0.0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const hud::CombatEvent& e : events)
            handOver_.push_back(reading::toGameEvent(e));
        divisorChanged = trackers_.schedule.notePassTime(ms);
        divisor = trackers_.schedule.divisor();
        average = trackers_.schedule.averageMs();
    }
    if (divisorChanged)
        log_.write(QStringLiteral("READER"),
                   QStringLiteral("kill-feed reader at 1/%1 of its rate (%2 ms a pass)")
                       .arg(divisor)
                       .arg(average, 0, 'f', 1));
}

void Engine::afterCapture(const PassResult& pass, std::int64_t now) {
    std::string summary = hud::readSummary(pass.reading);
    bool sampleOnNewLine = false;
    {
        std::lock_guard<std::mutex> guard(lock_);
        trackers_.onHud(now, pass.reading, handOver_);
        lastReading_ = pass.reading;
        hudImage_ = pass.image;
        sampleOnNewLine = sampleOnNewLine_;
        if (summary == lastSummary_)
            summary.clear();
        else
            lastSummary_ = summary;
    }
    if (!summary.empty())
        log_.write(QStringLiteral("READ"), qs(summary));

    std::set<std::string> keys;
    for (const hud::HudLine& line : pass.reading.lines)
        keys.insert(hud::lineKey(line));
    const bool fresh =
        std::any_of(keys.begin(), keys.end(), [&](const std::string& k) { return !lineKeys_.count(k); });
    lineKeys_ = std::move(keys);
    if (fresh && sampleOnNewLine && !pass.image.isNull() && now - lastLineSample_ >= 3000) {
        lastLineSample_ = now;
        writeLineSample(pass.reading, pass.image);
    }
}

// ---------------------------------------------------------------- main thread

void Engine::tick() {
    std::vector<GameEvent> events;
    {
        std::lock_guard<std::mutex> guard(lock_);
        events.swap(handOver_);
        settings_.next_lid = trackers_.nextLineId;
    }
    for (const GameEvent& event : events)
        handleEvent(event);
    cupLockUpkeep();
    const std::int64_t now = wallNow();
    if (now - lastStatusAt_ >= kStatusEveryMs) {
        lastStatusAt_ = now;
        statusRecord(now);
    }
    overlayUpkeep();
    serveServiceRequests(now);
    emit changed();
}

void Engine::handleEvent(const GameEvent& event) {
    uplink_->enqueueEvent(event);
    const QString text = qs(reading::eventText(event));
    if (!text.isEmpty())
        log_.write(QStringLiteral("EVENT"), text);
    const std::int64_t now = wallNow();
    switch (event.kind) {
    case EventKind::Balance:
        if (event.heartbeat)
            break;
        if (hasPreviousBalance_ && std::llabs(event.value - previousBalance_) >= kBalanceJump &&
            now - lastChangeEvidence_ > kChangeEvidenceGapMs && settings_.evidence) {
            lastChangeEvidence_ = now;
            uploadEvidence(QStringLiteral("change"), [](const QString&) {});
        }
        hasPreviousBalance_ = true;
        previousBalance_ = event.value;
        break;
    case EventKind::Kill:
    case EventKind::Death:
        if (settings_.sample_on_new_line && now - lastCombatSample_ >= kCombatSampleGapMs) {
            lastCombatSample_ = now;
            saveSample(event.kind == EventKind::Kill ? QStringLiteral("kill") : QStringLiteral("death"));
        }
        break;
    case EventKind::FeedLine: {
        std::lock_guard<std::mutex> guard(lock_);
        recentLines_.prepend(text);
        while (recentLines_.size() > 6)
            recentLines_.removeLast();
        break;
    }
    default:
        break;
    }
}

// ---------------------------------------------------------------- getters and setters

ReaderStatus Engine::readerStatus() const {
    std::lock_guard<std::mutex> guard(lock_);
    ReaderStatus s;
    s.modelLoaded = modelLoaded_;
    s.modelError = modelError_;
    s.killfeedOn = killfeedOn_.load();
    s.killfeedError = killfeedError_;
    s.source = currentName_;
    s.automatic = automatic_;
    s.sourceWidth = sourceWidth_;
    s.sourceHeight = sourceHeight_;
    s.recentHud = recentHud_;
    s.balanceKnown = trackers_.hud.balanceKnown;
    s.balance = trackers_.hud.balance;
    s.changeKnown = trackers_.hud.changeKnown;
    s.change = trackers_.hud.change;
    s.visibility = trackers_.hud.ratio;
    s.readsPerSecond = readsPerSecond_;
    s.lineHeight = trackers_.hud.lineHeight;
    s.statusText = statusText_;
    s.recentLines = recentLines_;
    s.lastPassAt = lastPassAt_;
    s.locked = locked_;
    s.changedDuringCup = changedDuringCup_;
    s.info = lastInfo_;
    return s;
}

QImage Engine::lastHudImage() const {
    std::lock_guard<std::mutex> guard(lock_);
    return hudImage_.copy();
}

hud::HudReading Engine::lastReading() const {
    std::lock_guard<std::mutex> guard(lock_);
    return lastReading_;
}

void Engine::setSampleEvery10s(bool on) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        sampleEvery10s_ = on;
    }
    settings_.sample_every_10s = on;
    saveSettings();
    if (on && running_.load())
        sampleTimer_.start();
    else
        sampleTimer_.stop();
}

void Engine::setSampleOnNewLine(bool on) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        sampleOnNewLine_ = on;
    }
    settings_.sample_on_new_line = on;
    saveSettings();
}
