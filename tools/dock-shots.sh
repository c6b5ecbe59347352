#!/usr/bin/env bash
# Pictures of the dock in the real OBS, in every language the module speaks.
#
#   tools/dock-shots.sh [-b BUILD_DIR] [-o OUT_DIR] [-l "en de ..."] [--no-states]
#
# For each language OBS starts under a virtual display with the module
# installed into a private configuration:
#  - once in demo mode, where the dock photographs itself 8 s after start:
#    dock-tournament-LANG.png (a cup counting down, team and registration)
#    and dock-wager-LANG.png (a wager with both sides drawn), plus done-LANG
#    with the content's minimum width per mode;
#  - once linked to the loopback test service, which answers every request
#    with a prepared status document; the display is photographed and the
#    dock cut out of it by its background colour: state-cup-live-LANG.png,
#    state-alarm-LANG.png (a live cup that is not on stream),
#    state-unlinked-LANG.png (the service has dropped the PC's token) and,
#    when xdotool is there to press the link button, state-link-code-LANG.png.
# Defaults: build/linux, out/dock-shots, all 14 languages. About 45 s per
# language with the states, 15 s without. DOCK_SHOTS_KEEP=1 keeps the OBS
# set-up and its logs.
set -u

here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"
source "$here/obs-sandbox.sh"

build="$root/build/linux"
out="$root/out/dock-shots"
langs="en de fr es it pt-BR pl tr ru uk ja ko zh-CN zh-TW"
states=1

usage() {
    sed -n '2,/^set -u/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
    exit "${1:-0}"
}

while [ $# -gt 0 ]; do
    case "$1" in
    -b) build="$2"; shift 2 ;;
    -o) out="$2"; shift 2 ;;
    -l) langs="$2"; shift 2 ;;
    --no-states) states=0; shift ;;
    -h | --help) usage 0 ;;
    *) echo "dock-shots: unknown argument $1" >&2; usage 2 ;;
    esac
done

build="$(cd "$build" 2>/dev/null && pwd)" || { echo "dock-shots: no build folder" >&2; exit 2; }
service_bin="$build/tools/service/corvex-test-service"
[ -f "$build/src/module/corvex-tournament.so" ] || {
    echo "dock-shots: build the module first (cmake --build $build --target corvex-tournament)" >&2
    exit 2
}
if [ "$states" = 1 ] && [ ! -x "$service_bin" ]; then
    echo "dock-shots: build the test service first (--target corvex-test-service), or pass --no-states" >&2
    exit 2
fi
mkdir -p "$out" || exit 2
out="$(cd "$out" && pwd)"

work="$(mktemp -d /tmp/corvex-dock-shots.XXXXXX)"
home="$work/home"
config_dir="$home/.config/obs-studio/plugin_config/corvex-tournament"
service_pid=""
failures=0

stop_service() {
    if [ -n "$service_pid" ]; then
        kill -INT "$service_pid" 2>/dev/null
        wait "$service_pid" 2>/dev/null
        service_pid=""
    fi
}

cleanup() {
    stop_service
    sandbox_cleanup
    if [ -n "${DOCK_SHOTS_KEEP:-}" ]; then
        echo "dock-shots: OBS set-up, logs and service output kept in $work"
    else
        rm -rf "$work"
    fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

note() { echo "dock-shots: $*"; }
problem() {
    echo "dock-shots: $*" >&2
    failures=$((failures + 1))
}

# The module's settings for one run; everything else keeps its default.
write_config() {
    local lang="$1" mode="$2" server="${3:-}" token="${4:-}"
    rm -rf "$config_dir"
    mkdir -p "$config_dir" "$work/output"
    {
        printf '{\n  "lang": "%s",\n  "mode": "%s",\n' "$lang" "$mode"
        printf '  "out_dir": "%s",\n  "device_name": "dock-shots"' "$work/output"
        [ -n "$server" ] && printf ',\n  "server": "%s",\n  "token": "%s",\n  "player_id": "p-1"' "$server" "$token"
        printf '\n}\n'
    } >"$config_dir/config.json"
}

wait_file() {
    local file="$1" seconds="$2" i
    for i in $(seq 1 $((seconds * 10))); do
        [ -e "$file" ] && return 0
        [ -n "$SANDBOX_OBS_PID" ] && ! kill -0 "$SANDBOX_OBS_PID" 2>/dev/null && return 1
        sleep 0.1
    done
    return 1
}

# The dock is the one area of the dock's own background colour; the rest of
# OBS is themed in other colours.
crop_dock() {
    local shot="$1" dest="$2" box
    box=$(convert "$shot" -alpha off -fill black +opaque '#0E1215' -fill white -opaque '#0E1215' \
        -format '%@' info: 2>/dev/null)
    case "$box" in
    "" | 0x0* | 1x1*) return 1 ;;
    esac
    convert "$shot" -crop "$box" +repage "$dest"
}

demo_run() {
    local lang="$1"
    write_config "$lang" tournament
    rm -f "$out/done-$lang" "$out/dock-tournament-$lang.png" "$out/dock-wager-$lang.png"
    CORVEX_TOURNEY_DEMO=1 CORVEX_TOURNEY_SHOTS="$out" sandbox_start "$home"
    if ! sandbox_wait_log "[corvex-tournament] Corvex Wager/Tournament Plugin loaded" 60; then
        problem "$lang: the module did not load (see $(sandbox_log_file))"
        cp "$(sandbox_log_file)" "$out/obs-log-$lang.txt" 2>/dev/null
        sandbox_stop 20
        return
    fi
    if wait_file "$out/done-$lang" 40; then
        sandbox_screenshot "$work/window.png" && crop_dock "$work/window.png" "$out/window-demo-$lang.png"
        for mode in tournament wager; do
            [ -s "$out/dock-$mode-$lang.png" ] || problem "$lang: no dock-$mode-$lang.png"
        done
    else
        problem "$lang: the dock wrote no done-$lang"
        cp "$(sandbox_log_file)" "$out/obs-log-$lang.txt" 2>/dev/null
    fi
    sandbox_stop 20 || problem "$lang: OBS did not close"
}

# Status documents for the states the demo does not show.
status_doc() {
    local kind="$1" now twitch
    now=$(date +%s%3N)
    twitch=true
    [ "$kind" = alarm ] && twitch=false
    cat <<JSON | tr -d '\n'
{"ack": 999999999999, "now": $now,
 "player": {"id": "p-1", "ign": "Jorn"},
 "cup": {"id": "c-1", "name": "Mint Cup #1", "status": "live", "phase": "live", "kind": "cup",
         "starts_at": $((now - 1200000)), "ends_at": $((now + 2400000))},
 "team": {"id": "t-1", "name": "Corvex Dogs", "tag": "QRT"},
 "me": {"score": 12450, "gross": 18900, "rank": 3, "state": "playing", "english": "ok", "counted": true},
 "team_score": 24100, "team_rank": 2,
 "account": {"discord": {"linked": true, "name": "jorn"},
             "steam": {"linked": true, "id": "76561197960287930", "name": "Jorn", "verified": true},
             "ign": "Jorn", "twitch": "jorn_plays", "twitch_verified": true, "complete": true, "ads": true,
             "chat": {"link": true, "updates": false, "granted": true}},
 "stream": {"obs": false, "twitch": $twitch, "ok": $twitch, "twitch_login": "jorn_plays"},
 "checks": {"twitch_linked": true, "twitch_live": $twitch, "vods_on": true, "plugin_ok": true},
 "plugin": {"latest": "0.3.0", "min": "0.2.0"},
 "tournament": {"cup": {"id": "c-1", "name": "Mint Cup #1", "phase": "live", "status": "live", "code": "CUP-1",
                        "starts_at": $((now - 1200000)), "ends_at": $((now + 2400000)),
                        "team_size": 2, "max_teams": 16},
                "registered": true,
                "team": {"id": "t-1", "name": "Corvex Dogs", "tag": "QRT", "captain": true, "ready": true,
                         "team_ready": true, "members": [{"name": "Jorn"}, {"name": "Nova"}]}},
 "wager": null}
JSON
}

# The loopback service answering every request in one way, on `port` (0:
# any); sets `port` to the one it listens on.
start_service() {
    local fault="$1" found args=(--port "$port" --quiet --token dock-shots)
    stop_service
    [ -n "$fault" ] && args+=(--fault "/=$fault")
    "$service_bin" "${args[@]}" >"$work/service.txt" 2>&1 &
    service_pid=$!
    local i
    for i in $(seq 1 50); do
        # The whole line, not a half-written one.
        found=$(sed -n 's#^http://127\.0\.0\.1:\([0-9][0-9]*\)/api/.*#\1#p' "$work/service.txt" 2>/dev/null | head -n 1)
        if [ -n "$found" ]; then
            port="$found"
            return 0
        fi
        kill -0 "$service_pid" 2>/dev/null || break
        sleep 0.1
    done
    problem "the test service did not start: $(cat "$work/service.txt")"
    return 1
}

# A status document reaches the dock with the next poll or upload, at most
# 5 s apart.
shoot_state() {
    local lang="$1" name="$2" wait="${3:-7}"
    sleep "$wait"
    sandbox_screenshot "$work/window.png" || { problem "$lang: no screenshot"; return 1; }
    crop_dock "$work/window.png" "$out/state-$name-$lang.png" ||
        { cp "$work/window.png" "$out/state-$name-$lang-window.png"; problem "$lang: no dock in the $name screenshot"; return 1; }
}

# Presses the dock's link button: while the PC is unlinked it is the largest
# patch of the primary colour (the logo is the other, far smaller one). The
# service, no longer refusing, hands out a code, which the dock shows until
# the sign-in page is visited (never, here).
press_link() {
    local box
    box=$(convert "$work/window.png" -alpha off -fill black +opaque '#8C9A5B' -fill white -opaque '#8C9A5B' \
        -define connected-components:verbose=true -connected-components 8 null: 2>/dev/null |
        awk '/srgb\(255,255,255\)/ {print $4, $2}' | sort -n | tail -n 1 | cut -d' ' -f2)
    [[ "$box" =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || return 1
    local w=${BASH_REMATCH[1]} h=${BASH_REMATCH[2]} x=${BASH_REMATCH[3]} y=${BASH_REMATCH[4]}
    [ "$w" -gt 20 ] && [ "$h" -gt 10 ] || return 1
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) sleep 0.3 click 1
}

states_run() {
    local lang="$1"
    port=0
    start_service "status:200:$(status_doc live)" || return
    write_config "$lang" tournament "http://127.0.0.1:$port/api/mintcup/v1" dock-shots
    sandbox_start "$home"
    if ! sandbox_wait_log "[corvex-tournament] reader started" 60; then
        problem "$lang: the reader did not start (states)"
        sandbox_stop 20
        return
    fi
    shoot_state "$lang" cup-live
    start_service "status:200:$(status_doc alarm)" && shoot_state "$lang" alarm
    # A 401 unlinks the PC: the token goes and the dock asks to link again.
    if start_service 'status:401:{"error":"unauthorized"}' && shoot_state "$lang" unlinked &&
        command -v xdotool >/dev/null; then
        start_service "" && { press_link || problem "$lang: no link button to press"; } &&
            shoot_state "$lang" link-code 3
    fi
    sandbox_stop 20 || problem "$lang: OBS did not close (states)"
    stop_service
}

mkdir -p "$home"
SANDBOX_HOME="$home"
sandbox_prepare "$home" "$build" || { echo "dock-shots: could not prepare OBS" >&2; exit 1; }
sandbox_display || exit 1

for lang in $langs; do
    note "$lang"
    demo_run "$lang"
    [ "$states" = 1 ] && states_run "$lang"
done

note "pictures in $out"
if [ "$failures" -gt 0 ]; then
    echo "dock-shots: $failures problem(s)" >&2
    exit 1
fi
