#!/usr/bin/env bash
# The Windows parts built with mingw and run under Wine: the readers' tests,
# and the HTTP backend's contract driver (WinHTTP) against the loopback test
# service of a Linux build.
#   tools/windows-tests.sh [LINUX_BUILD [MINGW_BUILD]]
# LINUX_BUILD (default build/linux) must have corvex-test-service built; it is
# built there if it is missing. WINEPREFIX defaults to a folder inside
# MINGW_BUILD, so only the first run pays for creating it.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
linux="${1:-build/linux}"
mingw="${2:-build/mingw}"

wine=$(command -v wine64 || true)
[ -n "$wine" ] || wine=/usr/lib/wine/wine64
if [ ! -x "$wine" ]; then
    echo "windows-tests: wine64 not found (Debian: apt-get install wine64)" >&2
    exit 1
fi
export WINEPREFIX="${WINEPREFIX:-$root/$mingw/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"

echo "-- mingw: configure and build ($mingw)"
start=$(date +%s)
# The Linux builds' -O2, without the debug information that makes compiling
# and statically linking for Windows slow.
cmake -S . -B "$mingw" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVEX_WERROR=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
    --toolchain "$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$mingw"
service="$linux/tools/service/corvex-test-service"
[ -x "$service" ] || cmake --build "$linux" --target corvex-test-service
echo "-- mingw: built in $(($(date +%s) - start)) s"

status=0
start=$(date +%s)
# The first start creates the prefix (several seconds); not part of a test.
"$wine" cmd /c exit >/dev/null 2>&1 || true
echo "-- Wine: prefix ready in $(($(date +%s) - start)) s"

echo "-- Wine: reader tests"
start=$(date +%s)
(cd "$mingw" && ctest --output-on-failure -R '^hud_tests$') || status=1
echo "-- Wine: reader tests took $(($(date +%s) - start)) s"

echo "-- Wine: HTTP contract (WinHTTP)"
start=$(date +%s)
bash tests/net/http-contract.sh "$service" "$wine" "$mingw/tests/windows/corvex_http_contract.exe" \
    --gtest_brief=1 || status=1
echo "-- Wine: HTTP contract took $(($(date +%s) - start)) s"
exit $status
