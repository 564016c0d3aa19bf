#!/usr/bin/env bash
# CPU time of the running application while it watches for drags: 60 s idle (nothing may be
# polled then) and a 10 s drag from another application (the 60 Hz pointer poll runs). CPU time
# is read from the scheduler's per-thread counters (nanoseconds), all threads summed.
#
#   bench/shake.sh [BUILD_DIR]          (default: build-shake, else build)
#
# Needs the application (target vyo) and the test drag source (target vyo_shake_source) built.
# Without a display it runs itself on the private X server of scripts/with-display.sh.
# IDLE_SECONDS and DRAG_SECONDS shorten the two phases for a quick look. BASELINE=<another build
# folder> measures that build's application too, in the same run, after this one.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=${1:-}
if [ -z "$build" ]; then
  build="$root/build-shake"
  [ -x "$build/src/app/vyo" ] || build="$root/build"
fi
app="$build/src/app/vyo"
source_client="$build/tests/shake/vyo_shake_source"
baseline_app=${BASELINE:+$BASELINE/src/app/vyo}
for binary in "$app" "$source_client" $baseline_app; do
  [ -x "$binary" ] || { echo "shake.sh: $binary is missing; build vyo and vyo_shake_source" >&2; exit 1; }
done
if [ -z "${DISPLAY:-}" ]; then
  exec "$root/scripts/with-display.sh" "$0" "$build"
fi
idle_seconds=${IDLE_SECONDS:-60}
drag_seconds=${DRAG_SECONDS:-10}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vyo-bench.XXXXXX")
app_pid=""
source_pid=""
stop_processes() {
  xdotool mouseup 1 2>/dev/null || true
  for pid in $source_pid $app_pid; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  done
  source_pid=""
  app_pid=""
}
cleanup() {
  stop_processes
  rm -rf "$scratch"
}
trap cleanup EXIT

# CPU seconds (user + system) the process's threads have used so far.
cpu_seconds() {
  cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%.4f", ns / 1e9 }'
}
report() { # label seconds cpu-before cpu-after
  awk -v label="$1" -v wall="$2" -v a="$3" -v b="$4" \
    'BEGIN { printf "%-44s %6.3f s CPU over %d s = %5.2f %% of one core\n", label, b - a, wall, 100 * (b - a) / wall }'
}
wait_for() { # file text
  for _ in $(seq 1 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  echo "shake.sh: \"$2\" did not appear in $1" >&2
  cat "$1" >&2
  exit 1
}

measure() { # label application
  local label=$1 binary=$2
  rm -rf "$scratch"/*
  mkdir -p "$scratch"/{data,config/Vyo,cache,runtime,home}
  chmod 700 "$scratch/runtime"
  printf '[General]\nhasShownWelcome=true\n' > "$scratch/config/Vyo/Vyo.conf"
  echo "bench file" > "$scratch/home/bench.txt"

  env -u VYO_TEST_HARNESS XDG_DATA_HOME="$scratch/data" XDG_CONFIG_HOME="$scratch/config" \
    XDG_CACHE_HOME="$scratch/cache" XDG_RUNTIME_DIR="$scratch/runtime" HOME="$scratch/home" \
    QT_QPA_PLATFORM=xcb QT_LOGGING_RULES="vyo.shake.debug=true" "$binary" > "$scratch/app.log" 2>&1 &
  app_pid=$!
  wait_for "$scratch/app.log" "X11 드래그 감시 시작"
  sleep 2 # let start-up work settle before measuring

  local before after
  before=$(cpu_seconds "$app_pid")
  sleep "$idle_seconds"
  after=$(cpu_seconds "$app_pid")
  report "$label: idle (no drag, no polling)" "$idle_seconds" "$before" "$after"

  HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" \
    "$source_client" "$scratch/home/bench.txt" 100 300 > "$scratch/source.log" 2>&1 &
  source_pid=$!
  wait_for "$scratch/source.log" "^ready"
  local sx sy
  read -r _ sx sy < <(grep '^ready' "$scratch/source.log")
  xdotool mousemove "$sx" "$sy"; sleep 0.1
  xdotool mousedown 1; sleep 0.05
  for i in $(seq 1 10); do xdotool mousemove $((sx + i * 20)) $((sy + i * 10)); sleep 0.025; done
  wait_for "$scratch/source.log" "drag started"
  wait_for "$scratch/app.log" "드래그 시작 감지"
  sleep 0.5

  # Slow sweeps over the bare desktop, far too slow to count as a shake.
  before=$(cpu_seconds "$app_pid")
  local end=$((SECONDS + drag_seconds)) x=600 step=8
  while [ "$SECONDS" -lt "$end" ]; do
    x=$((x + step))
    if [ "$x" -gt 1100 ] || [ "$x" -lt 600 ]; then step=$((-step)); fi
    xdotool mousemove "$x" 600
    sleep 0.05
  done
  after=$(cpu_seconds "$app_pid")
  xdotool mouseup 1
  report "$label: during a drag (60 Hz poll)" "$drag_seconds" "$before" "$after"
  wait_for "$scratch/app.log" "추적 종료 (드래그 true"
  if grep -q "셸프 열림" "$scratch/app.log"; then
    echo "shake.sh: a shelf opened during the sweeps; the figures include it" >&2
  fi
  stop_processes
}

echo "the machine's load average now: $(cut -d' ' -f1-3 /proc/loadavg)"
measure vyo "$app"
[ -z "$baseline_app" ] || measure baseline "$baseline_app"
