#include "layer3/HuffmanTables.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace zumo {

const HuffCodeWord huffCodeWords[] = {
#include "layer3/HuffmanCodes.inc"
};
const size_t huffCodeWordCount = sizeof(huffCodeWords) / sizeof(huffCodeWords[0]);

namespace {

// Widest level of a lookup: 256 entries of 4 bytes. Codes longer than 8 bits
// (tables 7, 8 and 10-16, 24) continue in further levels.
constexpr int kLevelBits = 8;

// Fills one level of the lookup for the code words in `words`, all of which
// share their first `depth` bits; returns the level's offset.
uint32_t BuildLevel(std::vector<uint32_t>& out, const std::vector<HuffCodeWord>& words, int depth, int width,
                    int maxWidth) {
    const auto offset = static_cast<uint32_t>(out.size());
    out.resize(out.size() + (size_t{1} << width), 0);
    std::array<std::vector<HuffCodeWord>, 1 << kLevelBits> longer;
    if (width > kLevelBits) return offset; // not reached: widths are capped by the caller
    for (const HuffCodeWord& word : words) {
        const int rest = word.length - depth;
        if (rest <= width) {
            const uint32_t suffix = word.code & ((1u << rest) - 1u);
            const uint32_t first = suffix << (width - rest);
            const uint32_t last = (suffix + 1) << (width - rest);
            const uint32_t entry = huff::kLeaf | static_cast<uint32_t>(rest) << 8 | static_cast<uint32_t>(word.x) << 4 |
                                   word.y;
            for (uint32_t i = first; i < last; ++i) out[offset + i] = entry;
        } else {
            longer[(word.code >> (rest - width)) & ((1u << width) - 1u)].push_back(word);
        }
    }
    for (uint32_t i = 0; i < (1u << width); ++i) {
        if (longer[i].empty()) continue;
        int maxRest = 0;
        for (const HuffCodeWord& word : longer[i]) maxRest = std::max(maxRest, word.length - depth - width);
        const int subWidth = std::min(maxRest, maxWidth);
        const uint32_t sub = BuildLevel(out, longer[i], depth + width, subWidth, maxWidth);
        out[offset + i] = huff::kLink | sub << 5 | static_cast<uint32_t>(subWidth);
    }
    return offset;
}

struct TableSet {
    std::array<std::vector<uint32_t>, 34> lookups; // indexed by the table whose codes it holds
    std::array<HuffCodeTable, 34> tables;

    TableSet() {
        struct Row {
            int xLen, yLen, linBits, codes; // codes: table whose code words are used; -1 none
        };
        static constexpr Row rows[34] = {
            {0, 0, 0, -1},    {2, 2, 0, 1},     {3, 3, 0, 2},    {3, 3, 0, 3},    {0, 0, 0, -1},    {4, 4, 0, 5},
            {4, 4, 0, 6},     {6, 6, 0, 7},     {6, 6, 0, 8},    {6, 6, 0, 9},    {8, 8, 0, 10},    {8, 8, 0, 11},
            {8, 8, 0, 12},    {16, 16, 0, 13},  {0, 0, 0, -1},   {16, 16, 0, 15}, {16, 16, 1, 16},  {16, 16, 2, 16},
            {16, 16, 3, 16},  {16, 16, 4, 16},  {16, 16, 6, 16}, {16, 16, 8, 16}, {16, 16, 10, 16}, {16, 16, 13, 16},
            {16, 16, 4, 24},  {16, 16, 5, 24},  {16, 16, 6, 24}, {16, 16, 7, 24}, {16, 16, 8, 24},  {16, 16, 9, 24},
            {16, 16, 11, 24}, {16, 16, 13, 24}, {1, 16, 0, 32},  {1, 16, 0, 33},
        };
        std::array<int, 34> rootBits{};
        for (int t = 0; t < 34; ++t) {
            std::vector<HuffCodeWord> words;
            int maxLength = 0;
            for (size_t i = 0; i < huffCodeWordCount; ++i) {
                if (huffCodeWords[i].table != t) continue;
                words.push_back(huffCodeWords[i]);
                maxLength = std::max<int>(maxLength, huffCodeWords[i].length);
            }
            if (words.empty()) continue;
            rootBits[t] = std::min(maxLength, kLevelBits);
            lookups[t] = BuildHuffLookup(words.data(), words.size(), rootBits[t]);
        }
        for (int t = 0; t < 34; ++t) {
            HuffCodeTable& table = tables[t];
            std::snprintf(table.name, sizeof(table.name), "%d", t);
            table.xLen = rows[t].xLen;
            table.yLen = rows[t].yLen;
            table.linBits = rows[t].linBits;
            table.count1 = t >= 32;
            if (rows[t].codes >= 0) {
                table.lookup = lookups[rows[t].codes].data();
                table.rootBits = rootBits[rows[t].codes];
            }
        }
    }
};

} // namespace

std::vector<uint32_t> BuildHuffLookup(const HuffCodeWord* words, size_t count, int rootBits) {
    std::vector<uint32_t> out;
    const int width = std::clamp(rootBits, 1, kLevelBits);
    BuildLevel(out, std::vector<HuffCodeWord>(words, words + count), 0, width, width);
    return out;
}

const HuffCodeTable* HuffTables() {
    static const TableSet set;
    return set.tables.data();
}

int32_t HuffmanDecode(const HuffCodeTable& table, int32_t& x, int32_t& y, int32_t& v, int32_t& w, BitReserve& reservoir,
                      int32_t limit) {
    BitReserve::Cursor bits(reservoir, limit);
    const int32_t result = DecodeHuffmanCode(table, x, y, v, w, bits);
    reservoir.SkipBits(bits.Taken());
    return result;
}

} // namespace zumo
