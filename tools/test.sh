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
exit $status
