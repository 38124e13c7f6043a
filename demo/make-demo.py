#!/usr/bin/env python3
"""Makes demo/demo.mp3: a six-second tune played and encoded right here.

The tune is a short melody over a few chords and a bass line, every note
a handful of harmonics with a soft attack and a gentle decay, the voices
placed a little apart in the stereo field, peaks at -6 dBFS.

The encoder is a plain MPEG-1 Layer III encoder without a psychoacoustic
model: the polyphase analysis filter bank, an 18-line MDCT per subband
(long blocks only), the alias-reduction butterflies, a mid/side matrix,
and one global gain per granule searched so the granule fits its bits.
The frame assembly (side information, Huffman coding, bit reservoir) is
the stream builder's of bench/make-streams.py. An "Info" frame in front
tells players the frame count.

    python3 demo/make-demo.py [--out FILE] [--tune-wav FILE] [--compare DECODED.wav]

--tune-wav writes the tune itself as a 16-bit WAV file; --compare reads a
WAV file decoded from the demo and prints how closely it matches the tune
(delay found by search, then the signal-to-noise ratio per channel), and
fails when a channel is below --min-snr (40 dB).
"""

import argparse
import math
import operator
import os
import runpy
import struct
import sys
import wave

RATE = 44100
SECONDS = 6.0
FRAMES = 231          # audio frames after the Info frame: 6.03 s
PEAK = 0.5            # -6 dBFS

HERE = os.path.dirname(os.path.abspath(__file__))
streams = runpy.run_path(os.path.join(HERE, '..', 'bench', 'make-streams.py'), run_name='make_streams')


def shared_table(name):
    """Path of one of the tables in ../shared/tables next to the repository."""
    for base in (os.path.join(HERE, '..', '..', 'shared', 'tables'), '/work/shared/tables'):
        path = os.path.join(base, name)
        if os.path.exists(path):
            return path
    sys.exit(f'make-demo: cannot find {name}')


# ---------------------------------------------------------------- the tune

BEAT = 0.5  # seconds (120 beats a minute)

# (first beat, beats, MIDI note)
MELODY = [(0, 1, 76), (1, 1, 79), (2, 1, 84), (3, 1, 83),
          (4, 1, 84), (5, 1, 81), (6, 1, 77), (7, 0.5, 79), (7.5, 0.5, 74),
          (8, 1, 76), (9, 1, 74), (10, 2, 72)]
# C, A minor, F, G, C
CHORDS = [(0, 4, (60, 64, 67)), (4, 2, (57, 60, 64)), (6, 1, (53, 57, 60)),
          (7, 1, (55, 59, 62)), (8, 4, (60, 64, 67))]
BASS = [(0, 4, 48), (4, 2, 45), (6, 1, 41), (7, 1, 43), (8, 4, 48)]


def pan_gains(pan):
    """Equal-power gains (left, right) for a position from -1 (left) to 1."""
    angle = (pan + 1.0) * math.pi / 4.0
    return math.cos(angle), math.sin(angle)


def add_note(left, right, start, length, midi, level, pan, partials, attack, decay, release):
    """Adds one note: `partials` harmonics whose amplitude falls as 1/k^1.3
    and whose decay quickens with k, a raised-cosine attack, and a release
    fade over the last `release` seconds of its (ringing) length."""
    freq = 440.0 * 2.0 ** ((midi - 69) / 12.0)
    first = int(start * RATE)
    last = min(int((start + length) * RATE), len(left))
    n = last - first
    if n <= 0:
        return
    gl, gr = pan_gains(pan)
    n_attack = max(1, int(attack * RATE))
    n_release = max(1, int(release * RATE))
    env = [0.0] * n
    for i in range(n):
        e = 1.0
        if i < n_attack:
            e = 0.5 - 0.5 * math.cos(math.pi * i / n_attack)
        if i >= n - n_release:
            e *= 0.5 + 0.5 * math.cos(math.pi * (i - (n - n_release)) / n_release)
        env[i] = e * level
    tone = [0.0] * n
    for k in range(1, partials + 1):
        if freq * k > 9000.0:
            break
        w = 2.0 * math.pi * freq * k / RATE
        a = 1.0 / k ** 1.3
        fall = math.exp(-(decay * (0.6 + 0.4 * k)) / RATE)
        g = a
        for i in range(n):
            tone[i] += g * math.sin(w * i)
            g *= fall
    for i in range(n):
        v = tone[i] * env[i]
        left[first + i] += v * gl
        right[first + i] += v * gr


def tune():
    """The tune as two lists of floats, full scale 1.0, peaks at PEAK."""
    total = int(SECONDS * RATE)
    left = [0.0] * total
    right = [0.0] * total
    ring = 0.25  # notes ring on past their written length
    for beat, beats, midi in MELODY:
        start = beat * BEAT
        length = min(beats * BEAT + ring, SECONDS - start - 0.02)
        # The melody wanders from a little left to a little right.
        pan = -0.35 + 0.7 * beat / 12.0
        add_note(left, right, start, length, midi, 0.55, pan, 6, 0.012, 2.2, 0.12)
    for beat, beats, notes in CHORDS:
        start = beat * BEAT
        length = min(beats * BEAT + ring, SECONDS - start - 0.02)
        for midi, pan in zip(notes, (-0.6, 0.1, 0.6)):
            add_note(left, right, start, length, midi, 0.2, pan, 4, 0.06, 0.9, 0.2)
    for beat, beats, midi in BASS:
        start = beat * BEAT
        length = min(beats * BEAT + 0.05, SECONDS - start - 0.02)
        add_note(left, right, start, length, midi, 0.45, -0.1, 4, 0.02, 1.2, 0.1)
    peak = max(max(abs(v) for v in left), max(abs(v) for v in right))
    scale = PEAK / peak
    return [v * scale for v in left], [v * scale for v in right]


def write_wav(path, left, right):
    with wave.open(path, 'wb') as w:
        w.setnchannels(2)
        w.setsampwidth(2)
        w.setframerate(RATE)
        frames = bytearray()
        for a, b in zip(left, right):
            frames += struct.pack('<hh', max(-32768, min(32767, round(a * 32767))),
                                  max(-32768, min(32767, round(b * 32767))))
        w.writeframes(bytes(frames))


def read_wav(path):
    with wave.open(path, 'rb') as w:
        if w.getnchannels() != 2 or w.getsampwidth() != 2:
            sys.exit(f'make-demo: {path} is not 16-bit stereo')
        data = w.readframes(w.getnframes())
    samples = struct.unpack('<%dh' % (len(data) // 2), data)
    return [v / 32768.0 for v in samples[0::2]], [v / 32768.0 for v in samples[1::2]]


# ---------------------------------------------------------------- analysis

def analysis_window():
    """The analysis window: the synthesis window divided by 32."""
    d = []
    with open(shared_table('synthesis-window.tsv')) as f:
        for line in f:
            if line.startswith('#') or not line.strip():
                continue
            d.append(float(line.split()[1]))
    assert len(d) == 512
    return [v / 32.0 for v in d]


def subband_samples(signal, slots):
    """Runs the polyphase analysis filter bank over `signal`: `slots` rows of
    32 subband samples, one row for every 32 input samples."""
    window = analysis_window()
    matrix = [[math.cos((2 * k + 1) * (i - 16) * math.pi / 64.0) for i in range(64)] for k in range(32)]
    # 480 zeros of history in front; the newest sample of a slot is X[0].
    padded = [0.0] * 480 + list(signal) + [0.0] * max(0, 32 * slots - len(signal))
    mul = operator.mul
    rows = []
    for t in range(slots):
        x = padded[32 * t:32 * t + 512][::-1]
        z = list(map(mul, window, x))
        y = [sum(v) for v in zip(z[0:64], z[64:128], z[128:192], z[192:256],
                                  z[256:320], z[320:384], z[384:448], z[448:512])]
        rows.append([sum(map(mul, m, y)) for m in matrix])
    return rows


# Alias-reduction coefficients, as the decoder has them.
ALIAS_C = [-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037]
ALIAS_CS = [1.0 / math.sqrt(1.0 + c * c) for c in ALIAS_C]
ALIAS_CA = [c / math.sqrt(1.0 + c * c) for c in ALIAS_C]


def granule_spectra(rows, granules):
    """The 576 lines of every granule from the subband samples: odd time
    slots of odd subbands negated (the decoder negates them back), a
    sine-windowed 36-point MDCT per subband over this granule's 18 slots and
    the previous granule's, then the encoder's alias butterflies."""
    # X[m] = 2/18 sum w[n] x[n] cos(pi/72 (2n + 19)(2m + 1)): the decoder's
    # inverse transform has no scale of its own, so the factor is here.
    mdct = [[2.0 / 18.0 * math.sin(math.pi / 36.0 * (n + 0.5)) *
             math.cos(math.pi / 72.0 * (2 * n + 19) * (2 * m + 1)) for n in range(36)] for m in range(18)]
    mul = operator.mul
    columns = [[row[k] * (-1.0 if (k & 1) and (t & 1) else 1.0) for t, row in enumerate(rows)] for k in range(32)]
    spectra = []
    for g in range(granules):
        lines = [0.0] * 576
        for k in range(32):
            col = columns[k]
            if g == 0:
                block = [0.0] * 18 + col[0:18]
            else:
                block = col[18 * g - 18:18 * g + 18]
            lines[18 * k:18 * k + 18] = [sum(map(mul, m, block)) for m in mdct]
        for sb in range(31):
            for i in range(8):
                lo, hi = 18 * sb + 17 - i, 18 * sb + 18 + i
                a, b = lines[lo], lines[hi]
                lines[lo] = a * ALIAS_CS[i] + b * ALIAS_CA[i]
                lines[hi] = b * ALIAS_CS[i] - a * ALIAS_CA[i]
        spectra.append(lines)
    return spectra


# ---------------------------------------------------------------- stream

class DemoStream(streams['Layer3Stream']):
    """The stream builder with the tune's spectra: joint stereo (mid/side),
    long blocks, all scale factors zero, and each frame spending its own
    share of bits plus half of what the reservoir holds."""

    def __init__(self, codes, mid, side):
        super().__init__(codes, 1, True, RATE, 128, 1, (FRAMES + 0.5) * 1152 / RATE, False)
        self.lines = (mid, side)

    def granule_lines(self, index, ch, g):
        lines = self.lines[ch][index]
        return [v if j < self.cutoff else 0.0 for j, v in enumerate(lines)]

    def choose_scale_factors(self, g, ch, gr, scfsi, previous):
        g.sf_write = []
        g.sf_bits = 0

    def choose_scfsi(self, grans):
        return [[0] * 4 for _ in range(self.channels)]

    def frame_target(self, grans, slots, capacity):
        return slots * 8 + 0.5 * (capacity - slots * 8)


def info_frame(audio_frames, total_bytes):
    """A silent first frame whose "Info" tag gives the frame count and the
    file's length, so players know the playing time without a walk."""
    length = 144 * 128000 // RATE
    w = streams['BitWriter']()
    streams['put_header'](w, True, 3, 9, 0, 0, 1, 0)
    head = w.finish()
    body = bytes(32) + b'Info' + struct.pack('>III', 3, audio_frames, total_bytes)
    return head + body + bytes(length - len(head) - len(body))


def encode(left, right):
    slots = FRAMES * 36
    granules = FRAMES * 2
    spectra = []
    for signal in (left, right):
        rows = subband_samples(signal, slots)
        spectra.append(granule_spectra(rows, granules))
    h = math.sqrt(0.5)
    mid = [[(a + b) * h for a, b in zip(l, r)] for l, r in zip(spectra[0], spectra[1])]
    side = [[(a - b) * h for a, b in zip(l, r)] for l, r in zip(spectra[0], spectra[1])]
    codes = streams['Codes'](shared_table('huffman-codes.tsv'))
    audio = DemoStream(codes, mid, side).build()
    first = info_frame(FRAMES, 0)
    return info_frame(FRAMES, len(first) + len(audio)) + audio


# ---------------------------------------------------------------- comparison

def compare(tune_lr, decoded_lr):
    """Finds the decoder's delay on the left channel and prints the
    signal-to-noise ratio of each channel at that delay."""
    ref, out = tune_lr[0], decoded_lr[0]
    lo, hi = RATE, RATE + 4096  # one stretch of sound to match
    best = None
    for lag in range(0, 4096):
        err = sum((out[i + lag] - ref[i]) ** 2 for i in range(lo, hi, 8))
        if best is None or err < best[0]:
            best = (err, lag)
    lag = best[1]
    result = []
    for ch in range(2):
        ref, out = tune_lr[ch], decoded_lr[ch]
        n = min(len(ref), len(out) - lag)
        signal = sum(v * v for v in ref[:n])
        noise = sum((out[i + lag] - ref[i]) ** 2 for i in range(n))
        result.append(10.0 * math.log10(signal / max(noise, 1e-30)))
    print(f'delay {lag} samples; SNR left {result[0]:.1f} dB, right {result[1]:.1f} dB')
    return lag, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--out', default=os.path.join(HERE, 'demo.mp3'))
    parser.add_argument('--tune-wav', help='also write the tune as a WAV file')
    parser.add_argument('--compare', metavar='DECODED', help='compare a decoded WAV file with the tune, and stop')
    parser.add_argument('--min-snr', type=float, default=40.0,
                        help='with --compare: fail when a channel comes out worse than this many dB')
    args = parser.parse_args()
    left, right = tune()
    if args.tune_wav:
        write_wav(args.tune_wav, left, right)
    if args.compare:
        _, snr = compare((left, right), read_wav(args.compare))
        if min(snr) < args.min_snr:
            sys.exit(f'make-demo: the decoded file is below {args.min_snr:.0f} dB')
        return
    data = encode(left, right)
    with open(args.out, 'wb') as f:
        f.write(data)
    print(f'{args.out}: {len(data)} bytes, {FRAMES + 1} frames', file=sys.stderr)


if __name__ == '__main__':
    main()
