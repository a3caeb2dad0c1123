// The row loop of the column functions (run_plain: one utf8 input without
// nulls, the answers written as runs into fresh result chunks) against the
// kernel work alone over the same names (the parse and the answers, each
// answer's length taken and nothing written anywhere). The difference is
// what the loop costs a name: the offsets, the copies into the result, its
// validity, and the fresh memory of the result. A third figure, the write
// floor, is that fresh memory alone: blocks of the result's sizes taken
// from the same allocator and filled in one pass each (the answers' bytes
// and the offsets), no row looked at.
//
//     row_loop_bench --names=FILE [--names=FILE...] [benchmark flags]
//
// Each FILE holds one name a line (python/benchmarks/columns_throughput.py
// --write-names writes the project's sets). Times are per name.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "native/row_kernels.hpp"

namespace {

using namespace veltrane::arrow;
namespace rows = veltrane::native::rows;

// A set of names as one utf8 column: offsets and text.
struct Names {
    std::string label;
    std::vector<std::int32_t> offsets{0};
    std::string data;

    [[nodiscard]] OffsetRun run() const noexcept {
        return OffsetRun{data.data(), offsets.data(), static_cast<std::int64_t>(offsets.size()) - 1, false};
    }
    [[nodiscard]] std::int64_t count() const noexcept { return static_cast<std::int64_t>(offsets.size()) - 1; }
};

bool read_names(const std::string& path, Names& names) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    names.label = path.substr(path.find_last_of('/') + 1);
    std::string line;
    while (std::getline(in, line)) {
        names.data += line;
        names.offsets.push_back(static_cast<std::int32_t>(names.data.size()));
    }
    return true;
}

// Takes an answer without writing it anywhere.
struct Sink {
    std::size_t bytes = 0;
    void append(std::string_view text) noexcept {
        benchmark::DoNotOptimize(text.data());
        bytes += text.size();
    }
};

template <class Kernel>
void kernel_alone(benchmark::State& state, const Names* names) {
    const OffsetRun run = names->run();
    for (auto _ : state) {
        std::array<Sink, Kernel::kOutputs> sinks{};
        std::size_t failed = 0;
        for (std::int64_t r = 0; r < run.length; ++r) {
            const auto start = run.offset<std::int32_t>(r);
            const std::string_view text(run.data + start, static_cast<std::size_t>(run.offset<std::int32_t>(r + 1) - start));
            failed += Kernel::row(text, sinks.data()) ? 1 : 0;
        }
        benchmark::DoNotOptimize(sinks);
        benchmark::DoNotOptimize(failed);
    }
    state.SetItemsProcessed(state.iterations() * names->count());
}

// The loop as the column function runs it over a chunk, errors="null": fresh
// builders each time, as each call has.
template <class Kernel>
void row_loop(benchmark::State& state, const Names* names) {
    const OffsetRun run = names->run();
    const auto bytes = static_cast<std::size_t>(run.bytes(0, run.length));
    for (auto _ : state) {
        std::array<StringBuilder, Kernel::kOutputs> builders;
        ArrayData struct_rows;
        struct_rows.kind = Kind::Struct;
        const auto bounds = Kernel::bounds();
        rows::RunOutput<Kernel::kOutputs> out = [&]<std::size_t... I>(std::index_sequence<I...>) {
            return rows::RunOutput<Kernel::kOutputs>{
                {*builders[I].run(run.length, bounds[I].of(bytes, static_cast<std::size_t>(run.length)))...},
                Kernel::kOutputs > 1 ? std::optional<ValidityRun>(std::in_place, struct_rows, run.length)
                                     : std::nullopt};
        }(std::make_index_sequence<Kernel::kOutputs>());
        auto failure = rows::run_plain<Kernel, std::int32_t>(run, 0, run.length, out, true);
        benchmark::DoNotOptimize(failure);
        for (StringBuilder& builder : builders) {
            auto chunk = builder.finish();
            benchmark::DoNotOptimize(chunk->data.data());
        }
    }
    state.SetItemsProcessed(state.iterations() * names->count());
}

// The bytes each output's answers take over the names, as the loop writes them.
template <class Kernel>
std::array<std::size_t, Kernel::kOutputs> answer_bytes(const Names& names) {
    const OffsetRun run = names.run();
    std::array<Sink, Kernel::kOutputs> sinks{};
    for (std::int64_t r = 0; r < run.length; ++r) {
        const auto start = run.offset<std::int32_t>(r);
        const std::string_view text(run.data + start, static_cast<std::size_t>(run.offset<std::int32_t>(r + 1) - start));
        static_cast<void>(Kernel::row(text, sinks.data()));
    }
    std::array<std::size_t, Kernel::kOutputs> bytes{};
    for (std::size_t k = 0; k < Kernel::kOutputs; ++k) {
        bytes[k] = sinks[k].bytes;
    }
    return bytes;
}

// The result's memory alone: per output, a text block sized as the loop
// sizes it, filled with the answers' bytes, and the offsets written.
template <class Kernel>
void write_floor(benchmark::State& state, const Names* names) {
    const OffsetRun run = names->run();
    const auto input_bytes = static_cast<std::size_t>(run.bytes(0, run.length));
    const auto rows = static_cast<std::size_t>(run.length);
    const auto bounds = Kernel::bounds();
    const auto written = answer_bytes<Kernel>(*names);
    for (auto _ : state) {
        for (std::size_t k = 0; k < Kernel::kOutputs; ++k) {
            auto* text = static_cast<char*>(allocate_text_block(bounds[k].of(input_bytes, rows)));
            auto* offsets = static_cast<std::int32_t*>(allocate_text_block((rows + 1) * sizeof(std::int32_t)));
            std::memset(text, 'x', written[k]);
            for (std::size_t r = 0; r <= rows; ++r) {
                offsets[r] = static_cast<std::int32_t>(r);
            }
            benchmark::DoNotOptimize(text);
            benchmark::DoNotOptimize(offsets);
            free_text_block(offsets);
            free_text_block(text);
        }
    }
    state.SetItemsProcessed(state.iterations() * names->count());
}

template <class Kernel>
void register_pair(const char* function, const Names& names) {
    benchmark::RegisterBenchmark((std::string("kernel/") + function + "/" + names.label).c_str(),
                                 kernel_alone<Kernel>, &names)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("row_loop/") + function + "/" + names.label).c_str(),
                                 row_loop<Kernel>, &names)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("write_floor/") + function + "/" + names.label).c_str(),
                                 write_floor<Kernel>, &names)
        ->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
    static std::vector<Names> sets;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.starts_with("--names=")) {
            Names names;
            if (!read_names(std::string(arg.substr(8)), names)) {
                std::cerr << "cannot read " << arg.substr(8) << "\n";
                return 2;
            }
            sets.push_back(std::move(names));
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (sets.empty()) {
        std::cerr << "usage: row_loop_bench --names=FILE [--names=FILE...] [benchmark flags]\n";
        return 2;
    }
    for (const Names& names : sets) {
        register_pair<rows::ErrorKind>("vrn_error_kind", names);
        register_pair<rows::Canonicalize>("vrn_canonicalize", names);
        register_pair<rows::Service>("vrn_service", names);
        register_pair<rows::Fields>("vrn_fields", names);
        register_pair<rows::CedarEntityType>("vrn_cedar_entity_type", names);
        register_pair<rows::CedarEntityId>("vrn_cedar_entity_id", names);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
