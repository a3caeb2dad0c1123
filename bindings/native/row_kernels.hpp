// The kernel calls of the column functions, one row at a time, in one place.
//
// Each function looks at one row's texts, appends its answer to the row's
// output and returns nothing, or returns the error token and appends nothing
// (the caller then raises, or appends a null). The answers are those of
// answers/answers.hpp, as every other surface gives them.
//
// The functions of one text also run over a whole chunk that is a run of
// offsets (run_plain): an arrow::StringRun per output, room made once per
// chunk from how much text the answers can take at most (each function's
// bounds(), from the bytes of the input). Nothing here touches Python.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "answers/answers.hpp"
#include "arrow/string_builder.hpp"
#include "arrow/string_reader.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::native::rows {

using namespace veltrane::arrow;
using veltrane_kernel::Uuid;
using veltrane_kernel::VrnError;
using veltrane_kernel::VrnView;

// nullopt: the row's answer was appended; otherwise the error token.
using Outcome = std::optional<std::string_view>;

// The parts of one row that the functions read.
struct RowCells {
    std::array<std::string_view, 5> texts{};  // the string inputs, in parameter order
    double number = 0.0;                       // mint_uuid7's unix_ms
};

// The most text one output's answers take over a run: `per_text_byte` bytes
// for each byte of the input's text, plus `per_row` bytes a row.
struct AnswerBound {
    std::size_t per_text_byte = 0;
    std::size_t per_row = 0;

    [[nodiscard]] std::size_t of(std::size_t text_bytes, std::size_t rows) const noexcept {
        return per_text_byte * text_bytes + per_row * rows;
    }
};

// The bound of an answer about a parsed name. The canonical text is exactly
// as long as the name, the service, region and resource type are parts of
// it, the Cedar entity type is shorter than it ("Vlt::" and "::" against
// "vrn:vlt:", the colons, the '/' and the 36 bytes of the id); a UUID is
// Uuid::kTextLength bytes (or none, for an absent org). Any other answer fits
// in MAX_VRN_LEN.
constexpr AnswerBound bound_of(answers::Answer answer) noexcept {
    if (answer == &answers::canonical || answer == &answers::service || answer == &answers::region ||
        answer == &answers::resource_type || answer == &answers::cedar_entity_type) {
        return {1, 0};
    }
    if (answer == &answers::org || answer == &answers::resource_id || answer == &answers::cedar_entity_id) {
        return {0, Uuid::kTextLength};
    }
    return {0, veltrane_kernel::MAX_VRN_LEN};
}

// The longest of the eleven tokens.
inline std::size_t longest_token() noexcept {
    static const std::size_t longest = [] {
        std::size_t most = 0;
        for (const VrnError::Kind kind : VrnError::kCheckOrder) {
            most = std::max(most, VrnError(kind).kind().size());
        }
        return most;
    }();
    return longest;
}

// vrn_error_kind: "" for a valid name, else its token; never fails. The
// token is a view of the kernel's constant table, copied as it is.
struct ErrorKind {
    static constexpr std::size_t kOutputs = 1;

    template <class Out>
    static Outcome row(std::string_view text, Out* out) {
        out[0].append(answers::error_kind(text));
        return std::nullopt;
    }
    static Outcome row(const RowCells& cells, StringBuilder* out) { return row(cells.texts[0], out); }
    static std::array<AnswerBound, kOutputs> bounds() noexcept { return {{{0, longest_token()}}}; }
};

// Parses the row's text and appends the answers about it, one per output.
// A parse allocates nothing: the fields are views into the row's text.
template <answers::Answer... Answers>
struct Parsed {
    static constexpr std::size_t kOutputs = sizeof...(Answers);

    template <class Out>
    static Outcome row(std::string_view text, Out* out) {
        const auto vrn = VrnView::parse(text);
        if (!vrn) {
            return vrn.error().kind();
        }
        std::size_t k = 0;
        if constexpr (std::is_same_v<Out, StringRun>) {
            // A run has room for each row's answers (its bounds): each one is
            // rendered right where it goes, and only views are copied.
            ((out[k].append(Answers(*vrn, answers::Room{out[k].room()})), ++k), ...);
        } else {
            answers::Scratch scratch;
            ((out[k++].append(Answers(*vrn, scratch))), ...);
        }
        return std::nullopt;
    }
    static Outcome row(const RowCells& cells, StringBuilder* out) { return row(cells.texts[0], out); }
    static constexpr std::array<AnswerBound, kOutputs> bounds() noexcept { return {bound_of(Answers)...}; }
};

using Canonicalize = Parsed<answers::canonical>;
using Service = Parsed<answers::service>;
using Region = Parsed<answers::region>;
using Org = Parsed<answers::org>;
using ResourceType = Parsed<answers::resource_type>;
using ResourceId = Parsed<answers::resource_id>;
using CedarEntityType = Parsed<answers::cedar_entity_type>;
using CedarEntityId = Parsed<answers::cedar_entity_id>;

// vrn_fields: one parse, the five field answers, one per output column.
using Fields = Parsed<answers::kFields[0].answer, answers::kFields[1].answer, answers::kFields[2].answer,
                      answers::kFields[3].answer, answers::kFields[4].answer>;

// The functions of several inputs: row by row only.
struct Build {
    static constexpr std::size_t kOutputs = 1;

    static Outcome row(const RowCells& cells, StringBuilder* out) {
        answers::Scratch scratch;
        const auto built = answers::build(cells.texts, scratch);
        if (!built) {
            return built.error();
        }
        out[0].append(*built);
        return std::nullopt;
    }
};

// mint_uuid7(unix_ms, rand_hex): `number` is unix_ms, texts[1] is rand_hex.
struct MintUuid7 {
    static constexpr std::size_t kOutputs = 1;

    static Outcome row(const RowCells& cells, StringBuilder* out) {
        answers::Scratch scratch;
        const auto minted = answers::mint_uuid7(cells.number, cells.texts[1], scratch);
        if (!minted) {
            return minted.error();
        }
        out[0].append(*minted);
        return std::nullopt;
    }
};

// Whether a row function has the run form (one text in, its bounds known).
template <class Kernel>
concept RunKernel = requires { Kernel::bounds(); };

// Where a run over rows stopped: the row (counted from the run's first) and
// its token.
struct RowFailure {
    std::int64_t row = 0;
    std::string_view token;
};

// The outputs of a function as runs, one per output, and the validity of
// the struct of fields when there are several.
template <std::size_t N>
struct RunOutput {
    std::array<StringRun, N> outputs;
    std::optional<ValidityRun> struct_rows;

    void append_null() {
        const std::int64_t row = outputs[0].rows();
        for (StringRun& run : outputs) {
            run.append_null();
        }
        if (struct_rows) {
            struct_rows->set_null(row);
        }
    }
    void end() {
        const std::int64_t rows = outputs[0].rows();
        for (StringRun& run : outputs) {
            run.end();
        }
        if (struct_rows) {
            struct_rows->end(rows);
        }
    }
};

// One text input whose chunk is a run of offsets, with no null: each row's
// text read from two neighbouring offsets, its answers written into room
// made once for the whole run. Nothing else is done per row.
template <class Kernel, class Offset>
std::optional<RowFailure> run_plain(const OffsetRun& input, std::int64_t from, std::int64_t count,
                                    RunOutput<Kernel::kOutputs>& out, bool errors_null) noexcept {
    const char* const data = input.data;
    Offset start = input.offset<Offset>(from);
    for (std::int64_t r = 0; r < count; ++r) {
        const Offset end = input.offset<Offset>(from + r + 1);
        const std::string_view text(data + start, static_cast<std::size_t>(end - start));
        start = end;
        if (const Outcome failed = Kernel::row(text, out.outputs.data())) {
            if (!errors_null) {
                out.end();
                return RowFailure{r, *failed};
            }
            out.append_null();
        }
    }
    out.end();
    return std::nullopt;
}

}  // namespace veltrane::native::rows
