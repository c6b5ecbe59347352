#!/usr/bin/env bash
# `cmake --install` must lay the module out where OBS looks, in each layout.
#   install-layouts.sh BUILD_DIR WORK_DIR
set -eu
build="$1"
work="$2"
rm -rf "$work"
arch="$(gcc -print-multiarch 2>/dev/null || echo x86_64-linux-gnu)"

check() {
    local layout="$1" module="$2" data="$3"
    CORVEX_INSTALL_LAYOUT="$layout" cmake --install "$build" --prefix "$work/$layout" >/dev/null
    ls "$work/$layout"/$module >/dev/null 2>&1 || { echo "FAIL: $layout: no module at $module"; exit 1; }
    for f in locale/en-US.ini locale/de-DE.ini brand/SairaCondensed-Bold.ttf brand/IBMPlexMono-SemiBold.ttf \
        brand/RobotoCondensed-Bold.ttf brand/zedar_mark.png; do
        [ -f "$work/$layout/$data/$f" ] || { echo "FAIL: $layout: missing $data/$f"; exit 1; }
    done
}

check system "lib/$arch/obs-plugins/corvex-tournament.so" "share/obs/obs-plugins/corvex-tournament"
check user "corvex-tournament/bin/64bit/corvex-tournament.so" "corvex-tournament/data"
check windows "obs-plugins/64bit/corvex-tournament.*" "data/obs-plugins/corvex-tournament"
if CORVEX_INSTALL_LAYOUT=nonsense cmake --install "$build" --prefix "$work/bad" >/dev/null 2>&1; then
    echo "FAIL: an unknown layout was accepted"
    exit 1
fi
echo "PASS: system, user and windows layouts"
