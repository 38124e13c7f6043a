#!/usr/bin/env bash
# Runs one scripted session of the real player, as a user would meet it:
# a private virtual X server, a private PulseAudio server whose only sink
# is a null sink (recorded through its monitor), and session.py driving
# the window with real input events. Servers a user runs are never
# touched: both servers live in a temporary folder of their own.
#
#   session-test.sh SCENARIO ZUMO_PLAYER ZUMO_DECODE DEMO_MP3 [FAKE_PORTAL]
#
# Exits 77 (skipped) when a program the session needs is missing.
set -euo pipefail
scenario="$1" player="$2" decoder="$3" demo="$4" portal="${5:-}"

tools=(Xvfb xdotool xwininfo xprop xdpyinfo xwd pulseaudio pactl parec python3)
# The Wayland session: Weston, drawing into a window on the virtual X
# server (so that xdotool's input reaches it and xwd sees what it shows),
# with XWayland, and Qt's Wayland platform.
[ "$scenario" = wayland ] && tools+=(weston Xwayland)
for tool in "${tools[@]}"; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (scripts/setup installs it)"
    exit 77
  fi
done
if [ "$scenario" = wayland ] && ! ls /usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so >/dev/null 2>&1; then
  echo "skipped: Qt's Wayland platform is not installed (qt6-wayland; scripts/setup installs it)"
  exit 77
fi

here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
cleanup() {
  [ -n "${weston:-}" ] && kill "$weston" 2>/dev/null || true
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
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XDG_CURRENT_DESKTOP DESKTOP_SESSION XDG_SESSION_TYPE
export QT_QPA_PLATFORM=xcb LC_ALL=C.UTF-8

if [ "$scenario" = wayland ]; then
  # Its socket lies in the private runtime folder; XWayland takes the
  # first free display number, and starts at its first client.
  printf '[core]\nidle-time=0\n[shell]\nbackground-color=0xff204060\npanel-position=none\n' >"$dir/weston.ini"
  # Weston does not wait for the helpers it starts (its shell, keyboard and
  # XWayland) when it ends: it runs under a parent that reaps them, and
  # hands it the stop.
  reaper='import ctypes, os, signal, sys
ctypes.CDLL(None).prctl(36, 1)  # PR_SET_CHILD_SUBREAPER: orphans of weston come here
child = os.fork()
if child == 0:
    os.execvp(sys.argv[1], sys.argv[1:])
signal.signal(signal.SIGTERM, lambda *_: os.kill(child, signal.SIGTERM))
while True:
    try:
        os.wait()
    except ChildProcessError:
        break'
  python3 -c "$reaper" weston --backend=x11-backend.so --use-pixman --width=600 --height=440 --socket=zumo-wl \
    --xwayland --config="$dir/weston.ini" --idle-time=0 >"$dir/weston.log" 2>&1 &
  weston=$!
  for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/zumo-wl" ] && grep -q 'xserver listening on display' "$dir/weston.log" && break
    sleep 0.05
  done
  xwayland=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$dir/weston.log" | head -n1)
  if [ ! -S "$XDG_RUNTIME_DIR/zumo-wl" ] || [ -z "$xwayland" ]; then
    echo "Weston did not start"; cat "$dir/weston.log"; exit 1
  fi
  export ZUMO_WAYLAND_DISPLAY=zumo-wl ZUMO_XWAYLAND_DISPLAY=$xwayland
fi
mkdir -p "$dir/work"
session=(python3 "$here/session.py" "$scenario" --player "$player" --decoder "$decoder" --demo "$demo" --dir "$dir/work"
         --portal "$portal")
if [ "$scenario" = desktop ]; then
  # The desktop scenario has a session bus of its own, which knows no
  # services of this machine (nothing is started on demand).
  for tool in dbus-run-session gdbus; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed (scripts/setup installs it)"; exit 77; }
  done
  cat >"$dir/bus.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$dir/run</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
  session=(dbus-run-session --config-file="$dir/bus.conf" -- "${session[@]}")
fi
status=0
"${session[@]}" || status=$?
if [ "$status" -ne 0 ] && [ -n "${ZUMO_SESSION_KEEP:-}" ]; then
  mkdir -p "$ZUMO_SESSION_KEEP"
  cp -r "$dir/work/." "$ZUMO_SESSION_KEEP/"
  echo "session files kept in $ZUMO_SESSION_KEEP"
fi
exit "$status"
