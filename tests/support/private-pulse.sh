# Sourced by the test scripts that need sound: start_private_pulse DIR
# starts a PulseAudio server of the test's own, with its runtime folder and
# socket under DIR and a null sink "zumo_null" as the default sink, and
# points ALSA's default device at it. A server the user runs is never
# touched. Sets pa to the server's process id (the caller kills it).
start_private_pulse() {
  local dir=$1
  mkdir -p "$dir/home" "$dir/run"
  chmod 700 "$dir/run"
  export HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" PULSE_RUNTIME_PATH="$dir/run"
  export PULSE_SERVER="unix:$dir/run/native"
  # ALSA's default device goes to the pulse plugin, whatever the system's configuration.
  printf 'pcm.!default { type pulse }\nctl.!default { type pulse }\n' >"$HOME/.asoundrc"
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/run/native" \
    -L "module-null-sink sink_name=zumo_null rate=44100 channels=2" >"$dir/pa.log" 2>&1 &
  pa=$!
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
  pactl info >/dev/null 2>&1 || { echo "the private sound server did not start"; cat "$dir/pa.log"; return 1; }
  pactl set-default-sink zumo_null
}

# Records the null sink's monitor into FILE (raw 16-bit stereo at 44.1 kHz)
# in the background; sets rec. A short latency: with the default (seconds)
# the last of the sound may still be on its way when the recorder stops.
# Returns once the recording runs: a fresh null sink may sit on seconds of
# its own latency before it first delivers, and sound played meanwhile
# would reach the recording cut short.
start_sink_recording() {
  parec --latency-msec=20 -d zumo_null.monitor --format=s16le --rate=44100 --channels=2 --raw >"$1" &
  rec=$!
  for _ in $(seq 100); do
    [ "$(stat -c %s "$1")" -gt 17640 ] && break
    sleep 0.05
  done
  sleep 0.1
}

stop_sink_recording() {
  sleep 0.3
  kill "$rec"
  wait "$rec" 2>/dev/null || true
  rec=
}

# The EXIT trap of the sound tests: stops the recorder and the server and
# removes the test's folder (dir).
sound_test_cleanup() {
  [ -n "${rec:-}" ] && kill "$rec" 2>/dev/null || true
  [ -n "${pa:-}" ] && kill "$pa" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$dir"
}
