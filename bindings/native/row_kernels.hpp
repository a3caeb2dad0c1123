// The kernel calls of the column functions, one row at a time, in one place.
//
// Each function looks at one row's texts, appends its answer to the row's
// output and returns nothing, or returns the error token and appends nothing
// (the caller then raises, or appends a null). The answers are exactly those
// of the per-call functions of veltrane_py_bindings: the same kernel calls on
// the same texts.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "arrow/string_builder.hpp"
#include "veltrane_kernel/uuid.hpp"
#include "veltrane_kernel/mint.hpp"
#include "veltrane_kernel/vrn.hpp"

namespace veltrane::native::rows {

using namespace veltrane::arrow;

using veltrane_kernel::MAX_VRN_LEN;
using veltrane_kernel::Uuid;
using veltrane_kernel::Vrn;
using veltrane_kernel::VrnView;

// Room for any rendering of a parsed name, on the stack.
using RenderBuffer = std::array<char, MAX_VRN_LEN>;

// nullopt: the row's answer was appended; otherwise the error token.
using Outcome = std::optional<std::string_view>;

// The parts of one row that the functions read.
struct RowCells {
    std::array<std::string_view, 5> texts{};  // the string inputs, in parameter order
    double number = 0.0;                       // mint_uuid7's unix_ms
};

inline void append_uuid(StringBuilder& out, const Uuid& uuid) {
    const Uuid::HyphenatedText text = uuid.to_hyphenated();
    out.append(std::string_view(text.data(), text.size()));
}

// vrn_error_kind: "" for a valid name, else its token; never fails.
inline Outcome error_kind(const RowCells& row, StringBuilder* out) {
    const auto parsed = VrnView::parse(row.texts[0]);
    out[0].append(parsed ? std::string_view() : parsed.error().kind());
    return std::nullopt;
}

// Parses the row's text and appends what `answer` makes of the parsed name.
// A parse allocates nothing: the fields are views into the row's text.
template <class Answer>
Outcome with_parsed(const RowCells& row, StringBuilder* out, Answer answer) {
    const auto parsed = VrnView::parse(row.texts[0]);
    if (!parsed) {
        return parsed.error().kind();
    }
    answer(*parsed, out);
    return std::nullopt;
}

inline Outcome canonicalize(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) {
        RenderBuffer buffer;
        o[0].append(std::string_view(buffer.data(), vrn.write_canonical(buffer.data())));
    });
}
inline Outcome service(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { o[0].append(vrn.service()); });
}
inline Outcome region(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { o[0].append(vrn.region()); });
}
inline void append_org(const VrnView& vrn, StringBuilder& out) {
    if (vrn.org()) {
        append_uuid(out, *vrn.org());
    } else {
        out.append(std::string_view());
    }
}
inline Outcome org(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { append_org(vrn, o[0]); });
}
inline Outcome resource_type(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { o[0].append(vrn.resource_type()); });
}
inline Outcome resource_id(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { append_uuid(o[0], vrn.resource_id()); });
}
inline Outcome cedar_entity_type(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) {
        RenderBuffer buffer;
        o[0].append(std::string_view(buffer.data(), vrn.write_cedar_entity_type(buffer.data())));
    });
}
inline Outcome cedar_entity_id(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) { append_uuid(o[0], vrn.resource_id()); });
}

// vrn_fields: one parse, five answers (the five field queries' results).
inline Outcome fields(const RowCells& row, StringBuilder* out) {
    return with_parsed(row, out, [](const VrnView& vrn, StringBuilder* o) {
        o[0].append(vrn.service());
        o[1].append(vrn.region());
        append_org(vrn, o[2]);
        o[3].append(vrn.resource_type());
        append_uuid(o[4], vrn.resource_id());
    });
}

inline Outcome build(const RowCells& row, StringBuilder* out) {
    const auto& t = row.texts;
    RenderBuffer buffer;
    const auto built = Vrn::build_into(t[0], t[1], t[2], t[3], t[4], buffer.data());
    if (!built) {
        return built.error().kind();
    }
    out[0].append(std::string_view(buffer.data(), *built));
    return std::nullopt;
}

// mint_uuid7(unix_ms, rand_hex): `number` is unix_ms, texts[1] is rand_hex.
inline Outcome mint_uuid7(const RowCells& row, StringBuilder* out) {
    const auto minted = Uuid::mint_v7(row.number, row.texts[1]);
    if (!minted) {
        return minted.error().kind();
    }
    append_uuid(out[0], *minted);
    return std::nullopt;
}

}  // namespace veltrane::native::rows
