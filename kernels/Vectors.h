#pragma once

#include <cstdint>
#include <cstring>

// The vector types of the kernels: the compiler's own vectors, whose
// arithmetic is lane by lane what the same arithmetic on one value gives.
// Four floats or two doubles fit SSE2 (every x86-64 processor), twice as
// many AVX2, four times as many AVX-512. The project compiles without fused
// multiply-adds, so each product and each sum is rounded by itself on every
// width, as in the stages' plain loops.
namespace zumo::kernels {

typedef float Float4 __attribute__((vector_size(16)));
typedef float Float8 __attribute__((vector_size(32)));
typedef float Float16 __attribute__((vector_size(64)));
typedef double Double2 __attribute__((vector_size(16)));
typedef double Double4 __attribute__((vector_size(32)));
typedef double Double8 __attribute__((vector_size(64)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Lanes of a vector type.
template <typename V, typename T>
inline constexpr int kLanesOf = static_cast<int>(sizeof(V) / sizeof(T));

// Loads and stores of whole vectors at any alignment. (The vector is an
// argument, not the result: a function that returns a wide vector would
// need the wide instruction set for its own calling convention.)
template <typename V, typename T>
[[gnu::always_inline]] inline void Load(V& v, const T* from) {
    std::memcpy(&v, from, sizeof v);
}

template <typename V, typename T>
[[gnu::always_inline]] inline void Store(T* to, const V& v) {
    std::memcpy(to, &v, sizeof v);
}

} // namespace zumo::kernels
