#!/usr/bin/env bash
# Builds the Debian package from a configured Linux build, installs it with
# dpkg, starts the real OBS with a fresh private configuration that has no
# module in its user plug-ins folder, checks that OBS loaded the module from
# the system folders, and removes the package again.
#   deb-check.sh BUILD_DIR [WORK_DIR]
# Needs root (dpkg). Leaves the machine as it found it; a copy of the package
# that was installed before is neither replaced nor removed.
set -u
build="$(cd "$1" && pwd)"
work="${2:-$build/deb-check}"
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/tools/obs-sandbox.sh"

package=obs-corvex-tournament
arch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
module="/usr/lib/$arch/obs-plugins/corvex-tournament.so"
data="/usr/share/obs/obs-plugins/corvex-tournament"
installed_by_us=0

finish() {
    sandbox_cleanup
    if [ "$installed_by_us" = 1 ]; then
        dpkg -r "$package" >/dev/null || echo "deb-check: could not remove $package" >&2
    fi
}
trap finish EXIT

fail() {
    echo "FAIL: $*"
    local log
    log=$(sandbox_log_file)
    [ -n "$log" ] && { echo "--- OBS log ($log):"; tail -n 40 "$log"; }
    [ -f "$SANDBOX_HOME/obs-stdout.txt" ] && { echo "--- OBS output:"; tail -n 20 "$SANDBOX_HOME/obs-stdout.txt"; }
    exit 1
}

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: installing a package needs root"
    exit 0
fi
if dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    echo "SKIP: $package is installed already; not touching it"
    exit 0
fi

rm -rf "$work"
mkdir -p "$work/home"
cmake --build "$build" --target corvex-tournament >/dev/null || fail "the module did not build"
(cd "$build" && cpack -G DEB -B "$work/package" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    fail "cpack could not make the package"
}
deb=$(ls "$work/package/"*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb was made"
echo "Package: $deb ($(du -h "$deb" | cut -f1))"
dpkg-deb -f "$deb" Package Version Architecture Depends | sed 's/^/  /'

# The package must hold the module and its data in the system layout and
# nothing else (no build-tree or user-layout paths).
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/contents.txt"
for f in ".$module" ".$data/locale/en-US.ini" ".$data/hud/model.bin" ".$data/brand/zedar_mark.png"; do
    grep -qxF -- "$f" "$work/contents.txt" || fail "the package lacks $f"
done
if grep -vE "^\./(usr/?|usr/lib/?|usr/lib/$arch/?|usr/lib/$arch/obs-plugins/.*|usr/share/?|usr/share/obs/?|usr/share/obs/obs-plugins/?|usr/share/obs/obs-plugins/corvex-tournament/.*)$" \
    "$work/contents.txt"; then
    fail "the package holds files outside the system layout (above)"
fi
dpkg-deb -f "$deb" Depends | grep -q "libobs0" || fail "the package does not depend on libobs"

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || {
    cat "$work/dpkg.log"
    dpkg -r "$package" >/dev/null 2>&1
    fail "dpkg -i failed"
}
installed_by_us=1
[ -f "$module" ] || fail "dpkg did not install $module"

home="$work/home"
SANDBOX_HOME="$home"
sandbox_prepare "$home" "$build" || fail "could not prepare the OBS configuration"
# The private configuration gets no module of its own: OBS must find the
# installed one.
rm -rf "$home/.config/obs-studio/plugins/corvex-tournament"
sandbox_display || fail "no display"
sandbox_start "$home"
sandbox_wait_log "[corvex-tournament] Corvex Wager/Tournament Plugin loaded" 60 ||
    fail "OBS did not load the installed module"
grep -qF "$module" "/proc/$SANDBOX_OBS_PID/maps" 2>/dev/null ||
    fail "OBS did not map $module (a module from elsewhere was loaded)"
sandbox_wait_log "[corvex-tournament] reader started" 30 || fail "the installed module's reader did not start"
sleep 1
sandbox_stop 30 || fail "OBS did not close on SIGINT"
grep -qF "[corvex-tournament] Corvex Wager/Tournament Plugin unloaded" "$(sandbox_log_file)" ||
    fail "the installed module was not unloaded at exit"
cp "$(sandbox_log_file)" "$work/obs-log.txt"

dpkg -r "$package" >>"$work/dpkg.log" 2>&1 || fail "dpkg -r failed"
installed_by_us=0
[ ! -e "$module" ] && [ ! -e "$data" ] || fail "dpkg -r left files behind"
echo "PASS: the package installed, OBS loaded the module from $module, and the package was removed"
