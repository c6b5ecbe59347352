#!/usr/bin/env bash
# The product at work on this machine: builds the module, starts the local
# tournament service in place of the real one, paints a played match, and
# starts Debian's OBS in a private configuration (a temporary HOME; your own
# OBS set-up is not touched) with the module linked to that service and a game
# capture playing the match.
#
# With a display, OBS stays open until you close it. Without one, OBS runs on
# a virtual display for a minute; then out/ holds a screenshot of OBS with the
# dock (obs-screenshot.png), the OBS log (obs-log.txt), the reader log
# (reader-log.txt) and what the service received (service-events.txt).
#
#   bash tools/run.sh [--server URL] [--obs-config DIR] [--seconds N] [--seed N]
#
#   --server URL      the module talks to this service instead of the local one
#                     (env CORVEX_SERVER); the PC is then linked from the dock
#   --obs-config DIR  your own OBS configuration (e.g. ~/.config/obs-studio,
#                     env CORVEX_OBS_CONFIG): the module is installed into its
#                     plug-ins folder and OBS starts with your profile and
#                     scenes; the module's settings are left as they are,
#                     except "server" when --server is given
#   --seconds N       how long OBS runs without a display (env CORVEX_RUN_SECONDS, 60)
#   --seed N          the painted match (env CORVEX_MATCH_SEED, 7)
#   CORVEX_BUILD_DIR  build folder (default build/run)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

server="${CORVEX_SERVER:-}"
obs_config="${CORVEX_OBS_CONFIG:-}"
seconds="${CORVEX_RUN_SECONDS:-60}"
seed="${CORVEX_MATCH_SEED:-7}"
build="${CORVEX_BUILD_DIR:-build/run}"
usage() { sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; }
while [ $# -gt 0 ]; do
    case "$1" in
    --server) server="${2:?--server needs a URL}"; shift 2 ;;
    --obs-config) obs_config="${2:?--obs-config needs a folder}"; shift 2 ;;
    --seconds) seconds="${2:?--seconds needs a number}"; shift 2 ;;
    --seed) seed="${2:?--seed needs a number}"; shift 2 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "run.sh: --seconds needs a whole number" >&2; exit 2; }
[[ "$seed" =~ ^[0-9]+$ ]] || { echo "run.sh: --seed needs a whole number" >&2; exit 2; }
if [ -n "$obs_config" ]; then
    [ -d "$obs_config" ] || { echo "run.sh: $obs_config is not a folder" >&2; exit 2; }
    obs_config="$(cd "$obs_config" && pwd)"
fi

source tools/obs-sandbox.sh
source tools/run-lib.sh
run_build "$build"
service_pid=""
finish() {
    sandbox_cleanup
    if [ -n "$service_pid" ]; then
        kill -INT "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
    fi
    return 0
}
trap finish EXIT
mkdir -p out
work="$(mktemp -d /tmp/corvex-run.XXXXXX)"

match=""
if [ -z "$obs_config" ]; then
    echo "== match (seed $seed)"
    match="$(run_paint_match "$build" "$seed" 60)"
fi

record=""
if [ -z "$server" ] && [ -z "$obs_config" ]; then
    record="$work/service-events.jsonl"
    run_start_service "$build" "$work" "$record" ""
    service_pid="$RUN_SERVICE_PID"
    server="$RUN_SERVICE_URL"
    echo "== local service at $server (token for a linked PC: $RUN_TOKEN)"
fi

if [ -z "$obs_config" ]; then
    home="$work/home"
    sandbox_prepare "$home" "$build"
    sandbox_install_game "$home" "$build"
    sandbox_game_scene "$home" "$match" Game '"loop": true'
    sandbox_link "$home" "$server" "${record:+$RUN_TOKEN}" "$RUN_PLAYER_ID" "$RUN_PLAYER_NAME"
    run_config_dir="$home/.config/obs-studio"
else
    # The player's own configuration: OBS is started with it as its own
    # config folder, whatever that folder is called.
    home="$work/home"
    mkdir -p "$home/.config"
    ln -s "$obs_config" "$home/.config/obs-studio"
    CORVEX_INSTALL_LAYOUT=user cmake --install "$build" --prefix "$obs_config/plugins" >/dev/null
    echo "== module installed into $obs_config/plugins"
    if [ -n "$server" ]; then
        run_set_server "$obs_config" "$server"
    fi
    run_config_dir="$obs_config"
fi

collect() {
    local log
    log="$(sandbox_log_file)"
    [ -n "$log" ] && cp "$log" out/obs-log.txt
    log="$(run_reader_log out/obs-log.txt)"
    [ -n "$log" ] && cp "$log" out/reader-log.txt
    if [ -n "$record" ]; then
        run_event_table "$record" >out/service-events.txt
    fi
    return 0
}

if [ -n "${DISPLAY:-}" ]; then
    echo "== starting OBS on $DISPLAY (configuration in $run_config_dir); close it to finish"
    if [ -n "$obs_config" ]; then run_start_own_obs "$home"; else sandbox_start "$home"; fi
    wait "$SANDBOX_OBS_PID" || true
    SANDBOX_OBS_PID=""
    collect
    [ -n "$record" ] && cat out/service-events.txt
    echo "OBS log: out/obs-log.txt   reader log: out/reader-log.txt"
    exit 0
fi

sandbox_display
echo "== no display: OBS runs on a virtual display ($DISPLAY) for $seconds s"
if [ -n "$obs_config" ]; then run_start_own_obs "$home"; else sandbox_start "$home"; fi
if ! sandbox_wait_log "[corvex-tournament] Corvex Wager/Tournament Plugin loaded" 60; then
    echo "The module did not load; see the OBS log below" >&2
    tail -n 40 "$(sandbox_log_file)" >&2 || true
    exit 1
fi
sleep "$seconds"
sandbox_screenshot out/obs-screenshot.png
# The virtual display is larger than OBS's window: keep the window only.
convert out/obs-screenshot.png -trim +repage out/obs-screenshot.png 2>/dev/null || true
sandbox_stop 30 || true
collect
echo
grep -F "[corvex-tournament]" out/obs-log.txt | tail -n 15 || true
if [ -n "$record" ]; then
    echo
    head -n 20 out/service-events.txt
fi
echo
echo "Screenshot: out/obs-screenshot.png   OBS log: out/obs-log.txt   reader log: out/reader-log.txt"
[ -n "$record" ] && echo "What the service received: out/service-events.txt"
exit 0
