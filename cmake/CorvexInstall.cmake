# Where `cmake --install` puts the module and its data, in one of the three
# layouts OBS searches:
#   system  <prefix>/lib/<arch>/obs-plugins/corvex-tournament.so
#           <prefix>/share/obs/obs-plugins/corvex-tournament/
#   user    <prefix>/corvex-tournament/bin/64bit/corvex-tournament.so
#           <prefix>/corvex-tournament/data/          (prefix ~/.config/obs-studio/plugins)
#   windows <prefix>/obs-plugins/64bit/corvex-tournament.dll
#           <prefix>/data/obs-plugins/corvex-tournament/   (prefix: the OBS folder)
#
# The cache variable sets the default; the environment variable of the same
# name overrides it at install time, so one build can be installed both ways:
#   CORVEX_INSTALL_LAYOUT=user cmake --install build --prefix ~/.config/obs-studio/plugins
if(WIN32)
  set(_corvex_layout windows)
else()
  set(_corvex_layout system)
endif()
set(CORVEX_INSTALL_LAYOUT ${_corvex_layout} CACHE STRING "Default install layout: system, user or windows")
set_property(CACHE CORVEX_INSTALL_LAYOUT PROPERTY STRINGS system user windows)

install(CODE "
  set(CORVEX_LAYOUT \"${CORVEX_INSTALL_LAYOUT}\")
  if(DEFINED ENV{CORVEX_INSTALL_LAYOUT} AND NOT \"\$ENV{CORVEX_INSTALL_LAYOUT}\" STREQUAL \"\")
    set(CORVEX_LAYOUT \"\$ENV{CORVEX_INSTALL_LAYOUT}\")
  endif()
  set(CORVEX_ARCH \"${CMAKE_LIBRARY_ARCHITECTURE}\")
")
install(SCRIPT "${CMAKE_CURRENT_LIST_DIR}/CorvexInstallLayout.cmake")

# The escaped variables are set by the script above when the install runs.
install(TARGETS corvex-tournament LIBRARY DESTINATION "\${CORVEX_BIN_DIR}" RUNTIME DESTINATION "\${CORVEX_BIN_DIR}")
if(MSVC)
  install(FILES $<TARGET_PDB_FILE:corvex-tournament> DESTINATION "\${CORVEX_BIN_DIR}" OPTIONAL)
endif()
install(DIRECTORY "${PROJECT_SOURCE_DIR}/data/" DESTINATION "\${CORVEX_DATA_DIR}")
