// The type of an imported Arrow column, read from its schema once the schema
// itself is known to be well formed: which layout of strings or numbers the
// readers walk, or what a TypeError says was found instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "arrow/arrow_abi.hpp"

namespace veltrane::arrow {

// Bit `index` of an LSB-first validity bitmap; a missing bitmap means valid.
[[nodiscard]] inline bool bit_is_set(const void* bitmap, std::int64_t index) noexcept {
    if (bitmap == nullptr) {
        return true;
    }
    const auto i = static_cast<std::uint64_t>(index);
    return ((static_cast<const std::uint8_t*>(bitmap)[i / 8] >> (i % 8)) & 1U) != 0;
}

// What is wrong with the structure of a schema (a missing format string, a
// negative child count, a missing child or children array, at any depth), or
// nothing: "a schema with no format string". Every other function here
// reads only schemas that passed it.
[[nodiscard]] std::optional<std::string> check_schema(const ArrowSchema& schema);

// "'l' (int64)", "a dictionary of 'u' (utf8) with 'i' (int32) indices": what
// a TypeError says it found.
[[nodiscard]] std::string describe_format(const ArrowSchema& schema);

// A table of one column (a stream of record batches, as from a DataFrame or
// a query result) is read as that column: the struct's only child.
[[nodiscard]] bool is_one_column_table(const ArrowSchema& schema) noexcept;

enum class ColumnKind : std::uint8_t { Strings, Numbers };
enum class StringEncoding : std::uint8_t { Utf8, LargeUtf8, View };
enum class NumberType : std::uint8_t { I8, U8, I16, U16, I32, U32, I64, U64, F16, F32, F64 };

// The shape of a column, read once from its schema.
struct ColumnLayout {
    ColumnKind kind = ColumnKind::Strings;
    bool table = false;                              // a one-column table: read the struct's child
    StringEncoding encoding = StringEncoding::Utf8;  // strings: of the values
    int index_bytes = 0;                             // strings: dictionary indices' width; 0 when plain
    bool index_signed = true;
    NumberType number = NumberType::F64;             // numbers
};

// The layout of a column of `kind` (strings: utf8, large_utf8 or string_view,
// possibly dictionary-encoded; numbers: any integer or float type), or, for
// anything else, describe_format's text of what was found.
[[nodiscard]] std::variant<ColumnLayout, std::string> column_layout(const ArrowSchema& schema, ColumnKind kind);

// The bytes of one element of the buffer a number or an index is read from.
[[nodiscard]] int number_bytes(NumberType type) noexcept;

}  // namespace veltrane::arrow
