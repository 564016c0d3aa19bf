#!/usr/bin/env bash
# Builds and runs the folder watcher's benchmark (bench/watch) in its own build folder and prints
# its figures: the delay from a file's last write to its report, alone and in a burst, and the
# watcher's CPU time while idle.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VYO_BENCH_BUILD:-$root/build-watch-bench}
cmake -S "$root/bench/watch" -B "$build" -G Ninja >/dev/null
ninja -C "$build" -j2 bench_folderwatcher >/dev/null
"$root/scripts/run-test.sh" "$build/bench_folderwatcher"
