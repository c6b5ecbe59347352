#!/usr/bin/env bash
# The dock in the real OBS: the module is installed into a private OBS set-up
# under a virtual display and started in demo mode in English; the dock must
# be on screen and its screenshot mode must write both pictures.
#   obs-dock-shots.sh BUILD_DIR WORK_DIR
set -u
build="$1"
work="$2"
here="$(cd "$(dirname "$0")" && pwd)"

fail() {
    echo "FAIL: $*"
    exit 1
}

rm -rf "$work"
mkdir -p "$work"
bash "$here/../tools/dock-shots.sh" -b "$build" -o "$work" -l en --no-states || fail "dock-shots.sh failed"

# Present in the OBS window, in the dock's own colours.
[ -s "$work/window-demo-en.png" ] || fail "the dock was not found on screen"
for mode in tournament wager; do
    shot="$work/dock-$mode-en.png"
    [ -s "$shot" ] || fail "no $shot"
    size=$(identify -format '%m %w %h' "$shot" 2>/dev/null) || fail "$shot is not a picture"
    set -- $size
    [ "$1" = PNG ] || fail "$shot is $1, not PNG"
    [ "$2" -ge 240 ] && [ "$2" -le 400 ] || fail "$shot is $2 pixels wide"
    [ "$3" -ge 200 ] || fail "$shot is only $3 pixels high"
    # Not a blank picture: a filled dock has many colours.
    colours=$(convert "$shot" -format '%k' info:)
    [ "$colours" -ge 50 ] || fail "$shot has only $colours colours"
    grep -q "^$mode min width [0-9]" "$work/done-en" || fail "done-en lacks the $mode line"
done
echo "PASS: the dock is on screen and wrote its pictures to $work"
