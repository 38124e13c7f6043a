#include "subband/Layer2Tables.h"

namespace zumo {

namespace {

template <int L>
constexpr std::array<std::array<float, 3>, L * L * L> MakeGrouping() {
    std::array<std::array<float, 3>, L * L * L> table{};
    for (int v = 0; v < L * L * L; ++v) {
        int rest = v;
        for (int i = 0; i < 3; ++i) {
            const int digit = rest % L;
            rest /= L;
            table[v][i] = static_cast<float>(2 * digit - (L - 1)) / static_cast<float>(L);
        }
    }
    return table;
}

constexpr auto kGroups3 = MakeGrouping<3>();
constexpr auto kGroups5 = MakeGrouping<5>();
constexpr auto kGroups9 = MakeGrouping<9>();

// Class numbers, for reading the sets below.
enum : int8_t {
    N = -1, // no samples
    L3 = 0,
    L5,
    L7,
    L9,
    L15,
    L31,
    L63,
    L127,
    L255,
    L511,
    L1023,
    L2047,
    L4095,
    L8191,
    L16383,
    L32767,
    L65535,
};

// MPEG-1, bit rates of 56 kbit/s per channel and more (ISO/IEC 11172-3,
// Tables B.2a and B.2b).
constexpr AllocationSet kSubbands0To2 = {N,    L3,    L7,    L15,   L31,   L63,    L127,   L255,
                                         L511, L1023, L2047, L4095, L8191, L16383, L32767, L65535};
constexpr AllocationSet kSubbands3To10 = {N,    L3,   L5,   L7,    L9,    L15,   L31,   L63,
                                          L127, L255, L511, L1023, L2047, L4095, L8191, L65535};
constexpr AllocationSet kSubbands11To22 = {N, L3, L5, L7, L9, L15, L31, L65535, N, N, N, N, N, N, N, N};
constexpr AllocationSet kSubbands23To31 = {N, L3, L5, L65535, N, N, N, N, N, N, N, N, N, N, N, N};
// MPEG-1, 32 and 48 kbit/s per channel, every subband (ISO/IEC 11172-3,
// Tables B.2c and B.2d).
constexpr AllocationSet kLowRate = {N,    L3,   L5,    L9,    L15,   L31,   L63,    L127,
                                    L255, L511, L1023, L2047, L4095, L8191, L16383, L32767};
// MPEG-2 lower sampling frequencies, every bit rate (ISO/IEC 13818-3, Annex B).
constexpr AllocationSet kLsfSubbands0To3 = {N,    L3,   L5,   L7,    L9,    L15,   L31,   L63,
                                            L127, L255, L511, L1023, L2047, L4095, L8191, L16383};
constexpr AllocationSet kLsfSubbands4To10 = {N, L3, L5, L9, L15, L31, L63, L127, N, N, N, N, N, N, N, N};
constexpr AllocationSet kLsfSubbands11To29 = {N, L3, L5, L9, N, N, N, N, N, N, N, N, N, N, N, N};

} // namespace

const GroupingTable grouping3 = {3, 27, kGroups3.data()};
const GroupingTable grouping5 = {5, 125, kGroups5.data()};
const GroupingTable grouping9 = {9, 729, kGroups9.data()};

// C and D are the standard's decimals in single precision.
const std::array<QuantClass, kLayer2ClassCount> layer2Classes = {{
    {5, &grouping3, 0.0f, 1.33333333333f, 0.5f},
    {7, &grouping5, 0.0f, 1.60000000000f, 0.5f},
    {3, nullptr, 0.25f, 1.14285714286f, 0.25f},
    {10, &grouping9, 0.0f, 1.77777777777f, 0.5f},
    {4, nullptr, 0.125f, 1.06666666666f, 0.125f},
    {5, nullptr, 0.0625f, 1.03225806452f, 0.0625f},
    {6, nullptr, 0.03125f, 1.01587301587f, 0.03125f},
    {7, nullptr, 0.015625f, 1.00787401575f, 0.015625f},
    {8, nullptr, 0.0078125f, 1.00392156863f, 0.0078125f},
    {9, nullptr, 0.00390625f, 1.00195694716f, 0.00390625f},
    {10, nullptr, 0.001953125f, 1.00097751711f, 0.001953125f},
    {11, nullptr, 0.0009765625f, 1.00048851979f, 0.0009765625f},
    {12, nullptr, 0.00048828125f, 1.00024420024f, 0.00048828125f},
    {13, nullptr, 0.000244140625f, 1.00012208522f, 0.00024414063f},
    {14, nullptr, 0.0001220703125f, 1.00006103888f, 0.00012207031f},
    {15, nullptr, 0.00006103515625f, 1.00003051851f, 0.00006103516f},
    {16, nullptr, 0.000030517578125f, 1.00001525902f, 0.00003051758f},
}};

const AllocationSet& Layer2AllocationSet(bool lowSamplingFrequency, bool lowRate, int32_t subband) {
    if (lowSamplingFrequency) {
        if (subband <= 3) return kLsfSubbands0To3;
        if (subband <= 10) return kLsfSubbands4To10;
        return kLsfSubbands11To29;
    }
    if (lowRate) return kLowRate;
    if (subband <= 2) return kSubbands0To2;
    if (subband <= 10) return kSubbands3To10;
    if (subband <= 22) return kSubbands11To22;
    return kSubbands23To31;
}

} // namespace zumo
