#pragma once

#include "layer3/Layer3Tables.h"

#include <array>

namespace zumo {

// The fast long-block inverse MDCT of Layer3Hybrid.cpp, written once for
// T = float (one subband) and for vectors of floats that hold the same
// value of several subbands, one per lane (the hybrid kernels): each lane
// then takes exactly the arithmetic of the float form.

template <typename T>
struct Complex {
    T re;
    T im;
};

// z * e^(-i angle), the angle given by its cosine and sine.
template <typename T>
[[gnu::always_inline]] inline Complex<T> RotateBack(Complex<T> z, Rotation r) {
    return {z.re * r.c + z.im * r.s, z.im * r.c - z.re * r.s};
}

// Forward 3-point DFT of (a, b, c) in place; sqrt(3)/2 is its one constant.
template <typename T>
[[gnu::always_inline]] inline void Dft3(Complex<T>& a, Complex<T>& b, Complex<T>& c) {
    constexpr float kHalfSqrt3 = 0.86602540378443864676f;
    const Complex<T> t{b.re + c.re, b.im + c.im};
    const Complex<T> d{(b.re - c.re) * kHalfSqrt3, (b.im - c.im) * kHalfSqrt3};
    const Complex<T> m{a.re - 0.5f * t.re, a.im - 0.5f * t.im};
    a = {a.re + t.re, a.im + t.im};
    b = {m.re + d.im, m.im - d.re};
    c = {m.re - d.im, m.im + d.re};
}

// DCT-IV of 18 values, Z[m] = sum X[k] cos(pi/72 (2m + 1)(2k + 1)), through
// a 9-point complex DFT: the even inputs and the reversed odd inputs form
// 9 complex values, rotated before and after the DFT. The DFT itself is
// two stages of 3-point DFTs with one twiddle stage between them.
template <typename T>
[[gnu::always_inline]] inline void Dct4Size18(const T* x, T* z) {
    Complex<T> v[9];
    for (int n = 0; n < 9; ++n) v[n] = RotateBack(Complex<T>{x[2 * n], x[17 - 2 * n]}, dct18Twiddle[n]);
    // Stage 1: 3-point DFTs over n1 for each n2 (index 3 n1 + n2).
    for (int n2 = 0; n2 < 3; ++n2) Dft3(v[n2], v[n2 + 3], v[n2 + 6]);
    // Twiddles e^(-2 pi i p1 n2 / 9); v[3 p1 + n2] holds output p1 of DFT n2.
    v[4] = RotateBack(v[4], dft9Twiddle[1]);
    v[5] = RotateBack(v[5], dft9Twiddle[2]);
    v[7] = RotateBack(v[7], dft9Twiddle[2]);
    v[8] = RotateBack(v[8], dft9Twiddle[4]);
    // Stage 2: 3-point DFTs over n2 for each p1; output p = p1 + 3 p2.
    for (int p1 = 0; p1 < 3; ++p1) Dft3(v[3 * p1], v[3 * p1 + 1], v[3 * p1 + 2]);
    for (int p1 = 0; p1 < 3; ++p1) {
        for (int p2 = 0; p2 < 3; ++p2) {
            const int p = p1 + 3 * p2;
            const Complex<T> s = RotateBack(v[3 * p1 + p2], dct18Twiddle[p]);
            z[2 * p] = s.re;
            z[17 - 2 * p] = -s.im;
        }
    }
}

// The 36 windowed outputs of a long-block inverse MDCT from the 18 DCT-IV
// values z (see Layer3Decoder::InvMdct).
template <typename T>
[[gnu::always_inline]] inline void WindowLong(const T* z, const std::array<float, 36>& window, T* output) {
    for (int i = 0; i < 9; ++i) output[i] = window[i] * z[9 + i];
    for (int i = 9; i < 27; ++i) output[i] = -window[i] * z[26 - i];
    for (int i = 27; i < 36; ++i) output[i] = -window[i] * z[i - 27];
}

} // namespace zumo
