#!/usr/bin/env bash
# Runs one test executable in a fresh, private set of user folders, so that no test touches the
# user's files: XDG data, config, cache and runtime folders and HOME point into a temporary folder
# that is removed afterwards. VYO_TEST_HARNESS tells the application code it runs under a test.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/vyo-test.XXXXXX")
trap 'chmod -R u+rwX "$root" 2>/dev/null; rm -rf "$root"' EXIT
mkdir -p "$root"/{data,config,cache,runtime,home}
chmod 700 "$root/runtime"
export VYO_TEST_HARNESS=1
export XDG_DATA_HOME="$root/data" XDG_CONFIG_HOME="$root/config" XDG_CACHE_HOME="$root/cache"
export XDG_RUNTIME_DIR="$root/runtime" HOME="$root/home" TMPDIR="$root"
export QT_QPA_PLATFORM="${VYO_TEST_PLATFORM:-offscreen}"
"$@"
