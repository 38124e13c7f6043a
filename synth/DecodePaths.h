#pragma once

#include <atomic>
#include <cstdint>

namespace zumo {

// The decoder's fast stages each have a plainer form that gives the same
// results, or results within single-float rounding of them:
// - Fastest: the widest vectors the processor runs (AVX2 or AVX-512 where
//   it has them);
// - Portable: the same fast factorisations on the baseline vectors (SSE2
//   on x86-64) only, bit for bit the same output as Fastest;
// - Straightforward: the cosine transform of the synthesis filter and the
//   inverse MDCT by their defining sums.
// Decoding uses Fastest. Tests switch paths to decode whole streams each
// way and compare; a switch takes effect at the next block.
enum class DecodePath : uint8_t { Fastest, Portable, Straightforward };

namespace detail {
extern std::atomic<DecodePath> decodePath;
} // namespace detail

inline void SetDecodePath(DecodePath path) { detail::decodePath.store(path, std::memory_order_relaxed); }
inline DecodePath CurrentDecodePath() { return detail::decodePath.load(std::memory_order_relaxed); }

// Whether the processor runs AVX2, and AVX-512F (checked once).
bool HaveAvx2();
bool HaveAvx512();

} // namespace zumo
