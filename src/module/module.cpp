// The module's entry points: what OBS calls to load, localise and unload it.

#include "plugin/lang.h"
#include "plugin/log.h"
#include "plugin/module-data.h"
#include "plugin/obs-compat.h"
#include "plugin/obs-ref.h"

#include "dock/dock.h"
#include "engine/engine.h"
#include "net/http.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QFontDatabase>
#include <QPointer>
#include <QWidget>

namespace {

// Texts in the OBS interface language; only the dock title uses them, the
// rest of the module speaks the language chosen in its own settings.
OBSTextLookupAutoRelease g_obsLocaleTexts;

QPointer<Engine> g_engine;
QPointer<Dock> g_dock;

constexpr const char* kDockId = "corvex_tournament_dock";

void registerFonts() {
    for (const char* name : {"brand/SairaCondensed-Bold.ttf", "brand/IBMPlexMono-SemiBold.ttf",
                             "brand/RobotoCondensed-Bold.ttf"}) {
        QString path = plugin::findDataFile(name);
        if (!path.isEmpty()) {
            QFontDatabase::addApplicationFont(path);
        }
    }
}

void onFrontendEvent(enum obs_frontend_event event, void*) {
    switch (event) {
    case OBS_FRONTEND_EVENT_FINISHED_LOADING:
        compat::showDocks();
        if (g_engine) {
            g_engine->start();
        }
        break;
    case OBS_FRONTEND_EVENT_EXIT:
        if (g_engine) {
            g_engine->stop();
        }
        Http::shutdown();
        break;
    default:
        break;
    }
}

} // namespace

extern "C" {

MODULE_EXPORT void obs_module_set_pointer(obs_module_t* module) {
    plugin::setModule(module);
}

MODULE_EXPORT uint32_t obs_module_ver(void) {
    return LIBOBS_API_VER;
}

MODULE_EXPORT void obs_module_set_locale(const char* locale) {
    g_obsLocaleTexts = obs_module_load_locale(plugin::module(), "en-US", locale);
}

MODULE_EXPORT void obs_module_free_locale(void) {
    g_obsLocaleTexts = nullptr;
}

MODULE_EXPORT bool obs_module_get_string(const char* key, const char** out) {
    return g_obsLocaleTexts && text_lookup_getstr(g_obsLocaleTexts, key, out);
}

MODULE_EXPORT const char* obs_module_name(void) {
    return "Corvex Tournament";
}

MODULE_EXPORT const char* obs_module_description(void) {
    return "Reads the game's HUD from the stream and reports cup and wager results.";
}

MODULE_EXPORT bool obs_module_load(void) {
    registerFonts();

    auto* mainWindow = static_cast<QWidget*>(obs_frontend_get_main_window());
    if (compat::deferInterruptClose(mainWindow)) {
        obsLog(LOG_INFO, "SIGINT closes OBS from its event loop");
    }
    g_engine = new Engine(mainWindow);
    g_engine->setOutputStateQuery([] {
        return OutputState{obs_frontend_streaming_active(), obs_frontend_recording_active()};
    });
    g_engine->setCurrentSceneQuery([] { return OBSSourceAutoRelease(obs_frontend_get_current_scene()); });

    Lang::apply(g_engine->settings().lang);
    const char* obsLocale = obs_get_locale();
    obsLog(LOG_INFO, "module language %s (setting \"%s\", OBS locale %s)", Lang::code().toUtf8().constData(),
           g_engine->settings().lang.toUtf8().constData(), obsLocale ? obsLocale : "none");

    g_dock = new Dock(g_engine);
    if (!compat::addDock(kDockId, Lang::textIn(g_obsLocaleTexts, "CorvexTournament"), g_dock)) {
        // OBS did not take the widget, so nobody else will free it.
        obsLog(LOG_WARNING, "could not add the dock \"%s\" to OBS", kDockId);
        g_dock->deleteLater();
    }

    obs_frontend_add_event_callback(onFrontendEvent, nullptr);

    obsLog(LOG_INFO, "Corvex Wager/Tournament Plugin loaded (version %s)", plugin::kVersion);
    return true;
}

MODULE_EXPORT void obs_module_unload(void) {
    obs_frontend_remove_event_callback(onFrontendEvent, nullptr);
    compat::restoreInterruptHandler();
    if (g_engine) {
        g_engine->stop();
    }
    g_engine.clear();
    g_dock.clear();
    compat::releaseSourceIds();
    Lang::release();
    obsLog(LOG_INFO, "Corvex Wager/Tournament Plugin unloaded");
}

} // extern "C"
