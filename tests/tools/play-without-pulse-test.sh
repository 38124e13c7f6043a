#!/usr/bin/env bash
# zumo-decode --play where the sound server's client library cannot be used
# (a stand-in without its functions comes first on the library path): the
# sound goes to ALSA's device instead, here one that writes to a file, and
# must be the file's sound. No sound server is involved.
set -euo pipefail
decoder="$1"
standin="$2"
file="$3"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
# ALSA reads only this configuration (and so loads none of its plugins
# that use the client library itself).
printf 'pcm.!default { type file slave.pcm { type null } file "%s" format "raw" }\n' "$dir/played.raw" >"$dir/alsa.conf"
ALSA_CONFIG_PATH="$dir/alsa.conf" LD_LIBRARY_PATH="$standin" "$decoder" --play "$file" >/dev/null
"$decoder" "$file" "$dir/decoded.raw"
# (ALSA's file device writes whole periods: the end may be padded.)
cmp -n "$(stat -c %s "$dir/decoded.raw")" "$dir/decoded.raw" "$dir/played.raw" ||
  { echo "ALSA's device did not get the file's sound"; exit 1; }
