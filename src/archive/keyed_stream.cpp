#include "archive/keyed_stream.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "archive/format.h"
#include "platform/vector.h"

namespace dat::detail {

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

uint8_t advance(uint8_t k, size_t n) {
    return static_cast<uint8_t>(k + keyStepValue * (n & 0xFF));
}

// dst[i] = src[i] ^ run[i % 256], run holding two periods.
VECTOR_CLONES
void xorRun(uint8_t* dst, const uint8_t* src, size_t n, const uint8_t* run) {
    size_t i = 0;
    // A lane at a time; memcpy makes the loads and stores unaligned-safe and
    // lets dst and src be the same buffer.
    for (; i + period <= n; i += period) {
        for (size_t j = 0; j < period; j += sizeof(Lane)) {
            Lane a, k;
            std::memcpy(&a, src + i + j, sizeof a);
            std::memcpy(&k, run + j, sizeof k);
            a ^= k;
            std::memcpy(dst + i + j, &a, sizeof a);
        }
    }
    for (size_t j = 0; i + j < n; ++j) dst[i + j] = src[i + j] ^ run[j];
}

}  // namespace

void keyBlock(uint8_t* dst, const uint8_t* src, size_t n, uint8_t startKey) {
    xorRun(dst, src, n, keyRun.data() + phaseOf(startKey));
}

bool resetFile(KeyedFile& f) {
    if (f.pendingSize > 0 && !flushData(f)) return false;
    // A pipe cannot seek, but one that stands at 0 needs no seek.
    if (filePosition(f.file) != 0 && !fileSeek(f.file, 0)) return false;
    f.key = initialKey;
    return true;
}

bool seekFile(KeyedFile& f, uint64_t target) {
    if (f.pendingSize > 0 && !flushData(f)) return false;
    if (filePosition(f.file) == target) return true;
    if (!fileSeek(f.file, target)) return false;
    f.key = keyAt(target);
    return true;
}

bool ReadData(KeyedFile& f, void* buf, size_t n, uint8_t scrambled) {
    if (n == 0 || fileRead(f.file, buf, n) != n) return false;
    auto* bytes = static_cast<uint8_t*>(buf);
    if (scrambled) keyBlock(bytes, bytes, n, f.key);
    f.key = advance(f.key, n);
    return true;
}

bool readAt(const File& f, uint64_t offset, void* buf, size_t n, uint8_t scrambled) {
    if (n == 0 || fileReadAt(f, offset, buf, n) != n) return false;
    auto* bytes = static_cast<uint8_t*>(buf);
    if (scrambled) keyBlock(bytes, bytes, n, keyAt(offset));
    return true;
}

// Bytes handed to WriteData wait in the handle's buffer, already scrambled
// where asked, and go out a whole buffer at a time: a run of small files
// costs one write between them instead of one each.
bool WriteData(KeyedFile& f, const void* bytes, size_t n, uint8_t scrambled) {
    const auto* src = static_cast<const uint8_t*>(bytes);
    bool whole = true;
    std::vector<uint8_t>& pending = f.pending;
    size_t& pendingSize = f.pendingSize;
    if (pending.empty()) pending.resize(transferSize);
    while (n > 0) {
        // A plain stretch of a whole buffer or more needs no copy.
        if (!scrambled && pendingSize == 0 && n >= pending.size()) {
            whole = fileWrite(f.file, src, n) == n && whole;
            f.key = advance(f.key, n);
            break;
        }
        const size_t piece = std::min(n, pending.size() - pendingSize);
        uint8_t* dst = pending.data() + pendingSize;
        if (scrambled)
            keyBlock(dst, src, piece, f.key);
        else
            std::memcpy(dst, src, piece);
        f.key = advance(f.key, piece);
        pendingSize += piece;
        src += piece;
        n -= piece;
        if (pendingSize == pending.size()) whole = flushData(f) && whole;
    }
    return whole;
}

bool WriteMoved(KeyedFile& f, uint8_t* buf, size_t n, uint64_t from, uint8_t wasScrambled,
                uint8_t scrambled) {
    if (wasScrambled || scrambled) {
        // The key there and the key here differ by the same bytes every
        // period: one pass takes the bytes from the one to the other.
        std::array<uint8_t, 2 * period> mask{};
        const uint8_t there = keyAt(from);
        for (size_t i = 0; i < mask.size(); ++i)
            mask[i] = static_cast<uint8_t>((wasScrambled ? advance(there, i) : 0) ^
                                           (scrambled ? advance(f.key, i) : 0));
        xorRun(buf, buf, n, mask.data());
    }
    // A whole buffer goes out as it is only after what waits.
    if (n >= transferSize && f.pendingSize > 0 && !flushData(f)) return false;
    return WriteData(f, buf, n, 0);
}

uint64_t copyPlain(KeyedFile& f, const File& from, uint64_t at, uint64_t n, bool& toFailed) {
    toFailed = !flushData(f);
    if (toFailed) return 0;
    const uint64_t done = fileCopy(from, at, f.file, n, toFailed);
    f.key = advance(f.key, static_cast<size_t>(done & 0xFF));
    return done;
}

bool flushData(KeyedFile& f) {
    const size_t n = f.pendingSize;
    f.pendingSize = 0;
    return n == 0 || fileWrite(f.file, f.pending.data(), n) == n;
}

}  // namespace dat::detail
