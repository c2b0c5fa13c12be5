// The keyed XOR against plain copying of the same cache-resident buffer.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "archive/format.h"
#include "archive/keyed_stream.h"

using namespace dat::detail;

namespace {

constexpr size_t bufferSize = 256 << 10;

void keyedXor(benchmark::State& state) {
    std::vector<uint8_t> src(bufferSize, 0x5A), dst(bufferSize);
    uint8_t start = keyAt(13);
    for (auto _ : state) {
        keyBlock(dst.data(), src.data(), dst.size(), start);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bufferSize);
}

// The straightforward way: one running key byte, advanced per byte.
void runningKeyXor(benchmark::State& state) {
    std::vector<uint8_t> src(bufferSize, 0x5A), dst(bufferSize);
    for (auto _ : state) {
        uint8_t k = keyAt(13);
        for (size_t i = 0; i < bufferSize; ++i) {
            dst[i] = src[i] ^ k;
            k = static_cast<uint8_t>(k + keyStep);
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bufferSize);
}

void copy(benchmark::State& state) {
    std::vector<uint8_t> src(bufferSize, 0x5A), dst(bufferSize);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bufferSize);
}

}  // namespace

BENCHMARK(keyedXor);
BENCHMARK(runningKeyXor);
BENCHMARK(copy);
BENCHMARK_MAIN();
