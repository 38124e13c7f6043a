#!/usr/bin/env bash
# Runs a program on a private virtual X server with a black root window.
set -euo pipefail
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 640x480x24 -br -nolisten tcp -noreset >/dev/null 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  DISPLAY="$display" xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
DISPLAY="$display" QT_QPA_PLATFORM=xcb "$@"
