#!/usr/bin/env bash
# zumo-decode --play on a Layer I file through the system's sound output
# (here the sound server's own client) into a private PulseAudio server with
# a null sink: the sink's monitor must hear the file's sound, and playing
# must take the file's length.
set -euo pipefail
decoder="$1"
file="$2"
dir=$(mktemp -d)
# shellcheck source=../support/private-pulse.sh
. "$(dirname "$0")/../support/private-pulse.sh"
trap sound_test_cleanup EXIT
start_private_pulse "$dir"
start_sink_recording "$dir/rec.raw"
start=$(date +%s.%N)
"$decoder" --play "$file" >/dev/null
end=$(date +%s.%N)
stop_sink_recording
"$decoder" "$file" "$dir/decoded.raw"
python3 - "$dir/rec.raw" "$dir/decoded.raw" "$start" "$end" <<'PY'
import math, struct, sys
def left(path):
    data = open(path, 'rb').read()
    return struct.unpack('<%dh' % (len(data) // 2), data)[0::2]
rec, ref = left(sys.argv[1]), left(sys.argv[2])
took = float(sys.argv[4]) - float(sys.argv[3])
length = len(ref) / 44100
rms = lambda s: math.sqrt(sum(v * v for v in s) / max(1, len(s)))
loud = [i for i, v in enumerate(rec) if abs(v) > 500]
assert loud, 'the recording is silent'
heard = (loud[-1] - loud[0] + 1) / 44100
print(f'file {length:.2f} s, heard {heard:.2f} s, rms {rms(rec[loud[0]:loud[-1]]):.0f} '
      f'(decoded {rms(ref):.0f}), playing took {took:.2f} s')
assert heard > length - 0.3, 'sound missing'
assert abs(rms(rec[loud[0]:loud[-1]]) - rms(ref)) < 0.2 * rms(ref), 'level'
assert took >= length - 0.2, 'playing took less than real time'
PY
