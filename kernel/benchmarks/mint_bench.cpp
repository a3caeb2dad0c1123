// UUIDv7 minting: bytes of entropy text consumed per second.
#include <benchmark/benchmark.h>

#include <string_view>

#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/uuid.hpp"

namespace {

using veltrane_kernel::Uuid;

constexpr std::string_view kRandHex = "0123456789abcdef0123";

void BM_MintV7(benchmark::State& state) {
    double unix_ms = 1700000000000.0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(unix_ms);
        auto minted = Uuid::mint_v7(unix_ms, kRandHex);
        benchmark::DoNotOptimize(minted);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRandHex.size()));
}

void BM_MintV7Text(benchmark::State& state) {
    for (auto _ : state) {
        auto text = Uuid::mint_v7(1700000000000.0, kRandHex)->to_hyphenated();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRandHex.size()));
}

void BM_MintV7FailUnixMs(benchmark::State& state) {
    double unix_ms = 1.5;
    for (auto _ : state) {
        benchmark::DoNotOptimize(unix_ms);
        auto minted = Uuid::mint_v7(unix_ms, kRandHex);
        benchmark::DoNotOptimize(minted);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRandHex.size()));
}

}  // namespace

BENCHMARK(BM_MintV7);
BENCHMARK(BM_MintV7Text);
BENCHMARK(BM_MintV7FailUnixMs);
