#pragma once

#include "layer3/BandTable.h"

#include <array>
#include <cstdint>

namespace zumo {

// Constant tables of the Layer III back end: dequantisation, stereo
// processing, reordering, alias reduction and the inverse MDCT. All are
// computed once when the program starts and never change afterwards.

// Requantisation (ISO/IEC 11172-3, 2.4.3.4).
// n^(4/3) for n = 0..8206. Escape-coded values reach 15 + 8191 = 8206, so
// the table covers every value a stream can code; larger magnitudes are
// clamped to the last entry by the dequantiser.
inline constexpr int32_t kPow43Size = 8207;
extern const std::array<float, kPow43Size> pow43Table;

// 2^(-n/2). Scale-factor exponents of ordinary streams stay below 64;
// 5-bit LSF factors with the largest sub-block gain reach 90, so the table
// is long enough for every value the readers can produce.
inline constexpr int32_t kPow2HalfSize = 128;
extern const std::array<float, kPow2HalfSize> pow2HalfTable;

// Extra exponent of long bands 0..21 when preflag is set: the pretab
// (preemphasis) table of ISO/IEC 11172-3, Annex B.
inline constexpr int32_t pretabTable[22] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 3, 3, 3, 2, 0};

// Intensity stereo (ISO/IEC 11172-3, 2.4.3.4).
// MPEG-1 intensity ratios tan(n pi / 12), with 1.0e11 for n = 6 in place
// of an infinite value.
extern const std::array<float, 16> isRatioTable;

// LSF intensity factors (ISO/IEC 13818-3, intensity_scale): row 0
// 2^(-n/4), row 1 2^(-n/2), n = 0..31.
extern const std::array<std::array<float, 32>, 2> lsfIntensityTable;

// Alias-reduction butterflies: cs = 1/sqrt(1 + c^2), ca = c/sqrt(1 + c^2),
// c the aliasing-butterfly coefficients of ISO/IEC 11172-3, Annex B.
extern const std::array<float, 8> aliasCs;
extern const std::array<float, 8> aliasCa;

// Windowing of the inverse MDCT (ISO/IEC 11172-3, 2.4.3.4).
// Windows of the inverse MDCT: one 36-value window per long block type
// (0 normal, 1 start, 3 stop; row 2 unused) and the 12-value short window.
extern const std::array<std::array<float, 36>, 4> imdctLongWindow;
extern const std::array<float, 12> imdctShortWindow;

// Twiddles of the fast transforms (cosine and sine of each angle), see
// Layer3Hybrid.cpp: the 18-point and 6-point DCT-IV pre/post rotations and
// the inner rotations of the 9-point DFT.
struct Rotation {
    float c;
    float s;
};
extern const std::array<Rotation, 9> dct18Twiddle;
extern const std::array<Rotation, 3> dct6Twiddle;
extern const std::array<Rotation, 5> dft9Twiddle; // index p1 * n2 = 0..4

// Per sampling-frequency row: hybridOut[i] = source[reorderTable[row][i]]
// for a pure short block, interleaving each band's three windows.
extern const std::array<std::array<int16_t, 576>, kBandRows> reorderTable;

} // namespace zumo
