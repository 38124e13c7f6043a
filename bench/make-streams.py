#!/usr/bin/env python3
"""Builds the benchmark streams of bench/streams/ bit by bit.

No encoder is involved: every frame is put together here from its fields.
Layer III frames carry side information, scale factors and Huffman-coded
big-value and count1 regions; the quantised values come from a spectrum
with a few steady tones over Laplace-distributed noise that falls off with
frequency, and each granule's global gain is searched so that the coded
granule fills its share of the frame. Frames lend each other bits through
the bit reservoir (main_data_begin). Layer I and II frames carry
allocations chosen greedily to fill the frame, scale factors and samples,
all in range.

Everything is drawn from a fixed seed, so running the script again gives
the same bytes.

    python3 bench/make-streams.py [--codes FILE] [--out DIR]

FILE is the Layer III code list (table, x, y, length, code per line);
by default ../shared/tables/huffman-codes.tsv next to the repository.
"""

import argparse
import math
import os
import random
import sys


class BitWriter:
    def __init__(self):
        self.bytes = bytearray()
        self.acc = 0
        self.nacc = 0
        self.count = 0

    def put(self, value, n):
        if n == 0:
            return
        assert 0 <= value < (1 << n), (value, n)
        self.acc = (self.acc << n) | value
        self.nacc += n
        self.count += n
        while self.nacc >= 8:
            self.nacc -= 8
            self.bytes.append((self.acc >> self.nacc) & 0xFF)
        self.acc &= (1 << self.nacc) - 1

    def put_code(self, code):
        """Puts a code word given as (value, length)."""
        self.put(code[0], code[1])

    def finish(self):
        """Pads with zero bits to a whole byte and returns the bytes."""
        if self.nacc:
            self.put(0, 8 - self.nacc)
        return bytes(self.bytes)


# ---------------------------------------------------------------- header

L1_RATES = [0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448]
L2_RATES = [0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384]
L3_RATES = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]
LSF_RATES = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160]
MPEG1_FREQS = [44100, 48000, 32000]
LSF_FREQS = [22050, 24000, 16000]


def put_header(w, mpeg1, layer, rate_index, freq_index, padding, mode, mode_ext):
    w.put(0x7FF, 11)
    w.put(3 if mpeg1 else 2, 2)
    w.put(4 - layer, 2)
    w.put(1, 1)  # no CRC
    w.put(rate_index, 4)
    w.put(freq_index, 2)
    w.put(padding, 1)
    w.put(0, 1)  # private bit
    w.put(mode, 2)
    w.put(mode_ext, 2)
    w.put(0, 1)  # copyright
    w.put(1, 1)  # original
    w.put(0, 2)  # no emphasis


class Padding:
    """Decides frame by frame whether the padding slot is used, so that the
    average frame length matches the bit rate."""

    def __init__(self, numerator, freq):
        self.numerator = numerator
        self.freq = freq
        self.rest = 0

    def next(self):
        self.rest += self.numerator % self.freq
        if self.rest >= self.freq:
            self.rest -= self.freq
            return 1
        return 0


def laplace(rng):
    u = rng.random()
    while u == 0.0:
        u = rng.random()
    v = -math.log(u)
    return v if rng.random() < 0.5 else -v


# ---------------------------------------------------------------- Layer III tables

LONG_START = {
    44100: [0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576],
    48000: [0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576],
    32000: [0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576],
    22050: [0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576],
}
SHORT_START = {
    44100: [0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192],
    48000: [0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192],
    32000: [0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192],
    22050: [0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192],
}
PRETAB = [0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0]
SLEN1 = [0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4]
SLEN2 = [0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3]

# Tables 16..23 share the codes of 16, 24..31 those of 24.
LINBITS = {16: 1, 17: 2, 18: 3, 19: 4, 20: 6, 21: 8, 22: 10, 23: 13,
           24: 4, 25: 5, 26: 6, 27: 7, 28: 8, 29: 9, 30: 11, 31: 13}
# Tables without escape and the largest value each codes.
PLAIN_MAX = {1: 1, 2: 2, 3: 2, 5: 3, 6: 3, 7: 5, 8: 5, 9: 5, 10: 7, 11: 7, 12: 7, 13: 15, 15: 15}


class Codes:
    """The Layer III code list: pair codes by table and the count1 codes."""

    def __init__(self, path):
        self.pair = {}  # table -> list of 256 (code, length), index x * 16 + y
        self.quad = {}  # 32/33 -> list of 16 (code, length), index v w x y
        with open(path) as f:
            for line in f:
                if line.startswith('#') or not line.strip():
                    continue
                t, x, y, length, code = line.split()
                t, x, y, length = int(t), int(x), int(y), int(length)
                assert len(code) == length
                entry = (int(code, 2), length)
                if t >= 32:
                    self.quad.setdefault(t, [None] * 16)[y] = entry
                else:
                    self.pair.setdefault(t, [None] * 256)[x * 16 + y] = entry
        for t in range(16, 24):
            self.pair[t] = self.pair[16]
        for t in range(25, 32):
            self.pair[t] = self.pair[24]
        # Code lengths alone, for counting bits quickly.
        self.pair_len = {t: [e[1] if e else 99 for e in v] for t, v in self.pair.items()}
        self.quad_len = {t: [e[1] for e in v] for t, v in self.quad.items()}


def candidate_tables(peak):
    """Tables that can code values up to `peak`."""
    if peak == 0:
        return [0]
    if peak <= 15:
        return [t for t, m in PLAIN_MAX.items() if m >= peak][:6]
    need = peak - 15
    result = []
    for group in (range(16, 24), range(24, 32)):
        for t in group:
            if (1 << LINBITS[t]) - 1 >= need:
                result.append(t)
                break
    return result


class Granule:
    """Side information and values of one granule of one channel."""

    def __init__(self):
        self.part2_3_length = 0
        self.big_values = 0
        self.global_gain = 0
        self.scalefac_compress = 0
        self.window_switching = 0
        self.block_type = 0
        self.mixed = 0
        self.table_select = [0, 0, 0]
        self.subblock_gain = [0, 0, 0]
        self.region0_count = 0
        self.region1_count = 0
        self.preflag = 0
        self.scalefac_scale = 0
        self.count1table = 0
        self.values = [0] * 576
        self.count1_end = 0
        self.sf_bits = 0
        self.long_sf = [0] * 22
        self.short_sf = [[0] * 13 for _ in range(3)]
        self.sf_write = None  # list of (value, bits) in bitstream order


class Layer3Stream:
    def __init__(self, codes, seed, mpeg1, freq, kbps, mode, seconds, short_blocks):
        self.codes = codes
        self.rng = random.Random(seed)
        self.mpeg1 = mpeg1
        self.freq = freq
        self.kbps = kbps
        self.mode = mode  # 0 stereo, 1 joint stereo (MS), 3 mono
        self.channels = 1 if mode == 3 else 2
        self.granules = 2 if mpeg1 else 1
        self.seconds = seconds
        self.short_blocks = short_blocks
        self.long_start = LONG_START[freq]
        self.short_start = SHORT_START[freq]
        freqs = MPEG1_FREQS if mpeg1 else LSF_FREQS
        self.freq_index = freqs.index(freq)
        rates = L3_RATES if mpeg1 else LSF_RATES
        self.rate_index = rates.index(kbps)
        self.frame_num = (144 if mpeg1 else 72) * kbps * 1000
        if mpeg1:
            self.side_bytes = 17 if self.channels == 1 else 32
        else:
            self.side_bytes = 9 if self.channels == 1 else 17
        self.max_begin = 511 if mpeg1 else 255
        # Bandwidth of the coded spectrum, as a line number: encoders cut
        # off lower at lower rates per channel.
        per_channel = kbps / self.channels * (1 if mpeg1 else 2)
        cutoff_hz = min(19500.0, 5500.0 + 95.0 * per_channel)
        self.cutoff = min(int(cutoff_hz / (freq / 2) * 576), 548)
        # Steady tones (a chord that changes every second), line positions.
        self.chords = []
        for _ in range(int(seconds) + 2):
            base = self.rng.uniform(3.0, 9.0)
            self.chords.append([base * k for k in (1, 1.25, 1.5, 2, 3, 4, 5)])

    # Spectrum of one granule: the values the decoder should rebuild, in
    # bitstream order for the block type.
    def spectrum(self, time, ch, block_type, mixed):
        rng = self.rng
        chord = self.chords[int(time)]
        level = 0.45 + 0.35 * math.sin(time * 2.1) ** 2
        if ch == 1 and self.mode == 1:
            level *= 0.3  # the side channel is quieter than the middle
        tilt = 60.0 + 40.0 * rng.random()
        s = [0.0] * 576
        if block_type == 2:
            # Short blocks: bands of three windows each; line frequency is
            # three times its position within a window.
            order = []
            start = 0
            if mixed:
                order = [(j, j) for j in range(36)]
                start = 3
            for b in range(start, 13):
                lo, hi = self.short_start[b], self.short_start[b + 1]
                for w in range(3):
                    for k in range(lo, hi):
                        order.append((len(order), 3 * k + 1))
            freq_of = [f for _, f in order]
            transient = 1.6
        else:
            freq_of = list(range(576))
            transient = 1.0
        for j in range(576):
            f = freq_of[j]
            if f >= self.cutoff:
                continue
            env = level * transient * 0.012 * math.exp(-f / tilt) + 0.0008 * level
            s[j] = env * laplace(rng)
        if block_type != 2:
            for k, line in enumerate(chord):
                i = int(line * (1 + 0.02 * ch))
                if i < self.cutoff:
                    s[i] += level * 0.35 / (k + 1) * (1 if rng.random() < 0.5 else -1)
        return s

    # Exponent of the quantiser step of every line, from the scale factors.
    def line_exponents(self, g):
        e = [0] * 576
        shift = 1 if g.scalefac_scale else 0
        ls = self.long_start
        ss = self.short_start
        if g.block_type == 2:
            start = 0
            if g.mixed:
                for b in range(22):
                    if ls[b] >= 36:
                        break
                    for j in range(ls[b], min(ls[b + 1], 36)):
                        e[j] = g.long_sf[b] << shift
                start = 3
            for b in range(start, 13):
                width = ss[b + 1] - ss[b]
                base = 3 * ss[b]
                for w in range(3):
                    val = (g.short_sf[w][b] << shift) + 4 * g.subblock_gain[w]
                    for j in range(base + w * width, base + (w + 1) * width):
                        e[j] = val
        else:
            for b in range(22):
                val = (g.long_sf[b] + (PRETAB[b] if g.preflag else 0)) << shift
                for j in range(ls[b], ls[b + 1]):
                    e[j] = val
        return e

    # Chooses scale factors and their widths for a granule.
    def choose_scale_factors(self, g, ch, gr, scfsi, previous):
        rng = self.rng
        if self.mpeg1:
            g.scalefac_compress = rng.choice([5, 6, 9, 10, 11, 12, 13]) if rng.random() < 0.9 else 0
            s1, s2 = SLEN1[g.scalefac_compress], SLEN2[g.scalefac_compress]
            widths = None
        else:
            widths = [rng.choice([2, 3]), rng.choice([2, 3]), rng.choice([1, 2]), rng.choice([0, 1, 2])]
            g.scalefac_compress = ((widths[0] * 5 + widths[1]) << 4) | (widths[2] << 2) | widths[3]
            s1, s2 = widths[0], widths[1]
        g.scalefac_scale = 1 if rng.random() < 0.15 else 0
        g.preflag = 1 if self.mpeg1 and g.block_type != 2 and rng.random() < 0.2 else 0

        def draw(bits, band):
            if bits == 0:
                return 0
            top = (1 << bits) - 1
            return min(top, int(abs(laplace(rng)) * (1.0 + band * 0.08)))

        write = []
        if g.block_type == 2:
            g.subblock_gain = [rng.choice([0, 0, 1, 2]) for _ in range(3)]
            if self.mpeg1:
                if g.mixed:
                    for b in range(8):
                        g.long_sf[b] = draw(s1, b)
                        write.append((g.long_sf[b], s1))
                for b in range(3 if g.mixed else 0, 12):
                    bits = s1 if b < 6 else s2
                    for w in range(3):
                        g.short_sf[w][b] = draw(bits, b)
                        write.append((g.short_sf[w][b], bits))
            else:
                raise ValueError('short blocks are only built for MPEG-1 streams')
        else:
            if self.mpeg1:
                groups = [(0, 6, s1), (6, 11, s1), (11, 16, s2), (16, 21, s2)]
                for k, (lo, hi, bits) in enumerate(groups):
                    if gr == 1 and scfsi[k]:
                        for b in range(lo, hi):
                            g.long_sf[b] = previous.long_sf[b]
                        continue
                    for b in range(lo, hi):
                        g.long_sf[b] = draw(bits, b)
                        write.append((g.long_sf[b], bits))
            else:
                counts = [6, 5, 5, 5]
                b = 0
                for part in range(4):
                    for _ in range(counts[part]):
                        g.long_sf[b] = draw(widths[part], b)
                        if widths[part]:
                            write.append((g.long_sf[b], widths[part]))
                        b += 1
        g.sf_write = write
        g.sf_bits = sum(bits for _, bits in write)

    def region_bounds(self, g):
        """First lines of big-value regions 1 and 2."""
        ls = self.long_start
        if g.block_type == 2:
            return [36, 576]
        if g.window_switching:
            return [ls[8], 576]
        return [ls[min(g.region0_count + 1, 22)], ls[min(g.region0_count + g.region1_count + 2, 22)]]

    # Huffman coding of the quantised values: regions, tables and the bit count.
    def layout(self, g, q):
        last_big = -1
        last_nz = -1
        for j in range(575, -1, -1):
            v = q[j]
            if v and last_nz < 0:
                last_nz = j
            if v > 1 or v < -1:
                last_big = j
                break
        big_end = (last_big + 2) // 2 * 2
        big_end = min(big_end, 576)
        count1_end = big_end
        if last_nz >= big_end:
            count1_end = big_end + (last_nz - big_end + 4) // 4 * 4
            if count1_end > 576:
                # A last quadruple would reach past line 575: code that
                # stretch as big values instead.
                big_end = min(576, (last_nz + 2) // 2 * 2)
                count1_end = big_end
        g.big_values = big_end // 2
        # Region boundaries: about a third and two thirds of the way.
        ls = self.long_start
        if not g.window_switching:
            r0 = 0
            while r0 < 15 and ls[r0 + 1] < big_end * 0.3:
                r0 += 1
            r1 = 0
            while r1 < 7 and r0 + r1 + 2 < 22 and ls[r0 + r1 + 2] < big_end * 0.7:
                r1 += 1
            g.region0_count, g.region1_count = r0, r1
        bounds = self.region_bounds(g)
        regions = [(0, min(bounds[0], big_end)), (min(bounds[0], big_end), min(bounds[1], big_end)),
                   (min(bounds[1], big_end), big_end)]
        bits = 0
        tables = []
        for lo, hi in regions:
            mags = [abs(v) for v in q[lo:hi]]
            peak = max(mags) if mags else 0
            best_t, best_bits = 0, 0
            if peak > 0:
                best_bits = None
                for t in candidate_tables(peak):
                    lens = self.codes.pair_len[t]
                    lin = LINBITS.get(t, 0)
                    n = 0
                    for i in range(0, len(mags), 2):
                        x, y = mags[i], mags[i + 1]
                        if x >= 15:
                            n += lin
                            x = 15
                        if y >= 15:
                            n += lin
                            y = 15
                        n += lens[x * 16 + y]
                    if best_bits is None or n < best_bits:
                        best_t, best_bits = t, n
                best_bits += sum(1 for m in mags if m)
            tables.append(best_t)
            bits += best_bits
        g.table_select = tables
        # count1 region: table A or B, whichever is shorter.
        quads = []
        for j in range(big_end, count1_end, 4):
            quads.append((abs(q[j]) << 3) | (abs(q[j + 1]) << 2) | (abs(q[j + 2]) << 1) | abs(q[j + 3]))
        signs = sum(1 for j in range(big_end, count1_end) if q[j])
        a = sum(self.codes.quad_len[32][k] for k in quads)
        b = sum(self.codes.quad_len[33][k] for k in quads)
        g.count1table = 0 if a <= b else 1
        bits += min(a, b) + signs
        g.count1_end = count1_end
        return bits

    def quantise(self, weighted, gain):
        step = 2.0 ** (-(gain - 210) / 4.0)
        out = [0] * 576
        for j, (a, negative) in enumerate(weighted):
            if a == 0.0:
                continue
            v = int((a * step) ** 0.75 + 0.4054)
            if v:
                if v > 8206:
                    v = 8206
                out[j] = -v if negative else v
        return out

    # Searches the global gain that makes the granule fit `budget` bits.
    def code_granule(self, g, spectrum, budget):
        exps = self.line_exponents(g)
        weighted = [(abs(s) * 2.0 ** (e / 2.0), s < 0) for s, e in zip(spectrum, exps)]
        budget = min(budget, 4095) - g.sf_bits
        lo, hi = 0, 255
        best = None
        while lo <= hi:
            mid = (lo + hi) // 2
            q = self.quantise(weighted, mid)
            bits = self.layout(g, q)
            if bits <= budget:
                best = (mid, q, bits)
                hi = mid - 1
            else:
                lo = mid + 1
        if best is None:
            best = (255, [0] * 576, 0)
        gain, q, bits = best
        self.layout(g, q)
        g.global_gain = gain
        g.values = q
        g.part2_3_length = g.sf_bits + bits

    def write_granule(self, w, g):
        start = w.count
        for value, bits in g.sf_write:
            w.put(value, bits)
        q = g.values
        bounds = self.region_bounds(g)
        big_end = 2 * g.big_values
        for i in range(0, big_end, 2):
            t = g.table_select[0] if i < bounds[0] else g.table_select[1] if i < bounds[1] else g.table_select[2]
            if t == 0:
                continue
            lin = LINBITS.get(t, 0)
            x, y = q[i], q[i + 1]
            ax, ay = abs(x), abs(y)
            w.put_code(self.codes.pair[t][min(ax, 15) * 16 + min(ay, 15)])
            if lin and ax >= 15:
                w.put(ax - 15, lin)
            if ax:
                w.put(1 if x < 0 else 0, 1)
            if lin and ay >= 15:
                w.put(ay - 15, lin)
            if ay:
                w.put(1 if y < 0 else 0, 1)
        table = 32 + g.count1table
        for j in range(big_end, g.count1_end, 4):
            vals = q[j:j + 4]
            k = (abs(vals[0]) << 3) | (abs(vals[1]) << 2) | (abs(vals[2]) << 1) | abs(vals[3])
            w.put_code(self.codes.quad[table][k])
            for v in vals:
                if v:
                    w.put(1 if v < 0 else 0, 1)
        assert w.count - start == g.part2_3_length, (w.count - start, g.part2_3_length)

    def put_side_info(self, w, main_data_begin, scfsi, grans):
        if self.mpeg1:
            w.put(main_data_begin, 9)
            w.put(0, 5 if self.channels == 1 else 3)
            for ch in range(self.channels):
                for k in range(4):
                    w.put(scfsi[ch][k], 1)
        else:
            w.put(main_data_begin, 8)
            w.put(0, 1 if self.channels == 1 else 2)
        for gr in range(self.granules):
            for ch in range(self.channels):
                g = grans[gr][ch]
                w.put(g.part2_3_length, 12)
                w.put(g.big_values, 9)
                w.put(g.global_gain, 8)
                w.put(g.scalefac_compress, 4 if self.mpeg1 else 9)
                w.put(g.window_switching, 1)
                if g.window_switching:
                    w.put(g.block_type, 2)
                    w.put(g.mixed, 1)
                    w.put(g.table_select[0], 5)
                    w.put(g.table_select[1], 5)
                    for k in range(3):
                        w.put(g.subblock_gain[k], 3)
                else:
                    for k in range(3):
                        w.put(g.table_select[k], 5)
                    w.put(g.region0_count, 4)
                    w.put(g.region1_count, 3)
                if self.mpeg1:
                    w.put(g.preflag, 1)
                w.put(g.scalefac_scale, 1)
                w.put(g.count1table, 1)

    def block_types(self, count):
        """Block type of every granule: mostly long, with runs of short
        blocks entered through a start block and left through a stop block."""
        types = []
        mixed = []
        i = 0
        while len(types) < count:
            if self.short_blocks and i > 6 and self.rng.random() < 0.06:
                run = self.rng.choice([1, 2, 3])
                use_mixed = self.rng.random() < 0.4
                types += [1] + [2] * run + [3]
                mixed += [0] + [1 if use_mixed else 0] * run + [0]
                i = 0
            else:
                types.append(0)
                mixed.append(0)
                i += 1
        # The stream ends on a long block.
        types, mixed = types[:count], mixed[:count]
        for k in range(len(types) - 1, -1, -1):
            if types[k] == 0:
                break
            types[k], mixed[k] = 0, 0
        return types, mixed

    def frame_target(self, grans, slots, capacity):
        """Bits a frame aims to spend: around its own share, more when it
        holds short blocks. `capacity` is what the reservoir allows."""
        short_share = sum(1 for gr in range(self.granules) if grans[gr][0].block_type == 2) / self.granules
        return slots * 8 * self.rng.uniform(0.9, 1.08) * (1.0 + 0.5 * short_share)

    def choose_scfsi(self, grans):
        """Which scale-factor groups the second granule takes over from the
        first, per channel."""
        scfsi = [[0] * 4 for _ in range(self.channels)]
        if self.mpeg1:
            for ch in range(self.channels):
                if grans[0][ch].block_type == 0 and grans[1][ch].block_type == 0:
                    scfsi[ch] = [1 if self.rng.random() < 0.3 else 0 for _ in range(4)]
        return scfsi

    def granule_lines(self, index, ch, g):
        """The spectrum of granule `index` (counted over the whole stream)
        of channel `ch`, in bitstream order for g's block type."""
        return self.spectrum(index * 576 / self.freq, ch, g.block_type, g.mixed)

    def build(self):
        samples_per_frame = 1152 if self.mpeg1 else 576
        frame_count = int(self.seconds * self.freq / samples_per_frame)
        types, mixed = self.block_types(frame_count * self.granules)
        padding = Padding(self.frame_num, self.freq)
        out = bytearray()
        main = bytearray()  # main data of all frames, as laid out in the frames' slots
        area_start = 0      # where this frame's main-data slots begin, in `main`
        data_end = 0        # end of the last frame's main data, in `main`
        previous = [None, None]
        frames = []
        for f in range(frame_count):
            pad = padding.next()
            frame_len = self.frame_num // self.freq + pad
            slots = frame_len - 4 - self.side_bytes
            begin = min(area_start - data_end, self.max_begin)
            data_start = area_start - begin
            capacity = (begin + slots) * 8
            # Bits this frame spends, never more than the reservoir allows.
            grans = [[Granule() for _ in range(self.channels)] for _ in range(self.granules)]
            weight_sum = 0.0
            weights = []
            for gr in range(self.granules):
                bt = types[f * self.granules + gr]
                for ch in range(self.channels):
                    g = grans[gr][ch]
                    g.block_type = bt
                    g.window_switching = 1 if bt != 0 else 0
                    g.mixed = mixed[f * self.granules + gr] if bt == 2 else 0
                    wgt = (1.5 if bt == 2 else 1.0) * (0.55 if (self.mode == 1 and ch == 1) else 1.0)
                    weights.append(wgt)
                    weight_sum += wgt
            target = min(self.frame_target(grans, slots, capacity), capacity - 8)
            scfsi = self.choose_scfsi(grans)
            k = 0
            used = 0
            for gr in range(self.granules):
                for ch in range(self.channels):
                    g = grans[gr][ch]
                    prev = grans[0][ch] if gr == 1 else previous[ch]
                    self.choose_scale_factors(g, ch, gr, scfsi[ch], prev)
                    lines = self.granule_lines(f * self.granules + gr, ch, g)
                    # What earlier granules left unused goes to the later ones.
                    share = int((target - used) * weights[k] / sum(weights[k:]))
                    share = max(0, min(share, capacity - 8 - used))
                    self.code_granule(g, lines, share)
                    used += g.part2_3_length
                    k += 1
            for ch in range(self.channels):
                previous[ch] = grans[self.granules - 1][ch]
            # Main data of this frame.
            w = BitWriter()
            for gr in range(self.granules):
                for ch in range(self.channels):
                    self.write_granule(w, grans[gr][ch])
            data = w.finish()
            assert len(data) <= begin + slots
            need = area_start + slots
            if len(main) < need:
                main.extend(bytes(need - len(main)))
            main[data_start:data_start + len(data)] = data
            data_end = data_start + len(data)
            # The frame: header, side information, its slots of main data.
            h = BitWriter()
            put_header(h, self.mpeg1, 3, self.rate_index, self.freq_index, pad, self.mode,
                       2 if self.mode == 1 else 0)
            self.put_side_info(h, begin, scfsi, grans)
            # The slots are copied out at the end: later frames may still
            # put the start of their main data into them.
            frames.append((h.finish(), area_start, slots))
            area_start += slots
        for head, start, slots in frames:
            out += head
            out += main[start:start + slots]
        return bytes(out)


# ---------------------------------------------------------------- Layers I and II

# Layer II quantisation classes: (levels, bits per code, grouped).
L2_CLASSES = {
    3: (5, True), 5: (7, True), 7: (3, False), 9: (10, True), 15: (4, False), 31: (5, False),
    63: (6, False), 127: (7, False), 255: (8, False), 511: (9, False), 1023: (10, False),
    2047: (11, False), 4095: (12, False), 8191: (13, False), 16383: (14, False), 32767: (15, False),
    65535: (16, False),
}
L2_SET_0_2 = [0, 3, 7, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 16383, 32767, 65535]
L2_SET_3_10 = [0, 3, 5, 7, 9, 15, 31, 63, 127, 255, 511, 1023, 2047, 4095, 8191, 65535]
L2_SET_11_22 = [0, 3, 5, 7, 9, 15, 31, 65535]
L2_SET_23_31 = [0, 3, 5, 65535]


def l2_set(sb):
    if sb <= 2:
        return L2_SET_0_2, 4
    if sb <= 10:
        return L2_SET_3_10, 4
    if sb <= 22:
        return L2_SET_11_22, 3
    return L2_SET_23_31, 2


def l2_sample_bits(levels):
    bits, grouped = L2_CLASSES[levels]
    return 12 * bits if grouped else 36 * bits


def subband_level(rng, sb, t):
    """How loud a subband is, in scale-factor steps (2 dB each) below full
    scale: the low subbands loud, falling off with frequency."""
    return 8 + int(sb * 1.4 + 3 * math.sin(t * 1.7 + sb * 0.4) ** 2 + rng.random() * 3)


def allocate_greedily(alloc, levels, used, bits, step_cost):
    """Raises allocations one step at a time where the signal stands highest
    above the noise of its current allocation, while the frame has room.
    step_cost(ch, sb, a) gives the bits of the next step from a, or None.
    Returns the bits used."""
    while True:
        best = None
        for ch in range(len(alloc)):
            for sb in range(len(alloc[ch])):
                a = alloc[ch][sb]
                cost = step_cost(ch, sb, a)
                if cost is None or used + cost > bits:
                    continue
                score = -levels[ch][sb] * 1.0 - 3.0 * a
                if best is None or score > best[0]:
                    best = (score, ch, sb, cost)
        if best is None:
            return used
        _, ch, sb, cost = best
        alloc[ch][sb] += 1
        used += cost


def draw_code(rng, levels):
    mid = (levels - 1) / 2.0
    c = int(round(mid + laplace(rng) * levels / 7.0))
    return max(0, min(levels - 1, c))


class SubbandStream:
    """What the Layer I and II builders share: the random source, the
    header indices, the padding and the frame count."""

    def __init__(self, seed, rates, freq, kbps, slot_numerator, samples_per_frame, seconds):
        self.rng = random.Random(seed)
        self.rate_index = rates.index(kbps)
        self.freq_index = MPEG1_FREQS.index(freq)
        self.numerator = slot_numerator * kbps * 1000
        self.padding = Padding(self.numerator, freq)
        self.frames = int(seconds * freq / samples_per_frame)


def build_layer1(seed, freq, kbps, seconds):
    st = SubbandStream(seed, L1_RATES, freq, kbps, 12, 384, seconds)
    rng, rate_index, freq_index, numerator, padding, frames = (
        st.rng, st.rate_index, st.freq_index, st.numerator, st.padding, st.frames)
    out = bytearray()
    for f in range(frames):
        pad = padding.next()
        bits = (numerator // freq + pad) * 32
        t = f * 384 / freq
        levels = [[subband_level(rng, sb, t + ch) for sb in range(32)] for ch in range(2)]
        alloc = [[0] * 32 for _ in range(2)]
        used = 32 + 2 * 32 * 4

        def step_cost(ch, sb, a):
            if a >= 14:
                return None
            return 12 * (2 if a == 0 else 1) + (6 if a == 0 else 0)

        used = allocate_greedily(alloc, levels, used, bits, step_cost)
        w = BitWriter()
        put_header(w, True, 1, rate_index, freq_index, pad, 0, 0)
        for sb in range(32):
            for ch in range(2):
                w.put(alloc[ch][sb], 4)
        for sb in range(32):
            for ch in range(2):
                if alloc[ch][sb]:
                    w.put(min(62, levels[ch][sb]), 6)
        for s in range(12):
            for sb in range(32):
                for ch in range(2):
                    a = alloc[ch][sb]
                    if a:
                        nb = a + 1
                        w.put(draw_code(rng, (1 << nb) - 1), nb)
        assert w.count == used
        w.put(0, bits - w.count)
        out += w.finish()
    return bytes(out)


def build_layer2(seed, freq, kbps, seconds):
    st = SubbandStream(seed, L2_RATES, freq, kbps, 144, 1152, seconds)
    rng, rate_index, freq_index, numerator, padding, frames = (
        st.rng, st.rate_index, st.freq_index, st.numerator, st.padding, st.frames)
    per_channel = kbps // 2
    if freq == 48000 or per_channel <= 80:
        sblimit = 27
    else:
        sblimit = 30
    out = bytearray()
    for f in range(frames):
        pad = padding.next()
        bits = (numerator // freq + pad) * 8
        t = f * 1152 / freq
        levels = [[subband_level(rng, sb, t + ch) for sb in range(sblimit)] for ch in range(2)]
        alloc = [[0] * sblimit for _ in range(2)]
        scfsi = [[0] * sblimit for _ in range(2)]
        used = 32 + 2 * sum(l2_set(sb)[1] for sb in range(sblimit))

        def scale_bits(sel):
            return 2 + (18 if sel == 0 else 6 if sel == 2 else 12)

        for ch in range(2):
            for sb in range(sblimit):
                scfsi[ch][sb] = rng.choice([0, 1, 2, 2, 3])

        def step_cost(ch, sb, a):
            table, _ = l2_set(sb)
            if a + 1 >= len(table):
                return None
            cost = l2_sample_bits(table[a + 1]) - (l2_sample_bits(table[a]) if a else 0)
            return cost + (scale_bits(scfsi[ch][sb]) if a == 0 else 0)

        used = allocate_greedily(alloc, levels, used, bits, step_cost)
        w = BitWriter()
        put_header(w, True, 2, rate_index, freq_index, pad, 0, 0)
        for sb in range(sblimit):
            for ch in range(2):
                w.put(alloc[ch][sb], l2_set(sb)[1])
        for sb in range(sblimit):
            for ch in range(2):
                if alloc[ch][sb]:
                    w.put(scfsi[ch][sb], 2)
        for sb in range(sblimit):
            for ch in range(2):
                if alloc[ch][sb]:
                    count = {0: 3, 1: 2, 2: 1, 3: 2}[scfsi[ch][sb]]
                    for _ in range(count):
                        w.put(min(62, max(0, levels[ch][sb] + rng.choice([-1, 0, 0, 1]))), 6)
        for gr in range(12):
            for sb in range(sblimit):
                for ch in range(2):
                    a = alloc[ch][sb]
                    if not a:
                        continue
                    levels_n = l2_set(sb)[0][a]
                    nbits, grouped = L2_CLASSES[levels_n]
                    if grouped:
                        d = [draw_code(rng, levels_n) for _ in range(3)]
                        w.put(d[0] + levels_n * d[1] + levels_n * levels_n * d[2], nbits)
                    else:
                        for _ in range(3):
                            w.put(draw_code(rng, levels_n), nbits)
        assert w.count == used, (w.count, used)
        w.put(0, bits - w.count)
        out += w.finish()
    return bytes(out)


# ---------------------------------------------------------------- main

def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--codes', default=os.path.join(here, '..', '..', 'shared', 'tables', 'huffman-codes.tsv'))
    parser.add_argument('--out', default=os.path.join(here, 'streams'))
    args = parser.parse_args()
    if not os.path.exists(args.codes):
        for alt in ('/work/shared/tables/huffman-codes.tsv',):
            if os.path.exists(alt):
                args.codes = alt
    codes = Codes(args.codes)
    os.makedirs(args.out, exist_ok=True)

    jobs = [
        ('l3-128k-joint-44k.mp3', lambda: Layer3Stream(codes, 1301, True, 44100, 128, 1, 4.0, True).build()),
        ('l3-320k-stereo-48k.mp3', lambda: Layer3Stream(codes, 1302, True, 48000, 320, 0, 2.0, True).build()),
        ('l3-64k-mono-44k.mp3', lambda: Layer3Stream(codes, 1303, True, 44100, 64, 3, 4.0, False).build()),
        ('l3-lsf-64k-joint-22k.mp3', lambda: Layer3Stream(codes, 1304, False, 22050, 64, 1, 4.0, False).build()),
        ('l2-192k-stereo-48k.mp3', lambda: build_layer2(1305, 48000, 192, 3.0)),
        ('l1-384k-stereo-44k.mp3', lambda: build_layer1(1306, 44100, 384, 2.0)),
    ]
    for name, job in jobs:
        data = job()
        with open(os.path.join(args.out, name), 'wb') as f:
            f.write(data)
        print(f'{name}: {len(data)} bytes', file=sys.stderr)


if __name__ == '__main__':
    main()
