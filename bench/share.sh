#!/usr/bin/env bash
# Sharing with the share page in headless Chromium over loopback, every part real (the share
# center, its WebRTC peer sessions and the share service in one process: bench/share/bench_share),
# and a table of the results:
#   - desktop -> Chromium: MIB MiB of random bytes downloaded by the page, streamed to disk through
#     its service worker and, with service workers blocked, collected in memory; from the click to
#     the saved file;
#   - Chromium -> desktop: MIB MiB uploaded by the page, until the shelf holds it;
#   - Chromium -> Chromium: MIB MiB between two pages of one Chromium with the page's flow control
#     (bench/share/browsers.mjs);
#   - desktop -> Chromium again with LARGE MiB, to show whether the desktop's memory grows with
#     the file's size.
# For the desktop's runs: its CPU time during the transfer (user + system) and its peak resident
# size before and after it (ru_maxrss). Every run is a process of its own, in user folders of its
# own (scripts/run-test.sh), and bounded by `timeout`.
#
#   bench/share.sh [MIB] [LARGE]   (defaults 256 and 1024; BUILD_DIR sets the build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
mib=${1:-256}
large=${2:-1024}

log=$(mktemp "${TMPDIR:-/tmp}/vyo-bench-build.XXXXXX")
errors=$(mktemp "${TMPDIR:-/tmp}/vyo-bench-share.XXXXXX")
trap 'rm -f "$log" "$errors"' EXIT
if ! { "$root/scripts/install-node-modules.sh" &&
    { [ -f "$build/CMakeCache.txt" ] ||
        cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release; } &&
    cmake --build "$build" --target bench_share -- -j"$(nproc)"; } >"$log" 2>&1; then
    cat "$log" >&2
    echo "bench/share.sh: the build failed" >&2
    exit 1
fi

load() { cut -d' ' -f1-3 /proc/loadavg; }
echo "$(nproc) cores, load average $(load) at the start"

rows=()
# A run that failed: a row that says so, and the end of what it printed.
failed() {
    rows+=("result $1-failed $2 - - - - - - -")
    echo "$1 failed:" >&2
    tail -n 20 "$errors" >&2
}

# One desktop run: bench_share's result line.
desktop() {
    local line
    if line=$(timeout 330 "$root/scripts/run-test.sh" "$build/bench/bench_share" "$@" \
        2>"$errors" | grep '^result '); then
        rows+=("$line")
    else
        failed "$1${3:+-memory}" $(($2 * 1048576))
    fi
}

desktop download "$mib"
desktop download "$mib" --no-service-workers
desktop upload "$mib"
desktop download "$large"
# "browsers <bytes> <seconds> <MB/s>": the bytes were counted, not compared.
if line=$(timeout 150 node "$root/bench/share/browsers.mjs" "$mib" --timeout=140 2>"$errors"); then
    rows+=("result chromium-to-chromium ${line#browsers } counted - - - -")
else
    failed chromium-to-chromium $((mib * 1048576))
fi

echo "load average $(load) at the end"
echo
printf '%s\n' "${rows[@]}" | awk '
    function mib(kib) { return kib == "-" ? "-" : sprintf("%.1f", kib / 1024) }
    BEGIN {
        printf "%-22s %9s %9s %8s %9s %9s %11s %11s %9s\n", "transfer", "MiB", "seconds",
            "MB/s", "bytes", "CPU s", "peak before", "peak after", "growth"
        printf "%-22s %9s %9s %8s %9s %9s %11s %11s %9s\n", "", "", "", "", "", "usr+sys",
            "MiB", "MiB", "MiB"
    }
    {
        cpu = $7 == "-" ? "-" : sprintf("%.2f", $7 + $8)
        growth = $9 == "-" ? "-" : sprintf("%.1f", ($10 - $9) / 1024)
        printf "%-22s %9d %9s %8s %9s %9s %11s %11s %9s\n", $2, $3 / 1048576, $4, $5, $6, cpu,
            mib($9), mib($10), growth
    }'
