#include "archive/keyed_stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "archive/format.h"

uint8_t key = initialKey;
const uint8_t keyStep = keyStepValue;

namespace {

// The key stream repeats every 256 bytes. Two periods back to back let any
// 256-byte stretch be read from one starting index without wrapping, so the
// XOR loop is a plain run the compiler vectorises.
constexpr size_t period = 256;

std::array<uint8_t, 2 * period> makeKeyRun() {
    std::array<uint8_t, 2 * period> run{};
    for (size_t i = 0; i < run.size(); ++i) run[i] = keyAt(i);
    return run;
}
const std::array<uint8_t, 2 * period> keyRun = makeKeyRun();

// keyStep is odd, so it has an inverse modulo 256 that turns a key back
// into its offset modulo 256.
constexpr uint8_t inverseStep() {
    uint8_t x = 1;
    while (static_cast<uint8_t>(x * keyStepValue) != 1) ++x;
    return x;
}

size_t phaseOf(uint8_t k) {
    return static_cast<uint8_t>(static_cast<uint8_t>(k - initialKey) * inverseStep());
}

uint8_t advance(uint8_t k, size_t n) { return static_cast<uint8_t>(k + keyStepValue * (n & 0xFF)); }

// Scratch for scrambled writes, allocated once and reused.
constexpr size_t scratchSize = 1 << 20;
std::vector<uint8_t> scratch;

}  // namespace

// Where the compiler can, build AVX-512 and AVX2 copies of keyBlock beside the
// baseline one and pick between them when the program starts.
#if defined(__GNUC__) && defined(__x86_64__) && defined(__linux__) && !defined(__clang__)
#define VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VECTOR_CLONES
#endif

VECTOR_CLONES
void keyBlock(uint8_t* dst, const uint8_t* src, size_t n, uint8_t startKey) {
    const uint8_t* run = keyRun.data() + phaseOf(startKey);
    size_t i = 0;
#if defined(__GNUC__)
    // 64 bytes per step as one vector value; memcpy makes the loads and
    // stores unaligned-safe and lets dst and src be the same buffer.
    typedef uint8_t Lane __attribute__((vector_size(64)));
    for (; i + period <= n; i += period) {
        for (size_t j = 0; j < period; j += sizeof(Lane)) {
            Lane a, k;
            std::memcpy(&a, src + i + j, sizeof a);
            std::memcpy(&k, run + j, sizeof k);
            a ^= k;
            std::memcpy(dst + i + j, &a, sizeof a);
        }
    }
#endif
    for (; i + period <= n; i += period)
        for (size_t j = 0; j < period; ++j) dst[i + j] = src[i + j] ^ run[j];
    for (size_t j = 0; i + j < n; ++j) dst[i + j] = src[i + j] ^ run[j];
}

void resetFile(File& f) {
    key = initialKey;
    fileSeek(f, 0);
}

void seekFile(File& f, uint64_t target) {
    if (filePosition(f) == target) return;
    key = keyAt(target);
    fileSeek(f, target);
}

bool ReadData(File& f, void* buf, size_t n, uint8_t scrambled) {
    if (n == 0 || fileRead(f, buf, n) != n) return false;
    auto* bytes = static_cast<uint8_t*>(buf);
    if (scrambled) keyBlock(bytes, bytes, n, key);
    key = advance(key, n);
    return true;
}

bool WriteData(File& f, const void* bytes, size_t n, uint8_t scrambled) {
    const auto* src = static_cast<const uint8_t*>(bytes);
    bool whole = true;
    if (!scrambled) {
        whole = fileWrite(f, src, n) == n;
        key = advance(key, n);
        return whole;
    }
    if (scratch.size() < n && scratch.size() < scratchSize)
        scratch.resize(std::min(scratchSize, std::max(n, scratchSize / 16)));
    while (n > 0) {
        size_t piece = n < scratch.size() ? n : scratch.size();
        keyBlock(scratch.data(), src, piece, key);
        key = advance(key, piece);
        whole = fileWrite(f, scratch.data(), piece) == piece && whole;
        src += piece;
        n -= piece;
    }
    return whole;
}

uint8_t* transferBuffer() {
    static std::vector<uint8_t> buffer(transferSize);
    return buffer.data();
}
