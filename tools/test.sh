#!/usr/bin/env bash
# The whole test suite: installs what it needs, then configures, builds and
# tests the module twice, with Qt 5 (the Qt of the OBS that runs here, so the
# real-OBS tests run too) and with Qt 6 (the Qt of the product), warnings as
# errors, after checking the code's formatting.
set -euo pipefail
trap 'echo "tools/test.sh: failed at line $LINENO" >&2' ERR
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

bash tools/install-deps.sh

echo "== formatting"
dirs=()
for d in src tests tools bench; do [ -d "$d" ] && dirs+=("$d"); done
find "${dirs[@]}" -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null \
    | xargs -r clang-format --dry-run --Werror
echo "== layers"
bash tools/check-layers.sh

status=0
for qt in 5 6; do
    build="build/test-qt$qt"
    echo "== Qt $qt: configure and build ($build)"
    start=$(date +%s)
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEX_QT_VERSION="$qt" \
        -DCORVEX_WERROR=ON >/dev/null
    cmake --build "$build"
    echo "== Qt $qt: built in $(($(date +%s) - start)) s; tests"
    start=$(date +%s)
    (cd "$build" && ctest --output-on-failure -j 2) || status=1
    echo "== Qt $qt: tests took $(($(date +%s) - start)) s"
done

# ---- Windows parts: mingw cross build, tests under Wine ----------------------
# The readers' tests and the HTTP contract driver built for Windows with
# mingw-w64 and run under wine64; the contract runs against the loopback
# service of the Qt 5 build above.
echo "== Windows parts (build/test-mingw, under Wine)"
start=$(date +%s)
bash tools/windows-tests.sh build/test-qt5 build/test-mingw || status=1
echo "== Windows parts took $(($(date +%s) - start)) s"
# ---- end of the Windows parts -------------------------------------------------

# The readers and the parsers of what comes from outside (data files, the
# service's replies, the backlog on disk) again under AddressSanitizer and
# UBSan, then each libFuzzer target for a while. CORVEX_FUZZ_SECONDS sets how
# long (default 60; 0 skips fuzzing).
fuzz_seconds="${CORVEX_FUZZ_SECONDS:-60}"
san="build/test-san"
echo "== sanitizers: configure and build ($san, clang, address + undefined)"
start=$(date +%s)
CC=clang CXX=clang++ cmake -S . -B "$san" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEX_QT_VERSION=5 \
    -DCORVEX_BUILD_FUZZ=ON -DCORVEX_SANITIZE=address,undefined -DCORVEX_BUILD_BENCH=OFF >/dev/null
san_targets=()
for t in corvex_hud_tests corvex_uplink_tests corvex_steam_tests; do
    # Not grep -q: it would stop reading early, and under pipefail ninja's
    # broken pipe would make a present target look absent.
    if ninja -C "$san" -t targets all | grep "^$t:" >/dev/null; then san_targets+=("$t"); fi
done
while read -r name _; do [ -n "$name" ] && san_targets+=("$name"); done <"$san/fuzzers.txt"
cmake --build "$san" --target "${san_targets[@]}"
echo "== sanitizers: built in $(($(date +%s) - start)) s; tests"
for t in corvex_hud_tests corvex_uplink_tests corvex_steam_tests; do
    exe=$(find "$san/tests" -type f -name "$t" | head -n 1)
    if [ -n "$exe" ]; then
        (cd "$(dirname "$exe")" && QT_QPA_PLATFORM=offscreen "./$t" --gtest_brief=1) || status=1
    else
        echo "sanitizers: $t was not built" >&2
        status=1
    fi
done

if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== fuzzing: ${fuzz_seconds} s per target, two at a time"
    fuzz_work=$(mktemp -d)
    pids=()
    while read -r name exe; do
        [ -n "$name" ] || continue
        corpus="$fuzz_work/$name"
        mkdir -p "$corpus"
        seeds=$(find tests -type d -path "*fuzz-corpus/${name#corvex_}" | head -n 1)
        (
            "$exe" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -print_final_stats=1 \
                -artifact_prefix="$fuzz_work/$name-" "$corpus" ${seeds:+"$seeds"} >"$fuzz_work/$name.log" 2>&1 \
                && echo "fuzz $name: $(grep -h 'stat::number_of_executed_units' "$fuzz_work/$name.log" \
                    | awk '{print $2}') runs, no failure" \
                || { echo "fuzz $name: FAILED"; tail -n 40 "$fuzz_work/$name.log"; exit 1; }
        ) &
        pids+=($!)
        if [ ${#pids[@]} -ge 2 ]; then
            wait "${pids[0]}" || status=1
            pids=("${pids[@]:1}")
        fi
    done <"$san/fuzzers.txt"
    for p in "${pids[@]}"; do wait "$p" || status=1; done
fi
exit $status
