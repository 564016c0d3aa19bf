#!/bin/sh
# Kills a process that saves the state file over and over with SIGKILL at random moments, and
# checks after each kill that shelves.json parses, holds the state being saved or the one before,
# and that no temporary file is left beside it once start-up has cleaned up (kills that left one
# for start-up to remove are counted apart).
#
#   bench/savekill.sh [KILLS] [SECONDS]     (defaults: 1000 600; BUILD_DIR chooses the build)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
kills=${1:-1000}
seconds=${2:-600}
cmake --build "$build" --target bench_savekill >/dev/null || exit 2
program="$build/bench/bench_savekill"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/data"
file="$work/data/shelves.json"
deadline=$(( $(date +%s) + seconds ))
done=0
failures=0
leftovers=0
while [ "$done" -lt "$kills" ] && [ "$(date +%s)" -lt "$deadline" ]; do
    "$program" save "$file" > "$work/out" &
    pid=$!
    # Somewhere in the first 60 ms, after the first save has begun.
    delay=$(awk -v seed="$$$done" 'BEGIN { srand(seed); printf "%.3f", 0.005 + rand() * 0.055 }')
    sleep "$delay"
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    n=$(sed -n 's/^saving //p' "$work/out" | tail -n 1)
    done=$((done + 1))
    if [ -z "$n" ]; then
        continue # killed before its first save began: nothing to check
    fi
    if ! result=$("$program" check "$file" "$n" 2>/dev/null); then
        failures=$((failures + 1))
        echo "kill $done (during save $n): $result"
        # The next round starts from a clean folder.
        rm -rf "$work/data" && mkdir "$work/data"
    elif [ "$result" = leftover ]; then
        leftovers=$((leftovers + 1))
    fi
done
echo "kills: $done, failures: $failures, temporary files removed at start-up: $leftovers"
[ "$failures" -eq 0 ]
