#include "engine.h"

#include "plugin/log.h"

Engine::Engine(QObject* parent, const QString& settingsFolder)
    : QObject(parent), settingsFolder_(settingsFolder), settings_(Settings::load(settingsFolder)),
      uplink_(new Uplink(&settings_, this, settingsFolder)) {}

Engine::~Engine() {
    stop();
}

void Engine::start() {
    if (running_.exchange(true)) {
        return;
    }
    obsLog(LOG_INFO, "engine started (%d reads/s, source %s)", settings_.fps,
           settings_.source.isEmpty() ? "automatic" : settings_.source.toUtf8().constData());
    uplink_->start();
    emit changed();
}

void Engine::stop() {
    if (!running_.exchange(false)) {
        return;
    }
    // The link writes its backlog and may move `next_seq`; the settings are
    // saved after it so that both reach the disk in step.
    uplink_->stop();
    saveSettings();
    obsLog(LOG_INFO, "engine stopped");
}

void Engine::saveSettings() {
    Settings::save(settings_, settingsFolder_);
}
