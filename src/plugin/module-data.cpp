#include "module-data.h"

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
    char* path = obs_find_module_file(m, name);
    if (!path) {
        return {};
    }
    QString result = QString::fromUtf8(path);
    bfree(path);
    return result;
}

} // namespace plugin
