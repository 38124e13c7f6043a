#include "layer3/BandTable.h"
#include "layer3/HuffmanTables.h"
#include "layer3/Layer3Decoder.h"

#include <algorithm>

namespace zumo {

void Layer3Decoder::DecodeSamples(int ch, int gr) {
    const GranuleInfo& g = sideInfo.ch[ch].gr[gr];
    const HuffCodeTable* tables = HuffTables();
    const BandRow& bands = bandTable[std::clamp(frequencyIndex, 0, kBandRows - 1)];

    // The granule's data ends part2_3_length bits after its scale factors,
    // but never beyond the main data that has been put in.
    int32_t end = part2Start + g.part2_3_length;
    if (end > mainDataLimit) {
        end = mainDataLimit;
        ++truncatedGranules;
    }

    // Short and mixed blocks: the first region ends where short band 3
    // begins, the second holds the rest.
    int32_t region1 = ShortBand3Line(bands);
    int32_t region2 = 576;
    if (!(g.window_switching_flag && g.block_type == 2)) {
        // Corrupt region counts could point past the last band: clamp them.
        region1 = bands.longStart[std::min(g.region0_count + 1, 22)];
        region2 = bands.longStart[std::min(g.region0_count + g.region1_count + 2, 22)];
    }

    // The codes are read through a cursor of local positions; the
    // reservoir catches up once the granule's codes are read.
    BitReserve::Cursor bits(reservoir, mainDataLimit);

    // A code with no code word leaves its outputs as they were; in the first
    // call of a granule that gives zeros.
    int32_t x = 0, y = 0, v = 0, w = 0;
    int32_t i = 0;
    const int32_t bigEnd = 2 * g.big_values;
    const int32_t regionEnd[3] = {std::min(region1, bigEnd), std::min(region2, bigEnd), bigEnd};
    for (int r = 0; r < 3; ++r) {
        const HuffCodeTable& table = tables[g.table_select[r] & 31];
        for (; i < regionEnd[r]; i += 2) {
            DecodeHuffmanCode(table, x, y, v, w, bits);
            // Pairs beyond line 575 (big_values above 288) are read but not kept.
            if (i < 576) {
                huffSamples[i] = x;
                huffSamples[i + 1] = y;
            }
        }
    }
    i = std::min(i, 576);

    const HuffCodeTable& quadTable = tables[32 + (g.count1table_select & 1)];
    bool quadruples = false;
    while (bits.TotalBits() < end && i < 576) {
        DecodeHuffmanCode(quadTable, x, y, v, w, bits);
        const int32_t values[4] = {v, w, x, y};
        for (int k = 0; k < 4 && i + k < 576; ++k) huffSamples[i + k] = values[k];
        i += 4;
        quadruples = true;
    }
    reservoir.SkipBits(bits.Taken());

    if (reservoir.totalBits > end) {
        // The last code ran past the granule's data: put the reader back and
        // drop the quadruple that crossed the end (when the big values or the
        // scale factors already ran past it, there is none to drop).
        ++overrunGranules;
        if (quadruples) i -= 4;
        reservoir.RewindBits(reservoir.totalBits - end);
    }
    while (reservoir.totalBits < end) {
        // Stuffing bits up to the end of the granule's data.
        reservoir.GetBits(static_cast<uint32_t>(std::min(end - reservoir.totalBits, 16)));
    }

    i = std::clamp(i, 0, 576);
    nonZeroCount[ch] = i;
    for (int32_t k = i; k < 576; ++k) huffSamples[k] = 0;
}

} // namespace zumo
