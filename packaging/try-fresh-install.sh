#!/usr/bin/env bash
# try-fresh-install.sh DEB [ROOT]: installs the package with apt into a fresh,
# minimal Debian 12 root made by debootstrap, then launches the player the way
# a desktop does, from the Exec line of its desktop entry with a file, on a
# private virtual X server, and checks that the window shows the file's
# title. Run by hand as root (it needs debootstrap, network access to the
# Debian archive and Xvfb); not part of the test run.
set -euo pipefail
deb=$(readlink -f "$1")
root=${2:-/var/tmp/zumo-fresh-root}
here=$(cd "$(dirname "$0")/.." && pwd)
[ "$(id -u)" = 0 ] || { echo "run as root" >&2; exit 1; }
command -v debootstrap >/dev/null || apt-get install -y debootstrap

if [ ! -x "$root/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
fi
cp /etc/resolv.conf "$root/etc/"
mounts=()
cleanup() {
  [ -n "${xvfb:-}" ] && kill "$xvfb" 2>/dev/null || true
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do umount "${mounts[i]}" 2>/dev/null || true; done
}
trap cleanup EXIT
for m in proc dev tmp/.X11-unix; do
  mkdir -p "$root/$m" "/$m"
  mount --bind "/$m" "$root/$m"
  mounts+=("$root/$m")
done

cp "$deb" "$root/root/"
chroot "$root" apt-get update
chroot "$root" apt-get install -y "/root/$(basename "$deb")"
mkdir -p "$root/root/Music"
cp "$here/demo/demo.mp3" "$root/root/Music/Zumo demo.mp3"

display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
sleep 1
# The desktop's launch: the Exec line with %F replaced by the file.
chroot "$root" env -i HOME=/root PATH=/usr/bin:/bin DISPLAY="$display" bash -c '
  exec_line=$(sed -n "s/^Exec=//p" /usr/share/applications/zumo-player.desktop)
  cd /root && timeout 8 bash -c "${exec_line//%F/\"/root/Music/Zumo demo.mp3\"}" >/tmp/zumo-run.log 2>&1 &'
sleep 3
title=$(DISPLAY="$display" xdotool search --classname zumo-player getwindowname %@ 2>/dev/null | head -n1)
sleep 6
echo "window title while playing: '$title'"
[ "$title" = "Zumo demo" ] || { cat "$root/tmp/zumo-run.log" >&2; echo "FAIL" >&2; exit 1; }
echo "installed from $(basename "$deb") into a fresh root and launched from the desktop entry"
