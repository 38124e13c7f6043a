#include "subband/Layer1Tables.h"

namespace zumo {

namespace {

// N = 2^(a + 1) - 1 levels for code a; the factor is 2/N, the offset -(N - 1)/N.
constexpr std::array<float, 15> MakeFactors(bool offsets) {
    std::array<float, 15> table{};
    for (int a = 1; a < 15; ++a) {
        const double levels = static_cast<double>((1 << (a + 1)) - 1);
        table[a] = static_cast<float>(offsets ? -(levels - 1.0) / levels : 2.0 / levels);
    }
    return table;
}

} // namespace

const std::array<float, 15> layer1Factor = MakeFactors(false);
const std::array<float, 15> layer1Offset = MakeFactors(true);

} // namespace zumo
