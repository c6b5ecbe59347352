#pragma once

// Everything that differs between the libobs we ship against (31) and older
// ones (29, as packaged by Linux distributions) lives behind these functions.

#include <obs.h>

#include <QString>

class QWidget;

#if LIBOBS_API_MAJOR_VER >= 30
#define CORVEX_OBS_HAS_UUID 1
#define CORVEX_OBS_HAS_DOCK_BY_ID 1
#else
#define CORVEX_OBS_HAS_UUID 0
#define CORVEX_OBS_HAS_DOCK_BY_ID 0
#endif

namespace compat {

// Docks. OBS 30+ takes a widget and an id and does the rest; on 29 the widget
// is wrapped in a QDockWidget named after the id, which starts hidden, so it
// is shown once OBS has finished loading (showDocks).
bool addDock(const char* id, const QString& title, QWidget* widget);
void showDocks();

// Closing on SIGINT (Linux). OBS 29 closes the main window from inside the
// signal handler, which can crash or hang Qt; this handler instead closes
// `window` from the event loop. False when nothing was changed (another
// system, a newer OBS, or no handler of OBS's to replace). The previous
// handler comes back with restoreInterruptHandler(), before the module unloads.
bool deferInterruptClose(QWidget* window);
void restoreInterruptHandler();

// Source identity that survives renames within one OBS run. On 30+ this is
// the source's own UUID. On 29 the module hands out its own ids, each backed
// by a weak reference, so a source that is gone is never resurrected.
QString sourceUuid(obs_source_t* source);
// A new strong reference (release it) or null when the source is gone.
obs_source_t* sourceByUuid(const QString& uuid);
// Drops the weak references held for the ids (at module unload).
void releaseSourceIds();

} // namespace compat
