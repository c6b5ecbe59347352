#!/usr/bin/env bash
# Soak run: a 1080p match played in a loop for a long time in the real OBS
# (under a virtual display when there is none), with the local service failing
# a share of the requests at random. Writes out/soak-report.txt:
#   - events sent against received: every sequence number the module gave out
#     must have arrived at the service or still wait in pending.json at exit
#   - OBS's resident memory every minute, and its growth after the first minute
#   - the CPU share of OBS and of the module's reader thread
#
#   bash tools/soak.sh [--minutes 30] [--fail-rate 0.2] [--seed 7] [--control]
#   --control  the same run without the module, for OBS's and the test game's
#              own memory and CPU to compare with
#   CORVEX_BUILD_DIR  build folder (default build/run, shared with tools/run.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

minutes=30
control=0
fail_rate=0.2
seed=7
build="${CORVEX_BUILD_DIR:-build/run}"
while [ $# -gt 0 ]; do
    case "$1" in
    --minutes) minutes="${2:?}"; shift 2 ;;
    --fail-rate) fail_rate="${2:?}"; shift 2 ;;
    --seed) seed="${2:?}"; shift 2 ;;
    --control) control=1; shift ;;
    -h | --help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "soak.sh: unknown argument $1" >&2; exit 2 ;;
    esac
done
[[ "$minutes" =~ ^[0-9]+$ ]] && [ "$minutes" -ge 2 ] || { echo "soak.sh: --minutes needs 2 or more" >&2; exit 2; }

source tools/obs-sandbox.sh
source tools/run-lib.sh
run_build "$build"
service_pid=""
sampler_pid=""
finish() {
    [ -n "$sampler_pid" ] && kill "$sampler_pid" 2>/dev/null
    sandbox_cleanup
    [ -n "$service_pid" ] && kill -INT "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
    return 0
}
trap finish EXIT
mkdir -p out
report=out/soak-report.txt
[ "$control" = 1 ] && report=out/soak-report-control.txt
work="$(mktemp -d /tmp/corvex-soak.XXXXXX)"

# Seed 7 paints its match at 1920x1080 (the synthetic game draws the size from
# the seed); tools/run.sh plays the same match, so one painting serves both.
echo "== match (seed $seed)"
match="$(run_paint_match "$build" "$seed" 60)"
size="$(identify -format '%wx%h' "$match"/frame-00001.* 2>/dev/null)"
[ "$size" = 1920x1080 ] || echo "soak.sh: note: this match is $size, not 1920x1080" >&2

record="$work/received.jsonl"
run_start_service "$build" "$work" "$record" "$fail_rate"
service_pid="$RUN_SERVICE_PID"
echo "== local service at $RUN_SERVICE_URL, failing $fail_rate of the requests"

home="$work/home"
sandbox_prepare "$home" "$build"
sandbox_install_game "$home" "$build"
sandbox_game_scene "$home" "$match" Game '"loop": true'
sandbox_link "$home" "$RUN_SERVICE_URL" "$RUN_TOKEN" "$RUN_PLAYER_ID" "$RUN_PLAYER_NAME"
[ "$control" = 1 ] && rm -rf "$home/.config/obs-studio/plugins/corvex-tournament"
module_dir="$home/.config/obs-studio/plugin_config/corvex-tournament"

sandbox_display
load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
echo "== OBS on $DISPLAY for $minutes min (load average before: $load_before)"
sandbox_start "$home"
if [ "$control" = 1 ]; then
    sandbox_wait_log "Loaded scenes:" 60 || { echo "soak.sh: OBS did not start" >&2; exit 1; }
else
    sandbox_wait_log "[corvex-tournament] reader started" 60 || { echo "soak.sh: the module did not start" >&2; exit 1; }
fi
pid="$SANDBOX_OBS_PID"
# The module moves its counter past anything an earlier run may have used
# and saves it as it starts: the numbers of this run begin there.
first_seq=$(jq -r '.next_seq // 1' "$module_dir/config.json")
hz="$(getconf CLK_TCK)"

# Every 10 s: the time, the process's RSS (kB) and CPU ticks, and each
# thread's ticks and name. Thread names may hold spaces: the name is what
# lies between the parentheses of /proc/.../stat.
samples="$work/samples.txt"
(
    while kill -0 "$pid" 2>/dev/null; do
        now=$(date +%s.%N)
        rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status" 2>/dev/null) || break
        ticks=$(sed 's/.*) //' "/proc/$pid/stat" | awk '{print $12 + $13}')
        echo "P $now $rss $ticks"
        for t in /proc/$pid/task/*; do
            line=$(cat "$t/stat" 2>/dev/null) || continue
            name=${line#*\(}
            name=${name%)*}
            rest=${line##*) }
            echo "T $now ${t##*/} $(echo "$rest" | awk '{print $12 + $13}') $name"
        done
        sleep 10
    done
) >"$samples" &
sampler_pid=$!

sleep $((minutes * 60))
kill "$sampler_pid" 2>/dev/null
wait "$sampler_pid" 2>/dev/null || true
sampler_pid=""
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"
sandbox_stop 30 || echo "soak.sh: OBS did not exit on SIGINT in time" >&2
# What went out after OBS closed cannot arrive; what the service still
# answers late is counted once it has settled.
sleep 2

obslog="$(sandbox_log_file)"
cp "$obslog" out/soak-obs-log.txt
readerlog="$(run_reader_log "$obslog")"
[ -n "$readerlog" ] && cp "$readerlog" out/soak-reader-log.txt

next_seq=$(jq -r '.next_seq // 1' "$module_dir/config.json")
jq -r '.seq' "$record" 2>/dev/null | sort -n -u >"$work/received-seqs.txt" || true
if [ -f "$module_dir/pending.json" ]; then
    jq -r '.events[].seq' "$module_dir/pending.json" | sort -n -u >"$work/pending-seqs.txt"
else
    : >"$work/pending-seqs.txt"
fi

{
    echo "Soak run: $minutes min of a looping ${size} match (seed $seed) in the real OBS,"
    echo "the local service failing $fail_rate of the requests at random."
    echo "Machine: $(nproc) cores; load average before $load_before, at the end $load_after."
    echo
    [ "$control" = 1 ] && echo "CONTROL RUN: OBS and the test game without the module; no events."
    if [ "$control" = 0 ]; then
        echo "== Events"
        sent=$((next_seq - first_seq))
        received=$(wc -l <"$work/received-seqs.txt")
        pending=$(wc -l <"$work/pending-seqs.txt")
        # Every number handed out in this run either arrived or waits on disk.
        seq "$first_seq" $((next_seq - 1)) | sort >"$work/given-seqs.txt"
        sort -u "$work/received-seqs.txt" "$work/pending-seqs.txt" >"$work/accounted-seqs.txt"
        missing=$(comm -23 "$work/given-seqs.txt" "$work/accounted-seqs.txt" | wc -l)
        dup=$(jq -r 'select(.dup) | .seq' "$record" 2>/dev/null | wc -l)
        echo "sequence numbers given out (events and status records): $sent ($first_seq to $((next_seq - 1)))"
        echo "received by the service (distinct seq):                  $received"
        echo "waiting in pending.json at exit:                         $pending"
        echo "lost (neither received nor pending):                     $missing"
        echo "re-sent after the service had stored them (dropped):     $dup"
        if [ -n "$readerlog" ]; then
            echo "reader log EVENT lines (events without heartbeats):       $(grep -c ' EVENT ' "$readerlog" || true)"
    fi
    echo "received by kind:"
    jq -r 'select(.dup | not) | .event.k // "?"' "$record" 2>/dev/null | sort | uniq -c |
        awk '{printf "  %-12s %7d\n", $2, $1}'
    echo
    fi
    echo "== Memory (OBS resident set, each minute)"
    awk -v hz="$hz" '$1 == "P" { if (!t0) t0 = $2; m = int(($2 - t0) / 60 + 0.5);
            if (!(m in seen)) { seen[m] = 1; printf "  minute %3d  %8.1f MB\n", m, $3 / 1024; if (m == 1) r1 = $3; last = $3 } }
        END { if (r1) printf "growth after the first minute: %+.1f MB\n", (last - r1) / 1024 }' "$samples"
    echo
    echo "== CPU (share of one core, from minute 1 to the end)"
    awk -v hz="$hz" -v pid="$pid" -v control="$control" '
        $1 == "P" { if (!t0) t0 = $2; if ($2 - t0 >= 60 && !a) { a = $2; pa = $4 } b = $2; pb = $4 }
        $1 == "T" { if (!tt0) tt0 = $2; if ($2 - tt0 >= 60) { if (!($3 in first)) { first[$3] = $4; ft[$3] = $2 }
                    last[$3] = $4; lt[$3] = $2; n = $0; sub(/^T [^ ]+ [^ ]+ [^ ]+ /, "", n); name[$3] = n } }
        END {
            if (b > a) printf "OBS (all threads): %.1f %%\n", 100 * (pb - pa) / hz / (b - a)
            for (t in first) if (lt[t] > ft[t]) share[t] = 100 * (last[t] - first[t]) / hz / (lt[t] - ft[t])
            # The engine names its reader thread; an older build left it
            # unnamed, and then the busiest unnamed thread is taken.
            best = ""; for (t in share) if (name[t] == "corvex-reader") best = t
            how = "corvex-reader"
            if (best == "" && !control) {
                how = "busiest unnamed thread"
                for (t in share) if (t != pid && name[t] == name[pid] && (best == "" || share[t] > share[best])) best = t
            }
            if (best != "") printf "module reader thread (%s, tid %s): %.2f %%\n", how, best, share[best]
            print "busiest threads:"
            for (t in share) printf "  %6.2f %%  %s (tid %s)\n", share[t], name[t], t | "sort -rn | head -n 8"
        }' "$samples"
    echo
    echo "== Module log lines (warnings and errors)"
    grep -F "[corvex-tournament]" "$obslog" | grep -iE "warn|error|fail" | tail -n 10 || echo "  none"
} >"$report"
cat "$report"
