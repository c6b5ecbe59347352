// Placeholder until the overlay sources are wired in.
#include "engine.h"

bool Engine::addOverlay(Overlay, QString* message) {
    if (message) {
        *message = QStringLiteral("not available");
    }
    return false;
}
int Engine::overlayState(Overlay) const {
    return 0;
}
void Engine::setOverlayVisible(Overlay, bool) {}
void Engine::removeOverlay(Overlay) {}
