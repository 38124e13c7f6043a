#pragma once

#include <cstdint>

namespace zumo {

// ISO/IEC 11172-3, Table B.8 (44.1, 48, 32 kHz); ISO/IEC 13818-3, Annex B
// (22.05, 24, 16 kHz); MPEG-2.5 has no ISO/IEC table.
// Scale-factor band boundaries, one row per frequencyIndex (22.05, 24, 16,
// 44.1, 48, 32 kHz, then the MPEG-2.5 rates 11.025, 12 and 8 kHz):
// longStart holds the first line of each long band 0..21 and 576;
// shortStart the first line, within one window, of each short band 0..12
// and 192.
struct BandRow {
    int32_t longStart[23];
    int32_t shortStart[14];
};

inline constexpr int32_t kBandRows = 9;

// clang-format off
// 16 kHz, and the MPEG-2.5 rates 11.025 and 12 kHz.
inline constexpr BandRow kBands16k = {
    {0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
    {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 134, 174, 192}};

inline constexpr BandRow bandTable[kBandRows] = {
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 116, 140, 168, 200, 238, 284, 336, 396, 464, 522, 576},
     {0, 4, 8, 12, 18, 24, 32, 42, 56, 74, 100, 132, 174, 192}},
    {{0, 6, 12, 18, 24, 30, 36, 44, 54, 66, 80, 96, 114, 136, 162, 194, 232, 278, 332, 394, 464, 540, 576},
     {0, 4, 8, 12, 18, 26, 36, 48, 62, 80, 104, 136, 180, 192}},
    kBands16k,
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 52, 62, 74, 90, 110, 134, 162, 196, 238, 288, 342, 418, 576},
     {0, 4, 8, 12, 16, 22, 30, 40, 52, 66, 84, 106, 136, 192}},
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576},
     {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192}},
    {{0, 4, 8, 12, 16, 20, 24, 30, 36, 44, 54, 66, 82, 102, 126, 156, 194, 240, 296, 364, 448, 550, 576},
     {0, 4, 8, 12, 16, 22, 30, 42, 58, 78, 104, 138, 180, 192}},
    // MPEG-2.5: 11.025 and 12 kHz use the bands of 16 kHz; 8 kHz has bands
    // of twice those widths up to line 476 (160 in a short window), and the
    // last bands squeezed into what is left.
    kBands16k,
    kBands16k,
    {{0, 12, 24, 36, 48, 60, 72, 88, 108, 132, 160, 192, 232, 280, 336, 400, 476, 566, 568, 570, 572, 574, 576},
     {0, 8, 16, 24, 36, 52, 72, 96, 124, 160, 162, 164, 166, 192}},
};
// clang-format on

// The line where short band 3 begins in a granule's three windows: line 36
// at every rate but 8 kHz, where it is line 72. The long part of a mixed
// block ends there (long bands 0..7 at MPEG-1 rates, 0..5 at the lower ones,
// which reach line 72 at 8 kHz: two subbands, four at 8 kHz), and so does
// the first Huffman region of short and mixed blocks.
constexpr int32_t ShortBand3Line(const BandRow& bands) { return 3 * bands.shortStart[3]; }

} // namespace zumo
