#include "overlays/overlay-sources.h"

#include <cstring>

namespace overlays {

namespace {

OBSSceneItem findItem(obs_scene_t* scene, const QString& name) {
    if (!scene) {
        return nullptr;
    }
    // The holder takes its own reference: the lookup lends one only while
    // the scene keeps the item.
    return OBSSceneItem(obs_scene_find_source_recursive(scene, name.toUtf8().constData()));
}

OBSSourceAutoRelease sourceNamed(const QString& name) {
    OBSSourceAutoRelease source(obs_get_source_by_name(name.toUtf8().constData()));
    // A source the user deleted lingers until its last holder lets go; it
    // must not come back into a scene.
    if (source && obs_source_removed(source)) {
        return nullptr;
    }
    return source;
}

bool isBrowserSource(obs_source_t* source) {
    const char* id = obs_source_get_unversioned_id(source);
    return id && std::strcmp(id, kBrowserSourceId) == 0;
}

} // namespace

bool browserAvailable() {
    if (!obs_initialized()) {
        return false;
    }
    const char* name = obs_source_get_display_name(kBrowserSourceId);
    return name && *name;
}

OBSDataAutoRelease browserSettings(const QString& url, int width, int height) {
    OBSDataAutoRelease settings(obs_data_create());
    obs_data_set_string(settings, "url", url.toUtf8().constData());
    obs_data_set_int(settings, "width", width);
    obs_data_set_int(settings, "height", height);
    obs_data_set_int(settings, "fps", 30);
    obs_data_set_bool(settings, "reroute_audio", false);
    return settings;
}

AddResult addToScene(obs_scene_t* scene, const Placement& placement, OBSSource* kept) {
    const QByteArray name = placement.name.toUtf8();
    OBSDataAutoRelease settings = browserSettings(placement.url, placement.width, placement.height);
    OBSSourceAutoRelease source = sourceNamed(placement.name);
    AddResult result = AddResult::Updated;
    if (source) {
        // A source of the user's own under our name is theirs: neither
        // turned into a page nor put into the scene.
        if (!isBrowserSource(source)) {
            return AddResult::CreateFailed;
        }
        obs_source_update(source, settings);
    } else {
        source = obs_source_create(kBrowserSourceId, name.constData(), settings, nullptr);
        if (!source) {
            return AddResult::CreateFailed;
        }
        result = AddResult::Added;
    }
    if (!findItem(scene, placement.name)) {
        OBSSceneItem item(obs_scene_add(scene, source));
        if (!item) {
            return AddResult::CreateFailed;
        }
        vec2 pos;
        vec2_set(&pos, static_cast<float>(placement.x), static_cast<float>(placement.y));
        obs_sceneitem_set_pos(item, &pos);
    }
    if (kept) {
        *kept = source.Get();
    }
    return result;
}

int itemState(obs_scene_t* scene, const QString& name) {
    const OBSSceneItem item = findItem(scene, name);
    if (!item) {
        return 0;
    }
    return obs_sceneitem_visible(item) ? 1 : 2;
}

bool setItemVisible(obs_scene_t* scene, const QString& name, bool visible) {
    const OBSSceneItem item = findItem(scene, name);
    if (!item) {
        return false;
    }
    obs_sceneitem_set_visible(item, visible);
    return true;
}

bool removeItem(obs_scene_t* scene, const QString& name) {
    const OBSSceneItem item = findItem(scene, name);
    if (!item) {
        return false;
    }
    obs_sceneitem_remove(item);
    return true;
}

bool updateUrl(const QString& name, const QString& url) {
    OBSSourceAutoRelease source = sourceNamed(name);
    if (!source || !isBrowserSource(source)) {
        return false;
    }
    OBSDataAutoRelease settings(obs_source_get_settings(source));
    const char* current = obs_data_get_string(settings, "url");
    const QByteArray wanted = url.toUtf8();
    if (current && wanted == current) {
        return false;
    }
    OBSDataAutoRelease change(obs_data_create());
    obs_data_set_string(change, "url", wanted.constData());
    obs_source_update(source, change);
    return true;
}

} // namespace overlays
