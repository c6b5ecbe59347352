// The engine's side of the browser-source overlays: which scene, which page,
// and keeping the pages in step with the player, the team and the language.

#include "engine/engine.h"

#include "overlays/overlay-sources.h"
#include "overlays/overlay-urls.h"
#include "plugin/lang.h"
#include "plugin/log.h"

namespace {

std::size_t slot(Overlay which) {
    return which == Overlay::Card ? 0 : 1;
}

QString sourceName(Overlay which) {
    return QString::fromUtf8(overlays::layout(which).sourceName);
}

} // namespace

OBSSourceAutoRelease Engine::currentScene() const {
    if (!obs_initialized()) {
        return nullptr;
    }
    OBSSourceAutoRelease scene = currentScene_ ? currentScene_() : OBSSourceAutoRelease();
    // Only a scene will do; the query may hand out whatever the front end has.
    if (scene && !obs_scene_from_source(scene)) {
        return nullptr;
    }
    return scene;
}

bool Engine::addOverlay(Overlay which, QString* message) {
    const auto fail = [message](const char* key) {
        if (message) {
            *message = Lang::text(key);
        }
        return false;
    };
    if (!overlays::browserAvailable()) {
        return fail("Overlay.NoBrowser");
    }
    const Status& status = uplink_->status();
    const QString page = which == Overlay::Card ? overlays::cardUrl(status, settings_.player_id)
                                                : overlays::boardUrl(status, false);
    const QSize size = overlays::size(which, status);

    const OBSSourceAutoRelease sceneSource = currentScene();
    obs_scene_t* scene = sceneSource ? obs_scene_from_source(sceneSource) : nullptr;
    if (!scene) {
        return fail("Overlay.NoScene");
    }

    const overlays::Layout& layout = overlays::layout(which);
    overlays::Placement placement;
    placement.name = sourceName(which);
    placement.url = overlays::withLanguage(page, Lang::code());
    placement.width = size.width();
    placement.height = size.height();
    placement.x = layout.x;
    placement.y = layout.y;
    if (overlays::addToScene(scene, placement, &overlaySources_[slot(which)]) ==
        overlays::AddResult::CreateFailed) {
        return fail("Overlay.CreateFailed");
    }
    if (which == Overlay::Card) {
        lastCardUrl_ = page;
    }
    obsLog(LOG_INFO, "added %s", layout.sourceName);
    log_.write(QStringLiteral("OVERLAY"), QStringLiteral("added %1: %2").arg(placement.name, placement.url));
    if (message) {
        message->clear();
    }
    return true;
}

int Engine::overlayState(Overlay which) const {
    const OBSSourceAutoRelease scene = currentScene();
    return scene ? overlays::itemState(obs_scene_from_source(scene), sourceName(which)) : 0;
}

void Engine::setOverlayVisible(Overlay which, bool visible) {
    const OBSSourceAutoRelease scene = currentScene();
    if (scene) {
        overlays::setItemVisible(obs_scene_from_source(scene), sourceName(which), visible);
    }
}

void Engine::removeOverlay(Overlay which) {
    const OBSSourceAutoRelease scene = currentScene();
    if (scene) {
        overlays::removeItem(obs_scene_from_source(scene), sourceName(which));
    }
}

void Engine::applyOverlayUrl(Overlay which, const QString& page) {
    overlays::updateUrl(sourceName(which), overlays::withLanguage(page, Lang::code()));
}

void Engine::overlayUpkeep() {
    // An engine without libobs (tests of the link, tools) has no sources.
    if (!obs_initialized()) {
        return;
    }
    // A source the user deleted is let go, so that its page stops running.
    for (OBSSource& kept : overlaySources_) {
        if (kept && obs_source_removed(kept)) {
            kept = nullptr;
        }
    }
    const Status& status = uplink_->status();
    const QString card = overlays::cardUrl(status, settings_.player_id);
    if (!card.isEmpty() && card != lastCardUrl_) {
        lastCardUrl_ = card;
        applyOverlayUrl(Overlay::Card, card);
    }
    // The first pass always applies, so a leaderboard kept in the scene
    // from an earlier run takes this run's language.
    const QString key = overlays::boardKey(status);
    if (!lastBoardKey_ || *lastBoardKey_ != key) {
        lastBoardKey_ = key;
        applyOverlayUrl(Overlay::Board, overlays::boardUrl(status, true));
    }
}

void Engine::releaseOverlaySources() {
    for (OBSSource& kept : overlaySources_) {
        kept = nullptr;
    }
}
