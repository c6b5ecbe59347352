#!/usr/bin/env bash
# The product's main job on this machine: builds the module, installs it into
# a private OBS configuration (a temporary HOME, so your own OBS set-up is not
# touched) and starts Debian's OBS with it.
#
# With a display, OBS stays open until you close it. Without one, OBS runs
# under a virtual display for CORVEX_RUN_SECONDS (default 15), then a
# screenshot and the OBS log are saved to out/ and OBS is closed.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh

build="build/run"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build"

source tools/obs-sandbox.sh
trap sandbox_cleanup EXIT
home="$(mktemp -d /tmp/corvex-obs.XXXXXX)"
sandbox_prepare "$home" "$build"
mkdir -p out

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting OBS on $DISPLAY with the module (configuration in $home)"
    sandbox_start "$home"
    wait "$SANDBOX_OBS_PID" || true
    SANDBOX_OBS_PID=""
    cp "$(sandbox_log_file)" out/obs-log.txt 2>/dev/null || true
    echo "OBS log: out/obs-log.txt"
    exit 0
fi

sandbox_display
echo "No display: running OBS on a virtual display ($DISPLAY) for ${CORVEX_RUN_SECONDS:-15} s"
sandbox_start "$home"
if ! sandbox_wait_log "[corvex-tournament] Corvex Wager/Tournament Plugin loaded" 60; then
    echo "The module did not load; see the OBS log below" >&2
    tail -n 40 "$(sandbox_log_file)" >&2 || true
    exit 1
fi
sleep "${CORVEX_RUN_SECONDS:-15}"
sandbox_screenshot out/obs-screenshot.png
sandbox_stop 30 || true
cp "$(sandbox_log_file)" out/obs-log.txt
grep -F "[corvex-tournament]" out/obs-log.txt || true
echo "Screenshot: out/obs-screenshot.png   OBS log: out/obs-log.txt"
