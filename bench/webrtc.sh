#!/usr/bin/env bash
# Throughput of the peer connection over loopback against an answering WebRTC peer in the same
# process: MIB MiB in 65536-byte messages each way, with the share's flow control (1 MiB cap,
# resumed at 256 KiB) on the sending side. Prints MB/s per direction, for RUNS runs.
#
#   bench/webrtc.sh [MIB] [RUNS]   (defaults 256 and 3; BUILD_DIR sets the build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mib=${1:-256}
runs=${2:-3}

log=$(mktemp "${TMPDIR:-/tmp}/vyo-bench-build.XXXXXX")
if ! cmake --build "$build" --target bench_webrtc -- -j"$(nproc)" >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  echo "bench/webrtc.sh: the build failed" >&2
  exit 1
fi
rm -f "$log"

for ((run = 1; run <= runs; run++)); do
  # WebRTC's own error lines (the far side's abort at the end) are not results.
  "$build/bench/bench_webrtc" "$mib" both 2>/dev/null
done
