#pragma once

#include "stream/BitReserve.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zumo {

// One code word of the Layer III Huffman code list: the low `length` bits of
// `code`, first bit most significant, stand for the pair (x, y); for the
// count1 tables 32 and 33, x is 0 and y holds the four bits v w x y.
struct HuffCodeWord {
    uint8_t table;
    uint8_t x;
    uint8_t y;
    uint8_t length;
    uint32_t code;
};

// The full code list (tables 1-13, 15, 16, 24, 32, 33), ISO/IEC 11172-3, Table B.7.
extern const HuffCodeWord huffCodeWords[];
extern const size_t huffCodeWordCount;

// A code table. The codes are held as a multi-level lookup: the first
// `rootBits` bits index the root level; each entry is either a code word
// (its value and how many of the looked-at bits it uses), a link to a
// further level of the lookup with its width, or empty.
struct HuffCodeTable {
    char name[4] = {};
    int32_t xLen = 0;
    int32_t yLen = 0;
    int32_t linBits = 0;
    const uint32_t* lookup = nullptr; // nullptr: the table codes nothing (0, 4, 14)
    int32_t rootBits = 0;
    bool count1 = false; // quadruple table (32, 33)
};

// Lookup entries.
namespace huff {
inline constexpr uint32_t kLeaf = 0x40000000u; // | bits used << 8 | value (x << 4 | y)
inline constexpr uint32_t kLink = 0x80000000u; // | level offset << 5 | level width
} // namespace huff

// The 34 tables (0-31 big values, 32 and 33 count1), built once on first use.
const HuffCodeTable* HuffTables();

// Builds the lookup of one code: `words` holds every code word of it.
// Entries no code word reaches stay empty (0). Level widths are at most
// `rootBits`.
std::vector<uint32_t> BuildHuffLookup(const HuffCodeWord* words, size_t count, int rootBits);

// Reads n bits (0..17) from the reservoir as long as they lie before
// `limit` (a position in the reservoir's totalBits count); bits at or past
// the limit read as 0, so nothing beyond the main data that has been put
// in is ever taken as data. The read position moves on by n either way.
inline uint32_t ReadMainBits(BitReserve& reservoir, int32_t limit, int n) {
    const int32_t avail = limit - reservoir.totalBits;
    uint32_t v = reservoir.GetBits(static_cast<uint32_t>(n));
    if (avail < n) v = avail <= 0 ? 0 : v & ~((1u << (n - avail)) - 1u);
    return v;
}

// Decodes one code word with `table` from `bits`, which reads like
// BitReserve::Cursor (Peek: the next bits, first bit highest; Skip: move on).
// Results as for HuffmanDecode below.
template <typename Bits>
inline int32_t DecodeHuffmanCode(const HuffCodeTable& table, int32_t& x, int32_t& y, int32_t& v, int32_t& w,
                                 Bits& bits) {
    if (table.lookup == nullptr) {
        x = y = 0;
        return 0;
    }

    // Every level of the lookup indexes the next bits of one look at the
    // reservoir; only the bits the code word uses are then taken. The
    // longest code word plus all its level widths stays within 32 bits.
    int32_t result = 1;
    uint64_t word = bits.Peek();
    uint32_t offset = 0;
    int width = table.rootBits;
    int used = 0;
    for (;;) {
        const auto index = static_cast<uint32_t>((word << used) >> (64 - width));
        const uint32_t entry = table.lookup[offset + index];
        if (entry & huff::kLeaf) {
            used += static_cast<int>((entry >> 8) & 31u);
            x = static_cast<int32_t>((entry >> 4) & 15u);
            y = static_cast<int32_t>(entry & 15u);
            result = 0;
            break;
        }
        used += width;
        if (entry & huff::kLink) {
            offset = (entry & 0x3FFFFFFFu) >> 5;
            width = static_cast<int>(entry & 31u);
            continue;
        }
        // No code word: like a bit-by-bit walk that gives up after 32 bits.
        if (used < 32) used = 32;
        break;
    }
    // Escapes and signs: at most 2 x (13 + 1) bits. Behind a code word
    // (19 bits at most) they lie within the same look of 48 bits; after a
    // failed lookup the cursor looks again.
    int taken = used;
    if (used > 48 - 28) {
        bits.Skip(used);
        word = bits.Peek();
        taken = 0;
    }
    auto take = [&word, &taken](int n) {
        const auto value = static_cast<int32_t>((word << taken) >> (64 - n));
        taken += n;
        return value;
    };
    // A nonzero value takes one sign bit, 1 meaning negative. Without
    // jumps: sign bits are as good as random, so a branch on them would be
    // mispredicted every other time.
    auto sign = [&word, &taken](int32_t value) {
        const int32_t nonzero = value != 0 ? 1 : 0;
        const int32_t negative = static_cast<int32_t>((word << taken) >> 63) & nonzero;
        taken += nonzero;
        return (value ^ -negative) + negative;
    };

    if (table.count1) {
        v = sign((y >> 3) & 1);
        w = sign((y >> 2) & 1);
        x = sign((y >> 1) & 1);
        y = sign(y & 1);
    } else {
        if (table.linBits > 0 && x == table.xLen - 1) x += take(table.linBits);
        x = sign(x);
        if (table.linBits > 0 && y == table.yLen - 1) y += take(table.linBits);
        y = sign(y);
    }
    bits.Skip(taken);
    return result;
}

// Decodes one code word with `table`. Result 0: decoded into x, y (and v, w
// for the count1 tables), escapes and signs applied; 1: no code word
// within 32 bits, x and y keep the values they had (signs and escapes are
// still read, as after a successful lookup). The empty tables give x = y =
// 0 and read nothing.
// One code word at a time, straight from the reservoir: the form the tests
// read every code word of every table through (HuffmanTest). The decoder
// does not call it: Layer3Decoder::DecodeSamples reads a granule's codes
// through one cursor with DecodeHuffmanCode, the same reading underneath,
// and the Samples cases of HuffmanTest check that reading of whole granules.
int32_t HuffmanDecode(const HuffCodeTable& table, int32_t& x, int32_t& y, int32_t& v, int32_t& w, BitReserve& reservoir,
                      int32_t limit);

} // namespace zumo
