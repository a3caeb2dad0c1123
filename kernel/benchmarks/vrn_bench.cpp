// Resource-name parsing and rendering. Each case reports bytes of VRN text
// handled per second; run the Release build.
#include <benchmark/benchmark.h>

#include <string>

#include "veltrane_kernel/vrn.hpp"

namespace {

using veltrane_kernel::Vrn;

constexpr const char* kOrg = "0190b2c4-5e6f-7a8b-9c0d-1e2f3a4b5c6d";
constexpr const char* kId = "0190b2c4-5e70-7123-8567-89abcdef0123";

// A typical name, 103 bytes: every field present, both UUIDs to decode.
const std::string kTypical = std::string("vrn:vlt:iam:us-east-1:") + kOrg + ":project/" + kId;
// 75 bytes: no org.
const std::string kNoOrg = std::string("vrn:vlt:object-store:eu-west-2::bucket/") + kId;
// Every check but the last passes: the resource id is 37 bytes.
const std::string kBadId = kTypical + "0";
const std::string kLongest = "vrn:vlt:a:::" + std::string(463, 'b') + "/" + kId;

void parse(benchmark::State& state, const std::string& text, bool expect_valid) {
    if (Vrn::parse(text).has_value() != expect_valid) {
        state.SkipWithError("input does not parse as expected");
        return;
    }
    for (auto _ : state) {
        auto parsed = Vrn::parse(text);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
    state.counters["bytes"] = static_cast<double>(text.size());
}

void BM_ParseTypical(benchmark::State& state) { parse(state, kTypical, true); }
void BM_ParseNoOrg(benchmark::State& state) { parse(state, kNoOrg, true); }
void BM_Parse512(benchmark::State& state) { parse(state, kLongest, true); }
// Refused at once by length, whatever the size.
void BM_ParseFailTooLong(benchmark::State& state) { parse(state, std::string(4096, 'x'), false); }
// Refused early, at the scheme.
void BM_ParseFailScheme(benchmark::State& state) {
    parse(state, "urn" + kTypical.substr(3), false);
}
// Refused at the very last check, the resource id.
void BM_ParseFailResourceId(benchmark::State& state) { parse(state, kBadId, false); }

void BM_Canonical(benchmark::State& state) {
    const auto parsed = Vrn::parse(kTypical);
    for (auto _ : state) {
        std::string text = parsed->canonical();
        benchmark::DoNotOptimize(text);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTypical.size()));
}

void BM_Build(benchmark::State& state) {
    for (auto _ : state) {
        auto built = Vrn::build("iam", "us-east-1", kOrg, "project", kId);
        benchmark::DoNotOptimize(built);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTypical.size()));
}

void BM_CedarEntity(benchmark::State& state) {
    const auto parsed = Vrn::parse(kTypical);
    for (auto _ : state) {
        auto entity = parsed->cedar_entity();
        benchmark::DoNotOptimize(entity);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kTypical.size()));
}

}  // namespace

BENCHMARK(BM_ParseTypical);
BENCHMARK(BM_ParseNoOrg);
BENCHMARK(BM_Parse512);
BENCHMARK(BM_ParseFailTooLong);
BENCHMARK(BM_ParseFailScheme);
BENCHMARK(BM_ParseFailResourceId);
BENCHMARK(BM_Canonical);
BENCHMARK(BM_Build);
BENCHMARK(BM_CedarEntity);
