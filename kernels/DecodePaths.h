#pragma once

#include <atomic>
#include <cstdint>

namespace zumo {

// The decoder's fast stages each have a plainer form that gives the same
// results, or results within single-float rounding of them:
// - Fastest: the kernels on the widest vectors the processor runs (AVX2 or
//   AVX-512 where it has them);
// - Portable: the same kernels on the baseline vectors (SSE2 on x86-64)
//   only, bit for bit the same output as Fastest;
// - Straightforward: no kernels at all, every stage's own plain loops, and
//   the cosine transform of the synthesis filter and the inverse MDCT by
//   their defining sums.
// Decoding uses Fastest. Tests switch paths to decode whole streams each
// way and compare; a switch takes effect at the next block.
enum class DecodePath : uint8_t { Fastest, Portable, Straightforward };

// The instruction sets the kernels are written for, narrowest first. None:
// the stages run their plain loops.
enum class VectorSet : uint8_t { None, Sse2, Avx2, Avx512 };

namespace detail {
extern std::atomic<DecodePath> decodePath;
extern std::atomic<VectorSet> vectorSet;
} // namespace detail

// Chooses the path, and with it the kernels' instruction set.
void SetDecodePath(DecodePath path);
inline DecodePath CurrentDecodePath() { return detail::decodePath.load(std::memory_order_relaxed); }

// The set the kernels run on: on the fastest path the widest the processor
// runs (found once, while the program starts), SSE2 on the portable path,
// None on the straightforward one.
inline VectorSet CurrentVectorSet() { return detail::vectorSet.load(std::memory_order_relaxed); }

} // namespace zumo
