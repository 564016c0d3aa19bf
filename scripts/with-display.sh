#!/usr/bin/env bash
# Runs a command on a private X server (Xvfb) with a session D-Bus and the openbox window manager,
# then tears everything down. Used for window, tray, clipboard and drag tests:
#   scripts/with-display.sh ctest --test-dir build
# When DISPLAY is already set and VYO_USE_CURRENT_DISPLAY=1, the command runs there instead.
set -eu

if [ "${VYO_USE_CURRENT_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
  exec "$@"
fi

if [ -z "${VYO_DISPLAY_INNER:-}" ]; then
  # A session bus that ends with the command (no stray dbus-daemon outlives the tests).
  exec env VYO_DISPLAY_INNER=1 dbus-run-session -- "$0" "$@"
fi

fd_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp +extension XInputExtension \
  +extension XFIXES 3>"$fd_file" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -s "$fd_file" ] && break
  sleep 0.05
done
if [ ! -s "$fd_file" ]; then
  echo "with-display: Xvfb did not start" >&2
  kill "$xvfb_pid" 2>/dev/null || true
  exit 1
fi
export DISPLAY=":$(head -n1 "$fd_file")"
rm -f "$fd_file"

openbox --sm-disable >/dev/null 2>&1 &
wm_pid=$!
# Wait (up to 30 s: a loaded machine starts it slowly) until the window manager has announced
# itself on the root window; window tests need it for focus and moves.
wm_up=0
for _ in $(seq 1 600); do
  if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
    wm_up=1
    break
  fi
  [ "$SECONDS" -ge 30 ] && break
  sleep 0.05
done
[ "$wm_up" = 1 ] || echo "with-display: openbox did not start within 30 s; window tests may fail" >&2

cleanup() {
  kill "$wm_pid" "$xvfb_pid" 2>/dev/null || true
  wait "$wm_pid" "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

status=0
"$@" || status=$?
exit "$status"
