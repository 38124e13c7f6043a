#include "layer3/Layer3Tables.h"

#include "layer3/BandTable.h"

#include <cmath>
#include <numbers>

namespace zumo {

namespace {

constexpr double kPi = std::numbers::pi;

Rotation MakeRotation(double angle) {
    return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
}

} // namespace

const std::array<float, kPow43Size> pow43Table = [] {
    std::array<float, kPow43Size> t{};
    for (int32_t n = 0; n < kPow43Size; ++n) t[n] = static_cast<float>(std::pow(static_cast<double>(n), 4.0 / 3.0));
    return t;
}();

const std::array<float, kPow2HalfSize> pow2HalfTable = [] {
    std::array<float, kPow2HalfSize> t{};
    for (int32_t n = 0; n < kPow2HalfSize; ++n) t[n] = static_cast<float>(std::exp2(-0.5 * n));
    return t;
}();

const std::array<float, 16> isRatioTable = [] {
    std::array<float, 16> t{};
    for (int n = 0; n < 16; ++n) t[n] = static_cast<float>(std::tan(n * kPi / 12.0));
    t[6] = 1.0e11f;
    return t;
}();

const std::array<std::array<float, 32>, 2> lsfIntensityTable = [] {
    std::array<std::array<float, 32>, 2> t{};
    for (int n = 0; n < 32; ++n) {
        t[0][n] = static_cast<float>(std::exp2(-0.25 * n));
        t[1][n] = static_cast<float>(std::exp2(-0.5 * n));
    }
    return t;
}();

namespace {
constexpr double kAliasC[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
}

const std::array<float, 8> aliasCs = [] {
    std::array<float, 8> t{};
    for (int i = 0; i < 8; ++i) t[i] = static_cast<float>(1.0 / std::sqrt(1.0 + kAliasC[i] * kAliasC[i]));
    return t;
}();

const std::array<float, 8> aliasCa = [] {
    std::array<float, 8> t{};
    for (int i = 0; i < 8; ++i) t[i] = static_cast<float>(kAliasC[i] / std::sqrt(1.0 + kAliasC[i] * kAliasC[i]));
    return t;
}();

const std::array<std::array<float, 36>, 4> imdctLongWindow = [] {
    std::array<std::array<float, 36>, 4> t{};
    for (int i = 0; i < 36; ++i) {
        const double normal = std::sin(kPi / 36.0 * (i + 0.5));
        t[0][i] = static_cast<float>(normal);
        // Start window: normal rise, flat top, short-window fall, then zeros.
        double start = 0.0;
        if (i < 18) start = normal;
        else if (i < 24) start = 1.0;
        else if (i < 30) start = std::sin(kPi / 12.0 * (i - 18 + 0.5));
        t[1][i] = static_cast<float>(start);
        // Stop window: the start window mirrored.
        double stop = normal;
        if (i < 6) stop = 0.0;
        else if (i < 12) stop = std::sin(kPi / 12.0 * (i - 6 + 0.5));
        else if (i < 18) stop = 1.0;
        t[3][i] = static_cast<float>(stop);
    }
    return t;
}();

const std::array<float, 12> imdctShortWindow = [] {
    std::array<float, 12> t{};
    for (int i = 0; i < 12; ++i) t[i] = static_cast<float>(std::sin(kPi / 12.0 * (i + 0.5)));
    return t;
}();

const std::array<Rotation, 9> dct18Twiddle = [] {
    std::array<Rotation, 9> t{};
    for (int n = 0; n < 9; ++n) t[n] = MakeRotation(kPi * (n + 0.125) / 18.0);
    return t;
}();

const std::array<Rotation, 3> dct6Twiddle = [] {
    std::array<Rotation, 3> t{};
    for (int n = 0; n < 3; ++n) t[n] = MakeRotation(kPi * (n + 0.125) / 6.0);
    return t;
}();

const std::array<Rotation, 5> dft9Twiddle = [] {
    std::array<Rotation, 5> t{};
    for (int k = 0; k < 5; ++k) t[k] = MakeRotation(2.0 * kPi * k / 9.0);
    return t;
}();

const std::array<std::array<int16_t, 576>, kBandRows> reorderTable = [] {
    std::array<std::array<int16_t, 576>, kBandRows> t{};
    for (int row = 0; row < kBandRows; ++row) {
        const int32_t* shortStart = bandTable[row].shortStart;
        for (int b = 0; b < 13; ++b) {
            const int32_t start = shortStart[b];
            const int32_t width = shortStart[b + 1] - start;
            for (int32_t f = 0; f < width; ++f)
                for (int32_t w = 0; w < 3; ++w)
                    t[row][3 * start + 3 * f + w] = static_cast<int16_t>(3 * start + w * width + f);
        }
    }
    return t;
}();

} // namespace zumo
