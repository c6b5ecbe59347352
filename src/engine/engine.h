#pragma once

#include "engine/capture.h"
#include "engine/reader-log.h"
#include "engine/steam.h"
#include "engine/regions.h"
#include "engine/trackers.h"
#include "hud/feed/killdata.h"
#include "hud/core/helper.h"
#include "hud/core/model.h"
#include "hud/cash/pass.h"
#include "plugin/settings.h"
#include "overlays/overlay-kind.h"
#include "uplink/game-event.h"
#include "uplink/uplink.h"

#include <obs.hpp>

#include <QImage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

// An OBS source as the engine describes it to the dock and the service.
struct SourceInfo {
    bool exists = false;
    QString name;
    QString uuid;
    QString type;
    QString exe;         // the captured executable, when the capture says
    bool hooked = false; // game or window capture hooked into its target
    bool active = false; // shown in the program output
};

// Everything the dock shows of the reader, copied whole under the lock.
struct ReaderStatus {
    bool modelLoaded = false;
    QString modelError;
    bool killfeedOn = false;
    QString killfeedError;
    QString source;
    bool automatic = true;
    int sourceWidth = 0;
    int sourceHeight = 0;
    bool recentHud = false;
    bool balanceKnown = false;
    std::int64_t balance = 0;
    bool changeKnown = false;
    std::int64_t change = 0;
    double visibility = 0.0;
    double readsPerSecond = 0.0;
    float lineHeight = 0.0f;
    QString statusText;      // empty while the HUD is read
    QStringList recentLines; // newest first, at most 6
    std::int64_t lastPassAt = 0;
    bool locked = false;
    bool changedDuringCup = false;
    SourceInfo info;
};

// The Steam account on this PC (empty when none was found).
struct SteamSeen {
    QString id;
    QString name;
    bool running = false;
};

// Whether OBS streams or records; the front end answers, so the module sets it.
struct OutputState {
    bool streaming = false;
    bool recording = false;
};

// The module's central object: owns the settings, the service link, the reader
// log, the recognition data and the reader thread, which captures the game's
// picture several times a second and reads its HUD. Results cross to the main
// thread only through one locked state record and the event hand-over list.
class Engine : public QObject {
    Q_OBJECT

public:
    explicit Engine(QObject* parent, const QString& settingsFolder = Settings::moduleFolder());
    ~Engine() override;

    // Called when OBS has finished loading, so the scene's sources exist.
    // A second call does nothing.
    void start();
    // Called at OBS exit and again at unload; only the first call after a
    // start does anything. Joins the reader thread, hands the last events to
    // the link and saves the settings.
    void stop();
    bool running() const { return running_.load(); }

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    void saveSettings();

    Uplink* uplink() { return uplink_; }
    const Uplink* uplink() const { return uplink_; }

    // For tests and tools: look for "hud/model.bin" and "hud/killfeed.bin"
    // in this folder instead of the module's data folder. Before start.
    void setDataFolder(const QString& folder) { dataFolder_ = folder; }
    // For tests: replace the Steam lookup.
    void setSteamLookupForTesting(std::function<SteamSeen()> lookup);
    void setOutputStateQuery(std::function<OutputState()> query) { outputState_ = std::move(query); }
    // The front end's current scene as a new reference (null: none). The
    // front end answers, so the module sets it; tests hand in their own.
    void setCurrentSceneQuery(std::function<OBSSourceAutoRelease()> query) {
        currentScene_ = std::move(query);
    }
    // Whether OBS streams or records now (both false when nobody answers).
    OutputState outputState() const { return outputState_ ? outputState_() : OutputState{}; }
    // For tests: the tick's work run by hand.
    void tickForTesting() { tick(); }
    // For tests and benchmarks: the status record built now rather than on
    // the tick's 5 s cadence, and events handed over as a pass would.
    void statusRecordForTesting(std::int64_t now) { statusRecord(now); }
    void handOverForTesting(const std::vector<GameEvent>& events) {
        std::lock_guard<std::mutex> guard(lock_);
        handOver_.insert(handOver_.end(), events.begin(), events.end());
    }

    // Dock getters, each a copy taken under the lock.
    ReaderStatus readerStatus() const;
    QImage lastHudImage() const;
    hud::HudReading lastReading() const;
    QString outputDir() const;
    QStringList logFiles() const;
    QString readerLogPath() const { return log_.path(); }
    SteamSeen steamAccount();
    static QStringList candidateSources();

    // Dock setters; each saves the settings.
    void setOutputDir(const QString& folder);
    // False while the source is locked for a cup.
    bool pickSource(const QString& name);
    void setSampleEvery10s(bool on);
    void setSampleOnNewLine(bool on);

    // Snapshots, evidence and samples.
    void takeSnapshot(const QString& tag);
    void uploadEvidence(const QString& tag, std::function<void(const QString& name)> done);
    QString saveSample(const QString& tag);

    SourceInfo sourceInfo(obs_source_t* source) const;

    // The two browser-source overlays in the current scene. `message` gets
    // the reason when adding fails.
    bool addOverlay(Overlay which, QString* message);
    // 0: not in the current scene, 1: shown, 2: hidden.
    int overlayState(Overlay which) const;
    void setOverlayVisible(Overlay which, bool visible);
    void removeOverlay(Overlay which);
    // Lets go of the overlay sources the engine keeps alive (at OBS exit,
    // while libobs still runs).
    void releaseOverlaySources();

    // Writes a line to the reader log.
    void logLine(const QString& tag, const QString& text) { log_.write(tag, text); }

signals:
    // The dock should redraw. Emitted on the main thread.
    void changed();

private:
    struct PassResult {
        bool captured = false;
        bool hudFound = false;
        hud::HudReading reading;
        QImage image;
    };

    // Reader thread.
    void readerLoop();
    void runPass(const std::chrono::steady_clock::time_point& t0);
    OBSSourceAutoRelease resolveSource(std::int64_t now, bool locked, const QString& lockedUuid,
                                       const QString& pinned);
    QString discover();
    bool readHudOnce(obs_source_t* source, PassResult& pass);
    void readAux(obs_source_t* source, std::int64_t now, const std::chrono::steady_clock::time_point& t0);
    void afterCapture(const PassResult& pass, std::int64_t now);
    void writeLineSample(const hud::HudReading& reading, const QImage& image);

    // Main thread.
    void tick();
    void handleEvent(const GameEvent& event);
    void cupLockUpkeep();
    void statusRecord(std::int64_t now);
    void serveServiceRequests(std::int64_t now);
    OBSSourceAutoRelease currentSource() const;
    OBSSourceAutoRelease currentScene() const;
    // Brings the overlay pages in step with the player, team and language.
    void overlayUpkeep();
    void applyOverlayUrl(Overlay which, const QString& page);
    void openLog();
    QString findData(const char* name) const;
    // A balance was read less than 2.5 s ago. Under the lock.
    bool hudRecent(std::int64_t now) const { return hudSeen_ > 0 && now - hudSeen_ < 2501; }

    QString settingsFolder_;
    QString dataFolder_;
    Settings settings_;
    Uplink* uplink_ = nullptr; // child of this object
    ReaderLog log_;

    std::shared_ptr<const hud::Model> model_;
    std::shared_ptr<const hud::KillData> killData_;
    std::atomic<bool> killfeedOn_{false};

    std::thread thread_;
    std::atomic<bool> running_{false};

    // Guards everything below that both threads touch.
    mutable std::mutex lock_;
    // Reader inputs.
    QString pinned_;
    QString outDir_; // the `out_dir` setting, which the reader thread needs too
    reading::Crop crop_;
    int fps_ = 5;
    bool sampleEvery10s_ = false;
    bool sampleOnNewLine_ = true;
    // The cup lock.
    bool locked_ = false;
    QString lockedUuid_;
    QString lockedName_;
    QString lockedType_;
    QString lockedExe_;
    bool changedDuringCup_ = false;
    std::int64_t offStreamSince_ = 0;
    // Shared reader state.
    bool modelLoaded_ = false;
    QString modelError_;
    QString killfeedError_;
    bool automatic_ = true;
    QString currentName_;
    std::int64_t lastDiscovery_ = 0;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    QString statusText_;
    std::int64_t hudSeen_ = 0;
    bool recentHud_ = false;
    hud::HudReading lastReading_;
    QImage hudImage_;
    QImage feedImage_;
    QImage plateImage_;
    QImage downImage_;
    double readsPerSecond_ = 0.0;
    std::int64_t lastPassAt_ = 0;
    SourceInfo lastInfo_;
    QStringList recentLines_;
    std::vector<GameEvent> handOver_;
    reading::Trackers trackers_;
    std::string lastSummary_;

    // Reader thread only.
    // The HUD pass's second thread: made and joined by the reader loop, so
    // it never outlives the reader thread, and null where it could not start.
    std::unique_ptr<hud::HelperThread> hudHelper_;
    CaptureContext hudCapture_;
    CaptureContext feedCapture_;
    CaptureContext plateCapture_;
    CaptureContext downCapture_;
    CapturedImage hudPixels_;
    CapturedImage auxPixels_;
    std::int64_t windowStart_ = 0;
    int windowPasses_ = 0;
    std::set<std::string> lineKeys_;
    std::int64_t lastLineSample_ = 0;

    // Main thread only.
    CaptureContext frameCapture_;
    QTimer tickTimer_;
    QTimer sampleTimer_;
    std::int64_t lastStatusAt_ = 0;
    bool hasPreviousBalance_ = false;
    std::int64_t previousBalance_ = 0;
    std::int64_t lastChangeEvidence_ = 0;
    std::int64_t lastPeriodicEvidence_ = 0;
    std::int64_t lastCombatSample_ = 0;
    QString lastSnapRequest_;
    SteamSeen steam_;
    std::int64_t steamLookedAt_ = 0;
    std::function<SteamSeen()> steamLookup_;
    std::function<OutputState()> outputState_;
    std::function<OBSSourceAutoRelease()> currentScene_;
    // The overlays: the pages the upkeep last applied (no leaderboard key
    // before the first upkeep), and the sources themselves, kept so that
    // taking one out of the scene does not destroy it.
    QString lastCardUrl_;
    std::optional<QString> lastBoardKey_;
    OBSSource overlaySources_[2];
};
