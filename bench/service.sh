#!/usr/bin/env bash
# Bounded load on the share service over loopback: rooms x guests connected at once, messages
# relayed per second, and the service's peak memory. Runs against vyo-service from the build
# folder (BUILD_DIR, default build) on 127.0.0.1 only; the service is started here and stopped
# by its PID. Every phase of the load client is capped at 60 s, the whole run at 180 s.
#
#   bench/service.sh [ROOMS] [GUESTS] [MESSAGES]      (default 200 3 20)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
rooms=${1:-200}
guests=${2:-3}
messages=${3:-20}

cmake --build "$build" --target vyo-service service-load >"${TMPDIR:-/tmp}/vyo-bench-build.log" 2>&1 ||
    { cat "${TMPDIR:-/tmp}/vyo-bench-build.log"; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vyo-bench.XXXXXX")
pid=""
cleanup() {
    if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# The message-rate limit is lifted: this measures relaying, not the flood guard.
"$build/service/vyo-service" --listen 127.0.0.1 --port 0 --max-messages-per-second 100000 \
    --max-rooms $((rooms + 10)) --max-guests $((guests + 1)) \
    --max-connections $((rooms * (guests + 1) + 100)) >"$work/out" 2>"$work/err" &
pid=$!
port=""
for _ in $(seq 1 50); do
    port=$(awk '/listening on/ {print $NF}' "$work/out")
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "vyo-service did not start:"; cat "$work/err"; exit 1; }

timeout 180 "$build/bench/service-load" "$port" "$pid" "$rooms" "$guests" "$messages"
