#!/usr/bin/env bash
# Runs one scripted session of the real player, as a user would meet it:
# a private virtual X server, a private PulseAudio server whose only sink
# is a null sink (recorded through its monitor), and session.py driving
# the window with real input events. Servers a user runs are never
# touched: both servers live in a temporary folder of their own.
#
#   session-test.sh SCENARIO ZUMO_PLAYER ZUMO_DECODE DEMO_MP3
#
# Exits 77 (skipped) when a program the session needs is missing.
set -euo pipefail
scenario="$1" player="$2" decoder="$3" demo="$4"

for tool in Xvfb xdotool xwininfo xprop xdpyinfo xwd pulseaudio pactl parec python3; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done

here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
cleanup() {
  # (A scenario that starts the sound server again leaves the id of the
  # one running in pulse.pid.)
  [ -f "$dir/pulse.pid" ] && pa=$(cat "$dir/pulse.pid")
  [ -n "${pa:-}" ] && kill "$pa" 2>/dev/null || true
  [ -n "${xserver:-}" ] && kill "$xserver" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
trap cleanup EXIT

# A free display number: a server that finds its number taken (by a
# session started at the same moment) ends, and another number is tried.
xserver=
for _ in $(seq 20); do
  n=$((100 + RANDOM % 800))
  [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
  # (-noreset: the server would reset whenever its last client leaves, and
  # a client connecting in that moment is refused.)
  Xvfb ":$n" -screen 0 640x480x24 -br -nolisten tcp -noreset >"$dir/xvfb.log" 2>&1 &
  xserver=$!
  for _ in $(seq 100); do
    kill -0 "$xserver" 2>/dev/null || break
    DISPLAY=":$n" xdpyinfo >/dev/null 2>&1 && break
    sleep 0.05
  done
  if kill -0 "$xserver" 2>/dev/null && DISPLAY=":$n" xdpyinfo >/dev/null 2>&1; then break; fi
  kill "$xserver" 2>/dev/null || true
  xserver=
done
[ -n "$xserver" ] || { echo "the virtual X server did not start"; cat "$dir/xvfb.log"; exit 1; }
export DISPLAY=":$n"

# shellcheck source=../support/private-pulse.sh
. "$here/../support/private-pulse.sh"
start_private_pulse "$dir"
echo "$pa" >"$dir/pulse.pid"
export ZUMO_PULSE_DIR="$dir"

# The player sees no desktop: no session bus, the plain X11 platform.
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8
mkdir -p "$dir/work"
status=0
python3 "$here/session.py" "$scenario" --player "$player" --decoder "$decoder" --demo "$demo" \
  --dir "$dir/work" || status=$?
if [ "$status" -ne 0 ] && [ -n "${ZUMO_SESSION_KEEP:-}" ]; then
  mkdir -p "$ZUMO_SESSION_KEEP"
  cp -r "$dir/work/." "$ZUMO_SESSION_KEEP/"
  echo "session files kept in $ZUMO_SESSION_KEEP"
fi
exit "$status"
