#!/usr/bin/env bash
# Plays a tone through the real ALSA device layer into a private PulseAudio
# server with a null sink, records the sink's monitor and checks that the
# recording holds the tone and that playing took real time. The server is
# our own (private runtime folder and socket); a server the user runs is
# never touched.
set -euo pipefail
player="$1"
# ALSA's device, as on a system without a sound server, rather than the
# sound server's own client that the player prefers.
export ZUMO_SOUND_OUTPUT=alsa
dir=$(mktemp -d)
# shellcheck source=../support/private-pulse.sh
. "$(dirname "$0")/../support/private-pulse.sh"
trap sound_test_cleanup EXIT
start_private_pulse "$dir"
start_sink_recording "$dir/rec.raw"
# (What the server lists while the tone plays: the stream of ALSA's plugin.)
( sleep 1; pactl list sink-inputs >"$dir/inputs.txt" ) &
lister=$!
seconds=$("$player")
wait "$lister"
stop_sink_recording
grep -q 'media.name = "ALSA Playback"' "$dir/inputs.txt" || { echo "the tone did not go through ALSA"; exit 1; }
python3 - "$dir/rec.raw" "$seconds" <<'PY'
import math, struct, sys
data = open(sys.argv[1], 'rb').read()
played = float(sys.argv[2])
s = struct.unpack('<%dh' % (len(data) // 2), data)
left = s[0::2]
loud = [i for i, v in enumerate(left) if abs(v) > 4000]
assert loud, 'the recording is silent'
tone = left[loud[0]:loud[-1] + 1]
secs = len(tone) / 44100
rms = math.sqrt(sum(v * v for v in tone) / len(tone))
crossings = sum(1 for a, b in zip(tone, tone[1:]) if a < 0 <= b)
freq = crossings / secs
print(f'tone {secs:.2f} s, {freq:.0f} Hz, rms {rms:.0f}, playing took {played:.2f} s')
assert 1.9 < secs < 2.3, 'tone length'
assert 980 < freq < 1020, 'tone frequency'
assert 10500 < rms < 12700, 'tone level (half scale sine: 11585)'
assert played >= 1.8, 'playing took less than real time'
PY
