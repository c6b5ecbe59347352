# Helpers for running the real OBS with this module in a private
# configuration, so nothing touches the user's own OBS set-up.
# Source this file; every function returns non-zero on failure and every
# wait is bounded.
#
#   sandbox_prepare HOME_DIR BUILD_DIR   private OBS config + module installed
#   sandbox_display                      ensure $DISPLAY (starts Xvfb if none)
#   sandbox_start HOME_DIR               start OBS in the background
#   sandbox_wait_log PATTERN SECONDS     wait for a line in the current OBS log
#   sandbox_screenshot FILE              save a picture of the whole display
#   sandbox_stop [SECONDS]               close OBS cleanly (SIGINT), bounded; OBS's
#                                        exit status is left in SANDBOX_OBS_STATUS
#   sandbox_cleanup                      stop OBS and our Xvfb, if still running
#
# With the test game (tests/obs-game, built with the tests):
#   sandbox_install_game HOME_DIR BUILD_DIR   the test game module into the plug-ins
#   sandbox_game_scene HOME_DIR FRAMES_DIR [NAME] [SETTINGS]
#                                        the scene shows a "game_capture" source NAME
#                                        (default "Game") playing FRAMES_DIR; SETTINGS
#                                        are more JSON members, e.g. '"loop": true'
#   sandbox_link HOME_DIR SERVER TOKEN [PLAYER_ID] [PLAYER_NAME]
#                                        a config.json that links the module to SERVER

SANDBOX_OBS_PID=""
SANDBOX_OBS_STATUS=""
SANDBOX_XVFB_PID=""
SANDBOX_HOME=""
SANDBOX_PROFILE="Corvex"

sandbox_prepare() {
    local home="$1" build="$2"
    local cfg="$home/.config/obs-studio"
    mkdir -p "$cfg/basic/profiles/$SANDBOX_PROFILE" "$cfg/basic/scenes" "$cfg/plugins" || return 1

    # A prepared global.ini keeps OBS from opening its first-run wizard, which
    # would block the main window.
    cat >"$cfg/global.ini" <<INI
[General]
FirstRun=true
LastVersion=486539266
EnableAutoUpdates=false
ConfirmOnExit=false
Pre19Defaults=false
Pre21Defaults=false
Pre23Defaults=false
Pre24.1Defaults=false

[Basic]
Profile=$SANDBOX_PROFILE
ProfileDir=$SANDBOX_PROFILE
SceneCollection=$SANDBOX_PROFILE
SceneCollectionFile=$SANDBOX_PROFILE
ConfigOnNewProfile=false
INI
    cat >"$cfg/basic/profiles/$SANDBOX_PROFILE/basic.ini" <<INI
[General]
Name=$SANDBOX_PROFILE

[Video]
BaseCX=1280
BaseCY=720
OutputCX=1280
OutputCY=720
FPSType=0
FPSCommon=30

[Output]
Mode=Simple
INI
    sandbox_scene_json "$cfg/basic/scenes/$SANDBOX_PROFILE.json" "" "" 1
    CORVEX_INSTALL_LAYOUT=user cmake --install "$build" --prefix "$cfg/plugins" >/dev/null || return 1
    [ -f "$cfg/plugins/corvex-tournament/bin/64bit/corvex-tournament.so" ] || {
        echo "sandbox: the module was not installed where OBS looks" >&2
        return 1
    }
}

# Writes a scene collection FILE holding the backdrop, then SOURCES (JSON
# objects, each followed by a comma), and the scene "Scene" with the
# backdrop's item, then ITEMS (each preceded by a comma); COUNTER is the
# scene's last item id.
sandbox_scene_json() {
    local file="$1" sources="$2" items="$3" counter="$4"
    cat >"$file" <<JSON
{
    "name": "$SANDBOX_PROFILE",
    "current_scene": "Scene",
    "current_program_scene": "Scene",
    "scene_order": [{"name": "Scene"}],
    "sources": [
        {
            "id": "color_source",
            "versioned_id": "color_source_v3",
            "name": "Backdrop",
            "settings": {"color": 4279897616, "width": 1280, "height": 720}
        },$sources
        {
            "id": "scene",
            "versioned_id": "scene",
            "name": "Scene",
            "settings": {
                "items": [
                    {"name": "Backdrop", "visible": true, "id": 1}$items
                ],
                "id_counter": $counter
            }
        }
    ]
}
JSON
}

sandbox_display() {
    if [ -n "${DISPLAY:-}" ]; then
        return 0
    fi
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1600x900x24 -nolisten tcp >/dev/null 2>&1 &
        SANDBOX_XVFB_PID=$!
        local i
        for i in $(seq 1 50); do
            if [ -e "/tmp/.X11-unix/X$n" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            kill -0 "$SANDBOX_XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
        kill "$SANDBOX_XVFB_PID" 2>/dev/null
        SANDBOX_XVFB_PID=""
    done
    echo "sandbox: could not start Xvfb" >&2
    return 1
}

sandbox_start() {
    SANDBOX_HOME="$1"
    # A log of this run only: OBS names each log by its start time.
    rm -rf "$SANDBOX_HOME/.config/obs-studio/logs"
    (cd "$SANDBOX_HOME" && HOME="$SANDBOX_HOME" XDG_CONFIG_HOME="$SANDBOX_HOME/.config" \
        LIBGL_ALWAYS_SOFTWARE=1 exec obs --multi --disable-missing-files-check \
        --collection "$SANDBOX_PROFILE" --profile "$SANDBOX_PROFILE" --scene Scene \
        >"$SANDBOX_HOME/obs-stdout.txt" 2>&1) &
    SANDBOX_OBS_PID=$!
}

sandbox_log_file() {
    ls -t "$SANDBOX_HOME/.config/obs-studio/logs/"*.txt 2>/dev/null | head -n 1
}

sandbox_wait_log() {
    local pattern="$1" seconds="$2" i log
    for i in $(seq 1 $((seconds * 10))); do
        log=$(sandbox_log_file)
        if [ -n "$log" ] && grep -qF -- "$pattern" "$log"; then
            return 0
        fi
        if [ -n "$SANDBOX_OBS_PID" ] && ! kill -0 "$SANDBOX_OBS_PID" 2>/dev/null; then
            # OBS has exited; the line may still have been written at the end.
            log=$(sandbox_log_file)
            [ -n "$log" ] && grep -qF -- "$pattern" "$log" && return 0
            return 1
        fi
        sleep 0.1
    done
    return 1
}

sandbox_screenshot() {
    import -display "$DISPLAY" -window root "$1" 2>/dev/null
}

sandbox_stop() {
    local seconds="${1:-20}" i
    [ -n "$SANDBOX_OBS_PID" ] || return 0
    # SIGINT closes OBS as the user would, with its exit event and module
    # unload; SIGTERM would kill it without either.
    kill -INT "$SANDBOX_OBS_PID" 2>/dev/null
    for i in $(seq 1 $((seconds * 10))); do
        if ! kill -0 "$SANDBOX_OBS_PID" 2>/dev/null; then
            wait "$SANDBOX_OBS_PID" 2>/dev/null
            SANDBOX_OBS_STATUS=$?
            SANDBOX_OBS_PID=""
            return 0
        fi
        sleep 0.1
    done
    echo "sandbox: OBS did not exit within ${seconds}s; killing it" >&2
    kill -KILL "$SANDBOX_OBS_PID" 2>/dev/null
    wait "$SANDBOX_OBS_PID" 2>/dev/null
    SANDBOX_OBS_STATUS=$?
    SANDBOX_OBS_PID=""
    return 1
}

sandbox_cleanup() {
    if [ -n "$SANDBOX_OBS_PID" ]; then
        kill -KILL "$SANDBOX_OBS_PID" 2>/dev/null
        wait "$SANDBOX_OBS_PID" 2>/dev/null
        SANDBOX_OBS_PID=""
    fi
    if [ -n "$SANDBOX_XVFB_PID" ]; then
        kill "$SANDBOX_XVFB_PID" 2>/dev/null
        wait "$SANDBOX_XVFB_PID" 2>/dev/null
        SANDBOX_XVFB_PID=""
    fi
}

sandbox_install_game() {
    local home="$1" build="$2"
    local dest="$home/.config/obs-studio/plugins/corvex-test-game"
    local so="$build/tests/obs-game/corvex-test-game.so"
    [ -f "$so" ] || {
        echo "sandbox: $so is missing (build the target corvex-test-game)" >&2
        return 1
    }
    mkdir -p "$dest/bin/64bit" "$dest/data" || return 1
    cp "$so" "$dest/bin/64bit/" || return 1
}

# Rewrites the scene collection (OBS saves its own on exit: call this before
# sandbox_start). The game is scaled into the canvas, over the backdrop.
sandbox_game_scene() {
    local home="$1" frames="$2" name="${3:-Game}" extra="${4:-}"
    local file="$home/.config/obs-studio/basic/scenes/$SANDBOX_PROFILE.json"
    [ -d "$frames" ] || {
        echo "sandbox: no frames folder $frames" >&2
        return 1
    }
    frames=$(cd "$frames" && pwd)
    [ -n "$extra" ] && extra=", $extra"
    sandbox_scene_json "$file" "
        {
            \"id\": \"game_capture\",
            \"versioned_id\": \"game_capture\",
            \"name\": \"$name\",
            \"settings\": {\"frames\": \"$frames\"$extra}
        }," ",
                    {\"name\": \"$name\", \"visible\": true, \"id\": 2, \"bounds_type\": 2, \"bounds_align\": 0,
                     \"bounds\": {\"x\": 1280.0, \"y\": 720.0}}" 2
}

sandbox_link() {
    local home="$1" server="$2" token="$3" player="${4:-p-1}" name="${5:-Tester}"
    local dir="$home/.config/obs-studio/plugin_config/corvex-tournament"
    mkdir -p "$dir" || return 1
    rm -f "$dir/config.json.bak"
    cat >"$dir/config.json" <<JSON
{"server": "$server", "token": "$token", "player_id": "$player", "player_name": "$name", "lang": "en"}
JSON
}
