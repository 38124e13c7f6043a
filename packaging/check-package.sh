#!/usr/bin/env bash
# check-package.sh BUILD_DIR VERSION [SOURCE_DIR]: builds the Debian package
# from BUILD_DIR, unpacks it into a scratch root and checks the installed
# layout, the control fields and that both programs answer --version from
# there; with SOURCE_DIR, that the manual pages render without a warning.
set -euo pipefail
build=$1
version=$2
source=${3:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

( cd "$build" && cpack -G DEB -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ) \
  || { cat "$scratch/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$scratch"/out/zumo-player_"$version"*_*.deb 2>/dev/null | head -n1)
[ -n "$deb" ] || fail "no zumo-player_${version}_*.deb made"

root=$scratch/root
dpkg-deb -x "$deb" "$root"

for f in usr/lib/zumo-player/zumo-player usr/bin/zumo-decode; do
  [ -f "$root/$f" ] && [ -x "$root/$f" ] || fail "$f missing or not executable"
done
for f in usr/lib/zumo-player/videzi3.htm \
         usr/share/applications/zumo-player.desktop \
         usr/share/metainfo/zumo-player.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/zumo-player.svg \
         usr/share/man/man1/zumo-player.1.gz usr/share/man/man1/zumo-decode.1.gz; do
  [ -s "$root/$f" ] || fail "$f missing or empty"
done
for size in 16 32 48 64 128 256; do
  png=$root/usr/share/icons/hicolor/${size}x${size}/apps/zumo-player.png
  [ -s "$png" ] || fail "icon ${size}x${size} missing"
  # A PNG's width and height are the big-endian words at bytes 16 and 20.
  read -r w0 w1 w2 w3 h0 h1 h2 h3 < <(od -An -tu1 -j16 -N8 "$png")
  w=$(( (w0 << 24) | (w1 << 16) | (w2 << 8) | w3 ))
  h=$(( (h0 << 24) | (h1 << 16) | (h2 << 8) | h3 ))
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "icon ${size}x${size} is ${w}x${h}"
done

# bin/zumo-player is a relative link, so it works wherever the root is.
link=$root/usr/bin/zumo-player
[ -L "$link" ] || fail "usr/bin/zumo-player is not a symbolic link"
[ "$(readlink "$link")" = "../lib/zumo-player/zumo-player" ] || fail "usr/bin/zumo-player points at $(readlink "$link")"
[ "$(readlink -f "$link")" = "$(readlink -f "$root/usr/lib/zumo-player/zumo-player")" ] || fail "link does not resolve"

grep -qx 'Exec=zumo-player %F' "$root/usr/share/applications/zumo-player.desktop" || fail "desktop entry Exec"
if [ -n "$source" ] && command -v man >/dev/null; then
  for page in zumo-player zumo-decode; do
    zcat "$root/usr/share/man/man1/$page.1.gz" | cmp -s - "$source/$page.1" || fail "$page.1.gz differs from $page.1"
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l "$source/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
  done
fi
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/zumo-player.metainfo.xml" || fail "metainfo release"

depends=$(dpkg-deb -f "$deb" Depends)
for dep in libqt6widgets6 libqt6gui6 libqt6core6 libqt6dbus6 libqt6svg6 qt6-qpa-plugins qt6-wayland libasound2 libpulse0 libc6; do
  echo "$depends" | grep -Eq "(^|, )$dep( |,|$)" || fail "Depends lacks $dep: $depends"
done
# Every package named must exist in the distribution, or apt refuses the
# whole package.
if command -v apt-cache >/dev/null; then
  for dep in $(echo "$depends" | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/^ +//; s/ +$//'); do
    apt-cache show --no-all-versions "$dep" >/dev/null 2>&1 || fail "Depends names $dep, which apt does not know"
  done
fi
[ "$(dpkg-deb -f "$deb" Package)" = zumo-player ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"

[ "$("$link" --version)" = "zumo-player $version" ] || fail "zumo-player --version"
[ "$("$root/usr/bin/zumo-decode" --version)" = "zumo-decode $version" ] || fail "zumo-decode --version"
"$link" --help | grep -q '^usage: zumo-player' || fail "zumo-player --help"

echo "package $(basename "$deb") checked: Depends: $depends"
