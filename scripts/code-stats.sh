#!/usr/bin/env bash
# Prints the non-blank lines of product code (src/, service/ with its web page) and of tests
# (tests/), and the tests' share. Build files (CMakeLists.txt) and documentation are left out;
# benchmarks and scripts are shown on their own line and count as neither.
# Usage: scripts/code-stats.sh [git revision]   (default: the working tree)
set -euo pipefail
cd "$(dirname "$0")/.."
revision="${1:-}"
code='\.(cpp|h|js|mjs|html|css|py|sh|xml)$'

files() { # folder...
    if [ -n "$revision" ]; then
        git ls-tree -r --name-only "$revision" -- "$@"
    else
        git ls-files --cached --others --exclude-standard -- "$@"
    fi | grep -E "$code" || true
}

lines() { # folder...
    local total=0 n file
    while IFS= read -r file; do
        if [ -n "$revision" ]; then
            n=$(git show "$revision:$file" | grep -c '[^[:space:]]' || true)
        else
            [ -f "$file" ] || continue
            n=$(grep -c '[^[:space:]]' "$file" || true)
        fi
        total=$((total + n))
    done < <(files "$@")
    echo "$total"
}

product=$(lines src service)
tests=$(lines tests)
other=$(lines bench scripts)
printf 'product (src, service)   %7d non-blank lines\n' "$product"
printf 'tests (tests)            %7d non-blank lines\n' "$tests"
printf 'benchmarks and scripts   %7d non-blank lines (neither)\n' "$other"
awk -v t="$tests" -v p="$product" 'BEGIN {
    printf "tests / product          %7.1f %%  (goal: at most 50 %%)\n", 100 * t / p
    printf "tests / all code         %7.1f %%  (goal: about a third)\n", 100 * t / (t + p)
}'
