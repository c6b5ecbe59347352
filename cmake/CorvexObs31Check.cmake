# Compiles the libobs 30+ side of the compatibility layer, which the libobs
# found here (29) never builds: a copy of its headers is stamped with the API
# version the product ships against (31.1.1) and given the few declarations
# 29 lacks, with their 31 signatures. Compile only; nothing is linked or run.
get_target_property(_corvex_obs_includes OBS::libobs INTERFACE_INCLUDE_DIRECTORIES)
list(GET _corvex_obs_includes 0 _corvex_obs_include)
set(_shim "${CMAKE_CURRENT_BINARY_DIR}/obs31-headers")

file(REMOVE_RECURSE "${_shim}")
file(COPY "${_corvex_obs_include}/" DESTINATION "${_shim}")

file(READ "${_shim}/obs-config.h" _config)
string(REGEX REPLACE "#define LIBOBS_API_MAJOR_VER [0-9]+" "#define LIBOBS_API_MAJOR_VER 31" _config "${_config}")
string(REGEX REPLACE "#define LIBOBS_API_MINOR_VER [0-9]+" "#define LIBOBS_API_MINOR_VER 1" _config "${_config}")
string(REGEX REPLACE "#define LIBOBS_API_PATCH_VER [0-9]+" "#define LIBOBS_API_PATCH_VER 1" _config "${_config}")
file(WRITE "${_shim}/obs-config.h" "${_config}")

file(APPEND "${_shim}/obs.h" "
#ifdef __cplusplus
extern \"C\" {
#endif
EXPORT const char *obs_source_get_uuid(const obs_source_t *source);
EXPORT obs_source_t *obs_get_source_by_uuid(const char *uuid);
#ifdef __cplusplus
}
#endif
")
file(APPEND "${_shim}/obs-frontend-api.h" "
#ifdef __cplusplus
extern \"C\" {
#endif
EXPORT bool obs_frontend_add_dock_by_id(const char *id, const char *title, void *widget);
EXPORT void obs_frontend_remove_dock(const char *id);
#ifdef __cplusplus
}
#endif
")
file(WRITE "${_shim}/corvex-obs31-check.cpp" "
#include <obs-config.h>
static_assert(LIBOBS_API_VER == 0x1f010001, \"the check must see libobs 31.1.1\");
")

add_library(corvex_obs31_check OBJECT
  "${PROJECT_SOURCE_DIR}/src/plugin/obs-compat-sources.cpp"
  "${PROJECT_SOURCE_DIR}/src/plugin/obs-compat-frontend.cpp"
  "${_shim}/corvex-obs31-check.cpp")
target_include_directories(corvex_obs31_check SYSTEM BEFORE PRIVATE "${_shim}")
target_include_directories(corvex_obs31_check PRIVATE "${PROJECT_SOURCE_DIR}/src/plugin")
target_compile_definitions(corvex_obs31_check PRIVATE HAVE_OBSCONFIG_H)
target_link_libraries(corvex_obs31_check PRIVATE ${CORVEX_QT_WIDGETS})
corvex_warnings(corvex_obs31_check)
