#!/usr/bin/env bash
# Runs the HTTP backend's contract driver against the loopback test service:
# one plain and one TLS instance with the routes the driver expects.
#   http-contract.sh SERVICE DRIVER [ARGS...]
# DRIVER may be a command, e.g. "/usr/lib/wine/wine64 corvex_http_contract.exe".
set -euo pipefail
service="$1"
shift
work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

# Starts a service and sets `origin` to its scheme://host:port. Not in a
# subshell, so that the clean-up knows every process id.
origin=""
start_service() {
    local out="$work/service-${#pids[@]}"
    "$service" --port 0 --quiet "$@" >"$out" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        origin=$(sed -n 's#^\(https\{0,1\}://[^/]*\)/.*#\1#p' "$out" | head -n 1)
        [ -n "$origin" ] && return 0
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    echo "http-contract: the service did not start:" >&2
    cat "$out" >&2
    return 1
}

start_service \
    --fault /c/echo=echo --fault /c/e204=status:204 \
    --fault '/c/e500=status:500:{"error":"database on fire"}' \
    --fault /c/huge=huge:9437184 --fault /c/exact=huge:8388608 \
    --fault /c/hang=hang --fault /c/drop=drop --fault /c/slow=trickle:3670016:131072:100 \
    --fault /c/cut=cut:1048576:300000
plain="$origin"
start_service --https --fault /c/echo=echo
tls="$origin"

export NO_PROXY=127.0.0.1,localhost no_proxy=127.0.0.1,localhost
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
# A backend that hangs must not hold the suite up forever.
timeout -k 10 "${CORVEX_CONTRACT_TIMEOUT:-240}" "$@" --http="$plain" --https="$tls"
