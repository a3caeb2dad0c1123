// The kernel calls of the column functions, one row at a time, in one place.
//
// Each function looks at one row's texts, appends its answer to the row's
// output and returns nothing, or returns the error token and appends nothing
// (the caller then raises, or appends a null). The answers are those of
// answers/answers.hpp, as every other surface gives them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "answers/answers.hpp"
#include "arrow/string_builder.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::native::rows {

using namespace veltrane::arrow;
using veltrane_kernel::VrnView;

// nullopt: the row's answer was appended; otherwise the error token.
using Outcome = std::optional<std::string_view>;

// The parts of one row that the functions read.
struct RowCells {
    std::array<std::string_view, 5> texts{};  // the string inputs, in parameter order
    double number = 0.0;                       // mint_uuid7's unix_ms
};

// vrn_error_kind: "" for a valid name, else its token; never fails.
inline Outcome error_kind(const RowCells& row, StringBuilder* out) {
    out[0].append(answers::error_kind(row.texts[0]));
    return std::nullopt;
}

// Parses the row's text and appends the answers about it, one per output.
// A parse allocates nothing: the fields are views into the row's text.
template <answers::Answer... Answers>
Outcome parsed(const RowCells& row, StringBuilder* out) {
    const auto vrn = VrnView::parse(row.texts[0]);
    if (!vrn) {
        return vrn.error().kind();
    }
    answers::Scratch scratch;
    std::size_t k = 0;
    ((out[k++].append(Answers(*vrn, scratch))), ...);
    return std::nullopt;
}

inline constexpr auto canonicalize = parsed<answers::canonical>;
inline constexpr auto service = parsed<answers::service>;
inline constexpr auto region = parsed<answers::region>;
inline constexpr auto org = parsed<answers::org>;
inline constexpr auto resource_type = parsed<answers::resource_type>;
inline constexpr auto resource_id = parsed<answers::resource_id>;
inline constexpr auto cedar_entity_type = parsed<answers::cedar_entity_type>;
inline constexpr auto cedar_entity_id = parsed<answers::cedar_entity_id>;

// vrn_fields: one parse, the five field answers, one per output column.
inline constexpr auto fields = parsed<answers::kFields[0].answer, answers::kFields[1].answer,
                                      answers::kFields[2].answer, answers::kFields[3].answer,
                                      answers::kFields[4].answer>;

inline Outcome build(const RowCells& row, StringBuilder* out) {
    answers::Scratch scratch;
    const auto built = answers::build(row.texts, scratch);
    if (!built) {
        return built.error();
    }
    out[0].append(*built);
    return std::nullopt;
}

// mint_uuid7(unix_ms, rand_hex): `number` is unix_ms, texts[1] is rand_hex.
inline Outcome mint_uuid7(const RowCells& row, StringBuilder* out) {
    answers::Scratch scratch;
    const auto minted = answers::mint_uuid7(row.number, row.texts[1], scratch);
    if (!minted) {
        return minted.error();
    }
    out[0].append(*minted);
    return std::nullopt;
}

}  // namespace veltrane::native::rows
