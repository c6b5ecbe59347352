#pragma once

// The overlays' browser sources and their items in a scene. Main thread only.

#include <obs.hpp>

#include <QString>

namespace overlays {

// The source type id of OBS's browser source.
inline constexpr const char* kBrowserSourceId = "browser_source";

// What one overlay should look like: its source's name and settings, and
// where its item goes in a scene the first time.
struct Placement {
    QString name;
    QString url; // with the language item
    int width = 0;
    int height = 0;
    int x = 0;
    int y = 0;
};

// Whether this OBS has a browser source at all (Linux packages often lack it).
bool browserAvailable();

// The browser source's settings for a page of that size.
OBSDataAutoRelease browserSettings(const QString& url, int width, int height);

enum class AddResult { Added, Updated, CreateFailed };

// Makes the named source show the page (updating it when it exists, creating
// it otherwise) and puts it into `scene` unless an item of it is there
// already, anywhere in the scene's groups. `kept` receives the source.
AddResult addToScene(obs_scene_t* scene, const Placement& placement, OBSSource* kept);

// 0: no item of the named source in `scene`, 1: shown, 2: hidden.
int itemState(obs_scene_t* scene, const QString& name);
// False when there is no such item.
bool setItemVisible(obs_scene_t* scene, const QString& name, bool visible);
bool removeItem(obs_scene_t* scene, const QString& name);

// Points the named source at `url` when it exists and shows another page.
// True when the source was updated.
bool updateUrl(const QString& name, const QString& url);

} // namespace overlays
