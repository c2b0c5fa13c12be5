// Hashes of names for the tables built from an archive's names. Each table
// draws its own key, so an archive cannot be made of names that all land on
// one slot and turn every lookup into a walk over all of them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace dat::detail {

struct NameHash {
    // Polynomials in the key over this prime: two different names of n
    // bytes collide under at most n / 3 + 2 of its keys.
    static constexpr uint64_t prime = (uint64_t(1) << 31) - 1;
    uint64_t key;

    // The key comes from the clock and where the table lives, mixed.
    explicit NameHash(const void* salt) {
        uint64_t x = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                     uint64_t(reinterpret_cast<uintptr_t>(salt));
        x += 0x9E3779B97F4A7C15u;
        x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9u;
        x = (x ^ (x >> 27)) * 0x94D049BB133111EBu;
        key = 1 + (x ^ (x >> 31)) % (prime - 1);
    }

    // Of name in the directory numbered dir, spread over 64 bits; take the
    // high bits for a table of a power of two.
    uint64_t operator()(uint64_t dir, std::string_view name) const {
        uint64_t h = dir % prime;
        size_t i = 0;
        // Three bytes at a time, each step's term at least 1, so names of
        // different lengths make different polynomials.
        for (; i + 3 <= name.size(); i += 3) h = step(h, chunk(name, i, 3));
        if (i < name.size()) h = step(h, chunk(name, i, name.size() - i));
        h = step(h, name.size() % prime);
        return h * 0x9E3779B97F4A7C15u;
    }

   private:
    static uint64_t chunk(std::string_view name, size_t at, size_t n) {
        uint64_t c = 0;
        for (size_t k = 0; k < n; ++k) c |= uint64_t(static_cast<unsigned char>(name[at + k])) << (8 * k);
        return c;
    }
    // h * key + term + 1 modulo the prime; h, key and term below 2^31.
    uint64_t step(uint64_t h, uint64_t term) const {
        uint64_t x = h * key + term + 1;
        x = (x & prime) + (x >> 31);
        x = (x & prime) + (x >> 31);
        return x >= prime ? x - prime : x;
    }
};

}  // namespace dat::detail
