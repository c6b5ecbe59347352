#include "obs-compat.h"
#include "obs-ref.h"

#if !CORVEX_OBS_HAS_UUID
#include <QUuid>

#include <mutex>
#include <vector>
#endif

namespace compat {

#if CORVEX_OBS_HAS_UUID

QString sourceUuid(obs_source_t* source) {
    const char* uuid = source ? obs_source_get_uuid(source) : nullptr;
    return uuid ? QString::fromUtf8(uuid) : QString();
}

obs_source_t* sourceByUuid(const QString& uuid) {
    if (uuid.isEmpty()) {
        return nullptr;
    }
    return obs_get_source_by_uuid(uuid.toUtf8().constData());
}

void releaseSourceIds() {}

#else

namespace {

struct KnownSource {
    QString id;
    OBSWeakSourceAutoRelease weak;
};

// Both the reader thread and the main thread ask for ids.
std::mutex g_lock;
std::vector<KnownSource> g_known;

void dropExpired() {
    for (auto it = g_known.begin(); it != g_known.end();) {
        if (obs_weak_source_expired(it->weak)) {
            it = g_known.erase(it);
        } else {
            ++it;
        }
    }
}

} // namespace

QString sourceUuid(obs_source_t* source) {
    if (!source) {
        return {};
    }
    std::lock_guard<std::mutex> guard(g_lock);
    // A weak reference compares by address only: a new source made where a
    // destroyed one lived would inherit its id, and that id would then lead
    // to the dead one. So the dead go first.
    dropExpired();
    for (const KnownSource& known : g_known) {
        if (obs_weak_source_references_source(known.weak, source)) {
            return known.id;
        }
    }
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    g_known.push_back(KnownSource{id, OBSWeakSourceAutoRelease(obs_source_get_weak_source(source))});
    return id;
}

obs_source_t* sourceByUuid(const QString& uuid) {
    std::lock_guard<std::mutex> guard(g_lock);
    for (const KnownSource& known : g_known) {
        if (known.id == uuid) {
            // A removed source lives on while anything holds it; on 30+ it is
            // no longer found by its UUID, so here it is gone too.
            obs_source_t* source = obs_weak_source_get_source(known.weak);
            if (source && obs_source_removed(source)) {
                obs_source_release(source);
                return nullptr;
            }
            return source;
        }
    }
    return nullptr;
}

void releaseSourceIds() {
    std::lock_guard<std::mutex> guard(g_lock);
    g_known.clear();
}

#endif

} // namespace compat
