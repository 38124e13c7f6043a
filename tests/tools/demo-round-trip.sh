#!/usr/bin/env bash
# Decodes the demo file and holds the result against the tune it was made
# from: the delay must be found and both channels must come back clean.
set -euo pipefail
decoder="$1" script="$2" demo="$3"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$decoder" "$demo" "$work/decoded.wav"
python3 "$script" --compare "$work/decoded.wav"
