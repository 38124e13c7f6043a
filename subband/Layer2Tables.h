#pragma once

#include <array>
#include <cstdint>

namespace zumo {

// Ungrouping (ISO/IEC 11172-3, 2.4.3.3).
// The samples of every codeword of a grouped class: entry v holds the three
// requantised samples of codeword v, first sample from the lowest base-L digit.
struct GroupingTable {
    int32_t levels;                     // 3, 5 or 9
    int32_t entries;                    // levels^3
    const std::array<float, 3>* values; // entries triples
};

extern const GroupingTable grouping3;
extern const GroupingTable grouping5;
extern const GroupingTable grouping9;

// ISO/IEC 11172-3, Table B.4.
// A Layer II quantisation class. Grouped classes carry a grouping table and
// need no further requantisation; ungrouped codes c become
// ((c * stepFactor - 1) + classD) * classC. All zero: no samples.
struct QuantClass {
    int32_t codeBits = 0;
    const GroupingTable* groupTable = nullptr;
    float stepFactor = 0.0f;
    float classC = 0.0f;
    float classD = 0.0f;
};

// The 17 classes, 3 to 65535 levels.
constexpr int32_t kLayer2ClassCount = 17;
extern const std::array<QuantClass, kLayer2ClassCount> layer2Classes;

// Class numbers (into layer2Classes) by allocation code 0..15; -1 means the
// code carries no samples. The narrower sets are padded with -1.
using AllocationSet = std::array<int8_t, 16>;

// The set of a subband: for MPEG-2 lower sampling frequencies the one
// table of those streams; for MPEG-1 the low-rate set when lowRate, else
// the set of the subband's range.
const AllocationSet& Layer2AllocationSet(bool lowSamplingFrequency, bool lowRate, int32_t subband);

} // namespace zumo
