#!/usr/bin/env bash
# Benchmarks the image quick actions against ImageMagick's convert on the same 24-megapixel files:
# shrinking a JPEG to 2048 and to 800 pixels and converting a PNG to JPEG, medians of several runs.
#
#   bench/actions.sh [RUNS]        (default 5; BUILD_DIR sets the build folder, default build)
#
# Needs ImageMagick (Debian's imagemagick, installed by scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
runs=${1:-5}

log=$(mktemp "${TMPDIR:-/tmp}/vyo-bench-build.XXXXXX")
if ! cmake --build "$build" --target bench_actions vyo-ocr -- -j"$(nproc)" >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "bench/actions.sh: the build failed" >&2
  exit 1
fi
rm -f "$log"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vyo-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Results go to a scratch items folder, never the user's.
export XDG_DATA_HOME="$scratch/data" XDG_CACHE_HOME="$scratch/cache" VYO_TEST_HARNESS=1
export QT_QPA_PLATFORM=offscreen

# Debian's ImageMagick 6, by its own path (anything else named convert on PATH is not it).
"$build/bench/bench_actions" --runs "$runs" --convert /usr/bin/convert "$scratch/work"
