#!/bin/sh
# Runs a command in a user namespace of its own in which at most $1 inotify watches may be held,
# so that tests can reach the watch limit without touching the system's. Where such namespaces are
# not allowed, the command runs as it is (and the test skips itself).
limit=$1
shift
if unshare -U -r true 2>/dev/null; then
    exec unshare -U -r sh -c 'echo "$0" > /proc/sys/user/max_inotify_watches && exec "$@"' \
        "$limit" "$@"
fi
exec "$@"
