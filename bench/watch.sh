#!/usr/bin/env bash
# Builds and runs the folder watcher's benchmark in the build folder (BUILD_DIR, default build)
# and prints its figures: the delay from a file's last write to its report, alone and in a burst,
# and the watcher's CPU time while idle.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
cmake --build "$build" --target bench_folderwatcher >/dev/null
"$root/scripts/run-test.sh" "$build/bench/bench_folderwatcher"
