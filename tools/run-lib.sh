# shellcheck shell=bash
# Helpers of the run and soak commands (tools/run.sh, tools/soak.sh), on top
# of tools/obs-sandbox.sh. Source both; each function returns non-zero on
# failure.
#
#   run_build BUILD                        installs what is needed, builds the four programs
#   run_paint_match BUILD SEED SECONDS     paints a match once, prints its folder
#   run_start_service BUILD WORK RECORD FAIL_RATE
#                                          local service; sets RUN_SERVICE_PID,
#                                          RUN_SERVICE_URL, RUN_TOKEN
#   run_set_server CONFIG_DIR SERVER       "server" in an existing configuration
#   run_start_own_obs HOME                 OBS with the configuration's own profile
#   run_reader_log OBS_LOG                 the reader log the module named in the OBS log
#   run_event_table RECORD                 what the service received, as a table

RUN_PLAYER_ID="p-run-1"
RUN_PLAYER_NAME="RunPlayer"

# The tests' build carries the test game; only the module, the test game, the
# painter and the service are built.
run_build() {
    local build="$1"
    bash tools/install-deps.sh || return 1
    echo "== build ($build)"
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEX_BUILD_TESTS=ON \
        -DCORVEX_BUILD_BENCH=OFF >/dev/null || return 1
    cmake --build "$build" --target corvex-tournament corvex-test-game corvex-synth corvex-test-service
}

run_paint_match() {
    local build="$1" seed="$2" seconds="$3"
    local dir="$build/matches/seed-$seed-${seconds}s"
    if [ ! -f "$dir/truth.json" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        echo "painting match $seed (${seconds} s) into $dir" >&2
        "$build/tools/game/corvex-synth" --out "$dir" --match "$seed" --seconds "$seconds" >&2 || {
            rm -rf "$dir"
            return 1
        }
    fi
    echo "$(cd "$dir" && pwd)"
}

run_start_service() {
    local build="$1" work="$2" record="$3" fail_rate="$4" i
    RUN_TOKEN="run-token-$RANDOM$RANDOM"
    local args=(--port 0 --quiet --token "$RUN_TOKEN" --player "$RUN_PLAYER_ID" --name "$RUN_PLAYER_NAME")
    local help
    help="$("$build/tools/service/corvex-test-service" --help 2>&1)"
    if [ -n "$record" ]; then
        grep -q -- "--record" <<<"$help" || { echo "this test service cannot record what it receives" >&2; return 1; }
        args+=(--record "$record")
    fi
    if [ -n "$fail_rate" ]; then
        grep -q -- "--fail-rate" <<<"$help" || { echo "this test service cannot fail at random" >&2; return 1; }
        args+=(--fail-rate "$fail_rate")
    fi
    "$build/tools/service/corvex-test-service" "${args[@]}" >"$work/service.out" 2>"$work/service.err" &
    RUN_SERVICE_PID=$!
    for i in $(seq 1 100); do
        RUN_SERVICE_URL="$(head -n 1 "$work/service.out" 2>/dev/null)"
        [[ "$RUN_SERVICE_URL" == http* ]] && return 0
        kill -0 "$RUN_SERVICE_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "the local service did not start:" >&2
    cat "$work/service.err" >&2
    return 1
}

run_set_server() {
    local cfg="$1" server="$2"
    local dir="$cfg/plugin_config/corvex-tournament"
    mkdir -p "$dir"
    if [ -f "$dir/config.json" ]; then
        cp "$dir/config.json" "$dir/config.json.before-run"
        jq --arg s "$server" '.server = $s' "$dir/config.json.before-run" >"$dir/config.json"
        echo "== server set to $server (the previous settings are in $dir/config.json.before-run)"
    else
        jq -n --arg s "$server" '{server: $s}' >"$dir/config.json"
    fi
}

# HOME_DIR/.config/obs-studio links to the player's configuration; HOME stays
# the player's own, so the module's files land where they always do.
run_start_own_obs() {
    SANDBOX_HOME="$1"
    # OBS names each log by its start time; the newest is this run's.
    (XDG_CONFIG_HOME="$SANDBOX_HOME/.config" exec obs --disable-missing-files-check \
        >"$SANDBOX_HOME/obs-stdout.txt" 2>&1) &
    SANDBOX_OBS_PID=$!
}

# Counts per kind ("k"), then every event in arrival order. The service's
# record has one line per event received: {"player", "seq", "at", "dup",
# "event"}; re-sent duplicates ("dup") are counted apart.
run_event_table() {
    local record="$1"
    [ -s "$record" ] || { echo "The service received no events."; return 0; }
    echo "What the service received (stored events; re-sent duplicates apart)"
    echo
    printf '%-12s %6s\n' kind count
    jq -r 'select(.dup | not) | .event.k // "?"' "$record" | sort | uniq -c | awk '{printf "%-12s %6d\n", $2, $1}'
    printf '%-12s %6d\n' total "$(jq -r 'select(.dup | not) | .seq' "$record" | wc -l)"
    printf '%-12s %6d\n' duplicates "$(jq -r 'select(.dup) | .seq' "$record" | wc -l)"
    echo
    echo "Events in arrival order (seq, kind, event time UTC, the rest)"
    jq -r 'select(.dup | not) | [.seq, (.event.k // "?"),
        (if .event.t then (.event.t / 1000 | floor | todate | .[11:19]) else "-" end),
        (.event | del(.seq, .k, .t) | tostring)] | @tsv' "$record"
}

run_reader_log() {
    sed -n 's/.*\[corvex-tournament\] reader log: //p' "$1" 2>/dev/null | tail -n 1
}
