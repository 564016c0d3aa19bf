#!/usr/bin/env bash
# The share service scaled out: 3 vyo-service processes behind HAProxy (the shipped example
# configuration, service/examples/haproxy.cfg, with free loopback ports), and a load client that
# connects ROOMS rooms x (1 host + GUESTS guests) through the balancer, checks that every room met
# on one process and that no process holds more than 45 % of the rooms, relays signals in every
# room, kills one process KILL_AFTER seconds into the relaying and measures how many of its rooms
# are whole again within 35 s. Prints sockets, relayed messages per second, p50/p99 relay latency
# and each process's peak memory. 127.0.0.1 only; everything started here is stopped by its PID;
# the load client is capped at 300 s.
#
#   bench/balanced.sh [ROOMS] [GUESTS] [INTERVAL_MS] [KILL_AFTER_S]     (default 600 3 1000 15)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
rooms=${1:-600}
guests=${2:-3}
interval=${3:-1000}
kill_after=${4:-15}
command -v haproxy >/dev/null || { echo "haproxy is missing: run scripts/install-deps.sh"; exit 1; }

cmake --build "$build" --target vyo-service balanced-load >"${TMPDIR:-/tmp}/vyo-bench-build.log" 2>&1 ||
    { cat "${TMPDIR:-/tmp}/vyo-bench-build.log"; exit 1; }
# Every process holds one socket per member plus the balancer's; the client holds all of them.
ulimit -n 16384

work=$(mktemp -d "${TMPDIR:-/tmp}/vyo-balanced.XXXXXX")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for _ in $(seq 1 50); do
        alive=0
        for pid in "${pids[@]}"; do kill -0 "$pid" 2>/dev/null && alive=1; done
        [ "$alive" -eq 0 ] && break
        sleep 0.1
    done
    [ -n "${VYO_BENCH_KEEP:-}" ] && cp "$work/haproxy.log" "$VYO_BENCH_KEEP" 2>/dev/null; rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }
ports=()
for i in 1 2 3; do
    # The flood guard is lifted: this measures relaying, not the rate limit.
    "$build/service/vyo-service" --listen 127.0.0.1 --port 0 --max-messages-per-second 10000 \
        --max-rooms $((rooms + 10)) --max-guests $((guests + 1)) \
        --max-connections $((rooms * (guests + 1) + 100)) >"$work/out$i" 2>"$work/err$i" &
    pids+=($!)
    # The load client kills one of them; the shell need not report that.
    disown $!
    port=""
    for _ in $(seq 1 50); do
        port=$(awk '/listening on/ {print $NF}' "$work/out$i" 2>/dev/null || true)
        [ -n "$port" ] && break
        sleep 0.1
    done
    [ -n "$port" ] || { echo "vyo-service did not start:"; cat "$work/err$i"; exit 1; }
    ports+=("$port")
done
service_pids=$(IFS=,; echo "${pids[*]}")
balancer=$(free_port)
sed -e "s/bind 127.0.0.1:8080/bind 127.0.0.1:$balancer/" \
    -e "s/127.0.0.1:8081$/127.0.0.1:${ports[0]}/" -e "s/127.0.0.1:8082$/127.0.0.1:${ports[1]}/" \
    -e "s/127.0.0.1:8083$/127.0.0.1:${ports[2]}/" "$root/service/examples/haproxy.cfg" >"$work/haproxy.cfg"
haproxy -db -f "$work/haproxy.cfg" >"$work/haproxy.log" 2>&1 &
pids+=($!)
disown $!
for _ in $(seq 1 50); do
    python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1)' "$balancer" 2>/dev/null && break
    sleep 0.1
done

timeout 300 "$build/bench/balanced-load" "$balancer" "$service_pids" "$(IFS=,; echo "${ports[*]}")" \
    "$rooms" "$guests" "$interval" "$kill_after" 35
