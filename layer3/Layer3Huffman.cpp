#include "layer3/BandTable.h"
#include "layer3/HuffmanTables.h"
#include "layer3/Layer3Decoder.h"

#include <algorithm>
#include <iterator>

namespace zumo {

// Huffman decoding (ISO/IEC 11172-3, 2.4.3.4; the codes of Table B.7).
bool Layer3Decoder::DecodeSamples(int ch, int gr) {
    const GranuleInfo& g = sideInfo.ch[ch].gr[gr];
    const HuffCodeTable* tables = HuffTables();
    const BandRow& bands = bandTable[std::clamp(frequencyIndex, 0, kBandRows - 1)];

    // Side information that no encoder can write: the granule is silenced
    // rather than decoded from bits that mean something else. The reader
    // still moves to where the granule's data ends.
    bool consistent = true;

    // The granule's data ends part2_3_length bits after its scale factors,
    // but never beyond the main data that has been put in.
    int32_t end = part2Start + g.part2_3_length;
    if (end > mainDataLimit) {
        end = mainDataLimit;
        ++truncatedGranules;
        consistent = false;
    }
    // The scale factors took more bits than the granule has.
    if (reservoir.totalBits > end) consistent = false;
    // More big values than lines.
    if (g.big_values > 288) consistent = false;

    // Short and mixed blocks: the first region ends where short band 3
    // begins, the second holds the rest.
    int32_t region1 = ShortBand3Line(bands);
    int32_t region2 = 576;
    if (!(g.window_switching_flag && g.block_type == 2)) {
        // Region counts must end on a band edge; corrupt ones could point
        // past the last band: clamp them.
        if (g.region0_count + g.region1_count + 2 > 22) consistent = false;
        region1 = bands.longStart[std::min(g.region0_count + 1, 22)];
        region2 = bands.longStart[std::min(g.region0_count + g.region1_count + 2, 22)];
    }

    const int32_t bigEnd = 2 * g.big_values;
    const int32_t regionEnd[3] = {std::min(region1, bigEnd), std::min(region2, bigEnd), bigEnd};
    // Tables 4 and 14 do not exist: a region that holds lines cannot use them.
    for (int r = 0, begin = 0; r < 3; begin = std::max(begin, regionEnd[r]), ++r) {
        const int32_t table = g.table_select[r] & 31;
        if (regionEnd[r] > begin && (table == 4 || table == 14)) consistent = false;
    }

    int32_t i = 0;
    if (consistent) {
        // The codes are read through a cursor of local positions; the
        // reservoir catches up once the granule's codes are read.
        BitReserve::Cursor bits(reservoir, mainDataLimit);

        // A code with no code word leaves its outputs as they were; in the
        // first call of a granule that gives zeros.
        int32_t x = 0, y = 0, v = 0, w = 0;
        for (int r = 0; r < 3; ++r) {
            const HuffCodeTable& table = tables[g.table_select[r] & 31];
            for (; i < regionEnd[r]; i += 2) {
                DecodeHuffmanCode(table, x, y, v, w, bits);
                huffSamples[i] = x;
                huffSamples[i + 1] = y;
            }
        }
        // The big values cannot run past the granule's data.
        if (bits.TotalBits() > end) consistent = false;

        const HuffCodeTable& quadTable = tables[32 + (g.count1table_select & 1)];
        const int32_t count1Start = i;
        // i is even: the last quadruple may begin at line 574, and its last
        // two values land in the two entries beyond line 575.
        while (bits.TotalBits() < end && i < 576) {
            DecodeHuffmanCode(quadTable, x, y, v, w, bits);
            huffSamples[i] = v;
            huffSamples[i + 1] = w;
            huffSamples[i + 2] = x;
            huffSamples[i + 3] = y;
            i += 4;
        }
        reservoir.SkipBits(bits.Taken());

        if (consistent && reservoir.totalBits > end) {
            // The last quadruple ran past the granule's data: put the reader
            // back and drop it.
            ++overrunGranules;
            if (i > count1Start) i -= 4;
        }
        // A quadruple begun at line 574 is stuffing when its last two
        // values are zero; values beyond line 575 cannot be.
        if (i > 576 && (huffSamples[576] | huffSamples[577]) != 0) consistent = false;
    }

    if (reservoir.totalBits > end) reservoir.RewindBits(reservoir.totalBits - end);
    while (reservoir.totalBits < end) {
        // Stuffing bits up to the end of the granule's data.
        reservoir.GetBits(static_cast<uint32_t>(std::min(end - reservoir.totalBits, 16)));
    }

    if (!consistent) {
        ++silencedGranules;
        i = 0;
    }
    i = std::clamp(i, 0, 576);
    nonZeroCount[ch] = i;
    std::fill(huffSamples + i, std::end(huffSamples), 0);
    return consistent;
}

} // namespace zumo
