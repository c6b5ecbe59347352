#pragma once

#include "plugin/settings.h"
#include "uplink/uplink.h"

#include <QObject>

#include <atomic>

// The module's central object. It owns the settings and, as the reader grows,
// the service link, the readers and the reader thread. There is one, created
// at module load with the OBS main window as parent.
class Engine : public QObject {
    Q_OBJECT

public:
    explicit Engine(QObject* parent, const QString& settingsFolder = Settings::moduleFolder());
    ~Engine() override;

    // Called when OBS has finished loading, so the scene's sources exist.
    // A second call does nothing.
    void start();
    // Called at OBS exit and again at unload; only the first call after a
    // start does anything. Saves the settings.
    void stop();

    bool running() const { return running_.load(); }

    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }
    void saveSettings();

    // The service link; lives as long as the engine.
    Uplink* uplink() { return uplink_; }
    const Uplink* uplink() const { return uplink_; }

signals:
    // The dock should redraw. Emitted on the main thread.
    void changed();

private:
    QString settingsFolder_;
    Settings settings_;
    Uplink* uplink_ = nullptr; // child of this object
    std::atomic<bool> running_{false};
};
