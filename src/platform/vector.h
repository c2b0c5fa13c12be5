// What the compiler and processor offer the keyed XOR, the program's one hot
// loop, so that the code using it needs no conditional compilation.
#pragma once

#include <cstdint>

namespace dat::detail {

// Functions marked VECTOR_CLONES are built once per instruction set listed
// and the best one for the processor is picked when the program starts.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
#define VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VECTOR_CLONES
#endif

// 64 bytes XORed as one value: a vector register (or two, or four) where
// the compiler has vector types, a plain loop elsewhere.
#if defined(__GNUC__)
typedef uint8_t Lane __attribute__((vector_size(64)));
#else
struct Lane {
    uint8_t b[64];
    Lane& operator^=(const Lane& o) {
        for (int i = 0; i < 64; ++i) b[i] ^= o.b[i];
        return *this;
    }
};
#endif

}  // namespace dat::detail
