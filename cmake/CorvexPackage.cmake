# `cpack -G DEB` in a Linux build directory makes a Debian package of the
# module in the system layout, where the distribution's OBS loads plug-ins from:
#   /usr/lib/<arch>/obs-plugins/corvex-tournament.so
#   /usr/share/obs/obs-plugins/corvex-tournament/
# The package holds the module and its data only; the tests' and tools'
# programs have no install rules.
if(WIN32 OR APPLE)
  return()
endif()

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "obs-corvex-tournament")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Corvex")
set(CPACK_PACKAGE_CONTACT "Corvex Tournament developers <dev@corvex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "OBS Studio module for Corvex cups and wagers")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "OBS Studio module for Corvex cups and wagers
 Reads the game's HUD from the picture OBS captures (cash balance, reward
 lines, kill feed, knocked-down banner), turns it into events and uploads them
 to the tournament and wager service. A dock links the PC, registers for cups,
 runs wagers, adds overlays and checks the set-up.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}_${PROJECT_VERSION}_amd64")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "amd64")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries the module links (libobs, Qt, libcurl, ...) are found by
# dpkg-shlibdeps; OBS itself is what loads the module, so it is a dependency
# of its own. The module works only with the Qt that OBS was built with, which
# the shared-library dependencies pin.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "obs-studio (>= 29)")
set(CPACK_DEBIAN_PACKAGE_ENHANCES "obs-studio")
set(CPACK_STRIP_FILES ON)
# Every file belongs to root, whoever builds the package.
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# cpack runs the install rules in its own process; a user layout left in the
# environment for `cmake --install` must not leak into the package.
set(_corvex_cpack_config "${PROJECT_BINARY_DIR}/CorvexCPackConfig.cmake")
file(WRITE "${_corvex_cpack_config}" "set(ENV{CORVEX_INSTALL_LAYOUT} system)\n")
set(CPACK_PROJECT_CONFIG_FILE "${_corvex_cpack_config}")

include(CPack)
