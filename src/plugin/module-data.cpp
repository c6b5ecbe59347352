#include "module-data.h"

#include "obs-ref.h"

#include <atomic>

namespace plugin {

namespace {
std::atomic<obs_module_t*> g_module{nullptr};
}

obs_module_t* module() {
    return g_module.load();
}

void setModule(obs_module_t* m) {
    g_module.store(m);
}

QString findDataFile(const char* name) {
    obs_module_t* m = module();
    if (!m) {
        return {};
    }
    const OBSStringAutoRelease path(obs_find_module_file(m, name));
    return path ? QString::fromUtf8(path.Get()) : QString();
}

} // namespace plugin
