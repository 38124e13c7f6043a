#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace zumo {

// MPEG audio is a stream of bits, first bit most significant. The decoder
// holds it in big-endian words: the file's bytes in the order they stand,
// the first at the top of the word, so that the stream's next bit is always
// the word's highest. The frame header is such a word, and so is every word
// of the frame buffer and every look into the Layer III reservoir; these
// functions are the one place where file bytes become such words.

// A word loaded from memory as it stands, turned into a big-endian word.
inline uint32_t FromBigEndian(uint32_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(v);
    return v;
}
inline uint64_t FromBigEndian(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
}

// The four bytes at p as a big-endian word (a frame header as it stands in
// the file).
inline uint32_t BigEndianWord(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return FromBigEndian(v);
}

} // namespace zumo
