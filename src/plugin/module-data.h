#pragma once

#include "plugin/version.h"

#include <obs-module.h>

#include <QString>

namespace plugin {

inline constexpr const char* kModuleName = "corvex-tournament";
inline constexpr const char* kVersion = CORVEX_VERSION;

// The module handle OBS gave us; null in tests and before OBS sets it.
obs_module_t* module();
void setModule(obs_module_t* module);

// Full path of a file shipped in the module's data folder ("brand/x.png"),
// or an empty string when OBS cannot find it.
QString findDataFile(const char* name);

} // namespace plugin
