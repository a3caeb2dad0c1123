// Resource-name parsing and rendering, per operation. The parse cases run on
// every parse path this processor has (scalar, then the vector paths), each
// beside the validation of the same text on the same path; the rendering
// cases run on the path in use. Run the Release build.
#include <benchmark/benchmark.h>

#include <string>

#include "veltrane_kernel/parse_path.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace {

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::ParsePath;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnView;

constexpr const char* kOrg = "0190b2c4-5e6f-7a8b-9c0d-1e2f3a4b5c6d";
constexpr const char* kId = "0190b2c4-5e70-7123-8567-89abcdef0123";

// A typical name, 111 bytes: every field present, both UUIDs to decode.
const std::string kTypical = std::string("vrn:vlt:object-store:us-east-1:") + kOrg + ":bucket/" + kId;
// 75 bytes: no org.
const std::string kNoOrg = std::string("vrn:vlt:object-store:eu-west-2::bucket/") + kId;
// 512 bytes, the longest there is.
const std::string kLongest = "vrn:vlt:a:::" + std::string(463, 'b') + "/" + kId;
// Every check but the last passes: the resource id is 37 bytes.
const std::string kBadId = kTypical + "0";
// Refused early, at the scheme.
const std::string kBadScheme = "urn" + kTypical.substr(3);

void parse_on(benchmark::State& state, ParsePath path, const std::string& text, bool expect_valid) {
    if (veltrane_kernel::parse_with(path, text).has_value() != expect_valid) {
        state.SkipWithError("input does not parse as expected");
        return;
    }
    for (auto _ : state) {
        auto parsed = veltrane_kernel::parse_with(path, text);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The verdict alone: no record, no UUID decoded.
void validate_on(benchmark::State& state, ParsePath path, const std::string& text, bool expect_valid) {
    if (veltrane_kernel::validate_with(path, text).has_value() != expect_valid) {
        state.SkipWithError("input does not validate as expected");
        return;
    }
    for (auto _ : state) {
        auto verdict = veltrane_kernel::validate_with(path, text);
        benchmark::DoNotOptimize(verdict);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The owning parse (copies three texts) on the path in use.
void BM_VrnParseTypical(benchmark::State& state) {
    for (auto _ : state) {
        auto parsed = Vrn::parse(kTypical);
        benchmark::DoNotOptimize(parsed);
    }
}

// Renderings after a parse of the same text, as the module's functions do:
// into a buffer of the caller's, nothing allocated.
void BM_ParseCanonical(benchmark::State& state) {
    char out[MAX_VRN_LEN];
    for (auto _ : state) {
        auto parsed = VrnView::parse(kTypical);
        benchmark::DoNotOptimize(parsed->write_canonical(out));
        benchmark::ClobberMemory();
    }
}

void BM_ParseCedarEntity(benchmark::State& state) {
    char out[MAX_VRN_LEN];
    for (auto _ : state) {
        auto parsed = VrnView::parse(kTypical);
        benchmark::DoNotOptimize(parsed->write_cedar_entity(out));
        benchmark::ClobberMemory();
    }
}

void BM_Build(benchmark::State& state) {
    char out[MAX_VRN_LEN];
    for (auto _ : state) {
        auto built = Vrn::build_into("object-store", "us-east-1", kOrg, "bucket", kId, out);
        benchmark::DoNotOptimize(built);
        benchmark::ClobberMemory();
    }
}

// The same, giving an owned string.
void BM_BuildString(benchmark::State& state) {
    for (auto _ : state) {
        auto built = Vrn::build("object-store", "us-east-1", kOrg, "bucket", kId);
        benchmark::DoNotOptimize(built);
    }
}

}  // namespace

BENCHMARK(BM_VrnParseTypical);
BENCHMARK(BM_ParseCanonical);
BENCHMARK(BM_ParseCedarEntity);
BENCHMARK(BM_Build);
BENCHMARK(BM_BuildString);

int main(int argc, char** argv) {
    struct Case {
        const char* name;
        const std::string* text;
        bool valid;
    };
    static const Case kCases[] = {
        {"Typical111", &kTypical, true},    {"NoOrg75", &kNoOrg, true},
        {"Longest512", &kLongest, true},    {"FailResourceId", &kBadId, false},
        {"FailScheme", &kBadScheme, false},
    };
    for (const Case& c : kCases) {
        for (ParsePath path : veltrane_kernel::available_parse_paths()) {
            const std::string suffix =
                std::string(c.name) + "/" + std::string(veltrane_kernel::parse_path_name(path));
            benchmark::RegisterBenchmark(("Parse" + suffix).c_str(), [c, path](benchmark::State& state) {
                parse_on(state, path, *c.text, c.valid);
            });
            benchmark::RegisterBenchmark(("Validate" + suffix).c_str(), [c, path](benchmark::State& state) {
                validate_on(state, path, *c.text, c.valid);
            });
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
