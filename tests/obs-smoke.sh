#!/usr/bin/env bash
# Loads the built module into the real OBS (under a virtual display when
# there is none), waits for it to start, closes OBS as a user would and checks
# that the module shut down and saved its settings.
#   obs-smoke.sh BUILD_DIR WORK_DIR VERSION
set -u
build="$1"
work="$2"
version="$3"
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/../tools/obs-sandbox.sh"

fail() {
    echo "FAIL: $*"
    log=$(sandbox_log_file)
    [ -n "$log" ] && { echo "--- OBS log ($log):"; tail -n 60 "$log"; }
    [ -f "$SANDBOX_HOME/obs-stdout.txt" ] && { echo "--- OBS output:"; tail -n 20 "$SANDBOX_HOME/obs-stdout.txt"; }
    sandbox_cleanup
    exit 1
}

rm -rf "$work"
mkdir -p "$work/home"
home="$work/home"
SANDBOX_HOME="$home"
sandbox_prepare "$home" "$build" || fail "could not prepare the OBS configuration"
sandbox_display || fail "no display"
sandbox_start "$home"

sandbox_wait_log "[corvex-tournament] Corvex Wager/Tournament Plugin loaded (version $version)" 60 ||
    fail "the module did not load"
sandbox_wait_log "[corvex-tournament] reader started" 60 || fail "the reader did not start after loading"
sleep 1
sandbox_screenshot "$work/obs.png"

sandbox_stop 30 || fail "OBS did not close on SIGINT"
log=$(sandbox_log_file)
cp "$log" "$work/obs-log.txt"

for line in "[corvex-tournament] engine stopped" "[corvex-tournament] Corvex Wager/Tournament Plugin unloaded"; do
    grep -qF -- "$line" "$log" || fail "missing from the OBS log: $line"
done
line_of() { grep -nF -- "$1" "$log" | head -n 1 | cut -d: -f1; }
# The engine starts only once OBS has loaded the scenes, and stops at exit
# before the module is unloaded.
[ "$(line_of "Loaded scenes:")" -lt "$(line_of "[corvex-tournament] reader started")" ] ||
    fail "the engine started before OBS had finished loading"
[ "$(line_of "==== Shutting down")" -lt "$(line_of "[corvex-tournament] engine stopped")" ] ||
    fail "the engine stopped before OBS began to exit"
[ "$(line_of "[corvex-tournament] engine stopped")" -lt \
    "$(line_of "[corvex-tournament] Corvex Wager/Tournament Plugin unloaded")" ] ||
    fail "the engine stopped after the module unloaded"
if [ "$(grep -cF '[corvex-tournament] engine stopped' "$log")" -ne 1 ]; then
    fail "the engine stopped more than once"
fi

config="$home/.config/obs-studio/plugin_config/corvex-tournament/config.json"
[ -f "$config" ] || fail "config.json was not written"
for key in server token player_id player_name source crop_l crop_t crop_r crop_b fps evidence next_seq \
    next_lid device_name out_dir sample_every_10s mode sample_on_new_line lang; do
    grep -qF "\"$key\":" "$config" || fail "config.json lacks \"$key\""
done

# Second start: OBS in German, the module set to French. The module's own
# language wins for its texts; the settings written at the first exit are
# read back.
sed -i 's/^\[General\]$/[General]\nLanguage=de-DE/' "$home/.config/obs-studio/global.ini"
sed -i 's/"lang":"auto"/"lang":"fr"/; s/"lang": "auto"/"lang": "fr"/' "$config"
grep -q '"fr"' "$config" || fail "could not set the module language for the second start"
sandbox_start "$home"
sandbox_wait_log '[corvex-tournament] module language fr (setting "fr", OBS locale de-DE)' 60 ||
    fail "the module did not choose its own language"
sandbox_wait_log "[corvex-tournament] reader started" 60 || fail "the reader did not start on the second run"
sleep 1
sandbox_screenshot "$work/obs-second-start.png"
sandbox_stop 30 || fail "OBS did not close on SIGINT (second start)"
grep -q '"lang": *"fr"' "$config" || fail "the module language was lost on the second exit"

# Third start: a folder where config.json should be. libobs's JSON reader
# must never see it: OBS runs on with the module's defaults, the log says
# why, and the folder is neither replaced nor moved away.
rm -f "$config" "$config.bak"
mkdir -p "$config/keep"
sandbox_start "$home"
sandbox_wait_log "config.json is a folder, not a file: settings come from its backup or the defaults" 60 ||
    fail "no log line about the folder named config.json"
sandbox_wait_log "[corvex-tournament] reader started" 60 ||
    fail "the reader did not start with a folder named config.json"
sleep 1
sandbox_stop 30 || fail "OBS did not close on SIGINT (folder named config.json)"
log=$(sandbox_log_file)
grep -qF "[corvex-tournament] engine stopped" "$log" || fail "the engine did not stop (folder named config.json)"
[ -d "$config/keep" ] || fail "the folder named config.json was replaced or moved"
[ ! -e "$config.bak" ] || fail "something was saved beside the folder named config.json"
cp "$log" "$work/obs-log-folder-config.txt"

# Closed at once after the reader starts, while OBS is still drawing the
# newly shown dock: the close must neither crash nor hang OBS, and the module
# must still stop and unload in order.
rm -rf "$config"
for run in 1 2 3 4; do
    sandbox_start "$home"
    sandbox_wait_log "[corvex-tournament] reader started" 60 || fail "the reader did not start (quick close $run)"
    sandbox_stop 20 || fail "OBS hung when closed right after the reader started (quick close $run)"
    [ "$SANDBOX_OBS_STATUS" = 0 ] ||
        fail "OBS exited with status $SANDBOX_OBS_STATUS when closed right after the reader started (quick close $run)"
    log=$(sandbox_log_file)
    for line in "[corvex-tournament] engine stopped" "[corvex-tournament] Corvex Wager/Tournament Plugin unloaded"; do
        grep -qF -- "$line" "$log" || fail "missing from the OBS log after quick close $run: $line"
    done
done

sandbox_cleanup
echo "PASS: OBS loaded, started, stopped and unloaded the module; screenshot and log in $work"
